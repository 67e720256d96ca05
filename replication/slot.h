// One typed value cell of a replicated object. The three value fields are
// independent: each setter changes its own field and the type, each getter
// reads its own field whatever the type.
#pragma once

#include <cstdint>

#include "core/text.h"

// Slot type codes; the same numbers travel in the top 3 bits of a tag byte.
enum : int32_t {
  SLOT_EMPTY = 0,    // never written, never sent
  SLOT_INT32 = 1,    // SetInt below 0 or above 65535: 4 bytes, signed
  SLOT_FLOAT16 = 2,  // only ever received: 2 bytes, half precision
  SLOT_STRING = 3,   // SetString: 2-byte count, one byte per character
  SLOT_UINT8 = 4,    // SetInt 0..255: 1 byte
  SLOT_UINT16 = 5,   // SetInt 256..65535: 2 bytes
  SLOT_FLOAT32 = 6,  // SetFloat: 4 bytes, single precision bits
};

constexpr int GNET_SLOT_COUNT = 32;

class TGNetSlot {
 public:
  // The integer type follows from the value: the smallest that holds it.
  void SetInt(int32_t value);
  void SetFloat(float value);
  void SetString(const TString& value);

  int32_t GetInt() const { return _int; }
  float GetFloat() const { return _float; }
  const TString& GetString() const { return _string; }

  int32_t _type = SLOT_EMPTY;
  int32_t _int = 0;
  float _float = 0.0f;
  TString _string;
};

// The type code SetInt gives `value`.
int32_t IntSlotType(int32_t value);
