// Installs a generated package of 10,000 files (about 280 MB) with the installer's folder copy and
// compares its time with cp -R into an empty target, and with cp -Ru and rsync -r --update into a
// target that is up to date, on the same tree in the same run. Then installs the same package as the
// add-in does, on the worker bridge's thread into a host bundle of the in-memory host, with its install
// record, and reports the longest call into the add-in on the host's main thread beside the copy time.
//
// Usage: installer_bench [WORK_DIR]   (default: a fresh folder under the system's temporary folder)
#include "file_copy.h"
#include "host_support.h"
#include "installer.h"
#include "worker_bridge.h"

#include <hostsim/control.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kTopFolders = 4;
constexpr int kSubFolders = 25;
constexpr int kFilesPerFolder = 100;
constexpr std::uint64_t kTargetBytes = 280ull * 1000 * 1000;

// Lays out the package and returns its size in bytes. Sizes vary from a few hundred bytes to about
// 110 KB around a mean of 28 KB, as translation tables and help pages do.
std::uint64_t GeneratePackage(const std::string& root) {
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  constexpr int kFiles = kTopFolders * kSubFolders * kFilesPerFolder;
  const std::uint64_t mean = kTargetBytes / kFiles;
  std::vector<char> buffer(4 * mean);
  for (char& byte : buffer)
    byte = static_cast<char>('a' + next() % 26);

  std::uint64_t total = 0;
  for (int top = 0; top < kTopFolders; ++top) {
    for (int sub = 0; sub < kSubFolders; ++sub) {
      const std::string folder = root + "/part" + std::to_string(top) + "/section" + std::to_string(sub);
      fs::create_directories(folder);
      for (int file = 0; file < kFilesPerFolder; ++file) {
        const std::uint64_t size = 200 + next() % (2 * mean - 400); // uniform, mean `mean`
        const std::uint64_t offset = next() % (buffer.size() - size);
        std::ofstream(folder + "/strings" + std::to_string(file) + ".xml", std::ios::binary)
            .write(buffer.data() + offset, static_cast<std::streamsize>(size));
        total += size;
      }
    }
  }
  return total;
}

void Run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + command[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(command[0] + " failed");
}

double Seconds(const std::function<void()>& work) {
  sync(); // earlier writes are not charged to this measurement
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Contender {
  std::function<void()> prepare; // untimed, before each run
  std::function<void()> work;
};

// Medians over rounds; every round runs each contender once, in alternating order, so that the load
// of a shared machine falls on all of them alike.
std::vector<double> Measure(int rounds, const std::vector<Contender>& contenders) {
  std::vector<std::vector<double>> times(contenders.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < contenders.size(); ++k) {
      // Odd rounds run the contenders in reverse order.
      const size_t i = round % 2 == 0 ? k : contenders.size() - 1 - k;
      contenders[i].prepare();
      times[i].push_back(Seconds(contenders[i].work));
    }
  }
  std::vector<double> medians;
  for (const auto& runs : times)
    medians.push_back(Median(runs));
  return medians;
}

// The installer's folder copy; a failure ends the benchmark.
void CopyOrThrow(const std::string& source, const std::string& target) {
  Failure failure;
  if (!filecopy::CopyFolderUpdating(source, target, failure))
    throw std::runtime_error("the installer's copy failed: " + failure.path + ": " + failure.code.message());
}

std::uint64_t CountFiles(const std::string& root) {
  std::uint64_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    count += entry.is_regular_file() ? 1 : 0;
  return count;
}

void Report(const char* what, double ours, const char* tool, double theirs, double limit) {
  const double ratio = ours / theirs;
  std::printf("%-28s ours %7.3f s   %-18s %7.3f s   ratio %5.2f  (target <= %.1f: %s)\n", what, ours, tool,
              theirs, ratio, limit, ratio <= limit ? "met" : "MISSED");
}

struct BridgedRun {
  double seconds = 0;
  double longestCallMs = 0;
};

