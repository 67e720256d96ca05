#include "bench/hand_wire.h"

namespace {

uint8_t* PutText(uint8_t* out, int index, const TString& text) {
  size_t count = text.size();
  *out++ = static_cast<uint8_t>(3 * 32 + index);
  *out++ = static_cast<uint8_t>(count >> 8);
  *out++ = static_cast<uint8_t>(count);
  for (char16_t c : text) *out++ = static_cast<uint8_t>(c);
  return out;
}

uint8_t* PutNumber(uint8_t* out, int index, int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  if (bits <= 255) {
    *out++ = static_cast<uint8_t>(4 * 32 + index);
  } else if (bits <= 65535) {
    *out++ = static_cast<uint8_t>(5 * 32 + index);
    *out++ = static_cast<uint8_t>(bits >> 8);
  } else {
    *out++ = static_cast<uint8_t>(1 * 32 + index);
    *out++ = static_cast<uint8_t>(bits >> 24);
    *out++ = static_cast<uint8_t>(bits >> 16);
    *out++ = static_cast<uint8_t>(bits >> 8);
  }
  *out++ = static_cast<uint8_t>(bits);
  return out;
}

size_t NumberSize(int32_t value) {
  uint32_t bits = static_cast<uint32_t>(value);
  return bits <= 255 ? 2 : bits <= 65535 ? 3 : 5;
}

}  // namespace

size_t HandPackedSize(const THandParticipant& p) {
  return 6 + p.text[0].size() + p.text[1].size() + NumberSize(p.number[0]) +
         NumberSize(p.number[1]) + NumberSize(p.number[2]);
}

uint8_t* HandPack(const THandParticipant& p, uint8_t* out) {
  out = PutText(out, 0, p.text[0]);
  out = PutText(out, 1, p.text[1]);
  for (int i = 0; i < 3; ++i) out = PutNumber(out, 2 + i, p.number[i]);
  return out;
}

bool HandUnpack(const uint8_t* data, size_t size, THandParticipant& p) {
  static const size_t kWidth[8] = {0, 4, 0, 0, 1, 2, 0, 0};
  size_t pos = 0;
  while (pos < size) {
    int type = data[pos] >> 5, index = data[pos] & 31;
    ++pos;
    if (type == 3 && index < 2) {
      if (size - pos < 2) return false;
      size_t count = size_t{data[pos]} << 8 | data[pos + 1];
      pos += 2;
      if (size - pos < count) return false;
      TString& text = p.text[index];
      text.resize(count);
      for (size_t i = 0; i < count; ++i) text[i] = data[pos + i];
      pos += count;
      continue;
    }
    size_t width = kWidth[type];
    if (width == 0 || index < 2 || index > 4 || size - pos < width) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < width; ++i) value = value << 8 | data[pos + i];
    p.number[index - 2] = static_cast<int32_t>(value);
    pos += width;
  }
  return true;
}
