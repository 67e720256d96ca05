// The millisecond clock: milliseconds since the system started, as a signed
// 32-bit count that may wrap. Compare readings only by their difference.
#pragma once

#include <cstdint>

// At first use the base is fixed as wall-clock milliseconds minus the
// system's uptime in whole seconds times 1000; the clock is then wall-clock
// milliseconds minus that base. Thread-safe.
int32_t MilliSecs();

// Wall-clock time in milliseconds since the epoch.
int64_t WallMilliSecs();

// Milliseconds from reading `then` to reading `now`, across a wrap.
inline int32_t ClockElapsed(int32_t now, int32_t then) {
  return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(then));
}

// True when reading `now` has reached `deadline` (signed difference).
inline bool ClockReached(int32_t now, int32_t deadline) { return ClockElapsed(now, deadline) >= 0; }
