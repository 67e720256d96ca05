// The gadget model: what every window and control is, apart from the
// toolkit that draws it. Main thread only.
//
// A TGadget holds its rectangle (relative to the parent's client area), its
// kids, its layout reference and the common operations; a kind that lacks an
// operation ignores it. Nothing here knows the toolkit: the kinds in ui/fl_*
// realise gadgets with widgets, and ui/gui.h makes them. A gadget lives until
// CleanUp(); a window's kids go with it. User actions arrive as events in the
// TEventQueue with the gadget (or the end of its `source` chain) as source.
// Texts cross to the toolkit one byte per character (low 8 bits).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ui/event.h"

// Window style bits.
enum : int32_t {
  WIN_TITLED = 0x1,       // title bar and border; without it borderless
  WIN_SIZABLE = 0x2,      // user-resizable; minimum size starts at 64 x 64
  WIN_MENUBAR = 0x4,      // a 25-pixel strip at the top, outside the client area
  WIN_STATUSBAR = 0x8,    // a 22-pixel strip at the bottom, outside the client area
  WIN_CLIENT_RECT = 0x20, // the rectangle given and reported is the client area's
  WIN_HIDDEN = 0x40,      // created hidden
  WIN_TOOL = 0x80,        // tool-window look
  WIN_CENTRED = 0x200,    // MakeWindow ignores x and y and centres the window
};
enum : int32_t { MENU_HEIGHT = 25, STATUSBAR_HEIGHT = 22 };

// Button styles: the low 3 bits choose the kind; BTN_PUSHLIKE makes check and
// radio buttons look like push buttons that stay down.
enum : int32_t {
  BTN_PUSH = 0,
  BTN_CHECK = 2,
  BTN_RADIO = 3,
  BTN_OK = 4,      // Return anywhere in the window presses it
  BTN_CANCEL = 5,  // Escape presses it
  BTN_PUSHLIKE = 0x8,
};

// Label styles: frame in the low 3 bits, alignment in bits 0x18.
enum : int32_t {
  LBL_BORDER = 1,
  LBL_SUNKEN = 2,
  LBL_SEPARATOR = 3,
  LBL_LEFT = 0,
  LBL_RIGHT = 0x8,
  LBL_CENTRE = 0x10,
};

// Panel styles: frame in the low 2 bits.
enum : int32_t { PNL_SUNKEN = 1, PNL_RAISED = 2, PNL_TITLED = 3, PNL_ACTIVE = 0x4 };

enum : int32_t { TXF_PASSWORD = 0x1 };
// Text area styles. TXA_KEEPVIEW: AddText scrolls to the new end only when
// the end was on screen, so a reader who scrolled back keeps the view.
enum : int32_t { TXA_WORDWRAP = 0x1, TXA_READONLY = 0x2, TXA_KEEPVIEW = 0x4 };
enum : int32_t { LST_MULTI = 0x1 };

// Layout edge modes (SetLayout).
enum : int32_t { EDGE_FLOAT = 0, EDGE_FIXED = 1, EDGE_SCALED = 2 };

// Activate commands.
enum : int32_t { ACT_FOCUS = 0, ACT_CUT = 1, ACT_COPY = 2, ACT_PASTE = 3, ACT_REDRAW = 13 };

// State bits.
enum : int32_t { STATE_DISABLED = 0x4, STATE_HIDDEN = 0x8, STATE_ON = 0x10 };

// Text units and text style flags.
enum : int32_t { TXU_CHARS = 1, TXU_LINES = 2 };
enum : int32_t { TXS_BOLD = 0x1, TXS_ITALIC = 0x2 };

// Gadget kinds, as Class() returns them.
enum : int32_t {
  GADGET_DESKTOP = 0,
  GADGET_WINDOW = 1,
  GADGET_BUTTON = 2,
  GADGET_PANEL = 3,
  GADGET_TEXTFIELD = 4,
  GADGET_TEXTAREA = 5,
  GADGET_LISTBOX = 7,
  GADGET_LABEL = 12,
};

class TGadget;
using TGadgetRef = std::shared_ptr<TGadget>;

// A key filter gets a KeyDown or KeyChar event (never queued) and the context
// given to SetFilter; it returns 0 to swallow the key press.
using TGadgetFilter = int (*)(const TEvent& event, const TObjectRef& context);

struct TGadgetItem {
  TString text;
  TString tip;
  int32_t icon = -1;
  int32_t flags = 0;
  TObjectRef extra;
};

