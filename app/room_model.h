// The values a debate room is made of: the participant record, roles, sides,
// the topic table and the pseudo-random generator that picks the first topic.
#pragma once

#include <cstdint>

#include "core/object.h"

// The participant record. The program keeps one for the local user; other
// participants exist only as replicated participant objects.
class TPlayer : public TObject {
 public:
  TString rank;  // role: ROLE_HOST, ROLE_GUEST, or "" outside a room
  TString name;
  TString ip;        // address under which the lobby sees this machine
  int32_t side = 0;  // SIDE_RED, SIDE_UNDECIDED or SIDE_BLUE
  int32_t age = 0;   // seconds spent in rooms; never reset
};

extern const TString ROLE_HOST;
extern const TString ROLE_GUEST;
extern const TString ROLE_DEV;

// True for the three participant roles ("HOST", "GUEST", "DEV").
bool IsParticipantRole(const TString& role);

constexpr int32_t SIDE_RED = -1;
constexpr int32_t SIDE_UNDECIDED = 0;
constexpr int32_t SIDE_BLUE = 1;

struct TTopic {
  const char16_t* red;   // first position: the RED side
  const char16_t* blue;  // opposing position: the BLUE side
};

constexpr int TOPIC_COUNT = 35;
constexpr int TOPIC_SECONDS = 300;

// The pair at `index` (0 to 34).
const TTopic& TopicAt(int index);

// The position after `index`; 34 wraps to 0.
int NextTopicIndex(int index);

// The multiplicative generator (48271 modulo 2^31 - 1), 0x1234 before seeding.
class TRandom {
 public:
  // Top bit cleared; 0 and 0x7fffffff become 0x1234.
  void Seed(int32_t value);
  // One step; its value is the new state.
  int32_t Step();
  // A real in [0, 1) from two steps.
  double Real();
  // An integer from lo to hi inclusive.
  int32_t Range(int32_t lo, int32_t hi);
  int32_t state() const { return state_; }

 private:
  int32_t state_ = 0x1234;
};

// The process-wide generator used for the first topic of a hosted room.
TRandom& RoomRandom();
