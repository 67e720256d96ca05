#include "replication/wire.h"

#include <cstring>

#include "core/error.h"

namespace {

uint32_t ReadBig16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }

uint32_t ReadBig32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint8_t* WriteBig16(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 8);
  out[1] = static_cast<uint8_t>(value);
  return out + 2;
}

uint8_t* WriteBig32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
  return out + 4;
}

float FloatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint32_t BitsFromFloat(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

size_t ItemSize(const TGNetSlot& slot) {
  switch (slot._type) {
    case SLOT_INT32:
    case SLOT_FLOAT32: return 5;
    case SLOT_FLOAT16:
    case SLOT_UINT16: return 3;
    case SLOT_UINT8: return 2;
    case SLOT_STRING: return 3 + slot._string.size();
    default: return 0;
  }
}

// Payload sizes by type; 0 marks the invalid types 0 and 7, whose items
// cannot be read. Strings have a 2-byte count before their characters.
constexpr size_t kPayloadSize[8] = {0, 4, 2, 2, 1, 2, 4, 0};

uint8_t* WriteItem(const TGNetSlot& slot, int index, uint8_t* out) {
  *out++ = static_cast<uint8_t>(slot._type * 32 + index);
  switch (slot._type) {
    case SLOT_INT32: return WriteBig32(out, static_cast<uint32_t>(slot._int));
    case SLOT_UINT8: *out = static_cast<uint8_t>(slot._int); return out + 1;
    case SLOT_UINT16: return WriteBig16(out, static_cast<uint32_t>(slot._int));
    case SLOT_FLOAT32: return WriteBig32(out, BitsFromFloat(slot._float));
    case SLOT_STRING: {
      const TString& text = slot._string;
      out = WriteBig16(out, static_cast<uint32_t>(text.size()));
      for (char16_t c : text) *out++ = static_cast<uint8_t>(c & 0xff);
      return out;
    }
    default: throw TRuntimeError("Invalid GNet data type");  // checked before
  }
}

}  // namespace

float HalfToFloat(uint16_t half) {
  uint32_t sign = uint32_t{half & 0x8000u} << 16;
  uint32_t exponent = (half >> 10) & 0x1f;
  uint32_t mantissa = half & 0x3ffu;
  if (exponent == 0x1f) return FloatFromBits(sign | 0x7f800000u | (mantissa << 13));
  if (exponent != 0) return FloatFromBits(sign | ((exponent + 112) << 23) | (mantissa << 13));
  if (mantissa == 0) return FloatFromBits(sign);
  // Subnormal: shift the leading one into the implicit position.
  uint32_t biased = 113;
  while ((mantissa & 0x400u) == 0) {
    mantissa <<= 1;
    --biased;
  }
  return FloatFromBits(sign | (biased << 23) | ((mantissa & 0x3ffu) << 13));
}

size_t PackedSize(const TGNetSlot* slots, uint32_t mask) {
  size_t total = 0;
  for (int i = 0; i < GNET_SLOT_COUNT; ++i)
    if (mask & (1u << i)) total += ItemSize(slots[i]);
  return total;
}

std::vector<uint8_t> PackSlotArray(const TGNetSlot* slots, uint32_t mask) {
  size_t total = PackedSize(slots, mask);
  if (total > GNET_MAX_DATA) throw TRuntimeError("GNet message data too large");
  for (int i = 0; i < GNET_SLOT_COUNT; ++i) {
    // Half precision is only ever received; a float slot is always type 6.
    int32_t type = slots[i]._type;
    bool writable = type == SLOT_EMPTY || (type >= SLOT_INT32 && type <= SLOT_FLOAT32 && type != SLOT_FLOAT16);
    if ((mask & (1u << i)) && !writable) throw TRuntimeError("Invalid GNet data type");
  }
  std::vector<uint8_t> data(total);
  uint8_t* out = data.data();
  for (int i = 0; i < GNET_SLOT_COUNT; ++i)
    if ((mask & (1u << i)) && slots[i]._type != SLOT_EMPTY) out = WriteItem(slots[i], i, out);
  return data;
}

TItemStatus ReadSlotItem(const uint8_t* data, size_t size, size_t& pos, TSlotItem& item) {
  if (pos >= size) return TItemStatus::End;
  uint8_t tag = data[pos];
  int32_t type = tag >> 5;
  size_t payload = kPayloadSize[type];
  if (payload == 0) return TItemStatus::InvalidType;
  size_t at = pos + 1;
  if (size - at < payload) return TItemStatus::Truncated;
  const uint8_t* p = data + at;
  item.type = type;
  item.index = tag & 31;
  switch (type) {
    case SLOT_INT32: item.intValue = static_cast<int32_t>(ReadBig32(p)); break;
    case SLOT_UINT8: item.intValue = p[0]; break;
    case SLOT_UINT16: item.intValue = static_cast<int32_t>(ReadBig16(p)); break;
    case SLOT_FLOAT16: item.floatValue = HalfToFloat(static_cast<uint16_t>(ReadBig16(p))); break;
    case SLOT_FLOAT32: item.floatValue = FloatFromBits(ReadBig32(p)); break;
    case SLOT_STRING: {
      size_t count = ReadBig16(p);
      if (size - at - payload < count) return TItemStatus::Truncated;
      item.text = p + payload;
      item.textLength = count;
      payload += count;
      break;
    }
  }
  pos = at + payload;
  return TItemStatus::Ok;
}

TPacketVerdict CheckSlotData(const uint8_t* data, size_t size) {
  size_t pos = 0;
  TSlotItem item;
  for (;;) {
    switch (ReadSlotItem(data, size, pos, item)) {
      case TItemStatus::Ok: break;
      case TItemStatus::End: return TPacketVerdict::Ok;
      case TItemStatus::InvalidType: return TPacketVerdict::InvalidSlotType;
      case TItemStatus::Truncated: return TPacketVerdict::Truncated;
    }
  }
}

TPacketVerdict DecodePacket(const uint8_t* bytes, size_t size, TGNetMsg& msg) {
  if (size < GNET_HEADER_SIZE) return TPacketVerdict::TooShort;
  // Nobody sends more; accepting it would only let a peer make us relay it.
  if (size > GNET_HEADER_SIZE + GNET_MAX_DATA) return TPacketVerdict::TooLong;
  uint32_t header = ReadBig16(bytes);
  int32_t state = static_cast<int32_t>(header >> 12);
  if (state != 1 && state != 2 && state != 3 && state != 5) return TPacketVerdict::UnknownState;
  TPacketVerdict verdict = CheckSlotData(bytes + GNET_HEADER_SIZE, size - GNET_HEADER_SIZE);
  if (verdict != TPacketVerdict::Ok) return verdict;
  msg.state = state;
  msg.id = static_cast<int32_t>(header & 4095);
  msg.data.assign(bytes + GNET_HEADER_SIZE, bytes + size);
  return TPacketVerdict::Ok;
}

void WriteHeader(int32_t state, int32_t id, uint8_t* out) {
  WriteBig16(out, (static_cast<uint32_t>(state & 15) << 12) | static_cast<uint32_t>(id & 4095));
}

void FrameMsg(int32_t state, int32_t id, const std::vector<uint8_t>& data, uint8_t* out) {
  WriteHeader(state, id, out);
  if (!data.empty()) std::memcpy(out + GNET_HEADER_SIZE, data.data(), data.size());
}

std::vector<uint8_t> FrameMsg(int32_t state, int32_t id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes(GNET_HEADER_SIZE + data.size());
  FrameMsg(state, id, data, bytes.data());
  return bytes;
}
