// Finding the toolkit's windows and widgets of this process by what the user
// sees (a title, a label), so X tests click on a control wherever the layout
// puts it instead of at coordinates copied from the layout.
#pragma once

#include <FL/Fl.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>

#include <cstring>
#include <functional>

// The first shown top-level window titled `title`, or null.
inline Fl_Window* FindShownWindow(const char* title) {
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->shown() && w->label() && std::strcmp(w->label(), title) == 0) return w;
  return nullptr;
}

// The first widget under `group` (at any depth) that `match` accepts, or null.
inline Fl_Widget* FindWidget(Fl_Group* group, const std::function<bool(Fl_Widget*)>& match) {
  for (int i = 0; group && i < group->children(); ++i) {
    Fl_Widget* child = group->child(i);
    if (match(child)) return child;
    if (Fl_Widget* found = FindWidget(child->as_group(), match)) return found;
  }
  return nullptr;
}

// The first widget under `group` labelled `label`, or null.
inline Fl_Widget* FindLabelled(Fl_Group* group, const char* label) {
  return FindWidget(group, [label](Fl_Widget* w) {
    return w->label() && std::strcmp(w->label(), label) == 0;
  });
}
