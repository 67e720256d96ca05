#include "ui/event_queue.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <vector>

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

struct TWatch {
  TReadableFunc handler;
  void* context;
};

std::map<int, TWatch>& Watches() {
  static auto* watches = new std::map<int, TWatch>;
  return *watches;
}

// The asynchronous-operation list. Lives until exit on purpose: other threads
// (the termination signals' one) may still post while the process ends.
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

namespace {

// Waits up to `timeoutMs` (-1: no limit) for the wake-up pipe or a watched
// descriptor, then serves what is readable.
void WaitForInput(int timeoutMs) {
  std::vector<pollfd> fds{{WakeUpFd(), POLLIN, 0}};
  for (const auto& [fd, watch] : Watches()) fds.push_back({fd, POLLIN, 0});
  while (poll(fds.data(), fds.size(), timeoutMs) < 0 && errno == EINTR) {
  }
  for (size_t i = 1; i < fds.size(); ++i)
    if (fds[i].revents) HandleReadable(fds[i].fd);
  FlushAsyncOps();
}

}  // namespace

void TLinuxSystemDriver::Poll() { WaitForInput(0); }

void TLinuxSystemDriver::Wait() { WaitForInput(-1); }

void SetSystemDriver(std::shared_ptr<TSystemDriver> driver) {
  std::shared_ptr<TSystemDriver>& current = Driver().driver;
  for (const auto& [fd, watch] : Watches()) {
    if (current) current->UnwatchFd(fd);
    driver->WatchFd(fd);
  }
  current = std::move(driver);
}

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

bool DriverBusy() { return Driver().busy; }

void PostAsyncOp(TAsyncFunc func, void* object, void* argument) {
  auto& list = Async();
  auto* node = new AsyncNode{nullptr, func, object, argument};
  bool wasEmpty;
  {
    std::lock_guard<std::mutex> lock(list.mutex);
    wasEmpty = !list.head;
    if (list.tail)
      list.tail->next = node;
    else
      list.head = node;
    list.tail = node;
  }
  // Outside the lock, so the woken main thread does not block on it; one byte
  // per batch, since the flush takes the whole list. A full pipe already
  // guarantees a wake-up, so the byte may then be skipped.
  if (!wasEmpty) return;
  char byte = 1;
  ssize_t written = write(list.pipeWrite, &byte, 1);
  (void)written;
}

void FlushAsyncOps() {
  auto& list = Async();
  // Emptied before the list is taken: a byte written after this belongs to
  // an operation this flush may already run, which costs one idle wake-up at
  // worst, while emptying it afterwards could swallow the wake-up of an
  // operation posted meanwhile.
  char sink[256];
  while (read(list.pipeRead, sink, sizeof sink) > 0) {
  }
  AsyncNode* node;
  {
    std::lock_guard<std::mutex> lock(list.mutex);
    node = list.head;
    list.head = list.tail = nullptr;
  }
  while (node) {
    AsyncNode* next = node->next;
    node->func(node->object, node->argument);
    delete node;
    node = next;
  }
}

int PendingAsyncOps() {
  auto& list = Async();
  std::lock_guard<std::mutex> lock(list.mutex);
  int count = 0;
  for (const AsyncNode* node = list.head; node; node = node->next) ++count;
  return count;
}

int WakeUpFd() { return Async().pipeRead; }

void WatchReadable(int fd, TReadableFunc handler, void* context) {
  Watches()[fd] = TWatch{handler, context};
  CurrentSystemDriver().WatchFd(fd);
}

void UnwatchReadable(int fd) {
  if (Watches().erase(fd) == 0) return;
  CurrentSystemDriver().UnwatchFd(fd);
}

void HandleReadable(int fd) {
  auto found = Watches().find(fd);
  if (found == Watches().end()) return;
  TWatch watch = found->second;  // the handler may unwatch
  watch.handler(fd, watch.context);
}
