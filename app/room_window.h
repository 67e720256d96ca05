// The room window and its event loop: one visit to a room, as host or guest.
#pragma once

#include "core/text.h"

#include <memory>

#include "ui/event.h"

class TRoom;

// One room visit on the program state: entering builds the participant
// object and the window and starts the timers; Close() runs the exit steps.
class TRoomWindow {
 public:
  TRoomWindow();
  ~TRoomWindow();
  bool InRoom() const;
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
// once. Afterwards the role is empty and quitRequested may be set.
void RunRoom();

// Writes the discussion text to `path` as the saved log; false when the file
// cannot be written completely.
bool SaveLogFile(const char* path, const TString& text);
