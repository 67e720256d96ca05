// The mixing driver with real output: its thread writing to a FIFO in place
// of the OSS device, to ALSA's file plugin where there is no OSS device, and
// the silent driver where there is neither; the output thread's pacing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "sound/driver.h"
#include "sound/mix_driver.h"
#include "sound/mixer.h"
#include "sound/pacer.h"
#include "sound/sample.h"
#include "sound/sound.h"
#include "tests/support/wait_until.h"

namespace {

std::string g_dir;        // private temporary directory
std::string g_alsaFile;   // where ALSA's default PCM writes

// ALSA reads this configuration instead of the system's: its default PCM is
// the file plugin over a null device, so what the driver plays lands in a
// file (unpaced, as fast as the thread mixes).
class TAlsaFileEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/colloquor-sound-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    g_dir = pattern;
    g_alsaFile = g_dir + "/alsa.raw";
    std::ofstream(g_dir + "/asound.conf") << "pcm.!default {\n  type file\n  slave.pcm \"quiet\"\n"
                                          << "  file \"" << g_alsaFile << "\"\n  format \"raw\"\n}\n"
                                          << "pcm.quiet {\n  type null\n}\n";
    setenv("ALSA_CONFIG_PATH", (g_dir + "/asound.conf").c_str(), 1);
    RegisterEmbeddedSounds();
    InitSound();
  }
  void TearDown() override { std::system(("rm -rf '" + g_dir + "'").c_str()); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new TAlsaFileEnvironment);

const char* const kNoOss = "/nonexistent/dsp";
const char* const kNoAlsa = "colloquor_no_such_pcm";

// A stereo sample of `frames` frames, every frame (left, right).
std::shared_ptr<TAudioSample> Constant(int frames, int16_t left, int16_t right) {
  auto sample = TAudioSample::Create(frames, 44100, PCM_STEREO16LE);
  for (int i = 0; i < frames; ++i) {
    uint8_t* p = sample->samples + 4 * i;
    p[0] = static_cast<uint8_t>(left & 0xff), p[1] = static_cast<uint8_t>((left >> 8) & 0xff);
    p[2] = static_cast<uint8_t>(right & 0xff), p[3] = static_cast<uint8_t>((right >> 8) & 0xff);
  }
  return sample;
}

