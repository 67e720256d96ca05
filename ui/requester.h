// Modal requesters: message boxes and the file requester. Main thread only.
//
// Each runs a dialog of the current system driver and returns when the user
// has answered; events keep arriving in the queue meanwhile. Before InitGui
// the queue's default driver answers instead (Notify writes the text to the
// standard error stream; the others answer as cancelled). Texts are shown
// literally. A termination request (AppTerminate) closes an open message
// box as its close box would, and then waits in the queue for the loop.
#pragma once

#include "core/text.h"

// Information icon for serious 0, alert icon otherwise; returns 0.
int Notify(const TString& text, int serious = 0);
// 1 for "Yes", 0 for "No" (also Escape and the close box).
int Confirm(const TString& text, int serious = 0);
// 1 for "Yes", 0 for "No", -1 for "Cancel" (also Escape and the close box).
int Proceed(const TString& text, int serious = 0);
// The chosen path, or "" when cancelled. `filter` as "Text Files:txt;All
// Files:*"; `path` the initial file or folder ("" = the current folder).
TString RequestFile(const TString& title, const TString& filter, int save, const TString& path);
