#include "ui/gadget_rules.h"

#include <FL/Enumerations.H>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kEdgeFloat = 0;
constexpr int kEdgeFixed = 1;
constexpr int kMenuHeight = 25;
constexpr int kStatusHeight = 22;
constexpr int kWinMenubar = 0x4;
constexpr int kWinStatusbar = 0x8;

// Products are taken in 64 bits so large client sizes cannot overflow; the
// divisions truncate toward zero like the 32-bit arithmetic they stand for.
int Scale(long long client, long long value, long long lockClient) {
  return static_cast<int>(client * value / lockClient);
}

}  // namespace

void LayoutSpan(int modeLow, int modeHigh, int lockPos, int lockSize, int lockClient, int client,
                int& low, int& high) {
  lockClient = std::max(lockClient, 1);
  client = std::max(client, 1);
  if (modeLow == kEdgeFloat && modeHigh == kEdgeFloat) {
    low = Scale(client, lockPos + lockSize / 2, lockClient) - lockSize / 2;
    high = low + lockSize;
    return;
  }
  low = modeLow == kEdgeFixed ? lockPos : Scale(client, lockPos, lockClient);
  high = modeHigh == kEdgeFixed ? client - (lockClient - (lockPos + lockSize))
                                : Scale(client, lockPos + lockSize, lockClient);
  if (modeLow == kEdgeFloat)
    low = high - lockSize;
  else if (modeHigh == kEdgeFloat)
    high = low + lockSize;
}

TRect LayoutRect(const TLayoutLock& lock, int cw, int ch) {
  int left, right, top, bottom;
  LayoutSpan(lock.lockl, lock.lockr, lock.lockx, lock.lockw, lock.lockcw, cw, left, right);
  LayoutSpan(lock.lockt, lock.lockb, lock.locky, lock.lockh, lock.lockch, ch, top, bottom);
  return {left, top, right - left, bottom - top};
}

void CentredPosition(int areaX, int areaY, int areaW, int areaH, int w, int h, int& x, int& y) {
  x = areaX + (areaW - w) / 2;
  y = areaY + (areaH - h) / 2;
}

TRect OuterFromClient(int windowStyle, const TRect& client) {
  TRect outer = client;
  if (windowStyle & kWinMenubar) {
    outer.y -= kMenuHeight;
    outer.h += kMenuHeight;
  }
  if (windowStyle & kWinStatusbar) outer.h += kStatusHeight;
  return outer;
}

TRect ClientFromOuter(int windowStyle, const TRect& outer) {
  TRect client = outer;
  if (windowStyle & kWinMenubar) {
    client.y += kMenuHeight;
    client.h -= kMenuHeight;
  }
  if (windowStyle & kWinStatusbar) client.h -= kStatusHeight;
  client.h = std::max(client.h, 0);
  return client;
}

std::string DoubleAtSigns(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

std::string UndoubleAtSigns(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (bytes[i] == '@' && i + 1 < bytes.size() && bytes[i + 1] == '@') ++i;
  }
  return out;
}

TString FilterToPattern(const TString& filter) {
  if (filter.empty()) return {};
  if (filter.find(u':') == TString::npos) return u"(*.{" + filter + u"})";
  TString pattern = ReplaceAll(filter, u":", u"(*.{");
  pattern = ReplaceAll(pattern, u";", u"})\t");
  pattern += u"})";
  return ReplaceAll(pattern, u"*.{*}", u"*");
}

uint32_t ToolkitColour(int r, int g, int b) {
  r &= 255;
  g &= 255;
  b &= 255;
  if (r == 0 && g == 0 && b == 0) return FL_BLACK;
  return static_cast<uint32_t>(r) << 24 | static_cast<uint32_t>(g) << 16 |
         static_cast<uint32_t>(b) << 8;
}

static int Luminance(int r, int g, int b) { return (r * 30 + g * 59 + b * 11) / 100; }

bool ColoursContrast(int r, int g, int b, int sr, int sg, int sb) {
  return std::abs(Luminance(r & 255, g & 255, b & 255) - Luminance(sr, sg, sb)) > 99;
}

uint32_t SelectionColour(int r, int g, int b, uint32_t paletteSelection, int sr, int sg, int sb) {
  r &= 255;
  g &= 255;
  b &= 255;
  if (ColoursContrast(r, g, b, sr, sg, sb)) return paletteSelection;
  int distance = std::abs(255 - 2 * r) + std::abs(255 - 2 * g) + std::abs(255 - 2 * b);
  if (distance >= 64) return ToolkitColour(255 - r, 255 - g, 255 - b);
  return ToolkitColour((r - 128) & 255, (g - 128) & 255, (b - 128) & 255);
}

TButtonKind ButtonKindFor(int style) {
  const int centred = FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP;
  const int left = centred | FL_ALIGN_LEFT;
  const bool pushlike = (style & 0x8) != 0;
  switch (style & 7) {
    case 2:
      return pushlike ? TButtonKind{TButtonWidget::Toggle, centred, style, false}
                      : TButtonKind{TButtonWidget::Check, left, style, false};
    case 3:
      return pushlike ? TButtonKind{TButtonWidget::Toggle, centred, style, true}
                      : TButtonKind{TButtonWidget::Round, left, style, true};
    case 4:
      return {TButtonWidget::Return, centred, style, false};
    case 5:
      return {TButtonWidget::Escape, centred, style, false};
    default:
      return {TButtonWidget::Push, centred, (style & ~7) | 8, false};
  }
}

