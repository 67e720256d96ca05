#include <gtest/gtest.h>
#include <iconv.h>

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

// Whether `bytes` is whole UTF-8, as the C library's converter reads it.
static bool WholeUtf8(const std::string& bytes) {
  iconv_t converter = iconv_open("UTF-32LE", "UTF-8");
  std::string in = bytes, out(bytes.size() * 4 + 4, '\0');
  char *from = in.data(), *to = out.data();
  size_t left = in.size(), room = out.size();
  const bool whole = iconv(converter, &from, &left, &to, &room) != static_cast<size_t>(-1);
  iconv_close(converter);
  return whole;
}

// Regression: the caps of the chat line (256), of names (15) and of the
// countdown (20) counted bytes and cut a character of other scripts in half.
TEST(Text, Utf8CapsKeepWholeCharactersOfEveryScriptAndAsManyAsFit) {
  const std::string samples[] = {u8"naïve café", u8"Привет, мир", u8"討論を始めよう",
                                 u8"ok 🙂👍 ok"};
  for (size_t cap : {15u, 20u, 256u})
    for (const std::string& sample : samples)
      for (size_t pad = cap - 12; pad <= cap; ++pad) {  // every character across the cap
        const std::string bytes = std::string(pad, 'x') + sample;
        const std::string kept = ToBytes(LeftUtf8Text(FromBytes(bytes), cap));
        SCOPED_TRACE(sample + " after " + std::to_string(pad) + ", cap " + std::to_string(cap));
        EXPECT_LE(kept.size(), cap);
        EXPECT_EQ(bytes.compare(0, kept.size(), kept), 0);
        EXPECT_TRUE(WholeUtf8(kept));
        size_t next = 1;  // the bytes of the first character left out
        while (kept.size() + next < bytes.size() && !WholeUtf8(bytes.substr(kept.size(), next)))
          ++next;
        if (kept.size() < bytes.size()) {
          EXPECT_GT(kept.size() + next, cap);
        }
      }
}

TEST(Text, Utf8CapsTakeBytesThatFormNoSequenceAsWholeCharacters) {
  EXPECT_EQ(LeftUtf8Text(FromBytes("caf\xe9 au lait"), 5), FromBytes("caf\xe9 "));
  EXPECT_EQ(LeftUtf8Text(FromBytes("caf\xe9 au lait"), 4), u"caf");  // could lead a sequence
  EXPECT_EQ(LeftUtf8Text(FromBytes("\x80\x80\x80\x80\x80x"), 4), FromBytes("\x80\x80\x80\x80"));
  EXPECT_EQ(LeftUtf8Text(u"\u0141\u0142\u0143", 2), u"\u0141\u0142");  // not the toolkit's bytes
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
