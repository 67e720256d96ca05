#include "server/lobby_service.h"

#include <chrono>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent escapes decoded into `text`; false at an invalid escape.
bool Unescape(const std::string& escaped, std::string& text) {
  text.clear();
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      text.push_back(escaped[i]);
      continue;
    }
    int high = i + 2 < escaped.size() ? HexDigit(escaped[i + 1]) : -1;
    int low = high >= 0 ? HexDigit(escaped[i + 2]) : -1;
    if (low < 0) return false;
    text.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

// Text the list format can carry: no control characters (a CR, LF or zero
// byte would split a record) and well-formed UTF-8 (shortest forms, no
// surrogates, at most U+10FFFF).
bool AcceptableText(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    unsigned char c = bytes[i];
    if (c < 0x80) {
      if (c < 32 || c == 127) return false;
      ++i;
      continue;
    }
    size_t length = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : 2;
    if (c < 0xc2 || c > 0xf4 || i + length > size) return false;
    uint32_t code = c & (0x3f >> (length - 1));
    for (size_t k = 1; k < length; ++k) {
      if ((bytes[i + k] & 0xc0) != 0x80) return false;
      code = code << 6 | (bytes[i + k] & 0x3f);
    }
    static const uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000))
      return false;
    i += length;
  }
  return true;
}

TLobbyAnswer Text(int status, std::string body) {
  return {status, std::make_shared<const std::string>(std::move(body))};
}

TLobbyAnswer Refuse(int status, const std::string& reason) { return Text(status, reason + "\n"); }

const std::string* Find(const std::map<std::string, std::string>& keys, const char* key) {
  auto found = keys.find(key);
  return found == keys.end() ? nullptr : &found->second;
}

}  // namespace

bool ParseQueryText(const std::string& query, std::map<std::string, std::string>& keys) {
  keys.clear();
  std::string key, value;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    const std::string pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    if (!Unescape(pair.substr(0, equals), key) ||
        !Unescape(equals == std::string::npos ? std::string() : pair.substr(equals + 1), value) ||
        !AcceptableText(key) || !AcceptableText(value))
      return false;
    keys.emplace(key, value);
  }
  return true;
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
  std::map<std::string, std::string> keys;
  if (!ParseQueryText(query, keys)) return Refuse(400, "Bad query");
  const std::string* opt = Find(keys, "opt");
  if (!opt) return Refuse(400, "Missing opt");
  const std::string address = PlainAddress(caller);
  if (*opt == "ping") return Text(200, address + "\n");
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
  if (game->size() > MAX_VALUE_BYTES || game->compare(0, 2, "<b") == 0)
    return Refuse(400, "Bad game");
  if (opt == "rem") {
    _registry.Remove(*game, caller, _clock());
    return Text(200, "OK\n");
  }
  const std::string* server = Find(keys, "server");
  if (!server) return Refuse(400, "Missing server");
  if (server->size() > MAX_VALUE_BYTES) return Refuse(400, "Bad server");
  switch (_registry.Put(*game, *server, caller, _clock())) {
    case TRoomResult::Ok:
      return Text(200, "OK\n");
    case TRoomResult::TooManyFromAddress:
      return Refuse(429, "Too many rooms from this address");
    case TRoomResult::Full:
      return Refuse(403, "The lobby is full");
  }
  return Refuse(500, "Internal error");
}

std::shared_ptr<const std::string> TLobbyService::ListBody() {
  const int64_t now = _clock();
  _registry.Expire(now);
  if (_registry.Version() == _listVersion) return _listBody;
  // A new string, not the old one changed: answers still being sent hold it.
  auto body = std::make_shared<std::string>();
  for (const TRoom& room : _registry.Live(now))
    *body += room.game + "\n" + room.name + "\n" + room.address + "\n";
  _listBody = std::move(body);
  _listVersion = _registry.Version();
  return _listBody;
}
