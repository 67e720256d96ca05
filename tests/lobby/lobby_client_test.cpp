// The lobby client against a real colloquor-lobby process on 127.0.0.1.
#include <gtest/gtest.h>

#include <cstdlib>

#include "lobby/lobby_client.h"
#include "tests/lobby/lobby_process.h"

namespace {

testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new TLobbyEnvironment);
TLobbyProcess*& lobby = TLobbyEnvironment::lobby;

std::vector<TString> Names(const std::vector<TGNetServerRef>& rooms) {
  std::vector<TString> names;
  for (const auto& room : rooms) names.push_back(room->server);
  return names;
}

}  // namespace

TEST(LobbyClient, AnnounceListRefreshAndWithdrawARoomAtARealLobby) {
  EXPECT_EQ(LobbyPing(), u"127.0.0.1");
  ASSERT_EQ(lobby->Get("opt=add&game=ColloquorRC2b&server=elsewhere", "127.0.0.2"), "OK\n");
  ASSERT_EQ(lobby->Get("opt=add&game=ColloquorRC2&server=older_game", "127.0.0.3"), "OK\n");

  // The toolkit's text is UTF-8, one character per byte: here an e acute.
  EXPECT_EQ(LobbyAdd(u"ColloquorRC2b", u"Ann's 50% room \u00c3\u00a9"), 1);
  auto rooms = LobbyList(u"ColloquorRC2b");
  ASSERT_EQ(Names(rooms), (std::vector<TString>{u"elsewhere", u"Anns_50_room_\u00c3\u00a9"}));
  EXPECT_EQ(rooms[0]->ip, u"127.0.0.2");
  EXPECT_EQ(rooms[1]->ip, u"127.0.0.1");
  EXPECT_EQ(rooms[1]->game, u"ColloquorRC2b");
  EXPECT_EQ(LobbyList(u"").size(), 3u);

  // Announcing again renames; refreshing keeps it.
  EXPECT_EQ(LobbyAdd(u"ColloquorRC2b", u"renamed"), 1);
  EXPECT_EQ(LobbyRefresh(u"ColloquorRC2b", u"renamed"), 1);
  EXPECT_EQ(Names(LobbyList(u"ColloquorRC2b")), (std::vector<TString>{u"elsewhere", u"renamed"}));

  EXPECT_EQ(LobbyRemove(u"ColloquorRC2b"), 1);
  EXPECT_EQ(Names(LobbyList(u"ColloquorRC2b")), (std::vector<TString>{u"elsewhere"}));
  // A refresh after the lobby lost the room brings it back.
  EXPECT_EQ(LobbyRefresh(u"ColloquorRC2b", u"renamed"), 1);
  EXPECT_EQ(LobbyList(u"ColloquorRC2b").size(), 2u);
  EXPECT_EQ(LobbyRemove(u"ColloquorRC2b"), 1);

  // What the lobby refuses reads as failure.
  EXPECT_EQ(LobbyAdd(u"ColloquorRC2b", TString(65, u'x')), 0);
  EXPECT_EQ(LobbyAdd(u"&%", u"r"), 0);

  const std::string log = lobby->Log();
  EXPECT_NE(log.find("127.0.0.1 \"GET /gnet/gnet.php?opt=ping HTTP/1.0\" 200"), std::string::npos)
      << log;
  EXPECT_NE(log.find("\"GET /gnet/gnet.php?opt=rem&game=ColloquorRC2b HTTP/1.0\" 200 3"),
            std::string::npos);
}

TEST(LobbyClient, TellsALobbyThatRefusedFromOneThatCouldNotBeReached) {
  lobby->Get("opt=rem&game=ColloquorRC2b", "127.0.0.2");
  EXPECT_EQ(LobbyAnnounce(u"ColloquorRC2b", u"told_apart"), LOBBY_OK);
  EXPECT_EQ(LobbyAnnounce(u"ColloquorRC2b", TString(65, u'x')), LOBBY_REFUSED);
  TLobbyListing listing = LobbyListing(u"ColloquorRC2b");
  EXPECT_TRUE(listing.answered);
  EXPECT_EQ(Names(listing.rooms), std::vector<TString>{u"told_apart"});
  EXPECT_EQ(LobbyRemove(u"ColloquorRC2b"), 1);
  EXPECT_TRUE(LobbyListing(u"ColloquorRC2b").answered);  // empty, but answered

  // A lobby that accepts the connection and says nothing is as unreachable
  // as one that refuses it.
  TLobbyLimits saved = LobbyLimits();
  LobbyLimits().stepMs = 300;
  LobbyLimits().answerMs = 600;
  lobby->Freeze();
  TLobbyAnswer silent = LobbyAnnounce(u"ColloquorRC2b", u"unheard");
  TLobbyListing unheard = LobbyListing(u"ColloquorRC2b");
  lobby->Thaw();
  LobbyLimits() = saved;
  EXPECT_EQ(silent, LOBBY_UNREACHABLE);
  EXPECT_FALSE(unheard.answered);
  EXPECT_EQ(LobbyLocation(), FromBytes(lobby->Address()));
  LobbyRemove(u"ColloquorRC2b");  // the frozen lobby may still take the announcement
}
