#include "replication/wire.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

int LowestBit(uint32_t bits) {
#if defined(__GNUC__)
  return __builtin_ctz(bits);
#else
  int index = 0;
  for (; (bits & 1u) == 0; bits >>= 1) ++index;
  return index;
#endif
}

uint8_t Tag(int32_t type, int index) { return static_cast<uint8_t>(type * 32 + index); }

// Short strings are narrowed here; the call's setup would cost more.
void WriteText(const char16_t* text, size_t count, uint8_t* out) {
  if (count >= 16) return NarrowText(text, count, out);
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(text[i]);
}

// Packs into out[0..room) and returns the packed size; every item is written
// when that is at most `room`, and none past `room`. One walk sizes, checks
// and writes; the raises come once the whole size is known. Types are tested
// in order of how common they are (branches on a few types predict better
// than a jump table).
size_t PackInto(const TGNetSlot* slots, uint32_t mask, uint8_t* out, size_t room) {
  size_t size = 0;
  bool packable = true;
  for (uint32_t rest = mask; rest != 0; rest &= rest - 1) {
    int index = LowestBit(rest);
    const TGNetSlot& slot = slots[index];
    int32_t type = slot._type;
    if (type == SLOT_UINT8) {
      if (size + 2 <= room) {
        out[size] = Tag(type, index);
        out[size + 1] = static_cast<uint8_t>(slot._int);
      }
      size += 2;
    } else if (type == SLOT_STRING) {
      size_t count = slot._string.size();
      if (size + 3 + count <= room) {
        out[size] = Tag(type, index);
        WriteBig16(out + size + 1, static_cast<uint32_t>(count));
        WriteText(slot._string.data(), count, out + size + 3);
      }
      size += 3 + count;
    } else if (type == SLOT_UINT16) {
      if (size + 3 <= room) {
        out[size] = Tag(type, index);
        WriteBig16(out + size + 1, static_cast<uint32_t>(slot._int));
      }
      size += 3;
    } else if (type == SLOT_INT32 || type == SLOT_FLOAT32) {
      uint32_t bits = type == SLOT_INT32 ? static_cast<uint32_t>(slot._int) : BitsFromFloat(slot._float);
      if (size + 5 <= room) {
        out[size] = Tag(type, index);
        WriteBig32(out + size + 1, bits);
      }
      size += 5;
    } else if (type != SLOT_EMPTY) {
      // Half precision is only ever received; it counts towards the size
      // so that "too large" wins as it would for any other slot.
      if (type == SLOT_FLOAT16) size += 3;
      packable = false;
    }
  }
  if (size > GNET_MAX_DATA) throw TRuntimeError("GNet message data too large");
  if (!packable) throw TRuntimeError("Invalid GNet data type");
  return size;
}

// Payload sizes by type; 0 marks the invalid types 0 and 7, whose items
// cannot be read. Strings have a 2-byte count before their characters.
constexpr size_t kPayloadSize[8] = {0, 4, 2, 2, 1, 2, 4, 0};

// Bytes of the item at `pos` < `size`, tag included; InvalidType for a tag of
// type 0 or 7, Truncated when the payload runs past the end. Every read of a
// received item is within the length this found.
TItemStatus MeasureItem(const uint8_t* data, size_t size, size_t pos, size_t& length) {
  size_t payload = kPayloadSize[data[pos] >> 5];
  if (payload == 0) return TItemStatus::InvalidType;
  size_t left = size - pos - 1;
  if (left < payload) return TItemStatus::Truncated;
  if (data[pos] >> 5 == SLOT_STRING) {
    size_t count = ReadBig16(data + pos + 1);
    if (left - payload < count) return TItemStatus::Truncated;
    payload += count;
  }
  length = 1 + payload;
  return TItemStatus::Ok;
}

// Applies the measured item at `p` to its slot.
void ApplyItem(const uint8_t* p, TGNetSlot* slots) {
  TGNetSlot& slot = slots[p[0] & 31];
  switch (p[0] >> 5) {
    case SLOT_UINT8: slot.SetInt(p[1]); break;
    case SLOT_UINT16: slot.SetInt(static_cast<int32_t>(ReadBig16(p + 1))); break;
    case SLOT_INT32: slot.SetInt(static_cast<int32_t>(ReadBig32(p + 1))); break;
    case SLOT_FLOAT16: slot.SetFloat(HalfToFloat(static_cast<uint16_t>(ReadBig16(p + 1)))); break;
    case SLOT_FLOAT32: slot.SetFloat(FloatFromBits(ReadBig32(p + 1))); break;
    default: {
      // Widened in place: a long string is copied once, not twice.
      size_t count = ReadBig16(p + 1);
      slot._string.resize(count);
      WidenText(p + 3, count, slot._string.data());
      slot._type = SLOT_STRING;
      break;
    }
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
  for (uint32_t rest = mask; rest != 0; rest &= rest - 1) {
    const TGNetSlot& slot = slots[LowestBit(rest)];
    switch (slot._type) {
      case SLOT_INT32:
      case SLOT_FLOAT32: total += 5; break;
      case SLOT_FLOAT16:
      case SLOT_UINT16: total += 3; break;
      case SLOT_UINT8: total += 2; break;
      case SLOT_STRING: total += 3 + slot._string.size(); break;
      default: break;
    }
  }
  return total;
}


void PackSlotArray(const TGNetSlot* slots, uint32_t mask, std::vector<uint8_t>& out) {
  // Written in place when the bytes fit; otherwise sized by the first walk
  // and written by a second. (One call site keeps PackInto inline.)
  for (;;) {
    size_t size = PackInto(slots, mask, out.data(), out.size());
    bool written = size <= out.size();
    out.resize(size);
    if (written) return;
  }
}

// The loops below are kept small enough to fit one 64-byte line of code.
void NarrowText(const char16_t* text, size_t count, uint8_t* out) {
  size_t i = 0;
#if defined(__SSE2__)
  // The mask keeps the pack from saturating: 0x141 must become 0x41.
  const __m128i low = _mm_set1_epi16(0xff);
  for (; i + 16 <= count; i += 16) {
    __m128i a = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)), low);
    __m128i b = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8)), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
  }
#endif
  for (; i < count; ++i) out[i] = static_cast<uint8_t>(text[i]);
}

void WidenText(const uint8_t* bytes, size_t count, char16_t* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= count; i += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
  }
#endif
  for (; i < count; ++i) out[i] = bytes[i];
}

TItemStatus UnpackSlotArray(const uint8_t* data, size_t size, TGNetSlot* slots, uint32_t& written) {
  for (size_t pos = 0, length = 0; pos < size; pos += length) {
    TItemStatus status = MeasureItem(data, size, pos, length);
    if (status != TItemStatus::Ok) return status;
    written |= 1u << (data[pos] & 31);  // before: a string may fail to allocate
    ApplyItem(data + pos, slots);
  }
  return TItemStatus::End;
}

TPacketVerdict CheckSlotData(const uint8_t* data, size_t size) {
  for (size_t pos = 0, length = 0; pos < size; pos += length) {
    switch (MeasureItem(data, size, pos, length)) {
      case TItemStatus::InvalidType: return TPacketVerdict::InvalidSlotType;
      case TItemStatus::Truncated: return TPacketVerdict::Truncated;
      default: break;
    }
  }
  return TPacketVerdict::Ok;
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
