#include <gtest/gtest.h>

#include "core/clock.h"
#include "tests/support/wait_until.h"
#include "ui/event_queue.h"
#include "ui/timer.h"

namespace {

class TimerTest : public testing::Test {
 protected:
  void SetUp() override {
    InitEvents();
    FlushAsyncOps();
    while (TEventQueue::Poll() != 0) {
    }
  }
};

}  // namespace

TEST(TimerPeriod, FromFrequency) {
  EXPECT_EQ(TimerPeriod(1.0f), 1000);
  EXPECT_EQ(TimerPeriod(0.005f), 200000);
  EXPECT_EQ(TimerPeriod(3.0f), 333);
}

TEST_F(TimerTest, ATickWakesTheBlockedMainThreadWithTheTimerAsSource) {
  TTimerRef timer = TTimer::Create(50.0f);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(TEventQueue::Wait(), TimerTick);
  EXPECT_EQ(TEventQueue::Current()->source, timer);
  EXPECT_EQ(TEventQueue::Current()->data, timer->Ticks());
  EXPECT_EQ(TEventQueue::Current()->ToString().substr(0, 15), u"TimerTick: data");
  timer->Stop();
}

TEST_F(TimerTest, MissedTicksCatchUpBackToBackAndCoalesceIntoOneEvent) {
  TTimerRef timer = TTimer::Create(10.0f);  // 100 ms
  ASSERT_NE(timer, nullptr);
  int32_t start = MilliSecs();
  // The main thread stalls for 3.5 periods; the system counts the ticks.
  while (!ClockReached(MilliSecs(), start + 350)) {
  }
  EXPECT_EQ(timer->Ticks(), 0);
  DriverPoll();
  EXPECT_GE(timer->Ticks(), 3);
  ASSERT_EQ(TEventQueue::Pending(), 1);
  TEventQueue::Poll();
  EXPECT_EQ(TEventQueue::Current()->data, timer->Ticks());
  timer->Stop();
}

TEST_F(TimerTest, StopIsFinalAndHarmlessTwice) {
  TTimerRef timer = TTimer::Create(100.0f);
  ASSERT_NE(timer, nullptr);
  EXPECT_GE(timer->Wait(), 1);
  timer->Stop();
  timer->Stop();
  EXPECT_EQ(timer->Wait(), 0);
  // A stopped timer is let go once nobody holds it.
  std::weak_ptr<TTimer> gone = timer;
  timer.reset();
  // Queued ticks and the current event hold the timer too; drain them.
  auto drain = [] {
    while (TEventQueue::Poll() != 0) {
    }
  };
  ASSERT_TRUE(WaitUntil([&] { return gone.expired(); }, 5000, drain));
}

TEST_F(TimerTest, TicksAfterStopKeepTheLastCount) {
  TTimerRef timer = TTimer::Create(100.0f);
  ASSERT_NE(timer, nullptr);
  while (timer->Ticks() < 2) timer->Wait();
  timer->Stop();
  int32_t last = timer->Ticks();
  FlushAsyncOps();
  EXPECT_EQ(timer->Ticks(), last);
}

TEST_F(TimerTest, AnOwnEventIsEmittedUnchangedOnEveryTick) {
  auto own = TEvent::Create(AppIdle, nullptr, 77);
  TTimerRef timer = TTimer::Create(100.0f, own);
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(TEventQueue::Wait(), AppIdle);
  EXPECT_EQ(TEventQueue::Current(), own);
  EXPECT_EQ(TEventQueue::Wait(), AppIdle);
  EXPECT_EQ(TEventQueue::Current(), own);
  EXPECT_EQ(own->data, 77);
  timer->Stop();
}
