// Mixing one block (1024 stereo frames) with 16 playing voices, beside a plain
// C mixer of the same arithmetic (bench/plain_mixer.c, the floor) in the same
// run, with steady parameters and with volume and rate ramping every block.
// Counters: "ratio" = our time / the plain mixer's, "rt_fraction" = our time
// as a fraction of the block's real-time length (1024 / 44100 s = 23.2 ms).
// Both mixers' blocks are compared sample for sample; a difference fails the
// run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "bench/plain_mixer.h"
#include "sound/channels.h"
#include "sound/mixer.h"

namespace {

constexpr int kVoices = 16;

std::shared_ptr<const mix::samplebuffer> NoiseBuffer(int frames) {
  std::vector<uint8_t> pcm(static_cast<size_t>(frames) * 4);
  uint32_t seed = 12345;
  for (auto& byte : pcm) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  // Looping, so the voices play for the whole benchmark.
  return mix::samplebuffer::Create(pcm.data(), frames, 44100, 2, 16, true);
}

// The same 16 voices in our mixer and in the plain one.
class TSixteenVoices {
 public:
  TSixteenVoices() : _buffer(NoiseBuffer(44100)), _channels(_engine) {
    for (int i = 0; i < kVoices; ++i) {
      const int32_t pan = (i - 8) * 400;
      _handles.push_back(_channels.Alloc());
      _channels.SetVolume(_handles.back(), _volume);
      _channels.SetPan(_handles.back(), pan);
      _channels.Play(_buffer, _handles.back(), false, 0);
      plain_voice v{};
      v.data = _buffer->data16.data();
      v.channels = _buffer->channels;
      v.length = _buffer->length;
      v.frequency = _buffer->frequency;
      v.loop = 1;
      v.rate0 = v.rate1 = mix::kUnityRate;
      v.volume0 = v.volume1 = _volume;
      v.pan = pan;
      _plain.push_back(v);
    }
  }

  // Volume and rate change for the next block, so both ramp across it.
  void Ramp() {
    _volume = _volume == 1024 ? 900 : 1024;
    const int32_t rate = _volume == 1024 ? 0x10000 : 0x10400;
    for (int i = 0; i < kVoices; ++i) {
      _channels.SetVolume(_handles[i], _volume);
      _channels.SetRate(_handles[i], rate);
      plain_voice& v = _plain[i];
      v.volume0 = v.volume1, v.rate0 = v.rate1;
      v.volume1 = _volume, v.rate1 = rate;
    }
  }
  void Steady() {
    for (plain_voice& v : _plain) v.volume0 = v.volume1, v.rate0 = v.rate1;
  }

  void MixOurs() { _engine.MixBlock(mix::kStartOffsetMs, _ours.data()); }
  void MixPlain() {
    plain_mix_block(_plain.data(), kVoices, _accumulator.data(), _floor.data());
  }
  bool Same() const { return _ours == _floor; }
  const int16_t* Ours() const { return _ours.data(); }
  const int16_t* Floor() const { return _floor.data(); }

 private:
  std::shared_ptr<const mix::samplebuffer> _buffer;
  mix::mixer _engine;
  mix::channeltable _channels;
  std::vector<uint32_t> _handles;
  std::vector<plain_voice> _plain;
  int32_t _volume = 1024;
  std::vector<int16_t> _ours = std::vector<int16_t>(2 * mix::kBlockFrames);
  std::vector<int16_t> _floor = std::vector<int16_t>(2 * mix::kBlockFrames);
  std::vector<int32_t> _accumulator = std::vector<int32_t>(2 * mix::kBlockFrames);
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void MixerBesidePlainC(benchmark::State& state, bool ramping) {
  TSixteenVoices voices;
  voices.MixOurs();  // the voices start in the first block
  voices.MixPlain();
  double ours = 0, floor = 0;
  for (auto _ : state) {
    if (ramping)
      voices.Ramp();
    else
      voices.Steady();
    auto t0 = std::chrono::steady_clock::now();
    voices.MixOurs();
    benchmark::DoNotOptimize(voices.Ours());
    auto t1 = std::chrono::steady_clock::now();
    voices.MixPlain();
    benchmark::DoNotOptimize(voices.Floor());
    auto t2 = std::chrono::steady_clock::now();
    ours += Seconds(t1 - t0);
    floor += Seconds(t2 - t1);
    if (!voices.Same()) {
      state.SkipWithError("the mixers' samples differ");
      break;
    }
  }
  const double blocks = static_cast<double>(state.iterations());
  state.counters["ours_us"] = ours / blocks * 1e6;
  state.counters["plain_us"] = floor / blocks * 1e6;
  state.counters["ratio"] = ours / floor;
  state.counters["rt_fraction"] = ours / blocks * mix::kMixRate / mix::kBlockFrames;
}

}  // namespace

BENCHMARK_CAPTURE(MixerBesidePlainC, steady_16_voices, false);
BENCHMARK_CAPTURE(MixerBesidePlainC, ramping_16_voices, true);