int LabelBox(int style, bool coloured) {
  switch (style & 7) {
    case 1:
      return FL_BORDER_BOX;
    case 2:
      return coloured ? FL_THIN_DOWN_BOX : FL_THIN_DOWN_FRAME;
    case 3:
      return coloured ? FL_EMBOSSED_BOX : FL_EMBOSSED_FRAME;
    default:
      return coloured ? FL_FLAT_BOX : FL_NO_BOX;
  }
}

int LabelAlign(int style) {
  const int base = FL_ALIGN_INSIDE | FL_ALIGN_CLIP | FL_ALIGN_WRAP;
  switch (style & 0x18) {
    case 0:
      return base | FL_ALIGN_LEFT;
    case 0x8:
      return base | FL_ALIGN_RIGHT;
    default:
      return base;
  }
}

int PanelBox(int style, bool coloured) {
  switch (style & 3) {
    case 1:
      return coloured ? FL_DOWN_BOX : FL_DOWN_FRAME;
    case 2:
      return coloured ? FL_UP_BOX : FL_UP_FRAME;
    case 3:
      return coloured ? FL_ENGRAVED_BOX : FL_ENGRAVED_FRAME;
    default:
      return coloured ? FL_FLAT_BOX : FL_NO_BOX;
  }
}

int ProgramKeyCode(int key) {
  if (key >= 'a' && key <= 'z') return key - 'a' + 'A';
  if (key >= '0' && key <= '9') return key;
  if (key >= FL_F + 1 && key <= FL_F + 24) return 111 + (key - FL_F);
  if (key >= FL_KP + '0' && key <= FL_KP + '9') return 96 + (key - FL_KP - '0');
  static const struct {
    int toolkit;
    int program;
  } kKeys[] = {
      {FL_BackSpace, 8},  {FL_Tab, 9},         {FL_Enter, 13},      {FL_KP_Enter, 13},
      {FL_Pause, 19},     {FL_Caps_Lock, 20},  {FL_Escape, 27},     {' ', 32},
      {FL_Page_Up, 33},   {FL_Page_Down, 34},  {FL_End, 35},        {FL_Home, 36},
      {FL_Left, 37},      {FL_Up, 38},         {FL_Right, 39},      {FL_Down, 40},
      {FL_Print, 44},     {FL_Insert, 45},     {FL_Delete, 46},     {FL_Meta_L, 91},
      {FL_Meta_R, 92},    {FL_Menu, 93},       {FL_KP + '*', 106},  {FL_KP + '+', 107},
      {FL_KP + '-', 109}, {FL_KP + '.', 110},  {FL_KP + '/', 111},  {FL_Num_Lock, 144},
      {FL_Scroll_Lock, 145}, {FL_Shift_L, 160}, {FL_Shift_R, 161}, {FL_Control_L, 162},
      {FL_Control_R, 163}, {FL_Alt_L, 164},    {FL_Alt_R, 165},     {';', 186},
      {'=', 187},         {',', 188},          {'-', 189},          {'.', 190},
      {'/', 191},         {'`', 192},          {'[', 219},          {'\\', 220},
      {']', 221},         {'\'', 222},
  };
  for (const auto& k : kKeys)
    if (k.toolkit == key) return k.program;
  return 0;
}

int ProgramModifiers(int state) {
  int mods = 0;
  if (state & FL_SHIFT) mods |= 1;
  if (state & FL_CTRL) mods |= 2;
  if (state & FL_ALT) mods |= 4;
  if (state & FL_META) mods |= 8;
  return mods;
}

std::vector<int> TypedCharacters(const std::string& text, int key) {
  std::vector<int> chars;
  if (text.empty() && key == FL_Tab) chars.push_back('\t');
  for (unsigned char c : text) chars.push_back(c);
  return chars;
}

std::vector<int> ReadingOrder(const std::vector<TRect>& rects) {
  std::vector<int> order(rects.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&rects](int a, int b) {
    return rects[a].y != rects[b].y ? rects[a].y < rects[b].y : rects[a].x < rects[b].x;
  });
  return order;
}

int TStyleTable::FindOrAdd(const TStyleKey& key) {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i] == key) return static_cast<int>(i);
  if (Count() >= kMaxEntries) return -1;
  entries_.push_back(key);
  return Count() - 1;
}

int StyledFont(int baseFont, int flags) {
  // Helvetica, Courier and Times come in four members; the screen font has
  // a bold member only; other fonts have just themselves.
  const int family = baseFont & ~3;
  if (baseFont < 12) return family + (flags & 3);
  if (baseFont == FL_SCREEN || baseFont == FL_SCREEN_BOLD)
    return (flags & 1) ? FL_SCREEN_BOLD : FL_SCREEN;
  return baseFont;
}
