#include "ui/timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <set>

#include "ui/event_queue.h"

int32_t TimerPeriod(float frequency) { return static_cast<int32_t>(1000.0f / frequency); }

namespace {

// Running timers stay alive until stopped, as a sleeping thread of their own
// would keep them.
std::set<std::shared_ptr<TTimer>>& Running() {
  static auto* running = new std::set<std::shared_ptr<TTimer>>;
  return *running;
}

timespec Milliseconds(int32_t ms) {
  return timespec{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
}

}  // namespace

std::shared_ptr<TTimer> TTimer::Create(float frequency, TEventRef event) {
  InitEvents();
  int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) return nullptr;
  int32_t period = TimerPeriod(frequency);
  itimerspec every{Milliseconds(period), Milliseconds(period)};
  if (period <= 0 || timerfd_settime(fd, 0, &every, nullptr) != 0) {
    close(fd);
    return nullptr;
  }
  auto timer = std::make_shared<TTimer>();
  timer->_event = std::move(event);
  timer->_handle = fd;
  Running().insert(timer);
  WatchReadable(fd, Expired, timer.get());
  return timer;
}

TTimer::~TTimer() { Stop(); }

void TTimer::Expired(int fd, void* timer) {
  uint64_t expirations = 0;
  if (read(fd, &expirations, sizeof expirations) != sizeof expirations) return;
  auto* self = static_cast<TTimer*>(timer);
  // A hook that sees the tick may stop the timer; keep it alive meanwhile.
  std::shared_ptr<TObject> hold = self->shared_from_this();
  for (uint64_t i = 0; i < expirations && self->_handle >= 0; ++i) self->Fire();
}

void TTimer::Stop() {
  if (_handle < 0) return;
  UnwatchReadable(_handle);
  close(_handle);
  _handle = -1;
  _event.reset();
  // Last: this may drop the final reference.
  for (auto it = Running().begin(); it != Running().end(); ++it) {
    if (it->get() != this) continue;
    Running().erase(it);
    break;
  }
}

void TTimer::Fire() {
  if (_handle < 0) return;
  ++_ticks;
  if (!_event) {
    TEvent::Create(TimerTick, shared_from_this(), _ticks)->Emit();
  } else {
    _event->Emit();
  }
}

int32_t TTimer::Wait() {
  if (_handle < 0) return 0;
  do {
    DriverWait();
  } while (_ticks == _wticks && _handle >= 0);
  int32_t arrived = _ticks - _wticks;
  _wticks = _ticks;
  return arrived;
}
