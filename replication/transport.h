// What a host needs from the network, as two interfaces: a link carries the
// packets of one connection (under a TGNetPeer), an endpoint is the host's
// side of the network (its socket, and the events of its connections).
// The program uses ENet (enet_transport.h); unit tests put links of their
// own, in memory, under a host's peers.
//
// Packets arrive whole, reliably and in order on each connection. A link and
// an endpoint belong to one host and run on its thread. Nothing here raises
// because of what a remote end sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The most connections a listening host holds at once.
constexpr size_t GNET_MAX_PEERS = 32;

// Bytes on their way out through one or more links, or just received.
class TLinkPacket {
 public:
  virtual ~TLinkPacket() = default;
  virtual uint8_t* Data() = 0;
  virtual size_t Size() const = 0;
};

// A packet in plain memory, for links that have no packet type of their own.
class TBytesPacket : public TLinkPacket {
 public:
  explicit TBytesPacket(size_t size) : _bytes(size) {}
  uint8_t* Data() override { return _bytes.data(); }
  size_t Size() const override { return _bytes.size(); }

 private:
  std::vector<uint8_t> _bytes;
};

// How a transport names a connection: a handle, and a serial telling apart
// the connections that reuse one handle over time.
struct TConnectionId {
  const void* handle = nullptr;
  uint32_t serial = 0;
};

// Where a connection's packets come from, as the network sees it: the IPv4
// address (most significant byte first) and the UDP port; zero when the
// transport has no such notion.
struct TNetAddress {
  uint32_t ip = 0;
  uint16_t port = 0;
};

// One connection. Destroying a link releases it without telling the remote
// end (Disconnect does that).
class TPeerLink {
 public:
  virtual ~TPeerLink() = default;

  virtual TConnectionId Connection() const = 0;
  virtual TNetAddress Address() const { return {}; }
  // Whether the transport still carries the connection. Once it does not,
  // the endpoint's Disconnected event for it is on its way.
  virtual bool IsConnected() const = 0;
  // Whether packets queued here still await acknowledgement.
  virtual bool IsSending() const = 0;

  // A packet of `size` bytes that this link and others of its kind send
  // without copying, so that a broadcast is framed once and shared.
  virtual std::unique_ptr<TLinkPacket> NewPacket(size_t size) {
    return std::make_unique<TBytesPacket>(size);
  }
  // Queues `packet` (made by any link) on a connected link. Raises "ENet
  // errror" when the transport refuses a connection it still carries.
  virtual void Send(TLinkPacket& packet) = 0;
  // Asks the remote end to close the connection; nothing is sent after it.
  virtual void Disconnect() = 0;
  // Ends the connection at once, without waiting for the remote end to
  // answer, so that whatever it held is free now; the remote end is told
  // once, without retries. No disconnect event follows.
  virtual void DisconnectNow() { Disconnect(); }
};

struct TNetEvent {
  // Unreachable: the network refused to carry packets to this connection (no
  // route to its address); the transport has let it go, as if disconnected.
  // Failed: a call into the network failed for no connection in particular;
  // what it held is retried at the next poll.
  enum class TKind { Connected, Disconnected, Received, Unreachable, Failed };
  TKind kind = TKind::Failed;
  TConnectionId connection;             // every kind but Failed
  std::unique_ptr<TPeerLink> link;      // Connected: the new connection
  std::unique_ptr<TLinkPacket> packet;  // Received: the packet, now ours
};

// A host's side of the network while it listens or is connected. Events are
// read from the network into a bounded queue and handed out in order.
// Destroying an endpoint drops its queued events and closes its socket
// without sending anything more (Flush first to let requests leave).
class TNetEndpoint {
 public:
  virtual ~TNetEndpoint() = default;

  // The local UDP port.
  virtual int Port() const = 0;
  // The descriptor that becomes readable when traffic arrives, or -1 when
  // there is none to watch.
  virtual int Socket() const { return -1; }
  // Moves what the network has into the queue; never blocks. A connection
  // the network can no longer reach is let go and queued as Unreachable;
  // any other failure queues one Failed event (not one per call) and ends
  // the polling.
  virtual void Poll() = 0;
  virtual size_t Pending() const = 0;
  // Polls, then hands out the oldest queued event; false when none is queued.
  virtual bool Next(TNetEvent& event) = 0;
  // Drops every queued event without polling; returns how many of them were
  // received packets.
  virtual size_t DropPending() = 0;
  // Sleeps until traffic arrives or `ms` milliseconds passed.
  virtual void Wait(int32_t ms) = 0;
  // Sends what is queued for every connection now.
  virtual void Flush() = 0;
  // At most `count` connections at a time from one IPv4 address; further
  // attempts from it get no answer. Unlimited until called.
  virtual void LimitConnectionsPerAddress(size_t /*count*/) {}
};
