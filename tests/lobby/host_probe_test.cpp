// The host probe against real ENet hosts set up as the room's host is (32
// peers, one channel, loopback): a host that is there answers, its program
// never sees a connection, and the slot it set aside is free again (forty
// probes leave all 32 slots open to a guest). The room browser's test sees
// the watch built on it drop a room whose host went away.
#include <enet/enet.h>
#include <gtest/gtest.h>

#include <random>

#include "lobby/host_probe.h"
#include "lobby/socket.h"
#include "tests/support/wait_until.h"

namespace {

const int32_t LOOPBACK = 0x7F000001;

// An ENet host listening on 127.0.0.1 on a port of its own choosing.
class TListeningHost {
 public:
  TListeningHost() {
    enet_initialize();
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    _host = enet_host_create(&address, 32, 1, 0, 0);
    ENetAddress bound{};
    if (_host && enet_socket_get_address(_host->socket, &bound) == 0) _port = bound.port;
  }
  ~TListeningHost() {
    if (_host) enet_host_destroy(_host);
  }
  int Port() const { return _port; }
  // One service without waiting; counts what the host's program would see.
  void Serve() {
    ENetEvent event;
    while (enet_host_service(_host, &event, 0) > 0) {
      if (event.type == ENET_EVENT_TYPE_CONNECT) ++connects;
      if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
    }
  }
  size_t BusySlots() const {
    size_t busy = 0;
    for (size_t i = 0; i < _host->peerCount; ++i)
      if (_host->peers[i].state != ENET_PEER_STATE_DISCONNECTED) ++busy;
    return busy;
  }
  int connects = 0;

 private:
  ENetHost* _host = nullptr;
  int _port = 0;
};

// A datagram for `socket`, serving `host` while waiting; "" after 3 s.
std::string NextDatagram(TSocket& socket, TListeningHost& host) {
  std::string datagram(1500, '\0');
  int32_t ip = 0;
  int port = 0, size = -1;
  WaitUntil([&] { return (size = socket.ReceiveFrom(&datagram[0], 1500, ip, port)) >= 0; }, 3000,
            [&] { host.Serve(); });
  return datagram.substr(0, size < 0 ? 0 : static_cast<size_t>(size));
}

}  // namespace

TEST(HostProbe, TheHostAnswersAndForgetsTheProbeWithoutItsProgramSeeingIt) {
  TListeningHost host;
  ASSERT_GT(host.Port(), 0);
  TSocketRef socket = TSocket::CreateUDP();
  ASSERT_TRUE(socket && socket->Bind(LOOPBACK, 0));
  for (uint32_t probe = 1; probe <= 40; ++probe) {
    std::string connect = HostProbeConnect(probe * 7919);
    ASSERT_TRUE(socket->SendTo(connect.data(), static_cast<int>(connect.size()), LOOPBACK,
                               host.Port()));
    THostProbeAnswer answer;
    ASSERT_TRUE(ReadHostProbeAnswer(NextDatagram(*socket, host), answer)) << "probe " << probe;
    EXPECT_EQ(answer.connectId, probe * 7919);
    EXPECT_EQ(host.BusySlots(), 1u);
    std::string release = HostProbeRelease(answer);
    socket->SendTo(release.data(), static_cast<int>(release.size()), LOOPBACK, host.Port());
    ASSERT_TRUE(WaitUntil([&] { return host.BusySlots() == 0; }, 3000, [&] { host.Serve(); }))
        << "probe " << probe << " kept its slot";
  }
  EXPECT_EQ(host.connects, 0);

  // Every slot is free: a guest still gets in.
  ENetHost* guest = enet_host_create(nullptr, 1, 1, 0, 0);
  ENetAddress address{};
  enet_address_set_host_ip(&address, "127.0.0.1");
  address.port = static_cast<enet_uint16>(host.Port());
  enet_host_connect(guest, &address, 1, 0);
  EXPECT_TRUE(WaitUntil([&] { return host.connects == 1; }, 5000, [&] {
    ENetEvent event;
    while (enet_host_service(guest, &event, 0) > 0) {
    }
    host.Serve();
  }));
  enet_host_destroy(guest);
}

TEST(HostProbe, AnythingButAHostsAnswerIsNotTakenForOne) {
  THostProbeAnswer answer;
  EXPECT_FALSE(ReadHostProbeAnswer("", answer));
  EXPECT_FALSE(ReadHostProbeAnswer(HostProbeConnect(5), answer));  // a CONNECT, not its answer
  EXPECT_FALSE(ReadHostProbeAnswer(HostProbeRelease(answer), answer));
  std::mt19937 random(16);
  for (int i = 0; i < 5000; ++i) {
    std::string datagram(random() % 64, '\0');
    for (char& byte : datagram) byte = static_cast<char>(random());
    ReadHostProbeAnswer(datagram, answer);  // must read no byte past the end
  }
}
