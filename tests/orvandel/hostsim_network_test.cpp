// The real language add-in in hostsim against a misbehaving maker's server: no call into the add-in
// holds the host's main thread for long, whatever the server does, and unloading the add-in in the
// middle of a stalled query or a download is clean, again and again.
#include "hostsim_run.h"
#include "loopback_https.h"
#include "process.h"
#include "temp_folder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// How long one call into an add-in may hold the main thread.
constexpr long long kMainThreadLimitUs = 250 * 1000;
// The limits of the transfers, shortened so that every case ends within seconds.
constexpr const char* kShortLimits = "connect_ms=1000 stall_s=2 text_ms=3000 file_min_bps=1024 file_slow_s=2";

enum class Behaviour { Answer, StallBeforeHeaders, StallAfterHeaders, StallAfterAPart, Trickle };

// What a transfer that stalls after a part has received before it stalls.
constexpr size_t kPartBytes = 1024;

class HostsimNetworkTest : public ::testing::Test {
protected:
  void SetUp() override {
    httplib::Server& http = m_server.server();
    // Stalled answers hold their threads until the test ends; the unloading rounds leave 50 of them.
    http.new_task_queue = [] { return new httplib::ThreadPool(160); };
    http.Get("/_sys_/updverC.asp", [this](const httplib::Request&, httplib::Response& response) {
      ++m_versionQueries;
      Serve(m_version, "Zandrelmac|17|2.5|x", response, /*bytesPerSecond=*/1);
    });
    http.Get("/dl_file.asp", [this](const httplib::Request&, httplib::Response& response) {
      Serve(m_link, "URL=" + m_server.Origin() + "/download/Orvandel-2.5.pkg", response, 1);
    });
    http.Get(R"(/download/.*)", [this](const httplib::Request&, httplib::Response& response) {
      ++m_packageRequests;
      Serve(m_package, "xar!" + std::string(64 * 1024, 'p'), response, 2);
    });
    ASSERT_TRUE(m_server.Start());
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_ending = true;
    }
    m_end.notify_all();
  }

  // Answers content as the behaviour says: at once, never (before or after the headers or after its
  // first kPartBytes), or bytesPerSecond bytes a second.
  void Serve(const std::atomic<Behaviour>& behaviour, const std::string& content, httplib::Response& response,
             int bytesPerSecond) {
    switch (behaviour.load()) {
    case Behaviour::Answer:
      response.set_content(content, "application/octet-stream");
      return;
    case Behaviour::StallBeforeHeaders:
      Pause(24h);
      response.set_content(content, "application/octet-stream");
      return;
    case Behaviour::StallAfterHeaders:
      response.set_chunked_content_provider("application/octet-stream", [this](size_t, httplib::DataSink&) {
        Pause(24h);
        return false;
      });
      return;
    case Behaviour::StallAfterAPart:
      response.set_chunked_content_provider(
          "application/octet-stream", [this, content](size_t offset, httplib::DataSink& sink) {
            if (offset == 0)
              return sink.write(content.data(), std::min(kPartBytes, content.size()));
            Pause(24h);
            return false;
          });
      return;
    case Behaviour::Trickle:
      response.set_chunked_content_provider(
          "application/octet-stream",
          [this, content, bytesPerSecond](size_t offset, httplib::DataSink& sink) {
            if (!Pause(std::chrono::milliseconds(1000 / bytesPerSecond)))
              return false;
            return sink.write(content.data() + offset % content.size(), 1);
          });
      return;
    }
  }
  // Waits for the given time or the end of the test; false at the end of the test.
  bool Pause(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_end.wait_for(lock, time, [this] { return m_ending; });
  }

  // Runs hostsim with --timings and --jsonl on the script, the real add-in (by default the build's,
  // else the one in addinFolder), this test's server and the given transfer limits.
  HostsimRun Run(const std::string& script, const std::string& origin,
                 const std::string& addinFolder = ORVANDEL_ADDIN_DIR, const char* limits = kShortLimits) {
    WriteFile(m_folder / "script.txt", script);
    ::setenv("HOSTSIM_FETCH_LIMITS", limits, 1);
    const hostsim::ProgramResult result = hostsim::RunProgram(
        {HOSTSIM_EXE, "--root", m_folder / "mac", "--server", origin, "--cafile", loopback::TestCaFile(),
         "--timings", "--jsonl", "--script", m_folder / "script.txt", addinFolder});
    ::unsetenv("HOSTSIM_FETCH_LIMITS");
    return ReadHostsimRun(result);
  }

  TempFolder m_folder{"hostsim-network-"};
  std::atomic<Behaviour> m_version{Behaviour::Answer};
  std::atomic<Behaviour> m_link{Behaviour::Answer};
  std::atomic<Behaviour> m_package{Behaviour::Answer};
  std::atomic<int> m_versionQueries{0};
  std::atomic<int> m_packageRequests{0};

