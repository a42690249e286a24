// The real language add-in in hostsim installing a package of thousands of files: no call into the
// add-in holds the host's main thread for long, the run's lines come in their order, and a run that
// Cancel or an unload ends in the middle is completed by the next start.
#include "hostsim_run.h"
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr long long kMainThreadLimitUs = 250 * 1000;
constexpr long long kStopLimitUs = 2000 * 1000;
// The CAM translations of the package: kFolders folders of kFilesPerFolder files, beside the marker.
constexpr int kFolders = 30;
constexpr int kFilesPerFolder = 100;

const std::string kBundle =
    "Users/user/Library/Application Support/Autodesk/webdeploy/production/Autodesk Fusion.app";
const std::string kTranslations = kBundle + "/Contents/Libraries/Applications/CAM360/Data/Translations";
const std::string kRun = "QUORLEX: (CopyCzechFiles) ";

const std::vector<std::string> kFullRun = {
    "start ...",
    "source files with Orvandel  exists.",
    "delete old files.",
    "copy files for Fusion without CAM.",
    "copy QM files.",
    "set Orvandel in preferences.",
    "copy files for Fusion CAM.",
    "copy en-html.html to cz-html.html.",
    "copy dir en-html to cz-html",
    "copy picture of help do dir cz-html",
    "copy files for Help Fusion.",
    "finish successful",
};

// Scripts: the first start online, and "Aktivace CZ"; each waits for the run's end before the unload.
const std::string kFirstStart =
    "load Orvandel\nonline\nwaitfor \"(CheckNewVersion) start function\" 120\nunload Orvandel\n";
const std::string kActivation =
    "load Orvandel\nclick idCzButton\nwaitfor \"finish successful\" 120\nunload Orvandel\n";

// The installation's log lines, less their prefix.
std::vector<std::string> RunLog(const HostsimRun& run) {
  std::vector<std::string> lines;
  for (const std::string& line : run.log) {
    if (line.compare(0, kRun.size(), kRun) == 0)
      lines.push_back(line.substr(kRun.size()));
  }
  return lines;
}

class HostsimInstallTest : public ::testing::Test {
protected:
  // A fresh simulated Mac for the next case, holding the package.
  void NewMac(const std::string& name) {
    m_mac = m_folder / name;
    const std::string package = m_mac + "/Library/Vornid";
    WriteFile(package + "/vornidfu/cs-CZ/Neutron.xml", "czech strings");
    WriteFile(package + "/VornidQM/main_cs.qm", "czech qm");
    WriteFile(package + "/vornidhe/cz-html/obsah.html", "czech help");
    WriteFile(package + "/vornidca/czech_cz.xml", "czech cam");
    const std::string content(512, 'c');
    for (int folder = 0; folder < kFolders; ++folder) {
      const std::string path = package + "/vornidca/part" + std::to_string(folder);
      fs::create_directories(path);
      for (int file = 0; file < kFilesPerFolder; ++file)
        WriteFile(path + "/t" + std::to_string(file) + ".xml", content);
    }
  }

  // The package's CAM files that the bundle lacks.
  int MissingCamFiles() const {
    const std::string source = m_mac + "/Library/Vornid/vornidca";
    int missing = 0;
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
      if (entry.is_regular_file() &&
          !fs::is_regular_file(fs::path(m_mac) / kTranslations / fs::relative(entry.path(), source)))
        ++missing;
    }
    return missing;
  }
  bool MarkerInPlace() const { return fs::exists(m_mac + "/" + kTranslations + "/czech_cz.xml"); }

  // Runs hostsim with --timings and --jsonl on the script in the test's simulated Mac.
  HostsimRun Run(const std::string& script) const {
    WriteFile(m_folder / "script.txt", script);
    const hostsim::ProgramResult result =
        hostsim::RunProgram({HOSTSIM_EXE, "--root", m_mac, "--server", "https://127.0.0.1:9", "--timings",
                             "--jsonl", "--script", m_folder / "script.txt", ORVANDEL_ADDIN_DIR});
    return ReadHostsimRun(result);
  }

  // The checks every run shares: a clean exit, no call into the add-in over the limit and stop within
  // its own.
  static void ExpectResponsive(const HostsimRun& run, const char* name) {
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_FALSE(run.Printed(R"("event":"error")"));
    EXPECT_GE(run.longestUs, 0);
    EXPECT_LT(run.longestUs, kMainThreadLimitUs) << "longest call: " << run.longestWhat;
    // stop waits for the worker to end its file and save the install record durably: its limit is the
    // join's.
    for (const long long stopUs : run.stopUs)
      EXPECT_LT(stopUs, kStopLimitUs);
    std::printf("%-40s main thread held at most %.1f ms (%s), stop %.1f ms\n", name,
                static_cast<double>(run.longestUs) / 1000.0, run.longestWhat.c_str(),
                run.stopUs.empty() ? -1.0 : static_cast<double>(run.stopUs.back()) / 1000.0);
  }

  TempFolder m_folder{"hostsim-install-"};
  std::string m_mac;
};

