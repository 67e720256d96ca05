#include "lobby/room_list.h"

#include <algorithm>

#include "lobby/room_address.h"

namespace {

bool Contains(const std::vector<TString>& texts, const TString& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A local room under the name the lobby would list it by.
bool NamedAsLocalRoom(const TString& lobbyName, const std::vector<TLocalRoom>& localRooms) {
  return std::any_of(localRooms.begin(), localRooms.end(), [&](const TLocalRoom& room) {
    return room.sameGame && LobbyEscape(FromBytes(room.name)) == lobbyName;
  });
}

}  // namespace

std::vector<TListedRoom> ShownRooms(const std::vector<TGNetServerRef>& lobbyRooms,
                                    const std::vector<TString>& silentAddresses,
                                    const std::vector<TLocalRoom>& localRooms,
                                    const TString& ownAddress, int roomPort) {
  std::vector<TGNetServerRef> kept;
  for (const TGNetServerRef& room : lobbyRooms) {
    if (!room || Contains(silentAddresses, room->ip)) continue;
    bool behindOwnRouter = !ownAddress.empty() && room->ip == ownAddress;
    if (behindOwnRouter && NamedAsLocalRoom(room->server, localRooms)) continue;
    kept.push_back(room);
  }
  return MergeRoomLists(kept, localRooms, roomPort);
}

TString RoomRowText(const TListedRoom& room) {
  return room.local ? room.name + u" (local)" : room.name;
}

TString RoomJoinText(const TListedRoom& room, int roomPort) {
  return RoomAddressText(ToBytes(room.address), room.port, roomPort);
}

TString LobbyStatusText(TLobbyState state, const TString& location) {
  switch (state) {
    case LOBBY_ASKING: return FromBytes(u8"Asking the lobby\u2026");  // a real ellipsis, in UTF-8
    case LOBBY_ANSWERED: return TString();
    case LOBBY_SILENT: return u"The lobby at " + location + u" could not be reached.";
  }
  return TString();
}
