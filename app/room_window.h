// The room window and its event loop: one visit to a room, as host or guest.
#pragma once

#include "core/text.h"

// Runs the room on the program state's netHost until the local role becomes
// empty; with an empty role on entry it builds and tears down the window at
// once. Afterwards the role is empty and quitRequested may be set.
void RunRoom();

// Writes the discussion text to `path` as the saved log; false when the file
// cannot be written completely.
bool SaveLogFile(const char* path, const TString& text);
