#include "sound/device.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <linux/soundcard.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <system_error>

#include "core/clock.h"
#include "sound/pacer.h"

namespace mix {

namespace {

// Real time of one block, waited after a failed write so a vanished device
// does not turn the thread into a busy loop.
constexpr int64_t kBlockNanos = 1000000000ll * kBlockFrames / kMixRate;
constexpr unsigned kAlsaLatencyMicros = 3ull * 4096 / 4 * 1000000 / kMixRate;  // 3 fragments
constexpr int kAlsaWriteAttempts = 8;

// A reader that went away must give a write error, not end the process.
void BlockBrokenPipeSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// A machine without a sound card is normal; ALSA need not say so on stderr.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

int64_t SteadyNanos() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A device's queue of `bytes`, in whole blocks within what pacing allows.
int32_t QueueBlocksOf(int64_t bytes) {
  const int64_t blocks = (bytes + kBlockBytes - 1) / static_cast<int64_t>(kBlockBytes);
  return static_cast<int32_t>(std::clamp<int64_t>(blocks, 1, kMaxDeviceQueueBlocks));
}

}  // namespace

bool audiodevice::Start(mixer& m) {
  _mixer = &m;
  _run = true;
  _alive = true;  // set before the thread exists, so Stop() never misses it
  try {
    _thread = std::thread(&audiodevice::Run, this);
  } catch (const std::system_error&) {
    _run = false;
    _alive = false;
    return false;
  }
  return true;
}

void audiodevice::Run() {
  BlockBrokenPipeSignal();
  Configure();
  pacer pace(QueueBlocks());
  while (_run.load() && _alive.load() && SleepUntil(pace.NextWrite())) {
    _mixer->MixBlock(MilliSecs(), _buffer.data());
    const int64_t began = SteadyNanos();
    if (Write(reinterpret_cast<const uint8_t*>(_buffer.data()), kBlockBytes)) {
      pace.Wrote(began, SteadyNanos());
      _blocks.fetch_add(1);
    } else if (!SleepUntil(SteadyNanos() + kBlockNanos)) {
      break;
    }
  }
  _alive = false;
}

bool audiodevice::SleepUntil(int64_t nanos) {
  std::unique_lock<std::mutex> lock(_wakeMutex);
  const std::chrono::steady_clock::time_point until{std::chrono::nanoseconds(nanos)};
  return !_wake.wait_until(lock, until, [this] { return !_run.load(); });
}

bool audiodevice::Stop() {
  if (!_thread.joinable()) return true;
  {
    std::lock_guard<std::mutex> lock(_wakeMutex);
    _run = false;
  }
  _wake.notify_all();
  for (int i = 0; i < kStopWaitSteps && _alive.load(); ++i) usleep(kStopWaitStepMs * 1000);
  if (_alive.load()) {
    _thread.detach();
    return false;
  }
  _thread.join();
  return true;
}

std::unique_ptr<ossdevice> ossdevice::Open(const std::string& path) {
  // Without O_NONBLOCK a busy device (or a FIFO nobody reads) would hang here.
  int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<ossdevice>(new ossdevice(fd));
}

ossdevice::~ossdevice() { close(_fd); }

void ossdevice::Configure() {
  // The device may refuse any of these; it then plays as it can.
  int fragments = kOssFragments, format = AFMT_S16_LE, channels = 2, speed = kMixRate;
  ioctl(_fd, SNDCTL_DSP_SETFRAGMENT, &fragments);
  ioctl(_fd, SNDCTL_DSP_SETFMT, &format);
  ioctl(_fd, SNDCTL_DSP_CHANNELS, &channels);
  ioctl(_fd, SNDCTL_DSP_SPEED, &speed);
  audio_buf_info space{};
  if (ioctl(_fd, SNDCTL_DSP_GETOSPACE, &space) == 0 && space.fragstotal > 0 && space.fragsize > 0)
    _queueBlocks = QueueBlocksOf(static_cast<int64_t>(space.fragstotal) * space.fragsize);
}

bool ossdevice::Write(const uint8_t* data, size_t bytes) {
  while (bytes > 0) {
    ssize_t n = write(_fd, data, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

std::unique_ptr<alsadevice> alsadevice::Open(const std::string& name) {
  snd_lib_error_set_handler(QuietAlsaErrors);
  snd_pcm_t* pcm = nullptr;
  // Opened without waiting for a busy device, then switched to blocking
  // writes, which pace the output thread.
  if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
    return nullptr;
  if (snd_pcm_nonblock(pcm, 0) < 0 ||
      snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kMixRate,
                         1, kAlsaLatencyMicros) < 0) {
    snd_pcm_close(pcm);
    return nullptr;
  }
  snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
  const int32_t queueBlocks =
      snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) == 0
          ? QueueBlocksOf(static_cast<int64_t>(bufferFrames) * 4)  // 4 bytes a frame
          : kDeviceQueueBlocks;
  return std::unique_ptr<alsadevice>(new alsadevice(pcm, queueBlocks));
}

alsadevice::~alsadevice() { snd_pcm_close(static_cast<snd_pcm_t*>(_pcm)); }

bool alsadevice::Write(const uint8_t* data, size_t bytes) {
  auto* pcm = static_cast<snd_pcm_t*>(_pcm);
  snd_pcm_uframes_t frames = bytes / 4;
  for (int attempt = 0; frames > 0 && attempt < kAlsaWriteAttempts; ++attempt) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, frames);
    if (n < 0) {
      // An underrun (or a suspend) is recovered from; anything else is fatal.
      if (snd_pcm_recover(pcm, static_cast<int>(n), 1) < 0) return false;
      continue;
    }
    data += static_cast<size_t>(n) * 4;
    frames -= static_cast<snd_pcm_uframes_t>(n);
  }
  return frames == 0;
}

}  // namespace mix
