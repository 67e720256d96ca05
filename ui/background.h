// Work that would hold the windows still (a lobby request, a name lookup, a
// connection attempt, a closing network host's wait for acknowledgements)
// runs on a thread of its own while the main thread goes on serving events.
// When the work has returned, its result is handed to the main thread through
// the asynchronous-operation list (ui/event_queue.h) and a BackgroundDone
// event, with the task as its source, is emitted there: a screen's loop
// (RunEventLoop) learns of it like of any other event, and every loop that
// does not know the task ignores it.
//
// Threads. Start, Done, Result and Cancel belong to the main thread. The work
// runs on its own thread and may use only what it was given: copies, or
// objects that no other thread touches until the task is done. Cancelled and
// WaitFinished may be called from any thread.
//
// Lifetime. A task that nobody holds any more still runs to its end; its
// result is then dropped on the main thread. A task does not keep the
// process alive: exit() does not wait for it (callers that need its end wait
// with WaitFinished first).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "ui/event.h"

class TBackgroundTask;
using TBackgroundTaskRef = std::shared_ptr<TBackgroundTask>;

// The id of the event that announces a finished task (a user event id,
// registered under the description "BackgroundDone").
int32_t BackgroundDone();

class TBackgroundTask : public TObject {
 public:
  // Main thread: true once the work has returned and its result may be read.
  // Set just before the BackgroundDone event is emitted, so a loop can test
  // it on any event instead of relying on that one event.
  bool Done() const { return _done; }
  // Asks the work to stop early; the work sees Cancelled() and decides. The
  // task still finishes and announces itself as usual.
  void Cancel();
  // Any thread.
  bool Cancelled() const;
  // Any thread: waits at most `timeoutMs` (a negative value: no limit) for
  // the work to return; true when it has. On the main thread only where the
  // windows may stand still: at exit, or for a wait known to be short.
  bool WaitFinished(int32_t timeoutMs);

 protected:
  // Runs `body` (the work, then the storing of its result) on a new thread,
  // after `after` has finished when it is given; then announces the task on
  // the main thread. Without a thread the body runs here, at once.
  void Launch(std::function<void()> body, TBackgroundTaskRef after);
  // The work's thread keeps what escaped it; Result raises it again.
  void KeepFailure(std::exception_ptr failure) { _failure = std::move(failure); }
  void RaiseFailure() const {
    if (_failure) std::rethrow_exception(_failure);
  }

 private:
  static void Announce(void* object, void* argument);
  void Run(const std::function<void()>& body, const TBackgroundTaskRef& after);

  mutable std::mutex _mutex;
  std::condition_variable _finishedChanged;
  bool _finished = false;   // the work has returned (guarded by _mutex)
  bool _cancelled = false;  // guarded by _mutex
  bool _done = false;       // main thread: the result is readable
  std::exception_ptr _failure;  // written by the work's thread before it finishes
};

// A task whose work returns a T (default-constructible and movable).
template <typename T>
class TBackground : public TBackgroundTask {
 public:
  using TWork = std::function<T(const TBackgroundTask& task)>;

  // Starts `work`, which may look at task.Cancelled() to stop early. With
  // `after`, the work begins only once that task has finished, so that
  // requests which must reach their peer in order leave in order.
  static std::shared_ptr<TBackground<T>> Start(TWork work, TBackgroundTaskRef after = nullptr) {
    auto task = std::make_shared<TBackground<T>>();
    TBackground<T>* raw = task.get();
    task->Launch(
        [raw, work = std::move(work)] {
          try {
            raw->_result = work(*raw);
          } catch (...) {
            raw->KeepFailure(std::current_exception());
          }
        },
        std::move(after));
    return task;
  }

  // Main thread, once Done(): what the work returned. An exception that
  // escaped the work is raised here instead, on the main thread.
  const T& Result() const {
    RaiseFailure();
    return _result;
  }

 private:
  T _result{};
};

// Tasks that must run one after another, in the order they were started (the
// lobby commands of one process, say). Main thread only.
class TBackgroundLane {
 public:
  template <typename T>
  std::shared_ptr<TBackground<T>> Start(typename TBackground<T>::TWork work) {
    auto task = TBackground<T>::Start(std::move(work), _last);
    _last = task;
    return task;
  }
  // Waits at most `timeoutMs` for the last task started to finish (and so all
  // before it); true when the lane is idle.
  bool WaitIdle(int32_t timeoutMs);

 private:
  TBackgroundTaskRef _last;
};
