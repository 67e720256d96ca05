// The tick's census over plain snapshots: who is counted and listed, and the
// events a scan leads to, in the order the room applies them.
#include <gtest/gtest.h>

#include <string>

#include "app/room_census.h"

namespace {

enum { LOCAL = 1, CREATED = 2, CLOSED = 4, MODIFIED = 8 };

TObjectSnapshot Obj(const char16_t* kind, const char16_t* name, const char16_t* address,
                    int flags = 0, int32_t age = 0, int32_t side = 0) {
  TObjectSnapshot s;
  s.kind = kind, s.name = name, s.address = address, s.age = age, s.side = side;
  s.remote = !(flags & LOCAL);
  s.created = flags & CREATED;
  s.state = flags & CLOSED ? SNAPSHOT_CLOSED : flags & MODIFIED ? SNAPSHOT_MODIFIED
                                                                : SNAPSHOT_UNCHANGED;
  return s;
}

// The snapshot as seen from connection at network address `origin`.
TObjectSnapshot From(const char16_t* origin, TObjectSnapshot s) {
  s.origin = origin;
  return s;
}

TPlayer Self(const char16_t* role, const char16_t* address) {
  TPlayer me;
  me.rank = role, me.name = u"Me", me.ip = address, me.age = 10;
  return me;
}

// "KIND name@object", space-separated, in order.
std::string Events(const TCensus& census) {
  static const char* const kinds[] = {"JOINED",  "LEFT",    "HOST_LOST", "SHARED",
                                      "RENAMED", "SUBJECT", "KICK"};
  std::string out;
  for (const TCensusEvent& e : census.events)
    out += std::string(out.empty() ? "" : " ") + kinds[e.kind] +
           (e.name.empty() ? "" : " " + ToBytes(e.name)) + "@" + std::to_string(e.object);
  return out;
}

const TPlayer kGuest = Self(u"GUEST", u"1"), kHost = Self(u"HOST", u"1");
const TObjectSnapshot kMe = Obj(u"GUEST", u"Me", u"1", LOCAL, 10);

}  // namespace

