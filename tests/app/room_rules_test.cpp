// The host's rules for what guests send, over plain arrivals: what a guest
// may create, update and say, its quotas, and which connections end.
#include "app/room_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "app/chat.h"
#include "app/room_model.h"

namespace {

constexpr int32_t kBob = 1, kBobsObject = 7, kHostObject = 1;
constexpr uint32_t kBobsIp = 0x0a000002;

TGNetSlot Str(const TString& text) {
  TGNetSlot slot;
  slot.SetString(text);
  return slot;
}

TGNetSlot Int(int32_t value) {
  TGNetSlot slot;
  slot.SetInt(value);
  return slot;
}

TGNetArrival Arrival(TArrivalKind kind, int32_t peer, int32_t id,
                     std::vector<std::pair<int, TGNetSlot>> slots) {
  TGNetArrival a;
  a.kind = kind, a.peer = peer, a.id = id, a.address.ip = kBobsIp;
  for (auto& [index, slot] : slots) {
    a.slots[index] = slot;
    a.written |= 1u << index;
  }
  return a;
}

TGNetArrival Participant(const TString& name, const TString& address, int32_t peer = kBob,
                         int32_t id = kBobsObject) {
  return Arrival(TArrivalKind::Creation, peer, id,
                 {{SLOT_ROLE, Str(u"GUEST")},
                  {SLOT_NAME, Str(name)},
                  {SLOT_SIDE, Int(0)},
                  {SLOT_ADDRESS, Str(address)},
                  {SLOT_AGE, Int(3)}});
}

TGNetArrival Line(const TString& text, int32_t style = SIDE_RED, int32_t to = kHostObject) {
  return Arrival(TArrivalKind::Message, kBob, to,
                 {{0, Str(u"MSG")}, {SLOT_TEXT, Str(text)}, {SLOT_STYLE, Int(style)}});
}

std::string Ruling(const TGuardRuling& ruling) {
  return ruling.verdict == TGuardVerdict::Refuse ? DropReasonName(ruling.reason) : "accepted";
}

// A book in which Bob, from kBobsIp, has joined.
TGuardBook WithBob() {
  TGuardBook book;
  GuestConnected(book, kBob, kBobsIp, 0);
  EXPECT_EQ(Ruling(JudgeArrival(book, Participant(u"Bob", u"1.2.3.4"), u"", 0)), "accepted");
  return book;
}

}  // namespace

TEST(RoomRules, WhatAGuestMayCreate) {
  auto with = [](int slot, TGNetSlot value) {
    TGNetArrival a = Participant(u"Bob", u"1.2.3.4");
    a.slots[slot] = value;
    a.written |= 1u << slot;
    return a;
  };
  const struct {
    const char* what;
    TGNetArrival arrival;
    const char* ruling;
  } cases[] = {
      {"a guest's participant", Participant(u"Bob_2", u"1.2.3.4"), "accepted"},
      {"the host's role", with(SLOT_ROLE, Str(u"HOST")), "Forbidden"},
      {"a role it cannot prove", with(SLOT_ROLE, Str(u"DEV")), "Forbidden"},
      {"a subject", with(SLOT_ROLE, Str(u"SUBJECT")), "Forbidden"},
      {"a name past 15 characters", Participant(u"Bobbobbobbobbobb", u""), "OverQuota"},
      {"the host's mark in a name", Participant(u"Bob*", u""), "Forbidden"},
      {"a space in a name", Participant(u"Bo b", u""), "Forbidden"},
      {"no name", Participant(u"", u""), "Forbidden"},
      {"an address past 64 characters", Participant(u"Bob", TString(65, u'1')), "OverQuota"},
      {"a side that is none", with(SLOT_SIDE, Int(2)), "Forbidden"},
      {"a slot no participant has", with(5, Str(TString(60000, u'x'))), "Forbidden"},
      {"a name that is a number", with(SLOT_NAME, Int(7)), "Forbidden"},
  };
  for (const auto& c : cases) {
    TGuardBook book;
    GuestConnected(book, kBob, kBobsIp, 0);
    EXPECT_EQ(Ruling(JudgeArrival(book, c.arrival, u"", 0)), c.ruling) << c.what;
  }
  // One participant per connection, even after the first has gone.
  TGuardBook book = WithBob();
  JudgeArrival(book, Arrival(TArrivalKind::Close, kBob, kBobsObject, {}), u"", 0);
  EXPECT_EQ(Ruling(JudgeArrival(book, Participant(u"Bob", u"1.2.3.4", kBob, 8), u"", 0)),
            "OverQuota");
}

