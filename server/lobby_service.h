// The lobby's requests: GET /gnet/gnet.php?opt=ping|add|ref|rem|list with the
// keys game and server, answered as text lines. TLobbyService::Answer is the
// whole request handling without HTTP, so it is tested on a stepped clock;
// TLobbyServer (server/lobby_server.h) serves it over HTTP.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "server/room_registry.h"

constexpr char LOBBY_SERVICE_PATH[] = "/gnet/gnet.php";
constexpr size_t MAX_VALUE_BYTES = 64;

struct TLobbyAnswer {
  int status = 200;
  // Never changed once made: the list body is shared by every answer that
  // carries it until the rooms change and a new one is made.
  std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
};

// The keys of a query text ("a=1&b=2") with percent escapes decoded (the
// program sends its values unescaped; "+" stays "+"). The first of repeated
// keys counts. False, leaving `keys` incomplete, when an escape is invalid or
// a key or value holds a control character or is not valid UTF-8.
bool ParseQueryText(const std::string& query, std::map<std::string, std::string>& keys);
// The address as the program should see it: an IPv4 address mapped into
// IPv6 ("::ffff:1.2.3.4") in its plain form.
std::string PlainAddress(const std::string& address);

// Milliseconds from any fixed origin; steady in service, stepped in tests.
using TLobbyClock = std::function<int64_t()>;

class TLobbyService {
 public:
  explicit TLobbyService(TLobbyClock clock, size_t maxRooms = DEFAULT_MAX_ROOMS);

  // The answer to the query text of a request from `caller`. Thread-safe.
  TLobbyAnswer Answer(const std::string& query, const std::string& caller);

 private:
  TLobbyAnswer Command(const std::string& opt, const std::map<std::string, std::string>& keys,
                       const std::string& caller);
  std::shared_ptr<const std::string> ListBody();

  TLobbyClock _clock;
  std::mutex _mutex;
  TRoomRegistry _registry;
  std::shared_ptr<const std::string> _listBody;
  uint64_t _listVersion = UINT64_MAX;
};

// The clock of a running service: steady milliseconds.
int64_t SteadyMilliSecs();
