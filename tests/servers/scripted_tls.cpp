#include "scripted_tls.h"

#include "loopback_https.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace loopback {

namespace {

struct ContextFree {
  void operator()(SSL_CTX* context) const noexcept { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};

class Connection final : public ScriptedConnection {
public:
  Connection(SSL* ssl, const std::atomic<bool>& stopping) : m_ssl(ssl), m_stopping(stopping) {}
  bool Send(const std::string& bytes) override {
    std::size_t sent = 0;
    while (sent < bytes.size() && !m_stopping) {
      const int written = SSL_write(m_ssl, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
      if (written <= 0)
        return false;
      sent += static_cast<std::size_t>(written);
    }
    return sent == bytes.size();
  }
  bool Stopping() const override { return m_stopping; }

private:
  SSL* m_ssl;
  const std::atomic<bool>& m_stopping;
};

// Reads the request up to the blank line that ends its headers; false when the client went away.
bool ReadRequestHead(SSL* ssl) {
  std::string head;
  char buffer[1024];
  while (head.find("\r\n\r\n") == std::string::npos) {
    const int got = SSL_read(ssl, buffer, sizeof buffer);
    if (got <= 0)
      return false;
    head.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

} // namespace

struct ScriptedTlsServer::Tls {
  std::unique_ptr<SSL_CTX, ContextFree> context;
};

ScriptedTlsServer::ScriptedTlsServer(Script script)
    : m_script(std::move(script)), m_tls(std::make_unique<Tls>()) {
  // A client that hangs up mid-answer must fail a write, not end the test process.
  std::signal(SIGPIPE, SIG_IGN);
  m_tls->context.reset(SSL_CTX_new(TLS_server_method()));
  if (!m_tls->context ||
      SSL_CTX_use_certificate_chain_file(m_tls->context.get(), ServerCertificateFile().c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(m_tls->context.get(), ServerKeyFile().c_str(), SSL_FILETYPE_PEM) != 1)
    return;
  int port = 0;
  m_socket = ListeningSocket(&port);
  if (m_socket < 0)
    return;
  m_port = port;
  m_thread = std::thread([this] { Serve(); });
}

ScriptedTlsServer::~ScriptedTlsServer() {
  m_stopping = true;
  if (m_thread.joinable())
    m_thread.join();
  if (m_socket >= 0)
    ::close(m_socket);
}

void ScriptedTlsServer::Serve() {
  while (!m_stopping) {
    pollfd waiting{m_socket, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0)
      continue;
    const int client = ::accept(m_socket, nullptr, nullptr);
    if (client < 0)
      continue;
    ::fcntl(client, F_SETFD, FD_CLOEXEC);
    ++m_connections;
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(m_tls->context.get()));
    if (ssl && SSL_set_fd(ssl.get(), client) == 1 && SSL_accept(ssl.get()) == 1 &&
        ReadRequestHead(ssl.get())) {
      Connection connection(ssl.get(), m_stopping);
      m_script(connection);
      SSL_shutdown(ssl.get());
    }
    ssl.reset();
    ::close(client);
  }
}

} // namespace loopback
