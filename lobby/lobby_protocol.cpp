#include "lobby/lobby_protocol.h"

#include <cstdlib>

TLobbyAddress ParseLobbyAddress(const char* value) {
  TLobbyAddress address;
  if (!value || !*value) {
    address.host = address.hostLine = LOBBY_DEFAULT_HOST;
    return address;
  }
  address.hostLine = value;
  size_t colon = address.hostLine.find(':');
  address.host = address.hostLine.substr(0, colon);
  if (address.host.empty()) address.valid = false;
  if (colon == std::string::npos) return address;
  std::string port = address.hostLine.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
    address.valid = false;
    return address;
  }
  address.port = std::atoi(port.c_str());
  if (address.port < 1 || address.port > 65535) address.valid = false;
  return address;
}

TString LobbyEscape(const TString& text) {
  TString escaped;
  escaped.reserve(text.size());
  for (char16_t c : text) {
    if (c == u'&' || c == u'%' || c == u'\'' || c == u'"') continue;
    escaped.push_back(c == u' ' ? u'_' : c);
  }
  return escaped;
}

TString LobbyQuery(const TString& opt, const TString& game, const TString& server) {
  TString query = opt + u"&game=" + LobbyEscape(game);
  if (!server.empty()) query += u"&server=" + LobbyEscape(server);
  return query;
}

std::string LobbyRequestText(const TString& query, const std::string& hostLine) {
  return std::string("GET ") + LOBBY_PATH + "?opt=" + ToBytes(query) + " HTTP/1.0\r\n" +
         "HOST: " + hostLine + "\r\n" + "\r\n";
}

int LobbyIsOk(const TString& line) { return line == u"OK" ? 1 : 0; }

TLobbyListParser::TLobbyListParser(const TString& filter)
    : _key(LobbyEscape(filter)), _filtered(!filter.empty()) {}

void TLobbyListParser::Feed(const TString& line) {
  switch (_field) {
    case 0:
      if (line.empty() || line.compare(0, 2, u"<b") == 0) return;
      _record.game = line;
      _field = 1;
      return;
    case 1:
      _record.server = line;
      _field = 2;
      return;
    default:
      _record.ip = line;
      Keep();
  }
}

void TLobbyListParser::Keep() {
  if (!_filtered || _record.game == _key) {
    auto room = std::make_shared<TGNetServer>();
    room->game = _record.game;
    room->server = _record.server;
    room->ip = _record.ip;
    _rooms.push_back(std::move(room));
  }
  _record = TGNetServer();
  _field = 0;
}

std::vector<TGNetServerRef> TLobbyListParser::Finish() {
  if (_field != 0) Keep();
  return std::move(_rooms);
}

TLobbyLimits& LobbyLimits() {
  static TLobbyLimits limits;
  return limits;
}
