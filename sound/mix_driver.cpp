#include "sound/mix_driver.h"

#include <cmath>
#include <limits>

#include "core/clock.h"
#include "sound/channels.h"
#include "sound/device.h"
#include "sound/mixer.h"

struct TMixEngine {
  mix::mixer mixer;
  mix::channeltable channels{mixer};
  std::unique_ptr<mix::audiodevice> device;  // destroyed first
};

struct TMixDriverState {
  std::shared_ptr<TMixEngine> engine;  // set while started
};

namespace {

// Factor x scale, saturated to the parameter word's range.
int32_t ParamWord(float factor, float scale, int32_t low, int32_t high) {
  double value = static_cast<double>(factor) * scale;
  if (std::isnan(value)) return 0;
  if (value <= low) return low;
  if (value >= high) return high;
  return static_cast<int32_t>(value);
}

int32_t Word16(float factor) { return ParamWord(factor, 4096.0f, -32768, 32767); }

}  // namespace

TMixAudioDriver::TMixAudioDriver(TString name, std::string ossPath, std::string alsaPcm)
    : _name(std::move(name)),
      _ossPath(std::move(ossPath)),
      _alsaPcm(std::move(alsaPcm)),
      _state(std::make_shared<TMixDriverState>()) {}

TMixAudioDriver::~TMixAudioDriver() { Shutdown(); }

int TMixAudioDriver::Startup() {
  if (_state->engine) return 1;
  std::unique_ptr<mix::audiodevice> device = mix::ossdevice::Open(_ossPath);
  if (!device) device = mix::alsadevice::Open(_alsaPcm);
  if (!device) return 0;
  auto engine = std::make_shared<TMixEngine>();
  engine->device = std::move(device);
  if (!engine->device->Start(engine->mixer)) return 0;
  _state->engine = std::move(engine);
  return 1;
}

void TMixAudioDriver::Shutdown() {
  std::shared_ptr<TMixEngine> engine = std::move(_state->engine);
  if (!engine) return;
  // A thread stuck in the device still uses the engine: leave it be rather
  // than free what it reads.
  if (!engine->device->Stop()) new std::shared_ptr<TMixEngine>(engine);
}

std::shared_ptr<TSound> TMixAudioDriver::CreateSound(const std::shared_ptr<TAudioSample>& sample,
                                                     int32_t flags) {
  if (!sample) return nullptr;
  std::shared_ptr<TAudioSample> source = sample;
  if (sample->format == PCM_MONO16BE) source = sample->Convert(PCM_MONO16LE);
  if (sample->format == PCM_STEREO16BE) source = sample->Convert(PCM_STEREO16LE);
  if (!source) return nullptr;
  const int32_t channels = PcmChannels(source->format);
  if (channels == 0) return nullptr;
  const int32_t bits = PcmBytesPerFrame(source->format) * 8 / channels;
  auto buffer = mix::samplebuffer::Create(source->samples, source->length, source->hertz, channels,
                                          bits, (flags & SOUND_LOOP) != 0);
  if (!buffer) return nullptr;
  return std::make_shared<TMixSound>(_state, std::move(buffer), sample);
}

std::shared_ptr<TChannel> TMixAudioDriver::AllocChannel() {
  if (!_state->engine) return nullptr;
  uint32_t handle = _state->engine->channels.Alloc();
  if (!handle) return nullptr;
  return std::make_shared<TMixChannel>(_state->engine, handle);
}

void TMixAudioDriver::SetDevicePaths(std::string ossPath, std::string alsaPcm) {
  _ossPath = std::move(ossPath);
  _alsaPcm = std::move(alsaPcm);
}

std::string TMixAudioDriver::OutputKind() const {
  return _state->engine ? _state->engine->device->Kind() : "";
}

uint64_t TMixAudioDriver::BlocksWritten() const {
  return _state->engine ? _state->engine->device->BlocksWritten() : 0;
}

TMixSound::TMixSound(std::weak_ptr<TMixDriverState> driver,
                     std::shared_ptr<const mix::samplebuffer> buffer,
                     std::shared_ptr<TAudioSample> sample)
    : _driver(std::move(driver)), _buffer(std::move(buffer)), _sample(std::move(sample)) {}

std::shared_ptr<TChannel> TMixSound::Play(const std::shared_ptr<TChannel>& channel) {
  return Start(channel, false);
}

std::shared_ptr<TChannel> TMixSound::Cue(const std::shared_ptr<TChannel>& channel) {
  return Start(channel, true);
}

std::shared_ptr<TChannel> TMixSound::Start(const std::shared_ptr<TChannel>& channel, bool paused) {
  auto driver = _driver.lock();
  if (!driver || !driver->engine) return nullptr;
  const std::shared_ptr<TMixEngine>& engine = driver->engine;
  auto mixChannel = std::dynamic_pointer_cast<TMixChannel>(channel);
  if (mixChannel && mixChannel->_engine.lock() != engine) mixChannel = nullptr;
  const uint32_t handle = engine->channels.Play(_buffer, mixChannel ? mixChannel->_handle : 0,
                                                paused, MilliSecs());
  if (!handle) return nullptr;
  if (mixChannel) return mixChannel;
  return std::make_shared<TMixChannel>(engine, handle);
}

TMixChannel::TMixChannel(std::weak_ptr<TMixEngine> engine, uint32_t handle)
    : _engine(std::move(engine)), _handle(handle) {}

TMixChannel::~TMixChannel() {
  if (auto engine = _engine.lock()) engine->channels.Release(_handle);
}

void TMixChannel::Stop() {
  if (auto engine = _engine.lock()) engine->channels.Stop(_handle);
}

void TMixChannel::SetPaused(int paused) {
  if (auto engine = _engine.lock()) engine->channels.SetPaused(_handle, paused != 0);
}

void TMixChannel::SetVolume(float volume) {
  if (auto engine = _engine.lock()) engine->channels.SetVolume(_handle, Word16(volume));
}

void TMixChannel::SetPan(float pan) {
  if (auto engine = _engine.lock()) engine->channels.SetPan(_handle, Word16(pan));
}

void TMixChannel::SetDepth(float depth) {
  if (auto engine = _engine.lock()) engine->channels.SetDepth(_handle, Word16(depth));
}

void TMixChannel::SetRate(float rate) {
  if (auto engine = _engine.lock())
    engine->channels.SetRate(_handle,
                             ParamWord(rate, 65536.0f, 0, std::numeric_limits<int32_t>::max()));
}

int TMixChannel::Playing() {
  auto engine = _engine.lock();
  return engine && engine->channels.Playing(_handle) ? 1 : 0;
}
