// The saved discussion log: the bytes of the discussion text and the file
// they are written to. No gadgets here; the room window asks for the path.
#pragma once

#include <string>

#include "core/text.h"

// One byte per character when every code is 255 or less, else the bytes
// FF FE and UTF-16 little-endian. Line breaks stay single LF characters.
std::string EncodeLog(const TString& text);

// Writes the encoded `text` to `path`, replacing the file as one step: the
// bytes go to a new file in the same folder, reach the disk, and the new
// file then takes the old one's place. False when that fails, and then the
// earlier file is as it was and no partial file is left.
bool SaveLogFile(const char* path, const TString& text);
