// The lobby client against a plain TCP listener on 127.0.0.1: the exact bytes
// it sends, how it reads answers, and what a misbehaving lobby costs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/clock.h"
#include "lobby/lobby_client.h"
#include "lobby/lobby_protocol.h"
#include "tests/lobby/raw_server.h"
#include "tests/support/wait_until.h"

namespace {

TRawServer* server = nullptr;

// The lobby address is read once per process, so one listener serves every
// test and is named before the first lobby call.
class RawLobbyEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    server = new TRawServer();
    std::string address = "127.0.0.1:" + std::to_string(server->Port());
    setenv("COLLOQUOR_LOBBY", address.c_str(), 1);
  }
  void TearDown() override {
    delete server;
    server = nullptr;
  }
};
testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new RawLobbyEnvironment);

std::string HostLine() { return "HOST: 127.0.0.1:" + std::to_string(server->Port()) + "\r\n"; }

std::string Page(const std::string& body, const std::string& status = "200 OK") {
  return "HTTP/1.1 " + status + "\r\nContent-Type: text/html\r\nX-Other: 1\r\n\r\n" + body;
}

class LobbyWire : public testing::Test {
 protected:
  void SetUp() override {
    server->ClearRequests();
    LobbyLimits() = TLobbyLimits();
  }
  void TearDown() override { LobbyLimits() = TLobbyLimits(); }

  // The bytes of the only request made so far.
  std::string OnlyRequest() {
    EXPECT_TRUE(WaitUntil([] { return server->Requests().size() == 1; }, 5000));
    auto requests = server->Requests();
    return requests.empty() ? std::string() : requests.front();
  }
  void ShortLimits() {
    LobbyLimits().stepMs = 300;
    LobbyLimits().answerMs = 1000;
  }
};

}  // namespace

TEST_F(LobbyWire, EachCallSendsThreeLinesAndNothingElse) {
  server->Set(TRawServer::Answer(Page("OK\n")));
  EXPECT_EQ(LobbyPing(), u"OK");
  EXPECT_EQ(OnlyRequest(), "GET /gnet/gnet.php?opt=ping HTTP/1.0\r\n" + HostLine() + "\r\n");

  server->ClearRequests();
  EXPECT_EQ(LobbyRemove(u"ColloquorRC2b"), 1);
  EXPECT_EQ(OnlyRequest(),
            "GET /gnet/gnet.php?opt=rem&game=ColloquorRC2b HTTP/1.0\r\n" + HostLine() + "\r\n");

  server->ClearRequests();
  EXPECT_EQ(LobbyAdd(u"ColloquorRC2b", u"guest7's Room"), 1);
  EXPECT_EQ(OnlyRequest(), "GET /gnet/gnet.php?opt=add&game=ColloquorRC2b&server=guest7s_Room "
                           "HTTP/1.0\r\n" + HostLine() + "\r\n");

  server->ClearRequests();
  EXPECT_EQ(LobbyRefresh(u"ColloquorRC2b", u"&%"), 1);
  EXPECT_EQ(OnlyRequest(),
            "GET /gnet/gnet.php?opt=ref&game=ColloquorRC2b&server= HTTP/1.0\r\n" + HostLine() + "\r\n");

  server->ClearRequests();
  LobbyList(u"ColloquorRC2b");
  EXPECT_EQ(OnlyRequest(), "GET /gnet/gnet.php?opt=list HTTP/1.0\r\n" + HostLine() + "\r\n");
}

TEST_F(LobbyWire, OnlyABodyStartingWithTheLineOkConfirms) {
  server->Set(TRawServer::Answer(Page("OK\r\nand more\r\n")));
  EXPECT_EQ(LobbyAdd(u"g", u"r"), 1);
  // The status is never examined: an error page saying OK confirms.
  server->Set(TRawServer::Answer(Page("OK\n", "404 Not Found")));
  EXPECT_EQ(LobbyAdd(u"g", u"r"), 1);
  for (const char* body : {"ok\n", " OK\n", "OK.\n", "\nOK\n", ""}) {
    server->Set(TRawServer::Answer(Page(body)));
    EXPECT_EQ(LobbyAdd(u"g", u"r"), 0) << body;
    EXPECT_EQ(LobbyRefresh(u"g", u"r"), 0) << body;
    EXPECT_EQ(LobbyRemove(u"g"), 0) << body;
  }
  // A header that never ends leaves no body.
  server->Set(TRawServer::Answer("HTTP/1.0 200 OK\r\nOK\r\n"));
  EXPECT_EQ(LobbyAdd(u"g", u"r"), 0);
}

TEST_F(LobbyWire, PingKeepsTheFirstBodyLineAsItIs) {
  server->Set(TRawServer::Answer(Page("203.0.113.7\r\nsecond\r\n")));
  EXPECT_EQ(LobbyPing(), u"203.0.113.7");
  server->Set(TRawServer::Answer(Page("\xe9t\xe9\n")));
  EXPECT_EQ(LobbyPing(), u"\u00e9t\u00e9");
  server->Set(TRawServer::Answer(Page("")));
  EXPECT_EQ(LobbyPing(), u"");
}

