#include "replication/slot.h"

int32_t IntSlotType(int32_t value) {
  if (value >= 0 && value <= 255) return SLOT_UINT8;
  if (value >= 256 && value <= 65535) return SLOT_UINT16;
  return SLOT_INT32;
}

void TGNetSlot::SetInt(int32_t value) {
  _int = value;
  _type = IntSlotType(value);
}

void TGNetSlot::SetFloat(float value) {
  _float = value;
  _type = SLOT_FLOAT32;
}

void TGNetSlot::SetString(const TString& value) {
  _string = value;
  _type = SLOT_STRING;
}
