// Keeps the output thread from writing faster than real time. A device that
// takes blocks at once (a null device, a file, some sound servers) would
// otherwise be fed as fast as the thread mixes; one whose writes block while
// its queue is full keeps pacing the thread itself.
//
// The pacer follows what a device playing in real time would still hold: the
// next block may go once that is no more than the device's own queue, so the
// output runs at most one block ahead of a full queue. A write that blocked
// (half a block or longer) shows the device is full and sets its pace: the
// pacer then trusts it, so a device whose clock runs a little fast is never
// starved.
//
// Pure arithmetic: times are nanoseconds of a monotonic clock, read by the
// caller. Output thread only.
#pragma once

#include <cstdint>
#include <limits>

namespace mix {

class pacer {
 public:
  // `queueBlocks`: how many blocks the device itself queues (1 or more).
  explicit pacer(int32_t queueBlocks);

  // When the next block may be written (a time already past means at once).
  int64_t NextWrite() const;
  // A block was written; the write began at `began` and returned at `done`.
  void Wrote(int64_t began, int64_t done);

 private:
  // When the frames queued since `_since` will have played.
  int64_t PlayedOutAt(int64_t frames) const;

  int64_t _queueFrames;
  int64_t _since = std::numeric_limits<int64_t>::min() / 2;  // start of the current run
  int64_t _frames = 0;  // frames written since `_since`
};

}  // namespace mix
