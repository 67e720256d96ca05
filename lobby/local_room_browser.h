// Lists the rooms published on the local network (lobby/local_room.h) and
// keeps the list current as rooms appear and vanish, through the system's
// avahi-daemon, on a thread of the object's own. Construction, State and
// Rooms never wait for the daemon.
//
// A room leaves the list when its host withdraws it, and also when its host
// stops answering: every PROBE_INTERVAL_MS the browser asks each room's host
// directly (lobby/room_probe.h), and a host that answered before but has been
// silent for PROBE_SILENCE_MS is left out until it answers again.
//
// Without a daemon (or a system bus) the state is BROWSE_UNAVAILABLE and the
// list empty; a daemon that appears later is taken up.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lobby/local_room.h"

constexpr int PROBE_INTERVAL_MS = 1500;
constexpr int PROBE_SILENCE_MS = 5000;

class TLocalRoomBrowser {
 public:
  enum TState {
    BROWSE_WAITING,      // connecting to the daemon
    BROWSE_UNAVAILABLE,  // no avahi-daemon reachable: the list stays empty
    BROWSE_RUNNING,      // browsing; the list is current
  };
  // Told after the state or the list changed, on the browser's own thread:
  // keep it short (hand the news to your own thread), and never destroy the
  // browser from it. State and Rooms may be called from it.
  using TListener = std::function<void()>;

  // `gameKey` decides TLocalRoom::sameGame.
  explicit TLocalRoomBrowser(const std::string& gameKey, TListener listener = nullptr);
  ~TLocalRoomBrowser();
  TLocalRoomBrowser(const TLocalRoomBrowser&) = delete;
  TLocalRoomBrowser& operator=(const TLocalRoomBrowser&) = delete;

  // Any thread.
  TState State() const;
  // The rooms now present, ordered by name, address and port. A room seen on
  // two network interfaces is in it twice; MergeRoomLists lists it once.
  std::vector<TLocalRoom> Rooms() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> _impl;
};
