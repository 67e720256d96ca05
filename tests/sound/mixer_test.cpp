// The mixing arithmetic against hand-computed samples, the channel table's
// handles and slots, and allocation-free mixing.
#include <gtest/gtest.h>

#include <random>

#include "bench/plain_mixer.h"
#include "sound/channels.h"
#include "sound/mixer.h"
#include "tests/sound/alloc_counter.h"

namespace {

using namespace mix;

constexpr int kFrames = kBlockFrames;

// Little-endian 16-bit PCM bytes of `samples`.
std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes;
  for (int16_t s : samples) {
    bytes.push_back(static_cast<uint8_t>(s & 0xff));
    bytes.push_back(static_cast<uint8_t>((static_cast<uint16_t>(s) >> 8) & 0xff));
  }
  return bytes;
}

std::shared_ptr<const samplebuffer> Buffer16(const std::vector<int16_t>& samples, int channels,
                                             bool loop = false, int frequency = kMixRate) {
  auto pcm = Pcm16(samples);
  return samplebuffer::Create(pcm.data(), static_cast<int32_t>(samples.size()) / channels,
                              frequency, channels, 16, loop);
}

// Mono ramp: frame i holds i x step.
std::vector<int16_t> Ramp(int frames, int step) {
  std::vector<int16_t> samples(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) samples[static_cast<size_t>(i)] = static_cast<int16_t>(i * step);
  return samples;
}

class Mixer : public ::testing::Test {
 protected:
  // Requests made at time 0 and mixed at time 20 start on the block's first frame.
  uint32_t Start(std::shared_ptr<const samplebuffer> buffer, uint32_t handle = 0,
                 int32_t requestTime = 0) {
    return channels.Play(std::move(buffer), handle, false, requestTime);
  }
  // Mixes one block; returns left and right samples interleaved.
  const std::vector<int16_t>& Mix(int32_t now = kStartOffsetMs) {
    out.assign(2 * kFrames, 0);
    engine.MixBlock(now, out.data());
    return out;
  }
  int16_t L(int frame) const { return out[2 * static_cast<size_t>(frame)]; }
  int16_t R(int frame) const { return out[2 * static_cast<size_t>(frame) + 1]; }

  mixer engine;
  channeltable channels{engine};
  std::vector<int16_t> out;
};

TEST_F(Mixer, OneVoiceAtUnityComesOutAtItsOwnLevel) {
  std::vector<int16_t> stereo;
  for (int i = 0; i < 300; ++i) {
    stereo.push_back(static_cast<int16_t>(i * 100 - 15000));
    stereo.push_back(static_cast<int16_t>(-i * 7));
  }
  uint32_t handle = Start(Buffer16(stereo, 2));
  ASSERT_NE(handle, 0u);
  EXPECT_TRUE(channels.Playing(handle));
  Mix();
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(L(i), i * 100 - 15000) << i;
    ASSERT_EQ(R(i), -i * 7) << i;
  }
  EXPECT_EQ(L(300), 0);
  EXPECT_EQ(R(1023), 0);
  EXPECT_FALSE(channels.Playing(handle));  // ended inside the block
}

TEST_F(Mixer, AMonoVoiceFeedsBothSidesEqually) {
  Start(Buffer16(Ramp(600, 50), 1));
  Mix();
  EXPECT_EQ(L(0), 0);
  EXPECT_EQ(L(333), 16650);
  EXPECT_EQ(R(333), 16650);
  EXPECT_EQ(R(599), 29950);
  EXPECT_EQ(L(600), 0);
}

TEST_F(Mixer, TwoOverlappingTicksAreBothHeard) {
  auto tick = Buffer16(Ramp(2000, 5), 1);
  Start(tick, 0, 0);
  Start(tick, 0, 10);  // 10 ms later: 441 frames into the first
  Mix();
  EXPECT_EQ(L(440), 2200);         // the first alone
  EXPECT_EQ(L(441), 2205 + 0);     // the second starts
  EXPECT_EQ(L(500), 2500 + 295);   // 500 x 5 + 59 x 5
  EXPECT_EQ(R(1023), 5115 + 2910);  // 1023 x 5 + 582 x 5
  Mix();
  EXPECT_EQ(L(0), 5120 + 2915);
  EXPECT_EQ(L(975), 9995 + 7790);  // frame 1999 of the first, 1558 of the second
  EXPECT_EQ(L(976), 7795);         // the first has ended
}

