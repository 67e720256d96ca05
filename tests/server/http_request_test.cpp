// Reading request heads and writing answer heads, without sockets.
#include <gtest/gtest.h>

#include "server/http_request.h"

namespace {

int Parse(const std::string& head, THttpRequest& request) {
  return ParseRequestHead(head.data(), head.size(), request);
}

}  // namespace

TEST(RequestHeadSize, EndsAtTheFirstEmptyLine) {
  const std::string pipelined = "GET / HTTP/1.1\r\nA: b\r\n\r\nGET /next HTTP/1.1\r\n\r\n";
  EXPECT_EQ(RequestHeadSize(pipelined.data(), pipelined.size()), pipelined.find("GET /next"));
  const std::string bareLf = "GET / HTTP/1.0\n\nrest";
  EXPECT_EQ(RequestHeadSize(bareLf.data(), bareLf.size()), bareLf.find("rest"));
  for (const std::string partial : {"", "GET / HTTP/1.1\r\n", "GET / HTTP/1.1\r\nA: b\r\n\r"})
    EXPECT_EQ(RequestHeadSize(partial.data(), partial.size()), 0u) << partial;
}

TEST(ParseRequestHead, ReadsTheLineKeepAliveAndBody) {
  struct {
    std::string head;
    bool keepAlive, hasBody;
  } cases[] = {
      {"GET /gnet/gnet.php?opt=ping HTTP/1.0\r\nHOST: lobby\r\n\r\n", false, false},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", true, false},
      {"GET / HTTP/1.1\r\n\r\n", true, false},
      {"GET / HTTP/1.1\r\nconnection: upgrade, CLOSE\r\n\r\n", false, false},
      {"GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n", true, false},
      {"GET / HTTP/1.1\r\ncontent-length:  12 \r\n\r\n", true, true},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", true, true},
  };
  for (const auto& c : cases) {
    THttpRequest request;
    ASSERT_EQ(Parse(c.head, request), 0) << c.head;
    EXPECT_EQ(request.keepAlive, c.keepAlive) << c.head;
    EXPECT_EQ(request.hasBody, c.hasBody) << c.head;
  }
  THttpRequest request;
  Parse("HEAD /gnet/gnet.php?opt=list&x=%41 HTTP/1.1\r\n\r\n", request);
  EXPECT_EQ(request.method, "HEAD");
  EXPECT_EQ(request.target, "/gnet/gnet.php?opt=list&x=%41");
  EXPECT_EQ(request.version, "HTTP/1.1");
}

TEST(ParseRequestHead, RefusesWhatIsNotARequest) {
  const std::string longTarget = "GET /" + std::string(MAX_REQUEST_LINE_BYTES, 'a');
  const std::string longField = "X: " + std::string(MAX_HEADER_LINE_BYTES, 'a');
  struct {
    std::string head;
    int status;
  } cases[] = {
      {"GARBAGE\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n\r\n", 400},
      {"GET  / HTTP/1.1\r\n\r\n", 400},
      {"GET x HTTP/1.1\r\n\r\n", 400},
      {"G(T / HTTP/1.1\r\n\r\n", 400},
      {"GET /a\x01 HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/1.0\n\n", 400},
      {"GET / HTTP/1.1\r\nX: a\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nBad name: x\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 5\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nA: b\r\n", 400},  // cut before its empty line
      {"GET / HTTP/1.1\r\n\r\nGET", 400},
      {longTarget + " HTTP/1.1\r\n\r\n", 414},
      {longTarget, 414},
      {"GET / HTTP/1.1\r\n" + longField + "\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    THttpRequest request;
    EXPECT_EQ(Parse(c.head, request), c.status) << c.head.substr(0, 60);
  }
}

TEST(AppendAnswerHead, SaysLengthAndWhetherTheConnectionStays) {
  std::string open, closing;
  AppendAnswerHead(open, 200, 10, true);
  AppendAnswerHead(closing, 414, 0, false);
  EXPECT_EQ(open.compare(0, 17, "HTTP/1.1 200 OK\r\n"), 0) << open;
  EXPECT_NE(open.find("\r\nKeep-Alive: timeout=5, max=1000\r\n"), std::string::npos) << open;
  EXPECT_NE(open.find("\r\nContent-Length: 10\r\n"), std::string::npos) << open;
  EXPECT_EQ(closing.compare(0, 27, "HTTP/1.1 414 URI Too Long\r\n"), 0) << closing;
  EXPECT_NE(closing.find("\r\nConnection: close\r\n"), std::string::npos) << closing;
  for (const std::string& head : {open, closing})
    EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4) << head;
}
