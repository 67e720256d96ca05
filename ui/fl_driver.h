// The GUI driver that makes gadgets with the toolkit, and the system drivers
// that tie the toolkit's event loop and dialogs to the event queue.
#pragma once

#include <memory>

#include "ui/event_queue.h"
#include "ui/gadget.h"

// What every GUI driver offers. The process has one: TFLTKGUIDriver.
class GuiDriver : public TObject {
 public:
  // A new gadget of `kind` (GADGET_*), or null for a kind the driver lacks.
  virtual TGadgetRef CreateGadget(int kind, const TString& text, int x, int y, int w, int h,
                                  const TGadgetRef& group, int style) = 0;
  // The gadget whose widget has the keyboard focus, or null.
  virtual TGadgetRef ActiveGadget() = 0;
};

class TFLTKGUIDriver : public GuiDriver {
 public:
  TGadgetRef CreateGadget(int kind, const TString& text, int x, int y, int w, int h,
                          const TGadgetRef& group, int style) override;
  // Runs one non-blocking poll first; null whenever no window of this program
  // holds the display's input focus (another application is in front).
  TGadgetRef ActiveGadget() override;
  // The desktop gadget (kind 0), its rectangle the screen work area.
  TGadgetRef Desktop();

  // The window that last reported WindowActivate; cleared when the program's
  // windows lose the focus, so coming back reports it again.
  std::weak_ptr<TGadget> activeWindow;
};

// The driver InitGui made. Calls InitGui when needed.
TFLTKGUIDriver& CurrentGuiDriver();

// The requesters on the toolkit's standard dialogs and file chooser.
class TFLSystemDriver : public TSystemDriver {
 public:
  int Notify(const TString& text, int serious) override;
  int Confirm(const TString& text, int serious) override;
  int Proceed(const TString& text, int serious) override;
  TString RequestFile(const TString& title, const TString& filter, int save,
                      const TString& path) override;
};

// The system driver once the gadget layer runs: Poll lets the toolkit handle
// what is pending without waiting; Wait polls and then, when that queued
// nothing, waits in the toolkit for input, a timer or the wake-up pipe.
class TFLGuiSystemDriver : public TFLSystemDriver {
 public:
  void Poll() override;
  void Wait() override;
};

// The handler the toolkit calls when the wake-up pipe is readable.
void _FlushAsyncOpsProc(int fd, void* data);
