// The toolkit's text area and list box gadgets. Private to the ui library:
// the GUI driver (ui/fl_driver.h) makes them, as it does the kinds of
// ui/fl_kinds.h.
#pragma once

#include <memory>
#include <string>

#include "ui/fl_gadget.h"

std::shared_ptr<TFLGadget> NewTextAreaGadget();
std::shared_ptr<TFLGadget> NewListBoxGadget();

// The style letters of a text area, one per character ("" for other gadgets):
// 'A' + the index of the character's entry in the area's style table.
std::string TextAreaStyleLetters(TGadget* gadget);
