#include "app/reach_notes.h"

#include "lobby/room_address.h"
#include "lobby/socket.h"

namespace {

const TString kRoomPort = DecimalText(ROOM_PORT);

}  // namespace

std::vector<TString> TReachNotes::Take(const TReachNews& news) {
  std::vector<TString> lines;
  bool publishKnown = news.published != TLocalRoomPublisher::PUBLISH_WAITING;
  if (!lobbySaid_ && news.lobby && (*news.lobby == LOBBY_OK || publishKnown)) {
    lobbySaid_ = true;
    if (*news.lobby != LOBBY_OK)
      lines.push_back(LobbyLine(*news.lobby, news.published == TLocalRoomPublisher::PUBLISH_DONE));
  }
  TSaid verdict = news.forward.state == FORWARD_ACTIVE   ? SAID_REACHABLE
                  : news.forward.state == FORWARD_FAILED ? SAID_UNREACHABLE
                                                         : forwardSaid_;
  if (verdict != forwardSaid_) {
    forwardSaid_ = verdict;
    lines.push_back(ForwardLine(news.forward));
  }
  return lines;
}

TString TReachNotes::LobbyLine(TLobbyAnswer answer, bool published) const {
  const TString nearby = published ? u"; people on your local network can still find it"
                                   : u"; guests can still join it by this machine's address";
  if (answer == LOBBY_REFUSED)
    return u"The lobby at " + lobbyLocation_ + u" refused to list the room (check that " +
           gameName_ + u" is fully up to date)" +
           (published ? u"" : u", and it could not be announced on your local network") + nearby;
  return u"The room could not be announced to the lobby at " + lobbyLocation_ +
         (published ? u"" : u", nor on your local network") + nearby;
}

TString TReachNotes::ForwardLine(const TForwardStatus& forward) {
  if (forward.state != FORWARD_ACTIVE)
    return u"Guests outside your network may not reach you: forward UDP port " + kRoomPort;
  TString line = u"Port " + kRoomPort + u" forwarded by your router";
  int32_t outside = ParseDottedIp(forward.externalAddress);
  if (outside == 0) return line;
  if (IsPrivateIp(outside))
    return line + u", but its outside address " + FromBytes(forward.externalAddress) +
           u" is behind another router: guests outside your network may not reach you";
  return line + u"; guests outside your network join at " + FromBytes(forward.externalAddress);
}
