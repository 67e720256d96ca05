// Text area and list box gadgets.
#include "ui/fl_text.h"

#include <FL/Fl_Browser.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Display.H>
#include <FL/Fl_Text_Editor.H>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/error.h"
#include "ui/event_queue.h"

namespace {

enum : int { kTypeBrowser = 15, kTypeMultiBrowser = 16, kTypeEditor = 18, kTypeDisplay = 19 };

// ---- text area ----

// The buffers come first among the bases so they outlive the display, whose
// destructor still detaches itself from the text buffer; a widget whose
// deletion the toolkit defers keeps its buffers until then.
struct TextBuffers {
  Fl_Text_Buffer text;
  Fl_Text_Buffer styles;
};

class TFLTextArea;
TFLTextArea* TextAreaOf(Fl_Widget* widget);

// Each buffer change costs the display a count of every line it holds, so
// the program's own changes are made in as few steps as the toolkit allows.
class TextView {
 public:
  virtual ~TextView() = default;
  // Appends `bytes` at the end with the insertion point behind them and, when
  // `follow`, the view scrolled to it, in one buffer change.
  virtual void AppendAtEnd(const char* bytes, bool follow) = 0;
  // Whether the reader is at the end: the end of the text, or the start of
  // its last line, is on screen (restyling the last line may wrap it onto
  // one more row than it was laid out with).
  virtual bool AtEnd() const = 0;
  // After the style letters of [start, end) changed: the lines on screen are
  // wrapped again with the new fonts and redrawn, when the range shows.
  virtual void Restyled(int start, int end) = 0;
  // Set during the program's own buffer changes: text added or removed
  // above the view leaves the text on screen where it is, where the toolkit
  // would scroll by as many lines.
  bool holdView = false;
};

template <class Base>
class GadgetText : public TextBuffers, public Base, public TextView {
 public:
  GadgetText(int x, int y, int w, int h) : Base(x, y, w, h) { Base::buffer(&text); }
  int handle(int event) override;

  void AppendAtEnd(const char* bytes, bool follow) override {
    Base::insert_position(text.length());
    // The display scrolls to the insertion point in the layout pass that
    // follows the change, instead of in a pass of its own.
    if (follow && *bytes) this->display_insert_position_hint = 1;
    Base::insert(bytes);  // moves the insertion point behind the new text
    if (follow && !*bytes) Base::show_insert_position();
  }
  void resize(int x, int y, int w, int h) override {
    // The toolkit moves its top line with a change above the view but not
    // the top line it was last asked for, and then scrolls to the latter.
    if (holdView) {
      this->mTopLineNumHint = this->mTopLineNum;
      this->mHorizOffsetHint = this->mHorizOffset;
    }
    Base::resize(x, y, w, h);
  }
  bool AtEnd() const override {
    const int end = text.length();
    return Shows(end) || Shows(text.line_start(std::max(0, end - 1)));
  }
  void Restyled(int start, int end) override {
    if (end < this->mFirstChar || start > this->mLastChar) return;
    this->calc_line_starts(0, this->mNVisibleLines);
    this->calc_last_char();
    Base::redraw();
  }

 private:
  bool Shows(int pos) const {
    int x, y;
    return Base::position_to_xy(pos, &x, &y) != 0;
  }
};

class TFLTextArea : public TFLGadget {
 public:
  int textr = 0, textg = 0, textb = 0;
  int locked = 0;
  int lockedpos = 0, lockedlen = 0;
  int intLastCursorPos = -1, intLastCursorLen = -1;

  int Class() const override { return GADGET_TEXTAREA; }

  void InitGadget(const TGadgetRef& group) override {
    const int w = std::max(width, 1), h = std::max(height, 1);
    if (style & TXA_READONLY) {
      auto* widget = NewWidget<GadgetText<Fl_Text_Display>>(0, 0, w, h);
      Bind(widget, widget->text, widget->styles);
      fltype = kTypeDisplay;
    } else {
      auto* widget = NewWidget<GadgetText<Fl_Text_Editor>>(0, 0, w, h);
      Bind(widget, widget->text, widget->styles);
      fltype = kTypeEditor;
    }
    display_->box(FL_THIN_DOWN_BOX);
    if (style & TXA_WORDWRAP) display_->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    AttachWidget(display_, group);
  }