TEST_F(LobbyWire, ListSkipsNoiseFiltersAndKeepsACutRecord) {
  server->Set(TRawServer::Answer(Page(
      "<br /><b>Notice</b>\r\n"
      "ColloquorRC2b\r\nfirst\r\n10.0.0.1\r\n"
      "\r\n"
      "ColloquorRC2\r\nother game\r\n10.0.0.2\r\n"
      "ColloquorRC2b\r\nsecond\r\n10.0.0.3\r\n"
      "ColloquorRC2b\r\ncut")));
  auto rooms = LobbyList(u"ColloquorRC2b");
  ASSERT_EQ(rooms.size(), 3u);
  EXPECT_EQ(rooms[0]->server, u"first");
  EXPECT_EQ(rooms[0]->ip, u"10.0.0.1");
  EXPECT_EQ(rooms[1]->server, u"second");
  EXPECT_EQ(rooms[1]->ip, u"10.0.0.3");
  EXPECT_EQ(rooms[2]->server, u"cut");
  EXPECT_EQ(rooms[2]->ip, u"");
  EXPECT_EQ(LobbyList(u"").size(), 4u);
}

TEST_F(LobbyWire, AnUnreachableLobbyGivesEmptyAnswers) {
  server->Pause();
  int32_t start = MilliSecs();
  EXPECT_EQ(LobbyPing(), u"");
  EXPECT_EQ(LobbyAdd(u"ColloquorRC2b", u"r"), 0);
  EXPECT_EQ(LobbyRefresh(u"ColloquorRC2b", u"r"), 0);
  EXPECT_EQ(LobbyRemove(u"ColloquorRC2b"), 0);
  EXPECT_TRUE(LobbyList(u"ColloquorRC2b").empty());
  EXPECT_LT(MilliSecs() - start, 5000);  // refused at once, nothing waited for
  ASSERT_TRUE(server->Resume());
}

TEST_F(LobbyWire, ASilentLobbyCostsTheReadWaitOnly) {
  ShortLimits();
  server->Set(TRawServer::Silent());
  int32_t start = MilliSecs();
  EXPECT_EQ(LobbyPing(), u"");
  EXPECT_GE(MilliSecs() - start, 290);  // millisecond readings
  EXPECT_EQ(LobbyAdd(u"g", u"r"), 0);
  EXPECT_TRUE(LobbyList(u"").empty());
  EXPECT_LT(MilliSecs() - start, 10000);
  // After the header, too.
  server->Set([](int fd) {
    TRawServer::SendAll(fd, Page("g\nroom\n"));
    TRawServer::WaitClosed(fd, 30000);
  });
  EXPECT_TRUE(LobbyList(u"").empty());
}

TEST_F(LobbyWire, TheDefaultReadWaitIsFiveSeconds) {
  server->Set(TRawServer::Silent());
  int32_t start = MilliSecs();
  EXPECT_EQ(LobbyPing(), u"");
  int32_t waited = MilliSecs() - start;
  EXPECT_GE(waited, 4990);
  EXPECT_LT(waited, 30000);
}

TEST_F(LobbyWire, AnEndlessLineIsCutAt64KiBAndEndsTheAnswer) {
  LobbyLimits().answerMs = 60000;  // the cut, not the deadline, must end it
  // In the body: the line is kept, cut, and nothing more is read.
  server->Set(TRawServer::Endless(Page("ColloquorRC2b\n"), 'a'));
  auto rooms = LobbyList(u"ColloquorRC2b");
  ASSERT_EQ(rooms.size(), 1u);
  EXPECT_EQ(rooms[0]->server, TString(64 * 1024, u'a'));
  EXPECT_EQ(rooms[0]->ip, u"");
  server->Set(TRawServer::Endless(Page(""), 'b'));
  EXPECT_EQ(LobbyPing(), TString(64 * 1024, u'b'));
  // In the header: no body at all.
  server->Set(TRawServer::Endless("HTTP/1.0 200 OK\r\nX: ", 'c'));
  EXPECT_EQ(LobbyAdd(u"g", u"r"), 0);
  // CR bytes count too, though they are dropped.
  server->Set(TRawServer::Endless(Page(""), '\r'));
  EXPECT_EQ(LobbyPing(), u"");
}

TEST_F(LobbyWire, ASlowDripEndsAtTheAnswerDeadline) {
  ShortLimits();  // each byte comes well within the read wait
  server->Set(TRawServer::Drip(Page("ColloquorRC2b\nroom\n"), 20));
  int32_t start = MilliSecs();
  EXPECT_TRUE(LobbyList(u"").empty());
  EXPECT_GE(MilliSecs() - start, 990);
  EXPECT_LT(MilliSecs() - start, 10000);
  server->Set(TRawServer::Drip("HTTP/1.0 200 OK\r\n", 20));
  EXPECT_EQ(LobbyPing(), u"");
}
