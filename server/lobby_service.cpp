#include "server/lobby_service.h"

#include <chrono>

namespace {

// Values the list format can carry: no control bytes (a CR, LF or zero byte
// would split a record) and at most MAX_VALUE_BYTES.
bool Printable(const std::string& value) {
  for (unsigned char c : value)
    if (c < 32 || c == 127) return false;
  return true;
}

TLobbyAnswer Refuse(int status, const std::string& reason) { return {status, reason + "\n"}; }

const std::string* Find(const std::map<std::string, std::string>& keys, const char* key) {
  auto found = keys.find(key);
  return found == keys.end() ? nullptr : &found->second;
}

}  // namespace

std::map<std::string, std::string> ParseQueryText(const std::string& query) {
  std::map<std::string, std::string> keys;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string pair = query.substr(start, end - start);
    size_t equals = pair.find('=');
    if (!pair.empty())
      keys.emplace(pair.substr(0, equals),
                   equals == std::string::npos ? std::string() : pair.substr(equals + 1));
    start = end + 1;
  }
  return keys;
}

std::string PlainAddress(const std::string& address) {
  static const std::string kMapped = "::ffff:";
  if (address.compare(0, kMapped.size(), kMapped) == 0 &&
      address.find('.') != std::string::npos)
    return address.substr(kMapped.size());
  return address;
}

int64_t SteadyMilliSecs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TLobbyService::TLobbyService(TLobbyClock clock, size_t maxRooms)
    : _clock(std::move(clock)), _registry(maxRooms) {}

TLobbyAnswer TLobbyService::Answer(const std::string& query, const std::string& caller) {
  const std::map<std::string, std::string> keys = ParseQueryText(query);
  const std::string* opt = Find(keys, "opt");
  if (!opt) return Refuse(400, "Missing opt");
  const std::string address = PlainAddress(caller);
  if (*opt == "ping") return {200, address + "\n"};
  std::lock_guard<std::mutex> lock(_mutex);
  if (*opt == "list") return {200, ListBody()};
  if (*opt == "add" || *opt == "ref" || *opt == "rem") return Command(*opt, keys, address);
  return Refuse(400, "Unknown opt");
}

TLobbyAnswer TLobbyService::Command(const std::string& opt,
                                    const std::map<std::string, std::string>& keys,
                                    const std::string& caller) {
  const std::string* game = Find(keys, "game");
  if (!game || game->empty()) return Refuse(400, "Missing game");
  // A game key starting with "<b" would be skipped by the program's list reader.
  if (game->size() > MAX_VALUE_BYTES || !Printable(*game) || game->compare(0, 2, "<b") == 0)
    return Refuse(400, "Bad game");
  if (opt == "rem") {
    _registry.Remove(*game, caller, _clock());
    return {200, "OK\n"};
  }
  const std::string* server = Find(keys, "server");
  if (!server) return Refuse(400, "Missing server");
  if (server->size() > MAX_VALUE_BYTES || !Printable(*server)) return Refuse(400, "Bad server");
  switch (_registry.Put(*game, *server, caller, _clock())) {
    case TRoomResult::Ok:
      return {200, "OK\n"};
    case TRoomResult::TooManyFromAddress:
      return Refuse(429, "Too many rooms from this address");
    case TRoomResult::Full:
      return Refuse(403, "The lobby is full");
  }
  return Refuse(500, "Internal error");
}

std::string TLobbyService::ListBody() {
  const int64_t now = _clock();
  _registry.Expire(now);
  if (_registry.Version() == _listVersion) return _listBody;
  _listBody.clear();
  for (const TRoom& room : _registry.Live(now))
    _listBody += room.game + "\n" + room.name + "\n" + room.address + "\n";
  _listVersion = _registry.Version();
  return _listBody;
}
