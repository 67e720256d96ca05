// The gadget model shared by every kind: shape and layout, the common
// operations and the path from widgets to events.
#include "ui/gadget.h"

#include <FL/Fl_Window.H>

#include <algorithm>
#include <unordered_map>

#include "ui/event_queue.h"
#include "ui/fl_driver.h"
#include "ui/fl_gadgets.h"

// ---- TGadget: model, shape and layout ----

TGadgetRef TGadget::Self() { return std::static_pointer_cast<TGadget>(shared_from_this()); }

bool TGadget::HasDescendant(const TGadget* gadget) const {
  for (const auto& kid : kids)
    if (kid.get() == gadget || kid->HasDescendant(gadget)) return true;
  return false;
}

void TGadget::SetRect(int x, int y, int w, int h) {
  xpos = x;
  ypos = y;
  width = std::max(w, 0);
  height = std::max(h, 0);
}

void TGadget::SetArea(int x, int y, int w, int h) {
  SetRect(x, y, w, h);
  Rethink();
  LayoutKids();
}

void TGadget::SetShape(int x, int y, int w, int h) {
  SetArea(x, y, w, h);
  LockLayout();
  if (auto group = GetGroup())
    if (auto* fl = dynamic_cast<TFLGadget*>(group.get()))
      if (fl->flhandle) fl->flhandle->redraw();
}

void TGadget::SetLayout(int left, int right, int top, int bottom) {
  lockl = left;
  lockr = right;
  lockt = top;
  lockb = bottom;
  LockLayout();
}

void TGadget::LockLayout() {
  lockx = xpos;
  locky = ypos;
  lockw = width;
  lockh = height;
  auto group = GetGroup();
  lockcw = group ? std::max(group->ClientWidth(), 1) : 1;
  lockch = group ? std::max(group->ClientHeight(), 1) : 1;
}

void TGadget::LayoutKids() {
  // A kid's layout never changes the kid list, but keep a copy anyway: the
  // list must not move under the loop.
  auto copy = kids;
  for (auto& kid : copy) kid->DoLayout();
}

void TGadget::DoLayout() {
  auto group = GetGroup();
  if (!group || Class() == GADGET_WINDOW) return;
  TLayoutLock lock{lockl, lockr, lockt, lockb, lockx, locky, lockw, lockh, lockcw, lockch};
  TRect r = LayoutRect(lock, group->ClientWidth(), group->ClientHeight());
  SetArea(r.x, r.y, r.w, r.h);
}

int TGadget::ClientWidth() const { return width; }
int TGadget::ClientHeight() const { return height; }

// Base versions: a kind that does not implement an operation ignores it.
void TGadget::SetFilter(TGadgetFilter filter, TObjectRef ctx) {
  eventfilter = filter;
  context = std::move(ctx);
}
void TGadget::CleanUp() {}
void TGadget::Activate(int) {}
int TGadget::State() { return 0; }
void TGadget::SetText(const TString&) {}
TString TGadget::GetText() { return {}; }
void TGadget::SetColor(int, int, int) {}
void TGadget::SetTextColor(int, int, int) {}
void TGadget::SetShow(int) {}
void TGadget::SetEnabled(int) {}
void TGadget::SetSelected(int) {}
void TGadget::SetMinimumSize(int, int) {}
void TGadget::AddText(const TString&) {}
int TGadget::AreaLen(int) { return 0; }
TString TGadget::AreaText(int, int, int) { return {}; }
void TGadget::SetStyle(int, int, int, int, int, int, int) {}
void TGadget::ReplaceText(int, int, const TString&, int) {}
void TGadget::SetSelection(int, int, int) {}
int TGadget::GetCursorPos(int) { return 0; }
int TGadget::GetSelectionLength(int) { return 0; }
void TGadget::LockText() {}
void TGadget::UnlockText() {}
void TGadget::SetTabs(int) {}
void TGadget::Clear() {}
void TGadget::InsertItem(int, const TString&, const TString&, int, TObjectRef, int) {}
int TGadget::ItemCount() { return 0; }
TString TGadget::ItemText(int) { return {}; }
TObjectRef TGadget::ItemExtra(int) { return nullptr; }
void TGadget::SelectItem(int, int) {}
int TGadget::SelectedItem() { return -1; }
std::vector<int> TGadget::SelectedItems() { return {}; }

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
    flhandle->redraw();
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

// ---- free functions ----

void PostGadgetEvent(int32_t id, const TGadgetRef& gadget, int32_t data, int32_t mods, int32_t x,
                     int32_t y, TObjectRef extra) {
  TGadgetRef reported = gadget;
  // Follow the source chain to its end; a chain that loops stops where it
  // would revisit a gadget.
  for (int steps = 0; reported && steps < 64; ++steps) {
    TGadgetRef next = reported->source.lock();
    if (!next || next == gadget) break;
    reported = next;
  }
  TEvent::Create(id, reported, data, mods, x, y, std::move(extra))->Emit();
}

int ButtonValue(const TGadgetRef& gadget) {
  return gadget && (gadget->State() & STATE_ON) ? 1 : 0;
}

void AppendItem(const TGadgetRef& gadget, const TString& text, int flags, int icon,
                const TString& tip, TObjectRef extra) {
  if (gadget) gadget->InsertItem(gadget->ItemCount(), text, tip, icon, std::move(extra), flags);
}

TGadgetRef MakeWindow(const TString& title, int x, int y, int w, int h, const TGadgetRef& group,
                      int style) {
  if (style & WIN_CENTRED) {
    TGadgetRef area = group ? group : Desktop();
    if (group)
      CentredPosition(area->xpos, area->ypos, area->width, area->height, w, h, x, y);
    else
      CentredPosition(0, 0, area->width, area->height, w, h, x, y);
  }
  return CurrentGuiDriver().CreateGadget(GADGET_WINDOW, title, x, y, w, h, group, style);
}

TGadgetRef MakeButton(const TString& text, int x, int y, int w, int h, const TGadgetRef& group,
                      int style) {
  return CurrentGuiDriver().CreateGadget(GADGET_BUTTON, text, x, y, w, h, group, style);
}

TGadgetRef MakePanel(int x, int y, int w, int h, const TGadgetRef& group, int style,
                     const TString& title) {
  return CurrentGuiDriver().CreateGadget(GADGET_PANEL, title, x, y, w, h, group, style);
}

TGadgetRef MakeTextField(int x, int y, int w, int h, const TGadgetRef& group, int style) {
  return CurrentGuiDriver().CreateGadget(GADGET_TEXTFIELD, u"", x, y, w, h, group, style);
}

TGadgetRef MakeTextArea(int x, int y, int w, int h, const TGadgetRef& group, int style) {
  return CurrentGuiDriver().CreateGadget(GADGET_TEXTAREA, u"", x, y, w, h, group, style);
}

TGadgetRef MakeListBox(int x, int y, int w, int h, const TGadgetRef& group, int style) {
  return CurrentGuiDriver().CreateGadget(GADGET_LISTBOX, u"", x, y, w, h, group, style);
}

TGadgetRef MakeLabel(const TString& text, int x, int y, int w, int h, const TGadgetRef& group,
                     int style) {
  return CurrentGuiDriver().CreateGadget(GADGET_LABEL, text, x, y, w, h, group, style);
}

TGadgetRef Desktop() { return CurrentGuiDriver().Desktop(); }

TGadgetRef ActiveGadget() { return CurrentGuiDriver().ActiveGadget(); }
