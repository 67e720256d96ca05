// The gadget model shared by every kind: shape and layout, the base versions
// of the common operations and the path from a gadget to its events.
#include "ui/gadget.h"

#include <algorithm>

#include "ui/gadget_rules.h"

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
  if (auto group = GetGroup()) group->Repaint();
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
void TGadget::SetAttention(int) {}
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

// ---- helpers over the model ----

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

void CapTextField(const TGadgetRef& field, size_t limit) {
  if (!field) return;
  const TString text = field->GetText();
  if (text.size() <= limit) return;
  const int caret = field->GetCursorPos(TXU_CHARS);
  const TString kept = LeftUtf8Text(text, limit);
  field->SetText(kept);
  // SetText selects the whole text: the next key would replace all of it.
  field->SetSelection(std::clamp(caret, 0, static_cast<int>(kept.size())), 0, TXU_CHARS);
}

void AppendItem(const TGadgetRef& gadget, const TString& text, int flags, int icon,
                const TString& tip, TObjectRef extra) {
  if (gadget) gadget->InsertItem(gadget->ItemCount(), text, tip, icon, std::move(extra), flags);
}
