// Window, button, label, panel and text field gadgets.
#include "ui/fl_kinds.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "ui/event_queue.h"
#include "ui/fl_desktop.h"

namespace {

enum : int {
  kTypeWindow = 0,
  kTypeButton = 1,
  kTypeCheck = 2,
  kTypeRound = 3,
  kTypeToggle = 4,
  kTypeReturn = 5,
  kTypeGroup = 8,
  kTypeInput = 10,
  kTypeSecretInput = 11,
  kTypeBox = 21,
};

std::string ToolkitLabel(const TString& text) { return DoubleAtSigns(ToBytes(text)); }
TString GadgetLabel(const char* label) { return FromBytes(UndoubleAtSigns(label ? label : "")); }

// ---- window ----

class TFLWindow;

// A window's client area. Tab and Shift+Tab move the keyboard focus among
// its gadgets in reading order (ReadingOrder), whatever order they were made
// in; the toolkit would follow the order of making.
class ClientArea : public Fl_Group {
 public:
  ClientArea(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {}
  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::event_key() == FL_Tab &&
        !(Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) &&
        MoveFocus(!(Fl::event_state() & FL_SHIFT)))
      return 1;
    return Fl_Group::handle(event);
  }

 private:
  // Gives the focus to the next gadget that takes it; false when none does.
  bool MoveFocus(bool forward) {
    std::vector<TRect> rects;
    int current = -1;
    for (int i = 0; i < children(); ++i) {
      Fl_Widget* kid = child(i);
      rects.push_back({kid->x(), kid->y(), kid->w(), kid->h()});
      if (kid->contains(Fl::focus())) current = i;
    }
    const std::vector<int> order = ReadingOrder(rects);
    const int count = static_cast<int>(order.size());
    int at = static_cast<int>(std::find(order.begin(), order.end(), current) - order.begin());
    if (at == count) at = forward ? count - 1 : 0;  // nothing focused here yet
    for (int step = 1; step <= count; ++step) {
      Fl_Widget* next = child(order[((forward ? at + step : at - step) % count + count) % count]);
      if (next->visible() && next->take_focus()) return true;
    }
    return false;
  }
};

class GadgetWindow : public Fl_Double_Window {
 public:
  GadgetWindow(int x, int y, int w, int h) : Fl_Double_Window(x, y, w, h) {}
  void resize(int x, int y, int w, int h) override;
  TFLWindow* owner = nullptr;
};

class TFLWindow : public TFLGadget {
 public:
  int Class() const override { return GADGET_WINDOW; }
  GadgetWindow* window() const { return static_cast<GadgetWindow*>(flhandle); }
  int MenuHeight() const { return (style & WIN_MENUBAR) ? MENU_HEIGHT : 0; }
  int StatusHeight() const { return (style & WIN_STATUSBAR) ? STATUSBAR_HEIGHT : 0; }

  TRect OuterRect() const {
    TRect rect{xpos, ypos, width, height};
    return (style & WIN_CLIENT_RECT) ? OuterFromClient(style, rect) : rect;
  }

  void InitGadget(const TGadgetRef& group) override {
    TRect outer = OuterRect();
    auto* win = NewWidget<GadgetWindow>(outer.x, outer.y, std::max(outer.w, 1),
                                        std::max(outer.h, 1));
    win->end();
    win->owner = this;
    win->resizable(nullptr);
    if (!(style & WIN_TITLED)) win->border(0);
    client_ = NewWidget<ClientArea>(0, 0, 1, 1);
    client_->end();
    client_->resizable(nullptr);
    win->add(client_);
    if (style & WIN_MENUBAR) win->add(menuStrip_ = NewWidget<Fl_Box>(0, 0, 1, MENU_HEIGHT));
    if (style & WIN_STATUSBAR)
      win->add(statusStrip_ = NewWidget<Fl_Box>(0, 0, 1, STATUSBAR_HEIGHT, nullptr));
    for (Fl_Box* strip : {menuStrip_, statusStrip_})
      if (strip) strip->box(FL_THIN_UP_BOX);
    fltype = kTypeWindow;
    flhandle = win;  // a window is never inserted into a toolkit parent
    AttachWidget(win, nullptr);
    if (auto host = std::dynamic_pointer_cast<TFLGadget>(group)) {
      parent = host;
      host->kids.push_back(Self());
    }
    if (style & WIN_SIZABLE) minW_ = minH_ = 64;
    ApplySizeRange();
    PlaceClient();
  }

