// The ENet side of a host: listening, connecting, polling events, the event
// loop of a synchronisation, and closing.
#include <arpa/inet.h>

#include <algorithm>
#include <memory>

#include "core/clock.h"
#include "core/error.h"
#include "replication/host.h"

namespace {

constexpr size_t kMaxPeers = 32;
constexpr size_t kChannels = 1;
// A flood of packets must not keep one Sync (or the queue) growing without
// end; what is left waits for the next Sync.
constexpr size_t kMaxEventsPerSync = 1u << 17;
// Longest pause of the connect wait; incoming traffic ends it earlier.
constexpr int32_t kPollMs = 5;
// How long Close waits for its last packets to be acknowledged. A receiver's
// ENet discards packets that it reads together with the disconnect, and an
// application syncs about once a second; the acknowledgement comes from the
// same service pass that hands the packet to the receiver, so once it is
// here the packet is safe.
constexpr int32_t kCloseDrainMs = 2500;

struct PacketDeleter {
  void operator()(ENetPacket* packet) const { enet_packet_destroy(packet); }
};
using PacketHolder = std::unique_ptr<ENetPacket, PacketDeleter>;

ENetHost* CreateENetHost(const ENetAddress* address) {
  ENetHost* host = enet_host_create(address, kMaxPeers, kChannels, 0, 0);
  // Nothing legitimate is larger; ENet then refuses bigger ones on arrival.
  if (host) host->maximumPacketSize = GNET_HEADER_SIZE + GNET_MAX_DATA;
  return host;
}

}  // namespace

TGNetHost::~TGNetHost() { Close(); }

void TGNetHost::UpdateENetEvents() {
  if (!_enetHost) return;
  while (_enetEvents.size() < kMaxEventsPerSync) {
    TQueuedEvent queued;
    int result = enet_host_service(_enetHost, &queued.event, 0);
    if (result == 0) return;
    if (result < 0) {
      // One failure event is enough to report it; a repeating failure must
      // neither grow the queue nor keep the polling going.
      if (_enetEvents.empty() || _enetEvents.back().event.type != ENET_EVENT_TYPE_NONE)
        _enetEvents.push_back(TQueuedEvent{});
      return;
    }
    if (queued.event.peer) queued.connectID = queued.event.peer->connectID;
    _enetEvents.push_back(queued);
  }
}

void TGNetHost::Sync() {
  _created.clear();
  _modified.clear();
  _closed.clear();
  _messages.clear();
  SyncObjects();
  for (size_t handled = 0; handled < kMaxEventsPerSync; ++handled) {
    UpdateENetEvents();
    if (_enetEvents.empty()) return;
    TQueuedEvent queued = _enetEvents.front();
    _enetEvents.pop_front();
    HandleEvent(queued);
  }
}

TGNetPeerRef TGNetHost::FindPeer(const ENetPeer* enetPeer) const {
  for (const auto& peer : _peers)
    if (peer->_enetPeer == enetPeer) return peer;
  return nullptr;
}

void TGNetHost::HandleEvent(const TQueuedEvent& queued) {
  const ENetEvent& event = queued.event;
  switch (event.type) {
    case ENET_EVENT_TYPE_CONNECT: AddPeer(event.peer, queued.connectID); return;
    case ENET_EVENT_TYPE_DISCONNECT:
      if (TGNetPeerRef peer = FindPeer(event.peer)) DropPeer(peer);
      return;
    case ENET_EVENT_TYPE_RECEIVE: {
      PacketHolder packet(event.packet);
      TGNetPeerRef peer = FindPeer(event.peer);
      if (!peer || peer->_connectID != queued.connectID) {
        ++_ignoredPackets;  // from a connection we no longer hold
        return;
      }
      ReceivePacket(peer, packet->data, packet->dataLength);
      return;
    }
    default: throw TRuntimeError("GNet error");
  }
}

void TGNetHost::DiscardEvents() {
  for (const auto& queued : _enetEvents)
    if (queued.event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(queued.event.packet);
  _enetEvents.clear();
}

int TGNetHost::Listen(int port) {
  if (_enetHost || _isClosed || port < 0 || port > 65535) return 0;
  ENetAddress address{};
  address.host = ENET_HOST_ANY;
  address.port = static_cast<enet_uint16>(port);
  _enetHost = CreateENetHost(&address);
  return _enetHost ? 1 : 0;
}

int TGNetHost::Connect(uint32_t ip, int port, int32_t timeoutMs) {
  if (_enetHost || _isClosed || port < 0 || port > 65535) return 0;
  _enetHost = CreateENetHost(nullptr);
  if (!_enetHost) return 0;
  ENetAddress address{};
  address.host = htonl(ip);
  address.port = static_cast<enet_uint16>(port);
  ENetPeer* server = enet_host_connect(_enetHost, &address, kChannels, 0);
  if (server) {
    int32_t deadline = MilliSecs() + timeoutMs;
    for (int32_t now = MilliSecs(); !ClockReached(now, deadline); now = MilliSecs()) {
      UpdateENetEvents();
      auto found = std::find_if(_enetEvents.begin(), _enetEvents.end(), [&](const TQueuedEvent& q) {
        return q.event.type == ENET_EVENT_TYPE_CONNECT && q.event.peer == server;
      });
      if (found != _enetEvents.end()) {
        uint32_t connectID = found->connectID;
        _enetEvents.erase(found);
        AddPeer(server, connectID);
        return 1;
      }
      // Sleep until traffic arrives or a little time passed, not past the deadline.
      enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
      int32_t left = deadline - now;
      enet_socket_wait(_enetHost->socket, &condition,
                       static_cast<enet_uint32>(std::min(left, kPollMs)));
    }
  }
  DiscardEvents();
  enet_host_destroy(_enetHost);
  _enetHost = nullptr;
  return 0;
}

void TGNetHost::AwaitAcknowledgements() {
  int32_t deadline = MilliSecs() + kCloseDrainMs;
  for (int32_t now = MilliSecs(); !ClockReached(now, deadline); now = MilliSecs()) {
    bool sending = false;
    for (const auto& peer : _peers) sending = sending || peer->IsSending();
    if (!sending) return;
    UpdateENetEvents();
    DiscardEvents();
    enet_uint32 condition = ENET_SOCKET_WAIT_RECEIVE;
    enet_socket_wait(_enetHost->socket, &condition,
                     static_cast<enet_uint32>(std::min(deadline - now, kPollMs)));
  }
}

void TGNetHost::Close() {
  if (_isClosed) return;
  _isClosed = true;
  if (_enetHost) AwaitAcknowledgements();
  for (const auto& peer : _peers) peer->Close();
  _peers.clear();
  DiscardEvents();
  if (_enetHost) {
    enet_host_flush(_enetHost);  // the disconnect requests leave now
    enet_host_destroy(_enetHost);
    _enetHost = nullptr;
  }
}
