// The real language add-in in hostsim, offered a new version by a server that ends its answers with a
// line end, downloading a package of 900 MiB over the previous one of the same size: the question names
// the version, the dialog's last state names the whole package, and no call into the add-in holds the
// host's main thread for 250 ms, the placing of the package included.
//
// QUORLEX_LARGE_PACKAGE_MIB sets the size (0 skips the test); the test is skipped where the temporary
// folder's file system has no room for both packages three times over.
#include "hostsim_run.h"
#include "loopback_https.h"
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr long long kMainThreadLimitUs = 250 * 1000;
constexpr std::uint64_t kMiB = 1024 * 1024;

std::uint64_t PackageMiB() {
  const char* size = std::getenv("QUORLEX_LARGE_PACKAGE_MIB");
  return size && *size ? std::strtoull(size, nullptr, 10) : 900;
}

// The previous package: its blocks allocated on the disk as a finished download's are, so that the
// rename that replaces it frees as much as it would in use, but made without writing them.
bool AllocateFile(const std::filesystem::path& path, std::uint64_t bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  const bool made = ::write(fd, "xar!", 4) == 4 && ::posix_fallocate(fd, 0, static_cast<off_t>(bytes)) == 0 &&
                    ::fsync(fd) == 0;
  return ::close(fd) == 0 && made;
}

TEST(LargePackage, ReplacingThePreviousPackageNeverHoldsTheHost) {
  const std::uint64_t bytes = PackageMiB() * kMiB;
  if (bytes == 0)
    GTEST_SKIP() << "QUORLEX_LARGE_PACKAGE_MIB=0";
  TempFolder folder("large-package-");
  struct statvfs space {};
  if (::statvfs(folder.path().c_str(), &space) != 0 ||
      static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize < 3 * 2 * bytes)
    GTEST_SKIP() << "no room for two packages of " << PackageMiB() << " MiB";

  loopback::Server server(loopback::Certificate::Trusted);
  server.Answer("/_sys_/updverC.asp", "Zandrelmac|17|2.5\n");
  server.server().Get("/dl_file.asp", [&server](const httplib::Request&, httplib::Response& response) {
    response.set_content("URL=" + server.Origin() + "/download/Orvandel-2.5.pkg\n", "text/plain");
  });
  server.server().Get(
      "/download/Orvandel-2.5.pkg", [bytes](const httplib::Request&, httplib::Response& response) {
        static const std::string block = "xar!" + std::string(256 * 1024 - 4, 'n');
        response.set_content_provider(bytes, "application/octet-stream",
                                      [](size_t, size_t length, httplib::DataSink& sink) {
                                        return sink.write(block.data(), std::min(length, block.size()));
                                      });
      });
  ASSERT_TRUE(server.Start());

  const std::filesystem::path downloads = folder / "mac/Users/user/Downloads";
  std::filesystem::create_directories(downloads);
  const std::filesystem::path target = downloads / "Orvandel-installer.pkg";
  ASSERT_TRUE(AllocateFile(target, bytes));

  WriteFile(folder / "script.txt", "load Orvandel\nonline\nwaitfor \"(CheckNewVersion) end function\" 20\n"
                                   "answer yes\nclick newVerAddIn\n"
                                   "waitfor \"najdete v Downloads\" 600\nunload Orvandel\n");
  const hostsim::ProgramResult result = hostsim::RunProgram(
      {HOSTSIM_EXE, "--root", folder / "mac", "--server", server.Origin(), "--cafile", loopback::TestCaFile(),
       "--timings", "--jsonl", "--script", folder / "script.txt", ORVANDEL_ADDIN_DIR});
  const HostsimRun run = ReadHostsimRun(result);
  ASSERT_EQ(run.exit, 0) << run.err << "last line: " << (run.lines.empty() ? "" : run.lines.back());

  // The offer read without its line end, in the question and in the log.
  EXPECT_TRUE(run.Printed("K dispozici je nová verze České lokalizace 2.5\\n"));
  EXPECT_TRUE(run.Printed("(CheckNewVersion) server ver: 2.5\""));
  EXPECT_EQ(std::filesystem::file_size(target), bytes);
  std::ifstream placed(target, std::ios::binary);
  char start[5] = {};
  placed.read(start, sizeof start);
  EXPECT_EQ(std::string(start, 5), "xar!n"); // the new package, not the previous one
  EXPECT_EQ(Entries(downloads), std::vector<std::string>{"Orvandel-installer.pkg"});

  // The dialog's last state before it goes shows the whole package.
  const std::string whole = std::to_string(PackageMiB()) + ",0 MB";
  const auto hidden = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& line) {
    return line.find(R"("event":"progress_hidden")") != std::string::npos;
  });
  ASSERT_NE(hidden, run.lines.begin());
  ASSERT_NE(hidden, run.lines.end());
  EXPECT_NE((hidden - 1)->find(R"("event":"progress")"), std::string::npos) << *(hidden - 1);
  EXPECT_NE((hidden - 1)->find(": " + whole + "\""), std::string::npos) << *(hidden - 1);
  EXPECT_NE((hidden - 1)->find(R"("value":100)"), std::string::npos) << *(hidden - 1);

  EXPECT_LT(run.longestUs, kMainThreadLimitUs) << "longest call: " << run.longestWhat;
  for (const long long stopUs : run.stopUs)
    EXPECT_LT(stopUs, kMainThreadLimitUs) << "stop";
  std::printf("%llu MiB over the previous package: main thread held at most %.1f ms (%s)\n",
              static_cast<unsigned long long>(PackageMiB()), static_cast<double>(run.longestUs) / 1000.0,
              run.longestWhat.c_str());
}

} // namespace
