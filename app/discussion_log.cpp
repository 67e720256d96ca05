#include "app/discussion_log.h"

TDiscussion::TDiscussion(size_t screenLines, size_t trimLines)
    : screenLines_(screenLines), trimLines_(trimLines) {}

size_t TDiscussion::Append(std::string_view bytes) {
  const size_t at = bytes_.size();
  bytes_.append(bytes);
  for (size_t i = 0; i < bytes.size(); ++i)
    if (bytes[i] == '\n') screenBreaks_.push_back(at + i + 1);
  if (screenBreaks_.size() <= screenLines_ + trimLines_) return 0;
  // The screen keeps the text after the break that leaves screenLines_ breaks.
  const size_t drop = screenBreaks_.size() - screenLines_;
  const size_t newStart = screenBreaks_[drop - 1];
  screenBreaks_.erase(screenBreaks_.begin(), screenBreaks_.begin() + static_cast<long>(drop));
  const size_t removed = newStart - screenStart_;
  screenStart_ = newStart;
  return removed;
}

TDiscussionLog::TDiscussionLog(TGadgetRef area, size_t screenLines, size_t trimLines)
    : area_(std::move(area)), discussion_(screenLines, trimLines) {}

void TDiscussionLog::Append(const TString& text, TLogStyle style) {
  const int start = area_->AreaLen(TXU_CHARS);
  area_->AddText(text);
  switch (style) {
    case LOG_BOLD: area_->SetStyle(0, 0, 0, TXS_BOLD, start, -1, TXU_CHARS); break;
    case LOG_RED: area_->SetStyle(255, 0, 0, 0, start, -1, TXU_CHARS); break;
    case LOG_BLUE: area_->SetStyle(0, 0, 255, 0, start, -1, TXU_CHARS); break;
    case LOG_PLAIN: break;
  }
  // Kept as the area took it: its characters are bytes, and it stops at a
  // NUL character.
  const int added = area_->AreaLen(TXU_CHARS) - start;
  if (added <= 0) return;
  const std::string bytes = ToBytes(text.substr(0, static_cast<size_t>(added)));
  const size_t trim = discussion_.Append(bytes);
  if (trim > 0) area_->ReplaceText(0, static_cast<int>(trim), TString(), TXU_CHARS);
}

TString TDiscussionLog::Text() const { return FromBytes(discussion_.Bytes()); }
