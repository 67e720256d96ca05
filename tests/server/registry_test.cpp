// The lobby's room registry on a stepped clock.
#include <gtest/gtest.h>

#include "server/room_registry.h"

namespace {

constexpr int64_t MINUTE = 60 * 1000;

std::string Names(const std::vector<TRoom>& rooms) {
  std::string names;
  for (const TRoom& room : rooms) names += room.name + ";";
  return names;
}

}  // namespace

TEST(RoomRegistry, OneRoomPerAddressAndGameInOrderOfFirstAnnouncement) {
  TRoomRegistry rooms;
  EXPECT_EQ(rooms.Put("g", "a", "10.0.0.1", 0), TRoomResult::Ok);
  EXPECT_EQ(rooms.Put("g", "b", "10.0.0.2", 0), TRoomResult::Ok);
  EXPECT_EQ(rooms.Put("h", "c", "10.0.0.1", 0), TRoomResult::Ok);
  // The same address and game again renames the room and keeps its place.
  EXPECT_EQ(rooms.Put("g", "a2", "10.0.0.1", 0), TRoomResult::Ok);
  EXPECT_EQ(Names(rooms.Live(0)), "a2;b;c;");
  rooms.Remove("g", "10.0.0.1", 0);
  rooms.Remove("g", "10.9.9.9", 0);  // nothing there: nothing happens
  EXPECT_EQ(Names(rooms.Live(0)), "b;c;");
  EXPECT_EQ(rooms.Live(0)[1].address, "10.0.0.1");
  EXPECT_EQ(rooms.Live(0)[1].game, "h");
}

TEST(RoomRegistry, ARoomNotRenewedFor600SecondsExpires) {
  TRoomRegistry rooms;
  rooms.Put("g", "old", "10.0.0.1", 0);
  rooms.Put("g", "renewed", "10.0.0.2", 0);
  rooms.Put("g", "renewed", "10.0.0.2", 5 * MINUTE);
  EXPECT_EQ(rooms.Count(10 * MINUTE - 1), 2u);
  uint64_t version = rooms.Version();
  EXPECT_EQ(Names(rooms.Live(10 * MINUTE)), "renewed;");
  EXPECT_NE(rooms.Version(), version);
  EXPECT_EQ(rooms.Count(15 * MINUTE - 1), 1u);
  EXPECT_EQ(rooms.Count(15 * MINUTE), 0u);
  // An expired address may announce again, up to its full share.
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(rooms.Put("g" + std::to_string(i), "r", "10.0.0.1", 15 * MINUTE), TRoomResult::Ok);
}

TEST(RoomRegistry, LimitsPerAddressAndInAllChangeNothingWhenHit) {
  TRoomRegistry rooms(40);
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(rooms.Put("game" + std::to_string(i), "r", "10.0.0.1", 0), TRoomResult::Ok);
  uint64_t version = rooms.Version();
  EXPECT_EQ(rooms.Put("game32", "r", "10.0.0.1", 0), TRoomResult::TooManyFromAddress);
  EXPECT_EQ(rooms.Version(), version);
  // Renewing one of the 32 is still fine.
  EXPECT_EQ(rooms.Put("game0", "r", "10.0.0.1", 0), TRoomResult::Ok);
  for (int i = 0; i < 8; ++i)
    ASSERT_EQ(rooms.Put("g", "r", "10.0.1." + std::to_string(i), 0), TRoomResult::Ok);
  EXPECT_EQ(rooms.Put("g", "r", "10.0.2.1", 0), TRoomResult::Full);
  EXPECT_EQ(rooms.Count(0), 40u);
  rooms.Remove("g", "10.0.1.0", 0);
  EXPECT_EQ(rooms.Put("g", "r", "10.0.2.1", 0), TRoomResult::Ok);
}
