#include "sound/channels.h"

namespace mix {

namespace {

constexpr uint32_t kIndexMask = kChannelSlots - 1;

}  // namespace

channeltable::channeltable(mixer& m) : _mixer(m) {
  for (uint32_t i = kChannelSlots - 1; i >= 1; --i) {
    _slots[i].nextFree = _freeHead;
    _freeHead = i;
  }
  _freeCount = kChannelSlots - 1;
}

channeltable::~channeltable() = default;

channeltable::slot* channeltable::Find(uint32_t handle) {
  const uint32_t index = handle & kIndexMask;
  if (index == 0) return nullptr;
  slot& s = _slots[index];
  return s.inUse && s.generation == (handle & ~kIndexMask) ? &s : nullptr;
}

const channeltable::slot* channeltable::Find(uint32_t handle) const {
  return const_cast<channeltable*>(this)->Find(handle);
}

uint32_t channeltable::TakeSlot() {
  if (_freeHead == 0) return 0;
  const uint32_t index = _freeHead;
  slot& s = _slots[index];
  _freeHead = s.nextFree;
  --_freeCount;
  const uint32_t generation = s.generation + kChannelSlots;
  s = slot{};
  s.generation = generation;
  s.inUse = true;
  return generation | index;
}

void channeltable::FreeSlot(uint32_t index) {
  slot& s = _slots[index];
  s.inUse = false;
  s.voice = nullptr;
  s.nextFree = _freeHead;
  _freeHead = index;
  ++_freeCount;
}

// The voice is no longer held by a slot: it stops at the next block and the
// mixer hands it back for reuse.
void channeltable::Relinquish(sound* voice) {
  voice->handle = 0;
  voice->autoFree.store(true, std::memory_order_release);
  voice->state.store(VOICE_STOPPED, std::memory_order_release);
}

// Voices the mixer handed back free their slot (when it still holds them)
// and become spares.
void channeltable::CollectFinished() {
  while (sound* voice = _mixer.TakeFinished()) {
    slot* s = Find(voice->handle);
    if (s && s->voice == voice) FreeSlot(voice->handle & kIndexMask);
    voice->buffer.reset();
    voice->handle = 0;
    voice->state.store(VOICE_FREE, std::memory_order_relaxed);
    voice->nextSpare = _spare;
    _spare = voice;
  }
}

sound* channeltable::TakeVoice() {
  if (sound* voice = _spare) {
    _spare = voice->nextSpare;
    voice->nextSpare = nullptr;
    return voice;
  }
  _voices.push_back(std::make_unique<sound>());
  return _voices.back().get();
}

uint32_t channeltable::Alloc() {
  CollectFinished();
  return TakeSlot();
}

uint32_t channeltable::Play(std::shared_ptr<const samplebuffer> buffer, uint32_t handle,
                            bool paused, int32_t now) {
  if (!buffer) return 0;
  CollectFinished();
  const bool fresh = handle == 0;
  if (fresh) handle = TakeSlot();
  if (!Find(handle)) return 0;
  slot& s = _slots[handle & kIndexMask];
  sound* voice = TakeVoice();
  const bool loop = buffer->loop;
  voice->buffer = std::move(buffer);
  voice->rate = voice->prevRate = s.rate;
  voice->volume = voice->prevVolume = s.volume;
  voice->pan = voice->prevPan = s.pan;
  voice->depth = voice->prevDepth = s.depth;
  voice->position = 0;
  voice->delay = 0;
  voice->requestTime = now;
  voice->handle = handle;
  voice->nextActive = nullptr;
  voice->autoFree.store(fresh, std::memory_order_relaxed);
  voice->state.store(VOICE_PLAYING | (loop ? VOICE_LOOPING : 0) | (paused ? VOICE_PAUSED : 0),
                     std::memory_order_relaxed);
  if (!_mixer.Push(voice)) {
    voice->buffer.reset();
    voice->state.store(VOICE_FREE, std::memory_order_relaxed);
    voice->nextSpare = _spare;
    _spare = voice;
    if (fresh) FreeSlot(handle & kIndexMask);
    return 0;
  }
  // A channel carries one playback: what it played before stops.
  if (s.voice) Relinquish(s.voice);
  s.voice = voice;
  return handle;
}

void channeltable::Stop(uint32_t handle) {
  slot* s = Find(handle);
  if (!s) return;
  if (s->voice) Relinquish(s->voice);
  FreeSlot(handle & kIndexMask);
}

void channeltable::SetPaused(uint32_t handle, bool paused) {
  slot* s = Find(handle);
  if (!s || !s->voice) return;
  std::atomic<int32_t>& state = s->voice->state;
  int32_t current = state.load(std::memory_order_acquire);
  // The mixer may end the voice meanwhile; an ended voice stays ended.
  while (current != VOICE_FREE && current != VOICE_STOPPED) {
    const int32_t wanted = paused ? current | VOICE_PAUSED : current & ~VOICE_PAUSED;
    if (state.compare_exchange_weak(current, wanted, std::memory_order_acq_rel)) break;
  }
}

void channeltable::SetParam(uint32_t handle, int32_t slot::*field, Param current,
                            Param previous, int32_t value) {
  slot* s = Find(handle);
  if (!s) return;
  s->*field = value;
  sound* voice = s->voice;
  if (!voice) return;
  (voice->*current).store(value, std::memory_order_relaxed);
  // A paused voice resumes at the new value instead of ramping to it.
  if (voice->state.load(std::memory_order_acquire) & VOICE_PAUSED)
    (voice->*previous).store(value, std::memory_order_relaxed);
}

void channeltable::SetVolume(uint32_t handle, int32_t volume) {
  SetParam(handle, &slot::volume, &output::volume, &output::prevVolume, volume);
}

void channeltable::SetPan(uint32_t handle, int32_t pan) {
  SetParam(handle, &slot::pan, &output::pan, &output::prevPan, pan);
}

void channeltable::SetDepth(uint32_t handle, int32_t depth) {
  SetParam(handle, &slot::depth, &output::depth, &output::prevDepth, depth);
}

void channeltable::SetRate(uint32_t handle, int32_t rate) {
  SetParam(handle, &slot::rate, &output::rate, &output::prevRate, rate < 0 ? 0 : rate);
}

bool channeltable::Playing(uint32_t handle) const {
  const slot* s = Find(handle);
  if (!s || !s->voice) return false;
  const int32_t state = s->voice->state.load(std::memory_order_acquire);
  return state != VOICE_FREE && state != VOICE_STOPPED && !(state & VOICE_PAUSED);
}

void channeltable::Release(uint32_t handle) {
  slot* s = Find(handle);
  if (!s) return;
  sound* voice = s->voice;
  if (!voice) {
    FreeSlot(handle & kIndexMask);
  } else if (!voice->autoFree.load(std::memory_order_relaxed)) {
    // Nobody could stop a looping voice any more.
    if (voice->state.load(std::memory_order_acquire) & VOICE_LOOPING)
      Stop(handle);
    else
      voice->autoFree.store(true, std::memory_order_release);
  }
}

int32_t channeltable::FreeSlots() {
  CollectFinished();
  return _freeCount;
}

}  // namespace mix
