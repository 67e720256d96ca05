// The lines a hosted room writes about how it can be reached: whether the
// lobby took it, whether the local network lists it, and whether the router
// forwards the room port. Plain rules over the modules' outcomes (no
// sockets, no clock): each outcome is said once, when it is known, and said
// again only when it turns.
#pragma once

#include <optional>
#include <vector>

#include "core/text.h"
#include "lobby/lobby_client.h"
#include "lobby/local_room_publisher.h"
#include "lobby/port_forward.h"

// What is known so far about a hosted room's reach.
struct TReachNews {
  std::optional<TLobbyAnswer> lobby;  // the lobby's answer to the announcement, once in
  TLocalRoomPublisher::TState published = TLocalRoomPublisher::PUBLISH_WAITING;
  TForwardStatus forward;
};

class TReachNotes {
 public:
  // `lobbyLocation` is where the lobby is ("host:port"); `gameName` the
  // program's game key.
  TReachNotes(TString lobbyLocation, TString gameName)
      : lobbyLocation_(std::move(lobbyLocation)), gameName_(std::move(gameName)) {}

  // The lines `news` calls for that were not said yet, in the order said,
  // without the stamp and the line break. A lobby that did not take the room
  // is told once the local network's answer is in too, so that the line can
  // say whether people nearby can still find the room.
  std::vector<TString> Take(const TReachNews& news);

 private:
  enum TSaid { SAID_NOTHING, SAID_REACHABLE, SAID_UNREACHABLE };

  TString LobbyLine(TLobbyAnswer answer, bool published) const;
  static TString ForwardLine(const TForwardStatus& forward);

  TString lobbyLocation_;
  TString gameName_;
  bool lobbySaid_ = false;
  TSaid forwardSaid_ = SAID_NOTHING;
};
