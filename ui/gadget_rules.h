// The gadget layer's pure rules: layout arithmetic, centring, text and
// colour conversion toward the toolkit, key translation for the key filter,
// box and alignment choices per style word, the text area's style table.
// No toolkit or X calls here, so all of it is tested without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"

struct TRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool operator==(const TRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// What LockLayout recorded, plus the edge modes (EDGE_FLOAT 0, EDGE_FIXED 1,
// EDGE_SCALED 2) of the left, right, top and bottom edges.
struct TLayoutLock {
  int lockl = 0, lockr = 0, lockt = 0, lockb = 0;
  int lockx = 0, locky = 0, lockw = 0, lockh = 0;
  int lockcw = 1, lockch = 1;
};

// The rectangle a gadget takes in a parent client area of cw x ch (each
// taken as at least 1). Integer arithmetic in a fixed order, truncating.
TRect LayoutRect(const TLayoutLock& lock, int cw, int ch);

// One axis of LayoutRect: returns the low and high edge.
void LayoutSpan(int modeLow, int modeHigh, int lockPos, int lockSize, int lockClient, int client,
                int& low, int& high);

// Top-left of a w x h rectangle centred in an area at (areaX, areaY) of
// areaW x areaH; division truncates toward zero.
void CentredPosition(int areaX, int areaY, int areaW, int areaH, int w, int h, int& x, int& y);

// The outer toolkit window for a client rectangle: grown by the menu strip at
// the top and the status strip at the bottom, as the window style asks.
TRect OuterFromClient(int windowStyle, const TRect& client);
TRect ClientFromOuter(int windowStyle, const TRect& outer);

// Texts of buttons, labels and panels: the toolkit reads "@" as the start of a
// symbol, so it is doubled on the way in and undoubled on the way back.
std::string DoubleAtSigns(const std::string& bytes);
std::string UndoubleAtSigns(const std::string& bytes);

// A file filter ("Text Files:txt;All Files:*", or "txt,log") as the file
// chooser's pattern text ("Text Files(*.{txt})\tAll Files(*)").
TString FilterToPattern(const TString& filter);

// The toolkit colour word for (r, g, b): r<<24 | g<<16 | b<<8, except that
// exact black becomes the palette black (56), as the toolkit reads 0 as
// palette entry 0. Only the low 8 bits of each component count.
uint32_t ToolkitColour(int r, int g, int b);

// Whether the selection colour (sr, sg, sb) stands out against the
// background (r, g, b): their luminances differ by more than 99.
bool ColoursContrast(int r, int g, int b, int sr, int sg, int sb);

// The selection colour for a new background: `paletteSelection` (the
// toolkit's own, whose RGB is sr, sg, sb) when it contrasts, else the
// inverted colour when far enough from mid-grey, else each component - 128.
uint32_t SelectionColour(int r, int g, int b, uint32_t paletteSelection, int sr, int sg, int sb);

// Button realisation for a button style word.
enum class TButtonWidget { Push, Check, Round, Toggle, Return, Escape };
struct TButtonKind {
  TButtonWidget widget;
  int align;  // toolkit alignment word
  int style;  // the style word as stored (a plain push button becomes 8)
  bool radio; // takes part in the sibling radio group
};
TButtonKind ButtonKindFor(int style);

// Toolkit box types and alignment words for labels and panels.
int LabelBox(int style, bool coloured);
int LabelAlign(int style);
int PanelBox(int style, bool coloured);

// The program's key code for a toolkit key code (0 when it has none) and the
// program's modifier bits (shift 1, control 2, alt 4, meta 8).
int ProgramKeyCode(int toolkitKey);
int ProgramModifiers(int toolkitState);

// The characters a key press types, as the key filter offers them: each byte
// of the toolkit's text, or a tab for a Tab key that types nothing.
std::vector<int> TypedCharacters(const std::string& text, int toolkitKey);

// The order in which Tab moves the keyboard focus among a window's gadgets:
// indices of `rects` (given in creation order) in reading order, top to
// bottom and, at the same height, left to right; ties keep creation order.
std::vector<int> ReadingOrder(const std::vector<TRect>& rects);

// The text area's style table: at most 128 entries, found or added by value.
// Entry i is the style letter 'A' + i.
struct TStyleKey {
  uint32_t colour;
  int font;
  int size;
  bool operator==(const TStyleKey& o) const {
    return colour == o.colour && font == o.font && size == o.size;
  }
};

class TStyleTable {
 public:
  static constexpr int kMaxEntries = 128;
  // The entry's index, adding it when new; -1 when the table is full.
  int FindOrAdd(const TStyleKey& key);
  int Count() const { return static_cast<int>(entries_.size()); }
  const TStyleKey& At(int index) const { return entries_[index]; }

 private:
  std::vector<TStyleKey> entries_;
};

// The font of a text style: the family's member for the bold and italic bits
// (the toolkit numbers them base, base+1 bold, base+2 italic, base+3 both).
int StyledFont(int baseFont, int flags);
