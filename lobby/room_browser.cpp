#include "lobby/room_browser.h"

#include <optional>

#include "lobby/lobby_client.h"
#include "lobby/lobby_protocol.h"
#include "ui/background.h"
#include "ui/event_loop.h"
#include "ui/gadget.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

const char16_t kPortNote[] =
    u"Before creating a room enable your routers port-forwarding for port 42000. This step is "
    u"not necessary if you are only join a room.";

const TString kAskingText = FromBytes(u8"Asking the lobby\u2026");  // a real ellipsis, in UTF-8

struct TBrowserGadgets {
  TGadgetRef window, roomList, joinButton, refreshButton, createButton, cancelButton, portNote;
  TGadgetRef lobbyStatus;
};

using TListTask = TBackground<std::vector<TGNetServerRef>>;

// The dialog: its gadgets and the list request in flight, if any.
struct TBrowser {
  TString game;
  TBrowserGadgets g;
  std::shared_ptr<TListTask> listing;
};

// Starts a list request unless one is running: pressing Refresh again while
// the lobby is slow must not pile up requests.
void AskForRooms(TBrowser& b) {
  if (b.listing) return;
  b.g.roomList->Clear();
  b.g.lobbyStatus->SetText(kAskingText);
  b.g.refreshButton->SetEnabled(0);
  TString game = b.game;
  b.listing = TListTask::Start([game](const TBackgroundTask&) { return LobbyList(game); });
}

// Fills the list once the answer is in.
void ShowRoomsIfAnswered(TBrowser& b) {
  if (!b.listing || !b.listing->Done()) return;
  for (const auto& entry : b.listing->Result())
    if (entry) AppendItem(b.g.roomList, entry->server, 0, -1, u"", entry);
  b.listing.reset();
  b.g.lobbyStatus->SetText(u"");
  b.g.refreshButton->SetEnabled(1);
}

// The address of the row's room, or "" with the numbered message shown when
// the row carries no room.
TString ChosenAddress(const TGadgetRef& roomList, const TString& message) {
  auto server = std::dynamic_pointer_cast<TGNetServer>(roomList->ItemExtra(roomList->SelectedItem()));
  if (server) return server->ip;
  Notify(message, 1);
  return TString();
}

TString HandleEvent(TBrowser& b, const TEvent& ev) {
  const TBrowserGadgets& g = b.g;
  const TObjectRef& source = ev.source;
  int32_t id = ev.id;
  ShowRoomsIfAnswered(b);
  if (source == g.window && id == WindowClose) return u"CANCEL";
  if (source == g.roomList && id == GadgetAction)
    return ChosenAddress(g.roomList, u"#1 Could not connect to server.");
  if (source == g.joinButton && id == GadgetAction) {
    if (g.roomList->SelectedItem() == -1) return TString();
    return ChosenAddress(g.roomList, u"#2 Could not connect to server.");
  }
  if (source == g.refreshButton && id == GadgetAction) {
    AskForRooms(b);
    return TString();
  }
  if (source == g.createButton && id == GadgetAction) return u"HOST";
  if (source == g.cancelButton && id == GadgetAction) return u"CANCEL";
  if (id == AppTerminate) return u"CANCEL";
  return TString();
}

// The room name of the selected row, or "".
TString RowRoomName(const TGadgetRef& roomList) {
  auto server = std::dynamic_pointer_cast<TGNetServer>(roomList->ItemExtra(roomList->SelectedItem()));
  return server ? server->server : TString();
}

}  // namespace

TString RoomBrowser(const TString& game, TString* roomName) {
  TBrowser b;
  b.game = game;
  TBrowserGadgets& g = b.g;
  g.window = MakeWindow(u"Server List: " + game, 0, 0, 400, 400, nullptr,
                        WIN_TITLED | WIN_CLIENT_RECT | WIN_CENTRED);
  g.roomList = MakeListBox(10, 10, 220, 380, g.window, 0);
  g.roomList->Activate(ACT_FOCUS);
  g.joinButton = MakeButton(u"Join Room", 240, 10, 150, 24, g.window, BTN_OK);
  g.refreshButton = MakeButton(u"Refresh List", 240, 40, 150, 24, g.window, BTN_PUSHLIKE);
  g.createButton = MakeButton(u"Create Room", 240, 70, 150, 24, g.window, BTN_PUSHLIKE);
  g.cancelButton = MakeButton(u"Cancel", 240, 360, 150, 24, g.window, BTN_CANCEL);
  g.lobbyStatus = MakeLabel(u"", 240, 104, 150, 20, g.window, 0);
  g.portNote = MakeLabel(kPortNote, 240, 130, 150, 214, g.window, 0);
  AskForRooms(b);
  TString result = RunEventLoop([&](const TEvent& event) -> std::optional<TString> {
    TString choice = HandleEvent(b, event);
    if (choice.empty()) return std::nullopt;
    return choice;
  });
  if (roomName) {
    bool joining = result != u"HOST" && result != u"CANCEL";
    *roomName = joining ? RowRoomName(g.roomList) : TString();
  }
  g.window->CleanUp();
  return result;
}
