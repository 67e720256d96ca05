// Embedded files, "incbin::" streams, PCM conversions and the Ogg loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "core/error.h"
#include "sound/driver.h"
#include "sound/ogg_loader.h"
#include "sound/sample.h"
#include "sound/sound.h"
#include "sound/stream.h"
#include "tests/sound/ogg_encoder.h"

namespace {

class SoundData : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterEmbeddedSounds();
    ClearAudioSampleLoaders();
    RegisterAudioSampleLoader(std::make_shared<TAudioSampleLoaderOGG>());
  }
};

// A stream that cannot tell its position.
class TPipeLikeStream : public TStream {
 public:
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t) override { return 0; }
};

// Counts the loaders asked and remembers where the stream stood.
class TProbeLoader : public TAudioSampleLoader {
 public:
  std::shared_ptr<TAudioSample> LoadAudioSample(TStream& stream) override {
    ++calls;
    seenPos = stream.Pos();
    stream.Seek(stream.Pos() + 7);  // a loader that reads and fails moves the stream
    return result;
  }
  int calls = 0;
  int64_t seenPos = -2;
  std::shared_ptr<TAudioSample> result;
};

std::vector<int16_t> Sine(int frames, int channels, double hz) {
  std::vector<int16_t> pcm(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      pcm[static_cast<size_t>(i) * channels + c] =
          static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * (c + 1) * i / 44100.0));
  return pcm;
}

std::shared_ptr<TAudioSample> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto stream = std::make_shared<TRamStream>(const_cast<uint8_t*>(bytes.data()),
                                             static_cast<int64_t>(bytes.size()), true, false);
  return LoadAudioSample(stream);
}

TEST_F(SoundData, EmbeddedRegistryKeepsTheFirstRegistration) {
  static const uint8_t other[] = {1, 2, 3};
  const uint8_t* tick = EmbeddedFileData(u"tick.ogg");
  ASSERT_NE(tick, nullptr);
  EXPECT_EQ(std::memcmp(tick, "OggS", 4), 0);
  EXPECT_GT(EmbeddedFileSize(u"ding.ogg"), 10000);
  EXPECT_EQ(AddEmbeddedFile(u"tick.ogg", other, sizeof other), 0);
  EXPECT_EQ(EmbeddedFileData(u"tick.ogg"), tick);
  EXPECT_EQ(EmbeddedFileData(u"Tick.ogg"), nullptr);
  EXPECT_EQ(EmbeddedFileSize(u"missing.ogg"), 0);
  EXPECT_EQ(AddEmbeddedFile(u"three.bin", other, sizeof other), 1);
  EXPECT_EQ(EmbeddedFileSize(u"three.bin"), 3);
}

TEST_F(SoundData, IncbinProtocolIgnoresCaseButNamesDoNot) {
  auto lower = std::dynamic_pointer_cast<TRamStream>(OpenStream(u"incbin::tick.ogg", true, false));
  auto upper = std::dynamic_pointer_cast<TRamStream>(OpenStream(u"INCBIN::tick.ogg", true, false));
  ASSERT_TRUE(lower && upper);
  EXPECT_EQ(lower->Buffer(), upper->Buffer());
  EXPECT_EQ(upper->Size(), EmbeddedFileSize(u"tick.ogg"));
  EXPECT_EQ(OpenStream(u"incbin::Tick.ogg", true, false), nullptr);
  EXPECT_EQ(OpenStream(u"incbin::tick.ogg", true, true), nullptr);  // read-only
  EXPECT_EQ(OpenStream(u"tick.ogg", true, false), nullptr);
  EXPECT_EQ(OpenStream(u"zip::tick.ogg", true, false), nullptr);
  EXPECT_EQ(CurrentAudioDriver().LoadSound(u"incbin::Tick.ogg", 0), nullptr);
}