TEST_F(Mixer, PanLowersTheOtherSide) {
  auto buffer = Buffer16(std::vector<int16_t>(100, 1000), 1);
  uint32_t right = channels.Alloc();
  uint32_t left = channels.Alloc();
  channels.SetPan(right, 2048);   // left gain 4096 x 2048 / 4096
  channels.SetPan(left, -1024);   // right gain 4096 x 3072 / 4096
  Start(buffer, right);
  Mix();
  EXPECT_EQ(L(10), 500);
  EXPECT_EQ(R(10), 1000);
  Start(Buffer16(std::vector<int16_t>(100, -1000), 1), left);
  Mix();
  EXPECT_EQ(L(10), -1000);
  EXPECT_EQ(R(10), -750);
}

TEST_F(Mixer, NegativeDepthInvertsTheRightSide) {
  uint32_t handle = channels.Alloc();
  channels.SetDepth(handle, -1);
  Start(Buffer16({1200, 1200, 1200}, 1), handle);
  Mix();
  EXPECT_EQ(L(1), 1200);
  EXPECT_EQ(R(1), -1200);
}

TEST_F(Mixer, TheSumIsClippedAfterTheShift) {
  auto loud = Buffer16(std::vector<int16_t>(50, 30000), 1);
  auto low = Buffer16(std::vector<int16_t>(50, -30000), 1);
  Start(loud);
  Start(loud);
  Mix();
  EXPECT_EQ(L(0), 32767);
  Start(low);
  Start(low);
  Mix();
  EXPECT_EQ(R(0), -32768);
  // Volume above unity clips the same way; below it scales.
  uint32_t handle = channels.Alloc();
  channels.SetVolume(handle, 8192);
  Start(Buffer16(std::vector<int16_t>(50, 20000), 1), handle);
  Mix();
  EXPECT_EQ(L(0), 32767);
}

TEST_F(Mixer, ALoopingVoiceWrapsAndInterpolatesIntoItsFirstFrame) {
  auto loop = Buffer16(Ramp(100, 10), 1, true);
  uint32_t handle = Start(loop);
  Mix();
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(L(i), (i % 100) * 10) << i;
  Mix();
  EXPECT_EQ(L(0), 240);  // frame 1024 = 10 x 100 + 24
  EXPECT_TRUE(channels.Playing(handle));
  channels.Stop(handle);

  // At half speed output frame 199 sits half-way between the last frame
  // (990) and the extra frame after it, which for a looping sound is the
  // first (0).
  uint32_t slow = channels.Alloc();
  channels.SetRate(slow, 0x8000);
  Start(loop, slow);
  Mix();
  EXPECT_EQ(L(198), 990);
  EXPECT_EQ(L(199), 495);
  EXPECT_EQ(L(200), 0);
  EXPECT_EQ(L(201), 5);
}

TEST_F(Mixer, AnEndedVoiceInterpolatesTowardsItsLastFrame) {
  uint32_t slow = channels.Alloc();
  channels.SetRate(slow, 0x8000);
  Start(Buffer16(Ramp(100, 10), 1), slow);
  Mix();
  EXPECT_EQ(L(198), 990);
  EXPECT_EQ(L(199), 990);  // the extra frame repeats the last one
  EXPECT_EQ(L(200), 0);
}

TEST_F(Mixer, RateScalesThePositionStep) {
  uint32_t fast = channels.Alloc();
  channels.SetRate(fast, 0x20000);
  Start(Buffer16(Ramp(1000, 20), 1), fast);
  Mix();
  EXPECT_EQ(L(100), 4000);  // source frame 200
  EXPECT_EQ(L(499), 19960);
  EXPECT_EQ(L(500), 0);
  // A sound at half the output rate advances half a frame per output frame.
  Start(Buffer16(Ramp(100, 20), 1, false, kMixRate / 2));
  Mix();
  EXPECT_EQ(L(3), 30);  // between 20 and 40
}

