// Rooms of several processes, held in one test process: real replication
// hosts over ENet on loopback, each room with a view that records what its
// window would show. Ticks are stepped by the test.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "app/room_protocol.h"
#include "tests/replication/net_support.h"

namespace {

struct TLogLine {
  TString text;
  TLogStyle style;
};

class TRecordingView : public TRoomView {
 public:
  void AppendLog(const TString& text, TLogStyle style) override { log.push_back({text, style}); }
  void AttentionSound() override {
    ++bells;
    if (onBell) onBell();  // as the window's focus check polls the toolkit
  }
  void CountdownSound() override { ++countdownTicks; }
  void LockInputs() override { locked = true; }
  void SelectSide(int32_t s) override { side = s; }
  void EnableInput(bool enabled, bool) override { inputEnabled = enabled; }
  void EnableExtend(bool enabled) override { extendEnabled = enabled; }
  void EnableChangeSubject(bool enabled) override { changeSubjectEnabled = enabled; }
  void ShowSubject(const TString& r, const TString& b, const TString& c) override {
    red = r;
    blue = b;
    countdown = c;
  }
  void ShowParticipants(const std::vector<TString>& r, const std::vector<TString>& b) override {
    reds = r;
    blues = b;
  }
  void ShowConnection(bool h) override { heard = h; }
  void ShowBars(int32_t r, int32_t b, int32_t c) override { counts = {r, b, c}; }
  void Notice(const TString& text) override { notices.push_back(text); }
  void ShowUserName(const TString& name) override { title = name; }

  // Lines containing `part`.
  int Count(const TString& part) const {
    int n = 0;
    for (const auto& line : log)
      if (line.text.find(part) != TString::npos) ++n;
    return n;
  }
  const TLogLine* Find(const TString& part) const {
    for (const auto& line : log)
      if (line.text.find(part) != TString::npos) return &line;
    return nullptr;
  }

  std::vector<TLogLine> log;
  std::function<void()> onBell;
  int bells = 0, countdownTicks = 0;
  bool locked = false, inputEnabled = false, extendEnabled = true, changeSubjectEnabled = true;
  bool heard = false;
  int32_t side = 0;
  TString red, blue, countdown, title;
  std::vector<TString> reds, blues, notices;
  std::vector<int32_t> counts;
};

struct TParticipant {
  TParticipant(const TString& name, const TString& ip, int32_t age = 0) {
    player.name = name;
    player.ip = ip;
    player.age = age;
    host = NewReplicationHost();
  }
  void Enter() {
    room = std::make_unique<TRoom>(TRoomContext{player, host, u"ColloquorRC2b", topicIndex}, view);
    room->Enter();
    room->Welcome();
  }
  void Tick() {
    if (room->InRoom()) room->Tick(++ticks, 0);
  }
  TPlayer player;
  int topicIndex = 0;
  int32_t ticks = 0;
  TGNetHostRef host;
  TRecordingView view;
  std::unique_ptr<TRoom> room;
};

class RoomProtocolTest : public testing::Test {
 protected:
  // The host, entered and ticked past its first 5 ticks.
  void SetUp() override {
    boss = std::make_unique<TParticipant>(u"Debater1", u"10.0.0.1", 500);
    port = ListenOnFreePort(boss->host);
    ASSERT_NE(port, 0);
    boss->player.rank = u"HOST";
    boss->Enter();
    for (int i = 0; i < 6; ++i) boss->Tick();
  }
  void TearDown() override {
    for (auto* p : all) CloseReplicationHost(p->host);
    CloseReplicationHost(boss->host);
  }
  TParticipant& Join(const TString& name, const TString& ip, int32_t age = 0) {
    guests.push_back(std::make_unique<TParticipant>(name, ip, age));
    TParticipant& g = *guests.back();
    EXPECT_EQ(ConnectPumped(g.host, boss->host, port), 1);
    g.player.rank = u"GUEST";
    g.Enter();
    all.push_back(&g);
    return g;
  }
  void Round() {
    boss->Tick();
    for (auto* g : all) g->Tick();
  }
  bool Until(const std::function<bool()>& condition, int timeoutMs = 8000) {
    return WaitUntil(condition, timeoutMs, [this] { Round(); });
  }
  // What the window does when traffic arrives: serve, no tick.
  void Serves() {
    boss->room->Serve();
    for (auto* g : all) g->room->Serve();
  }
  bool UntilServed(const std::function<bool()>& condition, int timeoutMs = 8000) {
    return WaitUntil(condition, timeoutMs, [this] { Serves(); });
  }

