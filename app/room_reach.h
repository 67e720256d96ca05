// What makes a hosted room reachable besides the lobby, for as long as the
// room is open: its entry on the local network (lobby/local_room_publisher.h)
// and the router's forwarding of the room port (lobby/port_forward.h), with
// the lines the room writes about them and about the lobby's answer
// (app/reach_notes.h).
//
// Main thread only. The modules work on threads of their own; their outcomes
// are read when the room asks for its lines, once a second. Make one only
// after InstallTerminationSignals, so that the modules' threads leave the
// termination signals to the thread that waits for them.
#pragma once

#include <memory>
#include <vector>

#include "core/text.h"
#include "lobby/lobby_client.h"
#include "ui/background.h"

class TRoomReach {
 public:
  using TAnnouncement = std::shared_ptr<TBackground<TLobbyAnswer>>;

  // Starts publishing `roomName` on the local network and asking the router
  // to forward ROOM_PORT; `announcement` is the room's announcement to the
  // lobby, running or done.
  TRoomReach(const TString& roomName, const TString& gameName, TAnnouncement announcement);
  // End(), when not called before.
  ~TRoomReach();
  TRoomReach(const TRoomReach&) = delete;
  TRoomReach& operator=(const TRoomReach&) = delete;

  // The lines for the room's discussion that became due since the last call,
  // each stamped and ending in a line break.
  std::vector<TString> TakeNotes();
  // Withdraws the room from the local network and has the router's mapping
  // removed, on a task of its own (the removal waits at most
  // FORWARD_REMOVE_MS for the router). Returns the task, for whoever must
  // know when it is over; null when already ended.
  TBackgroundTaskRef End();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The lines of the room hosted now (Program().reach), as TakeNotes; none when
// this process hosts no room.
std::vector<TString> TakeReachNotes();
