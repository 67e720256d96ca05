// The program's icon in the sizes a window carries, compiled in from
// dist/icons (PNG files), so that a window has it wherever the program runs
// from, the build tree included. Generated at build time (embed_icons.cmake).
#pragma once

#include <cstddef>

struct TWindowIconPng {
  const unsigned char* data;
  size_t size;
};

extern const TWindowIconPng kWindowIconPngs[];
extern const int kWindowIconPngCount;
