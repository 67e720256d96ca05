// Sound devices and the output thread that feeds them from the mixer.
//
// The thread mixes one block (1024 stereo frames, 4096 bytes of signed 16-bit
// little-endian samples at 44100 Hz) and writes it; a device whose queue is
// full blocks the write, which paces the loop.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "sound/mixer.h"

namespace mix {

constexpr size_t kBlockBytes = kBlockFrames * 2 * sizeof(int16_t);
constexpr int kOssFragments = 0x0003000C;  // at most 3 fragments of 2^12 bytes
constexpr int kStopWaitSteps = 500;         // Stop() waits up to 500 x 10 ms
constexpr int kStopWaitStepMs = 10;

class audiodevice {
 public:
  virtual ~audiodevice() = default;

  // Starts the output thread mixing `m` into this device. False when no
  // thread could be made.
  bool Start(mixer& m);
  // Clears the run flag and waits up to 5 s for the thread to end. Returns
  // whether it ended; when it did not, neither the device nor the mixer may be
  // destroyed (the thread may still use them).
  bool Stop();
  bool Alive() const { return _alive.load(); }
  // Blocks handed to the device so far.
  uint64_t BlocksWritten() const { return _blocks.load(); }
  // "oss" or "alsa".
  virtual const char* Kind() const = 0;

 protected:
  // Called once in the output thread before the first block.
  virtual void Configure() {}
  // Writes one whole block; false when the device refused it.
  virtual bool Write(const uint8_t* data, size_t bytes) = 0;

 private:
  void Run();

  mixer* _mixer = nullptr;
  std::thread _thread;
  std::atomic<bool> _run{false};
  std::atomic<bool> _alive{false};
  std::atomic<uint64_t> _blocks{0};
  std::array<int16_t, 2 * kBlockFrames> _buffer{};
};

// The OSS device file (normally "/dev/dsp"; any writable file or FIFO works,
// the device settings are then simply refused).
class ossdevice : public audiodevice {
 public:
  // nullptr when `path` cannot be opened for writing without waiting.
  static std::unique_ptr<ossdevice> Open(const std::string& path);
  ~ossdevice() override;
  const char* Kind() const override { return "oss"; }

 protected:
  void Configure() override;
  bool Write(const uint8_t* data, size_t bytes) override;

 private:
  explicit ossdevice(int fd) : _fd(fd) {}
  int _fd;
};

// An ALSA PCM (normally "default"), for systems without an OSS device.
class alsadevice : public audiodevice {
 public:
  // nullptr when the PCM cannot be opened or set to 44100 Hz stereo S16_LE.
  static std::unique_ptr<alsadevice> Open(const std::string& name);
  ~alsadevice() override;
  const char* Kind() const override { return "alsa"; }

 protected:
  bool Write(const uint8_t* data, size_t bytes) override;

 private:
  explicit alsadevice(void* pcm) : _pcm(pcm) {}
  void* _pcm;  // snd_pcm_t*
};

}  // namespace mix