  void AfterCreate() override {
    if (!(style & WIN_HIDDEN)) window()->show();
    visible = (style & WIN_HIDDEN) ? 0 : 1;
  }

  Fl_Group* ClientGroup() override { return client_; }
  int ClientOriginX() const override { return 0; }
  int ClientOriginY() const override { return MenuHeight(); }
  int ClientWidth() const override {
    return std::max((style & WIN_CLIENT_RECT) ? width : width - originx, 0);
  }
  int ClientHeight() const override {
    if (style & WIN_CLIENT_RECT) return height;
    return std::max(height - originy - MenuHeight() - StatusHeight(), 0);
  }

  void Rethink() override {
    if (!window()) return;
    TRect outer = OuterRect();
    applying_ = true;
    window()->resize(outer.x, outer.y, std::max(outer.w, 1), std::max(outer.h, 1));
    applying_ = false;
    PlaceClient();
    ApplySizeRange();
  }

  // The toolkit changed the window's rectangle (the user or the window
  // manager moved or resized it).
  void OnToolkitShape() {
    if (applying_ || !window()) return;
    TRect outer{window()->x(), window()->y(), window()->w(), window()->h()};
    TRect rect = (style & WIN_CLIENT_RECT) ? ClientFromOuter(style, outer) : outer;
    const bool moved = rect.x != xpos || rect.y != ypos;
    const bool sized = rect.w != width || rect.h != height;
    SetRect(rect.x, rect.y, rect.w, rect.h);
    PlaceClient();
    if (sized) LayoutKids();
    if (moved) Emit(WindowMove, 0, 0, xpos, ypos);
    if (sized) Emit(WindowSize, 0, 0, width, height);
  }

  void OnCallback() override {
    // The close box (a close request) reports and closes nothing; an Escape
    // that no button took is not a close request.
    if (Fl::event() == FL_CLOSE) Emit(WindowClose);
  }

  void SetText(const TString& text) override {
    if (window()) window()->copy_label(ToBytes(text).c_str());
  }
  TString GetText() override {
    return window() && window()->label() ? FromBytes(window()->label()) : TString();
  }

  void SetColor(int r, int g, int b) override {
    TFLGadget::SetColor(r, g, b);
    if (client_) client_->color(ToolkitColour(r, g, b));
  }

  void SetEnabled(int flag) override {
    enabled = flag ? 1 : 0;
    for (Fl_Widget* part : {static_cast<Fl_Widget*>(client_), static_cast<Fl_Widget*>(menuStrip_)})
      if (part) flag ? part->activate() : part->deactivate();
  }

  int State() override {
    int state = TFLGadget::State();
    // A window the toolkit has not put on the screen is hidden whatever its
    // widget flag says.
    if (window() && !window()->shown()) state |= STATE_HIDDEN;
    return state;
  }

  void SetMinimumSize(int w, int h) override {
    minW_ = std::max(w, 0);
    minH_ = std::max(h, 0);
    ApplySizeRange();
  }

  void SetShow(int flag) override {
    visible = flag ? 1 : 0;
    if (!window()) return;
    flag ? window()->show() : window()->hide();
  }

  void SetAttention(int flag) override {
    // Marking twice would only repeat the request; a window not on the
    // screen has nothing to mark.
    const bool on = flag != 0 && window() && window()->shown();
    if (on == attention_) return;
    attention_ = on;
    MarkForAttention(window(), on);
  }

  void CleanUp() override {
    if (window()) window()->owner = nullptr;
    TFLGadget::CleanUp();
    client_ = nullptr;
    menuStrip_ = statusStrip_ = nullptr;
  }

  ~TFLWindow() override {
    if (window()) window()->owner = nullptr;
  }

