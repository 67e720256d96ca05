// Watches whether the hosts of the rooms a lobby lists are there, so that the
// room browser can leave out a room whose host went away without withdrawing
// it (the lobby keeps such a room for minutes). Every PROBE_INTERVAL_MS each
// watched host is asked as a guest would start to join (lobby/host_probe.h),
// which costs the host nothing its room notices. A host is silent once it
// has not answered for `silenceMs`, counted from when it was first watched,
// so that a host gone before the list was fetched drops out too; it is there
// again as soon as it answers.
//
// The probes run on a thread of the object's own, which is left to end by
// itself: construction, Watch, Silent and destruction never wait for the
// network. Host names (rather than dotted addresses) are resolved there.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "core/text.h"

class TRoomHostWatch {
 public:
  // Told after Silent() changed, on the watch's thread: keep it short (hand
  // the news to your own thread), and never destroy the watch from it.
  using TListener = std::function<void()>;

  TRoomHostWatch(int silenceMs, TListener listener);
  // After it the listener is never called again.
  ~TRoomHostWatch();
  TRoomHostWatch(const TRoomHostWatch&) = delete;
  TRoomHostWatch& operator=(const TRoomHostWatch&) = delete;

  // Any thread. The hosts to watch, as room address texts ("host" or
  // "host:port", `defaultPort` when no port is given), instead of those
  // watched so far; a host watched before keeps its record.
  void Watch(const std::vector<TString>& addresses, int defaultPort);
  // Any thread. The watched address texts whose hosts are silent, in the
  // order given to Watch.
  std::vector<TString> Silent() const;

 private:
  struct TShared;
  std::shared_ptr<TShared> _shared;
};
