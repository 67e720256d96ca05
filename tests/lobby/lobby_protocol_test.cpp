// The lobby client's pure parts: escaping, queries, request bytes, where the
// lobby is, the OK check and the reading of list answers.
#include <gtest/gtest.h>

#include "lobby/lobby_protocol.h"

namespace {

std::vector<TGNetServerRef> ParseList(const std::vector<TString>& lines, const TString& filter) {
  TLobbyListParser parser(filter);
  for (const TString& line : lines) parser.Feed(line);
  return parser.Finish();
}

}  // namespace

TEST(LobbyEscape, DeletesQuotesAmpersandsAndPercentsAndTurnsSpacesIntoUnderscores) {
  EXPECT_EQ(LobbyEscape(u"50% R&D room"), u"50_RD_room");
  EXPECT_EQ(LobbyEscape(u"it's \"x\""), u"its_x");
  EXPECT_EQ(LobbyEscape(u"&%'\""), u"");
  // Nothing else changes, nothing is percent-encoded.
  EXPECT_EQ(LobbyEscape(u"a+b=c?d#\u00e9\u0141"), u"a+b=c?d#\u00e9\u0141");
}

TEST(LobbyQuery, ServerPartOnlyForANonEmptyServerText) {
  EXPECT_EQ(LobbyQuery(u"rem", u"ColloquorRC2b", u""), u"rem&game=ColloquorRC2b");
  EXPECT_EQ(LobbyQuery(u"add", u"ColloquorRC2b", u"guest7s Room"),
            u"add&game=ColloquorRC2b&server=guest7s_Room");
  // Only removed characters: the key stays, with nothing after it.
  EXPECT_EQ(LobbyQuery(u"ref", u"ColloquorRC2b", u"&%"), u"ref&game=ColloquorRC2b&server=");
  EXPECT_EQ(LobbyQuery(u"add", u"my game", u"r"), u"add&game=my_game&server=r");
}

TEST(LobbyRequestText, ThreeLinesEndingInCrLfAndNothingElse) {
  EXPECT_EQ(LobbyRequestText(u"add&game=ColloquorRC2b&server=guest7s_Room", "lobby.example:8080"),
            "GET /gnet/gnet.php?opt=add&game=ColloquorRC2b&server=guest7s_Room HTTP/1.0\r\n"
            "HOST: lobby.example:8080\r\n"
            "\r\n");
  // Characters leave as their low 8 bits.
  EXPECT_EQ(LobbyRequestText(u"add&game=g&server=\u00e9\u0141", "h"),
            "GET /gnet/gnet.php?opt=add&game=g&server=\xe9\x41 HTTP/1.0\r\nHOST: h\r\n\r\n");
}

TEST(LobbyAddress, HostAndOptionalPortWithTheHostLineVerbatim) {
  TLobbyAddress unset = ParseLobbyAddress(nullptr);
  EXPECT_TRUE(unset.valid);
  EXPECT_EQ(unset.host, "localhost");
  EXPECT_EQ(unset.port, 80);
  EXPECT_EQ(unset.hostLine, "localhost");
  EXPECT_EQ(ParseLobbyAddress("").host, "localhost");

  TLobbyAddress plain = ParseLobbyAddress("lobby.example.org");
  EXPECT_TRUE(plain.valid);
  EXPECT_EQ(plain.host, "lobby.example.org");
  EXPECT_EQ(plain.port, 80);

  TLobbyAddress withPort = ParseLobbyAddress("127.0.0.1:8080");
  EXPECT_TRUE(withPort.valid);
  EXPECT_EQ(withPort.host, "127.0.0.1");
  EXPECT_EQ(withPort.port, 8080);
  EXPECT_EQ(withPort.hostLine, "127.0.0.1:8080");

  for (const char* bad : {"host:", "host:0", "host:65536", "host:80x", ":8080", "host:-1",
                          "host:1:2", "host:123456"})
    EXPECT_FALSE(ParseLobbyAddress(bad).valid) << bad;
  EXPECT_TRUE(ParseLobbyAddress("host:65535").valid);
}

TEST(LobbyIsOk, OnlyTheExactLine) {
  EXPECT_EQ(LobbyIsOk(u"OK"), 1);
  for (const char16_t* line : {u"ok", u" OK", u"OK.", u"OK ", u"", u"Ok"})
    EXPECT_EQ(LobbyIsOk(line), 0);
}

TEST(LobbyListParser, SkipsNoiseBetweenRecordsAndFiltersOnTheEscapedKey) {
  auto rooms = ParseList({u"<br />", u"ColloquorRC2b", u"a", u"1.2.3.4", u"", u"ColloquorRC2b",
                          u"b", u"5.6.7.8"},
                         u"ColloquorRC2b");
  ASSERT_EQ(rooms.size(), 2u);
  EXPECT_EQ(rooms[0]->game, u"ColloquorRC2b");
  EXPECT_EQ(rooms[0]->server, u"a");
  EXPECT_EQ(rooms[0]->ip, u"1.2.3.4");
  EXPECT_EQ(rooms[1]->server, u"b");
  EXPECT_EQ(rooms[1]->ip, u"5.6.7.8");

  std::vector<TString> mixed{u"ColloquorRC2b", u"kept", u"1", u"ColloquorRC2", u"dropped", u"2"};
  ASSERT_EQ(ParseList(mixed, u"ColloquorRC2b").size(), 1u);
  EXPECT_EQ(ParseList(mixed, u"ColloquorRC2b")[0]->server, u"kept");
  EXPECT_EQ(ParseList(mixed, u"").size(), 2u);
  // The filter is compared in its escaped form.
  EXPECT_EQ(ParseList({u"my_game", u"r", u"1"}, u"my game").size(), 1u);
}

TEST(LobbyListParser, InsideARecordNothingIsSkippedAndACutRecordIsKept) {
  // Room names that are empty or start with "<b" are still room names.
  auto rooms = ParseList({u"g", u"", u"1", u"g", u"<b>", u"2"}, u"g");
  ASSERT_EQ(rooms.size(), 2u);
  EXPECT_EQ(rooms[0]->server, u"");
  EXPECT_EQ(rooms[1]->server, u"<b>");

  auto cut = ParseList({u"g", u"a", u"1", u"g", u"b"}, u"g");
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1]->server, u"b");
  EXPECT_EQ(cut[1]->ip, u"");
  EXPECT_EQ(ParseList({u"g"}, u"")[0]->server, u"");
  EXPECT_TRUE(ParseList({}, u"").empty());
  EXPECT_TRUE(ParseList({u"", u"<b", u""}, u"").empty());
}
