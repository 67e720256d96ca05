#include "server/room_registry.h"

#include <algorithm>

namespace {

bool Expired(const TRoom& room, int64_t now) { return now - room.renewedAt >= ROOM_LIFETIME_MS; }

}  // namespace

TRoomResult TRoomRegistry::Put(const std::string& game, const std::string& name,
                               const std::string& address, int64_t now) {
  Expire(now);
  auto found = _rooms.find({address, game});
  if (found != _rooms.end()) {
    if (found->second.name != name) ++_version;
    found->second.name = name;
    found->second.renewedAt = now;
    return TRoomResult::Ok;
  }
  auto count = _perAddress.find(address);
  if (count != _perAddress.end() && count->second >= ROOMS_PER_ADDRESS)
    return TRoomResult::TooManyFromAddress;
  if (_rooms.size() >= _maxRooms) return TRoomResult::Full;
  TRoom room{game, name, address, now, _nextOrder++};
  _rooms.emplace(TKey{address, game}, std::move(room));
  ++_perAddress[address];
  _nextExpiry = std::min(_nextExpiry, now + ROOM_LIFETIME_MS);
  ++_version;
  return TRoomResult::Ok;
}

void TRoomRegistry::Remove(const std::string& game, const std::string& address, int64_t now) {
  Expire(now);
  auto found = _rooms.find({address, game});
  if (found != _rooms.end()) Drop(found);
}

std::vector<TRoom> TRoomRegistry::Live(int64_t now) {
  Expire(now);
  std::vector<TRoom> rooms;
  rooms.reserve(_rooms.size());
  for (const auto& entry : _rooms) rooms.push_back(entry.second);
  std::sort(rooms.begin(), rooms.end(),
            [](const TRoom& a, const TRoom& b) { return a.order < b.order; });
  return rooms;
}

size_t TRoomRegistry::Count(int64_t now) {
  Expire(now);
  return _rooms.size();
}

void TRoomRegistry::Expire(int64_t now) {
  if (now < _nextExpiry) return;
  _nextExpiry = INT64_MAX;
  for (auto room = _rooms.begin(); room != _rooms.end();) {
    auto next = std::next(room);
    if (Expired(room->second, now))
      Drop(room);
    else
      _nextExpiry = std::min(_nextExpiry, room->second.renewedAt + ROOM_LIFETIME_MS);
    room = next;
  }
}

void TRoomRegistry::Drop(std::map<TKey, TRoom>::iterator room) {
  auto count = _perAddress.find(room->first.first);
  if (count != _perAddress.end() && --count->second == 0) _perAddress.erase(count);
  _rooms.erase(room);
  ++_version;
}
