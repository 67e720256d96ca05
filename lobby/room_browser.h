// The room browser: the modal dialog in which the user joins a listed room,
// creates one, or quits. Main thread only, after InitGui. It asks the lobby
// for the list (blocking, see lobby/lobby_client.h) and frees its window
// before returning.
#pragma once

#include "core/text.h"

// Shows the rooms of `game` that the lobby lists. Returns "HOST" (Create
// Room), "CANCEL" (Cancel, the close box, or a termination request), or the
// address of the chosen room. Never empty.
TString RoomBrowser(const TString& game);
