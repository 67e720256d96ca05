#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/error.h"
#include "core/object.h"
#include "core/text.h"

TEST(Text, BytesCutCharactersToTheirLowEightBits) {
  EXPECT_EQ(ToBytes(u"A\u0141z"), std::string("A\x41z"));
  EXPECT_EQ(FromBytes("\xff\x01"), TString(u"\u00ff\u0001"));
}

TEST(Text, TrimRemovesControlCharactersAndSpacesAtBothEnds) {
  EXPECT_EQ(TrimText(u" \t\r\n hello world \x01"), u"hello world");
  EXPECT_EQ(TrimText(u"   "), u"");
}

TEST(Text, LowerCaseFoldsAsciiOnly) { EXPECT_EQ(LowerCase(u"DeBaTeR2\u00C4"), u"debater2\u00C4"); }

TEST(Text, ReplaceAllDoesNotRescanItsReplacement) {
  EXPECT_EQ(ReplaceAll(u"a@b@@", u"@", u"@@"), u"a@@b@@@@");
}

TEST(Object, TextOfAStringObjectAndEmptyForOthers) {
  EXPECT_EQ(ObjectText(std::make_shared<TStringObject>(u"x")), u"x");
  EXPECT_EQ(ObjectText(std::make_shared<TObject>()), u"");
  EXPECT_EQ(ObjectText(nullptr), u"");
}

TEST(Clock, ReachedComparesByDifferenceAcrossTheWrap) {
  EXPECT_TRUE(ClockReached(INT32_MIN + 5, INT32_MAX - 5));
  EXPECT_FALSE(ClockReached(INT32_MAX - 5, INT32_MIN + 5));
  int32_t a = MilliSecs();
  EXPECT_TRUE(ClockReached(MilliSecs(), a));
}

static int RaiseFixedText() { throw TRuntimeError("Too many hook ids"); }

TEST(ErrorDeathTest, UncaughtErrorWritesItsTextAndEndsWithStatus255) {
  EXPECT_EXIT(RunGuarded(RaiseFixedText), testing::ExitedWithCode(255), "^Too many hook ids\n$");
}
