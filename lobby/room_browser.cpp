#include "lobby/room_browser.h"

#include <optional>

#include "lobby/lobby_client.h"
#include "lobby/lobby_protocol.h"
#include "ui/event_loop.h"
#include "ui/event_queue.h"
#include "ui/gadget.h"
#include "ui/gui.h"
#include "ui/requester.h"

namespace {

const char16_t kPortNote[] =
    u"Before creating a room enable your routers port-forwarding for port 42000. This step is "
    u"not necessary if you are only join a room.";

struct TBrowserGadgets {
  TGadgetRef window, roomList, joinButton, refreshButton, createButton, cancelButton, portNote;
};

void FillRoomList(const TGadgetRef& roomList, const TString& game) {
  for (const auto& entry : LobbyList(game))
    if (entry) AppendItem(roomList, entry->server, 0, -1, u"", entry);
}

// The address of the row's room, or "" with the numbered message shown when
// the row carries no room.
TString ChosenAddress(const TGadgetRef& roomList, const TString& message) {
  auto server = std::dynamic_pointer_cast<TGNetServer>(roomList->ItemExtra(roomList->SelectedItem()));
  if (server) return server->ip;
  Notify(message, 1);
  return TString();
}

TString HandleEvent(const TBrowserGadgets& g, const TString& game) {
  const TEventRef& ev = TEventQueue::Current();
  const TObjectRef& source = ev->source;
  int32_t id = ev->id;
  if (source == g.window && id == WindowClose) return u"CANCEL";
  if (source == g.roomList && id == GadgetAction)
    return ChosenAddress(g.roomList, u"#1 Could not connect to server.");
  if (source == g.joinButton && id == GadgetAction) {
    if (g.roomList->SelectedItem() == -1) return TString();
    return ChosenAddress(g.roomList, u"#2 Could not connect to server.");
  }
  if (source == g.refreshButton && id == GadgetAction) {
    g.roomList->Clear();
    FillRoomList(g.roomList, game);
    return TString();
  }
  if (source == g.createButton && id == GadgetAction) return u"HOST";
  if (source == g.cancelButton && id == GadgetAction) return u"CANCEL";
  if (id == AppTerminate) return u"CANCEL";
  return TString();
}

}  // namespace

TString RoomBrowser(const TString& game) {
  TBrowserGadgets g;
  g.window = MakeWindow(u"Server List: " + game, 0, 0, 400, 400, nullptr,
                        WIN_TITLED | WIN_CLIENT_RECT | WIN_CENTRED);
  g.roomList = MakeListBox(10, 10, 220, 380, g.window, 0);
  FillRoomList(g.roomList, game);
  g.roomList->Activate(ACT_FOCUS);
  g.joinButton = MakeButton(u"Join Room", 240, 10, 150, 24, g.window, BTN_OK);
  g.refreshButton = MakeButton(u"Refresh List", 240, 40, 150, 24, g.window, BTN_PUSHLIKE);
  g.createButton = MakeButton(u"Create Room", 240, 70, 150, 24, g.window, BTN_PUSHLIKE);
  g.cancelButton = MakeButton(u"Cancel", 240, 360, 150, 24, g.window, BTN_CANCEL);
  g.portNote = MakeLabel(kPortNote, 240, 104, 150, 240, g.window, 0);
  TString result = RunEventLoop([&](const TEvent&) -> std::optional<TString> {
    TString choice = HandleEvent(g, game);
    if (choice.empty()) return std::nullopt;
    return choice;
  });
  g.window->CleanUp();
  return result;
}
