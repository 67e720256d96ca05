// The toolkit's windows and widgets of this process found by what the user
// sees (a title, a label), so that X tests click a control wherever the
// layout puts it instead of at coordinates copied from the layout.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>

#include <cstring>

// The first shown top-level window titled `title`, or null.
inline Fl_Window* FindShownWindow(const char* title) {
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->label() && std::strcmp(w->label(), title) == 0) return w;
  return nullptr;
}

// The first widget under `group`, at any depth, labelled `label`, or null.
inline Fl_Widget* FindLabelled(Fl_Group* group, const char* label) {
  for (int i = 0; group && i < group->children(); ++i) {
    Fl_Widget* child = group->child(i);
    if (child->label() && std::strcmp(child->label(), label) == 0) return child;
    if (Fl_Widget* found = FindLabelled(child->as_group(), label)) return found;
  }
  return nullptr;
}