// One installation of the package as the package's CAM translations, started through the bridge as the
// add-in starts it; every delivery of the host's custom events (the add-in's handler on the main
// thread) is timed.
BridgedRun InstallThroughTheBridge(const std::string& work, const std::string& package) {
  const std::string home = work + "/home";
  const std::string production = home + "/Library/Application Support/Autodesk/webdeploy/production/";
  const std::string translations =
      production + "Autodesk Fusion.app/Contents/Libraries/Applications/CAM360/Data/Translations";
  fs::remove_all(home);
  fs::create_directories(translations);
  fs::create_directories(production + "b1/Autodesk Fusion.app/Contents/MacOS");
  const std::string packageRoot = work + "/vornid";
  if (!fs::exists(packageRoot + "/vornidca")) {
    fs::create_directories(packageRoot);
    fs::create_directory_symlink(package, packageRoot + "/vornidca");
  }
  // The install record in an add-in folder beside the home, as on a Mac: every batch of files is on it,
  // flushed, before the batch lands.
  const std::string addin = work + "/addin";
  fs::remove_all(addin);
  fs::create_directories(addin);
  const InstallPlaces places{packageRoot, home, production + "b1/Autodesk Fusion.app/Contents/MacOS",
                             addin + "/Orvandel_InstallRecord.txt"};

  hostsim::ResetHost();
  orvandel::app = adsk::core::Application::get();
  orvandel::ui = orvandel::app->userInterface();
  sync();
  BridgedRun run;
  const auto start = std::chrono::steady_clock::now();
  if (!workerbridge::Start(
          "InstallerBench",
          [&places](workerbridge::JobContext& context) {
            InstallCzechFiles(false, places, context, InstallHooks());
          },
          nullptr))
    throw std::runtime_error("the bridge started no worker");
  while (workerbridge::Running("InstallerBench")) {
    hostsim::WaitForCustomEvents(std::chrono::milliseconds(10));
    const auto call = std::chrono::steady_clock::now();
    hostsim::DeliverCustomEvents();
    run.longestCallMs =
        std::max(run.longestCallMs,
                 std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - call).count());
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  workerbridge::StopWorkers(std::chrono::milliseconds(2000));
  orvandel::ui = nullptr;
  orvandel::app = nullptr;
  if (CountFiles(translations) != CountFiles(package))
    throw std::runtime_error("the installation through the bridge is incomplete");
  return run;
}

int Main(int argc, char** argv) {
  const bool ownWork = argc < 2;
  std::string work =
      ownWork ? (fs::temp_directory_path() / ("installer-bench-" + std::to_string(getpid()))).string()
              : std::string(argv[1]);
  fs::create_directories(work);
  const std::string package = work + "/package";
  const std::string ours = work + "/ours";
  const std::string cpTarget = work + "/cp";
  const std::string rsyncTarget = work + "/rsync";

  std::printf("generating the package in %s ...\n", package.c_str());
  fs::remove_all(package);
  const std::uint64_t bytes = GeneratePackage(package);
  const std::uint64_t files = CountFiles(package);
  std::printf("package: %llu files, %.1f MB\n", static_cast<unsigned long long>(files),
              static_cast<double>(bytes) / 1e6);

  constexpr int kColdRuns = 5;
  constexpr int kWarmRuns = 9;
  const auto clear = [](const std::string& path) { return [path] { fs::remove_all(path); }; };
  const auto nothing = [] {};

  const auto cold = Measure(
      kColdRuns, {{clear(ours), [&] { CopyOrThrow(package, ours); }}, {clear(cpTarget), [&] {
                                                                         Run({"cp", "-R", package, cpTarget});
                                                                       }}});
  if (CountFiles(ours) != files)
    throw std::runtime_error("the installer's copy is incomplete");

  Run({"rsync", "-r", package + "/", rsyncTarget + "/"});
  const auto warm = Measure(kWarmRuns, {{nothing, [&] { CopyOrThrow(package, ours); }},
                                        {nothing,
                                         [&] {
                                           Run({"cp", "-Ru", package + "/.", cpTarget + "/"});
                                         }},
                                        {nothing, [&] {
                                           Run({"rsync", "-r", "--update", package + "/", rsyncTarget + "/"});
                                         }}});
  const double oursCold = cold[0], cpCold = cold[1];
  const double oursWarm = warm[0], cpWarm = warm[1], rsyncWarm = warm[2];

  std::printf("\nmedian of %d cold and %d warm runs\n", kColdRuns, kWarmRuns);
  Report("cold (empty target)", oursCold, "cp -R", cpCold, 1.0);
  Report("warm (target up to date)", oursWarm, "cp -Ru", cpWarm, 1.0);
  Report("warm (target up to date)", oursWarm, "rsync -r --update", rsyncWarm, 0.5);

  constexpr int kBridgedRuns = 3;
  std::vector<double> seconds;
  std::vector<double> longest;
  for (int round = 0; round < kBridgedRuns; ++round) {
    const BridgedRun run = InstallThroughTheBridge(work, package);
    seconds.push_back(run.seconds);
    longest.push_back(run.longestCallMs);
  }
  std::printf("\ninstallation on the worker (empty target, median of %d): %7.3f s, longest main-thread call "
              "%.1f ms (limit 250 ms: %s)\n",
              kBridgedRuns, Median(seconds), *std::max_element(longest.begin(), longest.end()),
              *std::max_element(longest.begin(), longest.end()) < 250 ? "met" : "MISSED");

  if (ownWork)
    fs::remove_all(work);
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "installer_bench: %s\n", error.what());
    return 1;
  } catch (...) {
    std::fprintf(stderr, "installer_bench: unknown error\n");
    return 1;
  }
}