TEST_F(HostsimInstallTest, WholeRunsNeverHoldTheMainThread) {
  struct Case {
    const char* name;
    std::string script;
    bool progress;
  };
  const Case cases[] = {
      {"first start online", kFirstStart, false},
      {"Aktivace CZ", kActivation, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    NewMac(test.name);
    const HostsimRun run = Run(test.script);
    ExpectResponsive(run, test.name);
    EXPECT_EQ(RunLog(run), kFullRun);
    EXPECT_EQ(MissingCamFiles(), 0);
    EXPECT_EQ(run.Printed(R"("event":"progress_shown")"), test.progress);
    EXPECT_EQ(run.Printed(R"("message":"Zkopírováno souborů: )"), test.progress);
    if (test.progress)
      EXPECT_TRUE(run.Printed(R"("event":"progress_hidden")"));
    else // The version check follows the installation's lines.
      EXPECT_LT(std::find(run.log.begin(), run.log.end(), kRun + kFullRun.back()),
                std::find(run.log.begin(), run.log.end(), "QUORLEX: (CheckNewVersion) start function"));
  }
}

// A run ended in the middle leaves no marker, so the next start completes it.
TEST_F(HostsimInstallTest, CancelOrUnloadInTheMiddleIsCompletedByTheNextStart) {
  struct Case {
    const char* name;
    std::string script;
    std::vector<std::string> runLog; // the last lines of the run
  };
  const Case cases[] = {
      // Cancel as the dialog appears: the run cannot pass the language, which waits for the main thread,
      // before the main thread has seen it.
      {"Cancel",
       "load Orvandel\nclick idCzButton\ncancel\nwaitfor \"installation cancelled\" 60\nunload Orvandel\n",
       {"installation cancelled; the next start completes it."}},
      // Unloaded as the CAM files begin: the lines the run made after it never reach the host.
      {"unload in the middle",
       "load Orvandel\nonline\nwaitfor \"set Orvandel in preferences.\" 60\nunload Orvandel\n",
       {"set Orvandel in preferences."}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    NewMac(test.name);
    const HostsimRun ended = Run(test.script);
    ExpectResponsive(ended, test.name);
    // The lines of the full run up to where it ended, then the case's own.
    const std::vector<std::string> endedLog = RunLog(ended);
    ASSERT_GE(endedLog.size(), test.runLog.size());
    const auto own = endedLog.end() - static_cast<std::ptrdiff_t>(test.runLog.size());
    EXPECT_TRUE(std::equal(endedLog.begin(), own, kFullRun.begin()));
    EXPECT_TRUE(std::equal(own, endedLog.end(), test.runLog.begin()));
    EXPECT_FALSE(ended.Printed("messagebox"));
    EXPECT_FALSE(MarkerInPlace());
    EXPECT_GT(MissingCamFiles(), 0);

    const HostsimRun next = Run(kFirstStart);
    ExpectResponsive(next, "the next start");
    EXPECT_EQ(RunLog(next), kFullRun);
    EXPECT_EQ(MissingCamFiles(), 0);
  }
}

// A start that finds part of the data package missing (the package's installer still writing it) says
// so once, shows no success and places no marker; the next start, the data whole, installs it.
TEST_F(HostsimInstallTest, StartWithPartOfThePackageMissingIsCompletedByTheNextStart) {
  NewMac("part missing");
  const std::string base = m_mac + "/Library/Vornid/vornidfu";
  fs::rename(base, m_folder / "vornidfu");

  const HostsimRun partial = Run(kFirstStart);
  ExpectResponsive(partial, "part of the package missing");
  EXPECT_EQ(partial.Count(R"("event":"messagebox")"), 1);
  EXPECT_TRUE(partial.Printed("Zdrojová data nebyla nalezena. Použijte znovu instalační soubor."));
  EXPECT_FALSE(partial.Printed("finish successful"));
  EXPECT_FALSE(MarkerInPlace());

  fs::rename(m_folder / "vornidfu", base);
  const HostsimRun next = Run(kFirstStart);
  ExpectResponsive(next, "the next start");
  EXPECT_EQ(RunLog(next), kFullRun);
  EXPECT_TRUE(MarkerInPlace());
}

} // namespace
