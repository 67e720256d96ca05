// The files compiled into the program (generated from assets/).
#pragma once

#include <cstddef>

struct TEmbeddedBlob {
  const char16_t* name;
  const unsigned char* data;
  size_t size;
};

extern const TEmbeddedBlob kEmbeddedBlobs[];
extern const int kEmbeddedBlobCount;
