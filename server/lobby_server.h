// The lobby service over HTTP: event loops on libevent hold the connections
// (an idle or slow one costs memory only, never a thread), each request is
// answered by server/lobby_http.h, and one log line is written per request.
// While many clients connect at once, new connections wait in the kernel
// until their requests arrive (server/accept_deferral.h). Construct, Bind
// and Serve on one thread; Stop may come from any thread, also before Serve.
// The log stream must outlive the server; lines reach it in whole lines, a
// loop's lines at a time.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "server/lobby_service.h"

// A request must have arrived completely this long after the connection was
// made (or the previous answer sent); a slower client gets 408 and is cut
// off.
constexpr int REQUEST_TIME_LIMIT_MS = 10000;

struct TLobbyServerOptions {
  std::string address = "0.0.0.0";
  int port = 80;
  size_t maxRooms = DEFAULT_MAX_ROOMS;
  int threads = 0;  // event loops; 0: one per CPU this process may run on
};

class TAcceptDeferral;
class TLobbyHttp;

class TLobbyServer {
 public:
  TLobbyServer(const TLobbyServerOptions& options, TLobbyClock clock, std::ostream& log);
  ~TLobbyServer();

  // Binds the address and port (port 0: any free port) for this process
  // alone; false on failure, with BindError() saying why.
  bool Bind();
  const std::string& BindError() const { return _bindError; }
  int Port() const { return _port; }
  // Serves until Stop(); false when not bound.
  bool Serve();
  // Any thread; Serve returns soon after, every log line written.
  void Stop();

 private:
  class TLoop;
  // Any loop, after accepting a connection; `requestThere` whether its
  // request had begun to arrive. Tells the kernel whether to hold the next
  // ones until their requests arrive (server/accept_deferral.h).
  void Accepted(bool requestThere);
  void WriteLog(const std::string& lines);

  TLobbyServerOptions _options;
  std::unique_ptr<TLobbyService> _service;
  std::unique_ptr<TLobbyHttp> _http;
  std::mutex _deferralMutex;
  std::unique_ptr<TAcceptDeferral> _deferral;
  std::ostream& _log;
  std::mutex _logMutex;
  std::vector<std::unique_ptr<TLoop>> _loops;
  int _listenFd = -1;
  int _port = 0;
  std::string _bindError;
};
