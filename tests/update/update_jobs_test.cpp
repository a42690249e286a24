// The update client in the background: the host's main thread hands the network to the bridge's
// workers, gets their results through its custom events, shows the download's progress, and can cancel or
// unload at any moment.
#include "update/new_version.h"
#include "update/offer_state.h"
#include "update/package_download.h"
#include "update/update_client.h"
#include "update/version_check.h"

#include "update_test_support.h"
#include "utilities.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using testing::Contains;
using testing::HasSubstr;
using testing::StartsWith;
using updatetest::kInstallerAlone;
using updatetest::SecondsSince;

constexpr std::size_t kChunk = 32 * 1024;
constexpr std::size_t kChunks = 10;

// A maker's server whose version query and package can be held back until the test lets them go.
class UpdateTasksTest : public updatetest::UpdateTest {
protected:
  void SetUp() override {
    UpdateTest::SetUp();
    httplib::Server& http = m_server.server();
    http.Get("/_sys_/updverC.asp", [this](const httplib::Request&, httplib::Response& response) {
      WaitUntilReleased();
      response.set_content("Zandrelmac|17|2.5|x", "text/plain");
    });
    http.Get("/dl_file.asp", [this](const httplib::Request&, httplib::Response& response) {
      ++m_linkQueries;
      response.set_content("URL=" + m_server.Origin() + "/download/Orvandel-2.5.pkg", "text/plain");
    });
    // The package in chunks with pauses, so that the download lasts about a second; held back after
    // its first chunk while the test holds it.
    http.Get("/download/Orvandel-2.5.pkg", [this](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(kChunk * kChunks, "application/octet-stream",
                                    [this](size_t offset, size_t, httplib::DataSink& sink) {
                                      if (offset > 0) {
                                        WaitUntilReleased();
                                        std::this_thread::sleep_for(100ms);
                                      }
                                      return sink.write(Package().data() + offset, kChunk);
                                    });
    });
    ASSERT_TRUE(m_server.Start());
    WriteFile(folder() + "/version.txt", "V1.0\n");
    OfferVersion25();
  }
  void TearDown() override {
    Release();
    UpdateTest::TearDown();
  }

  static const std::string& Package() {
    static const std::string bytes = [] {
      std::string content = "xar!";
      while (content.size() < kChunk * kChunks)
        content += static_cast<char>(content.size() * 13);
      return content;
    }();
    return bytes;
  }

  void Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_held = false;
    }
    m_released.notify_all();
  }
  void WaitUntilReleased() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return !m_held; });
  }

  std::string Target() const { return folder() + "/Downloads/Orvandel-installer.pkg"; }
  bool StartTheDownload() { return StartDownload(m_server.Origin(), "17", folder(), ""); }
  // A temporary file beside the target holds the whole package.
  bool WholePackageArrived() const {
    for (const std::string& name : Entries(folder() + "/Downloads"))
      if (name != "Orvandel-installer.pkg" && ReadFile(folder() + "/Downloads/" + name) == Package())
        return true;
    return false;
  }

  std::atomic<int> m_linkQueries{0};

private:
  std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_held = false;

protected:
  // Declared last, so that it stops, and its handlers end, before the members they use go away.
  loopback::Server m_server{loopback::Certificate::Trusted};
};

TEST_F(UpdateTasksTest, VersionQueryRunsOnAWorkerAndItsResultIsHandledOnTheMainThread) {
  Hold();
  BeginVersionCheck();
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(StartVersionCheck(folder() + "/version.txt", m_server.Origin()));
  EXPECT_LT(SecondsSince(start), 0.25);
  // The answer is held back: the main thread has logged the start and nothing else.
  hostsim::DeliverCustomEvents();
  EXPECT_EQ(hostsim::LogMessages(), std::vector<std::string>{"QUORLEX: (CheckNewVersion) start function"});

  Release();
  ASSERT_TRUE(IdleUntil([] { return Logged("end function"); }));
  EXPECT_EQ(hostsim::LogMessages(), (std::vector<std::string>{"QUORLEX: (CheckNewVersion) start function",
                                                              "QUORLEX: (CheckNewVersion) local ver: 1.0",
                                                              "QUORLEX: (CheckNewVersion) server ver: 2.5",
                                                              "QUORLEX: (CheckNewVersion) end function"}));
  EXPECT_TRUE(hostsim::HasDefinition("newVerAddIn"));
  EXPECT_EQ(idServerVersion, "17");
}

