// HTTP for the lobby service without sockets: the bytes of one request head
// go in, the bytes of its answer and its log line come out. The event loops
// of server/lobby_server.cpp gather the heads and send the answers. One
// TLobbyHttp serves every loop thread; Answer may run on several at once.
#pragma once

#include <string>

#include "server/answer_queue.h"
#include "server/http_request.h"
#include "server/lobby_service.h"

// Bytes of a request head (request line and header fields) we read at most;
// a longer one is refused.
constexpr size_t MAX_REQUEST_BYTES = 64 * 1024;

// Bytes outside printable ASCII (and the backslash) as \xNN, so a request
// cannot forge log lines or send escape sequences to a terminal.
std::string LogSafe(const std::string& text);

// How the head handed to Answer ends.
enum class THeadEnd {
  Complete,  // at its empty line
  TimedOut,  // where the request's time ran out
  Cut,       // at MAX_REQUEST_BYTES, or where the client stopped sending
};

// What becomes of the connection after an answer.
enum class TAfterAnswer {
  KeepOpen,  // it may carry another request
  Close,     // the client asked for it, or this was its last request
  Drain,     // refused: close once the answer is out, dropping what still arrives
};

class TLobbyHttp {
 public:
  explicit TLobbyHttp(TLobbyService& service) : _service(service) {}

  // Answers the head (`size` bytes at `head`) from `peer`, an address as
  // text, `last` when the connection may carry no further request. Appends
  // the answer to `answer` and one log line to `log`.
  TAfterAnswer Answer(const char* head, size_t size, THeadEnd end, const std::string& peer,
                      bool last, TAnswerQueue& answer, std::string& log);

 private:
  TLobbyService& _service;
};
