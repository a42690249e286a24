#include "loopback_https.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

namespace {

std::string TlsFile(const char* name) {
  return std::string(QUORLEX_TEST_TLS_DIR) + "/" + name;
}

// Binds a TCP socket to an ephemeral port of 127.0.0.1; returns the socket and writes the port.
int BindLoopback(int* port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  if (socket < 0)
    return -1;
  // Not inherited by the programs the tests start (macOS cannot say so in the socket call).
  ::fcntl(socket, F_SETFD, FD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(socket);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return socket;
}

} // namespace

std::string TestCaFile() {
  return TlsFile("ca.pem");
}
std::string ServerCertificateFile() {
  return TlsFile("server.pem");
}
std::string ServerKeyFile() {
  return TlsFile("server.key");
}

Server::Server(Certificate certificate) : m_tls(true) {
  const bool trusted = certificate == Certificate::Trusted;
  const std::string cert = trusted ? ServerCertificateFile() : TlsFile("untrusted.pem");
  const std::string key = trusted ? ServerKeyFile() : TlsFile("untrusted.key");
  m_server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
  CountRequests();
}

Server::Server() : m_server(std::make_unique<httplib::Server>()) {
  CountRequests();
}

void Server::CountRequests() {
  m_server->set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
    ++m_requests;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  m_server->set_keep_alive_timeout(1);
}

Server::~Server() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shuttingDown = true;
  }
  m_released.notify_all();
  m_server->stop();
  if (m_thread.joinable())
    m_thread.join();
}

bool Server::Start(int port) {
  if (!m_server->is_valid())
    return false;
  if (port == 0) {
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
      return false;
  } else {
    if (!m_server->bind_to_port("127.0.0.1", port))
      return false;
    m_port = port;
  }
  // The socket listens from here on: connections made before the thread runs wait in its backlog.
  m_thread = std::thread([this] {
    m_server->listen_after_bind();
    m_listenEnded = true;
  });
  // stop() does nothing until the serving loop has begun, so a server destroyed right after Start
  // would keep its thread serving forever; wait for the loop.
  while (!m_server->is_running() && !m_listenEnded)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

std::string Server::Origin() const {
  return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port);
}

void Server::Answer(const std::string& path, const std::string& body, const char* type, int status) {
  m_server->Get(
      path, [body, type = std::string(type), status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, type);
      });
}

bool Server::WaitForShutdown() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_released.wait(lock, [this] { return m_shuttingDown; });
  return false;
}

bool Server::ShutdownWithin(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_released.wait_for(lock, timeout, [this] { return m_shuttingDown; });
}

void Server::Stall(httplib::Response& response, const char* type) {
  response.set_chunked_content_provider(type,
                                        [this](size_t, httplib::DataSink&) { return WaitForShutdown(); });
}

SilentListener::SilentListener() {
  m_socket = ListeningSocket(&m_port);
  if (m_socket < 0)
    m_port = 0;
}

SilentListener::~SilentListener() {
  if (m_socket >= 0)
    ::close(m_socket);
}

int ClosedPort() {
  int port = 0;
  const int socket = BindLoopback(&port);
  if (socket < 0)
    return 0;
  // Bound but not listening: connections to it are refused until the port is reused.
  ::close(socket);
  return port;
}

int ListeningSocket(int* port) {
  const int socket = BindLoopback(port);
  if (socket >= 0 && ::listen(socket, 16) != 0) {
    ::close(socket);
    return -1;
  }
  return socket;
}

} // namespace loopback