TEST_F(UpdateTasksTest, DownloadShowsItsProgressAndASecondClickStartsNothing) {
  WriteFile(Target(), "previous package");
  ASSERT_TRUE(StartTheDownload());
  EXPECT_FALSE(StartTheDownload());
  // The button clicked again while the package arrives: no question, no second download.
  NewVersionUI();
  std::string error;
  ASSERT_TRUE(hostsim::ClickCommand("newVerAddIn", &error)) << error;
  ASSERT_TRUE(IdleUntil([] { return !DownloadRunning(); }));

  EXPECT_EQ(ReadFile(Target()), Package());
  EXPECT_EQ(m_linkQueries, 1);
  EXPECT_TRUE(Logged("(QuickCmdExecuteEventHandler) a download is already running"));
  const auto shown = Events("progress_shown");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text("title"), "Nová verze České lokalizace");
  EXPECT_EQ(shown[0].number("minimum"), 0);
  EXPECT_EQ(shown[0].number("maximum"), 100);
  // Some report on the way shows the bytes against the announced size (320 kB).
  EXPECT_THAT(Texts("progress", "message"), Contains(HasSubstr(" kB z 320 kB")));
  const auto hidden = Events("progress_hidden");
  ASSERT_EQ(hidden.size(), 1u);
  EXPECT_FALSE(hidden[0].boolean("cancelled"));
  const auto boxes = Events("messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text("text"), "Instalační balíček nové verze české lokalizace najdete v Downloads");
}

TEST_F(UpdateTasksTest, CancelEndsTheDownloadWithinASecondAndSaysNothing) {
  WriteFile(Target(), "previous package");
  Hold();
  ASSERT_TRUE(StartTheDownload());
  // Cancel once the package has begun to arrive.
  ASSERT_TRUE(IdleUntil(
      [] { return testing::Value(Texts("progress", "message"), Contains(StartsWith("Stahuje se"))); }));
  std::string error;
  ASSERT_TRUE(hostsim::PressCancel(&error)) << error;
  const Clock::time_point cancelled = Clock::now();
  ASSERT_TRUE(IdleUntil([] { return !DownloadRunning(); }));
  EXPECT_LT(SecondsSince(cancelled), 1.0);

  EXPECT_TRUE(Events("messagebox").empty());
  EXPECT_TRUE(Logged("(downloadLatestVersion) cancelled by the user"));
  EXPECT_EQ(ReadFile(Target()), "previous package");
  EXPECT_EQ(Entries(folder() + "/Downloads"), kInstallerAlone);
  EXPECT_FALSE(hostsim::ProgressDialogShowing());
}

TEST_F(UpdateTasksTest, StopEndsAndJoinsEveryWorkerAndDropsTheirEvents) {
  WriteFile(Target(), "previous package");
  Hold();
  ASSERT_TRUE(StartVersionCheck(folder() + "/version.txt", m_server.Origin()));
  ASSERT_TRUE(StartTheDownload());
  std::this_thread::sleep_for(300ms); // both transfers are under way and held

  const Clock::time_point start = Clock::now();
  updatetest::StopUpdateWorkers();
  EXPECT_LT(SecondsSince(start), 2.0);
  EXPECT_FALSE(DownloadRunning());
  EXPECT_FALSE(hostsim::ProgressDialogShowing());
  // Nothing of the add-in is queued or can be: its events are gone.
  EXPECT_FALSE(orvandel::app->fireCustomEvent("OrvandelDownload"));
  hostsim::ClearTranscript();
  hostsim::DeliverCustomEvents();
  EXPECT_TRUE(Events("custom_event").empty());
  EXPECT_TRUE(Events("messagebox").empty());
  EXPECT_EQ(ReadFile(Target()), "previous package");
  EXPECT_EQ(Entries(folder() + "/Downloads"), kInstallerAlone);

  // The next load starts afresh: a download runs again to its end.
  Release();
  ASSERT_TRUE(StartTheDownload());
  ASSERT_TRUE(IdleUntil([] { return !DownloadRunning(); }));
  EXPECT_EQ(ReadFile(Target()), Package());
}

