// The gadget layer's entry points, each a request to the GUI driver.
#include "ui/gui.h"

#include "ui/fl_driver.h"
#include "ui/gadget_rules.h"

// The driver starts the whole layer on its first use.
void InitGui() { CurrentGuiDriver(); }

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
