// Program entry: start-up in its fixed order, then the main cycle of room
// visits. Every normal end goes through exit(0) and the exit handlers.
//
// Nothing here waits on the network with the windows standing still: the
// lobby requests, resolving and connecting when joining, a closing host's
// wait for its last acknowledgements, and the local network's and the
// router's work for a hosted room run in the background, and where the cycle
// must have their answer it shows a note the user can cancel. A room opens
// whatever the lobby answers; the room itself says how it can be reached.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "app/program_state.h"
#include "app/prompt.h"
#include "app/room_reach.h"
#include "app/room_window.h"
#include "app/termination.h"
#include "core/clock.h"
#include "core/error.h"
#include "lobby/lobby_client.h"
#include "lobby/resolve.h"
#include "lobby/room_address.h"
#include "lobby/room_browser.h"
#include "lobby/socket.h"
#include "replication/replication.h"
#include "sound/sound.h"
#include "ui/background.h"
#include "ui/event_queue.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

constexpr int32_t CONNECT_TIMEOUT_MS = 10000;
// Resolving a room's address name gives up after this long.
constexpr int RESOLVE_TIMEOUT_MS = 5000;
// At exit, the longest wait for the lobby to withdraw the room, for the
// router to drop the room's port and for the closing hosts to send their
// last words.
constexpr int32_t EXIT_WAIT_MS = 5000;
// A closing host asked to stop early ends at once; this only bounds the wait.
constexpr int32_t CUT_WAIT_MS = 1000;
// An address beyond this machine's networks, only to ask which route leads
// out; nothing is sent to it (RFC 5737 reserves it for documentation).
constexpr char ROUTE_OUT_PROBE[] = "192.0.2.1";

const TString kAskingText = FromBytes(u8"Asking the lobby\u2026");  // a real ellipsis, in UTF-8
const TString kRouterText = FromBytes(u8"Asking the router\u2026");

// A host that is finishing its close in the background.
struct TClosingHost {
  TBackgroundTaskRef task;
  bool holdsRoomPort;
};

