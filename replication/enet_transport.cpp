#include "replication/enet_transport.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <vector>

#include "core/clock.h"
#include "core/error.h"
#include "replication/wire.h"

namespace {

// A listening host keeps many more slots than it holds connections: a
// connection attempt takes a slot as soon as its first datagram arrives, and
// forged attempts (whose answers go nowhere) must not leave none for real
// guests. Those are let go after kHalfOpenMs, so that even hundreds of them a
// second leave slots free. A connecting host needs one.
constexpr size_t kListenerSlots = 1024;
constexpr size_t kConnectorSlots = 1;
constexpr size_t kChannels = 1;
// How long a connection attempt may stay half-open at a listening host
// before its slot is freed: an honest handshake takes one round trip, and
// this leaves time for its answer to be retried twice.
constexpr int32_t kHalfOpenMs = 3000;
// How often a listening host looks for half-open attempts past their time.
constexpr int32_t kHalfOpenSweepMs = 100;
// A flood of packets must not grow the queue without end; what is left
// waits in ENet, which reads no more from a connection than
// kMaxWaitingBytes ahead of us (the rest is retried by its sender).
constexpr size_t kMaxQueuedEvents = 1024;
constexpr size_t kMaxQueuedBytes = 4u << 20;
constexpr size_t kMaxWaitingBytes = 1u << 20;
// Longest pause of the connect wait; incoming traffic ends it earlier.
constexpr int32_t kPollMs = 5;
// When a silent connection counts as lost. ENet gives up on a packet that
// has gone unacknowledged for kTimeoutMaximumMs, or already after
// kTimeoutMinimumMs once it was retried often enough (kTimeoutLimit: the
// retry interval doubled to 32 times the first). Every end serves its socket
// as soon as traffic arrives and at least once a second, so a live peer, even
// one that serves only once a second, acknowledges within about a second. A
// vanished one sent its last acknowledgement at most 1 s before our next
// packet, which goes unanswered for 7 s before the next service (at most 1 s
// later) notices: under 10 s in all.
constexpr enet_uint32 kTimeoutLimit = ENET_PEER_TIMEOUT_LIMIT;
constexpr enet_uint32 kTimeoutMinimumMs = ENET_PEER_TIMEOUT_MINIMUM;
constexpr enet_uint32 kTimeoutMaximumMs = 7000;
// ENet pings a connection that has been silent this long. A room's peers
// hear from each other every second (ages, acknowledgements); pinging after
// half a second added a packet and its acknowledgement, and so a wake-up at
// each end, every second. A silent connection is still pinged, and a vanished
// peer still noticed within the time-out above.
constexpr enet_uint32 kPingIntervalMs = 1500;

class TENetPacket : public TLinkPacket {
 public:
  explicit TENetPacket(ENetPacket* packet) : _packet(packet) {}
  // ENet frees a packet that a connection queued once every connection is
  // done with it; until it is queued somewhere it is ours.
  ~TENetPacket() override {
    if (_packet->referenceCount == 0) enet_packet_destroy(_packet);
  }
  TENetPacket(const TENetPacket&) = delete;
  TENetPacket& operator=(const TENetPacket&) = delete;

  uint8_t* Data() override { return _packet->data; }
  size_t Size() const override { return _packet->dataLength; }
  ENetPacket* Native() const { return _packet; }

 private:
  ENetPacket* _packet;
};

std::unique_ptr<TENetPacket> NewReliablePacket(const uint8_t* bytes, size_t size) {
  ENetPacket* packet = enet_packet_create(bytes, size, ENET_PACKET_FLAG_RELIABLE);
  if (!packet) throw TRuntimeError("ENet errror");
  return std::make_unique<TENetPacket>(packet);
}

class TENetLink : public TPeerLink {
 public:
  // `connectID` is ENet's identity of the connection, so that a handle that
  // ENet hands to a later connection is not mistaken for this one.
  TENetLink(ENetPeer* peer, uint32_t connectID) : _peer(peer), _connectID(connectID) {
    enet_peer_timeout(peer, kTimeoutLimit, kTimeoutMinimumMs, kTimeoutMaximumMs);
    enet_peer_ping_interval(peer, kPingIntervalMs);
  }

