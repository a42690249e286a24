// A transfer ends within a second of being told to stop, whatever the server does, and reports its
// progress while it runs: the background download and unloading the add-in rely on both.
#include "update/http_fetch.h"
#include "update_test_support.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using updatetest::FetchAndPlace;
using Clock = std::chrono::steady_clock;

// Sets a stop flag after a delay, as the main thread does when the user presses Cancel or the host
// unloads the add-in, and remembers when.
class DelayedStop {
public:
  explicit DelayedStop(std::chrono::milliseconds delay)
      : m_thread([this, delay] {
          std::this_thread::sleep_for(delay);
          m_requestedAt = Clock::now();
          m_stop = true;
        }) {}
  ~DelayedStop() {
    if (m_thread.joinable())
      m_thread.join();
  }
  TransferProgress Progress() {
    return [this](std::uint64_t, std::uint64_t) { return !m_stop.load(); };
  }
  // Seconds from the request to now; joins the setting thread first.
  double SecondsSinceRequest() {
    m_thread.join();
    return std::chrono::duration<double>(Clock::now() - m_requestedAt).count();
  }

private:
  std::atomic<bool> m_stop{false};
  Clock::time_point m_requestedAt;
  std::thread m_thread;
};

class TransferCancelTest : public updatetest::UpdateTest {
protected:
  void SetUp() override {
    UpdateTest::SetUp();
    httplib::Server& http = m_server.server();
    http.Get("/stall-before-headers", [this](const httplib::Request&, httplib::Response& response) {
      m_server.WaitForShutdown();
      response.set_content("late", "text/plain");
    });
    http.Get("/stall-after-headers",
             [this](const httplib::Request&, httplib::Response& response) { m_server.Stall(response); });
    // One byte every half second for as long as the client listens.
    http.Get("/trickle", [this](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider(
          "application/octet-stream", [this](size_t, httplib::DataSink& sink) {
            return !m_server.ShutdownWithin(std::chrono::milliseconds(500)) && sink.write("x", 1);
          });
    });
    m_server.Answer("/package", std::string(300 * 1024, 'p'), "application/octet-stream");
    ASSERT_TRUE(m_server.Start());
  }

  std::string Url(const std::string& path) const { return m_server.Origin() + path; }

  loopback::Server m_server{loopback::Certificate::Trusted};
};

TEST_F(TransferCancelTest, StopEndsTextAndFileTransfersWithinASecond) {
  loopback::SilentListener silent;
  ASSERT_NE(silent.port(), 0);
  const std::string urls[] = {
      "https://127.0.0.1:" + std::to_string(silent.port()) + "/answer", // TLS handshake never answered
      Url("/stall-before-headers"),
      Url("/stall-after-headers"),
      Url("/trickle"),
  };
  const std::string target = folder() + "/Orvandel-installer.pkg";
  WriteFile(target, "previous package");
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    {
      DelayedStop stop(std::chrono::milliseconds(500));
      const TextFetch text = FetchText(url, stop.Progress());
      EXPECT_LT(stop.SecondsSinceRequest(), 1.0);
      EXPECT_EQ(text.code, CURLE_ABORTED_BY_CALLBACK);
    }
    {
      DelayedStop stop(std::chrono::milliseconds(500));
      const FileFetch file = FetchAndPlace(url, target, nullptr, stop.Progress());
      EXPECT_LT(stop.SecondsSinceRequest(), 1.0);
      EXPECT_EQ(file.code, CURLE_ABORTED_BY_CALLBACK);
    }
    // The cancelled download's temporary file is gone and the previous package untouched.
    EXPECT_EQ(Entries(folder()), updatetest::kInstallerAlone);
    EXPECT_EQ(ReadFile(target), "previous package");
  }
}

TEST_F(TransferCancelTest, ProgressCountsTheBytesAgainstTheAnnouncedSize) {
  std::uint64_t lastReceived = 0;
  std::uint64_t lastExpected = 0;
  bool shrank = false;
  bool pastTheEnd = false;
  const FileFetch fetch = FetchAndPlace(Url("/package"), folder() + "/Orvandel-installer.pkg", nullptr,
                                        [&](std::uint64_t received, std::uint64_t expected) {
                                          shrank = shrank || received < lastReceived;
                                          pastTheEnd = pastTheEnd || (expected > 0 && received > expected);
                                          lastReceived = received;
                                          lastExpected = expected;
                                          return true;
                                        });
  EXPECT_TRUE(fetch.ok()) << DescribeFileFetch(fetch);
  EXPECT_FALSE(shrank);
  EXPECT_FALSE(pastTheEnd);
  EXPECT_EQ(lastReceived, 300u * 1024);
  EXPECT_EQ(lastExpected, 300u * 1024);
}

TEST_F(TransferCancelTest, ProgressThatThrowsEndsTheTransferInsteadOfLeavingLibcurl) {
  const TextFetch fetch = FetchText(Url("/package"), [](std::uint64_t, std::uint64_t) -> bool {
    throw std::runtime_error("progress failed");
  });
  EXPECT_EQ(fetch.code, CURLE_ABORTED_BY_CALLBACK);
}

} // namespace