TEST_F(Mixer, VolumeRampsAcrossOneBlock) {
  uint32_t handle = Start(Buffer16(std::vector<int16_t>(5000, 1024), 1));
  Mix();
  EXPECT_EQ(L(1000), 1024);
  channels.SetVolume(handle, 0);
  Mix();
  EXPECT_EQ(L(0), 1024);
  EXPECT_EQ(L(512), 512);    // 1024 x (4096 - 2048) / 256 >> 4
  EXPECT_EQ(L(1023), 1);     // 1024 x 4 / 256 >> 4
  Mix();
  EXPECT_EQ(L(0), 0);
}

TEST_F(Mixer, APausedVoiceResumesWithoutARamp) {
  uint32_t handle = Start(Buffer16(std::vector<int16_t>(5000, 1024), 1));
  Mix();
  channels.SetPaused(handle, true);
  EXPECT_FALSE(channels.Playing(handle));
  channels.SetVolume(handle, 2048);
  Mix();
  EXPECT_EQ(L(0), 0);
  channels.SetPaused(handle, false);
  Mix();
  EXPECT_EQ(L(0), 512);
  EXPECT_EQ(L(1023), 512);
}

TEST_F(Mixer, EightBitDataIsCentredAndWidened) {
  const uint8_t pcm[4] = {200, 56, 128, 255};
  Start(samplebuffer::Create(pcm, 2, kMixRate, 2, 8, false));
  Mix();
  EXPECT_EQ(L(0), (200 - 128) * 256);
  EXPECT_EQ(R(0), (56 - 128) * 256);
  EXPECT_EQ(L(1), 0);
  EXPECT_EQ(R(1), 127 * 256);
}

TEST_F(Mixer, AStartDelayCanCrossABlockBoundary) {
  auto buffer = Buffer16(Ramp(500, 3), 1);
  // Requested for 1000 ms, mixed at 990: 30 ms = 1323 frames away.
  Start(buffer, 0, 1000);
  Mix(990);
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(L(i), 0) << i;
  Mix(1013);
  EXPECT_EQ(L(298), 0);
  EXPECT_EQ(L(299), 0);  // frame 0 of the ramp is 0
  EXPECT_EQ(L(300), 3);
  EXPECT_EQ(L(798), 1497);
  EXPECT_EQ(L(799), 0);
}

TEST_F(Mixer, ANewVoiceStartsTwentyMillisecondsAfterItsRequest) {
  Start(Buffer16({5, 6, 7}, 1), 0, 100);
  Mix(100);
  EXPECT_EQ(L(881), 0);
  EXPECT_EQ(L(882), 5);  // 20 ms at 44100 Hz
  EXPECT_EQ(L(884), 7);
}

// Fault guarded: an old handle whose slot was handed out again must not act
// on the new holder's voice.
TEST_F(Mixer, AStaleHandleDoesNothing) {
  auto buffer = Buffer16(std::vector<int16_t>(100, 800), 1);
  uint32_t old = Start(buffer);
  Mix();
  EXPECT_EQ(channels.FreeSlots(), static_cast<int32_t>(kChannelSlots - 1));
  uint32_t fresh = Start(Buffer16(std::vector<int16_t>(3000, 800), 1));
  ASSERT_EQ(fresh & (kChannelSlots - 1), old & (kChannelSlots - 1));  // same slot
  ASSERT_NE(fresh, old);
  channels.Stop(old);
  channels.SetVolume(old, 0);
  channels.SetPaused(old, true);
  EXPECT_FALSE(channels.Playing(old));
  EXPECT_EQ(channels.Play(buffer, old, false, 0), 0u);
  Mix();
  EXPECT_EQ(L(500), 800);
  EXPECT_TRUE(channels.Playing(fresh));
  channels.Stop(fresh);
  EXPECT_FALSE(channels.Playing(fresh));
  Mix();
  EXPECT_EQ(L(0), 0);
}

