#include "sound/mixer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace mix {

namespace {

constexpr uint32_t kRingMask = kRingSize - 1;

// Samples per output frame: channels x rate x frequency / 44100 in 16.16,
// widened to the position's 32 fraction bits.
uint64_t Increment(int64_t rate, const samplebuffer& buffer) {
  if (rate < 0) rate = 0;
  uint64_t perFrame = static_cast<uint64_t>(buffer.channels) * static_cast<uint64_t>(rate) *
                      static_cast<uint64_t>(buffer.frequency) / kMixRate;
  return perFrame << 16;
}

struct TGains {
  int64_t left;
  int64_t right;
};

TGains SideGains(int64_t volume, int64_t pan, int64_t depth) {
  TGains gains{volume, volume};
  if (pan > 0) gains.left = volume * (4096 - pan) / 4096;
  if (pan < 0) gains.right = volume * (4096 + pan) / 4096;
  if (depth < 0) gains.right = -gains.right;
  return gains;
}

// Linear interpolation with a 16-bit fraction.
int64_t Interpolate(int64_t a, int64_t b, int64_t fraction) { return a + (((b - a) * fraction) >> 16); }

void Accumulate(int32_t& entry, int64_t value) {
  int64_t sum = static_cast<int64_t>(entry) + value;
  entry = static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max()));
}

struct TFetch16 {
  const int16_t* data;
  int64_t operator()(size_t index) const { return data[index]; }
};

struct TFetch8 {
  const uint8_t* data;
  int64_t operator()(size_t index) const { return (static_cast<int64_t>(data[index]) - 128) * 256; }
};

template <int Channels, typename Fetch>
bool MixFrames(sound& voice, int32_t* acc, int32_t start, Fetch fetch) {
  const samplebuffer& buffer = *voice.buffer;
  const uint64_t end = static_cast<uint64_t>(buffer.length) * Channels << 32;
  const int64_t rate0 = voice.prevRate.load(std::memory_order_relaxed);
  const int64_t rate1 = voice.rate.load(std::memory_order_relaxed);
  const int64_t volume0 = voice.prevVolume.load(std::memory_order_relaxed);
  const int64_t volume1 = voice.volume.load(std::memory_order_relaxed);
  const int32_t pan = voice.pan.load(std::memory_order_relaxed);
  const int32_t depth = voice.depth.load(std::memory_order_relaxed);
  uint64_t increment = Increment(rate1, buffer);
  TGains gains = SideGains(volume1, pan, depth);
  uint64_t position = voice.position;
  bool finished = position >= end;
  for (int32_t i = start; i < kBlockFrames && !finished; ++i) {
    // Rate and volume move linearly from last block's values to the current ones.
    if (rate0 != rate1) increment = Increment(rate0 + (rate1 - rate0) * i / kBlockFrames, buffer);
    if (volume0 != volume1)
      gains = SideGains(volume0 + (volume1 - volume0) * i / kBlockFrames, pan, depth);
    const uint64_t framePosition = position / Channels;
    const size_t frame = static_cast<size_t>(framePosition >> 32) * Channels;
    const int64_t fraction = static_cast<int64_t>((framePosition >> 16) & 0xffff);
    const int64_t left = Interpolate(fetch(frame), fetch(frame + Channels), fraction);
    const int64_t right =
        Channels == 2 ? Interpolate(fetch(frame + 1), fetch(frame + 3), fraction) : left;
    Accumulate(acc[2 * i], left * gains.left / 256);
    Accumulate(acc[2 * i + 1], right * gains.right / 256);
    position += increment;
    if (position >= end) {
      if (buffer.loop)
        position %= end;
      else
        finished = true;
    }
  }
  voice.position = position;
  voice.prevRate.store(static_cast<int32_t>(rate1), std::memory_order_relaxed);
  voice.prevVolume.store(static_cast<int32_t>(volume1), std::memory_order_relaxed);
  voice.prevPan.store(pan, std::memory_order_relaxed);
  voice.prevDepth.store(depth, std::memory_order_relaxed);
  return finished;
}

}  // namespace

std::shared_ptr<samplebuffer> samplebuffer::Create(const void* pcm, int32_t length,
                                                   int32_t frequency, int32_t channels,
                                                   int32_t bits, bool loop) {
  if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || length <= 0 ||
      frequency <= 0 || frequency > kMaxFrequency ||
      static_cast<int64_t>(length) * channels > std::numeric_limits<int32_t>::max() || !pcm)
    return nullptr;
  auto buffer = std::make_shared<samplebuffer>();
  buffer->length = length;
  buffer->frequency = frequency;
  buffer->channels = channels;
  buffer->bits = bits;
  buffer->bytesPerFrame = channels * bits / 8;
  buffer->loop = loop;
  const size_t samples = static_cast<size_t>(length) * channels;
  const size_t extraFrom = loop ? 0 : samples - channels;  // first frame, or the last
  const auto* bytes = static_cast<const uint8_t*>(pcm);
  if (bits == 8) {
    buffer->data8.assign(bytes, bytes + samples);
    for (int32_t c = 0; c < channels; ++c) buffer->data8.push_back(buffer->data8[extraFrom + c]);
  } else {
    buffer->data16.resize(samples + channels);
    for (size_t i = 0; i < samples; ++i)
      buffer->data16[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    for (int32_t c = 0; c < channels; ++c)
      buffer->data16[samples + c] = buffer->data16[extraFrom + c];
  }
  return buffer;
}

