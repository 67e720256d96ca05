// The real program under Xvfb with its lobby on 127.0.0.1: the bytes of the
// start-up ping, the windows answering (and a room opening) while the lobby
// is silent, the browser listing the lobby's rooms and joining one, joining
// a host by its address (and cancelling that), a room hosted out of the box
// and withdrawn when the program is told to end, and leaving a room without
// waiting for a silent guest.
#include <gtest/gtest.h>

#include <X11/keysym.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "replication/replication.h"
#include "tests/lobby/lobby_process.h"
#include "tests/lobby/raw_server.h"
#include "tests/support/wait_until.h"
#include "tests/support/x_client.h"

extern char** environ;

namespace {

// The program, started with COLLOQUOR_LOBBY set; ended (SIGTERM, then
// SIGKILL) when the test is over.
class TProgram {
 public:
  explicit TProgram(const std::string& lobby) {
    // No local network: a system bus that does not exist.
    std::vector<std::string> variables{
        "COLLOQUOR_LOBBY=" + lobby,
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/colloquor-test-bus"};
    for (char** v = environ; *v; ++v) {
      std::string variable = *v;
      if (variable.rfind("COLLOQUOR_LOBBY=", 0) != 0 &&
          variable.rfind("DBUS_SYSTEM_BUS_ADDRESS=", 0) != 0)
        variables.push_back(variable);
    }
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(&v[0]);
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(COLLOQUOR_BINARY), nullptr};
    if (posix_spawn(&_pid, COLLOQUOR_BINARY, nullptr, nullptr, argv, envp.data()) != 0) _pid = 0;
  }
  ~TProgram() { End(); }
  // Asks the program to end; returns whether it did within 10 s.
  bool End() {
    if (_pid <= 0) return true;
    kill(_pid, SIGTERM);
    int status;
    bool ended = WaitUntil([&] { return waitpid(_pid, &status, WNOHANG) == _pid; }, 10000);
    if (!ended) {
      kill(_pid, SIGKILL);
      waitpid(_pid, &status, 0);
    }
    _pid = 0;
    return ended;
  }
  // Ends the program at once (it may be inside a 10 s connect wait).
  void Kill() {
    if (_pid <= 0) return;
    kill(_pid, SIGKILL);
    int status;
    waitpid(_pid, &status, 0);
    _pid = 0;
  }

 private:
  pid_t _pid = 0;
};

// A UDP socket on ip:port that reports whether a datagram arrived.
class TUdpWatch {
 public:
  TUdpWatch(const char* ip, int port) {
    _fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    _bound = bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TUdpWatch() { close(_fd); }
  bool bound() const { return _bound; }
  bool Arrived() const {
    pollfd entry{_fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0;
  }

 private:
  int _fd = -1;
  bool _bound = false;
};

class ProgramTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(client.display(), nullptr) << "no X display"; }
  Window WaitWindow(const char* name, int timeoutMs = 15000) {
    Window window = 0;
    WaitUntil([&] { return (window = client.FindWindowByName(name)) != 0; }, timeoutMs);
    return window;
  }
  // Types the user name into the start-up prompt and accepts it.
  void EnterUserName(const std::string& name) {
    Window prompt = WaitWindow("Choose Username");
    ASSERT_NE(prompt, 0u) << "the user-name prompt did not appear";
    client.Focus(prompt);
    // The prompt's text is selected: typing replaces it.
    client.Type(name);
    client.Press(XK_Return);
  }
  // Whether the room port is ours to use (a private namespace, or free).
  static bool RoomPortUsable() {
    return !std::getenv("COLLOQUOR_SHARED_NET") || TUdpWatch("0.0.0.0", 42000).bound();
  }
  // Clicks at a point of a window's client area.
  void ClickAt(Window window, int x, int y, int count = 1) {
    int rx, ry;
    client.RootPosition(window, rx, ry);
    client.MoveTo(rx + x, ry + y);
    client.Sync();
    client.Click(1, count);
  }

  TXClient client;
};

const char kBrowserTitle[] = "Server List: ColloquorRC2b";

// One display connection held for the whole run: when its last client
// leaves, the X server resets, and a test starting meanwhile finds no display.
class DisplayEnvironment : public testing::Environment {
 public:
  void SetUp() override { display_ = XOpenDisplay(nullptr); }
  void TearDown() override {
    if (display_) XCloseDisplay(display_);
  }

 private:
  Display* display_ = nullptr;
};
testing::Environment* const displayEnvironment =
    testing::AddGlobalTestEnvironment(new DisplayEnvironment);

}  // namespace

