// Publishes a hosted room on the local network through the system's
// avahi-daemon, for as long as the object lives: DNS-SD service
// LOCAL_ROOM_SERVICE_TYPE (lobby/local_room.h) at the room's port, instance
// name LocalRoomInstanceName(room name), TXT LocalRoomTxt(game key).
//
// The work runs on a thread of the object's own. Construction and Status
// never wait for the daemon; destruction withdraws the room and waits only
// for that one short call to the daemon. Without a daemon (or a system bus)
// the state is PUBLISH_UNAVAILABLE and the room is published once one
// appears. When another machine already uses the name, the daemon's rule
// picks the next one ("Bob_Room #2"); Status().name says which.
#pragma once

#include <functional>
#include <memory>
#include <string>

class TLocalRoomPublisher {
 public:
  enum TState {
    PUBLISH_WAITING,      // handed to the daemon, not yet confirmed on the network
    PUBLISH_UNAVAILABLE,  // no avahi-daemon reachable: not published
    PUBLISH_DONE,         // published under Status().name
    PUBLISH_FAILED,       // the daemon refused the room; stays so
  };
  struct TStatus {
    TState state = PUBLISH_WAITING;
    std::string name;  // the instance name in use (UTF-8)
  };
  // Told of every change, on the publisher's own thread: keep it short, and
  // never destroy the publisher from it. Status may be called from it.
  using TListener = std::function<void(const TStatus& status)>;

  // `roomName` is the room name's bytes (UTF-8 by convention).
  TLocalRoomPublisher(const std::string& roomName, int port, const std::string& gameKey,
                      TListener listener = nullptr);
  ~TLocalRoomPublisher();
  TLocalRoomPublisher(const TLocalRoomPublisher&) = delete;
  TLocalRoomPublisher& operator=(const TLocalRoomPublisher&) = delete;

  // Any thread.
  TStatus Status() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> _impl;
};
