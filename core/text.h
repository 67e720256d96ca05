// Text as the program models it: 16-bit characters with a length. Every
// length limit counts characters. Where text leaves the program as bytes
// (wire, lobby, toolkit) each character is cut to its low 8 bits, and bytes
// read back become characters 0 to 255.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using TString = std::u16string;

// Each character cut to its low 8 bits.
std::string ToBytes(const TString& text);
// Each byte becomes the character with that code (0 to 255).
TString FromBytes(std::string_view bytes);

// Signed decimal form of `value`.
TString DecimalText(long long value);

// Only A-Z are folded; user names and commands are ASCII when typed.
TString LowerCase(TString text);

// Characters with codes 32 and below removed from both ends.
TString TrimText(const TString& text);

// At most the first `count` characters.
TString LeftText(const TString& text, size_t count);

// At most the first `count` characters of text that holds the toolkit's UTF-8
// one byte per character, never ending inside a multi-byte sequence: a
// sequence the limit would cut is left out whole. Bytes that form no
// sequence (Latin-1 from elsewhere, stray continuation bytes) count as whole
// characters, except a lead byte at the very end, which is left out.
TString LeftUtf8Text(const TString& text, size_t count);

// Every occurrence of `from` in `text` replaced by `to`.
TString ReplaceAll(TString text, const TString& from, const TString& to);