// The background work of the main cycle. Main thread only.
struct TCycleWork {
  // The start-up ping until its answer has been taken; then the answer: the
  // address under which the lobby sees this machine, "" without one.
  std::shared_ptr<TBackground<TString>> ping;
  TString lobbySeen;
  std::vector<TClosingHost> closings;
  // The last hosted room's withdrawal from the local network and the router.
  TBackgroundTaskRef reachEnd;
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

// The hosted room leaves the local network and the router, in the background.
void EndReach() {
  TProgramState& program = Program();
  if (!program.reach) return;
  Work().reachEnd = program.reach->End();
  program.reach.reset();
}

// Waits, bounded, for what must still reach the network before the process
// goes: the lobby's withdrawal of the room, the router's removal of its
// port, and the closing hosts' last words. They run side by side.
void ExitHandler() {
  TProgramState& program = Program();
  DriverPoll();  // the windows leave the screen before the wait
  EndReach();
  if (!program.roomName.empty()) StartLobbyRemove();
  int32_t deadline = MilliSecs() + EXIT_WAIT_MS;
  auto remaining = [deadline] {
    int32_t left = deadline - MilliSecs();
    return left > 0 ? left : 0;
  };
  program.lobbyCommands.WaitIdle(remaining());
  if (Work().reachEnd) Work().reachEnd->WaitFinished(remaining());
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
  // the background; its answer is taken when a room wants it.
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

// Takes the start-up ping's answer if it is in; true once it has been taken.
bool TakePing() {
  std::shared_ptr<TBackground<TString>>& ping = Work().ping;
  if (ping && ping->Done()) {
    Work().lobbySeen = ping->Result();
    ping.reset();
  }
  return !ping;
}

// The start-up ping's answer, waiting for it with a note if need be.
TProgressEnd AwaitLobbySeen() {
  if (TakePing()) return PROGRESS_DONE;
  TProgressEnd end = WaitWithProgress(kAskingText, Work().ping);
  if (end == PROGRESS_DONE) TakePing();
  return end;
}

// This machine's own address: the one it reaches the internet from, or
// without a route out, that of one of its network interfaces.
int32_t OwnLocalIp() {
  int32_t ip = LocalIpToward(ParseDottedIp(ROUTE_OUT_PROBE));
  return ip ? ip : FirstInterfaceIp();
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

// The last hosted room's port mapping must be gone before the next one's is
// asked for: a removal arriving late would take the new mapping with it.
TProgressEnd AwaitLastReachEnd() {
  TBackgroundTaskRef& end = Work().reachEnd;
  if (!end || end->WaitFinished(0)) {
    end.reset();
    return PROGRESS_DONE;
  }
  TProgressEnd waited = WaitWithProgress(kRouterText, end);
  if (waited == PROGRESS_DONE) end.reset();
  return waited;
}

// The room opens once the port is open, whatever the lobby answers: the
// announcement runs in the background, and the room says how it went, as it
// does for the local network and the router (app/room_reach.h).
TRoomOutcome HostRoom() {
  TProgramState& program = Program();
  program.roomName = PromptText(u"Choose Room Name", program.localPlayer->name + u"s_Room");
  if (program.roomName.empty()) return ROOM_BACK_TO_BROWSER;
  TProgressEnd freed = AwaitLastReachEnd();
  if (freed != PROGRESS_DONE) {
    program.roomName.clear();  // nothing was announced
    return freed == PROGRESS_TERMINATE ? ROOM_END_PROGRAM : ROOM_BACK_TO_BROWSER;
  }
  FreeRoomPort();
  if (!ListenReplication(program.netHost, ROOM_PORT)) {
    Notify(u"#4 Could Not host server. Please ensure port 42000 is free.", 1);
    return ROOM_BACK_TO_BROWSER;
  }
  TakePing();
  program.localPlayer->rank = u"HOST";
  program.localPlayer->ip = ParticipantAddress(Work().lobbySeen, 0, OwnLocalIp());
  TString game = program.gameName, room = program.roomName;
  auto announcement = program.lobbyCommands.Start<TLobbyAnswer>(
      [game, room](const TBackgroundTask&) { return LobbyAnnounce(game, room); });
  program.reach = std::make_shared<TRoomReach>(room, game, announcement);
  return ROOM_BACK_TO_BROWSER;
}

// What joining found out: the connection (null when none was made), the
// host's address and this machine's own address toward it.
struct TJoined {
  TGNetConnectionRef connection;
  int32_t hostIp = 0;
  int32_t localIp = 0;
};
using TJoinTask = TBackground<TJoined>;

// Resolves the room's address and connects to it, off the main thread: the
// connection is made on an ENet host of its own, which the main thread
// takes over only once it is done.
std::shared_ptr<TJoinTask> StartJoining(const TRoomAddress& address) {
  return TJoinTask::Start([address](const TBackgroundTask& self) {
    TJoined joined;
    joined.hostIp = ResolveFirstIp(address.host, RESOLVE_TIMEOUT_MS);
    if (joined.hostIp == 0 || self.Cancelled()) return joined;
    joined.localIp = LocalIpToward(joined.hostIp);
    joined.connection = OpenConnection(static_cast<uint32_t>(joined.hostIp), address.port,
                                       CONNECT_TIMEOUT_MS, [&self] { return self.Cancelled(); });
    return joined;
  });
}

// Joins the room the browser chose: a listed room's address, or one typed.
TRoomOutcome JoinRoom(const TString& chosenName) {
  TProgramState& program = Program();
  TString name = chosenName.empty() ? program.browserChoice : chosenName;
  TRoomAddress address = ParseRoomAddress(program.browserChoice, ROOM_PORT);
  if (!address.valid) {
    Notify(u"#3 Could Not connect To server.", 1);
    return ROOM_BACK_TO_BROWSER;
  }
  auto joining = StartJoining(address);
  TProgressEnd end = WaitWithProgress(u"Connecting to " + name + FromBytes(u8"\u2026"), joining);
  // Across the internet the room must see the address the lobby sees.
  if (end == PROGRESS_DONE && joining->Result().connection &&
      !IsPrivateIp(joining->Result().hostIp))
    end = AwaitLobbySeen();
  switch (end) {
    case PROGRESS_DONE: {
      const TJoined& joined = joining->Result();
      if (AdoptConnection(program.netHost, joined.connection)) {
        program.localPlayer->rank = u"GUEST";
        program.localPlayer->ip =
            ParticipantAddress(Work().lobbySeen, joined.hostIp, joined.localIp);
      } else {
        Notify(u"#3 Could Not connect To server.", 1);
      }
      return ROOM_BACK_TO_BROWSER;
    }
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
  TakePing();
  TRoomBrowserOptions options;
  options.ownAddress = Work().lobbySeen;
  program.browserChoice = RoomBrowser(program.gameName, &chosenName, options);
  if (program.browserChoice == u"CANCEL") EndProgram();
  program.netHost = NewReplicationHost();
  bool hosting = program.browserChoice == u"HOST";
  TRoomOutcome setUp = hosting ? HostRoom() : JoinRoom(chosenName);
  TRoomOutcome outcome = RunRoom();
  EndReach();
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
