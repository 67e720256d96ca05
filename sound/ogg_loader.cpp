#include "sound/ogg_loader.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

size_t ReadCallback(void* ptr, size_t size, size_t count, void* source) {
  if (size == 0 || count == 0) return 0;
  auto* stream = static_cast<TStream*>(source);
  int64_t bytes = stream->Read(ptr, static_cast<int64_t>(size * count));
  return bytes > 0 ? static_cast<size_t>(bytes) / size : 0;
}

int SeekCallback(void* source, ogg_int64_t offset, int whence) {
  auto* stream = static_cast<TStream*>(source);
  int64_t target;
  switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = stream->Pos() + offset; break;
    case SEEK_END: target = stream->Size() + offset; break;
    default: return -1;
  }
  return stream->Seek(target) == target ? 0 : -1;
}

// The caller owns and closes the stream.
int CloseCallback(void*) { return 0; }

long TellCallback(void* source) { return static_cast<long>(static_cast<TStream*>(source)->Pos()); }

const ov_callbacks kStreamCallbacks = {ReadCallback, SeekCallback, CloseCallback, TellCallback};

// Decodes little-endian signed 16-bit words into `sample` until it is full or
// the stream ends; returns the frames decoded, or -1 on a decoder error.
int64_t DecodeInto(OggVorbis_File& file, TAudioSample& sample, int channels) {
  const int64_t want = sample.ByteSize();
  int64_t got = 0;
  while (got < want) {
    int chunk = static_cast<int>(std::min<int64_t>(want - got, 1 << 20));
    int bitstream = 0;
    long n = ov_read(&file, reinterpret_cast<char*>(sample.samples + got), chunk, 0, 2, 1,
                     &bitstream);
    if (n < 0) return -1;
    if (n == 0) break;  // the stream ended before its announced length
    got += n;
  }
  return got / (2 * channels);
}

}  // namespace

std::shared_ptr<TAudioSample> TAudioSampleLoaderOGG::LoadAudioSample(TStream& stream) {
  OggVorbis_File file;
  if (ov_open_callbacks(&stream, &file, nullptr, 0, kStreamCallbacks) != 0) return nullptr;
  std::shared_ptr<TAudioSample> sample;
  const vorbis_info* info = ov_info(&file, -1);
  ogg_int64_t frames = ov_pcm_total(&file, -1);
  if (info && frames >= 0 && (info->channels == 1 || info->channels == 2) && info->rate > 0 &&
      info->rate <= std::numeric_limits<int32_t>::max() &&
      frames <= std::numeric_limits<int32_t>::max()) {
    int channels = info->channels;
    sample = TAudioSample::Create(static_cast<int32_t>(frames), static_cast<int32_t>(info->rate),
                                  channels == 1 ? PCM_MONO16LE : PCM_STEREO16LE);
    int64_t decoded = sample ? DecodeInto(file, *sample, channels) : -1;
    if (decoded < 0)
      sample.reset();
    else
      sample->length = static_cast<int32_t>(decoded);
  }
  ov_clear(&file);
  return sample;
}
