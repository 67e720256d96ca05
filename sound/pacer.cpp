#include "sound/pacer.h"

#include <algorithm>

#include "sound/mixer.h"

namespace mix {

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kBlockNanos = kNanosPerSecond * kBlockFrames / kMixRate;

}  // namespace

pacer::pacer(int32_t queueBlocks)
    : _queueFrames(static_cast<int64_t>(std::max(queueBlocks, 1)) * kBlockFrames) {}

int64_t pacer::PlayedOutAt(int64_t frames) const {
  return _since + frames * kNanosPerSecond / kMixRate;
}

int64_t pacer::NextWrite() const { return PlayedOutAt(_frames - _queueFrames); }

void pacer::Wrote(int64_t began, int64_t done) {
  if (done - began >= kBlockNanos / 2) {
    // The device kept the write waiting: its queue is full now.
    _since = done;
    _frames = _queueFrames;
    return;
  }
  if (PlayedOutAt(_frames) < done) {
    // The queue ran dry: playing starts again from now, without catching up.
    _since = done;
    _frames = 0;
  }
  _frames += kBlockFrames;
  // Whole seconds move into the start time, so the frame count stays small.
  const int64_t seconds = _frames / kMixRate;
  _since += seconds * kNanosPerSecond;
  _frames -= seconds * kMixRate;
}

}  // namespace mix
