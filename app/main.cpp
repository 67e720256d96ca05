// Program entry: start-up in its fixed order, then the main cycle of room
// visits. Every normal end goes through exit(0) and the exit handlers.
#include <csignal>
#include <cstdlib>

#include "app/program_state.h"
#include "app/prompt.h"
#include "core/error.h"
#include "ui/event.h"
#include "sound/sound.h"
#include "ui/gadget.h"

namespace {

void ExitHandler() {
  // Withdraws a room still announced to the lobby (wired with the lobby).
}

int StartUp() {
  // 1. The embedded sound files.
  RegisterEmbeddedSounds();
  // 2. Subsystems: the event queue with the toolkit's driver, sound; sockets
  //    and replication join as their layers land.
  InitGui();
  InitSound();
  // 3. The local participant.
  Program().localPlayer = std::make_shared<TPlayer>();
  // 4. localPlayer.ip from the lobby's ping (lobby layer).
  // 5. The two cue sounds.
  Program().dingSound = CurrentAudioDriver().LoadSound(u"incbin::ding.ogg", 0);
  Program().tickSound = CurrentAudioDriver().LoadSound(u"incbin::tick.ogg", 0);
  // 6. The exit handler.
  std::atexit(ExitHandler);
  // 7. The user name from the text prompt; an empty name ends the program.
  Program().localPlayer->name = PromptText(u"Choose Username", u"Username");
  if (Program().localPlayer->name.empty()) EndProgram();
  return 0;
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  RunGuarded(StartUp);
  EndProgram();
}
