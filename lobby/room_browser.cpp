#include "lobby/room_browser.h"

#include <memory>
#include <optional>

#include "lobby/lobby_client.h"
#include "lobby/lobby_protocol.h"
#include "lobby/room_host_watch.h"
#include "lobby/room_list.h"
#include "ui/background.h"
#include "ui/event_loop.h"
#include "ui/event_queue.h"
#include "ui/gadget.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

const char16_t kPortNote[] =
    u"Creating a room asks your router to forward UDP port 42000, and the room says whether it "
    u"did. Joining a room needs nothing forwarded.";

struct TBrowserGadgets {
  TGadgetRef window, roomList, joinButton, refreshButton, createButton, addressButton;
  TGadgetRef cancelButton, lobbyStatus, portNote;
};

using TListTask = TBackground<TLobbyListing>;

// The event that tells the dialog that the local rooms or the answers of the
// listed hosts changed (a user event id, registered as "RoomsChanged").
int32_t RoomsChanged() {
  static const int32_t id = [] {
    int32_t allocated = TEvent::AllocUserId();
    TEvent::RegisterId(allocated, u"RoomsChanged");
    return allocated;
  }();
  return id;
}

void EmitRoomsChanged(void*, void*) { TEvent::Create(RoomsChanged())->Emit(); }

// On a module's thread: the news goes to the main thread as an event. It
// names no dialog, so one that arrives after the dialog is gone is ignored.
void PostRoomsChanged() { PostAsyncOp(EmitRoomsChanged, nullptr, nullptr); }

// The dialog: its gadgets, the list request in flight, and what the rows are
// made of.
struct TBrowser {
  TString game;
  TRoomBrowserOptions options;
  TBrowserGadgets g;
  std::shared_ptr<TListTask> listing;
  TLobbyState lobbyState = LOBBY_ASKING;
  std::vector<TGNetServerRef> lobbyRooms;
  std::unique_ptr<TLocalRoomBrowser> localRooms;
  std::unique_ptr<TRoomHostWatch> hosts;
  std::vector<TListedRoom> shown;
  TString chosenName;
};

// Shows the rows anew when what they are made of changed, keeping the
// selected room selected if it is still listed.
void ShowRows(TBrowser& b) {
  std::vector<TListedRoom> rows = ShownRooms(b.lobbyRooms, b.hosts->Silent(), b.localRooms->Rooms(),
                                             b.options.ownAddress, b.options.roomPort);
  if (rows == b.shown) return;
  const TGadgetRef& list = b.g.roomList;
  int selected = list->SelectedItem();
  TString selectedAddress;
  if (selected >= 0 && static_cast<size_t>(selected) < b.shown.size())
    selectedAddress = b.shown[static_cast<size_t>(selected)].address;
  list->Clear();
  for (size_t i = 0; i < rows.size(); ++i) {
    auto entry = std::make_shared<TGNetServer>();
    entry->game = b.game;
    entry->server = rows[i].name;
    entry->ip = RoomJoinText(rows[i], b.options.roomPort);
    AppendItem(list, RoomRowText(rows[i]), 0, -1, u"", entry);
    if (!selectedAddress.empty() && rows[i].address == selectedAddress)
      list->SelectItem(static_cast<int>(i), 1);
  }
  b.shown = std::move(rows);
}

// Starts a list request unless one is running: pressing Refresh again while
// the lobby is slow must not pile up requests. The lobby's rooms leave the
// list until the new answer is in; the local rooms stay.
void AskForRooms(TBrowser& b) {
  if (b.listing) return;
  b.lobbyRooms.clear();
  b.lobbyState = LOBBY_ASKING;
  b.g.lobbyStatus->SetText(LobbyStatusText(LOBBY_ASKING, LobbyLocation()));
  b.g.refreshButton->SetEnabled(0);
  TString game = b.game;
  b.listing = TListTask::Start([game](const TBackgroundTask&) { return LobbyListing(game); });
  ShowRows(b);
}

// Takes the lobby's answer once it is in.
void TakeLobbyAnswer(TBrowser& b) {
  if (!b.listing || !b.listing->Done()) return;
  const TLobbyListing& listing = b.listing->Result();
  b.lobbyRooms = listing.rooms;
  b.lobbyState = listing.answered ? LOBBY_ANSWERED : LOBBY_SILENT;
  std::vector<TString> addresses;
  for (const TGNetServerRef& room : b.lobbyRooms)
    if (room) addresses.push_back(room->ip);
  b.hosts->Watch(addresses, b.options.roomPort);
  b.listing.reset();
  b.g.lobbyStatus->SetText(LobbyStatusText(b.lobbyState, LobbyLocation()));
  b.g.refreshButton->SetEnabled(1);
}

// The address of the selected row's room, or "" with the numbered message
// shown when the row carries no room.
TString ChosenAddress(TBrowser& b, const TString& message) {
  const TGadgetRef& list = b.g.roomList;
  auto server = std::dynamic_pointer_cast<TGNetServer>(list->ItemExtra(list->SelectedItem()));
  if (server) {
    b.chosenName = server->server;
    return server->ip;
  }
  Notify(message, 1);
  return TString();
}