TEST_F(ProgramTest, PingsTheLobbyWithExactBytesWhileThePromptIsAlreadyUp) {
  TRawServer raw;
  std::atomic<bool> asked{false}, release{false};
  raw.Set([&](int fd) {
    asked = true;
    WaitUntil([&] { return release.load(); }, 10000);
    TRawServer::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\n127.0.0.1\n");
  });
  const std::string lobby = "127.0.0.1:" + std::to_string(raw.Port());
  TProgram program(lobby);
  ASSERT_TRUE(WaitUntil([&] { return asked.load(); }, 15000)) << "no ping arrived";
  // The answer is held back; the prompt does not wait for it.
  EXPECT_NE(WaitWindow("Choose Username"), 0u);
  release = true;
  ASSERT_TRUE(WaitUntil([&] { return !raw.Requests().empty(); }, 5000));
  EXPECT_EQ(raw.Requests().front(),
            "GET /gnet/gnet.php?opt=ping HTTP/1.0\r\nHOST: " + lobby + "\r\n\r\n");
  EXPECT_TRUE(program.End());
}

TEST_F(ProgramTest, TheWindowsAnswerWhileTheLobbyIsSilent) {
  TRawServer raw;
  raw.SetFor("opt=ping", TRawServer::Answer("HTTP/1.0 200 OK\r\n\r\n127.0.0.1\n"));
  raw.Set(TRawServer::Silent());  // the list and the announcement go unanswered
  TProgram program("127.0.0.1:" + std::to_string(raw.Port()));
  EnterUserName("patient");
  Window browser = WaitWindow(kBrowserTitle);
  ASSERT_NE(browser, 0u);
  client.Focus(browser);
  auto start = std::chrono::steady_clock::now();
  ClickAt(browser, 240 + 75, 70 + 12);  // Create Room, while the list is awaited
  Window roomName = WaitWindow("Choose Room Name");
  ASSERT_NE(roomName, 0u) << "the browser did not answer while its list was awaited";
  std::printf("Create Room answered after %lld ms while the lobby was silent\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  client.Focus(roomName);
  client.Press(XK_Return);
  // The room opens while its announcement waits for the lobby.
  EXPECT_NE(WaitWindow("ColloquorRC2b: patient"), 0u) << "the room waited for the lobby";
  EXPECT_TRUE(program.End());
}

TEST_F(ProgramTest, TheBrowserListsTheLobbysRoomsAndJoinsOne) {
  TLobbyProcess lobby(COLLOQUOR_LOBBY_BINARY);
  ASSERT_GT(lobby.Port(), 0);
  // The host answers from 127.0.0.1 whatever loopback address it is asked
  // at, so it announces its room from there.
  ASSERT_EQ(lobby.Get("opt=add&game=ColloquorRC2b&server=first_room", "127.0.0.1"), "OK\n");
  ASSERT_EQ(lobby.Get("opt=add&game=OtherGame&server=not_shown", "127.0.0.3"), "OK\n");
  if (!RoomPortUsable())
    GTEST_SKIP() << "UDP port 42000 is taken and no private network namespace could be made";
  // The first room's host: a real room host, served on a thread of its own.
  TGNetHostRef roomHost = NewReplicationHost();
  ASSERT_EQ(ListenReplication(roomHost, 42000), 1);
  std::atomic<bool> serving{true};
  std::thread server([&] {
    while (serving) {
      SyncReplication(roomHost);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CloseReplicationHost(roomHost);
  });
  struct TStop {
    std::atomic<bool>& serving;
    std::thread& server;
    ~TStop() {
      serving = false;
      server.join();
    }
  } stop{serving, server};

  TProgram program(lobby.Address());
  EnterUserName("tester");
  Window browser = WaitWindow(kBrowserTitle);
  ASSERT_NE(browser, 0u) << "the room browser did not appear";
  // Both are answered in the background; the list fills when its answer is in.
  for (const char* request : {"ping", "list"}) {
    const std::string line =
        std::string("127.0.0.1 \"GET /gnet/gnet.php?opt=") + request + " HTTP/1.0\" 200";
    EXPECT_TRUE(WaitUntil([&] { return lobby.Log().find(line) != std::string::npos; }, 10000))
        << lobby.Log();
  }
  // Double-clicking the first row joins the room. A click that comes before
  // the list is filled, or before the dialog's loop runs, finds no row: try
  // again while the browser is open.
  Window room = 0;
  for (int attempt = 0; attempt < 5 && !room; ++attempt) {
    if (client.FindWindowByName(kBrowserTitle) == 0) break;
    client.Focus(browser);
    ClickAt(browser, 40, 20, 2);
    room = WaitWindow("ColloquorRC2b: tester", 2000);
  }
  if (!room) room = WaitWindow("ColloquorRC2b: tester");
  EXPECT_NE(room, 0u) << "the listed room was not joined; the browser is "
                      << (client.FindWindowByName(kBrowserTitle) ? "still open" : "gone");
  EXPECT_TRUE(program.End());
}

TEST_F(ProgramTest, JoinByAddressConnectsThereAndCanBeCancelled) {
  TLobbyProcess lobby(COLLOQUOR_LOBBY_BINARY);
  ASSERT_GT(lobby.Port(), 0);
  TUdpWatch host("127.0.0.5", 4321);
  ASSERT_TRUE(host.bound()) << "127.0.0.5:4321 is taken";
  TProgram program(lobby.Address());
  EnterUserName("typist");
  Window browser = WaitWindow(kBrowserTitle);
  ASSERT_NE(browser, 0u);
  client.Focus(browser);
  ClickAt(browser, 240 + 75, 100 + 12);  // Join by Address...
  Window dialog = WaitWindow("Join by Address");
  ASSERT_NE(dialog, 0u);
  client.Focus(dialog);
  client.Type("127.0.0.5:4321");
  client.Press(XK_Return);
  EXPECT_TRUE(WaitUntil([&] { return host.Arrived(); }, 10000)) << "no connect attempt arrived";
  // Nobody answers there: the note stays up until cancelled, and the
  // browser is back long before the connect would time out (then "#3"
  // would keep it away).
  Window connecting = WaitWindow(u8"Connecting to 127.0.0.5:4321\u2026");
  ASSERT_NE(connecting, 0u);
  client.Focus(connecting);
  client.Press(XK_Escape);
  EXPECT_NE(WaitWindow(kBrowserTitle, 8000), 0u);
  EXPECT_TRUE(program.End());
}

TEST_F(ProgramTest, ARoomHostedOutOfTheBoxIsListedThenWithdrawnAtExit) {
  TLobbyProcess lobby(COLLOQUOR_LOBBY_BINARY);
  ASSERT_GT(lobby.Port(), 0);
  if (!RoomPortUsable())
    GTEST_SKIP() << "UDP port 42000 is taken and no private network namespace could be made";
  TProgram program(lobby.Address());
  EnterUserName("hoster");
  Window browser = WaitWindow(kBrowserTitle);
  ASSERT_NE(browser, 0u);
  client.Focus(browser);
  ClickAt(browser, 240 + 75, 70 + 12);  // Create Room
  Window roomName = WaitWindow("Choose Room Name");
  ASSERT_NE(roomName, 0u);
  client.Focus(roomName);
  client.Press(XK_Return);  // keeps the proposed name
  const std::string listed = "ColloquorRC2b\nhosters_Room\n127.0.0.1\n";
  EXPECT_TRUE(WaitUntil([&] { return lobby.Get("opt=list", "127.0.0.9") == listed; }, 15000))
      << lobby.Get("opt=list", "127.0.0.9");
  EXPECT_TRUE(program.End());
  EXPECT_EQ(lobby.Get("opt=list", "127.0.0.9"), "");
}

TEST_F(ProgramTest, LeavingDoesNotWaitForAGuestsAcknowledgementsAndHostingAgainWorks) {
  TLobbyProcess lobby(COLLOQUOR_LOBBY_BINARY);
  ASSERT_GT(lobby.Port(), 0);
  if (!RoomPortUsable())
    GTEST_SKIP() << "UDP port 42000 is taken and no private network namespace could be made";
  TProgram program(lobby.Address());
  EnterUserName("hoster");
  auto hostRoom = [&] {
    Window browser = WaitWindow(kBrowserTitle);
    client.Focus(browser);
    ClickAt(browser, 240 + 75, 70 + 12);  // Create Room
    Window roomName = WaitWindow("Choose Room Name");
    client.Focus(roomName);
    client.Press(XK_Return);
    return WaitWindow("ColloquorRC2b: hoster");
  };
  Window room = hostRoom();
  ASSERT_NE(room, 0u);
  // A guest that, once connected, is never served: it acknowledges nothing,
  // so the room's last packets to it stay unacknowledged.
  TGNetHostRef guest = NewReplicationHost();
  ASSERT_EQ(ConnectReplication(guest, u"127.0.0.1", 42000, 10000), 1);
  client.Focus(room);
  auto start = std::chrono::steady_clock::now();
  ClickAt(room, 85, 22);  // Leave Room
  ASSERT_NE(WaitWindow(kBrowserTitle), 0u);
  std::printf("the browser came back %lld ms after Leave Room\n",
              static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count()));
  // The port of the room being closed is free for the next one at once.
  EXPECT_NE(hostRoom(), 0u) << "hosting again failed";
  EXPECT_TRUE(program.End());
}