TEST_F(SoundData, RamStreamClampsSeeksAndCopiesOnlyWhatIsLeft) {
  uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  TRamStream stream(bytes, 10, true, false);
  EXPECT_EQ(stream.Seek(-5), 0);
  EXPECT_EQ(stream.Seek(99), 10);
  EXPECT_EQ(stream.Seek(7), 7);
  uint8_t out[8] = {};
  EXPECT_EQ(stream.Read(out, 8), 3);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[2], 9);
  EXPECT_EQ(stream.Read(out, 8), 0);
  EXPECT_EQ(stream.Write(out, 1), 0);  // not writable

  TRamStream writable(bytes, 10, false, true);
  writable.Seek(8);
  const uint8_t data[4] = {42, 43, 44, 45};
  EXPECT_EQ(writable.Write(data, 4), 2);
  EXPECT_EQ(bytes[9], 43);
  writable.Seek(0);
  EXPECT_EQ(writable.Read(out, 4), 0);  // not readable
}

// Left holds every 8-bit level rising, right the same falling; a trip through
// any format and back keeps them all (a mono format keeps the left side).
TEST_F(SoundData, EveryEightBitLevelSurvivesATripThroughEveryFormat) {
  uint8_t levels[2 * 256];
  for (int i = 0; i < 256; ++i) {
    levels[2 * i] = static_cast<uint8_t>(i);
    levels[2 * i + 1] = static_cast<uint8_t>(255 - i);
  }
  auto source = TAudioSample::CreateStatic(levels, 256, 8000, PCM_STEREO8);
  EXPECT_EQ(source->capacity, -1);  // over memory it does not own
  for (int32_t format : {PCM_MONO8, PCM_MONO16LE, PCM_MONO16BE, PCM_STEREO8, PCM_STEREO16LE,
                         PCM_STEREO16BE}) {
    auto there = source->Convert(format);
    ASSERT_EQ(there->format, format);
    auto back = there->Convert(PCM_STEREO8);
    const bool mono = PcmChannels(format) == 1;
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(back->samples[2 * i], i) << "format " << format;
      ASSERT_EQ(back->samples[2 * i + 1], mono ? i : 255 - i) << "format " << format;
    }
  }
}

TEST_F(SoundData, WideningKeepsFullScaleAndSilenceAndNarrowingKeepsOrder) {
  uint8_t levels[3] = {0, 128, 255};
  auto wide = TAudioSample::CreateStatic(levels, 3, 8000, PCM_MONO8)->Convert(PCM_MONO16LE);
  auto word = [&](int i) {
    return static_cast<int16_t>(wide->samples[2 * i] | wide->samples[2 * i + 1] << 8);
  };
  EXPECT_EQ(word(0), INT16_MIN);
  EXPECT_LT(std::abs(word(1)), 256);
  EXPECT_EQ(word(2), INT16_MAX);

  int16_t rising[] = {INT16_MIN, -20000, -129, -1, 0, 1, 257, 20000, INT16_MAX};
  const int count = static_cast<int>(std::size(rising));
  auto narrow = TAudioSample::CreateStatic(rising, count, 8000, PCM_MONO16LE)->Convert(PCM_MONO8);
  EXPECT_EQ(narrow->samples[0], 0);
  EXPECT_EQ(narrow->samples[count - 1], 255);
  EXPECT_TRUE(std::is_sorted(narrow->samples, narrow->samples + count));
}

TEST_F(SoundData, BigEndianWordsAreReadHighByteFirst) {
  uint8_t stereoBE[4] = {0x12, 0x34, 0xAB, 0xCD};
  auto be = TAudioSample::CreateStatic(stereoBE, 1, 8000, PCM_STEREO16BE);
  auto le = be->Convert(PCM_STEREO16LE);
  EXPECT_EQ(std::vector<uint8_t>(le->samples, le->samples + 4),
            (std::vector<uint8_t>{0x34, 0x12, 0xCD, 0xAB}));
  auto monoBE = be->Convert(PCM_MONO16BE);  // the left word
  EXPECT_EQ(std::vector<uint8_t>(monoBE->samples, monoBE->samples + monoBE->ByteSize()),
            (std::vector<uint8_t>{0x12, 0x34}));
  // Either byte order narrows to the same levels.
  EXPECT_EQ(std::memcmp(be->Convert(PCM_STEREO8)->samples, le->Convert(PCM_STEREO8)->samples, 2),
            0);
}

TEST_F(SoundData, UnknownFormatsRaiseTheConversionError) {
  auto sample = TAudioSample::Create(4, 44100, PCM_STEREO16LE);
  try {
    sample->Convert(7);
    FAIL() << "no error";
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Unimplemented sample format conversion");
  }
  auto odd = TAudioSample::Create(4, 44100, 0);
  EXPECT_THROW(odd->Convert(PCM_MONO8), TRuntimeError);
}

