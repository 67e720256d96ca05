#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "ui/event_queue.h"

namespace {

// The queue is process-wide: every case starts from an empty one.
class EventQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    InitEvents();
    while (TEventQueue::Poll() != 0) {
    }
  }
  TObjectRef a = std::make_shared<TObject>();
  TObjectRef b = std::make_shared<TObject>();
};

void EmitEvent(int32_t id, const TObjectRef& source, int32_t data = 0) {
  TEvent::Create(id, source, data)->Emit();
}

}  // namespace

TEST_F(EventQueueTest, TicksOfOneSourceCoalesceIntoTheLatestAndTwoSourcesStaySeparate) {
  EmitEvent(TimerTick, a, 1);
  EmitEvent(TimerTick, b, 7);
  EmitEvent(TimerTick, a, 2);
  ASSERT_EQ(TEventQueue::Pending(), 2);
  EXPECT_EQ(TEventQueue::Wait(), TimerTick);
  EXPECT_EQ(TEventQueue::Current()->source, a);
  EXPECT_EQ(TEventQueue::Current()->data, 2);
  EXPECT_EQ(TEventQueue::Wait(), TimerTick);
  EXPECT_EQ(TEventQueue::Current()->source, b);
}

TEST_F(EventQueueTest, CloseRequestsAreNeverCoalesced) {
  EmitEvent(WindowClose, a);
  EmitEvent(WindowClose, a);
  EXPECT_EQ(TEventQueue::Pending(), 2);
}

TEST_F(EventQueueTest, FullQueueDropsNewEventsButStillUpdatesACoalescedOne) {
  EmitEvent(GadgetAction, a, 1);
  for (int i = 1; i < TEventQueue::kSize; ++i) EmitEvent(KeyUp, b, i);
  ASSERT_EQ(TEventQueue::Pending(), TEventQueue::kSize);
  EmitEvent(KeyDown, b, 999);
  EmitEvent(GadgetAction, a, 42);
  EXPECT_EQ(TEventQueue::Pending(), TEventQueue::kSize);
  EXPECT_EQ(TEventQueue::Poll(), GadgetAction);
  EXPECT_EQ(TEventQueue::Current()->data, 42);
  int32_t last = 0;
  while (TEventQueue::Poll() != 0) {
    EXPECT_NE(TEventQueue::Current()->id, KeyDown);
    last = TEventQueue::Current()->data;
  }
  EXPECT_EQ(last, TEventQueue::kSize - 1);
}

TEST_F(EventQueueTest, EmptyPollMakesTheNullEventCurrent) {
  EmitEvent(KeyDown, a);
  TEventQueue::Poll();
  EXPECT_EQ(TEventQueue::Poll(), 0);
  EXPECT_EQ(TEventQueue::Current()->id, 0);
  EXPECT_EQ(TEventQueue::Current()->source, nullptr);
}

TEST_F(EventQueueTest, PeekLeavesTheEventForWait) {
  EXPECT_EQ(TEventQueue::Peek(), nullptr);
  EmitEvent(MouseDown, a, 3);
  TEventRef peeked = TEventQueue::Peek();
  ASSERT_NE(peeked, nullptr);
  EXPECT_EQ(TEventQueue::Current()->id, 0);
  EXPECT_EQ(TEventQueue::Wait(), MouseDown);
  EXPECT_EQ(TEventQueue::Current(), peeked);
}

TEST(EventText, FormsOfToString) {
  InitEvents();
  EXPECT_EQ(TEvent::Create(TimerTick, nullptr, 5)->ToString(),
            u"TimerTick: data=5, mods=0, x=0, y=0, extra=\"\"");
  EXPECT_EQ(TEvent::Create(0x12345, nullptr, -3, 0, 0, 0, std::make_shared<TStringObject>(u"x"))
                ->ToString(),
            u"Unknown Event, id=74565: data=-3, mods=0, x=0, y=0, extra=\"x\"");
  int32_t user = TEvent::AllocUserId();
  EXPECT_EQ(TEvent::AllocUserId(), user + 1);
  EXPECT_EQ(TEvent::Create(static_cast<int32_t>(0x80000001u))->ToString().substr(0, 11), u"UserEvent1:");
}

TEST(EventText, FirstRegistrationWins) {
  InitEvents();
  TEvent::RegisterId(GadgetAction, u"Other");
  EXPECT_EQ(TEvent::DescriptionForId(GadgetAction), u"GadgetAction");
  EXPECT_EQ(TEvent::DescriptionForId(0x7777), u"");
}

namespace {

std::vector<std::string> hookLog;

TObjectRef Record(int, const TObjectRef& data, const TObjectRef& context) {
  hookLog.push_back(ToBytes(ObjectText(context)));
  return data;
}

TObjectRef SeeQueued(int, const TObjectRef& data, const TObjectRef&) {
  hookLog.push_back(TEventQueue::Pending() ? "queued" : "not yet");
  return data;
}

}  // namespace

