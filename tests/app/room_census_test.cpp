// The tick's census over plain snapshots: who is counted and listed, and the
// events a scan leads to, in the order the room applies them.
#include <gtest/gtest.h>

#include <string>

#include "app/room_census.h"

namespace {

// A remote participant (or any kind) as the scan would read it.
struct TSnap {
  TObjectSnapshot s;
  TSnap(const char16_t* kind, const char16_t* name, const char16_t* address, int32_t age = 0) {
    s.kind = kind;
    s.name = name;
    s.address = address;
    s.age = age;
    s.remote = true;
  }
  TSnap& Local() { return s.remote = false, *this; }
  TSnap& Side(int32_t side) { return s.side = side, *this; }
  TSnap& Created() { return s.created = true, *this; }
  TSnap& State(TSnapshotState state) { return s.state = state, *this; }
  operator TObjectSnapshot() const { return s; }
};

TPlayer Self(const char16_t* role, const char16_t* name, const char16_t* address, int32_t age) {
  TPlayer me;
  me.rank = role;
  me.name = name;
  me.ip = address;
  me.age = age;
  return me;
}

// "KIND name@object", space-separated, in order.
std::string Events(const TCensus& census) {
  static const char* const kinds[] = {"JOINED", "LEFT",    "HOST_LOST", "SHARED",
                                      "RENAMED", "SUBJECT", "KICK"};
  std::string out;
  for (const TCensusEvent& e : census.events) {
    if (!out.empty()) out += ' ';
    out += kinds[e.kind];
    if (!e.name.empty()) out += ' ' + ToBytes(e.name);
    out += '@' + std::to_string(e.object);
  }
  return out;
}

const TPlayer kGuest = Self(u"GUEST", u"Me", u"1.1.1.1", 10);
const TPlayer kHost = Self(u"HOST", u"Me", u"1.1.1.1", 10);

}  // namespace

TEST(Census, EventsComeOutInObjectOrder) {
  const TObjectSnapshot me = TSnap(u"GUEST", u"Me", u"1.1.1.1", 10).Local();
  const TSnapshotState closed = SNAPSHOT_CLOSED;
  struct TCase {
    const char* what;
    std::string events;
    TPlayer self;
    std::vector<TObjectSnapshot> objects;
    std::vector<TString> bans = {};
    int32_t secondTicks = 9, lobbyTicks = 0;
  } cases[] = {
      {"arrival after the first 5 ticks", "JOINED Bo@1",
       kGuest, {me, TSnap(u"GUEST", u"Bo", u"2").Created()}, {}, 6},
      {"arrival within the first 5 ticks", "",
       kGuest, {me, TSnap(u"GUEST", u"Bo", u"2").Created()}, {}, 5},
      {"departure with the role set", "LEFT Bo@1",
       kGuest, {me, TSnap(u"DEV", u"Bo", u"2").State(closed)}},
      {"departure with the role cleared", "",
       kGuest, {me, TSnap(u"", u"Bo", u"2").State(closed)}},
      {"arrival and departure in one sync", "JOINED Bo@0 LEFT Bo@0",
       kGuest, {TSnap(u"GUEST", u"Bo", u"2").Created().State(closed)}},
      {"host lost", "LEFT Ho@1 HOST_LOST@1 LEFT Bo@2",
       kGuest,
       {me, TSnap(u"HOST", u"Ho", u"3").State(closed), TSnap(u"GUEST", u"Bo", u"2").State(closed)}},
      {"older namesake", "RENAMED Me0@1", kGuest, {me, TSnap(u"GUEST", u"Me", u"2", 11)}},
      {"younger namesake", "", kGuest, {me, TSnap(u"GUEST", u"Me", u"2", 9)}},
      {"namesake of equal age", "", kGuest, {me, TSnap(u"GUEST", u"Me", u"2", 10)}},
      {"the host keeps its name", "", kHost, {TSnap(u"GUEST", u"Me", u"2", 99)}},
      {"a rename is what later objects meet", "RENAMED Me3@0 RENAMED Me33@1",
       kGuest, {TSnap(u"GUEST", u"Me", u"2", 20), TSnap(u"GUEST", u"Me3", u"4", 20)}, {}, 9, 3},
      {"one user per connection", "SHARED@1", kGuest, {me, TSnap(u"GUEST", u"Bo", u"1.1.1.1")}},
      {"empty addresses share a connection", "SHARED@0",
       Self(u"GUEST", u"Me", u"", 10), {TSnap(u"HOST", u"Ho", u"")}},
      {"once per match, the role already cleared", "SHARED@0 SHARED@1 RENAMED Me0@1",
       Self(u"", u"Me", u"1", 10), {TSnap(u"GUEST", u"A", u"1"), TSnap(u"GUEST", u"Me", u"1", 11)}},
      {"the host shares with nobody", "", kHost, {TSnap(u"GUEST", u"Bo", u"1.1.1.1")}},
      {"the own object is not ruled", "", kGuest, {me}},
      {"every ban entry kicks, whatever the kind", "KICK@0 KICK@0 KICK@1 KICK@1 KICK@2",
       kHost, {TSnap(u"GUEST", u"Bo", u"6"), TSnap(u"X", u"", u"6"), TSnap(u"GUEST", u"Cy", u"7")},
       {u"6", u"7", u"6"}},
      {"the subject in its place", "SUBJECT@0 JOINED Bo@1",
       kGuest, {TSnap(u"SUBJECT", u"", u""), TSnap(u"GUEST", u"Bo", u"2").Created()}},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(Events(TakeCensus(c.objects, c.self, c.bans, c.secondTicks, c.lobbyTicks)), c.events)
        << c.what;
}

TEST(Census, CountsListsAndTheConnectionLight) {
  std::vector<TObjectSnapshot> objects = {
      TSnap(u"HOST", u"Me", u"1", 10).Local().Side(SIDE_RED).State(SNAPSHOT_MODIFIED),
      TSnap(u"GUEST", u"Bo", u"2").Side(SIDE_BLUE),
      TSnap(u"GUEST", u"Cy", u"3"),
      TSnap(u"DEV", u"Dee", u"4").Side(SIDE_RED).State(SNAPSHOT_CLOSED),
      TSnap(u"SUBJECT", u"", u"").Side(SIDE_RED),
      TSnap(u"", u"Gone", u"5").Side(SIDE_BLUE),
  };
  TCensus census = TakeCensus(objects, kHost, {}, 9, 0);
  EXPECT_EQ(census.count, 4);
  EXPECT_EQ(census.reds, 2);
  EXPECT_EQ(census.blues, 1);
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
               {15, true, false},   {14, true, true},   {-1, true, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(ExtendTimeOffered(c.remaining), c.extend) << c.remaining;
    EXPECT_EQ(CountdownAudible(c.remaining), c.tick) << c.remaining;
  }
}
