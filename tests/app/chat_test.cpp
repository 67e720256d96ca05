#include <gtest/gtest.h>

#include <clocale>

#include "app/chat.h"
#include "app/room_protocol.h"

namespace {
std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}
const TString kStamp = u"** 14:03:22 - 06 Dec 2026";
}  // namespace

TEST(Timestamp, EnglishMonthEvenWhenTheProcessLocaleDiffers) {
  EXPECT_EQ(FormatTimestamp(At(2026, 12, 6, 14, 3, 22)), kStamp);
  // A translated month name in the log would break every stamp.
  if (std::setlocale(LC_TIME, "de_DE.UTF-8") || std::setlocale(LC_TIME, "fr_FR.UTF-8")) {
    EXPECT_EQ(FormatTimestamp(At(2026, 5, 1, 0, 0, 9)), u"** 00:00:09 - 01 May 2026");
    std::setlocale(LC_TIME, "C");
  }
}

TEST(Input, TrimmedAndCutTo256) {
  EXPECT_EQ(PrepareInput(u"  hello there \t"), u"hello there");
  EXPECT_EQ(PrepareInput(u" \t "), u"");
  TString longLine(300, u'x');
  EXPECT_EQ(PrepareInput(u"   " + longLine).size(), 256u);
  // Regression: the cut kept the first byte of a character of two.
  const TString cafe = FromBytes(u8"café");
  EXPECT_EQ(PrepareInput(TString(252, u'x') + cafe), TString(252, u'x') + u"caf");
}

TEST(Chat, TheHostIsMarkedWithAnAsterisk) {
  EXPECT_EQ(ChatLine(u"Debater1", u"HOST", u"hello"), u"Debater1*: hello");
  EXPECT_EQ(ChatLine(u"Debater2", u"GUEST", u"hello"), u"Debater2: hello");
  EXPECT_EQ(ChatLine(u"Dev", u"DEV", u"hi"), u"Dev: hi");
}

TEST(Commands, SplitAtTheFirstSpaceCaseInsensitively) {
  TCommand c = ParseCommand(u"/USERLIST");
  EXPECT_EQ(c.command, u"userlist");
  EXPECT_EQ(c.argument, u"");
  c = ParseCommand(u"/Kick DEBATER2");
  EXPECT_EQ(c.command, u"kick");
  EXPECT_EQ(c.argument, u"DEBATER2");
  EXPECT_TRUE(SameUserName(c.argument, u"Debater2"));
  c = ParseCommand(u"/kick  Debater2");  // two spaces: the argument starts with one
  EXPECT_EQ(c.argument, u" Debater2");
  EXPECT_FALSE(SameUserName(c.argument, u"Debater2"));
  c = ParseCommand(u"/ban a b");
  EXPECT_EQ(c.command, u"ban");
  EXPECT_EQ(c.argument, u"a b");
}

TEST(Commands, TheHelpLabelComesFromTheCommandTable) {
  EXPECT_EQ(TRoom::CommandHelp(),
            u"COMMANDS /userlist\tHOST COMMANDS /kick username, /ban username");
}

TEST(Texts, UserListMarksTheHost) {
  EXPECT_EQ(UserListLine({{u"Debater1", u"HOST"}, {u"Debater2", u"GUEST"}}, kStamp),
            u"** USER LIST ** 14:03:22 - 06 Dec 2026, Debater1*, Debater2\n");
  EXPECT_EQ(UserListLine({}, kStamp), u"** USER LIST ** 14:03:22 - 06 Dec 2026\n");
}

TEST(Texts, TheTwoHostLostTextsDifferInCapitalisation) {
  EXPECT_EQ(HostLostText(kStamp),
            u"\n\n** CONNECTION WITH HOST LOST ** 14:03:22 - 06 Dec 2026\n** If this is due to a "
            u"bad connection you may be able to leave and re-enter room\n\n");
  EXPECT_NE(HOST_LEAVING_NOTICE.find(u"due To a bad connection you may be able To leave And"),
            TString::npos);
}

