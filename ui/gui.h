// Starting the gadget layer and making gadgets: the application's way to the
// toolkit's windows and controls. Main thread only.
//
// Call InitGui() once at start-up, before any gadget is made: it opens the
// display, installs the toolkit's system driver (TEventQueue::Wait then
// waits in the toolkit and wakes up for timer ticks) and makes the default
// font. Each Make* function returns the new gadget, or null for a failure;
// `group` is the parent or null, and positions are relative to the parent's
// client area. What a gadget then offers is in ui/gadget.h.
#pragma once

#include "ui/gadget.h"

// Starts the gadget layer (once; later calls do nothing): the event queue,
// the toolkit and its display, the GUI driver and the toolkit's system driver.
void InitGui();

// WIN_CENTRED centres the window in its group, or on the work area.
TGadgetRef MakeWindow(const TString& title, int x, int y, int w, int h, const TGadgetRef& group,
                      int style);
TGadgetRef MakeButton(const TString& text, int x, int y, int w, int h, const TGadgetRef& group,
                      int style);
TGadgetRef MakePanel(int x, int y, int w, int h, const TGadgetRef& group, int style,
                     const TString& title = TString());
TGadgetRef MakeTextField(int x, int y, int w, int h, const TGadgetRef& group, int style);
TGadgetRef MakeTextArea(int x, int y, int w, int h, const TGadgetRef& group, int style);
TGadgetRef MakeListBox(int x, int y, int w, int h, const TGadgetRef& group, int style);
TGadgetRef MakeLabel(const TString& text, int x, int y, int w, int h, const TGadgetRef& group,
                     int style);

// The desktop gadget: its rectangle is the screen work area.
TGadgetRef Desktop();

// The gadget whose widget has the keyboard focus, or null; null whenever no
// window of this program holds the display's input focus.
TGadgetRef ActiveGadget();
