// The toolkit base of the gadget kinds and the widget registry.
#include "ui/fl_gadget.h"

#include <algorithm>
#include <unordered_map>

#include "ui/event_queue.h"

// ---- widget registry ----

namespace {

std::unordered_map<const Fl_Widget*, TFLGadget*>& Registry() {
  static auto* map = new std::unordered_map<const Fl_Widget*, TFLGadget*>;
  return *map;
}

void WidgetCallback(Fl_Widget*, void* data) {
  if (data) static_cast<TFLGadget*>(data)->OnCallback();
}

}  // namespace

TFLGadget* GadgetOfWidget(const Fl_Widget* widget) {
  auto& map = Registry();
  for (; widget; widget = widget->parent()) {
    auto it = map.find(widget);
    if (it != map.end()) return it->second;
  }
  return nullptr;
}

// ---- TFLGadget ----

TFLGadget::~TFLGadget() {
  // Dropped without CleanUp: a top-level widget goes with its gadget; a child
  // widget belongs to its parent's widget, which goes with the parent.
  Fl_Widget* widget = DetachWidget();
  if (widget && !widget->parent()) {
    widget->hide();
    Fl::delete_widget(widget);
  }
}

void TFLGadget::AttachWidget(Fl_Widget* widget, const TGadgetRef& group) {
  flhandle = widget;
  Registry()[widget] = this;
  widget->callback(WidgetCallback, this);
  auto* host = dynamic_cast<TFLGadget*>(group.get());
  if (host && host->ClientGroup()) {
    host->ClientGroup()->add(widget);
    parent = group;
    host->kids.push_back(Self());
    LockLayout();
    Rethink();
    widget->redraw();
  } else {
    LockLayout();
  }
}

Fl_Widget* TFLGadget::DetachWidget() {
  Fl_Widget* widget = flhandle;
  if (!widget) return nullptr;
  Registry().erase(widget);
  widget->callback(WidgetCallback, nullptr);
  flhandle = nullptr;
  return widget;
}

int TFLGadget::AbsoluteX() const {
  auto group = GetGroup();
  auto* host = dynamic_cast<const TFLGadget*>(group.get());
  return (host ? host->ClientOriginX() : 0) + xpos;
}

int TFLGadget::AbsoluteY() const {
  auto group = GetGroup();
  auto* host = dynamic_cast<const TFLGadget*>(group.get());
  return (host ? host->ClientOriginY() : 0) + ypos;
}

void TFLGadget::Rethink() {
  if (!flhandle) return;
  flhandle->resize(AbsoluteX(), AbsoluteY(), width, height);
  flhandle->redraw();
}

void TFLGadget::Repaint() {
  if (flhandle) flhandle->redraw();
}

void TFLGadget::CleanUp() {
  TGadgetRef self = Self();  // this gadget may lose its last owner below
  auto copy = kids;
  for (auto& kid : copy) kid->CleanUp();
  kids.clear();
  if (Fl_Widget* widget = DetachWidget()) {
    if (Fl_Group* holder = widget->parent()) {
      holder->remove(widget);
      holder->redraw();
    }
    widget->hide();
    Fl::delete_widget(widget);
  }
  if (auto group = GetGroup()) {
    auto& siblings = group->kids;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
  }
  parent.reset();
  eventfilter = nullptr;
  context.reset();
}

void TFLGadget::Activate(int command) {
  if (!flhandle) return;
  if (command == ACT_FOCUS) {
    flhandle->take_focus();
    DriverPoll();
  } else if (command == ACT_REDRAW) {
    Repaint();
  }
}

int TFLGadget::State() {
  int state = 0;
  if (!enabled) state |= STATE_DISABLED;
  if (!flhandle || !flhandle->visible()) state |= STATE_HIDDEN;
  return state;
}

void TFLGadget::SetColor(int r, int g, int b) {
  if (!flhandle) return;
  flhandle->color(ToolkitColour(r, g, b));
  uchar sr, sg, sb;
  Fl::get_color(FL_SELECTION_COLOR, sr, sg, sb);
  flhandle->selection_color(SelectionColour(r, g, b, FL_SELECTION_COLOR, sr, sg, sb));
  OnColour();
  flhandle->redraw();
}

void TFLGadget::SetTextColor(int r, int g, int b) {
  if (!flhandle) return;
  flhandle->labelcolor(ToolkitColour(r, g, b));
  flhandle->redraw();
}

void TFLGadget::SetShow(int flag) {
  visible = flag ? 1 : 0;
  if (!flhandle) return;
  if (flag)
    flhandle->show();
  else
    flhandle->hide();
}

void TFLGadget::SetEnabled(int flag) {
  enabled = flag ? 1 : 0;
  if (!flhandle) return;
  if (flag)
    flhandle->activate();
  else
    flhandle->deactivate();
}

void TFLGadget::SetFilter(TGadgetFilter filter, TObjectRef ctx) {
  TGadget::SetFilter(filter, std::move(ctx));
}

void TFLGadget::SetFont(const TFLGUIFont& newFont) {
  font = newFont;
  if (!flhandle) return;
  flhandle->labelfont(font.font);
  flhandle->labelsize(static_cast<Fl_Fontsize>(font.size));
  flhandle->redraw();
}

bool TFLGadget::FilterKey() {
  if (Fl::event_key() == FL_Control_R) return true;
  if (!eventfilter) return false;
  TGadgetRef self = Self();  // the filter may drop the application's reference
  TGadgetFilter filter = eventfilter;
  TObjectRef ctx = context;
  const int mods = ProgramModifiers(Fl::event_state());
  if (int code = ProgramKeyCode(Fl::event_key())) {
    TEvent down;
    down.id = KeyDown;
    down.source = self;
    down.data = code;
    down.mods = mods;
    if (filter(down, ctx) == 0) return true;
  }
  std::string text(Fl::event_text(), static_cast<size_t>(Fl::event_length()));
  for (int ch : TypedCharacters(text, Fl::event_key())) {
    TEvent typed;
    typed.id = KeyChar;
    typed.source = self;
    typed.data = ch;
    typed.mods = mods;
    if (filter(typed, ctx) == 0) return true;
  }
  return false;
}

void TFLGadget::Emit(int32_t id, int32_t data, int32_t mods, int32_t x, int32_t y,
                     TObjectRef extra) {
  PostGadgetEvent(id, Self(), data, mods, x, y, std::move(extra));
}
