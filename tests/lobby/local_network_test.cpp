// The local-network modules against the real daemons, in test namespaces
// that tests/e2e/test_local_network.py sets up: this program runs in the
// "host" namespace with its own avahi-daemon; a "peer" namespace on the same
// bridge has another; the host's default route leads to a router namespace
// running miniupnpd, with an "outside" namespace beyond it. The driver says
// where everything is through COLLOQUOR_NET_* variables; without them every
// test skips.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lobby/local_room_browser.h"
#include "lobby/local_room_publisher.h"
#include "lobby/port_forward.h"
#include "tests/support/wait_until.h"

namespace {

constexpr char GAME[] = "ColloquorRC2b";
constexpr int PORT = 42000;
constexpr int DAEMON_WAIT_MS = 20000;  // probing and announcing take a few seconds

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// A process started from argv, ended (SIGTERM) and reaped with the object.
class TChild {
 public:
  explicit TChild(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if ((_pid = fork()) == 0) {
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~TChild() {
    kill(_pid, SIGTERM);
    waitpid(_pid, nullptr, 0);
  }

 private:
  pid_t _pid;
};

// Runs argv to its end; its standard output.
std::string Capture(const std::vector<std::string>& argv) {
  std::string command;
  for (const std::string& arg : argv) {
    command += " '";
    for (char c : arg) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    pclose(pipe);
  }
  return output;
}

std::vector<std::string> InNamespace(const std::string& ns, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
  return argv;
}

// The peer namespace: its address, its link, and its avahi-daemon's tools.
struct TPeer {
  std::string ns = Env("COLLOQUOR_NET_PEER_NS");
  std::string address = Env("COLLOQUOR_NET_PEER_ADDRESS");
  std::string link = Env("COLLOQUOR_NET_PEER_LINK");
  std::string bus = Env("COLLOQUOR_NET_PEER_BUS");

  std::vector<std::string> Avahi(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), {"env", "DBUS_SYSTEM_BUS_ADDRESS=" + bus});
    return InNamespace(ns, argv);
  }
  std::vector<std::string> Publish(const std::string& name, const std::string& game) const {
    return Avahi(
        {"avahi-publish", "-s", name, "_colloquor._udp", std::to_string(PORT), "game=" + game});
  }
  // What the peer's daemon resolves now, in avahi-browse's parsable lines.
  std::string Browse() const { return Capture(Avahi({"avahi-browse", "-rtp", "_colloquor._udp"})); }
  void SetLink(const char* upOrDown) const {
    Capture(InNamespace(ns, {"ip", "link", "set", link, upOrDown}));
  }
};

// avahi-browse's resolved line for a room, as far as the TXT record.
std::string BrowseLine(const std::string& name, const std::string& address) {
  std::string escaped;  // as avahi-browse writes spaces and '#'
  for (char c : name) {
    if (c == ' ')
      escaped += "\\032";
    else if (c == '#')
      escaped += "\\035";
    else
      escaped += c;
  }
  return ";IPv4;" + escaped + ";_colloquor._udp;local;" + Env("COLLOQUOR_NET_HOST_NAME") +
         ".local;" + address + ";" + std::to_string(PORT) + ";\"game=" + GAME + "\"";
}

bool Lists(const TLocalRoomBrowser& browser, const std::string& name, bool answering = false) {
  for (const TLocalRoom& room : browser.Rooms())
    if (room.name == name && (room.answering || !answering)) return true;
  return false;
}

class LocalNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("COLLOQUOR_NET_PEER_NS").empty())
      GTEST_SKIP() << "needs the namespaces of tests/e2e/test_local_network.py";
  }
  TPeer peer;
  std::string hostAddress = Env("COLLOQUOR_NET_HOST_ADDRESS");
};

TEST_F(LocalNetwork, APublishedRoomIsSeenByThePeerUntilWithdrawn) {
  std::atomic<int> told{TLocalRoomPublisher::PUBLISH_WAITING};
  auto publisher = std::make_unique<TLocalRoomPublisher>(
      "Alice Room", PORT, GAME,
      [&](const TLocalRoomPublisher::TStatus& status) { told = status.state; });
  ASSERT_TRUE(WaitUntil([&] { return told == TLocalRoomPublisher::PUBLISH_DONE; }, DAEMON_WAIT_MS));
  EXPECT_EQ(publisher->Status().name, "Alice Room");
  std::string line = BrowseLine("Alice Room", hostAddress);
  EXPECT_TRUE(
      WaitUntil([&] { return peer.Browse().find(line) != std::string::npos; }, DAEMON_WAIT_MS));
  publisher.reset();
  EXPECT_TRUE(WaitUntil([&] { return peer.Browse().find("Alice\\032Room") == std::string::npos; },
                        DAEMON_WAIT_MS));
}

TEST_F(LocalNetwork, ANameTakenElsewhereIsPublishedUnderTheNextFreeName) {
  // No browser here: one browsing the same name on this machine's daemon
  // hides the other machine's defence of its name, and that one yields.
  TChild other(peer.Publish("Clash Room", "ColloquorRC1"));
  ASSERT_TRUE(WaitUntil([&] { return peer.Browse().find("Clash\\032Room;") != std::string::npos; },
                        DAEMON_WAIT_MS));
  auto done = [](const TLocalRoomPublisher& publisher) {
    return publisher.Status().state == TLocalRoomPublisher::PUBLISH_DONE;
  };
  TLocalRoomPublisher first("Clash Room", PORT, GAME);  // taken on the peer
  ASSERT_TRUE(WaitUntil([&] { return done(first); }, DAEMON_WAIT_MS));
  EXPECT_EQ(first.Status().name, "Clash Room #2");
  // Taken on the peer, then here (the same records twice would be no clash).
  TLocalRoomPublisher second("Clash Room", PORT + 1, GAME);
  ASSERT_TRUE(WaitUntil([&] { return done(second); }, DAEMON_WAIT_MS));
  EXPECT_EQ(second.Status().name, "Clash Room #3");
  std::string line = BrowseLine("Clash Room #2", hostAddress);
  EXPECT_TRUE(
      WaitUntil([&] { return peer.Browse().find(line) != std::string::npos; }, DAEMON_WAIT_MS));
}

