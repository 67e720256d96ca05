// Test helper: Ogg Vorbis streams made in memory with libvorbisenc.
#pragma once

#include <cstdint>
#include <vector>

// Encodes interleaved 16-bit frames with `channels` channels at `rate` Hz.
std::vector<uint8_t> EncodeOgg(const std::vector<int16_t>& interleaved, int channels, int rate);

// Rewrites the granule position (the announced length in frames) of the last
// page, with a fresh checksum, so the stream claims more than it holds.
void SetLastGranule(std::vector<uint8_t>& ogg, int64_t granule);
