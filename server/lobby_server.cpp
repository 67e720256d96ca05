// One libevent loop per thread; every loop accepts from the one listening
// socket and keeps the connections it accepted. A connection is always in
// one state, and its timer holds that state's limit:
//   waiting   no byte of the next request yet: closed after KEEP_ALIVE_WAIT_MS
//   reading   part of a request: 408 at REQUEST_TIME_LIMIT_MS from its start
//             (the connection's start or the previous answer)
//   sending   answers the peer does not take: closed after SEND_WAIT_MS
//             without progress
//   draining  refused and answered: what still arrives is dropped until the
//             peer closes, DRAIN_WAIT_MS or DRAIN_BYTES, so the close does not
//             reset the connection before the answer is read
#include "server/lobby_server.h"

#include <arpa/inet.h>
#include <event2/event.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include "server/accept_deferral.h"
#include "server/lobby_http.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SEND_WAIT_MS = 5000;
constexpr int DRAIN_WAIT_MS = 2000;
constexpr size_t DRAIN_BYTES = 64 * 1024;
// Pipelined requests wait while this much of their answers is unsent.
constexpr size_t ANSWER_HIGH_WATER = 256 * 1024;
constexpr int ACCEPT_PAUSE_MS = 100;  // after running out of descriptors
constexpr int MAX_LOOPS = 16;
constexpr int MAX_SEND_PIECES = 16;  // iovecs per sendmsg

timeval TimeVal(int64_t ms) {
  ms = std::max<int64_t>(ms, 0);
  return {static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
}

std::string PeerText(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET)
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
  else if (address.ss_family == AF_INET6)
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr, text,
              sizeof text);
  return text;
}

int LoopCount(int requested) {
  if (requested > 0) return std::min(requested, MAX_LOOPS);
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
  return std::clamp(CPU_COUNT(&cpus), 1, MAX_LOOPS);
}

}  // namespace

class TLobbyServer::TLoop {
 public:
  explicit TLoop(TLobbyServer& server);
  ~TLoop();
  void Listen(int fd);
  // Serves until Wake.
  void Run();
  // Any thread.
  void Wake();

 private:
  class TConnection;
  static void OnAcceptable(evutil_socket_t, short, void* loop);
  static void OnResumeAccept(evutil_socket_t, short, void* loop);
  static void OnWake(evutil_socket_t, short, void* loop);
  static void OnFlush(evutil_socket_t, short, void* loop);
  void Accept();
  // The lines not yet written; they are written once this pass of the
  // loop has handled its events.
  std::string& LogLines();
  void CloseAll();

  TLobbyServer& _server;
  event_base* _base = nullptr;
  event* _accept = nullptr;
  event* _resumeAccept = nullptr;
  event* _wake = nullptr;
  event* _flush = nullptr;
  int _listenFd = -1;
  int _wakeFd = -1;
  std::string _logLines;
  std::unordered_set<TConnection*> _connections;
  char _readBuffer[16384];
};

class TLobbyServer::TLoop::TConnection {
 public:
  TConnection(TLoop& loop, int fd, std::string peer);
  ~TConnection();
  // Reads what arrived with the connection; whether its request had begun
  // to arrive.
  bool Start() { return Read(); }

 private:
  enum class TState { Waiting, Reading, Sending, Draining };
  static void OnReadable(evutil_socket_t, short, void* connection);
  static void OnWritable(evutil_socket_t, short, void* connection);
  static void OnTimer(evutil_socket_t, short, void* connection);
  // Each of these may end in Close(), which deletes the connection.
  // Read says whether any bytes came.
  bool Read();
  void Progress();
  void Close();
  // Answers the complete heads read; true when it stopped for the unsent
  // answers with bytes of requests left.
  bool AnswerHeads();
  void AnswerOne(const char* head, size_t size, THeadEnd end);
  bool SendPending();
  void Settle();
  void Enter(TState state, Clock::time_point deadline);
  void Want(event* which, bool wanted);

  TLoop& _loop;
  int _fd;
  std::string _peer;
  event* _readable;
  event* _writable;
  event* _timer;
  bool _reading = false, _writing = false;
  TState _state = TState::Waiting;
  Clock::time_point _deadline{};
  Clock::time_point _requestStart = Clock::now();
  std::string _in;
  TAnswerQueue _out;
  size_t _requests = 0;
  size_t _dropped = 0;
  bool _peerDone = false;  // the peer sends nothing more
  TAfterAnswer _after = TAfterAnswer::KeepOpen;
};

