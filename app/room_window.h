// The room window and its event loop: one visit to a room, as host or guest,
// on the program state (Program(): localPlayer, netHost, roomName). Main
// thread only.
#pragma once

#include <memory>

#include "app/room_protocol.h"
#include "ui/event.h"

// One room visit: constructing it enters the room (participant object,
// window, timers, welcome text); Close() runs the exit steps.
class TRoomWindow {
 public:
  TRoomWindow();
  ~TRoomWindow();
  bool InRoom() const;
  TRoomOutcome Outcome() const;
  // Handles one event of the room's loop.
  void Dispatch(const TEvent& event);
  // Stops the timers, frees the window and closes the participant object.
  void Close();
  TRoom& Room();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// Runs the room on the program state's netHost until the local role becomes
// empty; with an empty role on entry it builds and tears down the window at
// once. Afterwards the role is empty; the result says whether the room
// browser comes back or the program ends.
TRoomOutcome RunRoom();
