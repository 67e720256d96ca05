// Program entry: start-up in its fixed order, then the main cycle of room
// visits. Every normal end goes through exit(0) and the exit handlers.
#include <csignal>
#include <cstdlib>

#include "app/program_state.h"
#include "app/prompt.h"
#include "app/room_window.h"
#include "app/termination.h"
#include "core/error.h"
#include "lobby/lobby_client.h"
#include "lobby/room_browser.h"
#include "replication/replication.h"
#include "sound/sound.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

constexpr int ROOM_PORT = 42000;
constexpr int32_t CONNECT_TIMEOUT_MS = 10000;

void ExitHandler() {
  TProgramState& program = Program();
  if (!program.roomName.empty()) LobbyRemove(program.gameName);
}

void StartUp() {
  TProgramState& program = Program();
  // 1. The embedded sound files.
  RegisterEmbeddedSounds();
  // 2. The modules: event queue with the toolkit's driver, sound, network.
  InitGui();
  InitSound();
  InitReplication();
  // 3. The local participant.
  program.localPlayer = std::make_shared<TPlayer>();
  // 4. The address under which the lobby sees this machine, before any window.
  program.localPlayer->ip = LobbyPing();
  // 5. The two cue sounds.
  program.dingSound = LoadSound(u"incbin::ding.ogg");
  program.tickSound = LoadSound(u"incbin::tick.ogg");
  // 6. Withdraw a room still announced when the process ends.
  std::atexit(ExitHandler);
  // 7. The user name; an empty answer ends the program.
  program.localPlayer->name = PromptText(u"Choose Username", u"Username");
  if (program.localPlayer->name.empty()) EndProgram();
}

void HostRoom() {
  TProgramState& program = Program();
  program.roomName = PromptText(u"Choose Room Name", program.localPlayer->name + u"s_Room");
  if (program.roomName.empty()) return;
  if (!ListenReplication(program.netHost, ROOM_PORT)) {
    Notify(u"#4 Could Not host server. Please ensure port 42000 is free.", 1);
    return;
  }
  if (LobbyAdd(program.gameName, program.roomName))
    program.localPlayer->rank = u"HOST";
  else
    Notify(u"#5 Could Not host server. Check that " + program.gameName + u" is fully up to date.", 1);
}

void JoinRoom() {
  TProgramState& program = Program();
  if (ConnectReplication(program.netHost, program.browserChoice, ROOM_PORT, CONNECT_TIMEOUT_MS))
    program.localPlayer->rank = u"GUEST";
  else
    Notify(u"#3 Could Not connect To server.", 1);
}

// One room visit: browser, network set-up, room, clean-up. Cancelling the
// browser ends the program here; otherwise the room's outcome says whether
// the browser comes back.
TRoomOutcome VisitRoom() {
  TProgramState& program = Program();
  program.browserChoice = RoomBrowser(program.gameName);
  if (program.browserChoice == u"CANCEL") EndProgram();
  program.netHost = NewReplicationHost();
  if (program.browserChoice == u"HOST")
    HostRoom();
  else
    JoinRoom();
  TRoomOutcome outcome = RunRoom();
  if (!program.roomName.empty()) {
    LobbyRemove(program.gameName);
    program.roomName.clear();
  }
  CloseReplicationHost(program.netHost);
  program.netHost.reset();
  return outcome;
}

int Run() {
  StartUp();
  while (VisitRoom() == ROOM_BACK_TO_BROWSER) {
  }
  EndProgram();
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  InstallTerminationSignals();
  RunGuarded(Run);
  EndProgram();
}
