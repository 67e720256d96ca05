// The room browser: the modal dialog in which the user joins a listed room,
// creates one, or quits. Main thread only, after InitGui. It asks the lobby
// for the list on a task of its own (ui/background.h): the dialog answers
// meanwhile and says "Asking the lobby…" until the rooms arrive. It frees
// its window before returning.
#pragma once

#include "core/text.h"

// Shows the rooms of `game` that the lobby lists. Returns "HOST" (Create
// Room), "CANCEL" (Cancel, the close box, or a termination request), or the
// address of the chosen room. Never empty. With `roomName`, that receives the
// chosen room's name as listed ("" unless a room was chosen).
TString RoomBrowser(const TString& game, TString* roomName = nullptr);
