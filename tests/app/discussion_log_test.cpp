// The discussion kept for Save and the part of it kept on screen.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/discussion_log.h"

TEST(Discussion, KeepsEverythingAndTrimsTheScreenToWholeLinesInSteps) {
  constexpr size_t kLines = 3, kStep = 2;
  TDiscussion discussion(kLines, kStep);
  std::string screen, everything;
  auto breaks = [](const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  };
  int trims = 0;
  // Single lines, texts of several lines, a line written in two parts, and
  // texts without a break at all.
  for (const char* text : {"a\n", "bb\n", "c\n", "dd\n", "e\n", "two\nlines\n", "hal", "f\n",
                           "", "no break", " still\n", "g\nh\ni\nj\nk\nl\n", "m\n"}) {
    SCOPED_TRACE(text);
    everything += text;
    screen += text;
    const size_t trim = discussion.Append(text);
    ASSERT_LE(trim, screen.size());
    if (trim > 0) {
      ++trims;
      EXPECT_EQ(screen[trim - 1], '\n');  // whole lines go
      EXPECT_GT(breaks(screen), kLines + kStep);
      screen.erase(0, trim);
      EXPECT_EQ(breaks(screen), kLines);
    }
    EXPECT_LE(breaks(screen), kLines + kStep);
    EXPECT_EQ(discussion.Bytes(), everything);
    EXPECT_EQ(discussion.ScreenLength(), screen.size());
  }
  EXPECT_GE(trims, 2);
}