// --- connections ---

TLobbyServer::TLoop::TConnection::TConnection(TLoop& loop, int fd, std::string peer)
    : _loop(loop),
      _fd(fd),
      _peer(std::move(peer)),
      _readable(event_new(loop._base, fd, EV_READ | EV_PERSIST, OnReadable, this)),
      _writable(event_new(loop._base, fd, EV_WRITE | EV_PERSIST, OnWritable, this)),
      _timer(evtimer_new(loop._base, OnTimer, this)) {
  if (!_readable || !_writable || !_timer) throw std::runtime_error("Out of lobby events");
}

TLobbyServer::TLoop::TConnection::~TConnection() {
  event_free(_readable);
  event_free(_writable);
  event_free(_timer);
  close(_fd);
}

void TLobbyServer::TLoop::TConnection::OnReadable(evutil_socket_t, short, void* connection) {
  static_cast<TConnection*>(connection)->Read();
}

void TLobbyServer::TLoop::TConnection::OnWritable(evutil_socket_t, short, void* connection) {
  static_cast<TConnection*>(connection)->Progress();
}

void TLobbyServer::TLoop::TConnection::OnTimer(evutil_socket_t, short, void* connection) {
  auto* self = static_cast<TConnection*>(connection);
  if (self->_state != TState::Reading) return self->Close();
  self->AnswerOne(self->_in.data(), self->_in.size(), THeadEnd::TimedOut);
  self->_in.clear();
  self->Progress();
}