  std::unique_ptr<TParticipant> boss;
  std::vector<std::unique_ptr<TParticipant>> guests;
  std::vector<TParticipant*> all;
  int port = 0;
};

}  // namespace

TEST_F(RoomProtocolTest, ArrivalsAreAnnouncedOnlyAfterTheFirstFiveTicks) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"Debater2 has joined") == 1; }));
  ASSERT_TRUE(Until([&] { return a.view.red == TString(TopicAt(boss->topicIndex).red); }));
  EXPECT_EQ(a.view.blue, TString(TopicAt(boss->topicIndex).blue));
  // The newcomer met the host during its own first ticks: no line for it.
  EXPECT_EQ(a.view.Count(u"has joined"), 0);
  EXPECT_EQ(boss->view.Find(u"Debater2 has joined")->style, LOG_BOLD);
  EXPECT_GE(boss->view.bells, 1);

  for (int i = 0; i < 6; ++i) Round();
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  ASSERT_TRUE(Until([&] { return a.view.Count(u"Debater3 has joined") == 1; }));
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"Debater3 has joined") == 1; }));
  for (int i = 0; i < 3; ++i) Round();
  EXPECT_EQ(b.view.Count(u"has joined"), 0);
  EXPECT_TRUE(a.view.heard);
  EXPECT_EQ(boss->view.counts, (std::vector<int32_t>{0, 0, 3}));
}

TEST_F(RoomProtocolTest, ChatLinesReachEveryoneInTheSendersColour) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  a.room->ChangeSide(SIDE_RED);
  EXPECT_TRUE(a.view.inputEnabled);
  ASSERT_TRUE(Until([&] { return boss->view.reds.size() == 1; }));
  EXPECT_EQ(boss->view.reds[0], u"Debater2 [GUEST]");
  EXPECT_FALSE(a.room->Send(u"   "));
  EXPECT_TRUE(a.room->Send(u"  cats purr  "));
  ASSERT_TRUE(Until([&] { return b.view.Count(u"Debater2: cats purr\n") == 1; }));
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"Debater2: cats purr\n") == 1; }));
  EXPECT_EQ(b.view.Find(u"Debater2: cats purr")->style, LOG_RED);
  EXPECT_EQ(a.view.Count(u"Debater2: cats purr"), 1);  // its own copy only
  EXPECT_EQ(a.view.Find(u"Debater2: cats purr")->style, LOG_RED);

  boss->room->Send(u"welcome");  // undecided host: unstyled here, bold elsewhere
  EXPECT_EQ(boss->view.Find(u"Debater1*: welcome")->style, LOG_PLAIN);
  ASSERT_TRUE(Until([&] { return b.view.Count(u"Debater1*: welcome\n") == 1; }));
  EXPECT_EQ(b.view.Find(u"Debater1*: welcome")->style, LOG_BOLD);
}

TEST_F(RoomProtocolTest, UserListAndKick) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  ASSERT_TRUE(Until([&] { return a.view.counts.size() == 3 && a.view.counts[2] == 3; }));
  a.room->Send(u"/USERLIST");
  const TLogLine* list = a.view.Find(u"** USER LIST ");
  ASSERT_NE(list, nullptr);
  // In list order here: its own object first, then the replicas as they came.
  EXPECT_NE(list->text.find(u", Debater2, Debater1*, Debater3\n"), TString::npos);

  a.room->Send(u"/kick Debater3");  // a guest's kick does nothing
  boss->room->Send(u"/kick  DEBATER3");  // the argument starts with a space: no match
  for (int i = 0; i < 4; ++i) Round();
  EXPECT_TRUE(b.room->InRoom());

  boss->room->Send(u"/kick DEBATER3");
  ASSERT_TRUE(Until([&] { return !b.room->InRoom(); }));
  EXPECT_EQ(b.room->Outcome(), ROOM_BACK_TO_BROWSER);  // not the end of the program
  b.room->Exit();
  ASSERT_TRUE(Until([&] { return a.view.counts[2] == 2 && boss->view.counts[2] == 2; }));
  EXPECT_EQ(a.view.Count(u"Debater3 has left"), 0);
  EXPECT_EQ(boss->view.Count(u"Debater3 has left"), 0);
}

