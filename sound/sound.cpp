#include "sound/sound.h"

#include <cstdlib>

#include "sound/embedded_files.h"

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
  std::atexit(ShutdownAudio);
}
