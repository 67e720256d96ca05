// The audio driver layer: drivers, sounds and channels. Main thread only.
//
// The base classes are the silent "Null" driver: its sounds and channels
// accept every call and do nothing. Drivers register themselves at
// construction at the head of the driver list and are found by name.
#pragma once

#include <cstdint>
#include <memory>

#include "sound/sample.h"

// Flags of LoadSound / CreateSound.
enum : int32_t {
  SOUND_LOOP = 0x1,
};

// One playback of a sound. Volume, pan, depth and rate are plain factors
// (1.0 = unity volume or normal speed; pan -1 full left .. 1 full right;
// a negative depth inverts the right side).
class TChannel : public TObject {
 public:
  virtual void Stop() {}
  virtual void SetPaused(int paused) { (void)paused; }
  virtual void SetVolume(float volume) { (void)volume; }
  virtual void SetPan(float pan) { (void)pan; }
  virtual void SetDepth(float depth) { (void)depth; }
  virtual void SetRate(float rate) { (void)rate; }
  // 1 while the channel plays (started, not stopped, not paused).
  virtual int Playing() { return 0; }
};

class TSound : public TObject {
 public:
  // Plays the sound on `channel`, or with none on a fresh channel that frees
  // itself when the sound ends (the caller need not keep it). Returns the
  // channel playing, or nullptr when nothing could be played.
  virtual std::shared_ptr<TChannel> Play(const std::shared_ptr<TChannel>& channel = nullptr);
  // The same, but the channel starts paused.
  virtual std::shared_ptr<TChannel> Cue(const std::shared_ptr<TChannel>& channel = nullptr);

  // Loads through the current driver (see TAudioDriver::LoadSound).
  static std::shared_ptr<TSound> Load(const TString& url, int32_t flags);
  static std::shared_ptr<TSound> Load(const std::shared_ptr<TStream>& stream, int32_t flags);
  static std::shared_ptr<TSound> Load(const std::shared_ptr<TAudioSample>& sample, int32_t flags);
};

class TAudioDriver {
 public:
  TAudioDriver();
  virtual ~TAudioDriver();
  TAudioDriver(const TAudioDriver&) = delete;
  TAudioDriver& operator=(const TAudioDriver&) = delete;

  virtual TString Name() { return u"Null"; }
  // 1 when the driver is ready to play.
  virtual int Startup() { return 1; }
  virtual void Shutdown() {}
  // A sound over `sample`; nullptr when there is no sample.
  virtual std::shared_ptr<TSound> CreateSound(const std::shared_ptr<TAudioSample>& sample,
                                              int32_t flags);
  // A channel the caller keeps; nullptr when none is free.
  virtual std::shared_ptr<TChannel> AllocChannel();
  // Decodes `url` (e.g. "incbin::ding.ogg") with the registered sample
  // loaders and makes a sound of it; nullptr when no sample could be loaded.
  // Raises "Stream is not seekable" for a stream that cannot tell its position.
  virtual std::shared_ptr<TSound> LoadSound(const TString& url, int32_t flags);
  std::shared_ptr<TSound> LoadSound(const std::shared_ptr<TStream>& stream, int32_t flags);
  std::shared_ptr<TSound> LoadSound(const std::shared_ptr<TAudioSample>& sample, int32_t flags);

  TAudioDriver* _succ = nullptr;  // next registered driver
};

// The driver in use. With none in use, selects the mixing driver and, when
// that cannot start, the silent "Null" driver. Never fails.
TAudioDriver& CurrentAudioDriver();

// Shuts the current driver down and makes "Null" current; then starts the
// registered driver named `name` (case ignored), which becomes current only
// when its Startup succeeds. Returns 1 on success, else 0 ("Null" stays).
int SelectAudioDriver(const TString& name);

// The registered driver named `name` (case ignored), or nullptr.
TAudioDriver* FindAudioDriver(const TString& name);

// Shuts the current driver down and leaves none current (the next
// CurrentAudioDriver() selects again). Run at program exit.
void ShutdownAudio();

// Name of the generic mixing driver that CurrentAudioDriver() selects first.
extern const char16_t* const kDefaultAudioDriverName;
