// The Mac's side of the platform layer through each way the Darwin calls can fail (the shim's
// switches, darwin_shim.cpp), and the file copy on top of it.
#include "file_copy.h"
#include "install_record.h"
#include "loopback_https.h"
#include "platform.h"
#include "start_counter.h"
#include "temp_folder.h"
#include "temporary_file.h"
#include "test_files.h"
#include "update/http_fetch.h"
#include "update/update_client.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// Sets a shim switch for the length of a scope; an empty value leaves it unset.
class Switch {
public:
  Switch(const char* name, const std::string& value) : m_name(name) {
    if (!value.empty())
      setenv(name, value.c_str(), 1);
  }
  ~Switch() { unsetenv(m_name); }
  Switch(const Switch&) = delete;
  Switch& operator=(const Switch&) = delete;

private:
  const char* m_name;
};

// The errno of a CopyFileUpdating that fails; 0 when it succeeds.
int CopyError(const std::string& source, const std::string& target) {
  Failure failure;
  return filecopy::CopyFileUpdating(source, target, failure) ? 0 : failure.code.value();
}

class DarwinPlatform : public testing::Test {
protected:
  // The calls the shim recorded (DARWIN_SHIM_RECORD) since the test began, a line each.
  std::vector<std::string> Recorded() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(m_record));
    for (std::string line; std::getline(text, line);)
      lines.push_back(line);
    return lines;
  }

  TempFolder m_folder{"darwin-platform-" + CurrentTestName() + "-"};
  const std::string m_record = m_folder / "shim-record";
  const Switch m_recording{"DARWIN_SHIM_RECORD", m_record};
};

TEST_F(DarwinPlatform, CopyClonesAndFallsBackOnlyWhereDarwinRefusesAClone) {
  const struct {
    const char* clone; // DARWIN_SHIM_CLONE_ERROR
    const char* copy;  // DARWIN_SHIM_FCOPYFILE_ERROR
    int cloneResult;   // CloneFileAt
    int copyResult;    // the file copy's errno, 0 for a copied file
  } cases[] = {
      // The copy's data call failing shows that a successful clone is the whole copy.
      {"", "EIO", 0, 0},
      {"ENOTSUP", "", ENOTSUP, 0},
      {"EXDEV", "", EXDEV, 0},
      // What some file systems answer instead of ENOTSUP: the same refusal for callers.
      {"EINVAL", "", ENOTSUP, 0},
      {"ENOTSUP", "EIO", ENOTSUP, EIO},
      // A name taken meanwhile: another name is tried, and when every one is taken the copy fails.
      {"EEXIST:1", "", 0, 0},
      {"EEXIST", "", EEXIST, EEXIST},
      {"ENOSPC", "", ENOSPC, ENOSPC},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("clone ") + c.clone + ", fcopyfile " + c.copy);
    const std::string folder = m_folder / std::to_string(&c - cases);
    const std::string source = folder + "/package/file.txt";
    WriteFile(source, "Čeština", 2000);
    ASSERT_EQ(chmod(source.c_str(), 0640), 0);
    const std::string target = folder + "/bundle/file.txt";
    WriteFile(target, "older", 1000);
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);

    const Switch clone("DARWIN_SHIM_CLONE_ERROR", c.clone);
    const Switch copy("DARWIN_SHIM_FCOPYFILE_ERROR", c.copy);
    if (std::strchr(c.clone, ':') == nullptr) {
      const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
      const int out = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ASSERT_TRUE(in >= 0 && out >= 0);
      // A clone holds the whole file, wherever the source descriptor stands.
      ASSERT_EQ(lseek(in, 3, SEEK_SET), 3);
      EXPECT_EQ(CloneFileAt(in, out, "clone.txt"), c.cloneResult);
      EXPECT_EQ(ReadFile(folder + "/clone.txt"), c.cloneResult == 0 ? "Čeština" : "<missing>");
      close(in);
      close(out);
    }

    EXPECT_EQ(CopyError(source, target), c.copyResult);
    const bool copied = c.copyResult == 0;
    EXPECT_EQ(ReadFile(target), copied ? "Čeština" : "older");
    struct stat status {};
    ASSERT_EQ(stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, copied ? 0640u : 0600u);
    EXPECT_EQ(ModifiedSeconds(target), copied ? 2000 : 1000);
    EXPECT_EQ(Entries(folder + "/bundle"), std::vector<std::string>{"file.txt"})
        << "a temporary file is left";
  }
}

TEST_F(DarwinPlatform, FlushFallsBackToFsyncWhereTheFullFlushIsRefused) {
  for (const char* refusal : {"", "ENOTSUP", "ENOTTY", "EINVAL"}) {
    SCOPED_TRACE(refusal);
    const Switch fullFlush("DARWIN_SHIM_FULLFSYNC_ERROR", refusal);
    const std::string target = m_folder / (std::string("flushed") + refusal);
    TemporaryFile file = TemporaryFile::CreateBeside(target);
    ASSERT_TRUE(file.valid());
    ASSERT_EQ(write(file.fd(), "data", 4), 4);
    EXPECT_EQ(FlushToStorage(file.fd()), 0);
    EXPECT_EQ(file.commit(/*durable=*/true), 0);
    EXPECT_EQ(ReadFile(target), "data");
  }
  // A descriptor fsync cannot flush either is an error, not a success.
  const Switch fullFlush("DARWIN_SHIM_FULLFSYNC_ERROR", "ENOTSUP");
  EXPECT_EQ(FlushToStorage(-1), EBADF);
}