  ~TFLTextArea() override { Unbind(); }

  void CleanUp() override {
    Unbind();
    TFLGadget::CleanUp();
  }

  // -- events --

  void AfterEvent(int event) {
    switch (event) {
      case FL_PUSH:
        if (Fl::event_button() == FL_LEFT_MOUSE || !text_->selected()) CheckCursor();
        break;
      case FL_RELEASE:
        CheckCursor();
        if (Fl::event_button() == FL_RIGHT_MOUSE && display_)
          Emit(GadgetMenu, 0, 0, Fl::event_x() - display_->x(), Fl::event_y() - display_->y());
        break;
      case FL_KEYBOARD:
        CheckCursor();
        break;
      case FL_UNFOCUS:
        Emit(GadgetLostFocus);
        break;
      default:
        break;
    }
  }

  void OnModified(int pos, int inserted, int deleted) {
    if (inserted == 0 && deleted == 0) return;  // a selection change
    if (deleted) styles_->remove(pos, pos + deleted);
    if (inserted) styles_->insert(pos, std::string(static_cast<size_t>(inserted), defaultLetter_).c_str());
    if (ignore > 0) {
      --ignore;
      return;
    }
    CheckCursor();
    Emit(GadgetAction);
  }

  // -- text operations --

  void AddText(const TString& text) override {
    if (!text_) return;
    std::string bytes = ToBytes(text);
    const bool follow = locked == 0 && (!(style & TXA_KEEPVIEW) || view_->AtEnd());
    text_->unselect();
    ProgramEdit([&] { view_->AppendAtEnd(bytes.c_str(), follow); });
    intLastCursorPos = text_->length();
    intLastCursorLen = 0;
  }

  int AreaLen(int units) override {
    if (!text_) return 0;
    return units == TXU_LINES ? text_->count_lines(0, text_->length()) : text_->length();
  }

  TString AreaText(int pos, int length, int units) override {
    int start, end;
    if (!text_ || !Range(pos, length, units, start, end)) return {};
    char* range = text_->text_range(start, end);
    TString result = FromBytes(range ? range : "");
    std::free(range);
    return result;
  }

  void SetText(const TString& text) override { ReplaceText(0, -1, text, TXU_CHARS); }
  TString GetText() override { return AreaText(0, -1, TXU_CHARS); }

  void ReplaceText(int pos, int length, const TString& text, int units) override {
    int start, end;
    if (!text_) return;
    if (!Range(pos, length, units, start, end)) start = end = text_->length();
    std::string bytes = ToBytes(text);
    ProgramEdit([&] { text_->replace(start, end, bytes.c_str()); });
  }

  void SetStyle(int r, int g, int b, int flags, int pos, int length, int units) override {
    if (!text_) return;
    // Restyling leaves the text, the selection, the insertion point and the
    // top line as they are, so it needs no lock: its select-all is a buffer
    // change, which makes the display count all its lines twice.
    int letter = StyleLetter(r, g, b, StyledFont(font.font, flags));
    if (letter < 0) throw TRuntimeError("SetStyle failed");
    int start, end;
    if (!Range(pos, length, units, start, end) || end <= start) return;
    styles_->replace(start, end,
                     std::string(static_cast<size_t>(end - start), static_cast<char>(letter)).c_str());
    view_->Restyled(start, end);
  }

  void SetSelection(int pos, int length, int units) override {
    int start, end;
    if (!text_ || !Range(pos, length, units, start, end)) return;
    text_->select(start, end);
    display_->insert_position(end);
    if (locked == 0) display_->show_insert_position();
  }

  int GetCursorPos(int units) override {
    if (!text_) return 0;
    int start = SelectionStart();
    return units == TXU_LINES ? text_->count_lines(0, start) : start;
  }

  int GetSelectionLength(int units) override {
    int start, end;
    if (!text_ || !text_->selection_position(&start, &end)) return 0;
    return units == TXU_LINES ? text_->count_lines(start, end) : end - start;
  }

  void LockText() override {
    if (!text_) return;
    if (locked++ == 0) {
      lockedpos = GetCursorPos(TXU_CHARS);
      lockedlen = GetSelectionLength(TXU_CHARS);
      lockedInsert_ = display_->insert_position();
      text_->select(0, text_->length());
    }
  }

