// PCM samples, their formats and conversions, and the loaders that decode
// streams into samples. Main thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "sound/stream.h"

enum : int32_t {
  PCM_MONO8 = 1,       // unsigned 8-bit
  PCM_MONO16LE = 2,    // signed 16-bit little-endian
  PCM_MONO16BE = 3,    // signed 16-bit big-endian
  PCM_STEREO8 = 4,     // unsigned 8-bit, left then right
  PCM_STEREO16LE = 5,  // signed 16-bit little-endian, left then right
  PCM_STEREO16BE = 6,  // signed 16-bit big-endian, left then right
};

// Bytes per frame and channels of a format; 0 for an unknown format.
int32_t PcmBytesPerFrame(int32_t format);
int32_t PcmChannels(int32_t format);

// `length` frames of PCM data at `hertz` frames per second.
class TAudioSample : public TObject {
 public:
  uint8_t* samples = nullptr;
  int32_t length = 0;
  int32_t hertz = 0;
  int32_t format = 0;
  int32_t capacity = 0;  // bytes owned; -1 over memory the sample does not own

  // A zero-filled sample; nullptr when the size does not fit in 32 bits.
  static std::shared_ptr<TAudioSample> Create(int32_t length, int32_t hertz, int32_t format);
  // A sample over `data`, which it never frees.
  static std::shared_ptr<TAudioSample> CreateStatic(void* data, int32_t length, int32_t hertz,
                                                    int32_t format);
  std::shared_ptr<TAudioSample> Copy() const;
  // A new sample in `toFormat`; raises "Unimplemented sample format
  // conversion" when either format is unknown.
  std::shared_ptr<TAudioSample> Convert(int32_t toFormat) const;
  // Bytes of PCM data (length x bytes per frame).
  int64_t ByteSize() const;

 private:
  std::unique_ptr<uint8_t[]> _owned;
};

// Decodes one kind of stream into a sample; nullptr when the stream is not of
// that kind or cannot be decoded.
class TAudioSampleLoader {
 public:
  virtual ~TAudioSampleLoader() = default;
  virtual std::shared_ptr<TAudioSample> LoadAudioSample(TStream& stream) = 0;
};

// Adds a loader at the head of the list (loaders are asked newest first).
void RegisterAudioSampleLoader(std::shared_ptr<TAudioSampleLoader> loader);
// Removes every loader (tests start from an empty list).
void ClearAudioSampleLoaders();

// Opens `url` as a read stream and asks the loaders, newest first, each from
// the stream's starting position. nullptr when nothing could be loaded.
// Raises "Stream is not seekable" when the stream cannot tell its position.
std::shared_ptr<TAudioSample> LoadAudioSample(const TString& url);
std::shared_ptr<TAudioSample> LoadAudioSample(const std::shared_ptr<TStream>& stream);
