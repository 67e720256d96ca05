// The toolkit's GUI driver with the focus bookkeeping, its start-up, and the
// system drivers with the toolkit's dialogs.
#include "ui/fl_driver.h"

#include <FL/Fl.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>

#include <filesystem>

#include "ui/fl_desktop.h"
#include "ui/fl_gadget.h"
#include "ui/fl_kinds.h"
#include "ui/fl_text.h"

namespace {

// The desktop stands for the screen work area; it has no widget.
class TFLDesktop : public TGadget {
 public:
  int Class() const override { return GADGET_DESKTOP; }
};

TFLGUIFont& DefaultFont() {
  static TFLGUIFont* font = new TFLGUIFont;
  return *font;
}

struct GuiState {
  std::shared_ptr<TFLTKGUIDriver> driver;
};

GuiState& Gui() {
  static GuiState* state = new GuiState;  // lives until exit: gadgets may outlive main
  return *state;
}

// Library font kinds map to toolkit fonts; a size of 0 or less means 12.
TFLGUIFont LibraryFont(int kind, float size, int style) {
  TFLGUIFont font;
  font.font = kind == 2 ? FL_COURIER : kind == 4 ? FL_TIMES : FL_HELVETICA;
  font.size = size > 0 ? size : 12.0f;
  font.style = style;
  return font;
}

// Watches the display's focus changes on their way to the toolkit, so that a
// window gaining the focus reports WindowActivate.
int DispatchEvent(int event, Fl_Window* window) {
  int used = Fl::handle_(event, window);
  if (event == FL_FOCUS && window) CurrentGuiDriver().WindowFocusChanged(window, true);
  if (event == FL_UNFOCUS) CurrentGuiDriver().WindowFocusChanged(window, false);
  return used;
}

bool IsProgramWindow(Window xid) {
  // Walk up from the focus window: a window manager may have put ours into a
  // frame, and the focus may sit on a child of ours.
  for (int depth = 0; xid && depth < 16; ++depth) {
    if (fl_find(xid)) return true;
    Window root = 0, up = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(fl_display, xid, &root, &up, &children, &count)) return false;
    if (children) XFree(children);
    if (up == root) return false;
    xid = up;
  }
  return false;
}

// Whether a window of this program has the display's input focus.
bool ProgramHasFocus() {
  if (!fl_display) return false;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(fl_display, &focus, &revert);
  if (focus == PointerRoot) {
    // The keyboard follows the pointer: it goes to the window under it.
    Window root = 0, child = 0;
    int rx, ry, wx, wy;
    unsigned int mask;
    XQueryPointer(fl_display, RootWindow(fl_display, fl_screen), &root, &child, &rx, &ry, &wx,
                  &wy, &mask);
    focus = child;
  }
  return focus != None && IsProgramWindow(focus);
}

// Runs a toolkit dialog; `text` is shown literally.
int Choice(const TString& text, const char* b0, const char* b1, const char* b2) {
  return fl_choice("%s", b0, b1, b2, ToBytes(text).c_str());
}

// Everything the driver relies on, in order of dependency. The driver is
// stored first, so a call that needs it during the start-up finds it.
void StartGui() {
  InitEvents();
  Gui().driver = std::make_shared<TFLTKGUIDriver>();
  Fl::visual(FL_DOUBLE | FL_INDEX);
  Fl::scheme("gtk+");
  FL_NORMAL_SIZE = 12;
  fl_open_display();
  InstallDesktopIdentity();
  Fl::get_system_colors();
  Fl::event_dispatch(DispatchEvent);
  DefaultFont() = LibraryFont(1, 0, 0);
  Fl::add_fd(WakeUpFd(), FL_READ, _FlushAsyncOpsProc, nullptr);
  SetSystemDriver(std::make_shared<TFLGuiSystemDriver>());
}

}  // namespace

void _FlushAsyncOpsProc(int, void*) { FlushAsyncOps(); }

static void ReadableProc(int fd, void*) { HandleReadable(fd); }

// ---- TFLTKGUIDriver ----

TGadgetRef TFLTKGUIDriver::CreateGadget(int kind, const TString& text, int x, int y, int w, int h,
                                        const TGadgetRef& group, int style) {
  if (kind == GADGET_DESKTOP) return Desktop();
  std::shared_ptr<TFLGadget> gadget;
  switch (kind) {
    case GADGET_WINDOW: gadget = NewWindowGadget(); break;
    case GADGET_BUTTON: gadget = NewButtonGadget(); break;
    case GADGET_PANEL: gadget = NewPanelGadget(); break;
    case GADGET_TEXTFIELD: gadget = NewTextFieldGadget(); break;
    case GADGET_TEXTAREA: gadget = NewTextAreaGadget(); break;
    case GADGET_LISTBOX: gadget = NewListBoxGadget(); break;
    case GADGET_LABEL: gadget = NewLabelGadget(); break;
    default: return nullptr;
  }
  TGadgetRef host = group && group->Class() != GADGET_DESKTOP ? group : nullptr;
  gadget->style = style;
  gadget->SetRect(x, y, w, h);
  gadget->parent = host;
  gadget->InitGadget(host);
  gadget->SetText(text);
  gadget->SetFont(DefaultFont());
  gadget->AfterCreate();
  return gadget;
}

