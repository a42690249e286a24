#include "start_counter.h"

#include "temp_folder.h"
#include "test_files.h"
#include "utilities.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

using miravelo::AutoOpenPaletteAt;

namespace {

class StartCounterTest : public ::testing::Test {
protected:
  TempFolder m_folder{"miravelo-test-"};
  const std::string m_info = m_folder.path() + "/Miravelo_Info.txt";
};

TEST_F(StartCounterTest, FirstStartCreatesDateAndCounterWithoutFinalLineFeed) {
  EXPECT_EQ(0, AutoOpenPaletteAt(m_info));
  const std::string content = ReadFile(m_info);
  EXPECT_TRUE(std::regex_match(content, std::regex(R"(\d\d\.\d\d\.\d{4}\n1)"))) << content;
  EXPECT_EQ(content, miravelo::datetime() + "\n1");
}

TEST_F(StartCounterTest, StartsInARowFromNoFile) {
  // The fourth start (3) is the last on which the palette opens by itself.
  for (std::int32_t expected = 0; expected < 6; ++expected)
    EXPECT_EQ(expected, AutoOpenPaletteAt(m_info));
  EXPECT_EQ(miravelo::datetime() + "\n6\n", ReadFile(m_info));
}

TEST_F(StartCounterTest, ExistingFiles) {
  struct Case {
    const char* name;
    const char* before;
    std::int32_t result;
    const char* after;
  };
  const Case cases[] = {
      {"counter 3", "07.12.2026\n3", 3, "07.12.2026\n4\n"},
      {"counter with line feed", "07.12.2026\n3\n", 3, "07.12.2026\n4\n"},
      {"letters", "07.12.2026\nabc\n", 0, "07.12.2026\n1\n"},
      {"empty counter line", "07.12.2026\n\n", 0, "07.12.2026\n1\n"},
      {"number then word", "07.12.2026\n7 word\n", 7, "07.12.2026\n8\n"},
      {"blanks and sign before the number", "07.12.2026\n  +5\n", 5, "07.12.2026\n6\n"},
      {"negative", "07.12.2026\n-5\n", -5, "07.12.2026\n-4\n"},
      {"third and later lines kept", "07.12.2026\n2\nnote\nlast", 2, "07.12.2026\n3\nnote\nlast\n"},
      // Each line keeps its carriage return; the new counter line has none.
      {"carriage returns", "07.12.2026\r\n3\r\nnote\r\n", 3, "07.12.2026\r\n4\nnote\r\n"},
      {"largest counter stays", "07.12.2026\n2147483647\n", 2147483647, "07.12.2026\n2147483647\n"},
      {"counter beyond 32 bits", "07.12.2026\n2147483648\n", 0, "07.12.2026\n1\n"},
      {"one line only", "07.12.2026\n", 0, "07.12.2026\n1\n"},
      {"empty file", "", 0, "1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(m_info, c.before);
    EXPECT_EQ(c.result, AutoOpenPaletteAt(m_info));
    EXPECT_EQ(c.after, ReadFile(m_info));
  }
}

TEST_F(StartCounterTest, EmptyFileOverThreeStarts) {
  WriteFile(m_info, "");
  EXPECT_EQ(0, AutoOpenPaletteAt(m_info));
  EXPECT_EQ("1\n", ReadFile(m_info));
  EXPECT_EQ(0, AutoOpenPaletteAt(m_info));
  EXPECT_EQ("1\n1\n", ReadFile(m_info));
  EXPECT_EQ(1, AutoOpenPaletteAt(m_info));
  EXPECT_EQ("1\n2\n", ReadFile(m_info));
}

TEST_F(StartCounterTest, UnreadableFileGivesMinusOneAndStaysAlone) {
  // A folder in the file's place exists but reads as nothing.
  ASSERT_EQ(0, mkdir(m_info.c_str(), 0755));
  EXPECT_EQ(-1, AutoOpenPaletteAt(m_info));
  EXPECT_TRUE(std::filesystem::is_directory(m_info));
  EXPECT_TRUE(std::filesystem::is_empty(m_info));
  // A pipe without a writer would block a plain open for reading, and with it the host.
  const std::string pipe = m_folder.path() + "/pipe";
  ASSERT_EQ(0, mkfifo(pipe.c_str(), 0644));
  EXPECT_EQ(-1, AutoOpenPaletteAt(pipe));
  // Far more than a counter: not read into the host's memory, and kept as it is.
  const std::string huge = "07.12.2026\n3\n" + std::string(2 * 1024 * 1024, 'x');
  WriteFile(m_info + ".huge", huge);
  EXPECT_EQ(-1, AutoOpenPaletteAt(m_info + ".huge"));
  EXPECT_EQ(ReadFile(m_info + ".huge"), huge);
}

TEST_F(StartCounterTest, MissingFolderCountsEveryStartAsTheFirst) {
  const std::string info = m_folder.path() + "/absent/Miravelo_Info.txt";
  EXPECT_EQ(0, AutoOpenPaletteAt(info));
  EXPECT_EQ(0, AutoOpenPaletteAt(info));
  EXPECT_FALSE(std::filesystem::exists(m_folder.path() + "/absent"));
}

TEST_F(StartCounterTest, TemporariesAreNeverReadAndOnlyThoseOfEndedStartsAreRemoved) {
  const std::string dead =
      m_folder.path() + "/.Miravelo_Info.txt." + std::to_string(ReapedProcessId()) + "-1.qxtmp";
  const std::string live = m_folder.path() + "/.Miravelo_Info.txt." + std::to_string(getppid()) + "-1.qxtmp";
  WriteFile(m_info, "07.12.2026\n3\n");
  WriteFile(dead, "07.12.2026\n99\n");
  WriteFile(live, "07.12.2026\n42\n");
  EXPECT_EQ(3, AutoOpenPaletteAt(m_info));
  EXPECT_EQ("07.12.2026\n4\n", ReadFile(m_info));
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_EQ("07.12.2026\n42\n", ReadFile(live));
}

TEST_F(StartCounterTest, FailedRewriteKeepsTheOldFile) {
  WriteFile(m_info, "07.12.2026\n3\n");
  // In a child that may open one descriptor more than it holds: the counter file can be read, but no
  // temporary file can be made beside it.
  const pid_t child = fork();
  if (child == 0) {
    const int lowest = dup(0);
    close(lowest);
    const rlimit limit{static_cast<rlim_t>(lowest + 1), static_cast<rlim_t>(lowest + 1)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
      _exit(2);
    _exit(AutoOpenPaletteAt(m_info) == 3 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("07.12.2026\n3\n", ReadFile(m_info));
  EXPECT_EQ(std::vector<std::string>{"Miravelo_Info.txt"}, Entries(m_folder.path()));
}

TEST_F(StartCounterTest, RewriteKeepsThePermissions) {
  WriteFile(m_info, "07.12.2026\n3\n");
  ASSERT_EQ(0, chmod(m_info.c_str(), 0640));
  AutoOpenPaletteAt(m_info);
  struct stat status {};
  ASSERT_EQ(0, stat(m_info.c_str(), &status));
  EXPECT_EQ(0640u, status.st_mode & 07777);
}

TEST(GuideAddinLocation, FollowsTheFirstAutodeskFolder) {
  EXPECT_EQ("/Users/u/Library/Application Support/Autodesk/Autodesk Fusion 360/API/AddIns/Miravelo",
            miravelo::SetAddinLocation("/Users/u/Library/Application Support/Autodesk/webdeploy/production/x/"
                                       "Autodesk Fusion.app/Contents/MacOS"));
  EXPECT_EQ("", miravelo::SetAddinLocation("/opt/host/bin"));
}

TEST(GuideAddinLocation, UnknownFolderCountsNothing) {
  if (GetExecutableDirectory().find("Autodesk") != std::string::npos)
    GTEST_SKIP() << "the test runs inside a host tree";
  EXPECT_EQ(-1, miravelo::AutoOpenPalette());
}

} // namespace
