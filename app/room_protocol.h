// One visit to a debate room, without its window: the participant and
// subject objects, the "MSG" and "ORDER" messages, the once-per-second tick,
// the chat and the host's commands. What the room shows goes through
// TRoomView; what the tick's scan decides comes from the census
// (room_census.h). Main thread only: the room window calls in from its loop,
// and serves the network (Serve) whenever traffic arrives.
//
// The network is served between ticks: as soon as something arrives, right
// after the room queues something to send, and at every tick. Messages are
// shown at once; arrivals, departures and updates wait for the tick, whose
// census sees everything the serves since the previous tick found.
#pragma once

#include <cstdint>
#include <deque>
#include <unordered_set>
#include <vector>

#include "app/chat.h"
#include "app/room_census.h"
#include "app/room_guard.h"
#include "app/room_model.h"
#include "app/room_view.h"
#include "replication/replication.h"

// What a room needs of the program: the local participant, the visit's
// replication host and the process-wide values the room reads and writes.
struct TRoomContext {
  TPlayer& player;
  TGNetHostRef host;
  TString gameName;
  int& topicIndex;
};

// How a room visit ended: the room browser comes back, or the program ends
// (close box, terminate request, the one-user-per-connection rule).
enum TRoomOutcome { ROOM_BACK_TO_BROWSER, ROOM_END_PROGRAM };

// Moves the host to the next topic, writes it into the subject object and
// announces `text` to every participant, ordering each back to undecided.
void NewTopic(TRoomContext& room, const TGNetObjectRef& subject, const TString& text);

class TRoom {
 public:
  TRoom(TRoomContext context, TRoomView& view) : ctx_(context), view_(view) {}

  // Entry: seeds the generator, publishes the participant object (and, on
  // the host, the ban list, the first topic and the subject object) and
  // synchronises once.
  void Enter();
  // Writes the welcome text, then shows what arrived since entering.
  void Welcome();
  // Serves the replication host: what was queued leaves, what arrived is
  // taken in, and messages are shown at once (the rest waits for the tick).
  // May run inside a toolkit poll made while the room shows a message or
  // runs its tick (a dialog, the attention sound's focus check): the
  // messages it takes in are then shown by the outer call, in order.
  void Serve();
  // The once-per-second tick, given the ticks of the room's two timers.
  void Tick(int32_t secondTicks, int32_t lobbyTicks);
  // A side button was clicked; `side` is the one now selected.
  void ChangeSide(int32_t side);
  // The Send button with the input field's text; returns whether the field
  // is to be cleared.
  bool Send(const TString& fieldText);
  void ExtendTime();
  void ChangeSubject(int32_t secondTicks);
  // Leaves the room with the given outcome.
  void Leave(TRoomOutcome outcome);
  // The exit steps that follow the loop, after the window is gone.
  void Exit();

  bool InRoom() const { return !ctx_.player.rank.empty(); }
  // Once a room has asked for the program to end, it stays so.
  TRoomOutcome Outcome() const { return outcome_; }
  bool IsHost() const { return enteredAs_ == ROLE_HOST; }
  const std::vector<TString>& banList() const { return banList_; }
  // The host's guard; null on a guest.
  const std::shared_ptr<TRoomGuard>& guard() const { return guard_; }
  const TGNetObjectRef& playerObject() const { return playerObject_; }
  const TGNetObjectRef& subjectObject() const { return subjectObject_; }
  int32_t topicDeadline() const { return topicDeadline_; }

  // The help label's text, from the command table.
  static TString CommandHelp();

 private:
  // What the serves since the latest census found.
  struct TSeen {
    std::unordered_set<const TGNetObject*> created, modified, closed;
  };
  void TakeInSync();
  void NoteChanges();
  void UpdateRoster();
  void HandleInbox();
  void HandleMessage(const TGNetObjectRef& msg);
  void HandleSideOrder(int32_t side);
  void ScanObjects(int32_t secondTicks, int32_t lobbyTicks);
  void ApplyCensusEvent(const TCensusEvent& event, const TGNetObjectList& objects,
                        const std::vector<TObjectSnapshot>& snapshots);
  void EndTopic(int32_t secondTicks, int32_t reds, int32_t blues, int32_t count);
  void SendToParticipants(const TGNetObjectRef& msg, bool guestsOnly = false);
  void SendMsg(const TString& text, int32_t style);
  void SendKick(const TGNetObjectRef& to);
  // The chat commands: one table names each, says who may use it and
  // which handler runs it.
  struct TChatCommand;
  static const std::vector<TChatCommand>& Commands();
  void RunCommand(const TString& input);
  void ListUsers(const TString& argument);
  void Kick(const TString& name);
  void Ban(const TString& name);
  void KickNamed(const TString& name, bool ban);
  void AppendStyled(const TString& text, TLogStyle style) { view_.AppendLog(text, style); }
  void BecomeUndecidedAfterTopic();

  TRoomContext ctx_;
  TRoomView& view_;
  TString enteredAs_;
  TGNetObjectRef playerObject_;
  TGNetObjectRef subjectObject_;
  std::vector<TString> banList_;  // network addresses
  std::shared_ptr<TRoomGuard> guard_;  // the host's
  int32_t topicDeadline_ = 0;
  TRoomOutcome outcome_ = ROOM_BACK_TO_BROWSER;
  TSeen seen_;
  // The host's objects in their order, and those that closed since the
  // latest census (the host drops them at its next sync).
  TGNetObjectList roster_;
  std::deque<TGNetObjectRef> inbox_;  // messages taken in, not yet shown
  bool handlingInbox_ = false;
};

// The style a "MSG" text is shown in, from its style slot.
TLogStyle MessageStyle(int32_t style);
