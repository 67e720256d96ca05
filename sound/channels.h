// The channel table: the handles the driver's channels hold, the slots behind
// them and the voices they play. Main thread only; it hands started voices to
// the mixer through the mixer's new-voice ring and takes finished ones back.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "sound/mixer.h"

namespace mix {

// The 4096 channel slots, the voices they play and the spare voice objects.
// Main thread only. A handle is the slot index (12 bits) plus a generation in
// the bits above that grows by 4096 each time the slot is handed out; calls
// with a handle that is not current do nothing.
class channeltable {
 public:
  explicit channeltable(mixer& m);
  // Deletes every voice object: destroy only after the output thread stopped.
  ~channeltable();
  channeltable(const channeltable&) = delete;
  channeltable& operator=(const channeltable&) = delete;

  // A kept slot with no voice; 0 when every slot is in use.
  uint32_t Alloc();
  // Starts `buffer`: on `handle`'s slot (replacing what played there) or, with
  // handle 0, on a fresh slot that frees itself when the voice ends. Returns
  // the handle, or 0 when nothing was started (no free slot, a stale handle,
  // the new-voice ring full). Allocates only when no spare voice is left.
  uint32_t Play(std::shared_ptr<const samplebuffer> buffer, uint32_t handle, bool paused,
                int32_t now);
  // Stops the voice at the next block and frees the slot.
  void Stop(uint32_t handle);
  void SetPaused(uint32_t handle, bool paused);
  // Raw parameter words: volume 4096 = unity, pan -4096..4096, depth (sign),
  // rate 16.16.
  void SetVolume(uint32_t handle, int32_t volume);
  void SetPan(uint32_t handle, int32_t pan);
  void SetDepth(uint32_t handle, int32_t depth);
  void SetRate(uint32_t handle, int32_t rate);
  // True while the voice is started, not stopped and not paused.
  bool Playing(uint32_t handle) const;
  // The holder of a kept handle lets go: its voice plays out (a looping one is
  // stopped) and the slot frees itself.
  void Release(uint32_t handle);

  int32_t FreeSlots();
  size_t VoiceObjects() const { return _voices.size(); }

 private:
  struct slot {
    uint32_t generation = 0;
    bool inUse = false;
    sound* voice = nullptr;
    int32_t rate = kUnityRate, volume = kUnityVolume, pan = 0, depth = 0;
    uint32_t nextFree = 0;
  };
  using Param = std::atomic<int32_t> output::*;

  slot* Find(uint32_t handle);
  const slot* Find(uint32_t handle) const;
  uint32_t TakeSlot();
  void FreeSlot(uint32_t index);
  void Relinquish(sound* voice);
  void CollectFinished();
  sound* TakeVoice();
  void SetParam(uint32_t handle, int32_t slot::*field, Param current, Param previous,
                int32_t value);

  mixer& _mixer;
  std::array<slot, kChannelSlots> _slots{};
  uint32_t _freeHead = 0;
  int32_t _freeCount = 0;
  sound* _spare = nullptr;
  std::vector<std::unique_ptr<sound>> _voices;
};

}  // namespace mix