class TGadget : public TObject {
 public:
  // --- model (read freely; change only through the operations) ---
  std::weak_ptr<TGadget> source;  // when set, events report this gadget instead
  std::weak_ptr<TGadget> parent;  // none for a top-level window
  std::vector<TGadgetRef> kids;   // in creation order
  int32_t xpos = 0, ypos = 0, width = 0, height = 0;  // relative to the parent's client area
  TString name;
  TObjectRef extra;
  int32_t style = 0;
  int32_t sensitivity = 0;  // 0x1 reports mouse events, 0x2 key events
  int32_t visible = 1;
  int32_t total = 0;
  int32_t lockl = 0, lockr = 0, lockt = 0, lockb = 0;
  int32_t lockx = 0, locky = 0, lockw = 0, lockh = 0;
  int32_t lockcw = 1, lockch = 1;
  TGadgetFilter eventfilter = nullptr;
  TObjectRef context;
  std::vector<TGadgetItem> items;
  std::vector<int32_t> arrPrevSelection;

  virtual int Class() const = 0;

  // --- shape and layout ---
  int GetXPos() const { return xpos; }
  int GetYPos() const { return ypos; }
  int GetWidth() const { return width; }
  int GetHeight() const { return height; }
  TGadgetRef GetGroup() const { return parent.lock(); }
  bool HasDescendant(const TGadget* gadget) const;
  // SetArea, then the shape becomes the layout reference (LockLayout).
  void SetShape(int x, int y, int w, int h);
  // Edge modes of the left, right, top and bottom edges; then LockLayout.
  void SetLayout(int left, int right, int top, int bottom);
  // Records the current rectangle and the parent's client size as reference.
  void LockLayout();
  // SetRect, move the toolkit widget, lay out the kids.
  void SetArea(int x, int y, int w, int h);
  // Stores the rectangle (sizes clamped to 0) without touching the widget.
  virtual void SetRect(int x, int y, int w, int h);
  void LayoutKids();
  // Places this gadget in its parent's client area from the reference.
  virtual void DoLayout();
  // Brings the realisation (a widget) in line with the rectangle.
  virtual void Rethink() {}
  // Draws the gadget again; SetShape asks it of the parent, whose area the
  // kid has left. The model alone has nothing to draw.
  virtual void Repaint() {}
  virtual int ClientWidth() const;
  virtual int ClientHeight() const;

  // --- common operations (a kind that lacks one does nothing) ---
  virtual void SetFilter(TGadgetFilter filter, TObjectRef context);
  // Frees the gadget: kids first, then its widget; it leaves its parent.
  virtual void CleanUp();
  virtual void Activate(int command);
  virtual int State();
  virtual void SetText(const TString& text);
  virtual TString GetText();
  virtual void SetColor(int r, int g, int b);
  virtual void SetTextColor(int r, int g, int b);
  virtual void SetShow(int flag);
  virtual void SetEnabled(int flag);
  virtual void SetSelected(int state);
  virtual void SetMinimumSize(int w, int h);
  // Window: 1 marks it as wanting the user's attention (the desktop's
  // urgency hint and demands-attention state, so a task bar can flash it)
  // until it gets the keyboard focus or SetAttention(0) clears the mark.
  virtual void SetAttention(int flag);
  virtual void SetSensitivity(int flags) { sensitivity = flags; }
  virtual int GetSensitivity() const { return sensitivity; }

  // --- text area ---
  virtual void AddText(const TString& text);
  virtual int AreaLen(int units);
  virtual TString AreaText(int pos, int length, int units);
  // Raises "SetStyle failed" for a 129th distinct style.
  virtual void SetStyle(int r, int g, int b, int flags, int pos, int length, int units);
  virtual void ReplaceText(int pos, int length, const TString& text, int units);
  virtual void SetSelection(int pos, int length, int units);
  virtual int GetCursorPos(int units);
  virtual int GetSelectionLength(int units);
  virtual void LockText();
  virtual void UnlockText();
  virtual void SetTabs(int n);

  // --- list box ---
  virtual void Clear();
  virtual void InsertItem(int index, const TString& text, const TString& tip, int icon,
                          TObjectRef extra, int flags);
  virtual int ItemCount();
  virtual TString ItemText(int index);
  virtual TObjectRef ItemExtra(int index);
  // op 0 deselects, 1 selects, 2 toggles; index -1 applies it to every item.
  virtual void SelectItem(int index, int op);
  virtual int SelectedItem();
  virtual std::vector<int> SelectedItems();

  // The shared reference to this gadget (it is always held by one).
  TGadgetRef Self();
};

// 1 when the button is on (State() has STATE_ON), else 0.
int ButtonValue(const TGadgetRef& gadget);
// Cuts a text field's text to at most `limit` characters (LeftUtf8Text: no
// character cut in half) when it holds more. The insertion point stays where
// it was, or at the new end, with nothing selected, so typing goes on.
void CapTextField(const TGadgetRef& field, size_t limit);
// InsertItem at the end.
void AppendItem(const TGadgetRef& gadget, const TString& text, int flags = 0, int icon = -1,
                const TString& tip = TString(), TObjectRef extra = nullptr);
// Emits a gadget event at once, with the end of the gadget's source chain as
// the event's source.
void PostGadgetEvent(int32_t id, const TGadgetRef& gadget, int32_t data = 0, int32_t mods = 0,
                     int32_t x = 0, int32_t y = 0, TObjectRef extra = nullptr);
