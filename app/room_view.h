// What a room shows, as the room's logic sees it. The room window implements
// it with gadgets; tests implement it with a recorder. Main thread only; every
// call acts at once (Notice returns when the user has dismissed it).
#pragma once

#include <cstdint>
#include <vector>

#include "core/text.h"

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
                                const std::vector<TString>& undecided,
                                const std::vector<TString>& blues) = 0;
  virtual void ShowConnection(bool heard) = 0;
  virtual void ShowBars(int32_t reds, int32_t blues, int32_t count) = 0;
  // A modal, non-serious notification.
  virtual void Notice(const TString& text) = 0;
  virtual void ShowUserName(const TString& name) = 0;
};
