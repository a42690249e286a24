// The shared routines and the platform layer of the simulation build.
#include "platform.h"
#include "product_constants.h"
#include "temp_folder.h"
#include "test_files.h"
#include "utilities.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace fs = std::filesystem;

namespace {

class SharedOnDisk : public ::testing::Test {
protected:
  const TempFolder m_folder{"shared_test_" + CurrentTestName() + "_"};
  const std::string m_dir = m_folder.path();
};

// Output of a program started with execv from exactly the given path (no shell, no PATH search).
std::string OutputOf(const std::string& program) {
  int fds[2];
  if (pipe(fds) != 0)
    return "<pipe failed>";
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    execv(program.c_str(), argv);
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    out.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return out;
}

TEST_F(SharedOnDisk, ExecutableDirectoryIsTheFolderAsStartedWithoutLengthLimit) {
  const std::string name = "print_executable_directory";
  // A path far beyond 512 bytes, built through a symbolic link that must not be resolved.
  std::string deep = m_dir + "/real";
  for (int i = 0; i < 12; ++i)
    deep += "/folder_with_a_rather_long_name_number_" + std::to_string(i) + "_ěščřžýáíé";
  fs::create_directories(deep);
  fs::copy_file(PRINT_EXECUTABLE_DIRECTORY, deep + "/" + name);
  fs::create_directory_symlink(m_dir + "/real", m_dir + "/link");
  const std::string viaLink = m_dir + "/link" + deep.substr((m_dir + "/real").size());
  ASSERT_GT(viaLink.size(), 600u);

  EXPECT_EQ(OutputOf(deep + "/" + name), deep);
  EXPECT_EQ(OutputOf(viaLink + "/" + name), viaLink);

  // "." and ".." stay as they were given.
  fs::copy_file(PRINT_EXECUTABLE_DIRECTORY, m_dir + "/real/" + name);
  EXPECT_EQ(OutputOf(m_dir + "/link/../real/" + name), m_dir + "/link/../real");
}

TEST(WideText, Utf8OfCzechTextsAndReplacementOfNonCharacters) {
  const struct {
    std::wstring text;
    std::string utf8;
  } cases[] = {
      {L"", ""},
      {L"č", "\xC4\x8D"},
      {L"Nová verze České lokalizace", "Nov\xC3\xA1 verze \xC4\x8C"
                                       "esk\xC3\xA9 lokalizace"},
      {L"Aktivace CZ", "Aktivace CZ"},
      {std::wstring(1, static_cast<wchar_t>(0x7F)), "\x7F"},
      {std::wstring(1, static_cast<wchar_t>(0x80)), "\xC2\x80"},
      {std::wstring(1, static_cast<wchar_t>(0x7FF)), "\xDF\xBF"},
      {std::wstring(1, static_cast<wchar_t>(0x800)), "\xE0\xA0\x80"},
      {std::wstring(1, static_cast<wchar_t>(0xFFFF)), "\xEF\xBF\xBF"},
      {std::wstring(1, static_cast<wchar_t>(0x10000)), "\xF0\x90\x80\x80"},
      {std::wstring(1, static_cast<wchar_t>(0x10FFFF)), "\xF4\x8F\xBF\xBF"},
      // No Unicode scalar value: surrogates and values past U+10FFFF become U+FFFD.
      {std::wstring(1, static_cast<wchar_t>(0xD800)), "\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(0xDFFF)), "\xEF\xBF\xBD"},
      {L"a" + std::wstring(1, static_cast<wchar_t>(0x110000)) + L"b", "a\xEF\xBF\xBD"
                                                                      "b"},
      {std::wstring(1, static_cast<wchar_t>(-1)), "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(ws2s(c.text), c.utf8);
    EXPECT_EQ(Wstr2Str(c.text), c.utf8);
  }
}

TEST(AddinLocation, FolderBelowTheFirstAutodesk) {
  const std::string tail = "Autodesk/Autodesk Fusion 360/API/AddIns/Orvandel";
  const struct {
    const char* path;
    std::string location;
  } cases[] = {
      {"/Users/u/Library/Application Support/Autodesk/webdeploy/production/x/Autodesk "
       "Fusion.app/Contents/MacOS",
       "/Users/u/Library/Application Support/" + tail},
      // The first occurrence counts, even inside a folder name higher up.
      {"/Users/AutodeskFan/Library/Application Support/Autodesk/webdeploy", "/Users/" + tail},
      {"Autodesk", tail},
      {"/Users/u/Library/Application Support/autodesk/webdeploy", ""}, // case matters
      {"/Users/u/Library", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(AddinLocationFor(c.path, "Orvandel"), c.location);
  }
  EXPECT_EQ(AddinLocationFor("/a/Autodesk/b", "Miravelo"),
            "/a/Autodesk/Autodesk Fusion 360/API/AddIns/Miravelo");
}

// Each test of this group runs in a process of its own (gtest_discover_tests), so the environment is
// its own too. The maker's origin is written out here: a wrong constant must not pass as itself.
TEST_F(SharedOnDisk, SimulationOverridesFollowTheEnvironment) {
  const std::string makerOrigin = "https://www.quorlex.cz";
  unsetenv("HOSTSIM_MAC_ROOT");
  unsetenv("HOSTSIM_SERVER_BASE_URL");
  unsetenv("HOSTSIM_CA_FILE");
  EXPECT_EQ(SystemPath("/Library/Vornid"), "/Library/Vornid");
  EXPECT_EQ(ServerBaseUrl(), makerOrigin);
  EXPECT_EQ(ServerCaFile(), "");

  setenv("HOSTSIM_MAC_ROOT", m_dir.c_str(), 1);
  setenv("HOSTSIM_SERVER_BASE_URL", "https://127.0.0.1:4443", 1);
  setenv("HOSTSIM_CA_FILE", "/tmp/ca.pem", 1);
#ifdef HOSTSIM
  EXPECT_EQ(SystemPath("/Library/Vornid"), m_dir + "/Library/Vornid");
  EXPECT_EQ(ServerBaseUrl(), "https://127.0.0.1:4443");
  EXPECT_EQ(ServerCaFile(), "/tmp/ca.pem");
#else
  // A release build carries no overrides.
  EXPECT_EQ(SystemPath("/Library/Vornid"), "/Library/Vornid");
  EXPECT_EQ(ServerBaseUrl(), makerOrigin);
  EXPECT_EQ(ServerCaFile(), "");
#endif

  setenv("HOME", m_dir.c_str(), 1);
  EXPECT_EQ(HomeFolder(), m_dir);
  // An empty or missing HOME falls back to the user database, which knows the account running this.
  for (const bool empty : {true, false}) {
    SCOPED_TRACE(empty ? "HOME empty" : "HOME unset");
    if (empty)
      setenv("HOME", "", 1);
    else
      unsetenv("HOME");
    EXPECT_FALSE(HomeFolder().empty());
    EXPECT_EQ(HomeFolder().front(), '/');
  }
}

#ifdef HOSTSIM
TEST_F(SharedOnDisk, BrowserOpenerGetsTheAddressAsOneArgumentWithoutAShell) {
  const std::string opener = m_dir + "/opener";
  const std::string record = m_dir + "/record";
  WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record + "'\n");
  fs::permissions(opener, fs::perms::owner_all);
  setenv("HOSTSIM_OPENER", opener.c_str(), 1);

  const std::string address = "https://example.invalid/p?a=1&b=$(touch " + m_dir + "/pwned);c 'd\"";
  EXPECT_TRUE(OpenInBrowser(address));
  std::ifstream in(record);
  std::string count, received;
  std::getline(in, count);
  std::getline(in, received);
  EXPECT_EQ(count, "1");
  EXPECT_EQ(received, address);
  EXPECT_FALSE(fs::exists(m_dir + "/pwned"));

  setenv("HOSTSIM_OPENER", (m_dir + "/no_such_opener").c_str(), 1);
  EXPECT_FALSE(OpenInBrowser("https://example.invalid/"));
}
#endif

} // namespace
