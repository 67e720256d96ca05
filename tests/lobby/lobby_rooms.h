// Rooms as the lobby lists them, for the tests of what the browser shows.
#pragma once

#include <memory>

#include "lobby/lobby_protocol.h"

inline TGNetServerRef LobbyRoom(const char16_t* server, const char16_t* ip) {
  auto room = std::make_shared<TGNetServer>();
  room->game = u"ColloquorRC2b";
  room->server = server;
  room->ip = ip;
  return room;
}