  TConnectionId Connection() const override { return {_peer, _connectID}; }
  TNetAddress Address() const override {
    return {ntohl(_peer->address.host), _peer->address.port};
  }
  bool IsConnected() const override {
    return _peer->state == ENET_PEER_STATE_CONNECTED && _peer->connectID == _connectID;
  }
  bool IsSending() const override {
    return IsConnected() && !(enet_list_empty(&_peer->outgoingCommands) &&
                              enet_list_empty(&_peer->sentReliableCommands));
  }
  std::unique_ptr<TLinkPacket> NewPacket(size_t size) override {
    return NewReliablePacket(nullptr, size);
  }
  void Send(TLinkPacket& packet) override {
    if (auto* shared = dynamic_cast<TENetPacket*>(&packet)) {
      SendNative(shared->Native());
    } else {
      SendNative(NewReliablePacket(packet.Data(), packet.Size())->Native());
    }
  }
  void Disconnect() override {
    // A handle that ENet already gave to another connection is not ours to end.
    if (_peer->connectID == _connectID) enet_peer_disconnect(_peer, 0);
  }
  void DisconnectNow() override {
    if (_peer->connectID == _connectID) enet_peer_disconnect_now(_peer, 0);
  }

 private:
  void SendNative(ENetPacket* packet) {
    if (enet_peer_send(_peer, 0, packet) < 0) throw TRuntimeError("ENet errror");
  }