  void UnlockText() override {
    if (!text_ || locked == 0) return;
    if (locked == 1) {
      const int length = text_->length();
      const int start = std::min(lockedpos, length);
      const int end = std::min(lockedpos + lockedlen, length);
      if (end > start)
        text_->select(start, end);
      else
        text_->unselect();
      display_->insert_position(std::min(lockedInsert_, length));
      display_->redisplay_range(0, length);
      display_->redraw();
    }
    --locked;
  }

  std::string StyleLetters() const {
    if (!styles_) return {};
    char* letters = styles_->text();
    std::string result(letters ? letters : "");
    std::free(letters);
    return result;
  }

  void SetTabs(int n) override {
    if (text_ && n > 0) text_->tab_distance(n);
  }

  void SetTextColor(int r, int g, int b) override {
    textr = r & 255;
    textg = g & 255;
    textb = b & 255;
    UpdateDefaultStyle();
  }

  void SetFont(const TFLGUIFont& f) override {
    TFLGadget::SetFont(f);
    if (!display_) return;
    display_->textfont(f.font);
    display_->textsize(static_cast<Fl_Fontsize>(f.size));
    UpdateDefaultStyle();
  }

  void Activate(int command) override {
    if (!display_) return;
    switch (command) {
      case ACT_FOCUS:
        display_->take_focus();
        display_->show_cursor();
        DriverPoll();
        break;
      case ACT_CUT:
        if (style & TXA_READONLY) break;
        CopySelection();
        ProgramEdit([&] { text_->remove_selection(); });
        break;
      case ACT_COPY:
        CopySelection();
        break;
      case ACT_PASTE:
        if (!(style & TXA_READONLY)) Fl::paste(*display_, 1);
        break;
      default:
        TFLGadget::Activate(command);
        break;
    }
  }

 private:
  template <class W>
  void Bind(W* widget, Fl_Text_Buffer& text, Fl_Text_Buffer& styles) {
    display_ = widget;
    view_ = widget;
    text_ = &text;
    styles_ = &styles;
    table_.reserve(TStyleTable::kMaxEntries);
    text_->add_modify_callback(ModifiedCb, this);
    UpdateDefaultStyle();
  }

  void Unbind() {
    if (text_) text_->remove_modify_callback(ModifiedCb, this);
    text_ = styles_ = nullptr;
    display_ = nullptr;
    view_ = nullptr;
  }

  static void ModifiedCb(int pos, int inserted, int deleted, int, const char*, void* data) {
    static_cast<TFLTextArea*>(data)->OnModified(pos, inserted, deleted);
  }

  // A change the program makes itself: its notification is not a user edit.
  template <class F>
  void ProgramEdit(F edit) {
    const int before = ++ignore;
    view_->holdView = true;
    edit();
    view_->holdView = false;
    if (ignore == before) --ignore;  // nothing changed, so nothing consumed it
  }

  void CheckCursor() {
    const int pos = GetCursorPos(TXU_CHARS), len = GetSelectionLength(TXU_CHARS);
    if (pos == intLastCursorPos && len == intLastCursorLen) return;
    intLastCursorPos = pos;
    intLastCursorLen = len;
    Emit(GadgetSelect);
  }

  int SelectionStart() {
    int start, end;
    if (text_->selection_position(&start, &end)) return start;
    return display_->insert_position();
  }

  // Character range of (pos, length) in `units`; false when pos is outside.
  bool Range(int pos, int length, int units, int& start, int& end) {
    const int total = text_->length();
    if (units == TXU_LINES) {
      if (pos < 0 || pos > text_->count_lines(0, total)) return false;
      start = text_->skip_lines(0, pos);
      end = length < 0 ? total : text_->skip_lines(start, length);
    } else {
      if (pos < 0 || pos > total) return false;
      start = pos;
      end = length < 0 ? total : start + std::min(length, total - start);
    }
    end = std::max(start, std::min(end, total));
    return true;
  }

