// The room's discussion: every text written into the log area, kept whole
// for Save, while the log area on screen holds only the latest lines.
//
// A word-wrapped text area does work in proportion to all the lines it
// holds on every change, so a long debate would slow each new line down
// and keep two bytes per character on screen forever. The log area keeps
// the last kScreenLines lines (trimmed from the top in steps of
// kTrimLines, so that most appends trim nothing); the whole discussion
// stays here, one byte per character, exactly as the area was given it.
// Main thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "app/room_view.h"
#include "core/text.h"
#include "ui/gadget.h"

// The text of a discussion and the part of it on screen, without gadgets.
class TDiscussion {
 public:
  static constexpr size_t kScreenLines = 2000;
  static constexpr size_t kTrimLines = 500;

  explicit TDiscussion(size_t screenLines = kScreenLines, size_t trimLines = kTrimLines);

  // Records `bytes` as appended to the screen; returns how many characters
  // to remove from the start of the screen (0 unless it now holds more than
  // screenLines + trimLines line breaks, then enough to keep screenLines).
  size_t Append(std::string_view bytes);

  // Everything appended, in order.
  const std::string& Bytes() const { return bytes_; }
  // Characters on screen.
  size_t ScreenLength() const { return bytes_.size() - screenStart_; }

 private:
  size_t screenLines_, trimLines_;
  std::string bytes_;
  size_t screenStart_ = 0;          // where the screen's text begins in bytes_
  std::deque<size_t> screenBreaks_;  // offsets in bytes_ just after each line break on screen
};

// The room's log area with its whole discussion.
class TDiscussionLog {
 public:
  // `area` is the room's log text area, empty.
  explicit TDiscussionLog(TGadgetRef area, size_t screenLines = TDiscussion::kScreenLines,
                          size_t trimLines = TDiscussion::kTrimLines);

  // Appends `text` in `style` (the new text alone takes the style).
  void Append(const TString& text, TLogStyle style);
  // The whole discussion, as the area would hold it had nothing been trimmed.
  TString Text() const;

 private:
  TGadgetRef area_;
  TDiscussion discussion_;
};
