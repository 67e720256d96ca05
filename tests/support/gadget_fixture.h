// Fixture for tests that drive real gadgets on an X display: the gadget layer
// started once, the events of the queue collected, a second X client for
// input and window-manager actions, and a check that no X error or toolkit
// warning appeared while the test ran.
#pragma once

// gtest first: the X headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/wait_until.h"
#include "tests/support/x_client.h"
#include "ui/event_queue.h"
#include "ui/fl_driver.h"
#include "ui/fl_gadget.h"
#include "ui/gadget.h"
#include "ui/gui.h"

inline std::vector<std::string>& ToolkitWarnings() {
  static std::vector<std::string> warnings;
  return warnings;
}

inline void RecordToolkitWarning(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::fprintf(stderr, "toolkit warning: %s\n", text);
  ToolkitWarnings().push_back(text);
}

class GadgetTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitGui();
    Fl::warning = RecordToolkitWarning;
    Fl::error = RecordToolkitWarning;
  }

  void SetUp() override {
    Drain();
    events.clear();
    ToolkitWarnings().clear();
  }

  void TearDown() override {
    for (auto& window : windows) window->CleanUp();
    windows.clear();
    client.CloseOwnWindow();
    for (int i = 0; i < 5; ++i) Fl::check();
    Drain();
    XSync(fl_display, False);
    Fl::check();
    EXPECT_TRUE(ToolkitWarnings().empty()) << ToolkitWarnings().front();
    EXPECT_EQ(client.errors(), 0);
  }

  // Takes every pending event into `events`.
  void Drain() {
    while (TEventQueue::Poll() != 0) events.push_back(TEventQueue::Current());
  }

  TEventRef Find(int32_t id, const TGadgetRef& source) const {
    for (const auto& event : events)
      if (event->id == id && (!source || event->source == source)) return event;
    return nullptr;
  }
  int Count(int32_t id, const TGadgetRef& source) const {
    int n = 0;
    for (const auto& event : events)
      if (event->id == id && (!source || event->source == source)) ++n;
    return n;
  }

  // Waits (bounded) until an event of `id` from `source` has been collected.
  TEventRef WaitEvent(int32_t id, const TGadgetRef& source, int timeoutMs = 5000) {
    WaitUntil([&] { return Find(id, source) != nullptr; }, timeoutMs, [&] { Drain(); });
    return Find(id, source);
  }

  // Lets the toolkit work through what is pending, collecting events, until
  // the X server has nothing more for it.
  void Settle() {
    for (int i = 0; i < 3; ++i) {
      XSync(fl_display, False);
      Drain();
    }
  }

  static Fl_Widget* WidgetOf(const TGadgetRef& gadget) {
    return static_cast<TFLGadget*>(gadget.get())->flhandle;
  }
  // Whether the toolkit colour `colour` shows as (r, g, b) on the screen.
  static bool ShowsAs(Fl_Color colour, int r, int g, int b) {
    uchar cr, cg, cb;
    Fl::get_color(colour, cr, cg, cb);
    return cr == r && cg == g && cb == b;
  }
  static Window Xid(const TGadgetRef& window) {
    return fl_xid(static_cast<Fl_Window*>(WidgetOf(window)));
  }

  // A window made and shown, kept for clean-up at the end of the test.
  TGadgetRef ShowWindow(const TString& title, int x, int y, int w, int h, int style) {
    TGadgetRef window = MakeWindow(title, x, y, w, h, nullptr, style);
    windows.push_back(window);
    XSync(fl_display, False);  // the server must know the window before the client asks
    EXPECT_TRUE(client.WaitViewable(Xid(window), [&] { Drain(); }));
    return window;
  }

  // Gives the window the input focus as a window manager would, and waits
  // until the program has seen it.
  void FocusWindow(const TGadgetRef& window) {
    client.Focus(Xid(window));
    WaitUntil([&] { return CurrentGuiDriver().ActiveWindow() == window; }, 5000,
              [&] { Drain(); });
  }

  // Moves the pointer to a point of the gadget's widget and clicks.
  void ClickOn(const TGadgetRef& gadget, int count = 1, int button = 1, int dx = -1, int dy = -1) {
    Fl_Widget* widget = WidgetOf(gadget);
    int rx, ry;
    client.RootPosition(fl_xid(widget->top_window()), rx, ry);
    client.MoveTo(rx + widget->x() + (dx < 0 ? widget->w() / 2 : dx),
                  ry + widget->y() + (dy < 0 ? widget->h() / 2 : dy));
    Settle();
    client.Click(button, count);
  }

  TXClient client;
  std::vector<TEventRef> events;
  std::vector<TGadgetRef> windows;
};
