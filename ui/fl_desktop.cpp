// The program's window class, icon and message box title, and the attention
// mark, on the toolkit and Xlib.
#include "ui/fl_desktop.h"

#include <FL/Fl.H>
#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>
#include <FL/x.H>
#include <X11/Xutil.h>

#include <memory>
#include <vector>

#include "ui/window_icons.h"

const char kWindowClass[] = "colloquor";
const char kProgramName[] = "Colloquor";

namespace {

// EWMH: _NET_WM_STATE client messages add (1) or remove (0) a state; the
// source 1 says an ordinary application asks.
constexpr long kStateRemove = 0, kStateAdd = 1, kSourceApplication = 1;

void InstallIcons() {
  std::vector<std::unique_ptr<Fl_PNG_Image>> loaded;
  std::vector<const Fl_RGB_Image*> icons;
  for (int i = 0; i < kWindowIconPngCount; ++i) {
    const TWindowIconPng& png = kWindowIconPngs[i];
    auto image = std::make_unique<Fl_PNG_Image>(nullptr, png.data, static_cast<int>(png.size));
    if (image->fail() || image->w() <= 0) continue;
    icons.push_back(image.get());
    loaded.push_back(std::move(image));
  }
  // The toolkit copies the images.
  if (!icons.empty()) Fl_Window::default_icons(icons.data(), static_cast<int>(icons.size()));
}

}  // namespace

void InstallDesktopIdentity() {
  Fl_Window::default_xclass(kWindowClass);
  fl_message_title_default(kProgramName);
  InstallIcons();
}

void MarkForAttention(Fl_Window* window, bool on) {
  if (!fl_display || !window || !window->shown()) return;
  const Window xid = fl_xid(window);
  XWMHints* hints = XGetWMHints(fl_display, xid);
  XWMHints none{};
  XWMHints& changed = hints ? *hints : none;
  if (on)
    changed.flags |= XUrgencyHint;
  else
    changed.flags &= ~XUrgencyHint;
  XSetWMHints(fl_display, xid, &changed);
  if (hints) XFree(hints);

  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = xid;
  request.xclient.message_type = XInternAtom(fl_display, "_NET_WM_STATE", False);
  request.xclient.format = 32;
  request.xclient.data.l[0] = on ? kStateAdd : kStateRemove;
  request.xclient.data.l[1] =
      static_cast<long>(XInternAtom(fl_display, "_NET_WM_STATE_DEMANDS_ATTENTION", False));
  request.xclient.data.l[3] = kSourceApplication;
  XSendEvent(fl_display, RootWindow(fl_display, fl_screen), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(fl_display);
}