 private:
  void PlaceClient() {
    if (!window() || !client_) return;
    const int w = window()->w(), h = window()->h();
    const int clientH = std::max(h - MenuHeight() - StatusHeight(), 1);
    client_->resize(0, MenuHeight(), w, clientH);
    if (menuStrip_) menuStrip_->resize(0, 0, w, MENU_HEIGHT);
    if (statusStrip_) statusStrip_->resize(0, h - STATUSBAR_HEIGHT, w, STATUSBAR_HEIGHT);
  }

  // A sizable window cannot be made smaller than its minimum; any other
  // window keeps its size. The limits are hints for the window manager.
  void ApplySizeRange() {
    if (!window()) return;
    TRect outer = OuterRect();
    if (style & WIN_SIZABLE) {
      // The minimum is given in the window's own terms: the client area with
      // WIN_CLIENT_RECT, the whole window otherwise.
      const int strips = (style & WIN_CLIENT_RECT) ? MenuHeight() + StatusHeight() : 0;
      window()->size_range(std::max(minW_, 1), std::max(minH_ + strips, 1), 0, 0);
    } else {
      window()->size_range(std::max(outer.w, 1), std::max(outer.h, 1), std::max(outer.w, 1),
                           std::max(outer.h, 1));
    }
  }

  Fl_Group* client_ = nullptr;
  bool attention_ = false;
  Fl_Box* menuStrip_ = nullptr;
  Fl_Box* statusStrip_ = nullptr;
  int minW_ = 0, minH_ = 0;
  bool applying_ = false;
};

void GadgetWindow::resize(int x, int y, int w, int h) {
  Fl_Double_Window::resize(x, y, w, h);
  if (owner) owner->OnToolkitShape();
}

// ---- button ----

class TFLButton : public TFLGadget {
 public:
  TString currentText;

  int Class() const override { return GADGET_BUTTON; }
  Fl_Button* button() const { return static_cast<Fl_Button*>(flhandle); }

  void InitGadget(const TGadgetRef& group) override {
    TButtonKind kind = ButtonKindFor(style);
    style = kind.style;
    radio_ = kind.radio;
    Fl_Button* b = nullptr;
    const int x = 0, y = 0, w = std::max(width, 1), h = std::max(height, 1);
    switch (kind.widget) {
      case TButtonWidget::Check:
        b = NewWidget<Fl_Check_Button>(x, y, w, h, nullptr);
        fltype = kTypeCheck;
        break;
      case TButtonWidget::Round:
        b = NewWidget<Fl_Round_Button>(x, y, w, h, nullptr);
        b->type(FL_TOGGLE_BUTTON);
        fltype = kTypeRound;
        break;
      case TButtonWidget::Toggle:
        b = NewWidget<Fl_Button>(x, y, w, h, nullptr);
        b->type(FL_TOGGLE_BUTTON);
        fltype = kTypeToggle;
        break;
      case TButtonWidget::Return:
        b = NewWidget<Fl_Return_Button>(x, y, w, h, nullptr);
        fltype = kTypeReturn;
        break;
      case TButtonWidget::Escape:
      case TButtonWidget::Push:
        b = NewWidget<Fl_Button>(x, y, w, h, nullptr);
        if (kind.widget == TButtonWidget::Escape) b->shortcut(FL_Escape);
        fltype = kTypeButton;
        break;
    }
    b->align(kind.align);
    b->when(FL_WHEN_RELEASE);
    AttachWidget(b, group);
  }

  void OnCallback() override {
    if (radio_) SetSelected(STATE_ON);
    Emit(GadgetAction, State());
  }

  int State() override {
    int state = TFLGadget::State();
    if (button() && button()->value()) state |= STATE_ON;
    return state;
  }

  void SetSelected(int state) override {
    if (!button()) return;
    if (state && radio_) {
      if (auto group = GetGroup())
        for (auto& kid : group->kids) {
          auto* sibling = dynamic_cast<TFLButton*>(kid.get());
          if (sibling && sibling != this && sibling->radio_ && sibling->button())
            sibling->button()->value(0);
        }
    }
    button()->value(state ? 1 : 0);
  }

  void SetText(const TString& text) override {
    currentText = text;
    if (button()) {
      button()->copy_label(ToolkitLabel(text).c_str());
      button()->redraw();
    }
  }
  TString GetText() override { return currentText; }

