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
  // Handle pending input, wake-ups and watched descriptors, emitting events,
  // without blocking.
  virtual void Poll() = 0;
  // Poll, then block until input, a wake-up or a watched descriptor arrives,
  // and handle it.
  virtual void Wait() = 0;
  // Start or stop waking for a descriptor of WatchReadable; when it is
  // readable the driver calls HandleReadable(fd). A driver that looks up the
  // watched descriptors itself on every wait needs neither.
  virtual void WatchFd(int /*fd*/) {}
  virtual void UnwatchFd(int /*fd*/) {}
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

// The driver installed at start: blocks in poll() on the wake-up pipe and the
// watched descriptors.
class TLinuxSystemDriver : public TSystemDriver {
 public:
  void Poll() override;
  void Wait() override;
};

// Installs `driver`; the watched descriptors move over to it.
void SetSystemDriver(std::shared_ptr<TSystemDriver> driver);
TSystemDriver& CurrentSystemDriver();

// Guarded calls into the driver: both do nothing while either is already in
// progress, so a handler running inside the driver cannot re-enter it.
void DriverPoll();
void DriverWait();
// Whether a DriverPoll or DriverWait is in progress: an event emitted now
// reaches the queue's reader as soon as that call returns. Otherwise the
// emitter runs inside a loop of its own (a modal requester's), and the queue
// may not be read until that loop ends.
bool DriverBusy();

// Asynchronous operations. PostAsyncOp may be called from any thread: it
// appends {func, object, argument} to a FIFO list and wakes the main thread
// (one wake-up byte for a list that was empty, written outside the list's
// lock). FlushAsyncOps (main thread only) runs every operation posted so far,
// in posting order.
using TAsyncFunc = void (*)(void* object, void* argument);
void PostAsyncOp(TAsyncFunc func, void* object, void* argument);
void FlushAsyncOps();
// How many operations are posted and not yet run (any thread).
int PendingAsyncOps();
// Read end of the wake-up pipe; a waiting driver watches it for reading and
// calls FlushAsyncOps when it is readable.
int WakeUpFd();

// Descriptor watching, main thread only. `handler(fd, context)` runs each
// time `fd` has something to read, from whichever loop waits in the driver
// at the time: the queue's Wait, but also the toolkit's own loops of the
// message boxes, prompts and the file requester, which do not serve the
// event queue. So it may run inside any call that polls the driver (a modal
// requester, ActiveGadget()); it must not open a dialog itself, and it must
// read what is there, since it runs again for as long as `fd` stays
// readable. One handler per descriptor: watching a watched descriptor
// replaces its handler. Unwatch before closing the descriptor.
using TReadableFunc = void (*)(int fd, void* context);
void WatchReadable(int fd, TReadableFunc handler, void* context);
void UnwatchReadable(int fd);
// Runs the handler watching `fd`, if any (called by the drivers).
void HandleReadable(int fd);
