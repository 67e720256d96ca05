// Periodic timers. Each running timer is one of the kernel's timer
// descriptors (CLOCK_MONOTONIC), watched by the system driver like any other
// descriptor (WatchReadable), so a tick wakes the main thread directly and no
// thread sleeps for it; the tick then emits a TimerTick event with the timer
// as source. Deadlines are multiples of the period after the start, so ticks
// do not drift; ticks missed while the main thread was busy fire back to
// back when it is free again (the queue coalesces their events).
//
// Main thread only. A running timer stays alive until it is stopped, even
// when nobody else holds it.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/event.h"

class TTimer : public TObject {
 public:
  // A running timer at `frequency` hertz (period = 1000 / frequency ms,
  // truncated), or null when the system gives no timer. With an `event`,
  // that same event is emitted on every tick instead of a TimerTick.
  static std::shared_ptr<TTimer> Create(float frequency, TEventRef event = nullptr);
  ~TTimer() override;

  int32_t Ticks() const { return _ticks; }
  // A stopped timer never fires again. Calling it twice is harmless.
  void Stop();
  // One tick, on the main thread (called when the timer expires).
  void Fire();
  // Blocks in DriverWait until ticks arrived that Wait has not yet counted;
  // returns how many (0 at once for a stopped timer).
  int32_t Wait();

  int32_t _ticks = 0;
  int32_t _wticks = 0;
  std::shared_ptr<TTimer> _cycle;
  TEventRef _event;
  int _handle = -1;  // the timer descriptor while running, -1 once stopped

 private:
  static void Expired(int fd, void* timer);
};

using TTimerRef = std::shared_ptr<TTimer>;

// Milliseconds per tick for a frequency in hertz.
int32_t TimerPeriod(float frequency);