 private:
  bool radio_ = false;
};

// ---- label ----

class TFLLabel : public TFLGadget {
 public:
  int Class() const override { return GADGET_LABEL; }

  void InitGadget(const TGadgetRef& group) override {
    auto* box = NewWidget<Fl_Box>(0, 0, std::max(width, 1), std::max(height, 1), nullptr);
    box->box(static_cast<Fl_Boxtype>(LabelBox(style, false)));
    box->align(LabelAlign(style));
    fltype = kTypeBox;
    AttachWidget(box, group);
  }

  void SetRect(int x, int y, int w, int h) override {
    if ((style & 7) == LBL_SEPARATOR) {
      if (w > h)
        h = 2;
      else
        w = 2;
    }
    TFLGadget::SetRect(x, y, w, h);
  }

  void SetText(const TString& text) override {
    if (!flhandle) return;
    flhandle->copy_label(ToolkitLabel(text).c_str());
    flhandle->redraw();
  }
  TString GetText() override { return flhandle ? GadgetLabel(flhandle->label()) : TString(); }

 protected:
  void OnColour() override { flhandle->box(static_cast<Fl_Boxtype>(LabelBox(style, true))); }
};

// ---- panel ----

class PanelGroup : public Fl_Group {
 public:
  PanelGroup(int x, int y, int w, int h) : Fl_Group(x, y, w, h) {}
  int handle(int event) override;
};

class TFLPanel : public TFLGadget {
 public:
  int Class() const override { return GADGET_PANEL; }

  void InitGadget(const TGadgetRef& group) override {
    auto* panel = NewWidget<PanelGroup>(0, 0, std::max(width, 1), std::max(height, 1));
    panel->end();
    panel->resizable(nullptr);
    panel->box(static_cast<Fl_Boxtype>(PanelBox(style, false)));
    if ((style & 3) == PNL_TITLED) {
      originx = 4;
      originy = 18;
      panel->align(FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_CLIP);
    }
    if (style & PNL_ACTIVE) sensitivity = 3;
    fltype = kTypeGroup;
    AttachWidget(panel, group);
  }

  Fl_Group* ClientGroup() override { return static_cast<Fl_Group*>(flhandle); }
  int ClientWidth() const override { return std::max(width - originx, 0); }
  int ClientHeight() const override { return std::max(height - originy, 0); }

  void SetText(const TString& text) override {
    if (!flhandle) return;
    // Only a titled panel shows its title; the others stay plain areas.
    flhandle->copy_label((style & 3) == PNL_TITLED ? ToolkitLabel(text).c_str() : "");
    title_ = text;
    flhandle->redraw();
  }
  TString GetText() override { return title_; }

  // Mouse and key activity for a panel that reports it.
  int OnPanelEvent(int event) {
    const int x = Fl::event_x() - flhandle->x(), y = Fl::event_y() - flhandle->y();
    const int mods = ProgramModifiers(Fl::event_state());
    if (sensitivity & 1) {
      switch (event) {
        case FL_PUSH: Emit(MouseDown, Fl::event_button(), mods, x, y); return 1;
        case FL_RELEASE: Emit(MouseUp, Fl::event_button(), mods, x, y); return 1;
        case FL_MOVE:
        case FL_DRAG: Emit(MouseMove, 0, mods, x, y); return 1;
        case FL_MOUSEWHEEL: Emit(MouseWheel, -Fl::event_dy(), mods, x, y); return 1;
        case FL_ENTER: Emit(MouseEnter, 0, mods, x, y); return 1;
        case FL_LEAVE: Emit(MouseLeave, 0, mods, x, y); return 1;
        default: break;
      }
    }
    if (sensitivity & 2) {
      const int code = ProgramKeyCode(Fl::event_key());
      if (event == FL_KEYDOWN) {
        Emit(KeyDown, code, mods);
        return 1;
      }
      if (event == FL_KEYUP) {
        Emit(KeyUp, code, mods);
        return 1;
      }
      if (event == FL_FOCUS || event == FL_UNFOCUS) return 1;
    }
    return 0;
  }

 protected:
  void OnColour() override { flhandle->box(static_cast<Fl_Boxtype>(PanelBox(style, true))); }

