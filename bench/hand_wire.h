// The floor for packing and unpacking slots: a minimal hand-written encoder
// and decoder of a participant's packed slots (two strings in slots 0 and 1,
// three integers in slots 2 to 4), with the layout known in advance instead
// of walking 32 typed slots. They produce and accept the same bytes as the
// replication layer; the benchmarks compare the two outputs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/text.h"

struct THandParticipant {
  TString text[2];  // slots 0 and 1
  int32_t number[3] = {0, 0, 0};  // slots 2 to 4
};

// Bytes HandPack writes for `p`.
size_t HandPackedSize(const THandParticipant& p);

// Writes `p` into `out` (HandPackedSize bytes) and returns the end.
uint8_t* HandPack(const THandParticipant& p, uint8_t* out);

// Reads packed slots 0 to 4 into `p`, reusing its strings. False at an item
// that is not one of those or runs past the end.
bool HandUnpack(const uint8_t* data, size_t size, THandParticipant& p);