bool TLobbyServer::TLoop::TConnection::Read() {
  char* buffer = _loop._readBuffer;
  const size_t capacity = sizeof _loop._readBuffer;
  bool received = false;
  while (_in.size() < MAX_REQUEST_BYTES) {
    ssize_t size = recv(_fd, buffer, capacity, 0);
    if (size < 0 && errno == EINTR) continue;
    if (size < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (size < 0) {
      Close();
      return received;
    }
    if (size == 0) {
      _peerDone = true;
      break;
    }
    received = true;
    if (_state == TState::Draining) {
      _dropped += static_cast<size_t>(size);
      if (_dropped > DRAIN_BYTES) {
        Close();
        return received;
      }
      continue;
    }
    _in.append(buffer, static_cast<size_t>(size));
    if (static_cast<size_t>(size) < capacity) break;  // most likely all there is
  }
  if (_state == TState::Draining) {
    if (_peerDone) Close();
    return received;
  }
  Progress();
  return received;
}

void TLobbyServer::TLoop::TConnection::Progress() {
  bool heldBack = false;
  do {  // requests held back go on once the answers before them are out
    heldBack = _state != TState::Draining && AnswerHeads();
    if (!SendPending()) return Close();
  } while (heldBack && _out.Empty());
  Settle();
}

bool TLobbyServer::TLoop::TConnection::AnswerHeads() {
  size_t consumed = 0;
  bool heldBack = false;
  while (_after == TAfterAnswer::KeepOpen) {
    if (_out.Size() >= ANSWER_HIGH_WATER) {
      heldBack = consumed < _in.size();
      break;
    }
    const char* data = _in.data() + consumed;
    const size_t available = _in.size() - consumed;
    size_t size = RequestHeadSize(data, std::min(available, MAX_REQUEST_BYTES));
    THeadEnd end = THeadEnd::Complete;
    if (size == 0) {
      if (available < MAX_REQUEST_BYTES && !(_peerDone && available > 0)) break;
      size = std::min(available, MAX_REQUEST_BYTES);
      end = THeadEnd::Cut;
    }
    AnswerOne(data, size, end);
    consumed += size;
  }
  _in.erase(0, consumed);
  return heldBack;
}

void TLobbyServer::TLoop::TConnection::AnswerOne(const char* head, size_t size, THeadEnd end) {
  ++_requests;
  _after = _loop._server._http->Answer(head, size, end, _peer, _requests >= KEEP_ALIVE_REQUESTS,
                                       _out, _loop.LogLines());
  _requestStart = Clock::now();
}

bool TLobbyServer::TLoop::TConnection::SendPending() {
  // An answer after which the connection closes is held back for the FIN
  // the close adds to it, so both leave in one segment. Not when more bytes
  // came from the peer: closing with unread bytes resets the connection and
  // would drop the held answer.
  const bool closing = _after != TAfterAnswer::KeepOpen && _in.empty();
  while (!_out.Empty()) {
    iovec pieces[MAX_SEND_PIECES];
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = static_cast<size_t>(_out.Gather(pieces, MAX_SEND_PIECES));
    ssize_t sent = sendmsg(_fd, &message, MSG_NOSIGNAL | (closing ? MSG_MORE : 0));
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The peer is slow to take the rest: what is held goes out now, so
      // its acknowledgements make room.
      int on = 1;
      if (closing) setsockopt(_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return true;
    }
    if (sent < 0) return false;
    _out.Consume(static_cast<size_t>(sent));
    _deadline = {};  // progress: the send wait starts again
  }
  return true;
}

// Picks the state that follows from the buffers and arms its limit.
void TLobbyServer::TLoop::TConnection::Settle() {
  const Clock::time_point now = Clock::now();
  const bool unsent = !_out.Empty();
  Want(_writable, unsent);
  if (unsent) {
    Want(_readable, false);  // no further requests until the peer takes its answers
    if (_state != TState::Sending || _deadline == Clock::time_point{})
      Enter(TState::Sending, now + std::chrono::milliseconds(SEND_WAIT_MS));
    return;
  }
  if (_state == TState::Draining) return;
  if (_after == TAfterAnswer::Drain && !_peerDone) {
    _in.clear();
    shutdown(_fd, SHUT_WR);
    Want(_readable, true);
    return Enter(TState::Draining, now + std::chrono::milliseconds(DRAIN_WAIT_MS));
  }
  if (_after != TAfterAnswer::KeepOpen || (_peerDone && _in.empty())) return Close();
  Want(_readable, !_peerDone);
  if (_in.empty())
    Enter(TState::Waiting, _requestStart + std::chrono::milliseconds(KEEP_ALIVE_WAIT_MS));
  else
    Enter(TState::Reading, _requestStart + std::chrono::milliseconds(REQUEST_TIME_LIMIT_MS));
}

void TLobbyServer::TLoop::TConnection::Enter(TState state, Clock::time_point deadline) {
  _state = state;
  if (deadline == _deadline) return;
  _deadline = deadline;
  const timeval wait = TimeVal(
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
  evtimer_add(_timer, &wait);
}

void TLobbyServer::TLoop::TConnection::Want(event* which, bool wanted) {
  bool& now = which == _readable ? _reading : _writing;
  if (now == wanted) return;
  now = wanted;
  if (wanted)
    event_add(which, nullptr);
  else
    event_del(which);
}

void TLobbyServer::TLoop::TConnection::Close() {
  _loop._connections.erase(this);
  delete this;
}

// --- loops ---

TLobbyServer::TLoop::TLoop(TLobbyServer& server) : _server(server) {
  // Each base is used by its own thread only; the wake-up descriptor is the
  // one way in from others.
  event_config* config = event_config_new();
  if (config) event_config_set_flag(config, EVENT_BASE_FLAG_NOLOCK);
  _base = config ? event_base_new_with_config(config) : nullptr;
  if (config) event_config_free(config);
  _wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (_base) {
    _wake = event_new(_base, _wakeFd, EV_READ | EV_PERSIST, OnWake, this);
    _flush = event_new(_base, -1, 0, OnFlush, this);
    _resumeAccept = evtimer_new(_base, OnResumeAccept, this);
  }
  if (!_base || _wakeFd < 0 || !_wake || !_flush || !_resumeAccept || event_add(_wake, nullptr) != 0)
    throw std::runtime_error("Cannot create the lobby's event loop");
}

TLobbyServer::TLoop::~TLoop() {
  CloseAll();
  for (event* each : {_accept, _resumeAccept, _wake, _flush})
    if (each) event_free(each);
  event_base_free(_base);
  close(_wakeFd);
}

void TLobbyServer::TLoop::Listen(int fd) {
  _listenFd = fd;
  _accept = event_new(_base, fd, EV_READ | EV_PERSIST, OnAcceptable, this);
  if (!_accept || event_add(_accept, nullptr) != 0)
    throw std::runtime_error("Cannot create the lobby's event loop");
}

void TLobbyServer::TLoop::Run() {
  event_base_dispatch(_base);
  CloseAll();
  if (!_logLines.empty()) _server.WriteLog(_logLines);
  _logLines.clear();
}

void TLobbyServer::TLoop::Wake() {
  const uint64_t one = 1;
  ssize_t written = write(_wakeFd, &one, sizeof one);
  (void)written;  // a full counter already wakes the loop
}

void TLobbyServer::TLoop::OnAcceptable(evutil_socket_t, short, void* loop) {
  static_cast<TLoop*>(loop)->Accept();
}

void TLobbyServer::TLoop::OnResumeAccept(evutil_socket_t, short, void* loop) {
  event_add(static_cast<TLoop*>(loop)->_accept, nullptr);
}

void TLobbyServer::TLoop::OnWake(evutil_socket_t fd, short, void* loop) {
  uint64_t count;
  ssize_t got = read(fd, &count, sizeof count);
  (void)got;
  event_base_loopbreak(static_cast<TLoop*>(loop)->_base);
}

void TLobbyServer::TLoop::OnFlush(evutil_socket_t, short, void* loop) {
  auto* self = static_cast<TLoop*>(loop);
  self->_server.WriteLog(self->_logLines);
  self->_logLines.clear();
}

std::string& TLobbyServer::TLoop::LogLines() {
  if (_logLines.empty()) event_active(_flush, EV_TIMEOUT, 0);
  return _logLines;
}

// One connection per wake-up: the listening socket wakes the loop again
// while more are waiting, and trying for a second one mostly finds none.
void TLobbyServer::TLoop::Accept() {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int fd = accept4(_listenFd, reinterpret_cast<sockaddr*>(&address), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: pending clients wait in the backlog a moment
        // instead of waking this loop again at once.
        event_del(_accept);
        const timeval pause = TimeVal(ACCEPT_PAUSE_MS);
        evtimer_add(_resumeAccept, &pause);
      }
      return;
    }
    auto* connection = new TConnection(*this, fd, PeerText(address));
    _connections.insert(connection);
    _server.Accepted(connection->Start());  // the request is often there already
    return;
  }
}

