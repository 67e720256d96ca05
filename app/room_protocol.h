// One visit to a debate room, without its window: the participant and
// subject objects, the "MSG" and "ORDER" messages, the once-per-second tick,
// the chat and the host's commands. What the room shows goes through
// TRoomView, which the room window implements with gadgets.
#pragma once

#include <cstdint>
#include <vector>

#include "app/chat.h"
#include "app/room_model.h"
#include "replication/replication.h"

enum TLogStyle { LOG_PLAIN, LOG_BOLD, LOG_RED, LOG_BLUE };

class TRoomView {
 public:
  virtual ~TRoomView() = default;
  virtual void AppendLog(const TString& text, TLogStyle style) = 0;
  // The attention sound; the view plays it only when another application
  // has the focus and sound is not muted.
  virtual void AttentionSound() = 0;
  // The countdown tick; the view plays it unless muted.
  virtual void CountdownSound() = 0;
  // Disables the input field, Send, the three side buttons, Extend Time and
  // Change Subject.
  virtual void LockInputs() = 0;
  // Selects the side's button and deselects the other two.
  virtual void SelectSide(int32_t side) = 0;
  // Enables or disables the input field with Send; `focus` puts the keyboard
  // focus into the field.
  virtual void EnableInput(bool enabled, bool focus) = 0;
  virtual void EnableExtend(bool enabled) = 0;
  virtual void EnableChangeSubject(bool enabled) = 0;
  virtual void ShowSubject(const TString& red, const TString& blue, const TString& countdown) = 0;
  virtual void ShowParticipants(const std::vector<TString>& reds,
                                const std::vector<TString>& blues) = 0;
  virtual void ShowConnection(bool heard) = 0;
  virtual void ShowBars(int32_t reds, int32_t blues, int32_t count) = 0;
  // A modal, non-serious notification.
  virtual void Notice(const TString& text) = 0;
  virtual void ShowUserName(const TString& name) = 0;
};

// What a room needs of the program: the local participant, the visit's
// replication host and the process-wide values the room reads and writes.
struct TRoomContext {
  TPlayer& player;
  TGNetHostRef host;
  TString gameName;
  int& topicIndex;
  int& quitRequested;
};

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
  // Writes the welcome text.
  void Welcome();
  // The once-per-second tick, given the ticks of the room's two timers.
  void Tick(int32_t secondTicks, int32_t lobbyTicks);
  // A side button was clicked; `side` is the one now selected.
  void ChangeSide(int32_t side);
  // The Send button with the input field's text; returns whether the field
  // is to be cleared.
  bool Send(const TString& fieldText);
  void ExtendTime();
  void ChangeSubject(int32_t secondTicks);
  // Leaves the room; `quit` also ends the program afterwards.
  void Leave(bool quit);
  // The exit steps that follow the loop, after the window is gone.
  void Exit();

  bool InRoom() const { return !ctx_.player.rank.empty(); }
  bool IsHost() const { return enteredAs_ == ROLE_HOST; }
  const std::vector<TString>& banList() const { return banList_; }
  const TGNetObjectRef& playerObject() const { return playerObject_; }
  const TGNetObjectRef& subjectObject() const { return subjectObject_; }
  int32_t topicDeadline() const { return topicDeadline_; }

 private:
  void HandleMessages();
  void HandleMessage(const TGNetObjectRef& msg);
  void HandleSideOrder(int32_t side);
  void ScanObjects(int32_t secondTicks, int32_t lobbyTicks);
  void ApplyParticipantRules(const TGNetObjectRef& obj, bool created, int32_t secondTicks,
                             int32_t lobbyTicks, bool& heard);
  void EndTopic(int32_t secondTicks, int32_t reds, int32_t blues, int32_t count);
  void SendToParticipants(const TGNetObjectRef& msg, bool guestsOnly = false);
  void SendMsg(const TString& text, int32_t style);
  void SendKick(const TGNetObjectRef& to);
  void RunCommand(const TString& input);
  void AppendStyled(const TString& text, TLogStyle style) { view_.AppendLog(text, style); }
  void BecomeUndecidedAfterTopic();

  TRoomContext ctx_;
  TRoomView& view_;
  TString enteredAs_;
  TGNetObjectRef playerObject_;
  TGNetObjectRef subjectObject_;
  std::vector<TString> banList_;
  int32_t topicDeadline_ = 0;
};

// The style a "MSG" text is shown in, from its style slot.
TLogStyle MessageStyle(int32_t style);
