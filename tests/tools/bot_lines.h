// The load bot's plain logic: the chat text it types, reading such lines
// back, per-sender sequence checks and delivery latency figures. No network
// and no clock here; times are passed in as milliseconds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What a bot types: "seq=<n> t=<ms>". The room sends it as "<name>: " + text
// (a host's line has "*: "), so every line names its sender and carries its
// sequence number (from 1) and the sender's monotonic clock at sending.
std::string BotChatText(int64_t seq, int64_t sentMs);

struct TBotLine {
  std::string sender;
  int64_t seq = 0;
  int64_t sentMs = 0;
};
// A received chat line of that form, or nothing for any other text.
std::optional<TBotLine> ParseBotLine(const std::string& line);

// Text on one output line: backslash and line breaks escaped.
std::string EscapeText(const std::string& text);

// How one line arrived, relative to what came before from its sender.
enum class TArrival {
  First,      // the first line from this sender (whatever its number)
  InOrder,    // the number after the highest so far
  Gap,        // beyond that: the numbers in between are missing so far
  Late,       // a missing number that turned up after a later one
  Duplicate,  // a number seen before
};
const char* ArrivalName(TArrival arrival);

// Per-sender bookkeeping of received sequence numbers. Lines that arrive in
// order cost nothing beyond a counter; only numbers skipped over are kept.
class TSequenceCheck {
 public:
  struct TSender {
    int64_t received = 0;  // distinct numbers
    int64_t first = 0;
    int64_t highest = 0;
    int64_t duplicates = 0;
    int64_t late = 0;
    std::set<int64_t> missing;  // skipped over and not (yet) arrived
  };

  TArrival Accept(const std::string& sender, int64_t seq);
  const std::map<std::string, TSender>& Senders() const { return senders_; }
  // Totals over all senders.
  int64_t Anomalies() const;  // duplicates + late
  int64_t Missing() const;

 private:
  std::map<std::string, TSender> senders_;
};

// Delivery latencies in milliseconds. Percentiles use the nearest rank:
// the smallest sample with at least p percent of the samples at or below it.
class TLatencyStats {
 public:
  void Add(int64_t ms) {
    samples_.push_back(ms);
    sorted_ = false;
  }
  size_t Count() const { return samples_.size(); }
  int64_t Percentile(double p) const;  // 0 when empty
  int64_t Median() const { return Percentile(50); }
  int64_t Max() const { return Percentile(100); }

 private:
  mutable std::vector<int64_t> samples_;
  mutable bool sorted_ = true;
};
