// The lobby's rooms: at most one per caller address and game key, each
// expiring when not renewed for ROOM_LIFETIME_MS. A plain class without I/O
// or a clock of its own: every call takes the current time in milliseconds.
// Not thread-safe; the service guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

constexpr int64_t ROOM_LIFETIME_MS = 600 * 1000;
constexpr size_t ROOMS_PER_ADDRESS = 32;
constexpr size_t DEFAULT_MAX_ROOMS = 10000;

struct TRoom {
  std::string game;
  std::string name;
  std::string address;
  int64_t renewedAt = 0;
  uint64_t order = 0;  // rank of the first announcement
};

enum class TRoomResult { Ok, TooManyFromAddress, Full };

class TRoomRegistry {
 public:
  explicit TRoomRegistry(size_t maxRooms = DEFAULT_MAX_ROOMS) : _maxRooms(maxRooms) {}

  // Enters the room of (address, game), or renews it under `name` when it is
  // already there. Refused, changing nothing, when it would be the address's
  // 33rd room or exceed the registry's limit.
  TRoomResult Put(const std::string& game, const std::string& name, const std::string& address,
                  int64_t now);
  // Withdraws the room of (address, game), if any.
  void Remove(const std::string& game, const std::string& address, int64_t now);
  // The live rooms in the order they were first announced.
  std::vector<TRoom> Live(int64_t now);
  size_t Count(int64_t now);
  // Changes whenever the live rooms or their names change (after expiry too:
  // call Expire or another operation first).
  uint64_t Version() const { return _version; }
  // Drops the rooms not renewed within ROOM_LIFETIME_MS of `now`.
  void Expire(int64_t now);

 private:
  using TKey = std::pair<std::string, std::string>;  // address, game
  void Drop(std::map<TKey, TRoom>::iterator room);

  size_t _maxRooms;
  std::map<TKey, TRoom> _rooms;
  std::map<std::string, size_t> _perAddress;
  uint64_t _nextOrder = 0;
  uint64_t _version = 0;
  int64_t _nextExpiry = INT64_MAX;  // no room expires before this
};
