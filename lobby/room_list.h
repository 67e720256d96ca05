// What the room browser shows, as plain rules: which rooms are listed, how a
// row reads, what joining it asks for, and the line about the lobby. No
// gadgets or sockets here; any thread.
#pragma once

#include <vector>

#include "core/text.h"
#include "lobby/local_room.h"
#include "lobby/lobby_protocol.h"

// The rows: the lobby's rooms, less those whose hosts are silent
// (`silentAddresses`, as the lobby gave the addresses) and less the local
// rooms seen a second time through this machine's own router (a lobby room at
// `ownAddress`, where the lobby sees this machine, named as a local room is),
// merged with the local rooms by MergeRoomLists. `ownAddress` "": unknown.
std::vector<TListedRoom> ShownRooms(const std::vector<TGNetServerRef>& lobbyRooms,
                                    const std::vector<TString>& silentAddresses,
                                    const std::vector<TLocalRoom>& localRooms,
                                    const TString& ownAddress, int roomPort);

// A row's text: the room's name, and " (local)" for a room on the local network.
TString RoomRowText(const TListedRoom& room);
// What choosing a row returns: its address, and ":port" when that is not
// `roomPort` (lobby/room_address.h reads it back).
TString RoomJoinText(const TListedRoom& room, int roomPort);

enum TLobbyState { LOBBY_ASKING, LOBBY_ANSWERED, LOBBY_SILENT };
// The line under the buttons: "Asking the lobby…" while the list is
// awaited, nothing once the lobby answered, and in words that the lobby at
// `location` ("host:port") could not be reached when it did not.
TString LobbyStatusText(TLobbyState state, const TString& location);
