// Rooms on the local network, found through DNS-SD over multicast DNS, and
// the plain rules around them: the service type, the TXT record, the instance
// name a room is published under, and how local rooms join the lobby's list.
// No sockets here: plain functions over plain data, safe on any thread.
//
// Names and TXT strings are bytes as the local network carries them (UTF-8
// by convention); the room browser shows them as FromBytes(name).
#pragma once

#include <string>
#include <vector>

#include "core/text.h"
#include "lobby/lobby_protocol.h"

// The DNS-SD service type of a hosted room.
constexpr char LOCAL_ROOM_SERVICE_TYPE[] = "_colloquor._udp";
// The longest instance name the local network carries, in bytes.
constexpr size_t LOCAL_ROOM_NAME_BYTES = 63;

// One room a local host publishes.
struct TLocalRoom {
  std::string name;     // the instance name (may differ from the room name after a clash)
  std::string address;  // the host's IPv4 address, dotted
  int port = 0;
  bool sameGame = false;  // its TXT "game" equals the game key the browser looks for
  // Its host answers the browser's liveness probes, so the room leaves the
  // list soon after the host falls silent (lobby/local_room_browser.h).
  bool answering = false;

  bool operator==(const TLocalRoom& other) const {
    return name == other.name && address == other.address && port == other.port &&
           sameGame == other.sameGame && answering == other.answering;
  }
};

// The TXT strings a room is published with: "game=<gameKey>".
std::vector<std::string> LocalRoomTxt(const std::string& gameKey);
// The value of the key "game" among TXT strings, "" when absent. Keys compare
// without case and only the first occurrence of a key counts, as DNS-SD says.
std::string TxtGame(const std::vector<std::string>& txt);

// The instance name for a room name: valid UTF-8 (a byte that does not start
// a valid sequence is taken as a Latin-1 character), control characters
// dropped, cut to LOCAL_ROOM_NAME_BYTES at a character boundary. A name that
// ends up empty becomes "Room". The daemon's D-Bus link refuses text that is
// not valid UTF-8, and the network refuses longer names.
std::string LocalRoomInstanceName(const std::string& roomName);

// One row of the room browser: a room the lobby lists, a room found on the
// local network, or both at once.
struct TListedRoom {
  TString name;
  TString address;  // what to join: the lobby's address text or the local dotted address
  int port = 0;
  bool local = false;   // found on the local network
  bool listed = false;  // listed by the lobby

  bool operator==(const TListedRoom& other) const {
    return name == other.name && address == other.address && port == other.port &&
           local == other.local && listed == other.listed;
  }
};

// The lobby's rooms and the local rooms as one list, one row per place to
// join. A room's identity is its address and port: every machine hosts at most
// one room, on the one room port, while its name differs between the two
// sources (the lobby escapes it, the local network may rename it after a
// clash). Lobby rooms keep the lobby's order and join at `roomPort`; a lobby
// room also found locally takes the local name and is marked local; local
// rooms of another game are left out; the remaining local rooms follow,
// ordered by name. Later duplicates of an address are dropped.
std::vector<TListedRoom> MergeRoomLists(const std::vector<TGNetServerRef>& lobbyRooms,
                                        const std::vector<TLocalRoom>& localRooms, int roomPort);
