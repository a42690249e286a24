#include "file.h"

#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

class FileOnDisk : public ::testing::Test {
protected:
  const TempFolder m_folder{"file_test_" + CurrentTestName() + "_"};
  const std::string m_dir = m_folder.path();
};

} // namespace

TEST_F(FileOnDisk, EveryKindOfEntry) {
  const std::string file = m_dir + "/file.txt";
  const std::string folder = m_dir + "/folder";
  const std::string dangling = m_dir + "/dangling";
  const std::string linkToFolder = m_dir + "/link_to_folder";
  const std::string fifo = m_dir + "/fifo";
  WriteFile(file, "x");
  fs::create_directory(folder);
  fs::create_symlink(m_dir + "/missing", dangling);
  fs::create_directory_symlink(folder, linkToFolder);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    bool exists;
    bool directory;
    EntryType lstatType;
    EntryType statType;
  } cases[] = {
      {file, true, false, EntryType::kRegularFile, EntryType::kRegularFile},
      {folder, true, true, EntryType::kFolder, EntryType::kFolder},
      {folder + "/", true, true, EntryType::kFolder, EntryType::kFolder},
      {dangling, false, false, EntryType::kLink, EntryType::kMissing}, // links are followed
      {linkToFolder, true, true, EntryType::kLink, EntryType::kFolder},
      {fifo, true, false, EntryType::kOther, EntryType::kOther},
      {m_dir + "/missing", false, false, EntryType::kMissing, EntryType::kMissing},
      {file + "/below", false, false, EntryType::kMissing, EntryType::kMissing},
      {"", false, false, EntryType::kMissing, EntryType::kMissing},
      {"Přehled ěščř.txt", false, false, EntryType::kMissing, EntryType::kMissing},
      {std::string(5000, 'a'), false, false, EntryType::kUnknown, EntryType::kUnknown}, // ENAMETOOLONG
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 200));
    EXPECT_EQ(FileExists(c.path), c.exists);
    EXPECT_EQ(DirectoryExists(c.path), c.directory);
    EXPECT_EQ(LstatType(c.path), c.lstatType);
    EXPECT_EQ(StatType(c.path), c.statType);
  }
}

TEST_F(FileOnDisk, ReadWholeFileWithinItsBound) {
  const std::string file = m_dir + "/file.txt";
  const std::string fifo = m_dir + "/fifo";
  const std::string link = m_dir + "/link";
  WriteFile(file, std::string(100, 'x') + '\0' + "end");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(file, link);
  const struct {
    const char* name;
    std::string path;
    std::size_t limit;
    std::error_code code; // none: read
  } cases[] = {
      {"within the bound", file, 1000, {}},
      {"exactly the bound", file, 104, {}},
      {"through a link", link, 104, {}},
      {"one byte over", file, 103, FileError::kTooLarge},
      {"empty bound", file, 0, FileError::kTooLarge},
      {"a folder", m_dir, 1000, FileError::kNotRegularFile},
      {"a pipe without a writer is not waited for", fifo, 1000, FileError::kNotRegularFile},
      {"missing", m_dir + "/missing", 1000, std::make_error_code(std::errc::no_such_file_or_directory)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string content = "before";
    Failure failure;
    EXPECT_EQ(ReadWholeFile(c.path, c.limit, content, failure), !c.code);
    EXPECT_EQ(failure.code, c.code) << failure.code.message();
    if (c.code) {
      EXPECT_EQ(content, "before");
      EXPECT_EQ(failure.path, c.path);
    } else {
      EXPECT_EQ(content, std::string(100, 'x') + '\0' + "end");
    }
  }
}

TEST_F(FileOnDisk, ListFolderByPathAndByDescriptor) {
  WriteFile(m_dir + "/list/a.txt", "a");
  WriteFile(m_dir + "/list/sub/b.txt", "b");
  fs::create_symlink(m_dir + "/missing", m_dir + "/list/dangling");
  const std::vector<std::string> expected = {"a.txt", "dangling", "sub"};

  std::vector<std::string> names;
  Failure failure;
  ASSERT_TRUE(ListFolder(m_dir + "/list", names, failure)) << failure.code.message();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, expected);

  // Twice through one descriptor: each listing starts at the beginning, and the descriptor stays open.
  const int fd = open((m_dir + "/list").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  for (int time = 0; time < 2; ++time) {
    names.clear();
    ASSERT_TRUE(ListFolder(fd, "list", names, failure)) << failure.code.message();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
  }
  EXPECT_EQ(fcntl(fd, F_GETFD), FD_CLOEXEC);
  close(fd);

  for (const std::string& notFolder : {m_dir + "/missing", m_dir + "/list/a.txt"}) {
    SCOPED_TRACE(notFolder);
    EXPECT_FALSE(ListFolder(notFolder, names, failure));
    EXPECT_EQ(failure.path, notFolder);
    EXPECT_TRUE(failure.code == std::errc::no_such_file_or_directory ||
                failure.code == std::errc::not_a_directory);
  }
}
