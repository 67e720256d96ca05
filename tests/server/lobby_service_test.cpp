// The lobby's request handling without HTTP, on a stepped clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "server/lobby_service.h"

namespace {

constexpr int64_t MINUTE = 60 * 1000;

}  // namespace

TEST(ParseQueryText, EscapesDecodedFirstKeyCounts) {
  std::map<std::string, std::string> keys;
  ASSERT_TRUE(ParseQueryText("opt=add&game=a+b%41%c3%a9&server=&x&game=second&=v", keys));
  EXPECT_EQ(keys["opt"], "add");
  EXPECT_EQ(keys["game"], "a+bA\xc3\xa9");
  EXPECT_EQ(keys.count("server"), 1u);
  EXPECT_EQ(keys["server"], "");
  EXPECT_EQ(keys.count("x"), 1u);
  ASSERT_TRUE(ParseQueryText("", keys));
  EXPECT_TRUE(keys.empty());
  // Unescaped UTF-8, as the program sends it, up to four-byte characters.
  ASSERT_TRUE(ParseQueryText("server=caf\xc3\xa9_\xe2\x82\xac_\xf0\x9f\x98\x80", keys));
  EXPECT_EQ(PlainAddress("::ffff:127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(PlainAddress("::1"), "::1");
  EXPECT_EQ(PlainAddress("10.0.0.1"), "10.0.0.1");
}

TEST(ParseQueryText, RefusesBadEscapesControlCharactersAndInvalidUtf8) {
  for (const char* query :
       {"server=%ZZ", "server=%4", "server=50%", "server=%00", "server=a%0Ab", "server=%7f",
        "server=a\x01", "%00=x", "server=caf\xe9", "server=caf%E9", "server=%C0%AF",
        "server=%ED%A0%80", "server=%F4%90%80%80", "server=\xe2\x82", "server=\x80"}) {
    std::map<std::string, std::string> keys;
    EXPECT_FALSE(ParseQueryText(query, keys)) << query;
  }
}

// An answer with its body as text.
struct TAnswerText {
  int status;
  std::string body;
};

class LobbyServiceTest : public testing::Test {
 protected:
  TAnswerText Ask(const std::string& query, const std::string& caller = "10.0.0.1") {
    TLobbyAnswer answer = service.Answer(query, caller);
    return {answer.status, *answer.body};
  }
  int64_t now = 0;
  TLobbyService service{[this] { return now; }, 100};
};

TEST_F(LobbyServiceTest, PingAddRefRemAndList) {
  EXPECT_EQ(Ask("opt=ping", "::ffff:192.0.2.5").body, "192.0.2.5\n");
  EXPECT_EQ(Ask("opt=add&game=ColloquorRC2b&server=guest7s_Room").body, "OK\n");
  EXPECT_EQ(Ask("opt=add&game=Other&server=x", "10.0.0.2").body, "OK\n");
  TAnswerText list = Ask("opt=list");
  EXPECT_EQ(list.status, 200);
  EXPECT_EQ(list.body, "ColloquorRC2b\nguest7s_Room\n10.0.0.1\nOther\nx\n10.0.0.2\n");
  EXPECT_EQ(Ask("opt=rem&game=ColloquorRC2b").body, "OK\n");
  EXPECT_EQ(Ask("opt=list").body, "Other\nx\n10.0.0.2\n");
  // Withdrawing someone else's room is not possible: rem names the caller's.
  EXPECT_EQ(Ask("opt=rem&game=Other", "10.0.0.3").body, "OK\n");
  EXPECT_EQ(Ask("opt=list").body, "Other\nx\n10.0.0.2\n");
}

TEST_F(LobbyServiceTest, RefRenewsAndRecreatesARoomTheLobbyLost) {
  EXPECT_EQ(Ask("opt=ref&game=g&server=back").body, "OK\n");
  EXPECT_EQ(Ask("opt=list").body, "g\nback\n10.0.0.1\n");
  now = 9 * MINUTE;
  Ask("opt=ref&game=g&server=back");
  now = 18 * MINUTE;
  EXPECT_EQ(Ask("opt=list").body, "g\nback\n10.0.0.1\n");
  now = 19 * MINUTE;
  EXPECT_EQ(Ask("opt=list").body, "");
}

TEST_F(LobbyServiceTest, BadRequestsGet4xxAndChangeNothing) {
  Ask("opt=add&game=g&server=kept");
  const std::string before = Ask("opt=list").body;
  const std::string longValue(65, 'x');
  for (const std::string& query :
       {std::string(""), std::string("game=g"), std::string("opt=nope"), std::string("opt=add"),
        std::string("opt=add&game=&server=x"), std::string("opt=add&game=g"),
        std::string("opt=ref&game=g"), std::string("opt=rem"),
        "opt=add&game=" + longValue + "&server=x", "opt=add&game=g&server=" + longValue,
        std::string("opt=add&game=g&server=a\x01"), std::string("opt=add&game=<b>g&server=x"),
        std::string("opt=add&game=g&server=a\x7f"), std::string("opt=PING"),
        std::string("opt=add&game=g&server=%ZZ"), std::string("opt=rem&game=g%00"),
        std::string("opt=ref&game=g&server=caf\xe9")}) {
    TAnswerText answer = Ask(query, "10.0.0.9");
    EXPECT_GE(answer.status, 400) << query;
    EXPECT_LT(answer.status, 500) << query;
    EXPECT_NE(answer.body.compare(0, 2, "OK"), 0) << query;
  }
  EXPECT_EQ(Ask("opt=add&game=" + std::string(64, 'g') + "&server=" + std::string(64, 's'),
                "10.0.0.8").status,
            200);
  EXPECT_EQ(Ask("opt=rem&game=" + std::string(64, 'g'), "10.0.0.8").status, 200);
  EXPECT_EQ(Ask("opt=list").body, before);
  // The same refusals from the room's own address leave its room as it was.
  EXPECT_EQ(Ask("opt=ref&game=g&server=%ZZ").status, 400);
  EXPECT_EQ(Ask("opt=rem&game=g%00").status, 400);
  EXPECT_EQ(Ask("opt=list").body, before);
}

TEST_F(LobbyServiceTest, TooManyRoomsAreRefused) {
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(Ask("opt=add&game=g" + std::to_string(i) + "&server=r").status, 200);
  TAnswerText answer = Ask("opt=add&game=g32&server=r");
  EXPECT_EQ(answer.status, 429);
  for (int i = 0; i < 68; ++i)
    ASSERT_EQ(Ask("opt=add&game=g&server=r", "10.1.0." + std::to_string(i)).status, 200);
  EXPECT_EQ(Ask("opt=ref&game=g&server=r", "10.2.0.1").status, 403);
  const std::string list = Ask("opt=list").body;
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 300);
}

// Regression guard: the list body is shared by answers still being sent, so
// a change of rooms must make a new one rather than rewrite it.
TEST_F(LobbyServiceTest, AListAnswerKeepsItsBytesWhenTheRoomsChange) {
  Ask("opt=add&game=g&server=first");
  const TLobbyAnswer sent = service.Answer("opt=list", "10.0.0.1");
  EXPECT_EQ(service.Answer("opt=list", "10.0.0.2").body, sent.body);  // unchanged rooms: shared
  Ask("opt=add&game=g&server=second", "10.0.0.2");
  EXPECT_EQ(*sent.body, "g\nfirst\n10.0.0.1\n");
  EXPECT_EQ(Ask("opt=list").body, "g\nfirst\n10.0.0.1\ng\nsecond\n10.0.0.2\n");
}
