// The room browser: the modal dialog in which the user joins a listed room
// or a host by its address, creates a room, or quits. Main thread only,
// after InitGui. It lists the lobby's rooms beside the rooms published on the
// local network (lobby/local_room_browser.h), which it follows as they come
// and go, and leaves out lobby rooms whose hosts do not answer
// (lobby/room_host_watch.h). The lobby is asked on a task of its own
// (ui/background.h): the dialog answers meanwhile and says "Asking the
// lobby…" until the rooms arrive, or in words that the lobby could not be
// reached. The local network's news reaches the dialog through the
// asynchronous-operation list. It frees its window before returning.
#pragma once

#include "core/text.h"
#include "lobby/local_room_browser.h"
#include "lobby/room_address.h"

struct TRoomBrowserOptions {
  // Where the lobby sees this machine, "" while unknown: a lobby room there
  // that is named as a local room is that local room seen through this
  // machine's own router, and is listed once, as the local room.
  TString ownAddress;
  // Where listed rooms are asked whether their hosts are there.
  int roomPort = ROOM_PORT;
  // How long a lobby room's host may stay silent before the room leaves the
  // list (milliseconds).
  int silenceMs = PROBE_SILENCE_MS;
};

// Shows the rooms of `game`. Returns "HOST" (Create Room), "CANCEL" (Cancel,
// the close box, or a termination request), or the address of the room to
// join: a lobby room's address text, a local room's address, or the address
// typed into "Join by Address...", as "host:port". Never empty. With
// `roomName`, that receives the chosen room's name as listed, or the address
// as typed ("" unless a room was chosen).
TString RoomBrowser(const TString& game, TString* roomName = nullptr,
                    const TRoomBrowserOptions& options = TRoomBrowserOptions());
