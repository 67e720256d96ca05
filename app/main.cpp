// Program entry: start-up in its fixed order, then the main cycle of room
// visits. Every normal end goes through exit(0) and the exit handlers.
//
// Nothing here waits on the network with the windows standing still: the
// lobby requests, resolving and connecting when joining, and a closing
// host's wait for its last acknowledgements run as background tasks, and
// where the cycle must have their answer it shows a note the user can cancel.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "app/program_state.h"
#include "app/prompt.h"
#include "app/room_window.h"
#include "app/termination.h"
#include "core/clock.h"
#include "core/error.h"
#include "lobby/lobby_client.h"
#include "lobby/resolve.h"
#include "lobby/room_browser.h"
#include "replication/replication.h"
#include "sound/sound.h"
#include "ui/background.h"
#include "ui/event_queue.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

constexpr int ROOM_PORT = 42000;
constexpr int32_t CONNECT_TIMEOUT_MS = 10000;
// Resolving a room's address name gives up after this long.
constexpr int RESOLVE_TIMEOUT_MS = 5000;
// At exit, the longest wait for the lobby to withdraw the room and for the
// closing hosts to send their last words.
constexpr int32_t EXIT_WAIT_MS = 5000;
// A closing host asked to stop early ends at once; this only bounds the wait.
constexpr int32_t CUT_WAIT_MS = 1000;

const TString kAskingText = FromBytes(u8"Asking the lobby\u2026");  // a real ellipsis, in UTF-8

// A host that is finishing its close in the background.
struct TClosingHost {
  TBackgroundTaskRef task;
  bool holdsRoomPort;
};

// The background work of the main cycle. Main thread only.
struct TCycleWork {
  // The start-up ping until its answer has been taken.
  std::shared_ptr<TBackground<TString>> ping;
  std::vector<TClosingHost> closings;
};

TCycleWork& Work() {
  // Never destroyed: the exit handler reads it while the process exits.
  static TCycleWork* work = new TCycleWork;
  return *work;
}

void StartLobbyRemove() {
  TProgramState& program = Program();
  TString game = program.gameName;
  program.lobbyCommands.Start<int>([game](const TBackgroundTask&) { return LobbyRemove(game); });
  program.roomName.clear();
}

// Waits, bounded, for what must still reach the network before the process
// goes: the lobby's withdrawal of the room and the closing hosts' last words.
void ExitHandler() {
  TProgramState& program = Program();
  DriverPoll();  // the windows leave the screen before the wait
  if (!program.roomName.empty()) StartLobbyRemove();
  int32_t deadline = MilliSecs() + EXIT_WAIT_MS;
  auto remaining = [deadline] {
    int32_t left = deadline - MilliSecs();
    return left > 0 ? left : 0;
  };
  program.lobbyCommands.WaitIdle(remaining());
  for (const TClosingHost& closing : Work().closings) closing.task->WaitFinished(remaining());
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
  // 4. The address under which the lobby sees this machine: asked now, in
  // the background; the answer is wanted at room entry (AwaitLocalAddress).
  Work().ping = TBackground<TString>::Start([](const TBackgroundTask&) { return LobbyPing(); });
  // 5. The two cue sounds.
  program.dingSound = LoadSound(u"incbin::ding.ogg");
  program.tickSound = LoadSound(u"incbin::tick.ogg");
  // 6. Withdraw a room still announced when the process ends.
  std::atexit(ExitHandler);
  // 7. The user name; an empty answer ends the program.
  program.localPlayer->name = PromptText(u"Choose Username", u"Username");
  if (program.localPlayer->name.empty()) EndProgram();
}

// The start-up ping's answer into localPlayer.ip, waiting for it if need be.
TProgressEnd AwaitLocalAddress() {
  std::shared_ptr<TBackground<TString>>& ping = Work().ping;
  if (!ping) return PROGRESS_DONE;
  TProgressEnd end = WaitWithProgress(kAskingText, ping);
  if (end == PROGRESS_DONE) {
    Program().localPlayer->ip = ping->Result();
    ping.reset();
  }
  return end;
}

void CloseInBackground(const TGNetHostRef& host, bool holdsRoomPort) {
  std::vector<TClosingHost>& closings = Work().closings;
  closings.erase(std::remove_if(closings.begin(), closings.end(),
                                [](const TClosingHost& c) { return c.task->Done(); }),
                 closings.end());
  TGNetClosingRef closing = CloseReplicationHostLater(host);
  if (!closing) return;
  auto task = TBackground<int>::Start([closing](const TBackgroundTask& self) {
    FinishClosing(closing, GNET_CLOSE_WAIT_MS, [&self] { return self.Cancelled(); });
    return 0;
  });
  closings.push_back({task, holdsRoomPort});
}

