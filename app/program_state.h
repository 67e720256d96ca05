// The process-wide program state. Main thread only; lives for the whole run.
#pragma once

#include <memory>

#include "app/room_model.h"
#include "ui/background.h"

class TGNetHost;
class TRoomReach;
class TSound;

struct TProgramState {
  // The program's identity: the lobby's game key, the browser's title, the
  // room window's title prefix.
  const TString gameName = u"ColloquorRC2b";
  std::shared_ptr<TPlayer> localPlayer;
  std::shared_ptr<TGNetHost> netHost;  // one per room visit
  TString roomName;                    // the hosted room's; "" once withdrawn from the lobby
  // The hosted room's entry on the local network and the router's port
  // forwarding (app/room_reach.h); set while this process hosts a room.
  std::shared_ptr<TRoomReach> reach;
  // The lobby commands (add, ref, rem), run in the background one after
  // another, so that none overtakes the one before it.
  TBackgroundLane lobbyCommands;
  TString browserChoice;               // "CANCEL", "HOST" or a room's address
  int topicIndex = 0;
  std::shared_ptr<TSound> dingSound;
  std::shared_ptr<TSound> tickSound;
};

TProgramState& Program();

// Ends the program normally: exit(0), which runs the registered exit handlers.
[[noreturn]] void EndProgram();
