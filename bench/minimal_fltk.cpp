// The floor for the idle measurements: a plain FLTK window doing nothing.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>

int main() {
  Fl_Window window(800, 600, "minimal");
  window.show();
  return Fl::run();
}
