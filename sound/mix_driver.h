// The mixing driver: sounds are mixed in software by an output thread of its
// own and written to the OSS device, or, where there is none, to ALSA.
#pragma once

#include <string>

#include "sound/driver.h"

namespace mix {
class samplebuffer;
}

struct TMixEngine;       // the mixer, channel table and device of one run
struct TMixDriverState;  // a driver's current engine, shared with its sounds

class TMixAudioDriver : public TAudioDriver {
 public:
  explicit TMixAudioDriver(TString name, std::string ossPath = "/dev/dsp",
                           std::string alsaPcm = "default");
  ~TMixAudioDriver() override;

  TString Name() override { return _name; }
  // Opens the OSS device, else the ALSA PCM, and starts the output thread.
  // 0 when neither opens.
  int Startup() override;
  // Stops the output thread (waiting at most 5 s), closes the device and
  // releases the channel table. Channels of the run then do nothing.
  void Shutdown() override;
  // Big-endian samples are converted to little-endian first. Works whether or
  // not the driver is started; the sound plays while it is.
  std::shared_ptr<TSound> CreateSound(const std::shared_ptr<TAudioSample>& sample,
                                      int32_t flags) override;
  std::shared_ptr<TChannel> AllocChannel() override;

  // Where the next Startup() writes. For tests.
  void SetDevicePaths(std::string ossPath, std::string alsaPcm);
  // "oss" or "alsa" while started, else "".
  std::string OutputKind() const;
  // Blocks written by the running output thread (0 when stopped).
  uint64_t BlocksWritten() const;

 private:
  TString _name;
  std::string _ossPath;
  std::string _alsaPcm;
  std::shared_ptr<TMixDriverState> _state;
};

class TMixSound : public TSound {
 public:
  TMixSound(std::weak_ptr<TMixDriverState> driver, std::shared_ptr<const mix::samplebuffer> buffer,
            std::shared_ptr<TAudioSample> sample);
  // nullptr when the driver is not started, no slot is free or `channel`
  // no longer holds its slot. A channel of another driver or run is ignored.
  std::shared_ptr<TChannel> Play(const std::shared_ptr<TChannel>& channel = nullptr) override;
  std::shared_ptr<TChannel> Cue(const std::shared_ptr<TChannel>& channel = nullptr) override;
  const std::shared_ptr<TAudioSample>& Sample() const { return _sample; }

 private:
  std::shared_ptr<TChannel> Start(const std::shared_ptr<TChannel>& channel, bool paused);

  std::weak_ptr<TMixDriverState> _driver;
  std::shared_ptr<const mix::samplebuffer> _buffer;
  std::shared_ptr<TAudioSample> _sample;
};

class TMixChannel : public TChannel {
 public:
  TMixChannel(std::weak_ptr<TMixEngine> engine, uint32_t handle);
  // A channel from AllocChannel, or one played on, lets go of its slot here:
  // what it plays finishes by itself (a looping sound stops).
  ~TMixChannel() override;

  void Stop() override;
  void SetPaused(int paused) override;
  void SetVolume(float volume) override;  // stored as volume x 4096
  void SetPan(float pan) override;        // pan x 4096
  void SetDepth(float depth) override;    // depth x 4096
  void SetRate(float rate) override;      // rate x 65536
  int Playing() override;

  uint32_t Handle() const { return _handle; }

 private:
  friend class TMixSound;
  std::weak_ptr<TMixEngine> _engine;
  uint32_t _handle;
};
