// Downloads 1 GiB from a loopback HTTPS server with FetchFileUnplaced and with the curl command-line tool
// followed by `sync FILE` (FetchFileUnplaced flushes the package to the storage) in the same run, each in a
// process of its own, and prints the throughput ratio and the peak memory of each next to that of an
// idle process (the same program with libcurl initialised, no transfer). Then
// downloads the package once more over a previous one of the same size and times its placing, the
// step the add-in runs on the host's main thread: the rename alone, the data already on the storage.
//
// Usage: download_bench [--mib N] [--runs N] [WORK_DIR]
//   --mib N   size of the download in MiB (default 1024)
//   --runs N  transfers per client; the fastest counts (default 3)
// Targets: at least 0.9 of curl's throughput; peak memory at most 10 MiB above the idle process; the
// placing under 250 ms.
#include "loopback_https.h"
#include "temporary_file.h"
#include "update/http_fetch.h"
#include "update/update_client.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Run {
  bool ok = false;
  double seconds = 0;
  long peakKiB = 0;
};

// Runs argv[0] with argv (PATH searched), waits, and measures wall time and the child's peak RSS.
Run Measure(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  Run run;
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    return run;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child)
    return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

int ChildFetch(const std::string& url, const std::string& target) {
  if (!UpdateClientStart())
    return 3;
  FileFetch fetch = FetchFileUnplaced(url, target, nullptr, nullptr);
  PlaceFetchedFile(fetch);
  UpdateClientStop();
  if (!fetch.ok()) {
    std::fprintf(stderr, "fetch: %s\n", DescribeFileFetch(fetch).c_str());
    return 1;
  }
  return 0;
}

int ChildIdle() {
  if (!UpdateClientStart())
    return 3;
  UpdateClientStop();
  return 0;
}

// Places a download of url over a previous package of the same size at target, as the add-in does:
// the transfer and its flush first, then the rename. The rename's time in milliseconds; negative when
// either step failed.
double PlacingMs(const std::string& url, const std::string& target, std::size_t size) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const bool previous =
      fd >= 0 && ::posix_fallocate(fd, 0, static_cast<off_t>(size)) == 0 && ::fsync(fd) == 0;
  if (fd >= 0)
    ::close(fd);
  if (!previous || !UpdateClientStart())
    return -1;
  FileFetch fetch = FetchFileUnplaced(url, target, nullptr, nullptr);
  UpdateClientStop();
  if (!fetch.ok()) {
    std::fprintf(stderr, "fetch: %s\n", DescribeFileFetch(fetch).c_str());
    return -1;
  }
  const auto start = std::chrono::steady_clock::now();
  PlaceFetchedFile(fetch);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::error_code ignored;
  fs::remove(target, ignored);
  return fetch.ok() ? ms : -1;
}