// A room hosted again at once needs the room port that the last one may
// still hold while it finishes closing: that wait is cut short.
void FreeRoomPort() {
  for (const TClosingHost& closing : Work().closings) {
    if (!closing.holdsRoomPort) continue;
    closing.task->Cancel();
    closing.task->WaitFinished(CUT_WAIT_MS);
  }
}

// The room is announced while a note says so. A cancelled announcement is
// withdrawn after the room like any other (the name is set).
TRoomOutcome AnnounceRoom() {
  TProgramState& program = Program();
  TString game = program.gameName, room = program.roomName;
  auto add = program.lobbyCommands.Start<int>(
      [game, room](const TBackgroundTask&) { return LobbyAdd(game, room); });
  switch (WaitWithProgress(kAskingText, add)) {
    case PROGRESS_DONE:
      if (add->Result())
        program.localPlayer->rank = u"HOST";
      else
        Notify(u"#5 Could Not host server. Check that " + game + u" is fully up to date.", 1);
      return ROOM_BACK_TO_BROWSER;
    case PROGRESS_CANCELLED: return ROOM_BACK_TO_BROWSER;
    case PROGRESS_TERMINATE: return ROOM_END_PROGRAM;
  }
  return ROOM_BACK_TO_BROWSER;
}

TRoomOutcome HostRoom() {
  TProgramState& program = Program();
  program.roomName = PromptText(u"Choose Room Name", program.localPlayer->name + u"s_Room");
  if (program.roomName.empty()) return ROOM_BACK_TO_BROWSER;
  TProgressEnd asked = AwaitLocalAddress();
  if (asked != PROGRESS_DONE) {
    program.roomName.clear();  // nothing was announced
    return asked == PROGRESS_TERMINATE ? ROOM_END_PROGRAM : ROOM_BACK_TO_BROWSER;
  }
  FreeRoomPort();
  if (!ListenReplication(program.netHost, ROOM_PORT)) {
    Notify(u"#4 Could Not host server. Please ensure port 42000 is free.", 1);
    return ROOM_BACK_TO_BROWSER;
  }
  return AnnounceRoom();
}

using TJoinTask = TBackground<TGNetConnectionRef>;

// Resolves the room's address and connects to it, off the main thread: the
// connection is made on an ENet host of its own, which the main thread
// takes over only once it is done.
std::shared_ptr<TJoinTask> StartJoining(const TString& address) {
  return TJoinTask::Start([address](const TBackgroundTask& self) -> TGNetConnectionRef {
    int32_t ip = ResolveFirstIp(ToBytes(address), RESOLVE_TIMEOUT_MS);
    if (ip == 0 || self.Cancelled()) return nullptr;
    return OpenConnection(static_cast<uint32_t>(ip), ROOM_PORT, CONNECT_TIMEOUT_MS,
                          [&self] { return self.Cancelled(); });
  });
}

TRoomOutcome JoinRoom(const TString& chosenName) {
  TProgramState& program = Program();
  TProgressEnd asked = AwaitLocalAddress();
  if (asked != PROGRESS_DONE)
    return asked == PROGRESS_TERMINATE ? ROOM_END_PROGRAM : ROOM_BACK_TO_BROWSER;
  TString name = chosenName.empty() ? program.browserChoice : chosenName;
  auto joining = StartJoining(program.browserChoice);
  switch (WaitWithProgress(u"Connecting to " + name + FromBytes(u8"\u2026"), joining)) {
    case PROGRESS_DONE:
      if (AdoptConnection(program.netHost, joining->Result()))
        program.localPlayer->rank = u"GUEST";
      else
        Notify(u"#3 Could Not connect To server.", 1);
      return ROOM_BACK_TO_BROWSER;
    case PROGRESS_CANCELLED: return ROOM_BACK_TO_BROWSER;
    case PROGRESS_TERMINATE: return ROOM_END_PROGRAM;
  }
  return ROOM_BACK_TO_BROWSER;
}

// One room visit: browser, network set-up, room, clean-up. Cancelling the
// browser ends the program here; otherwise the room's outcome (or a
// termination request while setting up) says whether the browser comes back.
TRoomOutcome VisitRoom() {
  TProgramState& program = Program();
  TString chosenName;
  program.browserChoice = RoomBrowser(program.gameName, &chosenName);
  if (program.browserChoice == u"CANCEL") EndProgram();
  program.netHost = NewReplicationHost();
  bool hosting = program.browserChoice == u"HOST";
  TRoomOutcome setUp = hosting ? HostRoom() : JoinRoom(chosenName);
  TRoomOutcome outcome = RunRoom();
  if (!program.roomName.empty()) StartLobbyRemove();
  CloseInBackground(program.netHost, hosting);
  program.netHost.reset();
  return setUp == ROOM_END_PROGRAM ? ROOM_END_PROGRAM : outcome;
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
