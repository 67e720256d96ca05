// A second X client for window tests: it sends real input through the XTEST
// extension and plays the window manager's part (focus, close requests,
// resizing). It has its own display connection, so the program under test
// sees ordinary X events. Every wait is bounded.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

class TXClient {
 public:
  TXClient();
  ~TXClient();
  TXClient(const TXClient&) = delete;
  TXClient& operator=(const TXClient&) = delete;

  Display* display() const { return display_; }
  // X errors this connection has seen.
  int errors() const { return errors_; }
  void NoteError() { ++errors_; }

  // Polls (calling `pump` between tries) until `window` is viewable.
  bool WaitViewable(Window window, const std::function<void()>& pump, int timeoutMs = 5000);
  bool Viewable(Window window);
  // Gives `window` the input focus, as a window manager would.
  void Focus(Window window);
  // The position of `window`'s top-left corner on the root window.
  void RootPosition(Window window, int& x, int& y);

  void MoveTo(int rootX, int rootY);
  void Click(int button = 1, int count = 1);
  void Press(unsigned long keysym, bool shift = false, bool control = false);
  // Types printable ASCII text, key by key.
  void Type(const std::string& text);

  // The window manager's close request (WM_DELETE_WINDOW).
  void RequestClose(Window window);
  void Resize(Window window, int w, int h);
  void Move(Window window, int x, int y);
  // Size hints the program set for the window manager; false when none.
  bool MinMaxHints(Window window, int& minW, int& minH, int& maxW, int& maxH);

  // A window of this client, mapped and given the input focus (another
  // application in front). Destroyed with the client or by CloseOwnWindow.
  Window OpenOwnWindowWithFocus(int timeoutMs = 5000);
  void CloseOwnWindow();

  // The first viewable top-level window whose name is `name`, or 0.
  Window FindWindowByName(const std::string& name);
  // What the desktop reads of a window: its name (WM_NAME), its WM_CLASS
  // (false when it has none), the side of the first square icon in its
  // _NET_WM_ICON (0: none), and whether its WM_HINTS carry the urgency hint.
  std::string WindowName(Window window);
  bool ClassHint(Window window, std::string& resName, std::string& resClass);
  int FirstIconSize(Window window);
  bool Urgent(Window window);

  // Listens as a window manager to the _NET_WM_STATE requests that clients
  // send to the root window. From WatchStateRequests on, StateRequested is
  // the action of the last request about `state` for `window`: 1 add,
  // 0 remove (2 toggle), -1 when none came.
  void WatchStateRequests();
  int StateRequested(Window window, const char* state);

  void Sync();

 private:
  Display* display_ = nullptr;
  Window own_ = 0;
  int errors_ = 0;
  std::map<std::pair<Window, Atom>, int> stateRequests_;
};