TEST_F(RoomProtocolTest, ABannedAddressIsKickedAgainWhenItReturns) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  ASSERT_TRUE(Until([&] { return boss->view.counts[2] == 2; }));
  boss->room->Send(u"/ban debater2");
  ASSERT_TRUE(Until([&] { return !a.room->InRoom(); }));
  a.room->Exit();
  EXPECT_EQ(boss->room->banList(), std::vector<TString>{u"10.0.0.2"});

  TParticipant& again = Join(u"Renamed", u"10.0.0.2");
  ASSERT_TRUE(Until([&] { return !again.room->InRoom(); }));
}

TEST_F(RoomProtocolTest, TheYoungerOfTwoNamesakesIsRenamed) {
  TParticipant& older = Join(u"Debater2", u"10.0.0.2", 100);
  TParticipant& younger = Join(u"Debater2", u"10.0.0.3", 5);
  ASSERT_TRUE(Until([&] { return younger.player.name == u"Debater20"; }));
  EXPECT_EQ(younger.view.title, u"Debater20");
  EXPECT_EQ(older.player.name, u"Debater2");
  ASSERT_TRUE(Until([&] {
    boss->view.log.clear();
    boss->room->Send(u"/userlist");
    return boss->view.Count(u", Debater1*, Debater2, Debater20\n") == 1;
  }));
}

TEST_F(RoomProtocolTest, TwoGuestsBehindOneAddressBothLeaveAndEndTheProgram) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.9");
  TParticipant& b = Join(u"Debater3", u"10.0.0.9");
  ASSERT_TRUE(Until([&] { return !a.room->InRoom() && !b.room->InRoom(); }));
  EXPECT_EQ(a.room->Outcome(), ROOM_END_PROGRAM);
  EXPECT_EQ(b.room->Outcome(), ROOM_END_PROGRAM);
  EXPECT_EQ(a.view.notices, std::vector<TString>{ONE_USER_PER_CONNECTION});
  EXPECT_TRUE(boss->room->InRoom());  // the host never applies the rule
}

TEST_F(RoomProtocolTest, TopicEndCountsTheSidesAndSendsEveryoneBackToUndecided) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  a.room->ChangeSide(SIDE_RED);
  b.room->ChangeSide(SIDE_BLUE);
  ASSERT_TRUE(Until([&] { return boss->view.counts == std::vector<int32_t>{1, 1, 3}; }));
  TString red = TopicAt(boss->topicIndex).red, blue = TopicAt(boss->topicIndex).blue;
  int before = boss->topicIndex;

  b.room->ChangeSubject(b.ticks);  // a guest's request
  EXPECT_FALSE(b.view.changeSubjectEnabled);
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"** Debater3 requests a topic change ** ") == 1; }));

  boss->room->ChangeSubject(boss->ticks);
  boss->Tick();
  // The counts of that tick under the positions of the topic that ended.
  TString result = TopicResultText(red, blue, 1, 1, 3);
  ASSERT_NE(boss->view.Find(result), nullptr);
  EXPECT_EQ(boss->topicIndex, NextTopicIndex(before));
  EXPECT_EQ(boss->room->topicDeadline(), boss->ticks + 300);
  EXPECT_EQ(boss->view.side, SIDE_UNDECIDED);
  ASSERT_TRUE(Until([&] { return a.view.Find(result) && b.view.Find(result); }));
  ASSERT_TRUE(Until([&] { return a.player.side == 0 && b.player.side == 0; }));
  EXPECT_FALSE(a.view.inputEnabled);
  EXPECT_TRUE(b.view.changeSubjectEnabled);
  ASSERT_TRUE(Until([&] { return boss->view.counts == std::vector<int32_t>{0, 0, 3}; }));
}

TEST_F(RoomProtocolTest, ExtendTimeIsOfferedBelowSixtySeconds) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  ASSERT_TRUE(Until([&] { return a.view.countdown.size() > 0; }));
  EXPECT_FALSE(a.view.extendEnabled);
  int32_t deadline = boss->room->topicDeadline();
  boss->room->ExtendTime();
  EXPECT_EQ(boss->room->topicDeadline(), deadline + 300);
  EXPECT_EQ(a.view.countdownTicks, 0);
}

TEST_F(RoomProtocolTest, AHostLeavingLocksItsGuestsAndTheyHearTheOthersGo) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  ASSERT_TRUE(Until([&] { return a.view.counts.size() == 3 && a.view.counts[2] == 3; }));
  boss->room->Leave(ROOM_BACK_TO_BROWSER);
  boss->room->Exit();
  ASSERT_TRUE(Until([&] { return a.view.locked && b.view.locked; }));
  const TLogLine* notice = a.view.Find(u"due To a bad connection");
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->style, LOG_BOLD);
  EXPECT_NE(notice->text.find(u"room\n** "), TString::npos);  // stamped
  CloseReplicationHost(boss->host);
  ASSERT_TRUE(Until([&] { return a.view.Count(u"Debater3 has left") == 1; }, 15000));
  EXPECT_EQ(a.view.Count(u"Debater1 has left"), 0);  // the host left by its own action
  EXPECT_TRUE(a.room->InRoom());  // stays until the user leaves
}