TEST_F(EventQueueTest, HooksRunByPriorityAndTheQueueHookLast) {
  auto first5 = std::make_shared<TStringObject>(u"first 5");
  auto ten = std::make_shared<TStringObject>(u"10");
  auto second5 = std::make_shared<TStringObject>(u"second 5");
  int id = EventHookId();
  THook::Add(id, Record, first5, 5);
  THook::Add(id, Record, ten, 10);
  THook::Add(id, Record, second5, 5);
  THook::Add(id, SeeQueued, nullptr, -9999);
  hookLog.clear();
  EmitEvent(KeyDown, a);
  EXPECT_EQ(hookLog, (std::vector<std::string>{"10", "first 5", "second 5", "not yet"}));
  EXPECT_EQ(TEventQueue::Pending(), 1);
  THook::Remove(id, Record, first5);
  THook::Remove(id, Record, ten);
  THook::Remove(id, Record, second5);
  THook::Remove(id, SeeQueued, nullptr);
  hookLog.clear();
  EmitEvent(KeyDown, a);
  EXPECT_TRUE(hookLog.empty());
}

TEST_F(EventQueueTest, QueueHookPassesNonEventsThrough) {
  auto text = std::make_shared<TStringObject>(u"not an event");
  EXPECT_EQ(THook::Run(EventHookId(), text), nullptr);
  EXPECT_EQ(TEventQueue::Pending(), 0);
}

TEST(HookIdsDeathTest, The257thHookIdRaises) {
  EXPECT_EXIT(
      {
        InitEvents();  // has taken id 0
        int last = -1;
        try {
          for (;;) last = THook::AllocId();
        } catch (const std::exception& e) {
          if (last == 255 && std::string(e.what()) == "Too many hook ids") std::exit(7);
        }
        std::exit(1);
      },
      testing::ExitedWithCode(7), "");
}

namespace {

std::vector<int> asyncOrder;

void Append(void* object, void* argument) {
  (void)object;
  asyncOrder.push_back(static_cast<int>(reinterpret_cast<intptr_t>(argument)));
}

void EmitFromMain(void* object, void*) {
  TEvent::Create(AppIdle, static_cast<TObject*>(object)->shared_from_this())->Emit();
}

}  // namespace

TEST_F(EventQueueTest, AsyncOpsRunOnTheMainThreadInPostingOrder) {
  asyncOrder.clear();
  std::thread producer([] {
    for (intptr_t i = 0; i < 1000; ++i) PostAsyncOp(Append, nullptr, reinterpret_cast<void*>(i));
  });
  producer.join();
  FlushAsyncOps();
  ASSERT_EQ(asyncOrder.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(asyncOrder[i], i);
}

TEST_F(EventQueueTest, AnotherThreadWakesABlockedWait) {
  TObject* source = a.get();
  std::thread poster([source] { PostAsyncOp(EmitFromMain, source, nullptr); });
  EXPECT_EQ(TEventQueue::Wait(), AppIdle);
  EXPECT_EQ(TEventQueue::Current()->source, a);
  poster.join();
}

TEST_F(EventQueueTest, ABatchOfOperationsWritesOneWakeUpByte) {
  // Regression: a byte per operation, written under the list's lock, woke
  // the main thread only for it to block on that lock.
  std::thread producer([] {
    for (int i = 0; i < 100; ++i) PostAsyncOp(Append, nullptr, nullptr);
  });
  producer.join();
  int bytes = 0;
  ASSERT_EQ(ioctl(WakeUpFd(), FIONREAD, &bytes), 0);
  EXPECT_EQ(bytes, 1);
  EXPECT_EQ(PendingAsyncOps(), 100);
  FlushAsyncOps();
  ASSERT_EQ(ioctl(WakeUpFd(), FIONREAD, &bytes), 0);
  EXPECT_EQ(bytes + PendingAsyncOps(), 0);
}

namespace {

void EmitWhatArrived(int fd, void* source) {
  char byte = 0;
  if (read(fd, &byte, 1) == 1)
    TEvent::Create(StreamAvail, static_cast<TObject*>(source)->shared_from_this(), byte)->Emit();
}

}  // namespace

TEST_F(EventQueueTest, AWatchedDescriptorIsServedWhileWaitingUntilUnwatched) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  WatchReadable(fds[0], EmitWhatArrived, a.get());
  ASSERT_EQ(write(fds[1], "xy", 2), 2);
  EXPECT_EQ(TEventQueue::Wait(), StreamAvail);
  EXPECT_EQ(TEventQueue::Current()->data, 'x');
  UnwatchReadable(fds[0]);
  EXPECT_EQ(TEventQueue::Poll(), 0);  // 'y' waits unread
  close(fds[0]);
  close(fds[1]);
}
