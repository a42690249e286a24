#include "scripted_tls.h"
#include "update/http_fetch.h"
#include "update_test_support.h"

#include <spawn.h>
#include <sys/wait.h>
#include <zlib.h>

#include <csignal>

#include <chrono>

extern char** environ;

using loopback::Certificate;
using updatetest::FetchAndPlace;
using updatetest::kInstallerAlone;
using updatetest::SecondsSince;

namespace {

class FetchTest : public updatetest::UpdateTest {
protected:
  void SetUp() override {
    UpdateTest::SetUp();
    m_server.Answer("/answer", "Zandrelmac|17|2.5|x");
    m_server.Answer("/empty", "");
    m_server.Answer("/zero", std::string("abc\0def", 7));
    m_server.Answer("/missing", "<html><body>Not here</body></html>", "text/html", 404);
    m_server.Answer("/broken", "<html><body>Server error</body></html>", "text/html", 500);
    m_server.Answer("/exact", std::string(64 * 1024, 'b'));
    m_server.Answer("/package", Package(), "application/octet-stream");
    httplib::Server& http = m_server.server();
    http.Get("/moved",
             [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/answer"); });
    http.Get("/loop",
             [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/loop"); });
    http.Get("/headers", [](const httplib::Request& request, httplib::Response& response) {
      response.set_content(request.method + "\n" + request.get_header_value("Accept") + "\n" +
                               request.get_header_value("User-Agent"),
                           "text/plain");
    });
    http.Get("/endless", [](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
        static const std::string block(16 * 1024, 'a');
        return sink.write(block.data(), block.size());
      });
    });
    http.Get("/stall",
             [this](const httplib::Request&, httplib::Response& response) { m_server.Stall(response); });
    http.Get("/truncated", [](const httplib::Request&, httplib::Response& response) {
      response.set_content_provider(1000, "application/octet-stream",
                                    [](size_t offset, size_t, httplib::DataSink& sink) {
                                      return offset == 0 && sink.write(Package().data(), 500);
                                    });
    });
    ASSERT_TRUE(m_server.Start());
  }

  static const std::string& Package() {
    static const std::string bytes = [] {
      std::string content;
      for (int i = 0; i < 100000; ++i)
        content += static_cast<char>(i * 31);
      return content;
    }();
    return bytes;
  }

  std::string Url(const std::string& path) const { return m_server.Origin() + path; }
  std::string Target() const { return folder() + "/Orvandel-installer.pkg"; }

  loopback::Server m_server{Certificate::Trusted};
};

TEST_F(FetchTest, TextAnswersAreTakenWhateverTheirStatus) {
  struct Case {
    const char* path;
    long status;
    std::string text;
  };
  const Case cases[] = {
      {"/answer", 200, "Zandrelmac|17|2.5|x"},
      {"/empty", 200, ""},
      {"/zero", 200, "abc"}, // the text ends at the zero byte
      {"/moved", 200, "Zandrelmac|17|2.5|x"},
      {"/missing", 404, "<html><body>Not here</body></html>"},
      {"/broken", 500, "<html><body>Server error</body></html>"},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.path);
    const TextFetch fetch = FetchText(Url(expected.path));
    EXPECT_EQ(fetch.code, CURLE_OK);
    EXPECT_EQ(fetch.status, expected.status);
    EXPECT_EQ(fetch.text, expected.text);
  }
  EXPECT_EQ(FetchText(Url("/zero")).bytes, 7u);
  EXPECT_EQ(DescribeTextFetch(FetchText(Url("/empty"))), "empty answer");
  EXPECT_EQ(DescribeTextFetch(FetchText(Url("/missing"))), "HTTP status 404");
}

TEST_F(FetchTest, SendsGetWithTheTwoHeaderLines) {
  EXPECT_EQ(FetchText(Url("/headers")).text,
            "GET\n*/*\nMozilla/5.0 (Windows NT 10.0; Win64; x64; rv:107.0) Gecko/20100101 Firefox/107.0");
}

TEST_F(FetchTest, UrlWithoutSchemeGoesOverHttps) {
  // The server speaks TLS alone, so an answer proves the scheme.
  const TextFetch fetch = FetchText("127.0.0.1:" + std::to_string(m_server.port()) + "/answer");
  EXPECT_EQ(fetch.code, CURLE_OK);
  EXPECT_EQ(fetch.text, "Zandrelmac|17|2.5|x");
}

TEST_F(FetchTest, OtherSchemesAreRefusedBeforeAnythingIsRead) {
  loopback::Server plain;
  plain.Answer("/answer", "plain");
  plain.server().Get("/moved", [this](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(Url("/answer"));
  });
  ASSERT_TRUE(plain.Start());
  m_server.server().Get("/to-plain", [&plain](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain.Origin() + "/answer");
  });
  const std::string local = folder() + "/secret.txt";
  WriteFile(local, "secret");