  ENetPeer* _peer;
  uint32_t _connectID;
};

// One polled ENet event, with the identity of its connection at polling time.
struct TQueuedEvent {
  ENetEvent event{};
  uint32_t connectID = 0;
  bool unreachable = false;  // a disconnection of our making: no route
};

// Whether the system has a route to `address`: connecting a UDP socket looks
// the route up, as sending does, without sending anything.
bool Routable(const ENetAddress& address) {
  int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;  // cannot tell
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address.host;  // already in network order
  to.sin_port = htons(address.port);
  bool routable = connect(probe, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
  close(probe);
  return routable;
}

// A listening host full of connections gives further attempts no answer,
// as if it had no slot left, while its spare slots stay for attempts that
// come once one of its guests has gone. Called by ENet for every datagram.
int ENET_CALLBACK RefuseWhenFull(ENetHost* host, ENetEvent*) {
  if (host->connectedPeers < GNET_MAX_PEERS) return 0;
  if (host->receivedDataLength < sizeof(ENetProtocolHeader) + sizeof(ENetProtocolCommandHeader))
    return 0;
  const auto* header = reinterpret_cast<const ENetProtocolHeader*>(host->receivedData);
  enet_uint16 peerID = ENET_NET_TO_HOST_16(header->peerID);
  size_t headerSize = (peerID & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME)
                          ? sizeof(ENetProtocolHeader)
                          : offsetof(ENetProtocolHeader, sentTime);
  peerID &= ~(ENET_PROTOCOL_HEADER_FLAG_MASK | ENET_PROTOCOL_HEADER_SESSION_MASK);
  if (peerID != ENET_PROTOCOL_MAXIMUM_PEER_ID) return 0;  // an existing connection's
  enet_uint8 command = host->receivedData[headerSize] & ENET_PROTOCOL_COMMAND_MASK;
  return command == ENET_PROTOCOL_COMMAND_CONNECT ? 1 : 0;
}

class TENetEndpoint : public TNetEndpoint {
 public:
  explicit TENetEndpoint(ENetHost* host) : _host(host), _halfOpen(host->peerCount) {}
  ~TENetEndpoint() override {
    DropPending();
    enet_host_destroy(_host);
  }
  TENetEndpoint(const TENetEndpoint&) = delete;
  TENetEndpoint& operator=(const TENetEndpoint&) = delete;

  int Port() const override {
    ENetAddress address{};
    if (enet_socket_get_address(_host->socket, &address) != 0) return 0;
    return address.port;
  }

  int Socket() const override { return _host->socket; }

  void Poll() override {
    LetHalfOpenGo();
    while (_events.size() < kMaxQueuedEvents && _queuedBytes < kMaxQueuedBytes) {
      TQueuedEvent queued;
      int result = enet_host_service(_host, &queued.event, 0);
      if (result == 0) return;
      if (result < 0) {
        // ENet stops a service call at the first send that fails, before
        // sending to the connections after it and before receiving anything:
        // one connection without a route would silence all the others.
        if (LetUnreachableGo()) continue;
        // One failure event is enough to report it; a repeating failure must
        // neither grow the queue nor keep the polling going.
        if (_events.empty() || _events.back().event.type != ENET_EVENT_TYPE_NONE)
          _events.push_back(TQueuedEvent{});
        return;
      }
      if (queued.event.peer) queued.connectID = queued.event.peer->connectID;
      if (queued.event.packet) _queuedBytes += queued.event.packet->dataLength;
      _events.push_back(queued);
    }
  }

  void LimitConnectionsPerAddress(size_t count) override { _host->duplicatePeers = count; }

  size_t Pending() const override { return _events.size(); }

  bool Next(TNetEvent& event) override {
    Poll();
    if (_events.empty()) return false;
    TQueuedEvent queued = _events.front();
    _events.pop_front();
    if (queued.event.packet) _queuedBytes -= queued.event.packet->dataLength;
    event = Convert(queued);
    return true;
  }

  size_t DropPending() override {
    size_t received = 0;
    for (const auto& queued : _events) {
      if (queued.event.type != ENET_EVENT_TYPE_RECEIVE) continue;
      enet_packet_destroy(queued.event.packet);
      ++received;
    }
    _events.clear();
    _queuedBytes = 0;
    return received;
  }

  void Wait(int32_t ms) override {
    enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
    enet_socket_wait(_host->socket, &condition, static_cast<enet_uint32>(std::max(ms, 0)));
  }

  void Flush() override { enet_host_flush(_host); }

  // Waits for the CONNECT event of `server`, leaving the other events queued.
  std::unique_ptr<TPeerLink> AwaitConnection(ENetPeer* server, int32_t timeoutMs,
                                             const std::function<bool()>& stop) {
    int32_t deadline = MilliSecs() + timeoutMs;
    for (int32_t now = MilliSecs(); !ClockReached(now, deadline); now = MilliSecs()) {
      if (stop && stop()) break;
      Poll();
      auto found = std::find_if(_events.begin(), _events.end(), [&](const TQueuedEvent& q) {
        return q.event.type == ENET_EVENT_TYPE_CONNECT && q.event.peer == server;
      });
      if (found != _events.end()) {
        uint32_t connectID = found->connectID;
        _events.erase(found);
        return std::make_unique<TENetLink>(server, connectID);
      }
      // Sleep until traffic arrives or a little time passed, not past the deadline.
      Wait(std::min(deadline - now, kPollMs));
    }
    // Called off: the other end may have accepted meanwhile, or may still.
    enet_peer_disconnect_now(server, 0);
    return nullptr;
  }

 private:
  // Frees the slots of connection attempts that have stayed half-open past
  // kHalfOpenMs: the other end never answered (a forged source address, or
  // a process that vanished). They were never reported, so nothing is queued.
  void LetHalfOpenGo() {
    int32_t now = MilliSecs();
    if (!ClockReached(now, _nextSweep)) return;
    _nextSweep = now + kHalfOpenSweepMs;
    for (size_t i = 0; i < _host->peerCount; ++i) {
      ENetPeer* peer = &_host->peers[i];
      THalfOpen& seen = _halfOpen[i];
      if (peer->state != ENET_PEER_STATE_ACKNOWLEDGING_CONNECT) {
        seen.tracked = false;
      } else if (!seen.tracked || seen.connectID != peer->connectID) {
        seen = {true, peer->connectID, now};
      } else if (ClockReached(now, seen.since + kHalfOpenMs)) {
        enet_peer_reset(peer);
        seen.tracked = false;
      }
    }
  }

  // Lets go every connection whose address has no route, queueing the end of
  // those that were reported connected; returns whether there was one. Each
  // call frees at least one connection or reports none, so a caller that
  // polls again after `true` stops after at most 32 rounds.
  bool LetUnreachableGo() {
    bool any = false;
    for (ENetPeer* peer = _host->peers; peer < _host->peers + _host->peerCount; ++peer) {
      if (peer->state == ENET_PEER_STATE_DISCONNECTED || Routable(peer->address)) continue;
      TQueuedEvent gone;
      gone.event.type = ENET_EVENT_TYPE_DISCONNECT;
      gone.event.peer = peer;
      gone.connectID = peer->connectID;
      gone.unreachable = true;
      // Earlier states never produced a connect event.
      bool reported = peer->state >= ENET_PEER_STATE_CONNECTED;
      enet_peer_reset(peer);
      if (reported) _events.push_back(gone);
      any = true;
    }
    return any;
  }

  static TNetEvent Convert(const TQueuedEvent& queued) {
    const ENetEvent& from = queued.event;
    TNetEvent event;
    event.connection = {from.peer, queued.connectID};
    switch (from.type) {
      case ENET_EVENT_TYPE_CONNECT:
        event.kind = TNetEvent::TKind::Connected;
        event.link = std::make_unique<TENetLink>(from.peer, queued.connectID);
        break;
      case ENET_EVENT_TYPE_DISCONNECT:
        event.kind = queued.unreachable ? TNetEvent::TKind::Unreachable
                                        : TNetEvent::TKind::Disconnected;
        break;
      case ENET_EVENT_TYPE_RECEIVE:
        event.kind = TNetEvent::TKind::Received;
        event.packet = std::make_unique<TENetPacket>(from.packet);
        break;
      default: event.kind = TNetEvent::TKind::Failed; break;
    }
    return event;
  }

  // A slot's half-open attempt, by ENet's identity of it, and since when.
  struct THalfOpen {
    bool tracked = false;
    uint32_t connectID = 0;
    int32_t since = 0;
  };

  ENetHost* _host;
  std::deque<TQueuedEvent> _events;
  size_t _queuedBytes = 0;  // packet bytes held in _events
  std::vector<THalfOpen> _halfOpen;  // by slot
  int32_t _nextSweep = MilliSecs();
};

ENetHost* CreateENetHost(const ENetAddress* address, bool listening) {
  ENetHost* host =
      enet_host_create(address, listening ? kListenerSlots : kConnectorSlots, kChannels, 0, 0);
  if (!host) return nullptr;
  // Nothing legitimate is larger; ENet then refuses bigger ones on arrival.
  host->maximumPacketSize = GNET_HEADER_SIZE + GNET_MAX_DATA;
  host->maximumWaitingData = kMaxWaitingBytes;
  if (listening) host->intercept = RefuseWhenFull;
  return host;
}

}  // namespace

void StartENet() {
  static std::once_flag started;
  std::call_once(started, [] {
    if (enet_initialize() == 0) std::atexit(enet_deinitialize);
  });
}

std::unique_ptr<TNetEndpoint> ListenENet(int port) {
  ENetAddress address{};
  address.host = ENET_HOST_ANY;
  address.port = static_cast<enet_uint16>(port);
  ENetHost* host = CreateENetHost(&address, true);
  if (!host) return nullptr;
  return std::make_unique<TENetEndpoint>(host);
}

TENetConnection::TENetConnection(std::unique_ptr<TNetEndpoint> endpoint,
                                 std::unique_ptr<TPeerLink> server)
    : endpoint(std::move(endpoint)), server(std::move(server)) {}

TENetConnection::~TENetConnection() {
  if (!endpoint || !server) return;
  server->Disconnect();
  endpoint->Flush();
}

TENetConnection ConnectENet(uint32_t ip, int port, int32_t timeoutMs,
                            const std::function<bool()>& stop, uint32_t fromIp) {
  ENetAddress from{};
  from.host = htonl(fromIp);
  ENetHost* host = CreateENetHost(fromIp != 0 ? &from : nullptr, false);
  if (!host) return {};
  auto endpoint = std::make_unique<TENetEndpoint>(host);
  ENetAddress address{};
  address.host = htonl(ip);
  address.port = static_cast<enet_uint16>(port);
  ENetPeer* server = enet_host_connect(host, &address, kChannels, 0);
  if (!server) return {};
  std::unique_ptr<TPeerLink> link = endpoint->AwaitConnection(server, timeoutMs, stop);
  if (!link) return {};
  return {std::move(endpoint), std::move(link)};
}
