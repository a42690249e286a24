#include "file_copy.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

// The filesystem error that work throws; fails the test when it throws none.
fs::filesystem_error CaughtError(const std::function<void()>& work) {
  try {
    work();
  } catch (const fs::filesystem_error& error) {
    return error;
  }
  ADD_FAILURE() << "no filesystem error";
  return fs::filesystem_error("none", std::error_code());
}

// Temporary files left behind (the shared helper's names end in ".qxtmp").
int TemporaryFilesIn(const std::string& folder) {
  int count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 6 && name.compare(name.size() - 6, 6, ".qxtmp") == 0)
      ++count;
  }
  return count;
}

TEST(FolderCopy, CreatesMissingReplacesOlderKeepsEqualNewerAndExtraFiles) {
  TempFolder tree{"orvandel-test-"};
  const std::string source = tree / "package";
  const std::string target = tree / "bundle";
  struct Case {
    const char* name;
    std::time_t targetTime; // 0: no target file
    bool replaced;
  };
  const Case cases[] = {
      {"missing.txt", 0, true},
      {"older.txt", 1000, true},
      {"equal.txt", 2000, false},
      {"newer.txt", 3000, false},
  };
  for (const Case& c : cases) {
    WriteFile(source + "/sub/" + c.name, std::string("package ") + c.name, 2000);
    if (c.targetTime)
      WriteFile(target + "/sub/" + c.name, "installed", c.targetTime);
  }
  WriteFile(target + "/extra.txt", "host's own");

  filecopy::CopyFolderUpdating(source + "/", target + "/");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copied = target + "/sub/" + c.name;
    EXPECT_EQ(ReadFile(copied), c.replaced ? std::string("package ") + c.name : "installed");
    // A copied file carries the package's time, so the next run compares package against package.
    EXPECT_EQ(ModifiedSeconds(copied), c.replaced ? 2000 : c.targetTime);
  }
  EXPECT_EQ(ReadFile(target + "/extra.txt"), "host's own");
  EXPECT_EQ(TemporaryFilesIn(target), 0);
}

TEST(FolderCopy, NewerPackageDatedBeforeTheLastInstallIsInstalled) {
  TempFolder tree{"orvandel-test-"};
  const std::string source = tree / "package";
  const std::string target = tree / "bundle";
  WriteFile(source + "/strings.xml", "version 1", 1000000000);
  filecopy::CopyFolderUpdating(source, target);

  // The next package's files are dated after the first package but long before today's install.
  WriteFile(source + "/strings.xml", "version 2", 1100000000);
  filecopy::CopyFolderUpdating(source, target);

  EXPECT_EQ(ReadFile(target + "/strings.xml"), "version 2");
}

TEST(FolderCopy, PreservesPermissionBits) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/run.sh", "#!/bin/sh\n");
  fs::permissions(tree / "package/run.sh", fs::perms(0750));

  filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");

  EXPECT_EQ(fs::status(tree / "bundle/run.sh").permissions() & fs::perms::mask, fs::perms(0750));
}

TEST(FolderCopy, LinkAtTheTargetIsReplacedAndItsPointeeUntouched) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/strings.xml", "package", 2000);
  WriteFile(tree / "elsewhere/victim.xml", "not ours", 1000);
  WriteFile(tree / "bundle/placeholder", "");
  fs::create_symlink(tree / "elsewhere/victim.xml", tree / "bundle/strings.xml");

  filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");

  EXPECT_FALSE(fs::is_symlink(tree / "bundle/strings.xml"));
  EXPECT_EQ(ReadFile(tree / "bundle/strings.xml"), "package");
  EXPECT_EQ(ReadFile(tree / "elsewhere/victim.xml"), "not ours");
}

TEST(FolderCopy, DanglingLinkAtTheTargetIsReplaced) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/strings.xml", "package");
  fs::create_directories(tree / "bundle");
  fs::create_symlink(tree / "nowhere", tree / "bundle/strings.xml");

  filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");

  EXPECT_FALSE(fs::is_symlink(tree / "bundle/strings.xml"));
  EXPECT_EQ(ReadFile(tree / "bundle/strings.xml"), "package");
}

TEST(FolderCopy, FollowsLinksInTheSource) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "shared/common.xml", "common");
  WriteFile(tree / "shared/dir/inner.xml", "inner");
  fs::create_directories(tree / "package");
  fs::create_symlink(tree / "shared/common.xml", tree / "package/common.xml");
  fs::create_directory_symlink(tree / "shared/dir", tree / "package/dir");

  filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");

  EXPECT_FALSE(fs::is_symlink(tree / "bundle/common.xml"));
  EXPECT_EQ(ReadFile(tree / "bundle/common.xml"), "common");
  EXPECT_FALSE(fs::is_symlink(tree / "bundle/dir"));
  EXPECT_EQ(ReadFile(tree / "bundle/dir/inner.xml"), "inner");
}