std::vector<int16_t> Words(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> words(bytes.size() / 2);
  for (size_t i = 0; i < words.size(); ++i)
    words[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
  return words;
}

std::vector<int16_t> ReadFileWords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Words(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
}

// First stereo frame that is not silent, or -1.
long FirstSoundingFrame(const std::vector<int16_t>& words) {
  for (size_t i = 0; i + 1 < words.size(); i += 2)
    if (words[i] || words[i + 1]) return static_cast<long>(i / 2);
  return -1;
}

// Checks that `words` holds silence, then exactly `frames` frames of
// (left, right), then silence again.
void ExpectOneConstantRun(const std::vector<int16_t>& words, long frames, int16_t left,
                          int16_t right) {
  long first = FirstSoundingFrame(words);
  ASSERT_GE(first, 0);
  ASSERT_GE(static_cast<long>(words.size() / 2), first + frames + 1);
  for (long i = first; i < first + frames; ++i) {
    ASSERT_EQ(words[2 * i], left) << "frame " << i - first;
    ASSERT_EQ(words[2 * i + 1], right) << "frame " << i - first;
  }
  EXPECT_EQ(words[2 * (first + frames)], 0);
  EXPECT_EQ(words[2 * (first + frames) + 1], 0);
}

class Output : public ::testing::Test {
 protected:
  void TearDown() override {
    ShutdownAudio();
    std::remove(g_alsaFile.c_str());
  }
  // Lets the unpaced ALSA test device run on until `blocks` more blocks left.
  static bool WaitForBlocks(const TMixAudioDriver& driver, uint64_t blocks) {
    const uint64_t target = driver.BlocksWritten() + blocks;
    return WaitUntil([&] { return driver.BlocksWritten() >= target; });
  }
};

TEST_F(Output, TheOutputThreadWritesMixedBlocksToTheDevicePath) {
  const std::string fifo = g_dir + "/dsp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  TMixAudioDriver driver(u"TestFifo", fifo, kNoAlsa);
  ASSERT_EQ(SelectAudioDriver(u"testfifo"), 1);
  EXPECT_EQ(&CurrentAudioDriver(), &driver);
  EXPECT_EQ(driver.OutputKind(), "oss");

  auto sound = CurrentAudioDriver().LoadSound(Constant(4410, 1000, -1000), 0);
  ASSERT_TRUE(sound);
  ASSERT_TRUE(sound->Play());
  std::vector<uint8_t> bytes;
  auto drain = [&] {
    uint8_t chunk[16384];
    ssize_t n = read(reader, chunk, sizeof chunk);
    if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  };
  auto heardItAll = [&] {
    long first = FirstSoundingFrame(Words(bytes));
    return first >= 0 && static_cast<long>(bytes.size() / 4) > first + 4410;
  };
  ASSERT_TRUE(WaitUntil(heardItAll, 10000, drain));
  EXPECT_EQ(bytes.size() % 4096, 0u);  // whole blocks only
  ExpectOneConstantRun(Words(bytes), 4410, 1000, -1000);

  // The device goes away (the reader closes): writes fail, and shutting down
  // still ends the thread.
  close(reader);
  ShutdownAudio();
  EXPECT_EQ(driver.OutputKind(), "");
}

TEST_F(Output, WithoutAnOssDeviceTheBlocksGoToAlsa) {
  TMixAudioDriver driver(u"TestAlsa", kNoOss, "default");
  ASSERT_EQ(SelectAudioDriver(u"TestAlsa"), 1);
  EXPECT_EQ(driver.OutputKind(), "alsa");
  auto sound = driver.CreateSound(Constant(3000, -1234, 4321), 0);
  ASSERT_TRUE(sound->Play());
  ASSERT_TRUE(WaitForBlocks(driver, 20));
  SelectAudioDriver(u"Null");
  ExpectOneConstantRun(ReadFileWords(g_alsaFile), 3000, -1234, 4321);
}

TEST_F(Output, TheTickComesOutSampleForSample) {
  auto* mixer = dynamic_cast<TMixAudioDriver*>(FindAudioDriver(kDefaultAudioDriverName));
  ASSERT_NE(mixer, nullptr);
  mixer->SetDevicePaths(kNoOss, "default");
  // Through the application's calls: load by url, play and forget, shut down.
  TSoundRef tick = LoadSound(u"incbin::tick.ogg");
  EXPECT_EQ(CurrentAudioDriver().Name(), u"Mixer");
  ASSERT_TRUE(tick);
  PlaySound(tick);
  ASSERT_TRUE(WaitForBlocks(*mixer, 100));
  ShutdownSound();

  auto* sample = static_cast<TMixSound*>(tick.get())->Sample().get();
  std::vector<int16_t> expected(reinterpret_cast<const int16_t*>(sample->samples),
                                reinterpret_cast<const int16_t*>(sample->samples) +
                                    2 * sample->length);
  std::vector<int16_t> heard = ReadFileWords(g_alsaFile);
  long offset = FirstSoundingFrame(heard) - FirstSoundingFrame(expected);
  ASSERT_GE(offset, 0);
  ASSERT_GE(heard.size(), 2 * (offset + sample->length));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), heard.begin() + 2 * offset));
  mixer->SetDevicePaths("/dev/dsp", "default");
}

TEST_F(Output, KeptChannelsFollowTheirSettingsAndGoQuietAfterShutdown) {
  TMixAudioDriver driver(u"TestChannels", kNoOss, "default");
  ASSERT_EQ(SelectAudioDriver(u"TestChannels"), 1);
  auto sound = driver.CreateSound(Constant(2000, 1000, 1000), 0);
  auto channel = driver.AllocChannel();
  ASSERT_TRUE(channel);
  channel->SetVolume(0.5f);
  channel->SetPan(-1.0f);  // full left
  EXPECT_EQ(sound->Play(channel), channel);
  EXPECT_EQ(channel->Playing(), 1);
  channel->SetRate(-3.0f);   // saturated, not wrapped
  channel->SetRate(1.0f);
  channel->SetVolume(1e30f);
  channel->SetVolume(0.5f);
  ASSERT_TRUE(WaitForBlocks(driver, 20));
  EXPECT_EQ(channel->Playing(), 0);
  ShutdownAudio();
  ExpectOneConstantRun(ReadFileWords(g_alsaFile), 2000, 500, 0);

  // The run's channels are inert now; the sound plays again once restarted.
  channel->Stop();
  EXPECT_EQ(channel->Playing(), 0);
  EXPECT_EQ(sound->Play(), nullptr);
  ASSERT_EQ(SelectAudioDriver(u"TestChannels"), 1);
  auto fresh = sound->Play(channel);  // a channel of the old run is not reused
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh, channel);
  EXPECT_EQ(fresh->Playing(), 1);
}