 private:
  TString title_;
};

int PanelGroup::handle(int event) {
  int used = Fl_Group::handle(event);
  if (used && event != FL_ENTER && event != FL_MOVE && event != FL_LEAVE) return used;
  auto* panel = dynamic_cast<TFLPanel*>(GadgetOfWidget(this));
  if (panel && panel->flhandle == this && panel->sensitivity) return panel->OnPanelEvent(event) | used;
  return used;
}

// ---- text field ----

class GadgetInput : public Fl_Input {
 public:
  GadgetInput(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {}
  int handle(int event) override {
    TFLGadget* owner = GadgetOfWidget(this);
    if (event == FL_KEYBOARD && owner && owner->flhandle == this && owner->FilterKey()) return 1;
    if (event != FL_UNFOCUS) return Fl_Input::handle(event);
    unfocusing = true;
    int used = Fl_Input::handle(event);
    unfocusing = false;
    return used;
  }
  bool unfocusing = false;
};

class TFLTextField : public TFLGadget {
 public:
  int Class() const override { return GADGET_TEXTFIELD; }
  GadgetInput* input() const { return static_cast<GadgetInput*>(flhandle); }

  void InitGadget(const TGadgetRef& group) override {
    auto* field = NewWidget<GadgetInput>(0, 0, std::max(width, 1), std::max(height, 1));
    if (style & TXF_PASSWORD) field->type(FL_SECRET_INPUT);
    fltype = (style & TXF_PASSWORD) ? kTypeSecretInput : kTypeInput;
    field->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED | FL_WHEN_RELEASE);
    AttachWidget(field, group);
  }

  void OnCallback() override {
    TGadgetRef self = Self();
    if (input()->changed()) {
      input()->clear_changed();
      Emit(GadgetAction);
    }
    if (input() && input()->unfocusing) Emit(GadgetLostFocus);
  }

  void SetText(const TString& text) override {
    if (!input()) return;
    std::string bytes = ToBytes(text);
    input()->value(bytes.data(), static_cast<int>(bytes.size()));
    input()->position(0, static_cast<int>(bytes.size()));
    input()->clear_changed();
  }
  TString GetText() override {
    if (!input()) return {};
    return FromBytes(std::string_view(input()->value(), static_cast<size_t>(input()->size())));
  }

  // Characters only: the start of the selection (the insertion point when
  // nothing is selected) and its length.
  int GetCursorPos(int) override {
    return input() ? std::min(input()->position(), input()->mark()) : 0;
  }
  int GetSelectionLength(int) override {
    return input() ? std::abs(input()->position() - input()->mark()) : 0;
  }

  // Characters only: the insertion point at pos + length, the range selected.
  void SetSelection(int pos, int length, int) override {
    if (!input()) return;
    const int size = input()->size();
    const int start = std::clamp(pos, 0, size);
    const int end = length < 0 ? size : std::clamp(start + length, start, size);
    input()->position(end, start);
  }

  void Activate(int command) override {
    if (command == ACT_FOCUS && input()) {
      input()->take_focus();
      input()->position(input()->size(), 0);
      DriverPoll();
      return;
    }
    TFLGadget::Activate(command);
  }

  void SetTextColor(int r, int g, int b) override {
    if (!input()) return;
    input()->textcolor(ToolkitColour(r, g, b));
    input()->redraw();
  }

  void SetFont(const TFLGUIFont& f) override {
    TFLGadget::SetFont(f);
    if (!input()) return;
    input()->textfont(f.font);
    input()->textsize(static_cast<Fl_Fontsize>(f.size));
  }
};

}  // namespace

std::shared_ptr<TFLGadget> NewWindowGadget() { return std::make_shared<TFLWindow>(); }
std::shared_ptr<TFLGadget> NewButtonGadget() { return std::make_shared<TFLButton>(); }
std::shared_ptr<TFLGadget> NewPanelGadget() { return std::make_shared<TFLPanel>(); }
std::shared_ptr<TFLGadget> NewTextFieldGadget() { return std::make_shared<TFLTextField>(); }
std::shared_ptr<TFLGadget> NewLabelGadget() { return std::make_shared<TFLLabel>(); }