TEST_F(Mixer, PlayWithNoFreeSlotPlaysNothing) {
  auto buffer = Buffer16(std::vector<int16_t>(10, 1), 1);
  std::vector<uint32_t> kept;
  for (uint32_t i = 1; i < kChannelSlots; ++i) kept.push_back(channels.Alloc());
  EXPECT_EQ(kept.back() & (kChannelSlots - 1), kChannelSlots - 1);
  EXPECT_EQ(channels.Alloc(), 0u);
  EXPECT_EQ(Start(buffer), 0u);
  channels.Release(kept[7]);
  EXPECT_NE(Start(buffer), 0u);
}

// Fault guarded: more starts than the new-voice ring holds between two blocks
// must be refused, not overwrite voices the mixer has not taken yet.
TEST_F(Mixer, AFullNewVoiceRingRefusesTheStart) {
  auto buffer = Buffer16(std::vector<int16_t>(10, 1), 1);
  uint32_t handle = channels.Alloc();
  uint32_t started = 0;
  for (uint32_t i = 0; i < kRingSize + 10; ++i) started += channels.Play(buffer, handle, false, 0) != 0;
  EXPECT_EQ(started, kRingSize - 1);
  Mix();
  EXPECT_NE(channels.Play(buffer, handle, false, 0), 0u);
}

TEST_F(Mixer, ReplayingOnAKeptChannelReplacesWhatItPlayed) {
  uint32_t handle = channels.Alloc();
  Start(Buffer16(std::vector<int16_t>(5000, 1000), 1, true), handle);
  Mix();
  EXPECT_EQ(L(0), 1000);
  Start(Buffer16(std::vector<int16_t>(5000, 300), 1), handle);
  Mix();
  EXPECT_EQ(L(0), 300);  // the looping voice stopped
  // Once ended, the kept channel stays allocated and can play again.
  for (int i = 0; i < 5; ++i) Mix();
  EXPECT_FALSE(channels.Playing(handle));
  EXPECT_EQ(channels.FreeSlots(), static_cast<int32_t>(kChannelSlots - 2));
  Start(Buffer16({77, 77}, 1), handle);
  Mix();
  EXPECT_EQ(L(1), 77);
  channels.Release(handle);
  Mix();
  EXPECT_EQ(channels.FreeSlots(), static_cast<int32_t>(kChannelSlots - 1));
}

TEST_F(Mixer, ACuedVoiceWaitsForItsChannelToResume) {
  uint32_t handle = channels.Play(Buffer16({40, 41, 42}, 1), 0, true, 0);
  Mix();
  EXPECT_EQ(L(0), 0);
  EXPECT_FALSE(channels.Playing(handle));
  channels.SetPaused(handle, false);
  Mix();
  EXPECT_EQ(L(0), 40);
}

TEST_F(Mixer, MixingAllocatesNothingOnceVoicesAreRecycled) {
  auto buffer = Buffer16(Ramp(3000, 5), 2);
  for (int i = 0; i < 16; ++i) Start(buffer, 0, i);
  for (int i = 0; i < 4; ++i) Mix();
  EXPECT_EQ(channels.FreeSlots(), static_cast<int32_t>(kChannelSlots - 1));
  const size_t voices = channels.VoiceObjects();
  out.assign(2 * kFrames, 0);

  StartCountingAllocations();
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 16; ++i) channels.Play(buffer, 0, false, i);
    for (int i = 0; i < 4; ++i) engine.MixBlock(kStartOffsetMs + 16, out.data());
  }
  EXPECT_EQ(StopCountingAllocations(), 0);
  EXPECT_EQ(channels.VoiceObjects(), voices);
}

