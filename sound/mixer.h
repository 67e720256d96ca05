// The software mixer: sound buffers, voices and the block mixer. No I/O here;
// the output thread (device.h) calls mixer::MixBlock, and the channel table
// (channels.h) starts the voices.
//
// Threads: the main thread owns the channel table and starts voices; the
// output thread mixes. They share only the new-voice ring, the finished-voice
// ring (each single writer, single reader, no lock) and the voices' state and
// parameter words (atomics).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace mix {

constexpr int32_t kMixRate = 44100;       // output frames per second
constexpr int32_t kBlockFrames = 1024;    // stereo frames per mixed block
constexpr int32_t kStartOffsetMs = 20;    // a voice starts this long after its request
constexpr int32_t kMaxStartDelayMs = 1000;  // bounds the wait of a request "from the future"
constexpr uint32_t kRingSize = 4096;
constexpr uint32_t kChannelSlots = 4096;  // slot 0 is never used
constexpr int32_t kUnityVolume = 4096;
constexpr int32_t kUnityRate = 0x10000;   // 16.16 fixed point
constexpr int32_t kMaxFrequency = 1 << 20;

// Voice state words.
enum : int32_t {
  VOICE_FREE = 0,
  VOICE_STOPPED = 1,
  VOICE_PLAYING = 0x2,
  VOICE_LOOPING = 0x4,
  VOICE_PAUSED = 0x10,
};

// A private copy of PCM data with one extra frame at the end (the first
// frame when looping, else the last) so interpolation never runs past it.
class samplebuffer {
 public:
  // `pcm` holds `length` frames of little-endian 16-bit or unsigned 8-bit
  // samples. nullptr for channels other than 1 or 2, bits other than 8 or 16,
  // a frequency outside 1 .. kMaxFrequency or more than 2^31-1 samples.
  static std::shared_ptr<samplebuffer> Create(const void* pcm, int32_t length, int32_t frequency,
                                              int32_t channels, int32_t bits, bool loop);
  int32_t length = 0;  // frames
  int32_t frequency = 0;
  int32_t channels = 0;
  int32_t bits = 0;
  int32_t bytesPerFrame = 0;
  bool loop = false;
  std::vector<int16_t> data16;  // 16-bit data, interleaved
  std::vector<uint8_t> data8;   // 8-bit data, interleaved
};

// The parameter and state words a voice shares between the threads. Each
// parameter has a current value (written by the main thread) and a previous
// one (the value the mixer ramped to last block).
class output {
 public:
  std::atomic<int32_t> state{VOICE_FREE};
  std::atomic<int32_t> rate{kUnityRate}, prevRate{kUnityRate};
  std::atomic<int32_t> volume{kUnityVolume}, prevVolume{kUnityVolume};
  std::atomic<int32_t> pan{0}, prevPan{0};      // -4096 full left .. 4096 full right
  std::atomic<int32_t> depth{0}, prevDepth{0};  // negative inverts the right side
  std::atomic<bool> autoFree{false};            // recycled by the mixer when finished
};

// A voice: one playback of a sound buffer.
class sound : public output {
 public:
  std::shared_ptr<const samplebuffer> buffer;  // set by the main thread before starting
  uint64_t position = 0;                       // samples, 32.32 fixed point (mixer)
  int32_t delay = 0;                           // frames before the voice starts (mixer)
  int32_t requestTime = 0;                     // MilliSecs() of the play request
  uint32_t handle = 0;                         // channel handle holding it (main thread)
  sound* nextActive = nullptr;                 // active list link (mixer)
  sound* nextSpare = nullptr;                  // spare list link (main thread)
};

// Adds one voice into a stereo accumulator from block frame `start` on,
// following the voice's parameters. Returns true when a non-looping voice ran
// past its end. `peak` bounds the magnitude of the accumulator's entries (0
// for a clear one) and grows by what this voice can add; sums that could
// leave the 32-bit range saturate. Pure arithmetic.
bool MixVoice(sound& voice, int32_t* accumulator, int32_t start, int64_t& peak);

class mixer {
 public:
  mixer();

  // Main thread. Queues a started voice; false when the ring is full.
  bool Push(sound* voice);
  // Main thread. A finished voice handed back for reuse, or nullptr.
  sound* TakeFinished();

  // Output thread. Mixes one block of kBlockFrames stereo frames into `out`
  // (2 x kBlockFrames samples); `now` is MilliSecs() at the block. Allocates
  // nothing.
  void MixBlock(int32_t now, int16_t* out);

 private:
  void TakeNewVoices(int32_t now);
  bool Retire(sound* voice);
  // Returns whether the voice leaves the active list.
  bool MixActiveVoice(sound& voice, int64_t& peak);

  std::array<int32_t, 2 * kBlockFrames> _accumulator{};
  std::array<sound*, kRingSize> _newVoices{};
  std::atomic<uint32_t> _newWrite{0}, _newRead{0};
  std::array<sound*, kRingSize> _finished{};
  std::atomic<uint32_t> _finishedWrite{0}, _finishedRead{0};
  sound* _active = nullptr;
};

}  // namespace mix