TEST(RoomRules, WhatAGuestMayChangeAndSay) {
  auto update = [](int slot, TGNetSlot value, int32_t id = kBobsObject) {
    return Arrival(TArrivalKind::Update, kBob, id, {{slot, value}});
  };
  const TString body(CHAT_TEXT_LIMIT, u'x');
  const struct {
    const char* what;
    TGNetArrival arrival;
    const char16_t* addressee;
    const char* ruling;
  } cases[] = {
      {"its age", update(SLOT_AGE, Int(4)), u"", "accepted"},
      {"its side", update(SLOT_SIDE, Int(SIDE_BLUE)), u"", "accepted"},
      {"its role cleared, leaving", update(SLOT_ROLE, Str(u"")), u"", "accepted"},
      {"the host's role", update(SLOT_ROLE, Str(u"HOST")), u"", "Forbidden"},
      {"a rename by digits", update(SLOT_NAME, Str(u"Bob12")), u"", "accepted"},
      {"another name", update(SLOT_NAME, Str(u"Al")), u"", "Forbidden"},
      {"a new address", update(SLOT_ADDRESS, Str(u"5.6.7.8")), u"", "Forbidden"},
      {"another object", update(SLOT_AGE, Int(4), kBobsObject + 1), u"", "Forbidden"},
      {"a chat line", Line(u"Bob: hi"), u"HOST", "accepted"},
      {"a chat line to a guest", Line(u"Bob: hi", SIDE_BLUE, 9), u"GUEST", "accepted"},
      {"a line under a rename on its way", Line(u"Bob0: hi"), u"HOST", "accepted"},
      {"the longest line", Line(u"Bob: " + body), u"HOST", "accepted"},
      {"a longer line", Line(u"Bob: x" + body), u"HOST", "OverQuota"},
      {"a line passing for the host's", Line(u"Bob*: hi"), u"HOST", "Forbidden"},
      {"a line under another name", Line(u"Al: hi"), u"HOST", "Forbidden"},
      {"a line with a line break", Line(u"Bob: hi\nHost*: bye"), u"HOST", "Forbidden"},
      {"a bold line", Line(u"Bob: hi", 0), u"HOST", "Forbidden"},
      {"a locking line", Line(u"Bob: hi", MSG_LOCK), u"HOST", "Forbidden"},
      {"a request for time", Line(ExtensionRequest(u"Bob"), MSG_STAMP), u"HOST", "accepted"},
      {"a request for a topic", Line(TopicChangeRequest(u"Bob"), MSG_STAMP), u"GUEST", "accepted"},
      {"a stamped line of its own", Line(u"** Bob wins ", MSG_STAMP), u"HOST", "Forbidden"},
      {"a locking request", Line(ExtensionRequest(u"Bob"), MSG_STAMP | MSG_LOCK), u"HOST",
       "Forbidden"},
      {"a line to the subject", Line(u"Bob: hi"), u"SUBJECT", "Forbidden"},
      {"an order", Arrival(TArrivalKind::Message, kBob, 9, {{0, Str(u"ORDER")}, {1, Str(u"KICK")}}),
       u"GUEST", "Forbidden"},
  };
  for (const auto& c : cases) {
    TGuardBook book = WithBob();
    EXPECT_EQ(Ruling(JudgeArrival(book, c.arrival, c.addressee, 0)), c.ruling) << c.what;
  }
  // Once it has cleared its role it says nothing more, nor takes a role again.
  TGuardBook book = WithBob();
  JudgeArrival(book, update(SLOT_ROLE, Str(u"")), u"", 0);
  EXPECT_EQ(Ruling(JudgeArrival(book, Line(u"Bob: hi"), u"HOST", 0)), "Forbidden");
  EXPECT_EQ(Ruling(JudgeArrival(book, update(SLOT_ROLE, Str(u"GUEST")), u"", 0)), "Forbidden");
}