  // The letter of the style entry for the colour and font, or -1 when the
  // table is full.
  int StyleLetter(int r, int g, int b, int styleFont) {
    const int size = static_cast<int>(font.size);
    int index = styleTable_.FindOrAdd({ToolkitColour(r, g, b), styleFont, size});
    if (index < 0) return -1;
    if (index == static_cast<int>(table_.size())) {
      table_.push_back({static_cast<Fl_Color>(ToolkitColour(r, g, b)), styleFont, size, 0});
      display_->highlight_data(styles_, table_.data(), static_cast<int>(table_.size()), 0,
                               nullptr, nullptr);
    }
    return 'A' + index;
  }

  void UpdateDefaultStyle() {
    if (!display_) return;
    int letter = StyleLetter(textr, textg, textb, font.font);
    if (letter < 0) throw TRuntimeError("SetStyle failed");
    defaultLetter_ = static_cast<char>(letter);
    display_->redraw();
  }

  void CopySelection() {
    char* selected = text_->selection_text();
    if (selected && *selected) Fl::copy(selected, static_cast<int>(std::strlen(selected)), 1);
    std::free(selected);
  }

  Fl_Text_Display* display_ = nullptr;
  TextView* view_ = nullptr;
  Fl_Text_Buffer* text_ = nullptr;
  Fl_Text_Buffer* styles_ = nullptr;
  TStyleTable styleTable_;
  std::vector<Fl_Text_Display::Style_Table_Entry> table_;  // capacity fixed at 128
  char defaultLetter_ = 'A';
  int lockedInsert_ = 0;
};

TFLTextArea* TextAreaOf(Fl_Widget* widget) {
  auto* area = dynamic_cast<TFLTextArea*>(GadgetOfWidget(widget));
  return area && area->flhandle == widget ? area : nullptr;
}

template <class Base>
int GadgetText<Base>::handle(int event) {
  TFLTextArea* area = TextAreaOf(this);
  if (event == FL_KEYBOARD && area && area->FilterKey()) return 1;
  int used = Base::handle(event);
  if ((area = TextAreaOf(this))) area->AfterEvent(event);
  return used;
}

// ---- list box ----

// The toolkit's browser with the keys of a list: with no row selected, Down
// selects the first row and Up the last (the toolkit would start from the row
// after the top one). Return is left to the window's OK button.
class GadgetBrowser : public Fl_Browser {
 public:
  GadgetBrowser(int x, int y, int w, int h) : Fl_Browser(x, y, w, h) {}
  int handle(int event) override {
    if (event == FL_KEYBOARD && StartsSelection()) {
      select_only(Fl::event_key() == FL_Down ? item_first() : item_last(), when());
      return 1;
    }
    return Fl_Browser::handle(event);
  }

 private:
  bool StartsSelection() const {
    const int key = Fl::event_key();
    return (key == FL_Down || key == FL_Up) && type() == FL_HOLD_BROWSER && value() == 0 &&
           size() > 0 && !(Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META));
  }
};

class TFLListBox : public TFLGadget {
 public:
  int Current = -1;

  int Class() const override { return GADGET_LISTBOX; }
  Fl_Browser* browser() const { return static_cast<Fl_Browser*>(flhandle); }
  bool Multi() const { return (style & LST_MULTI) != 0; }

  void InitGadget(const TGadgetRef& group) override {
    auto* list = NewWidget<GadgetBrowser>(0, 0, std::max(width, 1), std::max(height, 1));
    list->type(Multi() ? FL_MULTI_BROWSER : FL_HOLD_BROWSER);
    list->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
    fltype = Multi() ? kTypeMultiBrowser : kTypeBrowser;
    AttachWidget(list, group);
  }

  void OnCallback() override {
    const int event = Fl::event();
    const bool mouse = event == FL_PUSH || event == FL_RELEASE || event == FL_DRAG;
    const bool right = mouse && Fl::event_button() == FL_RIGHT_MOUSE;
    // The browser calls back for the second click of a double click when the
    // button is released.
    const bool doubleClick = (event == FL_PUSH || event == FL_RELEASE) &&
                             Fl::event_button() == FL_LEFT_MOUSE && (Fl::event_clicks() & 1);
    if (Multi()) {
      OnMultiCallback(right, doubleClick);
      return;
    }
    const int s = SelectedItem();
    TObjectRef p = ItemExtra(s);
    if (s != Current) {
      Current = s;
      Emit(GadgetSelect, s, 0, 0, 0, p);
    }
    if (right) {
      if (event == FL_RELEASE)
        Emit(GadgetMenu, s, 0, Fl::event_x() - flhandle->x(), Fl::event_y() - flhandle->y(), p);
    } else if (doubleClick && s >= 0) {
      Emit(GadgetAction, s, 0, 0, 0, p);
    }
  }

