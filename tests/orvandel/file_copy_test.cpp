#include "addin_test_support.h"
#include "file_copy.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;

namespace {

using addintest::ExitStatusInChild;
using addintest::TemporaryFiles;

// Each case in a fresh folder of its own, most copying its package folder to its bundle folder.
class FolderCopy : public testing::Test {
protected:
  bool CopyPackage() { return filecopy::CopyFolderUpdating(tree / "package", tree / "bundle", failure); }

  TempFolder tree{"orvandel-test-"};
  Failure failure;
};

TEST_F(FolderCopy, CreatesMissingReplacesOlderKeepsEqualNewerAndExtraFiles) {
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

  ASSERT_TRUE(filecopy::CopyFolderUpdating(source + "/", target + "/", failure)) << failure.path;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string copied = target + "/sub/" + c.name;
    EXPECT_EQ(ReadFile(copied), c.replaced ? std::string("package ") + c.name : "installed");
    // A copied file carries the package's time, so the next run compares package against package.
    EXPECT_EQ(ModifiedSeconds(copied), c.replaced ? 2000 : c.targetTime);
  }
  EXPECT_EQ(ReadFile(target + "/extra.txt"), "host's own");
  EXPECT_EQ(TemporaryFiles(target), std::vector<std::string>{});
}

TEST_F(FolderCopy, NewerPackageDatedBeforeTheLastInstallIsInstalled) {
  const std::string source = tree / "package";
  const std::string target = tree / "bundle";
  WriteFile(source + "/strings.xml", "version 1", 1000000000);
  ASSERT_TRUE(filecopy::CopyFolderUpdating(source, target, failure));

  // The next package's files are dated after the first package but long before today's install.
  WriteFile(source + "/strings.xml", "version 2", 1100000000);
  ASSERT_TRUE(filecopy::CopyFolderUpdating(source, target, failure));

  EXPECT_EQ(ReadFile(target + "/strings.xml"), "version 2");
}

TEST_F(FolderCopy, PreservesPermissionBits) {
  WriteFile(tree / "package/run.sh", "#!/bin/sh\n");
  fs::permissions(tree / "package/run.sh", fs::perms(0750));

  ASSERT_TRUE(CopyPackage()) << failure.path;

  EXPECT_EQ(fs::status(tree / "bundle/run.sh").permissions() & fs::perms::mask, fs::perms(0750));
}

// A link where a file goes, to a file of someone else's or dangling: the link is what gets replaced.
TEST_F(FolderCopy, LinkAtTheTargetIsReplacedAndItsPointeeUntouched) {
  WriteFile(tree / "package/strings.xml", "package", 2000);
  WriteFile(tree / "elsewhere/victim.xml", "not ours", 1000);
  fs::create_directories(tree / "bundle");
  for (const char* pointee : {"elsewhere/victim.xml", "nowhere"}) {
    SCOPED_TRACE(pointee);
    fs::remove(tree / "bundle/strings.xml");
    fs::create_symlink(tree / pointee, tree / "bundle/strings.xml");

    ASSERT_TRUE(CopyPackage()) << failure.path;

    EXPECT_FALSE(fs::is_symlink(tree / "bundle/strings.xml"));
    EXPECT_EQ(ReadFile(tree / "bundle/strings.xml"), "package");
    EXPECT_EQ(ReadFile(tree / "elsewhere/victim.xml"), "not ours");
  }
}

TEST_F(FolderCopy, FollowsLinksInTheSource) {
  WriteFile(tree / "shared/common.xml", "common");
  WriteFile(tree / "shared/dir/inner.xml", "inner");
  fs::create_directories(tree / "package");
  fs::create_symlink(tree / "shared/common.xml", tree / "package/common.xml");
  fs::create_directory_symlink(tree / "shared/dir", tree / "package/dir");

  ASSERT_TRUE(CopyPackage()) << failure.path;

  EXPECT_FALSE(fs::is_symlink(tree / "bundle/common.xml"));
  EXPECT_EQ(ReadFile(tree / "bundle/common.xml"), "common");
  EXPECT_FALSE(fs::is_symlink(tree / "bundle/dir"));
  EXPECT_EQ(ReadFile(tree / "bundle/dir/inner.xml"), "inner");
}

