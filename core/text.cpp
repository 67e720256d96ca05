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

TString ReplaceAll(TString text, const TString& from, const TString& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != TString::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}