TEST_F(SoundData, LoadingNeedsAStreamThatTellsItsPosition) {
  try {
    LoadAudioSample(std::make_shared<TPipeLikeStream>());
    FAIL() << "no error";
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Stream is not seekable");
  }
}

TEST_F(SoundData, LoadersAreAskedNewestFirstFromTheSamePosition) {
  auto older = std::make_shared<TProbeLoader>();
  auto newer = std::make_shared<TProbeLoader>();
  older->result = TAudioSample::Create(1, 100, PCM_MONO8);
  ClearAudioSampleLoaders();
  RegisterAudioSampleLoader(older);
  RegisterAudioSampleLoader(newer);
  uint8_t bytes[32] = {};
  auto stream = std::make_shared<TRamStream>(bytes, 32, true, false);
  stream->Seek(5);
  EXPECT_EQ(LoadAudioSample(stream), older->result);
  EXPECT_EQ(newer->calls, 1);
  EXPECT_EQ(newer->seenPos, 5);
  EXPECT_EQ(older->seenPos, 5);  // seeked back after the newer one failed
}

TEST_F(SoundData, BothCueSoundsDecode) {
  struct {
    const char16_t* url;
    double seconds;
  } cues[] = {{u"incbin::tick.ogg", 1.62}, {u"incbin::ding.ogg", 2.32}};
  for (const auto& cue : cues) {
    auto sample = LoadAudioSample(cue.url);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sample->format, PCM_STEREO16LE);
    EXPECT_EQ(sample->hertz, 44100);
    EXPECT_NEAR(sample->length, cue.seconds * 44100, 50);
    // Not silent: the peak is well above the noise floor.
    int peak = 0;
    for (int64_t i = 0; i + 1 < sample->ByteSize(); i += 2)
      peak = std::max(peak, std::abs(static_cast<int16_t>(sample->samples[i] |
                                                          sample->samples[i + 1] << 8)));
    EXPECT_GT(peak, 8000);
  }
}

TEST_F(SoundData, MonoOggLoadsAsMono16) {
  auto sample = LoadBytes(EncodeOgg(Sine(4410, 1, 440), 1, 22050));
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->format, PCM_MONO16LE);
  EXPECT_EQ(sample->hertz, 22050);
  EXPECT_EQ(sample->length, 4410);
}

TEST_F(SoundData, MoreThanTwoChannelsAreRefused) {
  EXPECT_EQ(LoadBytes(EncodeOgg(Sine(2000, 3, 440), 3, 44100)), nullptr);
}

TEST_F(SoundData, NonOggDataLoadsNothing) {
  std::vector<uint8_t> junk(4096, 0x5A);
  EXPECT_EQ(LoadBytes(junk), nullptr);
  EXPECT_EQ(LoadBytes({}), nullptr);
}

// Fault guarded: a stream announcing more frames than it holds must end the
// decoding loop, not spin waiting for data that never comes.
TEST_F(SoundData, AStreamShorterThanAnnouncedEndsTheDecodeLoop) {
  std::vector<uint8_t> ogg = EncodeOgg(Sine(8000, 2, 440), 2, 44100);
  SetLastGranule(ogg, 40000);
  auto sample = LoadBytes(ogg);
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->format, PCM_STEREO16LE);
  // What was really there: the 8000 frames and the last block's padding
  // (its end is no longer trimmed, the granule being wrong).
  EXPECT_GE(sample->length, 8000);
  EXPECT_LT(sample->length, 8000 + 2048);
}

TEST_F(SoundData, ACutOffStreamLoadsWhatItHoldsOrNothing) {
  std::vector<uint8_t> ogg = EncodeOgg(Sine(20000, 2, 440), 2, 44100);
  for (size_t keep : {ogg.size() / 2, ogg.size() - 100, size_t{200}}) {
    std::vector<uint8_t> cut(ogg.begin(), ogg.begin() + static_cast<long>(keep));
    auto sample = LoadBytes(cut);
    if (sample) {
      EXPECT_LE(sample->length, 20000);
    }
  }
}

}  // namespace
