// The lobby service through real HTTP on 127.0.0.1: the library's client for
// ordinary requests, raw sockets where exact bytes, source addresses or a
// misbehaving client matter.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "server/lobby_server.h"
#include "tests/support/wait_until.h"
#include "tests/support/read_until_closed.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int ConnectFrom(const char* source, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, source, &address.sin_addr);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  address.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

// Everything the server sends until it closes (10 s at most).
std::string ReadAll(int fd) { return ReadUntilClosed(fd, 10000); }

// One request as the program sends it, from `source`; the whole answer.
std::string Exchange(int port, const std::string& request, const char* source = "127.0.0.1") {
  int fd = ConnectFrom(source, port);
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer = ReadAll(fd);
  close(fd);
  return answer;
}

std::string ProgramRequest(const std::string& query) {
  return "GET /gnet/gnet.php?opt=" + query + " HTTP/1.0\r\nHOST: 127.0.0.1\r\n\r\n";
}

// The body after the first empty line, as the program reads it.
std::string Body(const std::string& answer) {
  size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

class LobbyHttp : public testing::Test {
 protected:
  void SetUp() override {
    TLobbyServerOptions options;
    options.address = "127.0.0.1";
    options.port = 0;
    options.maxRooms = 50;
    server = std::make_unique<TLobbyServer>(options, [this] { return now.load(); }, log);
    ASSERT_TRUE(server->Bind());
    serving = std::thread([this] { server->Serve(); });
    client = std::make_unique<httplib::Client>("127.0.0.1", server->Port());
  }
  void TearDown() override { StopServer(); }
  void StopServer() {
    if (!serving.joinable()) return;
    server->Stop();
    serving.join();
  }
  std::string Get(const std::string& query, int* status = nullptr) {
    auto result = client->Get(("/gnet/gnet.php?" + query).c_str());
    if (status) *status = result ? result->status : -1;
    return result ? result->body : "(no answer)";
  }

  std::atomic<int64_t> now{0};
  std::ostringstream log;
  std::unique_ptr<TLobbyServer> server;
  std::thread serving;
  std::unique_ptr<httplib::Client> client;
};

}  // namespace

TEST_F(LobbyHttp, AnswersSuitTheProgramsReader) {
  std::string answer = Exchange(server->Port(), ProgramRequest("ping"));
  EXPECT_EQ(answer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << answer;
  EXPECT_EQ(Body(answer), "127.0.0.1\n");
  EXPECT_EQ(Body(Exchange(server->Port(), ProgramRequest("ping"), "127.0.0.9")), "127.0.0.9\n");
  EXPECT_EQ(Body(Exchange(server->Port(),
                          ProgramRequest("add&game=ColloquorRC2b&server=guest7s_Room"),
                          "127.0.0.7")),
            "OK\n");
  EXPECT_EQ(Body(Exchange(server->Port(), ProgramRequest("list"))),
            "ColloquorRC2b\nguest7s_Room\n127.0.0.7\n");
  // UTF-8 in a room name comes back as it was sent.
  Exchange(server->Port(), ProgramRequest("add&game=g&server=caf\xc3\xa9"), "127.0.0.8");
  EXPECT_NE(Body(Exchange(server->Port(), ProgramRequest("list")))
                .find("g\ncaf\xc3\xa9\n127.0.0.8\n"),
            std::string::npos);
}

TEST_F(LobbyHttp, RoomsExpireUnlessRefreshedAndOneLogLinePerRequest) {
  int status = 0;
  EXPECT_EQ(Get("opt=add&game=g&server=r", &status), "OK\n");
  EXPECT_EQ(status, 200);
  now = 599 * 1000;
  EXPECT_EQ(Get("opt=list"), "g\nr\n127.0.0.1\n");
  now = 600 * 1000;
  EXPECT_EQ(Get("opt=list"), "");
  EXPECT_EQ(Get("opt=ref&game=g&server=r"), "OK\n");
  EXPECT_EQ(Get("opt=list"), "g\nr\n127.0.0.1\n");
  EXPECT_EQ(Get("opt=rem&game=g"), "OK\n");
  EXPECT_EQ(Get("opt=list"), "");
  Get("opt=bogus", &status);
  EXPECT_EQ(status, 400);
  Get("opt=add&game=g", &status);
  EXPECT_EQ(status, 400);
  StopServer();
  std::string text = log.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << text;
  EXPECT_NE(text.find(" 127.0.0.1 \"GET /gnet/gnet.php?opt=ref&game=g&server=r HTTP/1.1\" 200 3\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"GET /gnet/gnet.php?opt=bogus HTTP/1.1\" 400"), std::string::npos);
}

TEST_F(LobbyHttp, TooManyRoomsFromOneAddressAreRefused) {
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(Get("opt=add&game=g" + std::to_string(i) + "&server=r"), "OK\n");
  int status = 0;
  Get("opt=add&game=g32&server=r", &status);
  EXPECT_EQ(status, 429);
  std::string list = Get("opt=list");
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3 * 32);
}

