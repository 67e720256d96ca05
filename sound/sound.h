// The sound layer as the application uses it: the cue sounds compiled into
// the program, decoded once, played fire-and-forget. Main thread only.
//
// Start-up, in this order:
//   RegisterEmbeddedSounds();                   // before anything else runs
//   InitSound();                                // loader, drivers, exit handler
//   TSoundRef ding = LoadSound(u"incbin::ding.ogg");
// Later: PlaySound(ding); the caller need not keep anything of the playback.
// Without any sound output the silent driver is selected: everything works,
// silently. Drivers, channels, samples and streams stay inside the layer
// (sound/driver.h and below), for its own tests.
#pragma once

#include <memory>

#include "core/text.h"

// A decoded sound, ready to play; held by the caller for as long as it may
// be played.
class TSound;
using TSoundRef = std::shared_ptr<TSound>;

// Registers the files compiled into the program ("tick.ogg", "ding.ogg") with
// the embedded-file registry. Safe to call again.
void RegisterEmbeddedSounds();

// Registers the Ogg loader, the "Null" driver and the mixing driver (as "OSS"
// and as the generic "Mixer"; both write to "/dev/dsp", else to ALSA's
// default PCM), and arranges for ShutdownSound to run at process exit. Safe
// to call again.
void InitSound();

// Decodes `url` ("incbin::<name>" for an embedded file) into a sound of the
// current driver, choosing and starting the driver on first use. nullptr
// when nothing could be decoded.
TSoundRef LoadSound(const TString& url);

// Plays `sound` once on a fresh channel that frees itself when the sound
// ends. Nothing happens for a null sound or when no channel is free: a cue
// that cannot play is simply not heard.
void PlaySound(const TSoundRef& sound);

// Stops the output (the output thread ends, waited for at most 5 s) and
// leaves no driver current; the next LoadSound starts one again. Runs at
// process exit once InitSound was called.
void ShutdownSound();
