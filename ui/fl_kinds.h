// The toolkit's window, button, label, panel and text field gadgets. Private
// to the ui library: the GUI driver (ui/fl_driver.h) makes them.
//
// Each factory returns a new gadget without a widget; the driver stores the
// style and rectangle, then calls InitGadget to build the widget. A window
// gadget's widget is top-level and is registered like any other, so the
// driver finds the window gadget of a toolkit window with GadgetOfWidget.
#pragma once

#include <memory>

#include "ui/fl_gadget.h"

std::shared_ptr<TFLGadget> NewWindowGadget();
std::shared_ptr<TFLGadget> NewButtonGadget();
std::shared_ptr<TFLGadget> NewPanelGadget();
std::shared_ptr<TFLGadget> NewTextFieldGadget();
std::shared_ptr<TFLGadget> NewLabelGadget();
