#include "sound/mixer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace mix {

namespace {

constexpr uint32_t kRingMask = kRingSize - 1;

// Samples per output frame at a rate: channels x rate x frequency / 44100 in
// 16.16, widened to the position's 32 fraction bits.
class TStepper {
 public:
  explicit TStepper(const samplebuffer& buffer)
      : _samplesPerSecond(static_cast<uint64_t>(buffer.channels) *
                          static_cast<uint64_t>(buffer.frequency)) {}
  uint64_t operator()(int64_t rate) const {
    if (rate < 0) rate = 0;
    return _samplesPerSecond * static_cast<uint64_t>(rate) / kMixRate << 16;
  }

 private:
  uint64_t _samplesPerSecond;
};

struct TGains {
  int64_t left;
  int64_t right;
};

// The side gains as volume x factor / 4096: with a positive pan the left
// factor is 4096 - pan, with a negative pan the right one 4096 + pan (4096
// otherwise, which leaves the volume as it is); a negative depth negates the
// right side.
struct TPanFactors {
  TPanFactors(int64_t pan, int64_t depth)
      : left(pan > 0 ? 4096 - pan : 4096),
        right((pan < 0 ? 4096 + pan : 4096) * (depth < 0 ? -1 : 1)) {}
  TGains Gains(int64_t volume) const { return {volume * left / 4096, volume * right / 4096}; }
  int64_t left;
  int64_t right;
};

// A value a voice adds to an accumulator entry is at most this many times its
// largest gain: interpolated samples stay within -32768 .. 32767, times the
// gain / 256.
constexpr int64_t kPeakPerGain = 32768 / 256;
constexpr int64_t kAccumulatorMax = std::numeric_limits<int32_t>::max();

int64_t Magnitude(TGains gains) { return std::max(std::abs(gains.left), std::abs(gains.right)); }

// Linear interpolation with a 16-bit fraction: a result between a and b.
int64_t Interpolate(int64_t a, int64_t b, int64_t fraction) {
  return a + (((b - a) * fraction) >> 16);
}

// Adds to an accumulator entry. Saturating costs a 64-bit sum and a clamp per
// sample; the mixer asks for it only when the sums could leave the 32-bit
// range, so both ways give the same samples.
template <bool Saturate>
void Accumulate(int32_t& entry, int64_t value) {
  if (Saturate) {
    int64_t sum = static_cast<int64_t>(entry) + value;
    entry = static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                     std::numeric_limits<int32_t>::max()));
  } else {
    entry += static_cast<int32_t>(value);
  }
}

struct TFetch16 {
  const int16_t* data;
  int64_t operator()(size_t index) const { return data[index]; }
};

struct TFetch8 {
  const uint8_t* data;
  int64_t operator()(size_t index) const { return (static_cast<int64_t>(data[index]) - 128) * 256; }
};

// What one voice plays in one block, read once from its shared words.
struct TBlockParams {
  explicit TBlockParams(const output& voice)
      : rate0(voice.prevRate.load(std::memory_order_relaxed)),
        rate1(voice.rate.load(std::memory_order_relaxed)),
        volume0(voice.prevVolume.load(std::memory_order_relaxed)),
        volume1(voice.volume.load(std::memory_order_relaxed)),
        pan(voice.pan.load(std::memory_order_relaxed)),
        depth(voice.depth.load(std::memory_order_relaxed)),
        factors(pan, depth) {}
  bool Ramping() const { return rate0 != rate1 || volume0 != volume1; }
  // Rate and volume move linearly from last block's values to the current ones.
  int64_t RateAt(int32_t frame) const { return rate0 + (rate1 - rate0) * frame / kBlockFrames; }
  int64_t VolumeAt(int32_t frame) const {
    return volume0 + (volume1 - volume0) * frame / kBlockFrames;
  }
  int64_t rate0, rate1, volume0, volume1;
  int32_t pan, depth;
  TPanFactors factors;
};

// One voice's walk through its sound buffer.
template <int Channels, typename Fetch>
struct TVoiceCursor {
  Fetch fetch;
  uint64_t position;
  uint64_t end;  // samples in the buffer, 32.32
  bool loop;

  // Adds the frame at the position, times the gains / 256, into `frame`.
  template <bool Saturate>
  void AddTo(int32_t* frame, TGains gains) const {
    const uint64_t framePosition = position / Channels;
    const size_t index = static_cast<size_t>(framePosition >> 32) * Channels;
    const int64_t fraction = static_cast<int64_t>((framePosition >> 16) & 0xffff);
    const int64_t left = Interpolate(fetch(index), fetch(index + Channels), fraction);
    const int64_t right =
        Channels == 2 ? Interpolate(fetch(index + 1), fetch(index + 3), fraction) : left;
    Accumulate<Saturate>(frame[0], left * gains.left / 256);
    Accumulate<Saturate>(frame[1], right * gains.right / 256);
  }
  // False when a voice that does not loop ran past its end.
  bool Advance(uint64_t increment) {
    position += increment;
    if (position < end) return true;
    if (!loop) return false;
    position %= end;
    return true;
  }
};

