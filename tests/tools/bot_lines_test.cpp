#include "tests/tools/bot_lines.h"

#include <gtest/gtest.h>

TEST(BotLine, WhatIsTypedReadsBackAsTheRoomShowsIt) {
  std::string text = BotChatText(42, 1234567890123);
  EXPECT_EQ(text, "seq=42 t=1234567890123");
  auto line = ParseBotLine("Bot07: " + text);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->sender, "Bot07");
  EXPECT_EQ(line->seq, 42);
  EXPECT_EQ(line->sentMs, 1234567890123);
  // The host's lines carry an asterisk after the name.
  auto hosted = ParseBotLine("Hostess*: seq=1 t=5");
  ASSERT_TRUE(hosted);
  EXPECT_EQ(hosted->sender, "Hostess");
}

TEST(BotLine, OtherTextIsNotMistakenForABotLine) {
  for (const char* text :
       {"Bob: hello", "\n\n** NEW TOPIC **\n\n", ": seq=1 t=2", "Bot1: seq=0 t=2",
        "Bot1: seq=1 t=2 and more", "Bot1: seq=1 t=", "Bot1: seq=x t=2", "Bot1: seq=1  t=2",
        "A b: seq=1 t=2", "Bot1: seq=1234567890123456789 t=1"})
    EXPECT_FALSE(ParseBotLine(text)) << text;
}

TEST(BotLine, EscapedTextStaysOnOneOutputLine) {
  EXPECT_EQ(EscapeText("a\nb\\c\r"), "a\\nb\\\\c\\r");
}

TEST(SequenceCheck, InOrderGapLateAndDuplicatePerSender) {
  TSequenceCheck check;
  EXPECT_EQ(check.Accept("A", 1), TArrival::First);
  EXPECT_EQ(check.Accept("A", 2), TArrival::InOrder);
  EXPECT_EQ(check.Accept("B", 7), TArrival::First);  // joined late: no gap
  EXPECT_EQ(check.Accept("A", 5), TArrival::Gap);
  EXPECT_EQ(check.Missing(), 2);
  EXPECT_EQ(check.Accept("A", 3), TArrival::Late);
  EXPECT_EQ(check.Accept("A", 3), TArrival::Duplicate);
  EXPECT_EQ(check.Accept("A", 5), TArrival::Duplicate);
  EXPECT_EQ(check.Accept("B", 8), TArrival::InOrder);
  const auto& a = check.Senders().at("A");
  EXPECT_EQ(a.received, 4);
  EXPECT_EQ(a.highest, 5);
  EXPECT_EQ(a.missing, std::set<int64_t>{4});
  EXPECT_EQ(a.duplicates, 2);
  EXPECT_EQ(a.late, 1);
  EXPECT_EQ(check.Anomalies(), 3);
  EXPECT_EQ(check.Missing(), 1);
}

TEST(SequenceCheck, ANumberBelowTheFirstIsLateNotADuplicate) {
  // Reordering that puts a sender's first line behind its second.
  TSequenceCheck check;
  EXPECT_EQ(check.Accept("A", 3), TArrival::First);
  EXPECT_EQ(check.Accept("A", 1), TArrival::Late);
  EXPECT_EQ(check.Missing(), 1);  // 2 never came
  EXPECT_EQ(check.Accept("A", 2), TArrival::Late);
  EXPECT_EQ(check.Accept("A", 1), TArrival::Duplicate);
  EXPECT_EQ(check.Senders().at("A").first, 1);
  EXPECT_EQ(check.Missing(), 0);
}

TEST(LatencyStats, NearestRankPercentiles) {
  TLatencyStats stats;
  EXPECT_EQ(stats.Median(), 0);
  for (int64_t ms : {40, 10, 30, 20}) stats.Add(ms);
  EXPECT_EQ(stats.Median(), 20);
  EXPECT_EQ(stats.Max(), 40);
  EXPECT_EQ(stats.Percentile(0), 10);
  for (int i = 0; i < 96; ++i) stats.Add(5);
  EXPECT_EQ(stats.Count(), 100u);
  EXPECT_EQ(stats.Percentile(96), 5);
  EXPECT_EQ(stats.Percentile(97), 10);
  EXPECT_EQ(stats.Percentile(99), 30);
  stats.Add(1000);  // added after a sorted read
  EXPECT_EQ(stats.Max(), 1000);
}
