// How the desktop knows the program's windows: the window class that its
// desktop entry names (StartupWMClass=colloquor), the program's icon, the
// name message boxes carry as their title, and the mark of a window that
// wants the user's attention. Private to the ui library (and its tests).
// Main thread only, once the display is open.
#pragma once

class Fl_Window;

// res_name of every window's WM_CLASS; the toolkit makes res_class of it
// with a capital first letter ("colloquor", "Colloquor").
extern const char kWindowClass[];
// The title of message boxes.
extern const char kProgramName[];

// Gives every window shown from now on, the toolkit's own dialogs included,
// the program's class and icon, and message boxes the program's name as
// title. The driver calls it once at start-up.
void InstallDesktopIdentity();

// Sets or clears the urgency hint in a shown window's WM_HINTS and asks the
// window manager to add or remove its _NET_WM_STATE_DEMANDS_ATTENTION state.
// Does nothing for a window that is not shown.
void MarkForAttention(Fl_Window* window, bool on);