TEST_F(LocalNetwork, BrowsedRoomsComeResolvedAndLeaveWhenWithdrawn) {
  std::atomic<int> changes{0};
  TLocalRoomBrowser browser(GAME, [&] { ++changes; });
  auto room = std::make_unique<TChild>(peer.Publish("Bob Room", GAME));
  TChild otherGame(peer.Publish("Old Room", "ColloquorRC1"));
  ASSERT_TRUE(WaitUntil([&] { return Lists(browser, "Bob Room") && Lists(browser, "Old Room"); },
                        DAEMON_WAIT_MS));
  EXPECT_EQ(browser.State(), TLocalRoomBrowser::BROWSE_RUNNING);
  EXPECT_GE(changes, 2);  // running, then each room
  for (const TLocalRoom& found : browser.Rooms()) {
    if (found.name != "Bob Room" && found.name != "Old Room") continue;  // other tests' rooms
    EXPECT_EQ(found.address, peer.address) << found.name;
    EXPECT_EQ(found.port, PORT) << found.name;
    EXPECT_EQ(found.sameGame, found.name == "Bob Room") << found.name;
  }
  room.reset();  // the publisher ends: its daemon says goodbye
  EXPECT_TRUE(WaitUntil([&] { return !Lists(browser, "Bob Room"); }, DAEMON_WAIT_MS));
}

TEST_F(LocalNetwork, AHostThatFallsSilentLeavesTheListAndComesBack) {
  // Without a goodbye, multicast DNS would keep the room for over an hour.
  TLocalRoomBrowser browser(GAME);
  TChild room(peer.Publish("Lost Room", GAME));
  ASSERT_TRUE(WaitUntil([&] { return Lists(browser, "Lost Room", true); }, DAEMON_WAIT_MS));
  peer.SetLink("down");
  EXPECT_TRUE(WaitUntil([&] { return !Lists(browser, "Lost Room"); }, 3 * PROBE_SILENCE_MS));
  peer.SetLink("up");
  EXPECT_TRUE(WaitUntil([&] { return Lists(browser, "Lost Room", true); }, DAEMON_WAIT_MS));
}

// --- port forwarding through the test router -------------------------------

struct TRouter {
  std::string ns = Env("COLLOQUOR_NET_ROUTER_NS");
  std::string wanAddress = Env("COLLOQUOR_NET_WAN_ADDRESS");
  std::string outsideNs = Env("COLLOQUOR_NET_OUTSIDE_NS");

  // Whether the router's rules send the port to `address`.
  bool Forwards(const std::string& address) const {
    std::string rules = Capture(InNamespace(ns, {"nft", "list", "ruleset"}));
    return rules.find("dnat ip to " + address + ":" + std::to_string(PORT)) != std::string::npos;
  }
  void SendFromOutside() const {
    std::string target = "/dev/udp/" + wanAddress + "/" + std::to_string(PORT);
    Capture(InNamespace(outsideNs, {"bash", "-c", "echo knock > " + target}));
  }
};

// Whether a datagram reached the room port here, knocking from outside
// until one does.
bool ReachedFromOutside(const TRouter& router) {
  int listener = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(PORT);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  char byte;
  bool reached = WaitUntil([&] { return recv(listener, &byte, 1, 0) > 0; }, 10000,
                           [&] { router.SendFromOutside(); });
  close(listener);
  return reached;
}

struct TMethodCase {
  const char* name;
  TForwardMethod method;
  bool upnp;
  bool endByDestructor;  // the room closing; otherwise Remove, as on SIGTERM
};

class PortForward : public LocalNetwork, public ::testing::WithParamInterface<TMethodCase> {
 protected:
  TRouter router;
};

TEST_P(PortForward, MapsThePortReachesUsFromOutsideAndRemovesIt) {
  TForwardOptions options;
  options.upnp = GetParam().upnp;
  auto forward = std::make_unique<TPortForward>(PORT, nullptr, options);
  ASSERT_TRUE(WaitUntil([&] { return forward->Status().state != FORWARD_TRYING; }, DAEMON_WAIT_MS));
  TForwardStatus status = forward->Status();
  EXPECT_EQ(status.state, FORWARD_ACTIVE);
  EXPECT_EQ(status.method, GetParam().method);
  EXPECT_EQ(status.externalAddress, router.wanAddress);
  EXPECT_EQ(status.localAddress, hostAddress);
  EXPECT_TRUE(router.Forwards(hostAddress));
  EXPECT_TRUE(ReachedFromOutside(router));

  if (GetParam().endByDestructor) {
    forward.reset();
  } else {
    EXPECT_TRUE(forward->Remove(10000));
    EXPECT_EQ(forward->Status().state, FORWARD_REMOVED);
  }
  EXPECT_FALSE(router.Forwards(hostAddress));
}

INSTANTIATE_TEST_SUITE_P(Methods, PortForward,
                         ::testing::Values(TMethodCase{"Upnp", FORWARD_UPNP, true, false},
                                           TMethodCase{"NatPmp", FORWARD_NATPMP, false, false},
                                           TMethodCase{"UpnpEndedWithTheRoom", FORWARD_UPNP, true,
                                                       true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
