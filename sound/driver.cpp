#include "sound/driver.h"

const char16_t* const kDefaultAudioDriverName = u"Mixer";

namespace {

TAudioDriver* g_drivers = nullptr;  // newest first
TAudioDriver* g_current = nullptr;

TAudioDriver& NullDriver() {
  static TAudioDriver null;
  return null;
}

}  // namespace

std::shared_ptr<TChannel> TSound::Play(const std::shared_ptr<TChannel>& channel) {
  return channel ? channel : std::make_shared<TChannel>();
}

std::shared_ptr<TChannel> TSound::Cue(const std::shared_ptr<TChannel>& channel) {
  return Play(channel);
}

std::shared_ptr<TSound> TSound::Load(const TString& url, int32_t flags) {
  return CurrentAudioDriver().LoadSound(url, flags);
}

std::shared_ptr<TSound> TSound::Load(const std::shared_ptr<TStream>& stream, int32_t flags) {
  return CurrentAudioDriver().LoadSound(stream, flags);
}

std::shared_ptr<TSound> TSound::Load(const std::shared_ptr<TAudioSample>& sample, int32_t flags) {
  return CurrentAudioDriver().LoadSound(sample, flags);
}

TAudioDriver::TAudioDriver() : _succ(g_drivers) { g_drivers = this; }

TAudioDriver::~TAudioDriver() {
  for (TAudioDriver** link = &g_drivers; *link; link = &(*link)->_succ) {
    if (*link == this) {
      *link = _succ;
      break;
    }
  }
  if (g_current == this) g_current = nullptr;
}

std::shared_ptr<TSound> TAudioDriver::CreateSound(const std::shared_ptr<TAudioSample>& sample,
                                                  int32_t flags) {
  (void)flags;
  return sample ? std::make_shared<TSound>() : nullptr;
}

std::shared_ptr<TChannel> TAudioDriver::AllocChannel() { return std::make_shared<TChannel>(); }

std::shared_ptr<TSound> TAudioDriver::LoadSound(const TString& url, int32_t flags) {
  return CreateSound(LoadAudioSample(url), flags);
}

std::shared_ptr<TSound> TAudioDriver::LoadSound(const std::shared_ptr<TStream>& stream,
                                                int32_t flags) {
  return CreateSound(LoadAudioSample(stream), flags);
}

std::shared_ptr<TSound> TAudioDriver::LoadSound(const std::shared_ptr<TAudioSample>& sample,
                                                int32_t flags) {
  return CreateSound(sample, flags);
}

TAudioDriver* FindAudioDriver(const TString& name) {
  NullDriver();  // always registered
  const TString wanted = LowerCase(name);
  for (TAudioDriver* driver = g_drivers; driver; driver = driver->_succ)
    if (LowerCase(driver->Name()) == wanted) return driver;
  return nullptr;
}

int SelectAudioDriver(const TString& name) {
  if (g_current) g_current->Shutdown();
  g_current = &NullDriver();
  TAudioDriver* driver = FindAudioDriver(name);
  if (!driver || !driver->Startup()) return 0;
  g_current = driver;
  return 1;
}

TAudioDriver& CurrentAudioDriver() {
  if (!g_current) SelectAudioDriver(kDefaultAudioDriverName);
  return *g_current;
}

void ShutdownAudio() {
  if (g_current) g_current->Shutdown();
  g_current = nullptr;
}
