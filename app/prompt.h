// The small modal dialogs of the main cycle: the text prompt used for the
// user name and the room name, and the note shown while the program waits
// for work running in the background. Main thread only.
#pragma once

#include "ui/background.h"
#include "ui/event.h"

// Shows a 300 x 70 dialog titled `title` with a text field holding
// `initialText`, "OK" (Return) and "Cancel" (Escape). Returns the field's text
// as it stands when OK is pressed, or "" when the user cancels in any way
// (Cancel, Escape, the close box, a terminate request). Typed text is kept to
// letters, digits and underscores, at most 15 characters.
TString PromptText(const TString& title, const TString& initialText);

// Key filter for name fields: passes every event that is not a KeyChar, and a
// KeyChar only for a digit, a letter A-Z or a-z, the underscore, backspace,
// carriage return, escape or delete; returns 0 to drop the key press.
int NameCharFilter(const TEvent& event, const TObjectRef& context = nullptr);

// How a wait with a progress note ended.
enum TProgressEnd { PROGRESS_DONE, PROGRESS_CANCELLED, PROGRESS_TERMINATE };

// Waits for `task` while a small window titled and reading `text` with a
// "Cancel" button (also Escape) is shown; the windows answer meanwhile.
// PROGRESS_DONE once the task is done (at once, without a window, when it
// already is); PROGRESS_CANCELLED at once for Cancel or the close box, and
// PROGRESS_TERMINATE for a termination request; in both the task is asked
// to stop (TBackgroundTask::Cancel) and left to finish on its own.
TProgressEnd WaitWithProgress(const TString& text, const TBackgroundTaskRef& task);
