#include "lobby/local_room.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace {

constexpr char GAME_KEY[] = "game";
constexpr char FALLBACK_NAME[] = "Room";

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at `at`, or 0 when none starts there.
size_t Utf8SequenceLength(const std::string& text, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
  unsigned char lead = byte(0);
  size_t length = lead < 0x80                    ? 1
                  : lead >= 0xC2 && lead <= 0xDF ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i)
    if (!IsContinuation(byte(i))) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  if (lead == 0xE0 && byte(1) < 0xA0) return 0;
  if (lead == 0xED && byte(1) > 0x9F) return 0;
  if (lead == 0xF0 && byte(1) < 0x90) return 0;
  if (lead == 0xF4 && byte(1) > 0x8F) return 0;
  return length;
}

std::string Latin1AsUtf8(unsigned char byte) {
  return {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
}

// C0 and C1 controls and DEL, in their UTF-8 form.
bool IsControl(const std::string& character) {
  auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return lead < 0x20 || lead == 0x7F;
  return character.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string RoomKey(const std::string& address, int port) {
  return address + ":" + std::to_string(port);
}

}  // namespace

std::vector<std::string> LocalRoomTxt(const std::string& gameKey) {
  return {std::string(GAME_KEY) + "=" + gameKey};
}

std::string TxtGame(const std::vector<std::string>& txt) {
  for (const std::string& entry : txt) {
    size_t equals = entry.find('=');
    std::string key = entry.substr(0, equals);
    if (key.empty()) continue;  // a string starting with '=' has no key
    if (LowerAscii(key) != GAME_KEY) continue;
    return equals == std::string::npos ? "" : entry.substr(equals + 1);
  }
  return "";
}

std::string LocalRoomInstanceName(const std::string& roomName) {
  std::string name;
  for (size_t at = 0; at < roomName.size();) {
    size_t length = Utf8SequenceLength(roomName, at);
    std::string character = length ? roomName.substr(at, length)
                                   : Latin1AsUtf8(static_cast<unsigned char>(roomName[at]));
    at += length ? length : 1;
    if (IsControl(character)) continue;
    if (name.size() + character.size() > LOCAL_ROOM_NAME_BYTES) break;
    name += character;
  }
  return name.empty() ? FALLBACK_NAME : name;
}

std::vector<TListedRoom> MergeRoomLists(const std::vector<TGNetServerRef>& lobbyRooms,
                                        const std::vector<TLocalRoom>& localRooms, int roomPort) {
  std::map<std::string, const TLocalRoom*> local;
  std::vector<const TLocalRoom*> localOrder;
  for (const TLocalRoom& room : localRooms) {
    if (!room.sameGame || room.port <= 0) continue;
    if (local.emplace(RoomKey(room.address, room.port), &room).second) localOrder.push_back(&room);
  }
  std::vector<TListedRoom> rows;
  std::set<std::string> seen;
  for (const TGNetServerRef& entry : lobbyRooms) {
    if (!entry) continue;
    std::string key = RoomKey(ToBytes(entry->ip), roomPort);
    if (!seen.insert(key).second) continue;
    TListedRoom row{entry->server, entry->ip, roomPort, false, true};
    auto found = local.find(key);
    if (found != local.end()) {
      row.name = FromBytes(found->second->name);
      row.local = true;
    }
    rows.push_back(row);
  }
  std::stable_sort(localOrder.begin(), localOrder.end(),
                   [](const TLocalRoom* a, const TLocalRoom* b) {
                     return std::tie(a->name, a->address) < std::tie(b->name, b->address);
                   });
  for (const TLocalRoom* room : localOrder) {
    if (!seen.insert(RoomKey(room->address, room->port)).second) continue;
    rows.push_back({FromBytes(room->name), FromBytes(room->address), room->port, true, false});
  }
  return rows;
}
