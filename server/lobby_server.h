// The lobby service over HTTP on cpp-httplib: binds, serves until stopped,
// and writes one log line per request. Construct, Bind and Serve on one
// thread; Stop may come from any thread. The log stream must outlive the
// server; lines are written whole, one at a time, from the worker threads.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "server/lobby_service.h"

// A request must have arrived completely this long after the connection was
// made (or the previous answer sent); a slower client is cut off, so one
// slow caller cannot hold a worker thread.
constexpr int REQUEST_TIME_LIMIT_MS = 10000;

struct TLobbyServerOptions {
  std::string address = "0.0.0.0";
  int port = 80;
  size_t maxRooms = DEFAULT_MAX_ROOMS;
  int threads = 32;
};

class TLobbyServer {
 public:
  TLobbyServer(const TLobbyServerOptions& options, TLobbyClock clock, std::ostream& log);
  ~TLobbyServer();

  // Binds the address and port (port 0: any free port); false on failure.
  bool Bind();
  int Port() const { return _port; }
  // Serves until Stop(); false when it could not.
  bool Serve();
  // Any thread; Serve returns soon after.
  void Stop();

 private:
  class THttpServer;
  TLobbyServerOptions _options;
  std::unique_ptr<TLobbyService> _service;
  std::unique_ptr<THttpServer> _http;
  int _port = 0;
};