TEST(RoomRules, LinesAreCountedOncePerTextWithOneNoticePerSpell) {
  TGuardBook book = WithBob();
  int32_t now = 1000;
  auto say = [&](int n, int copies) {
    std::string rulings;
    for (int copy = 0; copy < copies; ++copy)
      rulings += Ruling(JudgeArrival(
          book, Line(u"Bob: " + FromBytes(std::to_string(n)), SIDE_RED, kHostObject + copy),
          u"GUEST", now))[0];
    return rulings;
  };
  // The burst, each line with copies for three participants: all pass.
  for (int n = 0; n < LINE_BURST; ++n) EXPECT_EQ(say(n, 3), "aaa") << n;
  // The next line, with all its copies, is dropped: one notice.
  EXPECT_EQ(say(100, 3), "TTT");
  EXPECT_EQ(say(101, 3), "TTT");
  EXPECT_EQ(book.owedNotice, std::vector<int32_t>{kBob});
  // The same text again is a new line, not a copy.
  now += 1000 / LINES_PER_SECOND;
  EXPECT_EQ(say(102, 1), "a");
  EXPECT_EQ(say(102, 1), "T");
  // Quiet long enough to fill up again: a later spell is told again.
  now += 1000 * LINE_BURST / LINES_PER_SECOND;
  for (int n = 0; n <= LINE_BURST; ++n) say(200 + n, 1);
  EXPECT_EQ(book.owedNotice, (std::vector<int32_t>{kBob, kBob}));
}

TEST(RoomRules, AnAddressCopiedFromElsewhereIsRefusedAndAGuestBackTakesItsPlace) {
  TGuardBook book = WithBob();
  // Regression: a participant reporting another guest's address made that guest quit.
  GuestConnected(book, 2, kBobsIp + 1, 0);
  EXPECT_EQ(Ruling(JudgeArrival(book, Participant(u"Eve", u"1.2.3.4", 2, 8), u"", 0)), "Forbidden");
  EXPECT_TRUE(book.toEnd.empty());
  // Regression: a guest rejoining after a crash was refused by its old participant.
  GuestConnected(book, 3, kBobsIp, 0);
  EXPECT_EQ(Ruling(JudgeArrival(book, Participant(u"Bob", u"1.2.3.4", 3, 9), u"", 0)), "accepted");
  EXPECT_EQ(book.toEnd, std::vector<int32_t>{kBob});
}

TEST(RoomRules, ConnectionsEndWhenTheyOverstay) {
  TGuardBook book = WithBob();
  GuestConnected(book, 2, 1, 0);  // never joins
  GuestConnected(book, 3, 2, 0);  // joins, leaves and stays
  JudgeArrival(book, Participant(u"Cy", u"", 3, 9), u"", 0);
  JudgeArrival(book, Arrival(TArrivalKind::Update, 3, 9, {{SLOT_ROLE, Str(u"")}}), u"", 1000);
  const int32_t kickedAt = PARTICIPANT_DEADLINE_MS - KICK_GRACE_MS + 500;
  GuestKicked(book, kBob, kickedAt);
  EXPECT_TRUE(OverstayingGuests(book, PARTICIPANT_DEADLINE_MS).empty());
  EXPECT_EQ(OverstayingGuests(book, PARTICIPANT_DEADLINE_MS + 1), std::vector<int32_t>{2});
  EXPECT_EQ(OverstayingGuests(book, kickedAt + KICK_GRACE_MS + 1), (std::vector<int32_t>{kBob, 2}));
  EXPECT_EQ(OverstayingGuests(book, 1000 + PARTICIPANT_DEADLINE_MS + 1),
            (std::vector<int32_t>{kBob, 2, 3}));
  // A kicked guest says nothing more.
  EXPECT_EQ(Ruling(JudgeArrival(book, Line(u"Bob: hi"), u"HOST", kickedAt)), "Forbidden");
}