private:
  std::mutex m_mutex;
  std::condition_variable m_end;
  bool m_ending = false;

protected:
  // Declared last, so that it stops, and its handlers end, before the members they use go away.
  loopback::Server m_server{loopback::Certificate::Trusted};
};

// The add-in loaded and online until its version query has ended; then Yes to the new version and a
// click on its button, which starts the download.
const std::string kQueried = "load Orvandel\nonline\nwaitfor \"(CheckNewVersion) end function\" 20\n";
const std::string kDownloading = kQueried + "answer yes\nclick newVerAddIn\n";
const std::string kCheckScript = kQueried + "unload Orvandel\n";
// Waits for the failure message of either step of the download.
const std::string kDownloadScript = kDownloading + "waitfor \" se ne\" 30\nunload Orvandel\n";

// Each case ends by a shortened limit on the worker while the host stays responsive; the figures
// printed are those of the README's table.
TEST_F(HostsimNetworkTest, NoNetworkCaseHoldsTheMainThread) {
  loopback::SilentListener silent;
  ASSERT_NE(silent.port(), 0);
  const std::string silentOrigin = "https://127.0.0.1:" + std::to_string(silent.port());
  struct Case {
    const char* name;
    std::atomic<Behaviour>* step;
    Behaviour behaviour;
    std::string script;
    const char* outcome; // a text the add-in prints when the case has run its course
    bool silent;
  };
  const Case cases[] = {
      {"TLS handshake never completes (version query)", &m_version, Behaviour::Answer, kCheckScript,
       "version query failed", true},
      {"server stalls before its headers (version query)", &m_version, Behaviour::StallBeforeHeaders,
       kCheckScript, "version query failed", false},
      {"server stalls after its headers (version query)", &m_version, Behaviour::StallAfterHeaders,
       kCheckScript, "version query failed", false},
      {"trickle of 1 byte/s (version query)", &m_version, Behaviour::Trickle, kCheckScript,
       "version query failed", false},
      {"link query stalled after Yes", &m_link, Behaviour::StallAfterHeaders, kDownloadScript,
       "Adresu instalačního balíčku", false},
      {"download stalled", &m_package, Behaviour::StallAfterHeaders, kDownloadScript, "Stažení nové verze",
       false},
      {"download trickling 2 bytes/s", &m_package, Behaviour::Trickle, kDownloadScript, "Stažení nové verze",
       false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    m_version = m_link = m_package = Behaviour::Answer;
    *test.step = test.behaviour;
    const HostsimRun run = Run(test.script, test.silent ? silentOrigin : m_server.Origin());
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_TRUE(run.Printed(test.outcome));
    EXPECT_GE(run.longestUs, 0);
    EXPECT_LT(run.longestUs, kMainThreadLimitUs) << "longest call: " << run.longestWhat;
    for (const long long stopUs : run.stopUs)
      EXPECT_LT(stopUs, kMainThreadLimitUs) << "stop";
    std::printf("%-52s main thread held at most %.1f ms (%s)\n", test.name,
                static_cast<double>(run.longestUs) / 1000.0, run.longestWhat.c_str());
  }
}

// 50 loads, each unloaded while its version query stalls, then 50 unloaded while a download stalls.
TEST_F(HostsimNetworkTest, UnloadingDuringAStalledQueryOrADownloadIsClean) {
  constexpr int kRounds = 50;
  struct Case {
    const char* name;
    std::atomic<Behaviour>* step;
    Behaviour behaviour;
    std::string round;
    std::atomic<int>* requests;
    int fewestRequests; // rounds that must have reached the server before their unload
  };
  const Case cases[] = {
      // A fixed pause: the query gives the script nothing to wait for, so most rounds, not all, reach
      // the server first.
      {"stalled version query", &m_version, Behaviour::StallAfterHeaders,
       "load Orvandel\nonline\nwait 0.05\nunload Orvandel\n", &m_versionQueries, 1},
      // Unloaded once the dialog shows the first part of the package (1 kB): stalled in mid-download.
      {"download", &m_package, Behaviour::StallAfterAPart,
       kDownloading + "waitfor \"verze: " + std::to_string(kPartBytes / 1024) + " kB\" 20\nunload Orvandel\n",
       &m_packageRequests, kRounds},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    m_version = m_link = m_package = Behaviour::Answer;
    *test.step = test.behaviour;
    *test.requests = 0;
    std::string script;
    for (int round = 0; round < kRounds; ++round)
      script += test.round;
    const HostsimRun run = Run(script, m_server.Origin());
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_FALSE(run.Printed(R"("event":"error")"));
    // Every round started its transfer and was unloaded before the transfer could end.
    EXPECT_EQ(run.Count("(CheckNewVersion) start function"), kRounds);
    EXPECT_GE(*test.requests, test.fewestRequests);
    std::printf("%s: %d of %d rounds reached the server before the unload\n", test.name,
                test.requests->load(), kRounds);
    EXPECT_EQ(run.Count(R"("entry":"stop","result":true)"), kRounds);
    ASSERT_EQ(run.stopUs.size(), static_cast<size_t>(kRounds));
    for (const long long stopUs : run.stopUs)
      EXPECT_LT(stopUs, 2000 * 1000);
    // No unloaded download leaves a part of the package behind.
    EXPECT_TRUE(std::filesystem::is_empty(m_folder / "mac/Users/user/Downloads"));
  }
}

// The add-in pinned to a team, as package builds are, with a checker that would take 20 s: an unload
// during the check returns within 2 s and places nothing; a Cancel keeps the previous package.
TEST_F(HostsimNetworkTest, SlowSignatureCheckHoldsNeitherStopNorCancel) {
  const std::string arguments = m_folder / "pkgutil-arguments";
  ::setenv("HOSTSIM_PKGUTIL", QUORLEX_PKGUTIL_STANDIN, 1);
  ::setenv("STANDIN_REPORT", QUORLEX_SIGNATURE_REPORTS "/signed_by_team.txt", 1);
  ::setenv("STANDIN_ARGUMENTS", arguments.c_str(), 1);
  ::setenv("STANDIN_DELAY", "20", 1);
  // Once the dialog shows the whole package (65,540 bytes), the check has begun; half a second later it
  // runs.
  const std::string checking = kDownloading + "waitfor \": 65 kB z 65 kB\" 20\nwait 0.5\n";
  struct Case {
    const char* name;
    std::string script;
  };
  const Case cases[] = {
      {"unload during the check", checking + "unload Orvandel\n"},
      {"cancel during the check",
       checking + "cancel\nwaitfor \"cancelled by the user\" 5\nunload Orvandel\n"},
  };
  const std::filesystem::path downloads = m_folder / "mac/Users/user/Downloads";
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    std::filesystem::create_directories(downloads);
    WriteFile(downloads / "Orvandel-installer.pkg", "previous package");
    std::filesystem::remove(arguments);
    // The product's own limits: the check's 30 s among them.
    const HostsimRun run = Run(test.script, m_server.Origin(), ORVANDEL_PINNED_ADDIN_DIR, "");
    EXPECT_EQ(run.exit, 0) << run.err << "last line: " << (run.lines.empty() ? "" : run.lines.back());
    EXPECT_TRUE(std::filesystem::exists(arguments)); // the pinned add-in ran the checker
    ASSERT_EQ(run.stopUs.size(), 1u);
    EXPECT_LT(run.stopUs[0], kMainThreadLimitUs);
    EXPECT_LT(run.longestUs, kMainThreadLimitUs) << "longest call: " << run.longestWhat;
    EXPECT_FALSE(run.Printed("Instalační balíček nové verze"));
    EXPECT_EQ(ReadFile(downloads / "Orvandel-installer.pkg"), "previous package");
    EXPECT_EQ(Entries(downloads), std::vector<std::string>{"Orvandel-installer.pkg"});
  }
  for (const char* name : {"HOSTSIM_PKGUTIL", "STANDIN_REPORT", "STANDIN_ARGUMENTS", "STANDIN_DELAY"})
    ::unsetenv(name);
}

} // namespace
