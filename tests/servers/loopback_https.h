// Servers on 127.0.0.1 with ephemeral ports for the update client's tests and benchmark: an HTTPS
// server with the test CA's certificate (or one nothing trusts), a plain HTTP server, and a socket
// that accepts TCP connections but never says a word.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace loopback {

// Files made at build time in the build folder's test-tls/.
std::string TestCaFile();
std::string ServerCertificateFile();
std::string ServerKeyFile();

enum class Certificate { Trusted, Untrusted };

// One server on its own thread. Register handlers through server() before Start(); the destructor
// releases every waiting handler, stops the server and joins its thread.
class Server {
public:
  // An HTTPS server presenting the given certificate.
  explicit Server(Certificate certificate);
  // A plain HTTP server.
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  httplib::Server& server() { return *m_server; }
  // Binds an ephemeral port on 127.0.0.1 (or the given one) and serves; false when binding fails.
  bool Start(int port = 0);
  int port() const { return m_port; }
  // "https://127.0.0.1:PORT" or "http://127.0.0.1:PORT".
  std::string Origin() const;
  // Requests that reached any handler so far.
  int requests() const { return m_requests.load(); }

  // Answers every GET of path with the given body, content type and status.
  void Answer(const std::string& path, const std::string& body, const char* type = "text/plain",
              int status = 200);
  // Blocks a handler until the server shuts down (a stalled transfer); false once released.
  bool WaitForShutdown();
  // Waits up to timeout for the server to shut down; true when it does.
  bool ShutdownWithin(std::chrono::milliseconds timeout);
  // A handler's answer of unknown length that sends its headers and then nothing until shutdown.
  void Stall(httplib::Response& response, const char* type = "application/octet-stream");

private:
  void CountRequests();

  std::unique_ptr<httplib::Server> m_server;
  bool m_tls = false;
  int m_port = 0;
  std::thread m_thread;
  std::atomic<int> m_requests{0};
  std::atomic<bool> m_listenEnded{false};
  std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_shuttingDown = false;
};

// Listens on an ephemeral port of 127.0.0.1 and never accepts: the kernel completes the TCP handshake,
// and a TLS client then waits for an answer that never comes.
class SilentListener {
public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return m_port; }

private:
  int m_socket = -1;
  int m_port = 0;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int ClosedPort();

// A TCP socket listening on an ephemeral port of 127.0.0.1, writing the port; -1 when it cannot be made.
int ListeningSocket(int* port);

} // namespace loopback
