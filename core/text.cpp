#include "core/text.h"

std::string ToBytes(const TString& text) {
  std::string bytes(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) bytes[i] = static_cast<char>(text[i] & 0xff);
  return bytes;
}

TString FromBytes(std::string_view bytes) {
  TString text(bytes.size(), u'\0');
  for (size_t i = 0; i < bytes.size(); ++i) text[i] = static_cast<unsigned char>(bytes[i]);
  return text;
}

TString DecimalText(long long value) { return FromBytes(std::to_string(value)); }

TString LowerCase(TString text) {
  for (auto& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return text;
}

TString TrimText(const TString& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] <= 32) ++begin;
  while (end > begin && text[end - 1] <= 32) --end;
  return text.substr(begin, end - begin);
}

TString LeftText(const TString& text, size_t count) { return text.substr(0, count); }

namespace {

bool ContinuationByte(char16_t c) { return c >= 0x80 && c <= 0xbf; }

// How many bytes the UTF-8 sequence led by `c` has; 0 when `c` leads none.
size_t SequenceLength(char16_t c) {
  if (c >= 0xc2 && c <= 0xdf) return 2;
  if (c >= 0xe0 && c <= 0xef) return 3;
  if (c >= 0xf0 && c <= 0xf4) return 4;
  return 0;
}

}  // namespace

TString LeftUtf8Text(const TString& text, size_t count) {
  if (text.size() <= count) return text;
  // A sequence the limit cuts starts at most three bytes before it.
  size_t tail = count;
  while (tail > 0 && count - tail < 3 && ContinuationByte(text[tail - 1])) --tail;
  if (tail == 0) return text.substr(0, count);
  const size_t lead = tail - 1;
  return text.substr(0, SequenceLength(text[lead]) > count - lead ? lead : count);
}

TString ReplaceAll(TString text, const TString& from, const TString& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != TString::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
