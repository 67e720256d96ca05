// Cost of mixing one block (1024 stereo frames) with 16 playing voices, and
// what fraction of the block's real-time length (1024 / 44100 s = 23.2 ms)
// that is: the "rt_fraction" counter.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

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

void MixSixteenVoices(benchmark::State& state, bool ramping) {
  mix::mixer engine;
  mix::channeltable channels(engine);
  auto buffer = NoiseBuffer(44100);
  std::vector<uint32_t> handles;
  for (int i = 0; i < kVoices; ++i) {
    handles.push_back(channels.Alloc());
    channels.SetVolume(handles.back(), 1024);
    channels.SetPan(handles.back(), (i - 8) * 400);
    channels.Play(buffer, handles.back(), false, -i);
  }
  std::vector<int16_t> out(2 * mix::kBlockFrames);
  engine.MixBlock(mix::kStartOffsetMs, out.data());
  int32_t volume = 1024;
  for (auto _ : state) {
    if (ramping) {
      // Volume and rate change every block, so both ramp across it.
      volume = volume == 1024 ? 900 : 1024;
      for (uint32_t h : handles) {
        channels.SetVolume(h, volume);
        channels.SetRate(h, volume == 1024 ? 0x10000 : 0x10400);
      }
    }
    engine.MixBlock(mix::kStartOffsetMs, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["rt_fraction"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * mix::kBlockFrames / mix::kMixRate,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MixBlock16Voices(benchmark::State& state) { MixSixteenVoices(state, false); }
void BM_MixBlock16VoicesRamping(benchmark::State& state) { MixSixteenVoices(state, true); }

}  // namespace

BENCHMARK(BM_MixBlock16Voices);
BENCHMARK(BM_MixBlock16VoicesRamping);
