#include "ui/event_queue.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace {

struct QueueState {
  TEventRef ring[TEventQueue::kSize];
  int32_t put = 0;
  int32_t get = 0;
  TEventRef nullEvent = std::make_shared<TEvent>();
  TEventRef current = nullEvent;
};

QueueState& Queue() {
  static QueueState* state = new QueueState;
  return *state;
}

int SlotOf(int32_t counter) { return static_cast<int>(static_cast<uint32_t>(counter) % TEventQueue::kSize); }

TEventRef TakeOldest() {
  auto& q = Queue();
  TEventRef& slot = q.ring[SlotOf(q.get)];
  TEventRef event = std::move(slot);
  slot.reset();
  ++q.get;
  q.current = event;
  return event;
}

// Emitted events reach the queue through this hook: the ids that stand for
// a latest state (a tick count, a value, a position, a size) coalesce, so a
// slow consumer sees the newest instead of a backlog.
TObjectRef QueueHook(int, const TObjectRef& data, const TObjectRef&) {
  auto event = std::dynamic_pointer_cast<TEvent>(data);
  if (!event) return nullptr;
  switch (event->id) {
    case TimerTick:
    case GadgetAction:
    case WindowMove:
    case WindowSize:
      TEventQueue::Post(event, true);
      break;
    default:
      TEventQueue::Post(event, false);
  }
  return event;
}

struct DriverState {
  std::shared_ptr<TSystemDriver> driver;
  bool busy = false;
};

DriverState& Driver() {
  static DriverState* state = new DriverState;
  return *state;
}

// The asynchronous-operation list. Lives until exit on purpose: timer threads
// may still post while the process ends.
struct AsyncNode {
  AsyncNode* next;
  TAsyncFunc func;
  void* object;
  void* argument;
};

struct AsyncList {
  std::mutex mutex;
  AsyncNode* head = nullptr;
  AsyncNode* tail = nullptr;
  int pipeRead = -1;
  int pipeWrite = -1;
  AsyncList() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
      std::perror("pipe");
      return;
    }
    pipeRead = fds[0];
    pipeWrite = fds[1];
  }
};

AsyncList& Async() {
  static AsyncList* list = new AsyncList;
  return *list;
}

class DriverGuard {
 public:
  DriverGuard() : entered_(!Driver().busy) {
    if (entered_) Driver().busy = true;
  }
  ~DriverGuard() {
    if (entered_) Driver().busy = false;
  }
  bool entered() const { return entered_; }

 private:
  bool entered_;
};

// In order of dependency: EventHookId starts the event module, then the
// queue's hook goes to the end of the event chain, then the default driver.
void StartQueue() {
  THook::Add(EventHookId(), QueueHook, nullptr, -10000);
  SetSystemDriver(std::make_shared<TLinuxSystemDriver>());
}

}  // namespace

void InitEvents() {
  static const bool started = (StartQueue(), true);
  (void)started;
}

void TEventQueue::Post(const TEventRef& event, bool coalesce) {
  auto& q = Queue();
  if (coalesce) {
    for (int32_t i = q.get; i != q.put; ++i) {
      TEventRef& pending = q.ring[SlotOf(i)];
      if (pending->id == event->id && pending->source == event->source) {
        pending->data = event->data;
        pending->mods = event->mods;
        pending->x = event->x;
        pending->y = event->y;
        pending->extra = event->extra;
        return;
      }
    }
  }
  if (q.put - q.get >= kSize) return;
  q.ring[SlotOf(q.put)] = event;
  ++q.put;
}

int TEventQueue::Pending() {
  auto& q = Queue();
  return q.put - q.get;
}

int32_t TEventQueue::Poll() {
  InitEvents();
  if (Pending() == 0) DriverPoll();
  if (Pending() == 0) {
    Queue().current = Queue().nullEvent;
    return 0;
  }
  return TakeOldest()->id;
}

int32_t TEventQueue::Wait() {
  InitEvents();
  while (Pending() == 0) DriverWait();
  return TakeOldest()->id;
}

TEventRef TEventQueue::Peek() {
  InitEvents();
  if (Pending() == 0) DriverPoll();
  if (Pending() == 0) return nullptr;
  return Queue().ring[SlotOf(Queue().get)];
}

const TEventRef& TEventQueue::Current() { return Queue().current; }

int TSystemDriver::Notify(const TString& text, int) {
  std::fprintf(stderr, "%s\n", ToBytes(text).c_str());
  return 0;
}
int TSystemDriver::Confirm(const TString&, int) { return 0; }
int TSystemDriver::Proceed(const TString&, int) { return -1; }
TString TSystemDriver::RequestFile(const TString&, const TString&, int, const TString&) { return {}; }
TString TSystemDriver::RequestDir(const TString&, const TString&) { return {}; }
int TSystemDriver::OpenURL(const TString&) { return 0; }

static void WaitReadable(int fd, timeval* timeout) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(fd, &set);
  while (select(fd + 1, &set, nullptr, nullptr, timeout) < 0 && errno == EINTR) {
    FD_ZERO(&set);
    FD_SET(fd, &set);
  }
}

void TLinuxSystemDriver::Poll() { FlushAsyncOps(); }

void TLinuxSystemDriver::Wait() {
  WaitReadable(WakeUpFd(), nullptr);
  FlushAsyncOps();
}

void SetSystemDriver(std::shared_ptr<TSystemDriver> driver) { Driver().driver = std::move(driver); }

TSystemDriver& CurrentSystemDriver() {
  InitEvents();
  return *Driver().driver;
}

void DriverPoll() {
  DriverGuard guard;
  if (guard.entered()) CurrentSystemDriver().Poll();
}

void DriverWait() {
  DriverGuard guard;
  if (guard.entered()) CurrentSystemDriver().Wait();
}

void PostAsyncOp(TAsyncFunc func, void* object, void* argument) {
  auto& list = Async();
  auto* node = new AsyncNode{nullptr, func, object, argument};
  std::lock_guard<std::mutex> lock(list.mutex);
  if (list.tail)
    list.tail->next = node;
  else
    list.head = node;
  list.tail = node;
  // A full pipe already guarantees a wake-up; the byte may then be skipped.
  char byte = 1;
  ssize_t written = write(list.pipeWrite, &byte, 1);
  (void)written;
}

void FlushAsyncOps() {
  auto& list = Async();
  AsyncNode* node;
  {
    std::lock_guard<std::mutex> lock(list.mutex);
    if (!list.head) return;
    node = list.head;
    list.head = list.tail = nullptr;
    int ready = 0;
    if (ioctl(list.pipeRead, FIONREAD, &ready) == 0 && ready > 0) {
      char sink[256];
      while (ready > 0) {
        ssize_t got = read(list.pipeRead, sink, ready < 256 ? ready : 256);
        if (got <= 0) break;
        ready -= static_cast<int>(got);
      }
    }
  }
  while (node) {
    AsyncNode* next = node->next;
    node->func(node->object, node->argument);
    delete node;
    node = next;
  }
}

int WakeUpFd() { return Async().pipeRead; }
