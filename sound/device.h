// Sound devices and the output thread that feeds them from the mixer.
//
// The thread mixes one block (1024 stereo frames, 4096 bytes of signed 16-bit
// little-endian samples at 44100 Hz) and writes it; a device whose queue is
// full blocks the write, which paces the loop, and one that takes blocks at
// once is fed by the clock instead (pacer.h).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sound/mixer.h"

namespace mix {

constexpr size_t kBlockBytes = kBlockFrames * 2 * sizeof(int16_t);
constexpr int kOssFragments = 0x0003000C;  // at most 3 fragments of 2^12 bytes
constexpr int kStopWaitSteps = 500;         // Stop() waits up to 500 x 10 ms
constexpr int kStopWaitStepMs = 10;
constexpr int32_t kDeviceQueueBlocks = 3;   // what a device queues when it does not say
constexpr int32_t kMaxDeviceQueueBlocks = 16;  // the output never runs further ahead

class audiodevice {
 public:
  virtual ~audiodevice() = default;

  // Starts the output thread mixing `m` into this device. False when no
  // thread could be made.
  bool Start(mixer& m);
  // Clears the run flag, cutting a paced wait short, and waits up to 5 s for
  // the thread to end. Returns whether it ended; when it did not, neither the
  // device nor the mixer may be destroyed (the thread may still use them).
  bool Stop();
  bool Alive() const { return _alive.load(); }
  // Blocks handed to the device so far.
  uint64_t BlocksWritten() const { return _blocks.load(); }
  // "oss" or "alsa".
  virtual const char* Kind() const = 0;

 protected:
  // Called once in the output thread before the first block.
  virtual void Configure() {}
  // Blocks the device queues before a write waits; asked after Configure().
  virtual int32_t QueueBlocks() const { return kDeviceQueueBlocks; }
  // Writes one whole block; false when the device refused it.
  virtual bool Write(const uint8_t* data, size_t bytes) = 0;

 private:
  void Run();
  // Waits until `nanos` on the steady clock; false when asked to stop.
  bool SleepUntil(int64_t nanos);

  mixer* _mixer = nullptr;
  std::thread _thread;
  std::mutex _wakeMutex;  // guards the run flag's changes for the paced wait
  std::condition_variable _wake;
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
  int32_t QueueBlocks() const override { return _queueBlocks; }
  bool Write(const uint8_t* data, size_t bytes) override;

 private:
  explicit ossdevice(int fd) : _fd(fd) {}
  int _fd;
  int32_t _queueBlocks = kDeviceQueueBlocks;  // as the device reports it, once configured
};

// An ALSA PCM (normally "default"), for systems without an OSS device.
class alsadevice : public audiodevice {
 public:
  // nullptr when the PCM cannot be opened or set to 44100 Hz stereo S16_LE.
  static std::unique_ptr<alsadevice> Open(const std::string& name);
  ~alsadevice() override;
  const char* Kind() const override { return "alsa"; }

 protected:
  int32_t QueueBlocks() const override { return _queueBlocks; }
  bool Write(const uint8_t* data, size_t bytes) override;

 private:
  alsadevice(void* pcm, int32_t queueBlocks) : _pcm(pcm), _queueBlocks(queueBlocks) {}
  void* _pcm;  // snd_pcm_t*
  int32_t _queueBlocks;
};

}  // namespace mix
