// The GUI driver that makes gadgets with the toolkit and keeps track of the
// focus, and the system drivers that tie the toolkit's event loop and
// dialogs to the event queue. Private to the ui library (and its tests);
// the application goes through ui/gui.h and ui/requester.h. Main thread only.
//
// CurrentGuiDriver() starts the gadget layer on its first call (InitGui is
// that call): the event queue, the toolkit and its display, the driver and
// the toolkit's system driver, which replaces the queue's default one. None
// of it is torn down.
#pragma once

#include <memory>

#include "ui/event_queue.h"
#include "ui/gadget.h"

class Fl_Window;
class TFLGadget;

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

  // The toolkit reports that `window` gained or lost the input focus. A
  // window gadget that gains it reports WindowActivate, but only once until
  // the program's windows lose the focus: the toolkit also reports focus
  // moving between the program's own windows and back. A window gadget
  // that gains the focus loses its attention mark (SetAttention).
  void WindowFocusChanged(Fl_Window* window, bool gained);
  // The window gadget that last reported WindowActivate, or null once the
  // program's windows lost the focus or that window was cleaned up.
  TGadgetRef ActiveWindow() const;

 private:
  std::weak_ptr<TFLGadget> activeWindow_;
};

// The one GUI driver; the first call starts the gadget layer.
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
// nothing, waits in the toolkit for input, a timer, the wake-up pipe or a
// watched descriptor. Watched descriptors are the toolkit's own, so they are
// served inside its dialogs' loops as well.
class TFLGuiSystemDriver : public TFLSystemDriver {
 public:
  void Poll() override;
  void Wait() override;
  void WatchFd(int fd) override;
  void UnwatchFd(int fd) override;
};

// The handler the toolkit calls when the wake-up pipe is readable.
void _FlushAsyncOpsProc(int fd, void* data);
