// The small modal text prompt used for the user name and the room name.
#pragma once

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
