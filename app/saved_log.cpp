#include "app/saved_log.h"

#include <cstdio>

std::string EncodeLog(const TString& text) {
  bool narrow = true;
  for (char16_t c : text)
    if (c > 255) narrow = false;
  if (narrow) return ToBytes(text);
  std::string bytes = "\xff\xfe";
  bytes.reserve(2 + text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xff));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

bool SaveLogFile(const char* path, const TString& text) {
  std::string bytes = EncodeLog(text);
  std::FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}
