#include "tests/tools/bot_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

std::string BotChatText(int64_t seq, int64_t sentMs) {
  return "seq=" + std::to_string(seq) + " t=" + std::to_string(sentMs);
}

namespace {

// A decimal number of 1 to 18 digits at text[pos..end); advances pos.
bool ReadNumber(const std::string& text, size_t& pos, size_t end, int64_t& value) {
  size_t start = pos;
  value = 0;
  while (pos < end && text[pos] >= '0' && text[pos] <= '9' && pos - start < 18)
    value = value * 10 + (text[pos++] - '0');
  return pos > start && (pos == end || text[pos] < '0' || text[pos] > '9');
}

bool Expect(const std::string& text, size_t& pos, const char* word) {
  size_t n = std::char_traits<char>::length(word);
  if (text.compare(pos, n, word) != 0) return false;
  pos += n;
  return true;
}

}  // namespace

std::optional<TBotLine> ParseBotLine(const std::string& line) {
  size_t colon = line.find(": seq=");
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  TBotLine parsed;
  parsed.sender = line.substr(0, colon);
  if (parsed.sender.back() == '*') parsed.sender.pop_back();
  if (parsed.sender.empty() || parsed.sender.find_first_of(" :\n") != std::string::npos)
    return std::nullopt;
  size_t pos = colon + 6;
  if (!ReadNumber(line, pos, line.size(), parsed.seq) || parsed.seq < 1) return std::nullopt;
  if (!Expect(line, pos, " t=")) return std::nullopt;
  if (!ReadNumber(line, pos, line.size(), parsed.sentMs) || pos != line.size()) return std::nullopt;
  return parsed;
}

std::string EscapeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

const char* ArrivalName(TArrival arrival) {
  switch (arrival) {
    case TArrival::First: return "first";
    case TArrival::InOrder: return "in-order";
    case TArrival::Gap: return "gap";
    case TArrival::Late: return "late";
    case TArrival::Duplicate: return "duplicate";
  }
  return "?";
}

TArrival TSequenceCheck::Accept(const std::string& sender, int64_t seq) {
  auto [it, isNew] = senders_.try_emplace(sender);
  TSender& s = it->second;
  if (isNew) {
    s.received = 1;
    s.first = s.highest = seq;
    return TArrival::First;
  }
  if (seq == s.highest + 1) {
    ++s.received;
    s.highest = seq;
    return TArrival::InOrder;
  }
  if (seq > s.highest) {
    // Bounded by the numbers actually skipped; a wild jump is still a gap.
    for (int64_t m = s.highest + 1; m < seq && s.missing.size() < 100000; ++m) s.missing.insert(m);
    ++s.received;
    s.highest = seq;
    return TArrival::Gap;
  }
  if (s.missing.erase(seq) > 0) {
    ++s.received;
    ++s.late;
    return TArrival::Late;
  }
  // Below the first number counts as late too: it was never expected.
  if (seq < s.first) {
    for (int64_t m = seq + 1; m < s.first && s.missing.size() < 100000; ++m) s.missing.insert(m);
    s.first = seq;
    ++s.received;
    ++s.late;
    return TArrival::Late;
  }
  ++s.duplicates;
  return TArrival::Duplicate;
}

int64_t TSequenceCheck::Anomalies() const {
  int64_t total = 0;
  for (const auto& [name, s] : senders_) total += s.duplicates + s.late;
  return total;
}

int64_t TSequenceCheck::Missing() const {
  int64_t total = 0;
  for (const auto& [name, s] : senders_) total += static_cast<int64_t>(s.missing.size());
  return total;
}

int64_t TLatencyStats::Percentile(double p) const {
  if (samples_.empty()) return 0;
  if (!sorted_) {
    std::sort(samples_.begin(), samples_.end());
    sorted_ = true;
  }
  double rank = std::ceil(p / 100.0 * static_cast<double>(samples_.size()));
  size_t index = rank < 1 ? 0 : std::min(samples_.size(), static_cast<size_t>(rank)) - 1;
  return samples_[index];
}
