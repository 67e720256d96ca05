#include "sound/sample.h"

#include <cstring>
#include <limits>
#include <list>

#include "core/error.h"

namespace {

const char* const kConversionError = "Unimplemented sample format conversion";

struct TFormatInfo {
  int32_t bytesPerFrame;
  int32_t channels;
};

TFormatInfo FormatInfo(int32_t format) {
  switch (format) {
    case PCM_MONO8: return {1, 1};
    case PCM_MONO16LE: return {2, 1};
    case PCM_MONO16BE: return {2, 1};
    case PCM_STEREO8: return {2, 2};
    case PCM_STEREO16LE: return {4, 2};
    case PCM_STEREO16BE: return {4, 2};
    default: return {0, 0};
  }
}

int16_t ReadWord(const uint8_t* p, bool bigEndian) {
  uint16_t u = bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                         : static_cast<uint16_t>(p[1] << 8 | p[0]);
  return static_cast<int16_t>(u);
}

void WriteWord(uint8_t* p, int16_t word, bool bigEndian) {
  auto u = static_cast<uint16_t>(word);
  p[bigEndian ? 0 : 1] = static_cast<uint8_t>(u >> 8);
  p[bigEndian ? 1 : 0] = static_cast<uint8_t>(u & 0xff);
}

int16_t Widen8(uint8_t byte) { return static_cast<int16_t>((byte - 128) * 256 + byte); }
uint8_t Narrow16(int16_t word) { return static_cast<uint8_t>((word + 0x8000) / 257); }

// One frame of any format as the left and right words of PCM_STEREO16BE.
void DecodeFrame(const uint8_t* p, int32_t format, int16_t& left, int16_t& right) {
  switch (format) {
    case PCM_MONO8: left = right = Widen8(p[0]); break;
    case PCM_MONO16LE: left = right = ReadWord(p, false); break;
    case PCM_MONO16BE: left = right = ReadWord(p, true); break;
    case PCM_STEREO8: left = Widen8(p[0]), right = Widen8(p[1]); break;
    case PCM_STEREO16LE: left = ReadWord(p, false), right = ReadWord(p + 2, false); break;
    default: left = ReadWord(p, true), right = ReadWord(p + 2, true); break;
  }
}

// Mono targets keep the left word.
void EncodeFrame(uint8_t* p, int32_t format, int16_t left, int16_t right) {
  switch (format) {
    case PCM_MONO8: p[0] = Narrow16(left); break;
    case PCM_MONO16LE: WriteWord(p, left, false); break;
    case PCM_MONO16BE: WriteWord(p, left, true); break;
    case PCM_STEREO8: p[0] = Narrow16(left), p[1] = Narrow16(right); break;
    case PCM_STEREO16LE: WriteWord(p, left, false), WriteWord(p + 2, right, false); break;
    default: WriteWord(p, left, true), WriteWord(p + 2, right, true); break;
  }
}

std::list<std::shared_ptr<TAudioSampleLoader>>& SampleLoaders() {
  static std::list<std::shared_ptr<TAudioSampleLoader>> loaders;
  return loaders;
}

}  // namespace

int32_t PcmBytesPerFrame(int32_t format) { return FormatInfo(format).bytesPerFrame; }
int32_t PcmChannels(int32_t format) { return FormatInfo(format).channels; }

std::shared_ptr<TAudioSample> TAudioSample::Create(int32_t length, int32_t hertz, int32_t format) {
  if (length < 0) length = 0;
  int64_t bytes = static_cast<int64_t>(length) * PcmBytesPerFrame(format);
  if (bytes > std::numeric_limits<int32_t>::max()) return nullptr;
  auto sample = std::make_shared<TAudioSample>();
  sample->_owned.reset(new uint8_t[bytes > 0 ? bytes : 1]());
  sample->samples = sample->_owned.get();
  sample->length = length;
  sample->hertz = hertz;
  sample->format = format;
  sample->capacity = static_cast<int32_t>(bytes);
  return sample;
}

std::shared_ptr<TAudioSample> TAudioSample::CreateStatic(void* data, int32_t length, int32_t hertz,
                                                         int32_t format) {
  auto sample = std::make_shared<TAudioSample>();
  sample->samples = static_cast<uint8_t*>(data);
  sample->length = length < 0 ? 0 : length;
  sample->hertz = hertz;
  sample->format = format;
  sample->capacity = -1;
  return sample;
}

int64_t TAudioSample::ByteSize() const {
  return static_cast<int64_t>(length) * PcmBytesPerFrame(format);
}

std::shared_ptr<TAudioSample> TAudioSample::Copy() const {
  auto copy = Create(length, hertz, format);
  if (copy && ByteSize() > 0) std::memcpy(copy->samples, samples, static_cast<size_t>(ByteSize()));
  return copy;
}

std::shared_ptr<TAudioSample> TAudioSample::Convert(int32_t toFormat) const {
  if (!PcmBytesPerFrame(format) || !PcmBytesPerFrame(toFormat))
    throw TRuntimeError(kConversionError);
  if (toFormat == format) return Copy();
  // Every pair goes through PCM_STEREO16BE, frame by frame.
  auto out = Create(length, hertz, toFormat);
  if (!out) return nullptr;
  const int32_t inStep = PcmBytesPerFrame(format), outStep = PcmBytesPerFrame(toFormat);
  for (int32_t i = 0; i < length; ++i) {
    int16_t left, right;
    DecodeFrame(samples + static_cast<int64_t>(i) * inStep, format, left, right);
    EncodeFrame(out->samples + static_cast<int64_t>(i) * outStep, toFormat, left, right);
  }
  return out;
}

void RegisterAudioSampleLoader(std::shared_ptr<TAudioSampleLoader> loader) {
  if (loader) SampleLoaders().push_front(std::move(loader));
}

void ClearAudioSampleLoaders() { SampleLoaders().clear(); }

std::shared_ptr<TAudioSample> LoadAudioSample(const std::shared_ptr<TStream>& stream) {
  if (!stream) return nullptr;
  int64_t start = stream->Pos();
  if (start == -1) {
    stream->Close();
    throw TRuntimeError("Stream is not seekable");
  }
  std::shared_ptr<TAudioSample> sample;
  for (const auto& loader : SampleLoaders()) {
    stream->Seek(start);
    sample = loader->LoadAudioSample(*stream);
    if (sample) break;
  }
  stream->Close();
  return sample;
}

std::shared_ptr<TAudioSample> LoadAudioSample(const TString& url) {
  return LoadAudioSample(OpenStream(url, true, false));
}