  for (const std::string& url : {"file://" + local, "ftp://127.0.0.1:" + std::to_string(plain.port()) + "/a",
                                 plain.Origin() + "/answer", plain.Origin() + "/moved", Url("/to-plain")}) {
    SCOPED_TRACE(url);
    const TextFetch fetch = FetchText(url);
    EXPECT_EQ(fetch.code, CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(fetch.bytes, 0u);
    const FileFetch file = FetchAndPlace(url, folder() + "/out.pkg");
    EXPECT_EQ(file.outcome, FileFetchOutcome::TransferFailed);
    EXPECT_EQ(file.code, CURLE_UNSUPPORTED_PROTOCOL);
  }
  EXPECT_EQ(plain.requests(), 0);
  EXPECT_EQ(Entries(folder()), std::vector<std::string>{"secret.txt"});
}

TEST_F(FetchTest, BothSchemeOptionsRefuseOtherSchemes) {
  EXPECT_EQ(SchemeOptionsFor(0x075400), SchemeOptions::Bitmask); // 7.84.0
  EXPECT_EQ(SchemeOptionsFor(0x075500), SchemeOptions::Text);    // 7.85.0
  loopback::Server plain;
  ASSERT_TRUE(plain.Start());
  m_server.server().Get("/to-plain", [&plain](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(plain.Origin() + "/answer");
  });
  for (const SchemeOptions options : {SchemeOptions::Text, SchemeOptions::Bitmask}) {
    SCOPED_TRACE(options == SchemeOptions::Text ? "text options" : "bitmask options");
    ScopedSchemeOptions forced(options);
    EXPECT_EQ(FetchText(Url("/answer")).text, "Zandrelmac|17|2.5|x");
    EXPECT_EQ(FetchText(plain.Origin() + "/answer").code, CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_EQ(FetchText(Url("/to-plain")).code, CURLE_UNSUPPORTED_PROTOCOL);
    EXPECT_TRUE(FetchAndPlace(Url("/package"), folder() + "/out.pkg").ok());
  }
  EXPECT_EQ(plain.requests(), 0);
}

TEST_F(FetchTest, RedirectLoopEndsAfterTenRedirects) {
  const TextFetch fetch = FetchText(Url("/loop"));
  EXPECT_EQ(fetch.code, CURLE_TOO_MANY_REDIRECTS);
  EXPECT_EQ(m_server.requests(), 11); // the first request and ten redirects
}

TEST_F(FetchTest, TextAnswerOverTheLimitEndsTheTransfer) {
  FetchLimits limits;
  limits.textMaxBytes = 64 * 1024;
  ScopedFetchLimits shortened(limits);

  const TextFetch exact = FetchText(Url("/exact"));
  EXPECT_EQ(exact.code, CURLE_OK);
  EXPECT_EQ(exact.text.size(), 64u * 1024);

  const TextFetch endless = FetchText(Url("/endless"));
  EXPECT_EQ(endless.code, CURLE_WRITE_ERROR);
  EXPECT_TRUE(endless.tooLarge);
  EXPECT_LE(endless.text.size(), 64u * 1024);
  EXPECT_EQ(DescribeTextFetch(endless), "answer longer than 65536 bytes");
}

TEST_F(FetchTest, StalledAndSilentServersAreReleasedWithinTheLimits) {
  loopback::SilentListener silent;
  ASSERT_NE(silent.port(), 0);
  struct Case {
    const char* name;
    std::string url;
    FetchLimits limits;
  };
  // Each case shortens only the limit it is about, so that no other limit can release the transfer.
  FetchLimits stall;
  stall.stallSeconds = 1;
  stall.fileSlowSeconds = 1;
  FetchLimits handshake;
  handshake.connectTimeoutMs = 500;
  const Case cases[] = {
      {"stall after the headers", Url("/stall"), stall},
      {"TLS handshake never answered", "https://127.0.0.1:" + std::to_string(silent.port()) + "/answer",
       handshake},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ScopedFetchLimits shortened(test.limits);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FetchText(test.url).code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(SecondsSince(start), 5.0);

    start = std::chrono::steady_clock::now();
    const FileFetch file = FetchAndPlace(test.url, folder() + "/out.pkg");
    EXPECT_EQ(file.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_LT(SecondsSince(start), 5.0);
  }
  EXPECT_TRUE(Entries(folder()).empty());
}

TEST_F(FetchTest, UntrustedCertificateIsRefused) {
  loopback::Server untrusted(Certificate::Untrusted);
  untrusted.Answer("/answer", "unverified");
  ASSERT_TRUE(untrusted.Start());
  const TextFetch fetch = FetchText(untrusted.Origin() + "/answer");
  EXPECT_EQ(fetch.code, CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_EQ(fetch.text, "");
  EXPECT_EQ(FetchAndPlace(untrusted.Origin() + "/answer", folder() + "/out.pkg").code,
            CURLE_PEER_FAILED_VERIFICATION);
  EXPECT_EQ(untrusted.requests(), 0);
  EXPECT_TRUE(Entries(folder()).empty());
}

TEST_F(FetchTest, CompleteDownloadReplacesTheTarget) {
  WriteFile(Target(), "previous package");
  const FileFetch fetch = FetchAndPlace(Url("/package"), Target());
  EXPECT_TRUE(fetch.ok()) << DescribeFileFetch(fetch);
  EXPECT_EQ(ReadFile(Target()), Package());
  EXPECT_EQ(Entries(folder()), kInstallerAlone);
}

TEST_F(FetchTest, FailedDownloadKeepsThePreviousFile) {
  struct Case {
    const char* path;
    FileFetchOutcome outcome;
    CURLcode code;
  };
  const Case cases[] = {
      {"/missing", FileFetchOutcome::HttpStatus, CURLE_OK},
      {"/broken", FileFetchOutcome::HttpStatus, CURLE_OK},
      {"/truncated", FileFetchOutcome::TransferFailed, CURLE_PARTIAL_FILE},
      {"/empty", FileFetchOutcome::Empty, CURLE_OK},
  };
  const std::string previous = Package().substr(0, 4096);
  WriteFile(Target(), previous);
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.path);
    const FileFetch fetch = FetchAndPlace(Url(expected.path), Target());
    EXPECT_EQ(fetch.outcome, expected.outcome);
    EXPECT_EQ(fetch.code, expected.code);
    EXPECT_EQ(ReadFile(Target()), previous);
    EXPECT_EQ(Entries(folder()), kInstallerAlone);
  }
}

// "xar!" and count bytes of 'x' compressed with gzip: a few KiB on the wire for megabytes decoded.
std::string GzipBomb(std::size_t count) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string input = "xar!" + std::string(count, 'x');
  std::string output(deflateBound(&stream, static_cast<uLong>(input.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(output.data());
  stream.avail_out = static_cast<uInt>(output.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  output.resize(stream.total_out);
  deflateEnd(&stream);
  return output;
}

std::string Chunked(const std::string& body) {
  char size[32];
  std::snprintf(size, sizeof size, "%zx\r\n", body.size());
  return size + body + "\r\n0\r\n\r\n";
}

TEST_F(FetchTest, AnswersWithoutAKnownEndOrOverTheLimitKeepThePreviousFile) {
  FetchLimits limits;
  limits.fileMaxBytes = 1024 * 1024;
  ScopedFetchLimits shortened(limits);
  const std::string body = "xar!" + std::string(2996, 'p');
  struct Case {
    const char* name;
    std::string answer;
    FileFetchOutcome outcome;
  };
  const Case cases[] = {
      {"ended by closing, HTTP/1.1", "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body,
       FileFetchOutcome::Undelimited},
      {"ended by closing, HTTP/1.0", "HTTP/1.0 200 OK\r\n\r\n" + body, FileFetchOutcome::Undelimited},
      // 8 MiB from a few KiB on the wire, were it decoded: refused at its header, nothing written.
      {"transfer-encoding bomb",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" + Chunked(GzipBomb(8 << 20)),
       FileFetchOutcome::UnaskedCoding},
      {"transfer coding after chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: x-zip\r\n\r\n",
       FileFetchOutcome::UnaskedCoding},
      // Refused at the headers, nothing written.
      {"announced length over the limit",
       "HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + std::string(2000000, 'q'),
       FileFetchOutcome::TooLarge},
  };
  WriteFile(Target(), "previous package");
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    loopback::ScriptedTlsServer server(
        [&test](loopback::ScriptedConnection& connection) { connection.Send(test.answer); });
    ASSERT_TRUE(server.ok());
    const FileFetch fetch = FetchAndPlace(server.Origin() + "/p.pkg", Target());
    EXPECT_EQ(fetch.outcome, test.outcome) << DescribeFileFetch(fetch);
    EXPECT_LE(fetch.bytes, limits.fileMaxBytes);
    if (test.outcome != FileFetchOutcome::Undelimited) {
      EXPECT_EQ(fetch.bytes, 0u);
    }
    EXPECT_EQ(ReadFile(Target()), "previous package");
    EXPECT_EQ(Entries(folder()), kInstallerAlone);
  }
}

TEST_F(FetchTest, ChunkedAnswerIsComplete) {
  const std::string body = "xar!" + std::string(5000, 'c');
  loopback::ScriptedTlsServer server([&body](loopback::ScriptedConnection& connection) {
    connection.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(body));
  });
  ASSERT_TRUE(server.ok());
  const FileFetch fetch = FetchAndPlace(server.Origin() + "/p.pkg", Target());
  EXPECT_TRUE(fetch.ok()) << DescribeFileFetch(fetch);
  EXPECT_EQ(ReadFile(Target()), body);
}

// Sends bytes every period for as long as the client listens.
loopback::ScriptedTlsServer::Script Pulses(const std::string& bytes, std::chrono::milliseconds period) {
  return [bytes, period](loopback::ScriptedConnection& connection) {
    if (!connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nxar!"))
      return;
    while (connection.Send(bytes)) {
      for (auto waited = std::chrono::milliseconds(0); waited < period;
           waited += std::chrono::milliseconds(20)) {
        if (connection.Stopping())
          return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  };
}

TEST_F(FetchTest, DownloadBelowTheFloorOnAverageEndsWithinTheWindow) {
  FetchLimits limits;
  limits.fileMinBytesPerSecond = 1024;
  limits.fileSlowSeconds = 3;
  ScopedFetchLimits shortened(limits);
  struct Case {
    const char* name;
    std::string bytes;
    std::chrono::milliseconds period;
  };
  const Case cases[] = {
      // 20 bytes a second: alive, but far below the floor.
      {"steady trickle", "tttt", std::chrono::milliseconds(200)},
      // 917 bytes a second on average, each burst above the floor over libcurl's last five seconds.
      {"bursts", std::string(5500, 'b'), std::chrono::milliseconds(6000)},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    loopback::ScriptedTlsServer server(Pulses(test.bytes, test.period));
    ASSERT_TRUE(server.ok());
    const auto start = std::chrono::steady_clock::now();
    const FileFetch fetch = FetchAndPlace(server.Origin() + "/p.pkg", folder() + "/out.pkg");
    EXPECT_EQ(fetch.code, CURLE_OPERATION_TIMEDOUT);
    EXPECT_TRUE(fetch.tooSlow);
    EXPECT_EQ(DescribeFileFetch(fetch), "fewer than 1024 bytes/s over 3 s");
    EXPECT_LT(SecondsSince(start), 5.0); // before a second burst
    EXPECT_TRUE(Entries(folder()).empty());
  }
}

// A transfer that falls silent after a second of data ends at the stall limit after its last byte,
// within a second.
TEST_F(FetchTest, SilenceEndsATransferAtTheStallLimit) {
  FetchLimits limits;
  limits.stallSeconds = 2;
  ScopedFetchLimits shortened(limits);
  const auto script = [](loopback::ScriptedConnection& connection) {
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nxar!");
    for (int tenths = 0; tenths < 10; ++tenths) {
      connection.Send(std::string(2048, 's'));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    while (!connection.Stopping())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  // Each fetch has a server of its own: the script holds its connection to the end.
  loopback::ScriptedTlsServer text(script);
  loopback::ScriptedTlsServer file(script);
  ASSERT_TRUE(text.ok() && file.ok());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchText(text.Origin() + "/a").code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_NEAR(SecondsSince(start), 1.0 + 2.0, 1.0);

  start = std::chrono::steady_clock::now();
  const FileFetch fetch = FetchAndPlace(file.Origin() + "/p.pkg", folder() + "/out.pkg");
  EXPECT_EQ(fetch.code, CURLE_OPERATION_TIMEDOUT);
  EXPECT_EQ(DescribeFileFetch(fetch), "no data for 2 s or more");
  EXPECT_NEAR(SecondsSince(start), 1.0 + 2.0, 1.0);
}

TEST_F(FetchTest, RefusedFileKeepsThePreviousOne) {
  WriteFile(Target(), "previous package");
  std::string seen;
  const FileFetch fetch = FetchAndPlace(Url("/package"), Target(), [&seen](const std::string& path) {
    seen = ReadFile(path);
    return false;
  });
  EXPECT_EQ(fetch.outcome, FileFetchOutcome::Refused);
  EXPECT_EQ(seen, Package()); // the check saw the whole answer
  EXPECT_EQ(ReadFile(Target()), "previous package");
  EXPECT_EQ(Entries(folder()), kInstallerAlone);
}

TEST_F(FetchTest, KilledDownloadLeavesNothingForTheNextOne) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\nxar!" + std::string(60000, 'k');
  loopback::ScriptedTlsServer stalled([&head](loopback::ScriptedConnection& connection) {
    connection.Send(head);
    while (!connection.Stopping())
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  ASSERT_TRUE(stalled.ok());
  const std::string target = Target();
  WriteFile(target, "previous package");

  const std::string url = stalled.Origin() + "/p.pkg";
  std::vector<char*> argv = {const_cast<char*>(QUORLEX_FETCH_FILE_CHILD), const_cast<char*>(url.c_str()),
                             const_cast<char*>(target.c_str()), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  // Killed once its temporary file holds part of what the server sent (the stream buffers the rest).
  std::string partial;
  for (int wait = 0; wait < 500 && partial.size() < 4096; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (const std::string& name : Entries(folder()))
      if (name != "Orvandel-installer.pkg")
        partial = ReadFile(folder() + "/" + name);
  }
  ::kill(child, SIGKILL);
  // Dead but not reaped: a zombie counts as dead.
  siginfo_t info{};
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(partial.compare(0, 4, "xar!"), 0);
  ASSERT_EQ(Entries(folder()).size(), 2u);

  const FileFetch fetch = FetchAndPlace(Url("/package"), target);
  EXPECT_TRUE(fetch.ok()) << DescribeFileFetch(fetch);
  EXPECT_EQ(ReadFile(target), Package());
  EXPECT_EQ(Entries(folder()), kInstallerAlone);
  int status = 0;
  ::waitpid(child, &status, 0);
}

TEST_F(FetchTest, TargetThatCannotBeCreatedStartsNoTransfer) {
  const FileFetch fetch = FetchAndPlace(Url("/package"), folder() + "/no-such-folder/Orvandel-installer.pkg");
  EXPECT_EQ(fetch.outcome, FileFetchOutcome::CannotCreate);
  EXPECT_EQ(fetch.systemError, ENOENT);
  EXPECT_EQ(m_server.requests(), 0);
}

} // namespace
