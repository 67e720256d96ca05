// The sound layer as the application uses it: embedded cue sounds, decoding
// and fire-and-forget playback. Main thread only.
//
// Start-up, in this order:
//   RegisterEmbeddedSounds();              // before anything else runs
//   InitSound();                           // loader, drivers, exit handler
//   auto ding = CurrentAudioDriver().LoadSound(u"incbin::ding.ogg", 0);
//   auto tick = CurrentAudioDriver().LoadSound(u"incbin::tick.ogg", 0);
// Later: tick->Play(); (the returned channel need not be kept).
// Without any sound output the "Null" driver is selected: everything works,
// silently.
#pragma once

#include "sound/driver.h"
#include "sound/mix_driver.h"
#include "sound/sample.h"
#include "sound/stream.h"

// Registers the files compiled into the program ("tick.ogg", "ding.ogg") with
// the embedded-file registry. Safe to call again.
void RegisterEmbeddedSounds();

// Registers the Ogg loader, the "Null" driver and the mixing driver (as "OSS"
// and as the generic "Mixer"; both write to "/dev/dsp", else to ALSA's
// default PCM), and arranges for the current driver to be shut down at
// process exit. Safe to call again.
void InitSound();