// Mixes frames `start` .. the block's end; returns whether the voice finished.
template <bool Saturate, typename Cursor>
bool MixSteady(Cursor& cursor, const TBlockParams& params, const samplebuffer& buffer,
               int32_t* acc, int32_t start) {
  const uint64_t increment = TStepper(buffer)(params.rate1);
  const TGains gains = params.factors.Gains(params.volume1);
  for (int32_t i = start; i < kBlockFrames; ++i) {
    cursor.template AddTo<Saturate>(acc + 2 * i, gains);
    if (!cursor.Advance(increment)) return true;
  }
  return false;
}

template <bool Saturate, typename Cursor>
bool MixRamped(Cursor& cursor, const TBlockParams& params, const samplebuffer& buffer,
               int32_t* acc, int32_t start) {
  const TStepper step(buffer);
  for (int32_t i = start; i < kBlockFrames; ++i) {
    cursor.template AddTo<Saturate>(acc + 2 * i, params.factors.Gains(params.VolumeAt(i)));
    if (!cursor.Advance(step(params.RateAt(i)))) return true;
  }
  return false;
}

template <int Channels, typename Fetch>
bool MixFrames(sound& voice, int32_t* acc, int32_t start, int64_t& peak, Fetch fetch) {
  const samplebuffer& buffer = *voice.buffer;
  const TBlockParams params(voice);
  const int64_t voicePeak =
      kPeakPerGain * std::max(Magnitude(params.factors.Gains(params.volume0)),
                              Magnitude(params.factors.Gains(params.volume1)));
  // Once the sums may leave the 32-bit range every later voice saturates too.
  const bool saturate = peak > kAccumulatorMax - voicePeak;
  peak = saturate ? kAccumulatorMax + 1 : peak + voicePeak;
  TVoiceCursor<Channels, Fetch> cursor{fetch, voice.position,
                                       static_cast<uint64_t>(buffer.length) * Channels << 32,
                                       buffer.loop};
  bool finished = cursor.position >= cursor.end;
  if (!finished) {
    if (params.Ramping())
      finished = saturate ? MixRamped<true>(cursor, params, buffer, acc, start)
                          : MixRamped<false>(cursor, params, buffer, acc, start);
    else
      finished = saturate ? MixSteady<true>(cursor, params, buffer, acc, start)
                          : MixSteady<false>(cursor, params, buffer, acc, start);
  }
  voice.position = cursor.position;
  voice.prevRate.store(static_cast<int32_t>(params.rate1), std::memory_order_relaxed);
  voice.prevVolume.store(static_cast<int32_t>(params.volume1), std::memory_order_relaxed);
  voice.prevPan.store(params.pan, std::memory_order_relaxed);
  voice.prevDepth.store(params.depth, std::memory_order_relaxed);
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

bool MixVoice(sound& voice, int32_t* accumulator, int32_t start, int64_t& peak) {
  const samplebuffer& buffer = *voice.buffer;
  if (buffer.bits == 8) {
    TFetch8 fetch{buffer.data8.data()};
    return buffer.channels == 2 ? MixFrames<2>(voice, accumulator, start, peak, fetch)
                                : MixFrames<1>(voice, accumulator, start, peak, fetch);
  }
  TFetch16 fetch{buffer.data16.data()};
  return buffer.channels == 2 ? MixFrames<2>(voice, accumulator, start, peak, fetch)
                              : MixFrames<1>(voice, accumulator, start, peak, fetch);
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

bool mixer::MixActiveVoice(sound& voice, int64_t& peak) {
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
    if (!MixVoice(voice, _accumulator.data(), start, peak)) return false;
    voice.state.store(VOICE_STOPPED, std::memory_order_release);
  }
  // Finished: an auto-free voice goes back for reuse; one whose channel is
  // kept stays, stopped, until its holder lets it go.
  return voice.autoFree.load(std::memory_order_acquire);
}

void mixer::MixBlock(int32_t now, int16_t* out) {
  TakeNewVoices(now);
  int64_t peak = 0;  // bounds the accumulator's entries (cleared below after each block)
  sound** link = &_active;
  while (sound* voice = *link) {
    const bool finishedRingHasRoom =
        ((_finishedWrite.load(std::memory_order_relaxed) + 1) & kRingMask) !=
        _finishedRead.load(std::memory_order_acquire);
    // A voice that cannot be handed back yet stays listed and is retried
    // next block.
    if (MixActiveVoice(*voice, peak) && finishedRingHasRoom) {
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