// A durable write asks the drive to empty its cache (F_FULLFSYNC) for the file and for the folder that
// names it: fsync alone leaves both in the cache on a Mac.
TEST_F(DarwinPlatform, DurableWritesAskForTheFullFlushOfFileAndFolder) {
  const std::string folder = m_folder / "writes";
  std::filesystem::create_directories(folder);
  const struct {
    const char* what;
    std::string target;
    std::function<bool(const std::string&)> write;
  } writes[] = {
      {"install record", folder + "/install.record",
       [](const std::string& path) {
         Failure failure;
         return installrecord::WriteInstallRecord(path, installrecord::InstallRecord{}, failure);
       }},
      {"start counter", folder + "/Miravelo_Info.txt",
       [](const std::string& path) { return miravelo::AutoOpenPaletteAt(path) == 0; }},
  };
  for (const auto& write : writes) {
    SCOPED_TRACE(write.what);
    std::filesystem::remove(m_record);
    ASSERT_TRUE(write.write(write.target));
    const std::vector<std::string> recorded = Recorded();
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), "F_FULLFSYNC " + folder), 1);
    // The file was flushed under its temporary name, before the rename.
    EXPECT_EQ(std::count_if(
                  recorded.begin(), recorded.end(),
                  [&](const std::string& line) { return line.rfind("F_FULLFSYNC " + folder + "/", 0) == 0; }),
              1)
        << testing::PrintToString(recorded);
  }
}

// The downloaded package is flushed past the drive's cache under its temporary name, on the worker,
// before the rename that places it: the package the user is told of is on the storage.
TEST_F(DarwinPlatform, DownloadedPackageAsksTheFullFlushBeforeItIsPlaced) {
  loopback::Server server(loopback::Certificate::Trusted);
  server.Answer("/p.pkg", "xar!package", "application/octet-stream");
  ASSERT_TRUE(server.Start());
  const Switch ca("HOSTSIM_CA_FILE", loopback::TestCaFile());
  ASSERT_TRUE(UpdateClientStart());
  const std::string folder = m_folder / "Downloads";
  std::filesystem::create_directories(folder);
  const std::string target = folder + "/Orvandel-installer.pkg";
  std::filesystem::remove(m_record);

  FileFetch fetch = FetchFileUnplaced(server.Origin() + "/p.pkg", target, nullptr, nullptr);
  ASSERT_TRUE(fetch.ok()) << DescribeFileFetch(fetch);
  const std::vector<std::string> recorded = Recorded();
  EXPECT_EQ(std::count_if(recorded.begin(), recorded.end(),
                          [&](const std::string& line) {
                            return line.rfind("F_FULLFSYNC " + folder + "/.Orvandel-installer.pkg.", 0) == 0;
                          }),
            1)
      << testing::PrintToString(recorded);
  PlaceFetchedFile(fetch);
  EXPECT_EQ(ReadFile(target), "xar!package");
  UpdateClientStop();
}

TEST_F(DarwinPlatform, QuarantineAttributeIsWrittenOrItsRefusalReported) {
  const std::string marked = m_folder / "marked.pkg";
  WriteFile(marked, "xar!");
  EXPECT_EQ(MarkAsDownloaded(marked, "Orvandel"), 0);
  EXPECT_EQ(QuarantineAttribute(marked).substr(0, 5), "0081;");
  // Gatekeeper reads this name and no other.
  EXPECT_EQ(Recorded(), std::vector<std::string>{"setxattr com.apple.quarantine " + marked});

  // A Mac's attributes have no namespaces: any name is accepted and read back as given, those Linux
  // would take for an unknown namespace included.
  for (const char* name : {"nosuchnamespace.quarantine", "org.example.note", "quarantine"}) {
    SCOPED_TRACE(name);
    const Switch attribute("HOSTSIM_QUARANTINE_ATTRIBUTE", name);
    const std::string file = m_folder / (std::string(name) + ".pkg");
    WriteFile(file, "xar!");
    EXPECT_EQ(MarkAsDownloaded(file, "Orvandel"), 0);
    EXPECT_EQ(QuarantineAttribute(file).substr(0, 5), "0081;");
  }

  const std::string refused = m_folder / "refused.pkg";
  WriteFile(refused, "xar!");
  const Switch noAttributes("DARWIN_SHIM_SETXATTR_ERROR", "ENOTSUP");
  EXPECT_EQ(MarkAsDownloaded(refused, "Orvandel"), ENOTSUP);
  EXPECT_EQ(QuarantineAttribute(refused), "");
}

} // namespace