TEST_F(Output, WithNoDeviceTheSilentDriverTakesOver) {
  TMixAudioDriver driver(u"TestNone", kNoOss, kNoAlsa);
  EXPECT_EQ(SelectAudioDriver(u"TestNone"), 0);
  EXPECT_EQ(CurrentAudioDriver().Name(), u"Null");
  EXPECT_EQ(SelectAudioDriver(u"NoSuchDriver"), 0);

  auto* mixer = dynamic_cast<TMixAudioDriver*>(FindAudioDriver(u"MIXER"));
  ASSERT_NE(mixer, nullptr);
  mixer->SetDevicePaths(kNoOss, kNoAlsa);
  ShutdownAudio();
  EXPECT_EQ(CurrentAudioDriver().Name(), u"Null");
  auto tick = CurrentAudioDriver().LoadSound(u"incbin::tick.ogg", 0);
  ASSERT_TRUE(tick);
  auto channel = tick->Play();
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->Playing(), 0);
  EXPECT_TRUE(tick->Cue(channel));
  EXPECT_EQ(CurrentAudioDriver().LoadSound(u"incbin::nothing.ogg", 0), nullptr);
  mixer->SetDevicePaths("/dev/dsp", "default");
}

// Fault guarded: a device that takes every block at once drew blocks from the
// output thread as fast as it could mix (a busy core, gigabytes a second).
TEST_F(Output, ADeviceThatTakesBlocksAtOnceIsFedInRealTime) {
  for (auto [oss, alsa] : {std::pair{"/dev/null", kNoAlsa}, {kNoOss, "default"}}) {
    TMixAudioDriver driver(u"TestPaced", oss, alsa);
    ASSERT_EQ(SelectAudioDriver(u"TestPaced"), 1);
    const uint64_t first = driver.BlocksWritten();
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuAtStart = std::clock();  // the process's CPU time
    // 64 blocks are 1.5 s of sound; a tenth of real time would still do.
    ASSERT_TRUE(WaitUntil([&] { return driver.BlocksWritten() >= first + 64; }, 15000));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpuAtStart) / CLOCKS_PER_SEC;
    const double blocks = static_cast<double>(driver.BlocksWritten() - first);
    const double realTime = wall * mix::kMixRate / mix::kBlockFrames;
    std::printf("%s: %.0f blocks in %.2f s (%.1f in real time), CPU %.1f %%\n",
                driver.OutputKind().c_str(), blocks, wall, realTime, 100 * cpu / wall);
    EXPECT_LE(blocks, realTime + 8);  // the device's queue and one more, and a little slack
    EXPECT_LT(cpu, wall / 4);
    ShutdownAudio();
  }
}

// Fault guarded: pacing by the clock alone starves a device whose clock runs
// a little fast; a device whose writes wait must keep setting the pace.
TEST(Pacing, RealTimeUnlessTheDeviceSetsThePace) {
  const int64_t block = 1'000'000'000ll * mix::kBlockFrames / mix::kMixRate;
  mix::pacer pacer(3);
  int64_t now = 0;
  int blocks = 0;
  for (; now < 600'000'000'000; ++blocks) {  // ten minutes of a device taking blocks at once
    pacer.Wrote(now, now + 10'000);
    now = std::max(now + 60'000, pacer.NextWrite());  // mixing takes 50 us
  }
  EXPECT_NEAR(blocks, now / block, 5);
  for (int i = 0; i < 100000; ++i) {  // writes that wait nearly a block each
    const int64_t done = now + block * 999 / 1000;
    pacer.Wrote(now, done);
    ASSERT_LE(pacer.NextWrite(), done);
    now = done + 50'000;
  }
}

// Fault guarded: the program's exit must stop the output thread and end
// normally instead of hanging or aborting on a running thread.
TEST_F(Output, ExitStopsTheOutputThread) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto* mixer = dynamic_cast<TMixAudioDriver*>(FindAudioDriver(kDefaultAudioDriverName));
    mixer->SetDevicePaths(kNoOss, "default");
    auto ding = CurrentAudioDriver().LoadSound(u"incbin::ding.ogg", 0);
    bool ok = ding && ding->Play() && mixer->OutputKind() == "alsa";
    std::exit(ok ? 0 : 3);
  }
  int status = 0;
  bool ended = WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 20000);
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
