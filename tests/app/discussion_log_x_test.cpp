// The room's log on a real text area: the screen keeps the latest lines with
// their styles, and Save keeps everything.
#include "tests/support/gadget_fixture.h"

#include <fstream>
#include <iterator>

#include "app/discussion_log.h"
#include "app/saved_log.h"
#include "ui/fl_text.h"

namespace {

constexpr int kDialog = WIN_CENTRED | WIN_CLIENT_RECT | WIN_TITLED;
constexpr int kRoomLog = TXA_WORDWRAP | TXA_READONLY | TXA_KEEPVIEW;

std::string Tail(const std::string& text, size_t length) {
  return text.substr(text.size() - std::min(length, text.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DiscussionLogTest : public GadgetTest {
 protected:
  TGadgetRef MakeLog() {
    if (!window) window = ShowWindow(u"room", 0, 0, 800, 600, kDialog);
    return MakeTextArea(210, 100, 380, 200, window, kRoomLog);
  }
  TGadgetRef window;
};

}  // namespace

TEST_F(DiscussionLogTest, TheScreenKeepsTheLatestStyledLinesAndSaveKeepsEverything) {
  // Today's log: an area that is never trimmed, written the same way.
  TGadgetRef whole = MakeLog();
  TDiscussionLog reference(whole, 1000000);
  TGadgetRef area = MakeLog();
  TDiscussionLog log(area, 4, 3);

  const std::pair<TString, TLogStyle> texts[] = {
      {u"** Welcome Tester\n\n", LOG_BOLD},
      {u"Alice: first\n", LOG_RED},
      {u"Bob: second\n", LOG_BLUE},
      {u"plain notice\n", LOG_PLAIN},
      {u"Bob: a \u0141 beyond one byte\n", LOG_BLUE},
      {TString(u"Alice: cut at a NUL\0 the rest\n", 30), LOG_RED},
      {u"\n** NEW TOPIC\n** two\n** three\n", LOG_BOLD},
      {u"Carol: a line long enough to be wrapped at the edge of the area, twice over, "
       u"and then some more words\n",
       LOG_RED},
      {u"half a line", LOG_PLAIN},
      {u" and its end\n", LOG_BLUE},
  };
  for (int round = 0; round < 3; ++round) {
    for (const auto& [text, style] : texts) {
      SCOPED_TRACE(ToBytes(text));
      reference.Append(text, style);
      log.Append(text, style);
      // Right after each append (and each trim), the screen is the end of
      // the whole log, character for character and style for style.
      const std::string shown = ToBytes(area->GetText()), all = ToBytes(whole->GetText());
      EXPECT_EQ(shown, Tail(all, shown.size()));
      if (shown.size() < all.size()) {
        EXPECT_EQ(all[all.size() - shown.size() - 1], '\n');  // whole lines on screen
      }
      EXPECT_EQ(TextAreaStyleLetters(area.get()),
                Tail(TextAreaStyleLetters(whole.get()), shown.size()));
    }
  }
  EXPECT_LT(area->AreaLen(TXU_LINES), whole->AreaLen(TXU_LINES));
  EXPECT_LE(area->AreaLen(TXU_LINES), 4 + 3);

  const std::string path = testing::TempDir() + "discussion_log_x_test.txt";
  ASSERT_TRUE(SaveLogFile(path.c_str(), log.Text()));
  EXPECT_EQ(ReadFile(path), EncodeLog(whole->AreaText(0, -1, TXU_CHARS)));
  std::remove(path.c_str());
  Settle();
}
