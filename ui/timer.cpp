#include "ui/timer.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "ui/event_queue.h"

struct TimerThreadRecord {
  std::mutex mutex;  // guards status for the sleeping thread
  std::condition_variable wake;
  int32_t status = 1;  // 1 running, 2 stop requested
  int32_t puts = 1;    // the 1 stands for the final operation
  int32_t gets = 0;
  int32_t start = 0;
  int32_t period = 0;
  std::shared_ptr<TTimer> timer;
};

int32_t TimerPeriod(float frequency) { return static_cast<int32_t>(1000.0f / frequency); }

namespace {

void TickOperation(void*, void* argument) {
  auto* record = static_cast<TimerThreadRecord*>(argument);
  ++record->gets;
  int32_t status;
  {
    std::lock_guard<std::mutex> lock(record->mutex);
    status = record->status;
  }
  if (status == 1) {
    record->timer->Fire();
  } else if (record->gets == record->puts) {
    record->timer.reset();
    delete record;
  }
}

// Sleeps until the clock reaches `deadline` or a stop is requested; returns
// the status seen on waking. A Stop wakes the thread at once, so a stopped
// timer's thread ends promptly instead of at its next deadline.
int32_t SleepUntil(TimerThreadRecord* record, int32_t deadline) {
  std::unique_lock<std::mutex> lock(record->mutex);
  while (record->status == 1) {
    int32_t remaining = deadline - MilliSecs();
    if (remaining <= 0) break;
    record->wake.wait_for(lock, std::chrono::milliseconds(remaining));
  }
  return record->status;
}

void TimerThread(TimerThreadRecord* record) {
  int32_t deadline = record->start;
  for (;;) {
    deadline += record->period;
    if (SleepUntil(record, deadline) != 1) break;
    {
      std::lock_guard<std::mutex> lock(record->mutex);
      if (record->status != 1) break;
      ++record->puts;  // counted before the post, so the main thread sees it
    }
    PostAsyncOp(TickOperation, nullptr, record);
  }
  // The final operation; after this post the main thread owns the record.
  PostAsyncOp(TickOperation, nullptr, record);
}

}  // namespace

std::shared_ptr<TTimer> TTimer::Create(float frequency, TEventRef event) {
  InitEvents();
  auto timer = std::make_shared<TTimer>();
  auto* record = new TimerThreadRecord;
  record->start = MilliSecs();
  record->period = TimerPeriod(frequency);
  record->timer = timer;
  try {
    std::thread(TimerThread, record).detach();
  } catch (const std::system_error&) {
    delete record;
    return nullptr;
  }
  timer->_event = std::move(event);
  timer->_handle = record;
  return timer;
}

void TTimer::Stop() {
  if (!_handle) return;
  {
    std::lock_guard<std::mutex> lock(_handle->mutex);
    _handle->status = 2;
  }
  _handle->wake.notify_all();
  _handle = nullptr;
  _event.reset();
}

void TTimer::Fire() {
  if (!_handle) return;
  ++_ticks;
  if (!_event) {
    TEvent::Create(TimerTick, shared_from_this(), _ticks)->Emit();
  } else {
    _event->Emit();
  }
}

int32_t TTimer::Wait() {
  if (!_handle) return 0;
  do {
    DriverWait();
  } while (_ticks == _wticks && _handle);
  int32_t arrived = _ticks - _wticks;
  _wticks = _ticks;
  return arrived;
}