// Fault guarded: sums past the 32-bit accumulator must saturate, not wrap
// round to the opposite sign.
TEST_F(Mixer, SumsBeyondTheAccumulatorSaturate) {
  auto loud = Buffer16(std::vector<int16_t>(50, 32767), 1);
  for (int i = 0; i < 2; ++i) {
    uint32_t handle = channels.Alloc();
    channels.SetVolume(handle, 1 << 24);  // each voice nearly fills the accumulator
    Start(loud, handle);
  }
  Mix();
  EXPECT_EQ(L(0), 32767);
  EXPECT_EQ(R(49), 32767);
}

// Fault guarded: the mixer's shortcuts (32-bit sums, steps and gains worked
// out once per block) must give the very samples of the plain arithmetic,
// ramps, loops and ends inside a block included.
TEST(MixerArithmetic, BlocksMatchAPlainMixerBitForBit) {
  for (bool ramping : {false, true}) {
    SCOPED_TRACE(ramping ? "ramping" : "steady");
    std::mt19937 random(ramping ? 2 : 1);
    auto uniform = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    mixer engine;
    channeltable table(engine);
    std::vector<std::shared_ptr<const samplebuffer>> buffers;
    std::vector<uint32_t> handles;
    std::vector<plain_voice> plain(40);
    // New volume and rate for voice `v` in both mixers, ramping from the last.
    auto retune = [&](size_t v) {
      plain[v].rate0 = plain[v].rate1, plain[v].volume0 = plain[v].volume1;
      plain[v].rate1 = uniform(0, 0x40000), plain[v].volume1 = uniform(-32768, 32767);
      table.SetRate(handles[v], plain[v].rate1);
      table.SetVolume(handles[v], plain[v].volume1);
    };
    for (size_t v = 0; v < plain.size(); ++v) {
      const int channelCount = uniform(1, 2);
      std::vector<int16_t> samples(static_cast<size_t>(uniform(1, 3000) * channelCount));
      for (int16_t& s : samples) s = static_cast<int16_t>(uniform(-32768, 32767));
      buffers.push_back(Buffer16(samples, channelCount, uniform(0, 1), uniform(4000, 96000)));
      const samplebuffer& b = *buffers.back();
      plain_voice& p = plain[v];
      p.data = b.data16.data(), p.channels = b.channels, p.length = b.length;
      p.frequency = b.frequency, p.loop = b.loop;
      p.pan = uniform(-4096, 4096), p.depth = uniform(-1, 1);
      handles.push_back(table.Alloc());
      table.SetPan(handles[v], p.pan);
      table.SetDepth(handles[v], p.depth);
      retune(v);
      p.rate0 = p.rate1, p.volume0 = p.volume1;  // no ramp at first
      table.Play(buffers.back(), handles[v], false, 0);
    }
    std::vector<int16_t> ours(2 * kFrames), expected(2 * kFrames);
    std::vector<int32_t> accumulator(2 * kFrames);
    for (int block = 0; block < 12; ++block) {
      for (size_t v = 0; ramping && block > 0 && v < plain.size(); ++v) retune(v);
      engine.MixBlock(kStartOffsetMs, ours.data());
      plain_mix_block(plain.data(), static_cast<int>(plain.size()), accumulator.data(),
                      expected.data());
      ASSERT_TRUE(ours == expected) << "block " << block;
      for (size_t v = 0; v < plain.size(); ++v)
        ASSERT_EQ(table.Playing(handles[v]), !plain[v].finished) << "voice " << v;
    }
  }
}

TEST_F(Mixer, BuffersRefuseWhatTheMixerCannotPlay) {
  const uint8_t pcm[8] = {};
  EXPECT_EQ(samplebuffer::Create(pcm, 2, kMixRate, 3, 16, false), nullptr);
  EXPECT_EQ(samplebuffer::Create(pcm, 2, kMixRate, 2, 12, false), nullptr);
  EXPECT_EQ(samplebuffer::Create(pcm, 0, kMixRate, 1, 16, false), nullptr);
  EXPECT_EQ(samplebuffer::Create(pcm, 2, 0, 1, 16, false), nullptr);
  EXPECT_NE(samplebuffer::Create(pcm, 2, 8000, 2, 16, false), nullptr);
}

}  // namespace