  void InsertItem(int index, const TString& text, const TString& tip, int icon, TObjectRef extra,
                  int flags) override {
    if (!browser()) return;
    index = std::clamp(index, 0, ItemCount());
    items.insert(items.begin() + index, TGadgetItem{text, tip, icon, flags, std::move(extra)});
    browser()->insert(index + 1, ("@." + ToBytes(text)).c_str());
    if (Multi()) arrPrevSelection.insert(arrPrevSelection.begin() + index, 0);
    if (flags & 1) SelectItem(index, 1);
  }

  void Clear() override {
    if (browser())
      for (int line = browser()->size(); line >= 1; --line) browser()->remove(line);
    items.clear();
    arrPrevSelection.clear();
    Current = -1;  // nothing is selected any more
  }

  int ItemCount() override { return static_cast<int>(items.size()); }
  TString ItemText(int index) override {
    return index >= 0 && index < ItemCount() ? items[index].text : TString();
  }
  TObjectRef ItemExtra(int index) override {
    return index >= 0 && index < ItemCount() ? items[index].extra : nullptr;
  }

  void SelectItem(int index, int op) override {
    if (!browser()) return;
    if (index == -1) {
      for (int i = 0; i < ItemCount(); ++i) SelectItem(i, op);
      return;
    }
    if (index < 0 || index >= ItemCount()) return;
    const bool on = op == 2 ? !browser()->selected(index + 1) : op == 1;
    if (Multi())
      browser()->select(index + 1, on ? 1 : 0);
    else if (on)
      browser()->value(index + 1);
    else if (browser()->selected(index + 1))
      browser()->deselect();
  }

  int SelectedItem() override {
    if (!browser()) return -1;
    if (!Multi()) return browser()->value() - 1;
    auto selected = SelectedItems();
    return selected.size() == 1 ? selected[0] : -1;
  }

  std::vector<int> SelectedItems() override {
    std::vector<int> selected;
    if (!browser()) return selected;
    for (int i = 0; i < ItemCount(); ++i)
      if (browser()->selected(i + 1)) selected.push_back(i);
    return selected;
  }

  void SetTextColor(int r, int g, int b) override {
    if (!browser()) return;
    browser()->textcolor(ToolkitColour(r, g, b));
    browser()->redraw();
  }

  void SetFont(const TFLGUIFont& f) override {
    TFLGadget::SetFont(f);
    if (!browser()) return;
    browser()->textfont(f.font);
    browser()->textsize(static_cast<Fl_Fontsize>(f.size));
  }

 private:
  void OnMultiCallback(bool right, bool doubleClick) {
    const int s = SelectedItem();
    TObjectRef p = ItemExtra(s);
    bool changed = false;
    arrPrevSelection.resize(items.size(), 0);
    for (int i = 0; i < ItemCount(); ++i) {
      const int now = browser()->selected(i + 1) ? 1 : 0;
      if (now == arrPrevSelection[i]) continue;
      if (!changed) Emit(GadgetSelect, i, 0, 0, 0, ItemExtra(i));
      changed = true;
      arrPrevSelection[i] = now;
    }
    if (right) {
      if (Fl::event() == FL_RELEASE)
        Emit(GadgetMenu, s, 0, Fl::event_x() - flhandle->x(), Fl::event_y() - flhandle->y(), p);
    } else if (!changed && doubleClick) {
      const int line = browser()->value() - 1;
      Emit(GadgetAction, line, 0, 0, 0, ItemExtra(line));
    }
  }
};

}  // namespace

std::string TextAreaStyleLetters(TGadget* gadget) {
  auto* area = dynamic_cast<TFLTextArea*>(gadget);
  return area ? area->StyleLetters() : std::string();
}

std::shared_ptr<TFLGadget> NewTextAreaGadget() { return std::make_shared<TFLTextArea>(); }
std::shared_ptr<TFLGadget> NewListBoxGadget() { return std::make_shared<TFLListBox>(); }