void TLobbyServer::TLoop::CloseAll() {
  for (TConnection* connection : _connections) delete connection;
  _connections.clear();
}

// --- the server ---

TLobbyServer::TLobbyServer(const TLobbyServerOptions& options, TLobbyClock clock,
                           std::ostream& log)
    : _options(options),
      _service(std::make_unique<TLobbyService>(std::move(clock), options.maxRooms)),
      _http(std::make_unique<TLobbyHttp>(*_service)),
      _deferral(std::make_unique<TAcceptDeferral>()),
      _log(log) {
  for (int i = LoopCount(options.threads); i > 0; --i)
    _loops.push_back(std::make_unique<TLoop>(*this));
}

TLobbyServer::~TLobbyServer() {
  _loops.clear();
  if (_listenFd >= 0) close(_listenFd);
}

bool TLobbyServer::Bind() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(_options.port);
  if (int failed = getaddrinfo(_options.address.c_str(), port.c_str(), &hints, &found)) {
    _bindError = gai_strerror(failed);
    return false;
  }
  int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  // SO_REUSEADDR lets a restart bind while old connections linger; no
  // SO_REUSEPORT, so a second process cannot share the port.
  // Accepted sockets inherit TCP_NODELAY: answers leave in one send, and
  // the last part of a long one must not wait for a delayed acknowledgement.
  int on = 1;
  bool bound = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
               setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0 &&
               bind(fd, found->ai_addr, found->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0;
  const int error = errno;
  freeaddrinfo(found);
  if (!bound) {
    _bindError = error == EADDRINUSE ? "the port is in use by another process"
                                     : std::strerror(error);
    if (fd >= 0) close(fd);
    return false;
  }
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  _port = ntohs(address.ss_family == AF_INET6
                    ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                    : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  _listenFd = fd;
  for (auto& loop : _loops) loop->Listen(fd);
  return true;
}

bool TLobbyServer::Serve() {
  if (_listenFd < 0) return false;
  std::vector<std::thread> threads;
  for (size_t i = 1; i < _loops.size(); ++i) threads.emplace_back(&TLoop::Run, _loops[i].get());
  _loops[0]->Run();
  for (std::thread& thread : threads) thread.join();
  return true;
}

void TLobbyServer::Stop() {
  for (auto& loop : _loops) loop->Wake();
}

void TLobbyServer::Accepted(bool requestThere) {
  std::lock_guard<std::mutex> lock(_deferralMutex);
  if (!_deferral->Accepted(requestThere)) return;
  // Failing leaves the kernel as it was: a cost, never a fault.
  const int seconds = _deferral->Holding() ? DEFERRAL_SECONDS : 0;
  setsockopt(_listenFd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
}

void TLobbyServer::WriteLog(const std::string& lines) {
  std::lock_guard<std::mutex> lock(_logMutex);
  _log.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  _log.flush();
}
