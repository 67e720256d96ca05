// The lobby service on cpp-httplib. The library parses HTTP; this file adds
// what a public service needs on top: a time limit for receiving a whole
// request (the library bounds each read, not the request), a bound on the
// bytes of one request, and one log line per request.
#include "server/lobby_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <httplib.h>
#include <mutex>

namespace {

constexpr size_t MAX_REQUEST_BYTES = 64 * 1024;  // request line and header fields
constexpr int READ_WAIT_MS = 5000;
constexpr int WRITE_WAIT_MS = 5000;
constexpr int KEEP_ALIVE_WAIT_MS = 5000;
constexpr size_t KEEP_ALIVE_REQUESTS = 1000;

using Clock = std::chrono::steady_clock;

int PollFor(int fd, short events, int timeoutMs) {
  pollfd entry{fd, events, 0};
  int ready;
  do {
    ready = poll(&entry, 1, std::max(timeoutMs, 0));
  } while (ready < 0 && errno == EINTR);
  return ready;
}

std::string AddressText(const sockaddr_storage& address, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  port = -1;
  if (address.ss_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  return text;
}

// A connection's stream for the library: reads are buffered, wait at most
// READ_WAIT_MS each and stop at the request's deadline and byte bound.
class TRequestStream : public httplib::Stream {
 public:
  explicit TRequestStream(int fd) : _fd(fd) {}

  // A new request may start: fresh deadline and byte count.
  void BeginRequest() {
    _deadline = Clock::now() + std::chrono::milliseconds(REQUEST_TIME_LIMIT_MS);
    _requestBytes = 0;
    _cutOff = false;
  }
  // Waits (bounded by the keep-alive wait) for the first byte of a request.
  bool AwaitRequest() { return _next < _end || PollFor(_fd, POLLIN, KEEP_ALIVE_WAIT_MS) > 0; }
  bool CutOff() const { return _cutOff; }

  bool is_readable() const override { return _next < _end || WaitReadable(); }
  bool is_writable() const override { return PollFor(_fd, POLLOUT, WRITE_WAIT_MS) > 0; }

  ssize_t read(char* ptr, size_t size) override {
    if (_requestBytes >= MAX_REQUEST_BYTES) return 0;  // the library then sees a cut line
    size = std::min(size, MAX_REQUEST_BYTES - _requestBytes);
    if (_next == _end) {
      if (!WaitReadable()) return -1;
      ssize_t received = recv(_fd, _buffer, sizeof _buffer, 0);
      if (received <= 0) return received;
      _next = 0;
      _end = static_cast<size_t>(received);
    }
    size_t n = std::min(size, _end - _next);
    std::memcpy(ptr, _buffer + _next, n);
    _next += n;
    _requestBytes += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t sent;
    do {
      sent = send(_fd, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip.clear();
    port = -1;
    if (getpeername(_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      ip = AddressText(address, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ip.clear();
    port = -1;
    if (getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      ip = AddressText(address, port);
  }
  socket_t socket() const override { return _fd; }

 private:
  bool WaitReadable() const {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(_deadline - Clock::now()).count();
    if (left <= 0) {
      _cutOff = true;
      return false;
    }
    const int wait = static_cast<int>(std::min<int64_t>(left, READ_WAIT_MS));
    if (PollFor(_fd, POLLIN, wait) > 0) return true;
    if (wait == left) _cutOff = true;  // the request's time ran out, not just this read's
    return false;
  }

  int _fd;
  char _buffer[4096];
  size_t _next = 0, _end = 0;
  Clock::time_point _deadline = Clock::now();
  size_t _requestBytes = 0;
  mutable bool _cutOff = false;
};

// The peer of the connection this worker thread serves, for the log, and
// whether the library could not read its last request.
thread_local std::string tlsPeer;
thread_local bool tlsUnreadable = false;
thread_local bool tlsLogged = false;
thread_local const TRequestStream* tlsStream = nullptr;

// Bytes outside printable ASCII are logged as \xNN, so a request cannot
// forge log lines or send escape sequences to a terminal.
std::string LogSafe(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string safe;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      safe.push_back(static_cast<char>(c));
    } else {
      safe += "\\x";
      safe.push_back(kHex[c >> 4]);
      safe.push_back(kHex[c & 15]);
    }
  }
  return safe;
}

std::string LogTime() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace

class TLobbyServer::THttpServer : public httplib::Server {
 public:
  explicit THttpServer(std::ostream& log) : _log(log) {}

  void Log(const std::string& peer, const std::string& request, int status, size_t bytes) {
    std::string line = LogTime() + " " + LogSafe(PlainAddress(peer)) + " \"" + LogSafe(request) +
                       "\" " + std::to_string(status) + " " + std::to_string(bytes) + "\n";
    std::lock_guard<std::mutex> lock(_logMutex);
    _log << line << std::flush;
  }

 private:
  // Serves one connection: the library's request handling over a stream
  // that bounds each request in time and size.
  bool process_and_close_socket(socket_t sock) override {
    // Header fields and body leave in two writes: without this the body
    // would wait for the peer's delayed acknowledgement on a kept-alive
    // connection.
    int on = 1;
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    TRequestStream stream(sock);
    tlsStream = &stream;
    int port;
    stream.get_remote_ip_and_port(tlsPeer, port);
    bool served = false;
    for (size_t left = KEEP_ALIVE_REQUESTS; left > 0 && svr_sock_ != INVALID_SOCKET; --left) {
      stream.BeginRequest();
      if (!stream.AwaitRequest()) break;
      bool closed = false;
      tlsUnreadable = false;
      tlsLogged = false;
      served = process_request(stream, left == 1, closed, nullptr);
      if (stream.CutOff() && !tlsLogged) Log(tlsPeer, "(request not complete within 10 s)", 408, 0);
      // After a refused request line or header the rest of the bytes cannot
      // be trusted to start a request.
      if (!served || closed || tlsUnreadable) break;
    }
    tlsStream = nullptr;
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
  }

  std::ostream& _log;
  std::mutex _logMutex;
};

TLobbyServer::TLobbyServer(const TLobbyServerOptions& options, TLobbyClock clock,
                           std::ostream& log)
    : _options(options),
      _service(std::make_unique<TLobbyService>(std::move(clock), options.maxRooms)),
      _http(std::make_unique<THttpServer>(log)) {
  THttpServer* http = _http.get();
  const int threads = std::max(options.threads, 1);
  http->set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
  http->set_keep_alive_timeout(KEEP_ALIVE_WAIT_MS / 1000);
  http->new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
  http->Get(LOBBY_SERVICE_PATH, [this](const httplib::Request& request, httplib::Response& response) {
    size_t question = request.target.find('?');
    std::string query = question == std::string::npos ? "" : request.target.substr(question + 1);
    TLobbyAnswer answer = _service->Answer(query, request.remote_addr);
    response.status = answer.status;
    response.set_content(answer.body, "text/plain");
  });
  // A request cut off in its header fields would be answered 400; say why.
  http->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (tlsStream && tlsStream->CutOff()) {
      response.status = 408;
      response.set_content("Request not complete within 10 s\n", "text/plain");
    }
  });
  http->set_logger([http](const httplib::Request& request, const httplib::Response& response) {
    tlsLogged = true;
    tlsUnreadable = request.method.empty() || response.status == 400 || response.status == 408 ||
                    response.status == 414;
    std::string line = request.method.empty() ? std::string("(unreadable request)")
                                              : request.method + " " + request.target + " " +
                                                    request.version;
    http->Log(tlsPeer, line, response.status, response.body.size());
  });
}

TLobbyServer::~TLobbyServer() = default;

bool TLobbyServer::Bind() {
  if (_options.port == 0) {
    _port = _http->bind_to_any_port(_options.address);
    return _port > 0;
  }
  if (!_http->bind_to_port(_options.address, _options.port)) return false;
  _port = _options.port;
  return true;
}

bool TLobbyServer::Serve() { return _http->listen_after_bind(); }

void TLobbyServer::Stop() { _http->stop(); }