TEST(Texts, TopicResultCountsTheUndecided) {
  EXPECT_EQ(TopicResultText(u"Cats", u"Dogs", 2, 1, 5),
            u"\nCats - 2\nUndecided - 2\nDogs - 1\n\n** NEW TOPIC ");
}

TEST(Texts, CountdownShowsAtMost20Characters) {
  EXPECT_EQ(CountdownText(300), u"New subject: 300s");
  EXPECT_EQ(CountdownText(-1234567), u"New subject: -123456");
}

TEST(Texts, ReceivedMessagesAreStampedOnlyByTheFlag) {
  // Styles -1 and 1 are colours, not flag words, though 1 shares a bit with them.
  const TString stamped = u"a** 14:03:22 - 06 Dec 2026\n", plain = u"a\n";
  const std::pair<int32_t, TString> cases[] = {{4, stamped}, {6, stamped}, {5, stamped},
                                               {0, plain},   {2, plain},   {-1, plain}, {1, plain}};
  for (const auto& [style, shown] : cases)
    EXPECT_EQ(ReceivedMessageText(u"a", style, kStamp), shown) << style;
}

TEST(Texts, RequestsAndNotices) {
  const std::pair<TString, const char16_t*> cases[] = {
      {ExtensionRequest(u"Bo"), u"** Bo requests a time extension "},
      {TopicChangeRequest(u"Bo"), u"** Bo requests a topic change "},
      {JoinedText(u"Bo", kStamp), u"** Bo has joined ** 14:03:22 - 06 Dec 2026\n"},
      {LeftText(u"Bo", kStamp), u"** Bo has left ** 14:03:22 - 06 Dec 2026\n"},
      {KickAttemptText(kStamp),
       u"** Host attempted to kick you from server ** 14:03:22 - 06 Dec 2026\n"},
      {WelcomeText(u"Bo", u"ColloquorRC2b", kStamp),
       u"** Welcome Bo to ColloquorRC2b\n** Please keep your discussions civil and enjoy "
       u"yourself\n\n** Choose a side and start debating ** 14:03:22 - 06 Dec 2026\n"}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

TEST(Rename, AppendsTheLobbyTimerCount) {
  EXPECT_EQ(RenamedName(u"Debater1", 0), u"Debater10");
  EXPECT_EQ(RenamedName(u"Debater1", 3), u"Debater13");
}

TEST(Bars, SinglePrecisionTruncatedTowardZero) {
  TBarWidths w = BarWidths(800, 1, 1, 3);  // 780 / 3 = 260 each
  EXPECT_EQ(w.red, 260);
  EXPECT_EQ(w.blue, 260);
  w = BarWidths(801, 2, 0, 3);  // 781 * 2 / 3 = 520.67
  EXPECT_EQ(w.red, 520);
  EXPECT_EQ(w.blue, 0);
  w = BarWidths(800, 0, 0, 1);
  EXPECT_EQ(w.red, 0);
}

#include "app/save_location.h"

TEST(SaveLocation, DocumentsFolderFromUserDirs) {
  const std::string dirs =
      "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
  EXPECT_EQ(DocumentsDirFromUserDirs(dirs, "/home/ann"), "/home/ann/Dokumente");
  EXPECT_EQ(DocumentsDirFromUserDirs("XDG_DOCUMENTS_DIR=\"/srv/docs\"\n", "/h"), "/srv/docs");
  EXPECT_EQ(DocumentsDirFromUserDirs("XDG_DOCUMENTS_DIR=\"$HOME/\"\n", "/h"), "");  // disabled
  EXPECT_EQ(DocumentsDirFromUserDirs("XDG_DOCUMENTS_DIR=\"relative\"\n", "/h"), "");
  EXPECT_EQ(DocumentsDirFromUserDirs("", "/h"), "");
}
