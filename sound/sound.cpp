#include "sound/sound.h"

#include <cstdlib>

#include "sound/driver.h"
#include "sound/embedded_files.h"
#include "sound/mix_driver.h"
#include "sound/ogg_loader.h"
#include "sound/stream.h"

void RegisterEmbeddedSounds() {
  for (int i = 0; i < kEmbeddedBlobCount; ++i)
    AddEmbeddedFile(kEmbeddedBlobs[i].name, kEmbeddedBlobs[i].data,
                    static_cast<int64_t>(kEmbeddedBlobs[i].size));
}

void InitSound() {
  static bool done = false;
  if (done) return;
  done = true;
  RegisterAudioSampleLoader(std::make_shared<TAudioSampleLoaderOGG>());
  FindAudioDriver(u"Null");  // makes sure the silent driver is registered
  // Built once and kept for the whole run; constructed before the exit
  // handler is registered, so they are still there when it runs.
  static TMixAudioDriver oss(u"OSS");
  static TMixAudioDriver generic(kDefaultAudioDriverName);
  std::atexit(ShutdownSound);
}

TSoundRef LoadSound(const TString& url) { return CurrentAudioDriver().LoadSound(url, 0); }

void PlaySound(const TSoundRef& sound) {
  if (sound) sound->Play();
}

void ShutdownSound() { ShutdownAudio(); }
