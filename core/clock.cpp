#include "core/clock.h"

#include <sys/sysinfo.h>
#include <sys/time.h>

int64_t WallMilliSecs() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return static_cast<int64_t>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

static int64_t ClockBase() {
  struct sysinfo info {};
  long uptime = sysinfo(&info) == 0 ? info.uptime : 0;
  return WallMilliSecs() - static_cast<int64_t>(uptime) * 1000;
}

int32_t MilliSecs() {
  static const int64_t base = ClockBase();  // thread-safe static init
  return static_cast<int32_t>(static_cast<uint32_t>(WallMilliSecs() - base));
}