TEST_F(FolderCopy, SourceLinkBackIntoItsOwnFolderIsReportedNotFollowed) {
  WriteFile(tree / "package/sub/file.txt", "x");
  fs::create_directory_symlink(tree / "package", tree / "package/sub/loop");

  EXPECT_FALSE(CopyPackage());

  EXPECT_EQ(failure.code, filecopy::CopyError::linkLoop);
  EXPECT_EQ(failure.path, tree / "package/sub/loop");
}

TEST_F(FolderCopy, ErrorsNameThePathThatFailed) {
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
    EXPECT_FALSE(filecopy::CopyFolderUpdating(c.source, c.target, failure));
    EXPECT_EQ(failure.code, c.code);
    EXPECT_EQ(failure.path, c.named);
  }
}

TEST_F(FolderCopy, CopyThatFailsHalfwayLeavesTheOldTargetIntact) {
  WriteFile(tree / "package/big.bin", std::string(1 << 20, 'n'), 2000);
  WriteFile(tree / "bundle/big.bin", "old contents", 1000);

  // A file-size limit makes the write fail after the first 64 KiB, as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limited = saved;
  limited.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool copied = CopyPackage();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);

  EXPECT_FALSE(copied);
  EXPECT_EQ(failure.code, std::errc::file_too_large);
  EXPECT_EQ(failure.path, tree / "package/big.bin");
  EXPECT_EQ(failure.target, tree / "bundle/big.bin");
  EXPECT_EQ(ReadFile(tree / "bundle/big.bin"), "old contents");
  EXPECT_EQ(TemporaryFiles(tree / "bundle"), std::vector<std::string>{});
}

TEST_F(FolderCopy, CopyAskedToEndStopsBeforeItsNextFileWithEveryEarlierOneWhole) {
  for (const char* name : {"a/1.txt", "a/2.txt", "b/3.txt", "b/4.txt"})
    WriteFile(tree / ("package/" + std::string(name)), std::string(4096, 'p'));
  int asked = 0;
  EXPECT_FALSE(filecopy::CopyFolderUpdating(tree / "package", tree / "bundle", failure, "", nullptr,
                                            [&] { return ++asked <= 3; }));
  EXPECT_EQ(failure.code, filecopy::CopyError::stopped);
  EXPECT_EQ(asked, 4);
  int whole = 0;
  for (const auto& entry : fs::recursive_directory_iterator(tree / "bundle"))
    whole += entry.is_regular_file() && fs::file_size(entry.path()) == 4096 ? 1 : 0;
  EXPECT_EQ(whole, 3);
  EXPECT_EQ(TemporaryFiles(tree / "bundle"), std::vector<std::string>{});
}

TEST_F(FolderCopy, ReadOnlyTargetFolderGivesAnErrorNamingTheFile) {
  WriteFile(tree / "package/strings.xml", "package", 2000);
  WriteFile(tree / "bundle/strings.xml", "old", 1000);
  fs::permissions(tree.path(), fs::perms(0755));
  fs::permissions(tree / "bundle", fs::perms(0555));

  // Exit codes: 0 the expected error, 1 no error, 2 another error, 3 the old file changed.
  const int result = ExitStatusInChild(
      [&] {
        if (CopyPackage())
          return 1;
        if (failure.code != std::errc::permission_denied || failure.target != tree / "bundle/strings.xml")
          return 2;
        return ReadFile(tree / "bundle/strings.xml") == "old" ? 0 : 3;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(result, 0);
}

// The copy holds a bounded number of descriptors whatever the depth of the package: under a low limit
// (in a child, whose limit ends with it) a deep tree is copied whole.
TEST_F(FolderCopy, DeepTreeIsCopiedUnderALowDescriptorLimit) {
  std::string deep;
  for (int level = 0; level < 60; ++level)
    deep += "/d" + std::to_string(level);
  WriteFile(tree / ("package" + deep + "/deepest.txt"), "deep");
  WriteFile(tree / "package/d0/d1/beside.txt", "beside");

  const int status = ExitStatusInChild([&] {
    const rlimit limited{24, 24};
    if (setrlimit(RLIMIT_NOFILE, &limited) != 0)
      return 2;
    return CopyPackage() ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "1: the copy failed; 2: no limit could be set";
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
  Failure failure;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = tree / (std::string("help/") + c.name + ".html");
    if (c.targetTime)
      WriteFile(target, "czech", c.targetTime);
    ASSERT_TRUE(filecopy::CopyFileUpdating(tree / "help/en-html.html", target, failure));
    EXPECT_EQ(ReadFile(target), c.expected);
  }
}

} // namespace
