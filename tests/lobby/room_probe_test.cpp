// The liveness probe's pure parts: which names can be asked for, which
// packets answer, and when a silent room counts as gone. (That a real
// responder answers the query is checked in lobby_local_network.)
#include <gtest/gtest.h>

#include <climits>

#include "lobby/room_probe.h"

namespace {

// A response to `query`: the query's bytes with the response flag, the given
// result code and `answers` answer records counted (the records themselves
// are not read).
std::string Response(std::string query, int answers, int resultCode = 0) {
  query[2] = static_cast<char>(0x84);  // response, authoritative
  query[3] = static_cast<char>(resultCode);
  query[7] = static_cast<char>(answers);
  return query;
}

}  // namespace

TEST(SrvQuery, NamesThatCannotBeWrittenGiveNoQuery) {
  EXPECT_FALSE(SrvQuery(1, "Bob Room", "_colloquor._udp", "local").empty());
  EXPECT_EQ(SrvQuery(1, "Bob Room", "_colloquor._udp", "local."),
            SrvQuery(1, "Bob Room", "_colloquor._udp", "local"));
  EXPECT_EQ(SrvQuery(1, "", "_colloquor._udp", "local"), "");
  EXPECT_EQ(SrvQuery(1, std::string(64, 'x'), "_colloquor._udp", "local"), "");
  EXPECT_EQ(SrvQuery(1, "Bob", "_colloquor.._udp", "local"), "");
  EXPECT_EQ(SrvQuery(1, "Bob", "_colloquor._udp", "my\\.domain"), "");
  std::string longDomain;
  for (int i = 0; i < 5; ++i) longDomain += std::string(50, 'd') + ".";
  EXPECT_EQ(SrvQuery(1, "Bob", "_colloquor._udp", longDomain), "");
}

TEST(AnswersQuery, OnlyAnErrorFreeResponseToTheSameIdWithAnswers) {
  std::string query = SrvQuery(0xBEEF, "Bob Room", "_colloquor._udp", "local");
  EXPECT_TRUE(AnswersQuery(Response(query, 1), 0xBEEF));
  EXPECT_FALSE(AnswersQuery(Response(query, 1), 0xBEEE));
  EXPECT_FALSE(AnswersQuery(query, 0xBEEF));  // our own question, not an answer
  EXPECT_FALSE(AnswersQuery(Response(query, 0), 0xBEEF));
  EXPECT_FALSE(AnswersQuery(Response(query, 1, 3), 0xBEEF));  // name error
  EXPECT_FALSE(AnswersQuery(Response(query, 1).substr(0, 11), 0xBEEF));
  EXPECT_FALSE(AnswersQuery("", 0));
}

TEST(RoomLiveness, SilentOnlyAfterAnsweringAndAcrossTheClockWrap) {
  TRoomLiveness never;
  EXPECT_TRUE(never.Alive(0, 5000));
  EXPECT_TRUE(never.Alive(INT32_MAX, 5000));

  for (int32_t start : {1000, INT32_MAX - 2000}) {
    TRoomLiveness room;
    room.Answered(start);
    auto at = [&](int32_t later) {
      return static_cast<int32_t>(static_cast<uint32_t>(start) + static_cast<uint32_t>(later));
    };
    EXPECT_TRUE(room.Alive(at(4999), 5000)) << start;
    EXPECT_FALSE(room.Alive(at(5000), 5000)) << start;
    room.Answered(at(6000));
    EXPECT_TRUE(room.Alive(at(7000), 5000)) << start;
  }
}
