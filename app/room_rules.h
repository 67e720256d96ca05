// What a room's host lets its guests send, as plain functions over plain
// data: a book of what each connection has done so far, one arrival, and
// the time, passed in. No network, no clock: the host's guard
// (room_guard.h) feeds the rules what its replication host receives and
// carries out what the book then asks for (a notice to send, connections
// to end).
//
// A guest may create one participant object on its connection, with the
// role "GUEST", a name, a side, the address it was told and its age; update
// its side and age, lengthen its name by digits (the rename of a younger
// namesake) and clear its role when it leaves; close it; and send "MSG"
// messages to participants: its chat lines "<name>: <text>" in its side's
// colour, and its requests for more time or a new topic. Everything else is
// the host's: roles, the subject, orders, bold and locking texts. Within
// quotas (below): what breaks a rule is refused whole and counted.
//
// All times are readings of the millisecond clock (core/clock.h), which may
// wrap: they are compared only by difference.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "core/text.h"
#include "replication/guard.h"

// Slots of a participant object.
constexpr int SLOT_ROLE = 0;
constexpr int SLOT_NAME = 1;
constexpr int SLOT_SIDE = 2;
constexpr int SLOT_ADDRESS = 3;
constexpr int SLOT_AGE = 4;
// Slots of a message: slot 0 says "MSG" or "ORDER".
constexpr int SLOT_TEXT = 1;
constexpr int SLOT_STYLE = 2;

// The quotas. Names: what the user-name prompt allows, and the digits a
// rename may add. Lines: a user types one every few seconds; a burst of 10
// covers pasting a few at once. Updates: an age each second and side
// clicks. A guest's program connects and publishes its participant within
// milliseconds, and leaves right after clearing its role; a guest that
// ignores a kick is let go after a grace.
constexpr size_t GUEST_NAME_LIMIT = 15;
constexpr size_t NAME_SUFFIX_LIMIT = 10;
constexpr size_t ADDRESS_LIMIT = 64;
constexpr size_t CHAT_TEXT_LIMIT = 256;  // after the "<name>: " prefix
constexpr int32_t LINES_PER_SECOND = 5;
constexpr int32_t LINE_BURST = 10;
constexpr int32_t UPDATES_PER_SECOND = 10;
constexpr int32_t UPDATE_BURST = 20;
constexpr int32_t PARTICIPANT_DEADLINE_MS = 5000;
constexpr int32_t KICK_GRACE_MS = 3000;
// Connections at once from one network address: a rejoining guest's new
// connection beside its old one that has not timed out yet, and one spare.
constexpr size_t CONNECTIONS_PER_ADDRESS = 4;

// A token bucket, in thousandths of a token, full at the start.
struct TTokenBucket {
  int64_t milliTokens = -1;  // -1: not started (full)
  int32_t at = 0;            // the reading it was last refilled at
};

// The copies of one chat line: a guest sends one per participant.
struct TLineCopies {
  TString text;
  int32_t style = 0;
  bool accepted = false;
  std::vector<int32_t> addressees;
};

// One connection as the host's rules know it.
struct TGuestRecord {
  uint32_t ip = 0;          // its network address
  int32_t since = 0;        // when it connected, or when its participant left
  int32_t participant = 0;  // the id of its live participant object, 0: none
  bool joined = false;      // it has created its participant (once per connection)
  bool leaving = false;     // its participant cleared its role
  TString name;             // as the host last accepted it
  TString address;          // as it reported it
  TTokenBucket lines, updates;
  bool warned = false;  // told to slow down since its lines last had room
  TLineCopies line;     // the line whose copies are arriving
  bool kicked = false;
  int32_t kickedAt = 0;
};

struct TGuardBook {
  std::map<int32_t, TGuestRecord> guests;  // by connection number
  // What the rules ask the guard to do next: tell these connections'
  // participants to slow down; end these connections at once.
  std::vector<int32_t> owedNotice;
  std::vector<int32_t> toEnd;
};

void GuestConnected(TGuardBook& book, int32_t connection, uint32_t ip, int32_t now);
void GuestGone(TGuardBook& book, int32_t connection);
// The host sent a kick to the connection's participant.
void GuestKicked(TGuardBook& book, int32_t connection, int32_t now);

// The ruling on one arrival. `addresseeRole` is slot 0 of a message's
// addressee (unused otherwise); `arrival.object` is not read. A participant
// whose reported address another participant at the same network address
// already holds takes its place: that connection is added to `toEnd`.
TGuardRuling JudgeArrival(TGuardBook& book, const TGNetArrival& arrival,
                          const TString& addresseeRole, int32_t now);

// Connections to end: without a participant PARTICIPANT_DEADLINE_MS after
// connecting or after their participant left, or kicked more than
// KICK_GRACE_MS ago.
std::vector<int32_t> OverstayingGuests(const TGuardBook& book, int32_t now);
