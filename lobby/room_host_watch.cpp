#include "lobby/room_host_watch.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <thread>

#include "core/clock.h"
#include "lobby/host_probe.h"
#include "lobby/local_room_browser.h"
#include "lobby/resolve.h"
#include "lobby/room_address.h"
#include "lobby/room_probe.h"
#include "lobby/socket.h"

namespace {

// A name lookup may hold the thread this long (dotted addresses need none).
constexpr int RESOLVE_MS = 1000;
// The longest wait for answers before the thread looks whether to stop.
constexpr int WAIT_SLICE_MS = 100;
constexpr int MAX_DATAGRAM_BYTES = 1500;

struct TTarget {
  TString text;
  TRoomAddress address;
  bool resolved = false;
  int32_t ip = 0;
  TRoomLiveness liveness;  // "answered" when first watched: the grace begins
};

}  // namespace

// Everything the thread uses: it may outlive the object.
struct TRoomHostWatch::TShared {
  TShared(int silenceMs_, TListener listener_)
      : silenceMs(silenceMs_), listener(std::move(listener_)) {}

  void Run();
  void ResolveNew();
  void SendProbes(TSocket& socket);
  void ReadAnswers(TSocket& socket);
  void Publish();
  bool Stopping();

  const int silenceMs;
  std::minstd_rand connectIds{std::random_device{}()};  // thread only

  mutable std::mutex mutex;  // guards the fields below
  std::vector<TTarget> targets;
  std::vector<TString> silent;
  bool stopping = false;

  std::mutex listenerMutex;  // held while the listener runs, so it can be cleared
  TListener listener;
};

void TRoomHostWatch::TShared::Run() {
  TSocketRef socket = TSocket::CreateUDP();
  int32_t nextProbe = MilliSecs();
  while (!Stopping()) {
    ResolveNew();
    if (socket && ClockReached(MilliSecs(), nextProbe)) {
      SendProbes(*socket);
      nextProbe = MilliSecs() + PROBE_INTERVAL_MS;
    }
    if (socket && socket->WaitReadable(WAIT_SLICE_MS)) ReadAnswers(*socket);
    if (!socket) std::this_thread::sleep_for(std::chrono::milliseconds(WAIT_SLICE_MS));
    Publish();
  }
}

void TRoomHostWatch::TShared::ResolveNew() {
  for (;;) {
    std::string host;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto unresolved = std::find_if(targets.begin(), targets.end(), [](const TTarget& t) {
        return !t.resolved;
      });
      if (unresolved == targets.end()) return;
      host = unresolved->address.host;
      if (!unresolved->address.valid) host.clear();
    }
    int32_t ip = host.empty() ? 0 : ResolveFirstIp(host, RESOLVE_MS);
    std::lock_guard<std::mutex> lock(mutex);
    for (TTarget& target : targets)
      if (!target.resolved && target.address.host == host) {
        target.resolved = true;  // an address that does not resolve stays silent
        target.ip = ip;
      }
  }
}

void TRoomHostWatch::TShared::SendProbes(TSocket& socket) {
  std::vector<std::pair<int32_t, int>> places;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (const TTarget& target : targets)
      if (target.ip != 0) places.emplace_back(target.ip, target.address.port);
  }
  for (const auto& place : places) {
    std::string connect = HostProbeConnect(static_cast<uint32_t>(connectIds()));
    socket.SendTo(connect.data(), static_cast<int>(connect.size()), place.first, place.second);
  }
}

void TRoomHostWatch::TShared::ReadAnswers(TSocket& socket) {
  std::string datagram(MAX_DATAGRAM_BYTES, '\0');
  int32_t ip = 0;
  int port = 0;
  for (int size; (size = socket.ReceiveFrom(&datagram[0], MAX_DATAGRAM_BYTES, ip, port)) >= 0;) {
    THostProbeAnswer answer;
    if (!ReadHostProbeAnswer(datagram.substr(0, static_cast<size_t>(size)), answer)) continue;
    bool watched = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (TTarget& target : targets)
        if (target.ip == ip && target.address.port == port) {
          target.liveness.Answered(MilliSecs());
          watched = true;
        }
    }
    // The host set a slot aside for the probe: free it at once.
    if (watched) {
      std::string release = HostProbeRelease(answer);
      socket.SendTo(release.data(), static_cast<int>(release.size()), ip, port);
    }
  }
}

void TRoomHostWatch::TShared::Publish() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<TString> now;
    int32_t clock = MilliSecs();
    for (const TTarget& target : targets)
      if (!target.liveness.Alive(clock, silenceMs)) now.push_back(target.text);
    if (now == silent) return;
    silent = std::move(now);
  }
  std::lock_guard<std::mutex> lock(listenerMutex);
  if (listener) listener();
}

bool TRoomHostWatch::TShared::Stopping() {
  std::lock_guard<std::mutex> lock(mutex);
  return stopping;
}

TRoomHostWatch::TRoomHostWatch(int silenceMs, TListener listener)
    : _shared(std::make_shared<TShared>(silenceMs, std::move(listener))) {
  std::thread([shared = _shared] { shared->Run(); }).detach();
}

TRoomHostWatch::~TRoomHostWatch() {
  {
    std::lock_guard<std::mutex> lock(_shared->mutex);
    _shared->stopping = true;
  }
  std::lock_guard<std::mutex> lock(_shared->listenerMutex);
  _shared->listener = nullptr;
}

void TRoomHostWatch::Watch(const std::vector<TString>& addresses, int defaultPort) {
  std::lock_guard<std::mutex> lock(_shared->mutex);
  std::vector<TTarget> next;
  for (const TString& text : addresses) {
    auto known = std::find_if(_shared->targets.begin(), _shared->targets.end(),
                              [&](const TTarget& t) { return t.text == text; });
    if (known != _shared->targets.end()) {
      next.push_back(*known);
      continue;
    }
    TTarget target;
    target.text = text;
    target.address = ParseRoomAddress(text, defaultPort);
    target.liveness.Answered(MilliSecs());
    next.push_back(std::move(target));
  }
  _shared->targets = std::move(next);
}

std::vector<TString> TRoomHostWatch::Silent() const {
  std::lock_guard<std::mutex> lock(_shared->mutex);
  return _shared->silent;
}