void Report(const char* name, const Run& run, double mib) {
  std::printf("%-10s %8.2f s  %8.1f MiB/s  peak %7.1f MiB\n", name, run.seconds, mib / run.seconds,
              static_cast<double>(run.peakKiB) / 1024.0);
}

} // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string(argv[1]) == "--child-fetch")
      return ChildFetch(argv[2], argv[3]);
    if (argc == 2 && std::string(argv[1]) == "--child-idle")
      return ChildIdle();

    long mib = 1024;
    int runs = 3;
    std::string work;
    for (int i = 1; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "--mib" && i + 1 < argc)
        mib = std::atol(argv[++i]);
      else if (option == "--runs" && i + 1 < argc)
        runs = std::atoi(argv[++i]);
      else if (!option.empty() && option[0] != '-')
        work = option;
      else {
        std::fprintf(stderr, "usage: download_bench [--mib N] [--runs N] [WORK_DIR]\n");
        return 2;
      }
    }
    if (mib <= 0 || runs <= 0) {
      std::fprintf(stderr, "download_bench: --mib and --runs take positive numbers\n");
      return 2;
    }
    const bool ownWork = work.empty();
    if (ownWork) {
      work = MakeTemporaryFolder("download-bench-");
      if (work.empty()) {
        std::perror("download_bench: mkdtemp");
        return 1;
      }
    }

    const std::size_t total = static_cast<std::size_t>(mib) * 1024 * 1024;
    // An installer package as the client accepts it: it begins with "xar!".
    static const std::string first = "xar!" + std::string(256 * 1024 - 4, 'Q');
    static const std::string block(256 * 1024, 'Q');
    loopback::Server server(loopback::Certificate::Trusted);
    server.server().Get("/big.pkg", [total](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(total, "application/octet-stream",
                                    [](size_t offset, size_t length, httplib::DataSink& sink) {
                                      const std::string& bytes = offset == 0 ? first : block;
                                      return sink.write(bytes.data(), std::min(length, bytes.size()));
                                    });
    });
    if (!server.Start()) {
      std::fprintf(stderr, "download_bench: cannot start the loopback server\n");
      return 1;
    }
    const std::string url = server.Origin() + "/big.pkg";
    const std::string ca = loopback::TestCaFile();
    ::setenv("HOSTSIM_CA_FILE", ca.c_str(), 1);
    const std::string self = "/proc/self/exe";
    const std::string program = fs::canonical(self).string();

    const Run idle = Measure({program, "--child-idle"});
    if (!idle.ok) {
      std::fprintf(stderr, "download_bench: the idle process failed\n");
      return 1;
    }
    Run best[2];
    for (int run = 0; run < runs; ++run) {
      // Alternate the order so that neither client always meets a warm or a cold page cache.
      for (int k = 0; k < 2; ++k) {
        const int client = (run + k) % 2;
        const std::string target = work + (client == 0 ? "/fetchfile.pkg" : "/curl.pkg");
        Run result = client == 0 ? Measure({program, "--child-fetch", url, target})
                                 : Measure({"curl", "--silent", "--show-error", "--fail", "--cacert", ca,
                                            "--output", target, url});
        // FetchFileUnplaced brings the package onto the storage before it returns; curl's file is flushed
        // after.
        if (client == 1 && result.ok) {
          const Run flush = Measure({"sync", target});
          result.ok = flush.ok;
          result.seconds += flush.seconds;
        }
        std::error_code ignored;
        const auto size = fs::file_size(target, ignored);
        fs::remove(target, ignored);
        if (!result.ok || size != total) {
          std::fprintf(stderr, "download_bench: %s failed\n", client == 0 ? "FetchFileUnplaced" : "curl");
          return 1;
        }
        if (best[client].seconds == 0 || result.seconds < best[client].seconds)
          best[client] = result;
      }
    }
    const double placing = PlacingMs(url, work + "/placed.pkg", total);
    if (placing < 0) {
      std::fprintf(stderr, "download_bench: the placing run failed\n");
      return 1;
    }
    if (ownWork)
      fs::remove_all(work);

    std::printf("download of %ld MiB over loopback HTTPS, best of %d\n", mib, runs);
    Report("FetchFileUnplaced", best[0], static_cast<double>(mib));
    Report("curl", best[1], static_cast<double>(mib));
    std::printf("%-10s %8s    %8s        peak %7.1f MiB\n", "idle", "", "",
                static_cast<double>(idle.peakKiB) / 1024.0);
    const double ratio = best[1].seconds / best[0].seconds;
    const double extra = static_cast<double>(best[0].peakKiB - idle.peakKiB) / 1024.0;
    std::printf("throughput FetchFileUnplaced/curl: %.2f (target >= 0.90) %s\n", ratio,
                ratio >= 0.9 ? "ok" : "BELOW");
    std::printf("FetchFileUnplaced peak above idle: %.1f MiB (target <= 10) %s\n", extra,
                extra <= 10.0 ? "ok" : "ABOVE");
    std::printf("placing over the previous package: %.1f ms (target < 250) %s\n", placing,
                placing < 250.0 ? "ok" : "ABOVE");
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "download_bench: %s\n", error.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "download_bench: unknown error\n");
    return 1;
  }
}
