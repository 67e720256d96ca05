#include <gtest/gtest.h>

#include <set>

#include "app/room_model.h"

// Expected values below were computed independently of this code (the plain
// formula state * 48271 mod (2^31 - 1) in another language).

TEST(Random, StepsFollowTheMinimalStandardSequence) {
  TRandom random;
  random.Seed(1);
  const int32_t expected[] = {48271, 182605794, 1291394886, 1914720637, 2078669041};
  for (int32_t value : expected) EXPECT_EQ(random.Step(), value);
}

TEST(Random, UnseededStateIs0x1234) {
  TRandom random;
  EXPECT_EQ(random.Step(), 224942860);
  EXPECT_EQ(random.Step(), 539475828);
}

TEST(Random, SeedingClearsTheTopBitAndAvoidsTheFixedPoints) {
  TRandom random;
  random.Seed(static_cast<int32_t>(0x80000005u));
  EXPECT_EQ(random.state(), 5);
  random.Seed(0);
  EXPECT_EQ(random.state(), 0x1234);
  random.Seed(0x7fffffff);
  EXPECT_EQ(random.state(), 0x1234);
  random.Seed(-1);  // top bit cleared leaves 0x7fffffff
  EXPECT_EQ(random.state(), 0x1234);
}

TEST(Random, LargestStateStepsWithoutOverflow) {
  TRandom random;
  random.Seed(0x7ffffffe);
  EXPECT_EQ(random.Step(), 2147435376);
}

TEST(Random, RealFromTwoSteps) {
  TRandom random;
  random.Seed(42);
  EXPECT_DOUBLE_EQ(random.Real(), 0.0037762916494268328);
}

TEST(Random, IntegerRangeBothBranches) {
  TRandom random;
  random.Seed(123456789);
  for (int32_t value : {7, 29, 15, 23, 34, 14}) EXPECT_EQ(random.Range(0, 34), value);
  random.Seed(987654321);
  for (int32_t value : {8, 5, 5, 9}) EXPECT_EQ(random.Range(10, 3), value);  // d <= 0
  EXPECT_EQ(random.Range(6, 6), 6);
}

TEST(Topics, SteppingWrapsFrom34To0) {
  EXPECT_EQ(NextTopicIndex(33), 34);
  EXPECT_EQ(NextTopicIndex(34), 0);
  EXPECT_EQ(NextTopicIndex(0), 1);
}

TEST(Topics, TableKeepsTheGivenPairsAndDistinctOwnPairs) {
  EXPECT_EQ(TString(TopicAt(1).red), u"Games can be art");
  EXPECT_EQ(TString(TopicAt(4).red), u"Coca~Cola");
  EXPECT_EQ(TString(TopicAt(7).blue), u"Mac OS X");
  EXPECT_EQ(TString(TopicAt(25).blue), u"Briefs");
  EXPECT_EQ(TString(TopicAt(34).blue), u"Sony PSP go");
  std::set<TString> seen;
  for (int i = 0; i < TOPIC_COUNT; ++i) {
    TString red = TopicAt(i).red, blue = TopicAt(i).blue;
    EXPECT_FALSE(red.empty());
    EXPECT_NE(red, blue);
    EXPECT_TRUE(seen.insert(red).second) << i;
  }
}

TEST(Player, StartsEmptyAndRolesAreRecognised) {
  TPlayer player;
  EXPECT_EQ(player.rank, u"");
  EXPECT_EQ(player.side, SIDE_UNDECIDED);
  EXPECT_EQ(player.age, 0);
  EXPECT_TRUE(IsParticipantRole(u"DEV"));
  EXPECT_FALSE(IsParticipantRole(u"SUBJECT"));
  EXPECT_FALSE(IsParticipantRole(u""));
}