TEST(Census, EventsComeOutInObjectOrder) {
  struct TCase {
    const char* what;
    std::string events;
    TPlayer self;
    std::vector<TObjectSnapshot> objects;
    std::vector<TString> bans = {};
    int32_t secondTicks = 9, lobbyTicks = 0;
  } cases[] = {
      {"arrival after the first 5 ticks", "JOINED Bo@1",
       kGuest, {kMe, Obj(u"GUEST", u"Bo", u"2", CREATED)}, {}, 6},
      {"arrival within the first 5 ticks", "",
       kGuest, {kMe, Obj(u"GUEST", u"Bo", u"2", CREATED)}, {}, 5},
      {"departure with the role set", "LEFT Bo@1", kGuest, {kMe, Obj(u"DEV", u"Bo", u"2", CLOSED)}},
      {"departure with the role cleared", "", kGuest, {kMe, Obj(u"", u"Bo", u"2", CLOSED)}},
      {"arrival and departure in one sync", "JOINED Bo@0 LEFT Bo@0",
       kGuest, {Obj(u"GUEST", u"Bo", u"2", CREATED | CLOSED)}},
      {"host lost", "LEFT Ho@1 HOST_LOST@1 LEFT Bo@2",
       kGuest, {kMe, Obj(u"HOST", u"Ho", u"3", CLOSED), Obj(u"GUEST", u"Bo", u"2", CLOSED)}},
      {"older namesake", "RENAMED Me0@1", kGuest, {kMe, Obj(u"GUEST", u"Me", u"2", 0, 11)}},
      {"younger namesake", "", kGuest, {kMe, Obj(u"GUEST", u"Me", u"2", 0, 9)}},
      {"namesake of equal age", "", kGuest, {kMe, Obj(u"GUEST", u"Me", u"2", 0, 10)}},
      {"the host keeps its name", "", kHost, {Obj(u"GUEST", u"Me", u"2", 0, 99)}},
      {"a rename is what later objects meet", "RENAMED Me3@0 RENAMED Me33@1",
       kGuest, {Obj(u"GUEST", u"Me", u"2", 0, 20), Obj(u"GUEST", u"Me3", u"4", 0, 20)}, {}, 9, 3},
      {"one user per connection", "SHARED@1", kGuest, {kMe, Obj(u"GUEST", u"Bo", u"1")}},
      {"empty addresses share a connection", "SHARED@0",
       Self(u"GUEST", u""), {Obj(u"HOST", u"Ho", u"")}},
      {"once per match, the role already cleared", "SHARED@0 SHARED@1 RENAMED Me0@1",
       Self(u"", u"1"), {Obj(u"GUEST", u"A", u"1"), Obj(u"GUEST", u"Me", u"1", 0, 11)}},
      {"the host shares with nobody", "", kHost, {Obj(u"GUEST", u"Bo", u"1")}},
      {"every ban entry kicks, whatever the kind", "KICK@0 KICK@0 KICK@1 KICK@1 KICK@2",
       kHost, {From(u"6", Obj(u"GUEST", u"Bo", u"1")), From(u"6", Obj(u"X", u"", u"")),
               From(u"7", Obj(u"GUEST", u"Cy", u"6"))},
       {u"6", u"7", u"6"}},
      // Regression: bans matched the address a guest reports about itself.
      {"a reported address is no ban", "", kHost, {From(u"9", Obj(u"GUEST", u"Bo", u"6"))}, {u"6"}},
      // Regression: a guest rejoining after a crash left the room (or took a
      // new name) because of its own old participant, closing.
      {"a participant that has gone shares nothing", "LEFT Me@1",
       kGuest, {kMe, Obj(u"GUEST", u"Me", u"1", CLOSED, 99)}},
      // Regression: a guest's participant claiming "HOST" locked the host.
      {"the host loses no host", "LEFT Ho@0", kHost, {Obj(u"HOST", u"Ho", u"3", CLOSED)}},
      {"the subject in its place", "SUBJECT@0 JOINED Bo@1",
       kGuest, {Obj(u"SUBJECT", u"", u""), Obj(u"GUEST", u"Bo", u"2", CREATED)}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Events(TakeCensus(c.objects, c.self, c.bans, c.secondTicks, c.lobbyTicks)), c.events)
        << c.what;
}

TEST(Census, CountsListsAndTheConnectionLight) {
  std::vector<TObjectSnapshot> objects = {
      Obj(u"HOST", u"Me", u"1", LOCAL | MODIFIED, 10, SIDE_RED),
      Obj(u"GUEST", u"Bo", u"2", 0, 0, SIDE_BLUE), Obj(u"GUEST", u"Cy", u"3"),
      Obj(u"DEV", u"Dee", u"4", CLOSED, 0, SIDE_RED),
      Obj(u"SUBJECT", u"", u"", 0, 0, SIDE_RED), Obj(u"", u"Gone", u"5", 0, 0, SIDE_BLUE)};
  TCensus census = TakeCensus(objects, kHost, {}, 9, 0);
  EXPECT_EQ(std::vector<int32_t>({census.count, census.reds, census.blues}),
            std::vector<int32_t>({4, 2, 1}));
  EXPECT_EQ(census.redNames, (std::vector<TString>{u"Me [HOST]", u"Dee [DEV]"}));
  EXPECT_EQ(census.blueNames, std::vector<TString>{u"Bo [GUEST]"});
  // Only a remote participant's update lights it: not the own object, not a close.
  EXPECT_FALSE(census.heard);
  objects[2].state = SNAPSHOT_MODIFIED;
  EXPECT_TRUE(TakeCensus(objects, kHost, {}, 9, 0).heard);
}

TEST(Census, ExtendTimeInTheLastMinuteTickBelowFifteenSeconds) {
  const struct {
    int32_t remaining;
    bool extend, tick;
  } cases[] = {{300, false, false}, {60, false, false}, {59, true, false},
               {15, true, false},   {14, true, true},    {-1, true, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(ExtendTimeOffered(c.remaining), c.extend) << c.remaining;
    EXPECT_EQ(CountdownAudible(c.remaining), c.tick) << c.remaining;
  }
}