TGadgetRef TFLTKGUIDriver::ActiveGadget() {
  DriverPoll();
  Fl_Widget* focus = Fl::focus();
  if (!focus || !ProgramHasFocus()) return nullptr;
  TFLGadget* gadget = GadgetOfWidget(focus);
  return gadget ? gadget->Self() : nullptr;
}

TGadgetRef TFLTKGUIDriver::Desktop() {
  auto desktop = std::make_shared<TFLDesktop>();
  int x, y, w, h;
  Fl::screen_work_area(x, y, w, h, 0);
  desktop->SetRect(x, y, w, h);
  return desktop;
}

void TFLTKGUIDriver::WindowFocusChanged(Fl_Window* window, bool gained) {
  if (!gained) {
    activeWindow_.reset();
    return;
  }
  // Only a window gadget's own widget counts: the toolkit's dialogs (message
  // boxes, the file chooser) are nobody's gadget.
  TFLGadget* gadget = GadgetOfWidget(window);
  if (!gadget || gadget->flhandle != window || gadget->Class() != GADGET_WINDOW) return;
  gadget->SetAttention(0);  // the user is here now
  auto shared = std::static_pointer_cast<TFLGadget>(gadget->Self());
  if (activeWindow_.lock() == shared) return;
  activeWindow_ = shared;
  gadget->Emit(WindowActivate);
}

TGadgetRef TFLTKGUIDriver::ActiveWindow() const {
  auto window = activeWindow_.lock();
  return window && window->flhandle ? window : nullptr;
}

TFLTKGUIDriver& CurrentGuiDriver() {
  if (!Gui().driver) StartGui();
  return *Gui().driver;
}

// ---- system drivers ----

int TFLSystemDriver::Notify(const TString& text, int serious) {
  if (serious)
    fl_alert("%s", ToBytes(text).c_str());
  else
    fl_message("%s", ToBytes(text).c_str());
  return 0;
}

int TFLSystemDriver::Confirm(const TString& text, int) { return Choice(text, "No", "Yes", nullptr); }

int TFLSystemDriver::Proceed(const TString& text, int) {
  switch (Choice(text, "Cancel", "No", "Yes")) {
    case 1: return 0;
    case 2: return 1;
    default: return -1;
  }
}

TString TFLSystemDriver::RequestFile(const TString& title, const TString& filter, int save,
                                     const TString& path) {
  // The initial path names a folder to show, or a file to propose in its folder.
  std::string start = path.empty() ? "." : ToBytes(path);
  std::string proposed;
  std::error_code error;
  if (!path.empty() && !std::filesystem::is_directory(start, error) && start.back() != '/') {
    proposed = start;
    std::filesystem::path folder = std::filesystem::path(start).parent_path();
    start = folder.empty() ? "." : folder.string();
  }
  std::string pattern = ToBytes(FilterToPattern(filter));
  std::string caption = ToBytes(title);
  Fl_File_Chooser chooser(start.c_str(), pattern.empty() ? nullptr : pattern.c_str(),
                          save ? Fl_File_Chooser::CREATE : Fl_File_Chooser::SINGLE,
                          caption.c_str());
  chooser.preview(0);
  chooser.directory(start.c_str());
  if (!proposed.empty()) chooser.value(proposed.c_str());
  chooser.show();
  // The name field opens with the folder's path selected, and a name typed
  // over it would be taken relative to the process's working folder, not the
  // one shown. Put the insertion point after the path instead, so a typed
  // name lands in the folder on screen.
  if (auto* name = dynamic_cast<Fl_Input*>(Fl::focus())) name->position(name->size());
  // The chooser's own loop: the wake-up pipe is still served meanwhile, so
  // timer ticks keep arriving in the queue.
  while (chooser.shown()) Fl::wait();
  const char* chosen = chooser.value();
  return chosen ? FromBytes(chosen) : TString();
}

void TFLGuiSystemDriver::Poll() { Fl::check(); }

void TFLGuiSystemDriver::Wait() {
  Poll();
  // What the poll handled may already have queued events; waiting now would
  // sleep on them until the next input.
  if (TEventQueue::Pending() > 0) return;
  Fl::wait();
}

void TFLGuiSystemDriver::WatchFd(int fd) { Fl::add_fd(fd, FL_READ, ReadableProc, nullptr); }

void TFLGuiSystemDriver::UnwatchFd(int fd) { Fl::remove_fd(fd, FL_READ); }
