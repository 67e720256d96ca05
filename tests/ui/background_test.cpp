// Background tasks: the work runs off the main thread while the main thread
// goes on handling events, its result comes back as a BackgroundDone event,
// and the tasks of a lane run in the order they were started.
#include "ui/background.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <vector>

#include "core/error.h"
#include "ui/event_queue.h"

namespace {

class BackgroundTest : public testing::Test {
 protected:
  void SetUp() override {
    InitEvents();
    while (TEventQueue::Poll() != 0) {
    }
  }
  // Handles events until `task` is done (its own event is among them).
  static void WaitDone(const TBackgroundTaskRef& task) {
    while (!task->Done()) TEventQueue::Wait();
  }
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
};

}  // namespace

TEST_F(BackgroundTest, TheResultArrivesAsAnEventWhileTheMainThreadGoesOn) {
  std::shared_future<void> gate = released;
  auto task = TBackground<int>::Start([gate](const TBackgroundTask&) {
    gate.wait();
    return 42;
  });
  TObjectRef button = std::make_shared<TObject>();
  TEvent::Create(GadgetAction, button)->Emit();
  EXPECT_EQ(TEventQueue::Wait(), GadgetAction);  // handled while the work is held
  EXPECT_FALSE(task->Done());
  release.set_value();
  EXPECT_EQ(TEventQueue::Wait(), BackgroundDone());
  EXPECT_EQ(TEventQueue::Current()->source, task);
  ASSERT_TRUE(task->Done());
  EXPECT_EQ(task->Result(), 42);
  EXPECT_EQ(TEvent::DescriptionForId(BackgroundDone()), u"BackgroundDone");

  // An error of the work is raised where its result is read.
  auto failing = TBackground<int>::Start(
      [](const TBackgroundTask&) -> int { throw TRuntimeError("ENet errror"); });
  WaitDone(failing);
  EXPECT_THROW(failing->Result(), TRuntimeError);
}

TEST_F(BackgroundTest, ALaneKeepsItsOrderAndCancelReachesTheWork) {
  std::mutex mutex;
  std::vector<int> order;
  auto record = [&](int step) {
    std::lock_guard<std::mutex> lock(mutex);
    order.push_back(step);
  };
  std::shared_future<void> gate = released;
  TBackgroundLane lane;
  auto first = lane.Start<bool>([&, gate](const TBackgroundTask& self) {
    gate.wait();
    record(1);
    return self.Cancelled();
  });
  auto second = lane.Start<bool>([&](const TBackgroundTask& self) {
    record(2);
    return self.Cancelled();
  });
  EXPECT_FALSE(second->WaitFinished(50));  // queued behind the held first
  first->Cancel();
  release.set_value();
  ASSERT_TRUE(lane.WaitIdle(10000));
  WaitDone(first);
  WaitDone(second);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(first->Result());
  EXPECT_FALSE(second->Result());
}
