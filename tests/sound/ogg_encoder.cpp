#include "tests/sound/ogg_encoder.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <stdexcept>

namespace {

void AppendPage(std::vector<uint8_t>& out, const ogg_page& page) {
  out.insert(out.end(), page.header, page.header + page.header_len);
  out.insert(out.end(), page.body, page.body + page.body_len);
}

}  // namespace

std::vector<uint8_t> EncodeOgg(const std::vector<int16_t>& interleaved, int channels, int rate) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, channels, rate, 0.4f) != 0)
    throw std::runtime_error("vorbis_encode_init_vbr failed");
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_dsp_state dsp;
  vorbis_block block;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 1234);

  std::vector<uint8_t> out;
  ogg_packet header, headerComment, headerCode;
  vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &headerComment);
  ogg_stream_packetin(&stream, &headerCode);
  ogg_page page;
  while (ogg_stream_flush(&stream, &page)) AppendPage(out, page);

  const long frames = static_cast<long>(interleaved.size()) / channels;
  const long chunk = 1024;
  for (long done = 0; done <= frames;) {
    const long n = std::min(chunk, frames - done);
    if (n > 0) {
      float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
      for (long i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c)
          buffer[c][i] = interleaved[(done + i) * channels + c] / 32768.0f;
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(n));  // 0 marks the end
    done += n > 0 ? n : 1;
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        while (ogg_stream_pageout(&stream, &page)) AppendPage(out, page);
      }
    }
  }
  while (ogg_stream_flush(&stream, &page)) AppendPage(out, page);

  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return out;
}

void SetLastGranule(std::vector<uint8_t>& ogg, int64_t granule) {
  size_t last = std::string::npos;
  for (size_t at = 0; at + 27 <= ogg.size(); ++at)
    if (std::memcmp(&ogg[at], "OggS", 4) == 0) last = at;
  if (last == std::string::npos) throw std::runtime_error("no Ogg page");
  uint8_t* header = &ogg[last];
  for (int i = 0; i < 8; ++i) header[6 + i] = static_cast<uint8_t>(granule >> (8 * i));
  ogg_page page;
  page.header = header;
  page.header_len = 27 + header[26];
  page.body = header + page.header_len;
  page.body_len = static_cast<long>(ogg.size() - last) - page.header_len;
  ogg_page_checksum_set(&page);
}
