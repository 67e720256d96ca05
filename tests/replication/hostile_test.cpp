// A listening host under hostile peers on real ENet: random and damaged
// packets, dropped whole while it keeps relaying for everybody else; and
// connection attempts that never complete.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <gtest/gtest.h>

#include <random>

#include "tests/replication/net_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A raw ENet client that says whatever it is told to.
class TRawPeer {
 public:
  TRawPeer() { _host = enet_host_create(nullptr, 1, 1, 0, 0); }
  ~TRawPeer() { enet_host_destroy(_host); }
  bool Connect(int port, TPump& pump) {
    ENetAddress address{};
    enet_address_set_host_ip(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    _peer = enet_host_connect(_host, &address, 1, 0);
    return pump.Until([&] { return Service(), _peer->state == ENET_PEER_STATE_CONNECTED; });
  }
  void Send(const Bytes& bytes) {
    enet_peer_send(_peer, 0, enet_packet_create(bytes.data(), bytes.size(), ENET_PACKET_FLAG_RELIABLE));
  }
  void Service() {
    ENetEvent event;
    while (enet_host_service(_host, &event, 0) > 0)
      if (event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
  }
  bool Idle() const { return _peer->reliableDataInTransit == 0 && enet_list_empty(&_peer->outgoingCommands); }
  void Disconnect() { enet_peer_disconnect(_peer, 0); }

 private:
  ENetHost* _host = nullptr;
  ENetPeer* _peer = nullptr;
};

// Well-formed packets of every kind, for mutation.
std::vector<Bytes> Templates() {
  return {
      FrameMsg(1, 1, {0x60, 0x00, 0x03, 0x61, 0x62, 0x63, 0x82, 0x07, 0x21, 0xFF, 0xFF, 0xFF, 0xFE}),
      FrameMsg(1, 2, {0x44, 0x3E, 0x00, 0xC5, 0x3F, 0xC0, 0x00, 0x00, 0xA6, 0x01, 0x00}),
      FrameMsg(2, 1, {0x61, 0x00, 0x02, 0x68, 0x69}),
      FrameMsg(3, 2, {}),
      FrameMsg(5, 1, {0x60, 0x00, 0x03, 0x4D, 0x53, 0x47}),
  };
}

Bytes RandomPacket(std::mt19937& random, const std::vector<Bytes>& templates) {
  std::uniform_int_distribution<int> byte(0, 255);
  Bytes packet;
  if (random() % 4 == 0) {
    packet.resize(random() % 24);
    for (auto& b : packet) b = static_cast<uint8_t>(byte(random));
    return packet;
  }
  packet = templates[random() % templates.size()];
  for (int edits = 1 + random() % 3; edits > 0; --edits) {
    switch (random() % 4) {
      case 0: packet.resize(random() % (packet.size() + 1)); break;
      case 1: packet.push_back(static_cast<uint8_t>(byte(random))); break;
      default:
        if (!packet.empty()) packet[random() % packet.size()] ^= static_cast<uint8_t>(1u << random() % 8);
    }
  }
  return packet;
}

}  // namespace

TEST(HostileInput, RandomAndDamagedPacketsAreDroppedAndRelayingGoesOn) {
  // Regression: one malformed packet raised out of Sync and ended the room.
  auto host = NewReplicationHost();
  int port = ListenOnFreePort(host);
  auto a = NewReplicationHost(), b = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(a, host, port), 1);
  ASSERT_EQ(ConnectPumped(b, host, port), 1);
  auto mine = NewReplicatedObject(a);
  SetSlotString(mine, 0, u"GUEST");
  SetSlotInt(mine, 1, 1);
  TPump pump({host, a, b});
  ASSERT_TRUE(pump.Until([&] { return FindBySlot(b, 0, u"GUEST") != nullptr; }));

  TRawPeer raw;
  ASSERT_TRUE(raw.Connect(port, pump));
  std::mt19937 random(20240611);
  const auto templates = Templates();
  for (int round = 0; round < 40; ++round) {
    for (int i = 0; i < 100; ++i) raw.Send(RandomPacket(random, templates));
    ASSERT_TRUE(pump.Until([&] { return raw.Service(), raw.Idle(); }, 10000)) << round;
  }
  raw.Send(FrameMsg(1, 4000, {0x60, 0x00, 0x03, 0x45, 0x4E, 0x44}));  // "END", in order after all
  ASSERT_TRUE(pump.Until([&] { return raw.Service(), FindBySlot(b, 0, u"END") != nullptr; }, 10000));
  int64_t malformed = 0;
  for (TDropReason reason : {TDropReason::TooShort, TDropReason::UnknownState,
                             TDropReason::InvalidSlotType, TDropReason::Truncated}) {
    EXPECT_GT(DropCount(host, reason), 0) << DropReasonName(reason);
    malformed += DropCount(host, reason);
  }
  EXPECT_GT(malformed, 1000);

  SetSlotInt(mine, 1, 2);
  ASSERT_TRUE(pump.Until([&] { return GetSlotInt(FindBySlot(b, 0, u"GUEST"), 1) == 2; }));

  // The raw peer leaves: whatever of its creations got through closes everywhere.
  raw.Disconnect();
  ASSERT_TRUE(pump.Until([&] { return raw.Service(), host->Peers().size() == 2 && b->Objects().size() == 1; }));
  EXPECT_EQ(a->Objects().size(), 1u);
  EXPECT_EQ(host->Objects().size(), 1u);
}

TEST(HostileInput, HalfOpenAttemptsDoNotKeepGuestsOut) {
  // Regression: attempts that never complete (forged source addresses) held
  // every slot, so nobody else got in for as long as they came.
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  ENetAddress to{};
  enet_address_set_host_ip(&to, "127.0.0.1");
  to.port = static_cast<enet_uint16>(port);
  // Each from an address of its own, as forged ones are, gone after its first datagram.
  for (uint32_t i = 0; i < 3 * GNET_MAX_PEERS; ++i) {
    ENetAddress from{};
    from.host = htonl(0x7f000100 + i);
    ENetHost* attempt = enet_host_create(&from, 1, 1, 0, 0);
    ASSERT_NE(attempt, nullptr);
    enet_host_connect(attempt, &to, 1, 0);
    enet_host_flush(attempt);
    enet_host_destroy(attempt);
    SyncReplication(listener);
  }
  // At once: well before the attempts could have been let go.
  EXPECT_EQ(ConnectPumped(NewReplicationHost(), listener, port, 2000), 1);
}