// Cancel or stop at the two moments after the transfer: while the signature check runs (a checker
// that would take 20 s), and after the worker has ended but before the main thread has heard of it.
TEST_F(UpdateTasksTest, CancelOrStopAfterTheTransferKeepsThePreviousPackage) {
  const std::string arguments = folder() + "/pkgutil-arguments";
  updatetest::ScopedVariable checker("HOSTSIM_PKGUTIL", QUORLEX_PKGUTIL_STANDIN);
  updatetest::ScopedVariable recorded("STANDIN_ARGUMENTS", arguments);
  updatetest::ScopedVariable printed("STANDIN_REPORT", QUORLEX_SIGNATURE_REPORTS "/signed_by_team.txt");
  updatetest::ScopedVariable delay("STANDIN_DELAY", "20");
  struct Case {
    const char* name;
    bool duringTheCheck;
    bool cancel; // else stop
  };
  const Case cases[] = {
      {"cancel during the check", true, true},
      {"stop during the check", true, false},
      {"cancel before the end is handled", false, true},
      {"stop before the end is handled", false, false},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    hostsim::ClearTranscript();
    std::remove(arguments.c_str());
    WriteFile(Target(), "previous package");
    ASSERT_TRUE(StartDownload(m_server.Origin(), "17", folder(), test.duringTheCheck ? "QX7T2M9K4B" : ""));
    if (test.duringTheCheck) {
      ASSERT_TRUE(IdleUntil([&] { return FileExists(arguments); }));
    } else {
      // Nothing delivered: once the whole package lies beside the target, the worker's last steps
      // (its first bytes read, the quarantine attribute) take far less than the pause.
      const auto deadline = Clock::now() + 20s;
      while (!WholePackageArrived() && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
      ASSERT_TRUE(WholePackageArrived());
      std::this_thread::sleep_for(200ms);
      ASSERT_EQ(hostsim::QueuedCustomEvents(), 1u); // the bridge's one event holds the reports and the end
    }
    const Clock::time_point acted = Clock::now();
    if (test.cancel) {
      std::string error;
      ASSERT_TRUE(hostsim::PressCancel(&error)) << error;
      ASSERT_TRUE(IdleUntil([] { return !DownloadRunning(); }));
      EXPECT_LT(SecondsSince(acted), 1.0);
      EXPECT_TRUE(Logged("(downloadLatestVersion) cancelled by the user"));
    } else {
      updatetest::StopUpdateWorkers();
      EXPECT_LT(SecondsSince(acted), 2.0);
    }
    EXPECT_TRUE(Events("messagebox").empty());
    EXPECT_EQ(ReadFile(Target()), "previous package");
    EXPECT_EQ(Entries(folder() + "/Downloads"), kInstallerAlone);
    updatetest::StopUpdateWorkers();
  }
}

TEST(ParseFetchLimits, ReplacesTheNamedLimitsAndKeepsTheRest) {
  const FetchLimits defaults;
  const FetchLimits parsed = ParseFetchLimits(
      "connect_ms=500, stall_s=1 text_ms=x file_max_bytes=2048 unknown=3 file_slow_s", defaults);
  EXPECT_EQ(parsed.connectTimeoutMs, 500);
  EXPECT_EQ(parsed.stallSeconds, 1);
  EXPECT_EQ(parsed.textTotalMs, defaults.textTotalMs); // not a number
  EXPECT_EQ(parsed.fileMaxBytes, 2048u);
  EXPECT_EQ(parsed.fileSlowSeconds, defaults.fileSlowSeconds); // no value
  EXPECT_EQ(parsed.fileMinBytesPerSecond, defaults.fileMinBytesPerSecond);
}

} // namespace
