// cpp-httplib parses the head and writes the answer, exactly as it does on
// its own sockets; a stream over the head's bytes stands in for the socket.
#include "server/lobby_http.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <httplib.h>

namespace {

// The call of Answer running on this thread, for the library's callbacks.
struct TCall {
  const std::string* peer;
  std::string* log;
  THeadEnd end;
  bool logged = false;
  bool mustClose = false;
};
thread_local TCall* tlsCall = nullptr;

// The head's bytes as the library's stream; what it writes is the answer.
class THeadStream : public httplib::Stream {
 public:
  THeadStream(const char* head, size_t size, THeadEnd end, std::string& answer)
      : _next(head), _end(head + size), _timedOut(end == THeadEnd::TimedOut), _answer(answer) {}

  bool is_readable() const override { return _next < _end; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, size_t size) override {
    // Past the head: a timed-out request reads as a failed read, a cut one
    // as the end of the bytes (the library then sees a cut line).
    if (_next == _end) return _timedOut ? -1 : 0;
    size = std::min(size, static_cast<size_t>(_end - _next));
    std::memcpy(ptr, _next, size);
    _next += size;
    return static_cast<ssize_t>(size);
  }
  ssize_t write(const char* ptr, size_t size) override {
    _answer.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = *tlsCall->peer;
    port = -1;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = -1;
  }
  socket_t socket() const override { return INVALID_SOCKET; }

 private:
  const char* _next;
  const char* _end;
  bool _timedOut;
  std::string& _answer;
};

// The current second as text, formatted once per second and thread.
const std::string& LogTime() {
  thread_local std::time_t second = -1;
  thread_local std::string text;
  std::time_t now = std::time(nullptr);
  if (now != second) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    text = buffer;
    second = now;
  }
  return text;
}

void AppendLogLine(std::string& log, const std::string& peer, const std::string& request,
                   int status, size_t bytes) {
  log += LogTime();
  log += ' ';
  log += LogSafe(PlainAddress(peer));
  log += " \"";
  log += LogSafe(request);
  log += "\" ";
  log += std::to_string(status);
  log += ' ';
  log += std::to_string(bytes);
  log += '\n';
}

// A request with a body: its bytes are not read, so they cannot be trusted
// to start the next request.
bool CarriesBody(const httplib::Request& request) {
  if (request.has_header("Transfer-Encoding")) return true;
  if (!request.has_header("Content-Length")) return false;
  return request.get_header_value("Content-Length") != "0";
}

}  // namespace

size_t RequestHeadSize(const char* data, size_t size) {
  for (const char* at = data; (at = static_cast<const char*>(
                                   std::memchr(at, '\n', size - (at - data)))) != nullptr;) {
    ++at;
    size_t left = size - (at - data);
    if (left >= 1 && at[0] == '\n') return at + 1 - data;
    if (left >= 2 && at[0] == '\r' && at[1] == '\n') return at + 2 - data;
    if (left == 0) break;
  }
  return 0;
}

std::string LogSafe(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string safe;
  safe.reserve(text.size());
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

class TLobbyHttp::TCore : public httplib::Server {
 public:
  explicit TCore(TLobbyService& service) {
    set_keep_alive_max_count(KEEP_ALIVE_REQUESTS);
    set_keep_alive_timeout(KEEP_ALIVE_WAIT_MS / 1000);
    set_pre_routing_handler([&service](const httplib::Request& request, httplib::Response& response) {
      if (CarriesBody(request)) {
        tlsCall->mustClose = true;
        response.status = 400;
        response.set_header("Connection", "close");
        response.set_content("Request body not allowed\n", "text/plain");
        return HandlerResponse::Handled;
      }
      if ((request.method != "GET" && request.method != "HEAD") ||
          request.path != LOBBY_SERVICE_PATH)
        return HandlerResponse::Unhandled;
      size_t question = request.target.find('?');
      TLobbyAnswer answer = service.Answer(
          question == std::string::npos ? std::string() : request.target.substr(question + 1),
          *tlsCall->peer);
      response.status = answer.status;
      response.set_content(std::move(answer.body), "text/plain");
      return HandlerResponse::Handled;
    });
    // A request cut off in its header fields would be answered 400; say why.
    set_error_handler([](const httplib::Request&, httplib::Response& response) {
      if (tlsCall->end == THeadEnd::TimedOut) {
        response.status = 408;
        response.set_content("Request not complete within 10 s\n", "text/plain");
      }
    });
    set_logger([](const httplib::Request& request, const httplib::Response& response) {
      TCall& call = *tlsCall;
      call.logged = true;
      // After a refused request line or header the rest of the bytes cannot
      // be trusted to start a request.
      if (request.method.empty() || response.status == 400 || response.status == 408 ||
          response.status == 414)
        call.mustClose = true;
      AppendLogLine(*call.log, *call.peer,
                    request.method.empty()
                        ? std::string("(unreadable request)")
                        : request.method + " " + request.target + " " + request.version,
                    response.status, response.body.size());
    });
  }

  // Whether the connection may go on after this request.
  bool Run(THeadStream& stream, bool last) {
    bool closed = false;
    bool served = process_request(stream, last, closed, nullptr);
    return served && !closed;
  }
};

TLobbyHttp::TLobbyHttp(TLobbyService& service) : _core(std::make_unique<TCore>(service)) {}

TLobbyHttp::~TLobbyHttp() = default;

TAfterAnswer TLobbyHttp::Answer(const char* head, size_t size, THeadEnd end,
                                const std::string& peer, bool last, std::string& answer,
                                std::string& log) {
  TCall call{&peer, &log, end};
  tlsCall = &call;
  THeadStream stream(head, size, end, answer);
  const bool goOn = _core->Run(stream, last);
  tlsCall = nullptr;
  if (end == THeadEnd::TimedOut && !call.logged) LogCutOff(peer, log);
  if (call.mustClose || end != THeadEnd::Complete) return TAfterAnswer::Drain;
  return goOn && !last ? TAfterAnswer::KeepOpen : TAfterAnswer::Close;
}

void TLobbyHttp::LogCutOff(const std::string& peer, std::string& log) {
  AppendLogLine(log, peer, "(request not complete within 10 s)", 408, 0);
}
