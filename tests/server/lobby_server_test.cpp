// The lobby service through real HTTP on 127.0.0.1: the library's client for
// ordinary requests, raw sockets where exact bytes, source addresses or a
// misbehaving client matter.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "server/answer_queue.h"
#include "server/http_request.h"
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

// Regression: a GET's body was read as the next request.
TEST_F(LobbyHttp, ARequestBodyIsRefusedNotTakenForARequest) {
  const std::string smuggled = ProgramRequest("add&game=g&server=smuggled");
  for (const std::string& framing : {"Content-Length: " + std::to_string(smuggled.size()),
                                     std::string("Transfer-Encoding: chunked")}) {
    std::string answer = Exchange(
        server->Port(), "GET /gnet/gnet.php?opt=ping HTTP/1.1\r\n" + framing + "\r\n\r\n" + smuggled);
    EXPECT_EQ(answer.compare(0, 12, "HTTP/1.1 400"), 0) << answer;
    EXPECT_EQ(answer.find("HTTP/", 1), std::string::npos) << "answered twice: " << answer;
  }
  EXPECT_EQ(Get("opt=list"), "");
}

// Regression: requests pipelined past the limit of unsent answers waited
// for more bytes from the client, then got 408. Also a guard for the answers'
// pieces (heads, list bodies shared with the service) over partial sends.
TEST_F(LobbyHttp, PipelinedLongListsArriveWholeUpToTheClosingOne) {
  for (int i = 0; i < 32; ++i)
    ASSERT_EQ(Get("opt=add&game=g" + std::to_string(i) + "&server=" + std::string(60, 'n')),
              "OK\n");
  const std::string list = Get("opt=list");
  ASSERT_GT(list.size(), SHARED_BODY_MIN_BYTES);
  std::string requests;
  for (size_t i = 0; i < KEEP_ALIVE_REQUESTS; ++i)
    requests += "GET /gnet/gnet.php?opt=list HTTP/1.1\r\n\r\n";
  int fd = ConnectFrom("127.0.0.1", server->Port());
  ASSERT_EQ(send(fd, requests.data(), requests.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(requests.size()));
  const std::string stream = ReadAll(fd);
  close(fd);
  size_t answers = 0, at = 0;
  bool closing = false;
  while (at < stream.size() && !closing) {
    const size_t end = stream.find("\r\n\r\n", at);
    ASSERT_NE(end, std::string::npos) << "answer " << answers;
    const std::string head = stream.substr(at, end - at);
    ASSERT_EQ(head.compare(0, 15, "HTTP/1.1 200 OK"), 0) << "answer " << answers;
    ASSERT_EQ(stream.compare(end + 4, list.size(), list), 0) << "answer " << answers;
    closing = head.find("Connection: close") != std::string::npos;
    at = end + 4 + list.size();
    ++answers;
  }
  EXPECT_EQ(answers, KEEP_ALIVE_REQUESTS);
  EXPECT_TRUE(closing);
  EXPECT_EQ(at, stream.size());
}

// Regression: 32 worker threads, so idle and slow connections from one
// address made everyone else wait for minutes.
TEST_F(LobbyHttp, AnHonestRequestIsAnsweredWhileOneAddressHoldsIdleAndSlowConnections) {
  constexpr int IDLE = 1000, SLOW = 256;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  if (limit.rlim_max < 3 * (IDLE + SLOW) || setrlimit(RLIMIT_NOFILE, &limit) != 0)
    GTEST_SKIP() << "needs " << 3 * (IDLE + SLOW) << " descriptors (ulimit -Hn)";
  std::vector<int> held;
  for (int i = 0; i < IDLE + SLOW; ++i) held.push_back(ConnectFrom("127.0.0.1", server->Port()));
  const std::string partial = "GET /gnet/gnet.php?opt=ping HTTP/1.0\r\nHOST: 127.0.0.1";
  for (int i = IDLE; i < IDLE + SLOW; ++i) send(held[i], partial.data(), partial.size(), MSG_NOSIGNAL);
  // Answered once the server has taken in the connections before it, or
  // left the idle ones to the kernel until they send something.
  EXPECT_EQ(Body(Exchange(server->Port(), ProgramRequest("ping"), "127.0.0.2")), "127.0.0.2\n");
  for (int i = IDLE; i < IDLE + SLOW; ++i) send(held[i], "\r", 1, MSG_NOSIGNAL);

  const auto start = Clock::now();
  const std::string answer = Exchange(server->Port(), ProgramRequest("ping"), "127.0.0.2");
  const double took = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::printf("honest request beside %d idle and %d slow connections: %.2f ms\n", IDLE, SLOW, took);
  EXPECT_EQ(Body(answer), "127.0.0.2\n");
  EXPECT_LT(took, 100.0);
  for (int fd : held) close(fd);
}

// colloquor-lobby with `args`, its standard output and error going to `output`.
pid_t StartLobby(std::vector<std::string> args, const std::string& output) {
  std::vector<char*> argv{const_cast<char*>(COLLOQUOR_LOBBY_BINARY)};
  for (auto& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, COLLOQUOR_LOBBY_BINARY, &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status once the process ended (10 s at most, then killed: -1).
int ExitStatus(pid_t pid) {
  int status = -1;
  if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 10000)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FileText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class LobbyBinary : public testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/colloquor-lobby-test-XXXXXX";
    ASSERT_NE(mkdtemp(path), nullptr);
    dir = path;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  // Exit status and output of a run to its end.
  std::pair<int, std::string> Run(std::vector<std::string> args) {
    const std::string output = dir + "/run.txt";
    int status = ExitStatus(StartLobby(std::move(args), output));
    return {status, FileText(output)};
  }
  std::string dir;
};

TEST_F(LobbyBinary, HelpAndBadArguments) {
  EXPECT_EQ(Run({"--help"}).first, 0);
  EXPECT_EQ(Run({"--port"}).first, 2);
  EXPECT_EQ(Run({"--port", "70000"}).first, 2);
  EXPECT_EQ(Run({"--address", "256.1.1.1", "--port", "0"}).first, 1);
  // Regression: an unknown option was reported as needing a value.
  for (auto args : {std::vector<std::string>{"--frobnicate"}, {"--frobnicate", "1"}, {"-p", "80"}}) {
    auto [status, output] = Run(args);
    EXPECT_EQ(status, 2);
    EXPECT_NE(output.find("unknown option: " + args[0]), std::string::npos) << output;
  }
}

// Regression: a second instance on the same port started, and the two
// shared the requests without a word.
TEST_F(LobbyBinary, RefusesAPortInUseAndLogsStartAndStop) {
  const std::string log = dir + "/lobby.log";
  pid_t first = StartLobby({"--address", "127.0.0.1", "--port", "0"}, log);
  const std::string prefix = "listening on 127.0.0.1:";
  ASSERT_TRUE(WaitUntil([&] { return FileText(log).find('\n') != std::string::npos; }, 10000));
  ASSERT_EQ(FileText(log).compare(0, prefix.size(), prefix), 0) << FileText(log);
  const std::string port = std::to_string(std::atoi(FileText(log).c_str() + prefix.size()));

  auto [status, output] = Run({"--address", "127.0.0.1", "--port", port});
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("cannot listen on 127.0.0.1:" + port + ": the port is in use"),
            std::string::npos)
      << output;
  // Nor on every interface while one of them is held.
  EXPECT_EQ(Run({"--address", "0.0.0.0", "--port", port}).first, 1);

  kill(first, SIGTERM);
  EXPECT_EQ(ExitStatus(first), 0);
  const std::string text = FileText(log);
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "stopped on SIGTERM\n") << text;
}