TEST_F(LobbyHttp, OverLongRequestLinesAndHeadersAreRefused) {
  std::string longTarget = "GET /gnet/gnet.php?opt=ping&x=" + std::string(9000, 'a') + " HTTP/1.0\r\n\r\n";
  EXPECT_EQ(Exchange(server->Port(), longTarget).compare(0, 12, "HTTP/1.1 414"), 0);
  std::string longHeader = "GET /gnet/gnet.php?opt=ping HTTP/1.0\r\nX: " + std::string(9000, 'a') + "\r\n\r\n";
  EXPECT_EQ(Exchange(server->Port(), longHeader).compare(0, 12, "HTTP/1.1 400"), 0);
  // A request line without end is refused too, and the service goes on.
  int fd = ConnectFrom("127.0.0.1", server->Port());
  std::string endless = "GET /" + std::string(256 * 1024, 'a');
  send(fd, endless.data(), endless.size(), MSG_NOSIGNAL);
  EXPECT_EQ(ReadAll(fd).compare(0, 12, "HTTP/1.1 414"), 0);
  close(fd);
  EXPECT_EQ(Get("opt=ping"), "127.0.0.1\n");
  // Over-long values get 400 from the service.
  int status = 0;
  Get("opt=add&game=g&server=" + std::string(65, 's'), &status);
  EXPECT_EQ(status, 400);
}

TEST_F(LobbyHttp, AClientSendingTooSlowlyIsCutOffWhileOthersAreServed) {
  int slow = ConnectFrom("127.0.0.1", server->Port());
  auto start = Clock::now();
  std::string request = ProgramRequest("ping");
  bool answered = false;
  // One byte every 250 ms: each read is quick, the whole request is not.
  for (size_t i = 0; i < request.size() && !answered; ++i) {
    answered = send(slow, &request[i], 1, MSG_NOSIGNAL) != 1;
    pollfd entry{slow, POLLIN, 0};
    answered = answered || poll(&entry, 1, 250) > 0;
    if (i == 3) {
      EXPECT_EQ(Get("opt=ping"), "127.0.0.1\n");  // others are not held up
    }
  }
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  ASSERT_TRUE(answered);
  EXPECT_GE(took, 9500);
  EXPECT_LE(took, 13000);
  EXPECT_EQ(ReadAll(slow).compare(0, 12, "HTTP/1.1 408"), 0);
  close(slow);
  EXPECT_EQ(Get("opt=ping"), "127.0.0.1\n");
  StopServer();
  EXPECT_NE(log.str().find("\" 408 "), std::string::npos) << log.str();
}

TEST(LobbyBinary, HelpAndBadArguments) {
  auto run = [](std::vector<std::string> args) {
    std::vector<char*> argv{const_cast<char*>(COLLOQUOR_LOBBY_BINARY)};
    for (auto& arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, COLLOQUOR_LOBBY_BINARY, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = -1;
    bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000);
    if (!ended) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run({"--help"}), 0);
  EXPECT_EQ(run({"--port"}), 2);
  EXPECT_EQ(run({"--port", "70000"}), 2);
  EXPECT_EQ(run({"--frobnicate", "1"}), 2);
  EXPECT_EQ(run({"--address", "256.1.1.1", "--port", "0"}), 1);
}
