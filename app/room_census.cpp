#include "app/room_census.h"

#include "app/chat.h"

namespace {

// A newcomer meets everybody already in the room during its first ticks;
// those are not arrivals worth announcing.
constexpr int32_t QUIET_TICKS = 5;

TString ListedName(const TObjectSnapshot& object) {
  return object.name + u" [" + object.kind + u"]";
}

// Counting, listing and the rules of one participant object, in their order.
void CountParticipant(const TObjectSnapshot& object, size_t index, TPlayer& me,
                      int32_t secondTicks, int32_t lobbyTicks, TCensus& census) {
  ++census.count;
  if (object.side == SIDE_RED) {
    ++census.reds;
    census.redNames.push_back(ListedName(object));
  } else if (object.side == SIDE_BLUE) {
    ++census.blues;
    census.blueNames.push_back(ListedName(object));
  }
  // The host is exempt from both rules: it owns the room and its name. A
  // participant that has gone shares nothing any more: a guest rejoining
  // after a crash meets its old participant closing.
  bool ruled = object.remote && me.rank != ROLE_HOST && object.state != SNAPSHOT_CLOSED;
  if (ruled && object.address == me.ip) {
    me.rank.clear();
    census.events.push_back({CENSUS_SHARED_CONNECTION, index, {}});
  }
  if (ruled && object.name == me.name && me.age < object.age) {
    me.name = RenamedName(me.name, lobbyTicks);
    census.events.push_back({CENSUS_RENAMED, index, me.name});
  }
  if (object.created && secondTicks > QUIET_TICKS)
    census.events.push_back({CENSUS_JOINED, index, object.name});
  if (object.state == SNAPSHOT_CLOSED) {
    census.events.push_back({CENSUS_LEFT, index, object.name});
    // Only a guest loses its host; the host's own object never closes so.
    if (object.kind == ROLE_HOST && object.remote && me.rank != ROLE_HOST)
      census.events.push_back({CENSUS_HOST_LOST, index, {}});
  } else if (object.state == SNAPSHOT_MODIFIED && object.remote) {
    census.heard = true;
  }
}

}  // namespace

TCensus TakeCensus(const std::vector<TObjectSnapshot>& objects, const TPlayer& self,
                   const std::vector<TString>& banList, int32_t secondTicks, int32_t lobbyTicks) {
  TCensus census;
  TPlayer me = self;
  for (size_t i = 0; i < objects.size(); ++i) {
    const TObjectSnapshot& object = objects[i];
    if (IsParticipantRole(object.kind))
      CountParticipant(object, i, me, secondTicks, lobbyTicks, census);
    else if (object.kind == u"SUBJECT")
      census.events.push_back({CENSUS_SUBJECT, i, {}});
    // Every entry is an order of its own: an address banned twice is kicked twice.
    for (const TString& banned : banList)
      if (!object.origin.empty() && banned == object.origin)
        census.events.push_back({CENSUS_KICK, i, {}});
  }
  return census;
}

bool ExtendTimeOffered(int32_t remaining) { return remaining < 60; }

bool CountdownAudible(int32_t remaining) { return remaining < 15; }