// The "Join by Address" dialog: the text typed, trimmed, or "" when the user
// cancels in any way.
TString AskForAddress() {
  TGadgetRef window = MakeWindow(u"Join by Address", 0, 0, 300, 112, nullptr,
                                 WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED);
  if (!window) return TString();
  MakeLabel(u"The host's name or address (port 42000 unless you add :port):", 10, 6, 280, 36,
            window, 0);
  TGadgetRef field = MakeTextField(10, 48, 280, 20, window, 0);
  TGadgetRef ok = MakeButton(u"OK", 210, 80, 80, 24, window, BTN_OK);
  TGadgetRef cancel = MakeButton(u"Cancel", 10, 80, 80, 24, window, BTN_CANCEL);
  field->Activate(ACT_FOCUS);
  TString typed = RunEventLoop([&](const TEvent& event) -> std::optional<TString> {
    if (event.source == window && event.id == WindowClose) return TString();
    if (event.source == ok && event.id == GadgetAction) return field->GetText();
    if (event.source == cancel && event.id == GadgetAction) return TString();
    if (event.id == AppTerminate) return TString();
    return std::nullopt;
  });
  window->CleanUp();
  return TrimText(typed);
}

// What a typed address asks for: always with its port, so that no address
// reads as "HOST" or "CANCEL"; what cannot be read is handed on as typed, to
// fail as a name that does not resolve would.
TString JoinByAddress(TBrowser& b) {
  TString typed = AskForAddress();
  if (typed.empty()) return TString();
  b.chosenName = typed;
  TRoomAddress address = ParseRoomAddress(typed, ROOM_PORT);
  if (!address.valid) return typed;
  return FromBytes(address.host + ":" + std::to_string(address.port));
}

TString HandleEvent(TBrowser& b, const TEvent& ev) {
  const TBrowserGadgets& g = b.g;
  const TObjectRef& source = ev.source;
  int32_t id = ev.id;
  TakeLobbyAnswer(b);
  ShowRows(b);
  if (source == g.window && id == WindowClose) return u"CANCEL";
  if (source == g.roomList && id == GadgetAction)
    return ChosenAddress(b, u"#1 Could not connect to server.");
  if (source == g.joinButton && id == GadgetAction) {
    if (g.roomList->SelectedItem() == -1) return TString();
    return ChosenAddress(b, u"#2 Could not connect to server.");
  }
  if (source == g.refreshButton && id == GadgetAction) {
    AskForRooms(b);
    return TString();
  }
  if (source == g.createButton && id == GadgetAction) return u"HOST";
  if (source == g.addressButton && id == GadgetAction) return JoinByAddress(b);
  if (source == g.cancelButton && id == GadgetAction) return u"CANCEL";
  if (id == AppTerminate) return u"CANCEL";
  return TString();
}

TBrowserGadgets BuildDialog(const TString& game) {
  TBrowserGadgets g;
  g.window = MakeWindow(u"Server List: " + game, 0, 0, 400, 400, nullptr,
                        WIN_TITLED | WIN_CLIENT_RECT | WIN_CENTRED);
  g.roomList = MakeListBox(10, 10, 220, 380, g.window, 0);
  g.roomList->Activate(ACT_FOCUS);
  g.joinButton = MakeButton(u"Join Room", 240, 10, 150, 24, g.window, BTN_OK);
  g.refreshButton = MakeButton(u"Refresh List", 240, 40, 150, 24, g.window, BTN_PUSHLIKE);
  g.createButton = MakeButton(u"Create Room", 240, 70, 150, 24, g.window, BTN_PUSHLIKE);
  g.addressButton = MakeButton(u"Join by Address...", 240, 100, 150, 24, g.window, BTN_PUSHLIKE);
  g.cancelButton = MakeButton(u"Cancel", 240, 360, 150, 24, g.window, BTN_CANCEL);
  g.lobbyStatus = MakeLabel(u"", 240, 134, 150, 56, g.window, 0);
  g.portNote = MakeLabel(kPortNote, 240, 196, 150, 150, g.window, 0);
  return g;
}

}  // namespace

TString RoomBrowser(const TString& game, TString* roomName, const TRoomBrowserOptions& options) {
  TBrowser b;
  b.game = game;
  b.options = options;
  b.g = BuildDialog(game);
  RoomsChanged();  // registered on the main thread, before a module posts
  b.localRooms = std::make_unique<TLocalRoomBrowser>(ToBytes(game), PostRoomsChanged);
  b.hosts = std::make_unique<TRoomHostWatch>(options.silenceMs, PostRoomsChanged);
  AskForRooms(b);
  if (!options.notice.empty()) Notify(options.notice, 0);
  TString result = RunEventLoop([&](const TEvent& event) -> std::optional<TString> {
    TString choice = HandleEvent(b, event);
    if (choice.empty()) return std::nullopt;
    return choice;
  });
  if (roomName) {
    bool joining = result != u"HOST" && result != u"CANCEL";
    *roomName = joining ? b.chosenName : TString();
  }
  b.g.window->CleanUp();
  return result;
}
