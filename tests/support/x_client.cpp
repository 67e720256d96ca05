#include "tests/support/x_client.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/wait_until.h"

namespace {

TXClient* errorSink = nullptr;
int (*previousHandler)(Display*, XErrorEvent*) = nullptr;

}  // namespace

// X error handlers are process-wide; errors of this connection are counted
// here and those of the program's own connection go to its handler.
static int ClientErrorHandler(Display* display, XErrorEvent* event);

TXClient::TXClient() {
  display_ = XOpenDisplay(nullptr);
  errorSink = this;
  previousHandler = XSetErrorHandler(ClientErrorHandler);
}

TXClient::~TXClient() {
  if (!display_) return;
  CloseOwnWindow();
  XCloseDisplay(display_);
  if (errorSink == this) {
    XSetErrorHandler(previousHandler);
    errorSink = nullptr;
  }
}

static int ClientErrorHandler(Display* display, XErrorEvent* event) {
  if (errorSink && display == errorSink->display()) {
    char text[256];
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "second X client: X error: %s\n", text);
    errorSink->NoteError();
    return 0;
  }
  return previousHandler ? previousHandler(display, event) : 0;
}

void TXClient::Sync() { XSync(display_, False); }

bool TXClient::Viewable(Window window) {
  XWindowAttributes attributes;
  if (!window || !XGetWindowAttributes(display_, window, &attributes)) return false;
  return attributes.map_state == IsViewable;
}

bool TXClient::WaitViewable(Window window, const std::function<void()>& pump, int timeoutMs) {
  return WaitUntil([&] { return Viewable(window); }, timeoutMs, pump);
}

void TXClient::Focus(Window window) {
  XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

void TXClient::RootPosition(Window window, int& x, int& y) {
  Window child;
  XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
}

void TXClient::MoveTo(int rootX, int rootY) {
  XTestFakeMotionEvent(display_, DefaultScreen(display_), rootX, rootY, CurrentTime);
  XSync(display_, False);
}

void TXClient::Click(int button, int count) {
  for (int i = 0; i < count; ++i) {
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), True, CurrentTime);
    XTestFakeButtonEvent(display_, static_cast<unsigned>(button), False, CurrentTime);
  }
  XSync(display_, False);
}

void TXClient::Press(unsigned long keysym, bool shift, bool control) {
  KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
  KeyCode controlCode = XKeysymToKeycode(display_, XK_Control_L);
  KeyCode code = XKeysymToKeycode(display_, keysym);
  if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
  if (control) XTestFakeKeyEvent(display_, controlCode, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  if (control) XTestFakeKeyEvent(display_, controlCode, False, CurrentTime);
  if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
  XSync(display_, False);
}

void TXClient::Type(const std::string& text) {
  static const char kShifted[] = "~!@#$%^&*()_+{}|:\"<>?";
  for (char c : text) {
    const bool shift = std::isupper(static_cast<unsigned char>(c)) || std::strchr(kShifted, c);
    // Printable Latin-1 characters are their own keysyms.
    Press(static_cast<unsigned long>(static_cast<unsigned char>(c)), shift);
  }
}

void TXClient::RequestClose(Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

void TXClient::Resize(Window window, int w, int h) {
  XResizeWindow(display_, window, static_cast<unsigned>(w), static_cast<unsigned>(h));
  XSync(display_, False);
}

void TXClient::Move(Window window, int x, int y) {
  XMoveWindow(display_, window, x, y);
  XSync(display_, False);
}

bool TXClient::MinMaxHints(Window window, int& minW, int& minH, int& maxW, int& maxH) {
  XSizeHints hints{};
  long supplied = 0;
  if (!XGetWMNormalHints(display_, window, &hints, &supplied)) return false;
  minW = (hints.flags & PMinSize) ? hints.min_width : 0;
  minH = (hints.flags & PMinSize) ? hints.min_height : 0;
  maxW = (hints.flags & PMaxSize) ? hints.max_width : 0;
  maxH = (hints.flags & PMaxSize) ? hints.max_height : 0;
  return true;
}

Window TXClient::OpenOwnWindowWithFocus(int timeoutMs) {
  CloseOwnWindow();
  own_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 120, 80, 0, 0, 0);
  XStoreName(display_, own_, "second client");
  XMapRaised(display_, own_);
  XSync(display_, False);
  if (!WaitUntil([&] { return Viewable(own_); }, timeoutMs)) return 0;
  Focus(own_);
  return own_;
}

void TXClient::CloseOwnWindow() {
  if (!own_) return;
  XDestroyWindow(display_, own_);
  XSync(display_, False);
  own_ = 0;
}

Window TXClient::FindWindowByName(const std::string& name) {
  Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
  unsigned int count = 0;
  Window found = 0;
  if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return 0;
  for (unsigned int i = count; i-- > 0 && !found;) {
    char* title = nullptr;
    if (XFetchName(display_, children[i], &title) && title) {
      if (name == title && Viewable(children[i])) found = children[i];
      XFree(title);
    }
  }
  if (children) XFree(children);
  return found;
}

std::string TXClient::WindowName(Window window) {
  char* name = nullptr;
  std::string text;
  if (XFetchName(display_, window, &name) && name) text = name;
  if (name) XFree(name);
  return text;
}

bool TXClient::ClassHint(Window window, std::string& resName, std::string& resClass) {
  XClassHint hint{};
  if (!XGetClassHint(display_, window, &hint)) return false;
  resName = hint.res_name ? hint.res_name : "";
  resClass = hint.res_class ? hint.res_class : "";
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return true;
}

int TXClient::FirstIconSize(Window window) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display_, window, XInternAtom(display_, "_NET_WM_ICON", False), 0, 2, False,
                     XA_CARDINAL, &type, &format, &count, &after, &data);
  // Format 32 arrives as longs: width, height, then the pixels.
  const long* words = reinterpret_cast<const long*>(data);
  const int size = count == 2 && words[0] == words[1] ? static_cast<int>(words[0]) : 0;
  if (data) XFree(data);
  return size;
}

bool TXClient::Urgent(Window window) {
  XWMHints* hints = XGetWMHints(display_, window);
  const bool urgent = hints && (hints->flags & XUrgencyHint);
  if (hints) XFree(hints);
  return urgent;
}

void TXClient::WatchStateRequests() {
  XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
  XSync(display_, False);
}

int TXClient::StateRequested(Window window, const char* state) {
  const Atom request = XInternAtom(display_, "_NET_WM_STATE", False);
  const Atom wanted = XInternAtom(display_, state, False);
  XSync(display_, False);
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    const XClientMessageEvent& message = event.xclient;
    if (event.type == ClientMessage && message.message_type == request &&
        static_cast<Atom>(message.data.l[1]) == wanted)
      stateRequests_[{message.window, wanted}] = static_cast<int>(message.data.l[0]);
  }
  auto last = stateRequests_.find({window, wanted});
  return last == stateRequests_.end() ? -1 : last->second;
}
