// Periodic timers. Each running timer owns a thread that sleeps to fixed
// deadlines (multiples of the period after its start) and hands every tick to
// the main thread through the asynchronous-operation list; the tick then
// emits a TimerTick event with the timer as source.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/event.h"

struct TimerThreadRecord;

class TTimer : public TObject {
 public:
  // A running timer at `frequency` hertz (period = 1000 / frequency ms,
  // truncated), or null when its thread could not be started. With an
  // `event`, that same event is emitted on every tick instead of a TimerTick.
  static std::shared_ptr<TTimer> Create(float frequency, TEventRef event = nullptr);

  int32_t Ticks() const { return _ticks; }
  // A stopped timer never fires again. Calling it twice is harmless.
  void Stop();
  // One tick, on the main thread (called by the timer's operation).
  void Fire();
  // Blocks in DriverWait until ticks arrived that Wait has not yet counted;
  // returns how many (0 at once for a stopped timer).
  int32_t Wait();

  int32_t _ticks = 0;
  int32_t _wticks = 0;
  std::shared_ptr<TTimer> _cycle;
  TEventRef _event;
  TimerThreadRecord* _handle = nullptr;
};

using TTimerRef = std::shared_ptr<TTimer>;

// Milliseconds per tick for a frequency in hertz.
int32_t TimerPeriod(float frequency);