TEST_F(RoomProtocolTest, AGuestWhoseConnectionEndsHasLeft) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  ASSERT_TRUE(Until([&] { return boss->view.counts[2] == 2; }));
  CloseReplicationHost(a.host);
  all.clear();
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"Debater2 has left") == 1; }, 15000));
  EXPECT_EQ(boss->view.Find(u"Debater2 has left")->style, LOG_BOLD);
}

TEST_F(RoomProtocolTest, KickOrdersToTheHostOnlyShowANotice) {
  TParticipant& dev = Join(u"Dev1", u"10.0.0.5");
  dev.player.rank = u"DEV";
  ASSERT_TRUE(Until([&] { return dev.view.counts.size() == 3 && dev.view.counts[2] == 2; }));
  dev.room->Send(u"/kick debater1");
  ASSERT_TRUE(Until([&] { return boss->view.Count(u"** Host attempted to kick you from server ") == 1; }));
  EXPECT_EQ(boss->view.Find(u"attempted to kick")->style, LOG_PLAIN);
  EXPECT_TRUE(boss->room->InRoom());
}

TEST_F(RoomProtocolTest, ALineCrossesTheHostBetweenTicksAndArrivesOnceInOrder) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  TParticipant& b = Join(u"Debater3", u"10.0.0.3");
  ASSERT_TRUE(Until([&] { return a.view.counts.size() == 3 && a.view.counts[2] == 3; }));
  // Regression: a serve inside showing a message (the focus check of the
  // attention sound polls the toolkit) showed what it took in before the
  // rest of the outer batch.
  b.view.onBell = [&] { b.room->Serve(); };
  a.room->ChangeSide(SIDE_RED);
  for (const char16_t* line : {u"one", u"two", u"three"}) a.room->Send(line);  // each leaves now
  ASSERT_TRUE(UntilServed([&] { return b.view.Count(u"Debater2: three\n") == 1; }));
  std::vector<TString> got;
  for (const TLogLine& line : b.view.log)
    if (line.text.rfind(u"Debater2: ", 0) == 0) got.push_back(line.text);
  EXPECT_EQ(got, (std::vector<TString>{u"Debater2: one\n", u"Debater2: two\n",
                                       u"Debater2: three\n"}));
  EXPECT_EQ(boss->view.Count(u"Debater2: "), 3);
}

TEST_F(RoomProtocolTest, WhatServesFindBetweenTicksWaitsForTheTick) {
  TParticipant& a = Join(u"Debater2", u"10.0.0.2");
  boss->view.onBell = [&] { boss->room->Serve(); };  // serves inside the census, too
  // Several serves, which take the arrival in and then move the replica on,
  // before the host's tick: one "has joined" line all the same.
  ASSERT_TRUE(UntilServed([&] { return FindBySlot(boss->host, 1, u"Debater2") != nullptr; }));
  Serves();
  Serves();
  EXPECT_EQ(boss->view.Count(u"has joined"), 0);
  boss->Tick();
  boss->Tick();
  EXPECT_EQ(boss->view.Count(u"Debater2 has joined"), 1);

  // The light shows what was heard since the previous tick, whatever the
  // tick's own sync brought.
  bool heard = false;
  a.Tick();  // a's age goes out at once
  ASSERT_TRUE(WaitUntil([&] { return heard; }, 8000, [&] {
    boss->room->Serve();
    heard = !boss->host->ObjectsModified().empty();
  }));
  boss->room->Serve();
  boss->Tick();
  EXPECT_TRUE(boss->view.heard);
  boss->Tick();
  EXPECT_FALSE(boss->view.heard);

  // A departure the serves took in and the host has dropped since: one line.
  CloseReplicationHost(a.host);
  all.clear();
  ASSERT_TRUE(
      UntilServed([&] { return FindBySlot(boss->host, 1, u"Debater2") == nullptr; }, 15000));
  boss->Tick();
  boss->Tick();
  EXPECT_EQ(boss->view.Count(u"Debater2 has left"), 1);
  EXPECT_EQ(boss->view.counts[2], 1);
}