bool MixVoice(sound& voice, int32_t* accumulator, int32_t start) {
  const samplebuffer& buffer = *voice.buffer;
  if (buffer.bits == 8) {
    TFetch8 fetch{buffer.data8.data()};
    return buffer.channels == 2 ? MixFrames<2>(voice, accumulator, start, fetch)
                                : MixFrames<1>(voice, accumulator, start, fetch);
  }
  TFetch16 fetch{buffer.data16.data()};
  return buffer.channels == 2 ? MixFrames<2>(voice, accumulator, start, fetch)
                              : MixFrames<1>(voice, accumulator, start, fetch);
}

mixer::mixer() = default;

bool mixer::Push(sound* voice) {
  const uint32_t write = _newWrite.load(std::memory_order_relaxed);
  const uint32_t next = (write + 1) & kRingMask;
  if (next == _newRead.load(std::memory_order_acquire)) return false;
  _newVoices[write] = voice;
  _newWrite.store(next, std::memory_order_release);
  return true;
}

sound* mixer::TakeFinished() {
  const uint32_t read = _finishedRead.load(std::memory_order_relaxed);
  if (read == _finishedWrite.load(std::memory_order_acquire)) return nullptr;
  sound* voice = _finished[read];
  _finishedRead.store((read + 1) & kRingMask, std::memory_order_release);
  return voice;
}

bool mixer::Retire(sound* voice) {
  const uint32_t write = _finishedWrite.load(std::memory_order_relaxed);
  const uint32_t next = (write + 1) & kRingMask;
  if (next == _finishedRead.load(std::memory_order_acquire)) return false;
  _finished[write] = voice;
  _finishedWrite.store(next, std::memory_order_release);
  return true;
}

void mixer::TakeNewVoices(int32_t now) {
  uint32_t read = _newRead.load(std::memory_order_relaxed);
  const uint32_t write = _newWrite.load(std::memory_order_acquire);
  for (; read != write; read = (read + 1) & kRingMask) {
    sound* voice = _newVoices[read];
    // Starting each voice a fixed time after its request evens out the
    // jitter of when the request meets a block.
    int32_t waitMs = static_cast<int32_t>(static_cast<uint32_t>(voice->requestTime) +
                                          kStartOffsetMs - static_cast<uint32_t>(now));
    waitMs = std::clamp(waitMs, 0, kMaxStartDelayMs);
    voice->delay = waitMs * kMixRate / 1000;
    voice->nextActive = _active;
    _active = voice;
  }
  _newRead.store(read, std::memory_order_release);
}

bool mixer::MixActiveVoice(sound& voice) {
  const int32_t state = voice.state.load(std::memory_order_acquire);
  if (state == VOICE_FREE) return true;
  if (state != VOICE_STOPPED) {
    if (state & VOICE_PAUSED) return false;
    if (voice.delay >= kBlockFrames) {
      voice.delay -= kBlockFrames;
      return false;
    }
    const int32_t start = voice.delay;
    voice.delay = 0;
    if (!MixVoice(voice, _accumulator.data(), start)) return false;
    voice.state.store(VOICE_STOPPED, std::memory_order_release);
  }
  // Finished: an auto-free voice goes back for reuse; one whose channel is
  // kept stays, stopped, until its holder lets it go.
  return voice.autoFree.load(std::memory_order_acquire);
}

void mixer::MixBlock(int32_t now, int16_t* out) {
  TakeNewVoices(now);
  sound** link = &_active;
  while (sound* voice = *link) {
    const bool finishedRingHasRoom =
        ((_finishedWrite.load(std::memory_order_relaxed) + 1) & kRingMask) !=
        _finishedRead.load(std::memory_order_acquire);
    // A voice that cannot be handed back yet stays listed and is retried
    // next block.
    if (MixActiveVoice(*voice) && finishedRingHasRoom) {
      *link = voice->nextActive;
      voice->nextActive = nullptr;
      Retire(voice);
    } else {
      link = &voice->nextActive;
    }
  }
  for (size_t i = 0; i < _accumulator.size(); ++i) {
    out[i] = static_cast<int16_t>(std::clamp(_accumulator[i] >> 4, -32768, 32767));
    _accumulator[i] = 0;
  }
}

}  // namespace mix
