#include "ui/background.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "ui/event_queue.h"

int32_t BackgroundDone() {
  static const int32_t id = [] {
    int32_t allocated = TEvent::AllocUserId();
    TEvent::RegisterId(allocated, u"BackgroundDone");
    return allocated;
  }();
  return id;
}

void TBackgroundTask::Cancel() {
  std::lock_guard<std::mutex> lock(_mutex);
  _cancelled = true;
}

bool TBackgroundTask::Cancelled() const {
  std::lock_guard<std::mutex> lock(_mutex);
  return _cancelled;
}

bool TBackgroundTask::WaitFinished(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(_mutex);
  auto finished = [this] { return _finished; };
  if (timeoutMs < 0) {
    _finishedChanged.wait(lock, finished);
    return true;
  }
  return _finishedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), finished);
}

void TBackgroundTask::Launch(std::function<void()> body, TBackgroundTaskRef after) {
  InitEvents();
  BackgroundDone();  // registered on the main thread, before any worker asks
  auto self = std::static_pointer_cast<TBackgroundTask>(shared_from_this());
  try {
    std::thread([self, body, after] { self->Run(body, after); }).detach();
  } catch (const std::system_error&) {
    Run(body, after);
  }
}

void TBackgroundTask::Run(const std::function<void()>& body, const TBackgroundTaskRef& after) {
  if (after) after->WaitFinished(-1);
  body();
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _finished = true;
  }
  _finishedChanged.notify_all();
  // The operation holds the task until the main thread has announced it.
  auto* held = new TBackgroundTaskRef(std::static_pointer_cast<TBackgroundTask>(shared_from_this()));
  PostAsyncOp(Announce, nullptr, held);
}

void TBackgroundTask::Announce(void*, void* argument) {
  auto* held = static_cast<TBackgroundTaskRef*>(argument);
  TBackgroundTaskRef task = std::move(*held);
  delete held;
  task->_done = true;
  TEvent::Create(BackgroundDone(), task)->Emit();
}

bool TBackgroundLane::WaitIdle(int32_t timeoutMs) {
  return !_last || _last->WaitFinished(timeoutMs);
}
