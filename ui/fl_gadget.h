// The toolkit base of the gadget kinds: a TGadget realised by one toolkit
// widget, and the registry that leads from a widget back to its gadget.
// Private to the ui library (and its tests). Main thread only.
//
// A kind (ui/fl_kinds.h, ui/fl_text.h) builds its widget in InitGadget and
// hands it to AttachWidget; from then on the widget's callback and the
// registry lead to this gadget until CleanUp or destruction lets go of it.
// The widget belongs to the toolkit's parent group (a window's to the
// gadget); toolkit events become program events through Emit.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Widget.H>

#include "ui/gadget.h"
#include "ui/gadget_rules.h"

struct TFLGUIFont {
  int font = 0;       // toolkit font number
  float size = 12.0f; // points
  int style = 0;
};

// Base of every gadget with a toolkit widget. The widget's user data points
// back here until the gadget lets go of it (CleanUp or destruction).
class TFLGadget : public TGadget {
 public:
  int fltype = 0;
  Fl_Widget* flhandle = nullptr;
  int originx = 0, originy = 0;
  int enabled = 1;
  int ignore = 0;
  TFLGUIFont font;

  ~TFLGadget() override;

  // Builds the widget and puts it into the parent (kind initialisation).
  virtual void InitGadget(const TGadgetRef& group) = 0;
  // Runs after SetText and SetFont at creation (a window shows itself).
  virtual void AfterCreate() {}
  // The toolkit group that holds the widgets of this gadget's kids.
  virtual Fl_Group* ClientGroup() { return nullptr; }
  // Origin of the client area in window coordinates.
  virtual int ClientOriginX() const { return AbsoluteX() + originx; }
  virtual int ClientOriginY() const { return AbsoluteY() + originy; }
  int AbsoluteX() const;
  int AbsoluteY() const;

  void Rethink() override;
  void Repaint() override;
  void CleanUp() override;
  void Activate(int command) override;
  int State() override;
  void SetColor(int r, int g, int b) override;
  void SetTextColor(int r, int g, int b) override;
  void SetShow(int flag) override;
  void SetEnabled(int flag) override;
  void SetFilter(TGadgetFilter filter, TObjectRef context) override;
  virtual void SetFont(const TFLGUIFont& font);

  // Toolkit callback of the widget.
  virtual void OnCallback() {}
  // Offers a key press to the key filter; true when it is swallowed.
  bool FilterKey();
  void Emit(int32_t id, int32_t data = 0, int32_t mods = 0, int32_t x = 0, int32_t y = 0,
            TObjectRef extra = nullptr);

 protected:
  // Takes `widget` as this gadget's widget and inserts it into the parent's
  // client group, joining the parent's kids (which lays it out).
  void AttachWidget(Fl_Widget* widget, const TGadgetRef& group);
  // Lets go of the widget: no more callbacks reach this gadget.
  Fl_Widget* DetachWidget();
  virtual void OnColour() {}
};

// The gadget behind a widget (or behind its nearest registered ancestor).
TFLGadget* GadgetOfWidget(const Fl_Widget* widget);

// Creates a toolkit widget without letting the toolkit's current group adopt it.
template <class W, class... Args>
W* NewWidget(Args... args) {
  Fl_Group* saved = Fl_Group::current();
  Fl_Group::current(nullptr);
  W* widget = new W(args...);
  Fl_Group::current(saved);
  return widget;
}
