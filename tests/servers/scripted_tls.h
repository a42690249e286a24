// An HTTPS server on 127.0.0.1 that answers every request with bytes the test writes itself, for
// answers a regular server will not send: no length and a close for an end, a transfer coding the
// client did not ask for, a trickle. It presents the test CA's server certificate.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace loopback {

// One accepted connection after the TLS handshake and the request's header block.
class ScriptedConnection {
public:
  virtual ~ScriptedConnection() = default;
  // Writes all bytes; false once the client is gone or the server stops.
  virtual bool Send(const std::string& bytes) = 0;
  // True once the server is being destroyed; scripts that wait poll it.
  virtual bool Stopping() const = 0;
};

class ScriptedTlsServer {
public:
  // script runs once per connection, on the server's thread; returning closes the connection (TLS
  // close notify, then the socket).
  using Script = std::function<void(ScriptedConnection&)>;
  explicit ScriptedTlsServer(Script script);
  ~ScriptedTlsServer();
  ScriptedTlsServer(const ScriptedTlsServer&) = delete;
  ScriptedTlsServer& operator=(const ScriptedTlsServer&) = delete;

  // False when the port or the TLS set-up could not be made.
  bool ok() const { return m_port != 0; }
  int port() const { return m_port; }
  std::string Origin() const { return "https://127.0.0.1:" + std::to_string(m_port); }
  int connections() const { return m_connections.load(); }

private:
  void Serve();

  Script m_script;
  struct Tls;
  std::unique_ptr<Tls> m_tls;
  int m_socket = -1;
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_connections{0};
  std::thread m_thread;
};

} // namespace loopback