TEST(FolderCopy, SourceLinkBackIntoItsOwnFolderIsReportedNotFollowed) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/sub/file.txt", "x");
  fs::create_directory_symlink(tree / "package", tree / "package/sub/loop");

  const auto error = CaughtError([&] { filecopy::CopyFolderUpdating(tree / "package", tree / "bundle"); });

  EXPECT_EQ(error.code(), filecopy::CopyError::linkLoop);
  EXPECT_EQ(error.path1(), tree / "package/sub/loop");
}

TEST(FolderCopy, ErrorsNameThePathThatFailed) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/a.txt", "a");
  WriteFile(tree / "not-a-folder", "");
  struct Case {
    const char* name;
    std::string source;
    std::string target;
    std::errc code;
    std::string named;
  };
  const Case cases[] = {
      {"missing source", tree / "absent", tree / "bundle", std::errc::no_such_file_or_directory,
       tree / "absent"},
      {"target parent missing", tree / "package", tree / "no/bundle", std::errc::no_such_file_or_directory,
       tree / "no/bundle"},
      {"target is a file", tree / "package", tree / "not-a-folder", std::errc::not_a_directory,
       tree / "not-a-folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto error = CaughtError([&] { filecopy::CopyFolderUpdating(c.source, c.target); });
    EXPECT_EQ(error.code(), c.code);
    EXPECT_EQ(error.path1(), c.named);
  }
}

TEST(FolderCopy, CopyThatFailsHalfwayLeavesTheOldTargetIntact) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/big.bin", std::string(1 << 20, 'n'), 2000);
  WriteFile(tree / "bundle/big.bin", "old contents", 1000);

  // A file-size limit makes the write fail after the first 64 KiB, as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const auto error = CaughtError([&] { filecopy::CopyFolderUpdating(tree / "package", tree / "bundle"); });
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);

  EXPECT_EQ(error.code(), std::errc::file_too_large);
  EXPECT_EQ(error.path1(), tree / "package/big.bin");
  EXPECT_EQ(error.path2(), tree / "bundle/big.bin");
  EXPECT_EQ(ReadFile(tree / "bundle/big.bin"), "old contents");
  EXPECT_EQ(TemporaryFilesIn(tree / "bundle"), 0);
}

// Runs work as an unprivileged user (in a child process when this one is root, whom permissions do not
// stop) and returns its exit status.
int RunUnprivileged(const std::function<int()>& work) {
  if (geteuid() != 0)
    return work();
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      _exit(99);
    _exit(work());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(FolderCopy, ReadOnlyTargetFolderGivesAnErrorNamingTheFile) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "package/strings.xml", "package", 2000);
  WriteFile(tree / "bundle/strings.xml", "old", 1000);
  fs::permissions(tree.path(), fs::perms(0755));
  fs::permissions(tree / "bundle", fs::perms(0555));

  // Exit codes: 0 the expected error, 1 no error, 2 another error, 3 the old file changed.
  const int result = RunUnprivileged([&] {
    try {
      filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");
      return 1;
    } catch (const fs::filesystem_error& error) {
      if (error.code() != std::errc::permission_denied || error.path2() != tree / "bundle/strings.xml")
        return 2;
    }
    return ReadFile(tree / "bundle/strings.xml") == "old" ? 0 : 3;
  });
  EXPECT_EQ(result, 0);
}

// The copy holds a bounded number of descriptors whatever the depth of the package: under a low limit
// (in a child, whose limit ends with it) a deep tree is copied whole.
TEST(FolderCopy, DeepTreeIsCopiedUnderALowDescriptorLimit) {
  TempFolder tree{"orvandel-test-"};
  std::string deep;
  for (int level = 0; level < 60; ++level)
    deep += "/d" + std::to_string(level);
  WriteFile(tree / ("package" + deep + "/deepest.txt"), "deep");
  WriteFile(tree / "package/d0/d1/beside.txt", "beside");

  const pid_t child = fork();
  if (child == 0) {
    const rlimit limited{24, 24};
    if (setrlimit(RLIMIT_NOFILE, &limited) != 0)
      _exit(2);
    try {
      filecopy::CopyFolderUpdating(tree / "package", tree / "bundle");
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(ReadFile(tree / ("bundle" + deep + "/deepest.txt")), "deep");
  EXPECT_EQ(ReadFile(tree / "bundle/d0/d1/beside.txt"), "beside");
}

TEST(SingleFileCopy, FollowsTheUpdateRule) {
  TempFolder tree{"orvandel-test-"};
  WriteFile(tree / "help/en-html.html", "english", 2000);
  struct Case {
    const char* name;
    std::time_t targetTime;
    const char* expected;
  };
  const Case cases[] = {{"missing", 0, "english"},
                        {"older", 1000, "english"},
                        {"equal", 2000, "czech"},
                        {"newer", 3000, "czech"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = tree / (std::string("help/") + c.name + ".html");
    if (c.targetTime)
      WriteFile(target, "czech", c.targetTime);
    filecopy::CopyFileUpdating(tree / "help/en-html.html", target);
    EXPECT_EQ(ReadFile(target), c.expected);
  }
}

} // namespace
