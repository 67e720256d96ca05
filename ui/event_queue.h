// The process-wide event queue, the system driver it waits through, and the
// asynchronous-operation list, the one way in from other threads.
//
// InitEvents starts all of it; the queue's entry points, the timers and the
// gadget layer call it themselves, so only code that emits events before
// using any of them needs to call it first. Nothing here is ever torn down.
// Everything but PostAsyncOp belongs to the main thread.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/event.h"

// Starts, once (later calls do nothing): the event module (EventHookId), the
// queue with its hook as the last link of the event chain (priority -10000),
// and the default system driver TLinuxSystemDriver.
void InitEvents();

// The single queue: a ring of 256 events. Main thread only.
class TEventQueue {
 public:
  static constexpr int kSize = 256;

  // Called by the queue's hook. With `coalesce`, a pending event of the same
  // id and source takes the new data, mods, x, y and extra instead of
  // queueing; a full queue drops the event silently.
  static void Post(const TEventRef& event, bool coalesce);
  // Takes the oldest event and makes it current; returns its id, or 0 (the
  // null event becomes current) when nothing is pending even after DriverPoll.
  static int32_t Poll();
  // Blocks in DriverWait until an event is pending, then takes it.
  static int32_t Wait();
  // The oldest pending event without taking it, or null.
  static TEventRef Peek();
  // The event last taken by Poll or Wait (the null event after an empty Poll).
  static const TEventRef& Current();
  // Number of events pending.
  static int Pending();
};

// Operations of the current system driver. The event queue needs only Poll
// and Wait; the requesters are realised by the gadget layer's driver.
class TSystemDriver : public TObject {
 public:
  // Handle pending input and wake-ups, emitting events, without blocking.
  virtual void Poll() = 0;
  // Poll, then block until input or a wake-up arrives, and handle it.
  virtual void Wait() = 0;
  virtual void MoveMouse(int /*x*/, int /*y*/) {}
  virtual void SetMouseVisible(int /*flag*/) {}
  virtual int Notify(const TString& text, int serious);
  virtual int Confirm(const TString& text, int serious);
  virtual int Proceed(const TString& text, int serious);
  virtual TString RequestFile(const TString& title, const TString& filter, int save,
                              const TString& path);
  virtual TString RequestDir(const TString& title, const TString& path);
  virtual int OpenURL(const TString& url);
};

// The driver installed at start: blocks in select() on the wake-up pipe.
class TLinuxSystemDriver : public TSystemDriver {
 public:
  void Poll() override;
  void Wait() override;
};

void SetSystemDriver(std::shared_ptr<TSystemDriver> driver);
TSystemDriver& CurrentSystemDriver();

// Guarded calls into the driver: both do nothing while either is already in
// progress, so a handler running inside the driver cannot re-enter it.
void DriverPoll();
void DriverWait();

// Asynchronous operations. PostAsyncOp may be called from any thread: it
// appends {func, object, argument} to a FIFO list and wakes the main thread.
// FlushAsyncOps (main thread only) runs every operation posted so far, in
// posting order.
using TAsyncFunc = void (*)(void* object, void* argument);
void PostAsyncOp(TAsyncFunc func, void* object, void* argument);
void FlushAsyncOps();
// Read end of the wake-up pipe; a waiting driver watches it for reading and
// calls FlushAsyncOps when it is readable.
int WakeUpFd();
