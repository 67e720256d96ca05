// One process's end of a replication group, and its connected peers.
//
// A host either listens (and accepts up to 32 connecting processes) or
// connects to one listening host; the group is a star around the listener,
// which relays what one peer sends to all the others. Each host numbers its
// objects 1..4095 in its own id space; a peer records how the process behind
// it numbers the replicas that came through it.
//
// No traffic flows outside Sync(), except the handshake inside Connect() and
// the disconnect requests of Close(). Everything runs on the caller's thread
// (a connection opened elsewhere can be adopted, and CloseLater hands the
// closing network over to be finished elsewhere); call Sync() regularly,
// since the transport's acknowledgements, retries and time-outs also run
// only inside it.
//
// Remote input never raises: a packet that breaks a rule (malformed, a
// creation for which no id is free, an update for an id the sender does not
// own, a message for an absent addressee...) is dropped whole and counted
// under its reason in Drops(); so is a send skipped because its connection is
// going away (its disconnect event follows). Nor does the network: a peer it
// can no longer reach is dropped as if disconnected, and any other failure is
// counted (NetworkFailure) and retried at the next Sync.
//
// Ids are handed out in turn, not lowest first: a freed id comes back only
// after the whole id space has been used, so a message still on its way to a
// departed object cannot reach a newcomer that took its id.
//
// A listening host holds at most GNET_MAX_PEERS connections; one more is let
// go at once (RoomFull). A guard (replication/guard.h) may judge what peers
// send; each connection has a number (TGNetPeer::Id) by which the
// application names it: the objects and received messages it brought, its
// network address, ending it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "replication/closing.h"
#include "replication/drops.h"
#include "replication/guard.h"
#include "replication/object.h"
#include "replication/peer.h"
#include "replication/transport.h"

struct TENetConnection;

class TGNetHost : public TObject {
 public:
  static TGNetHostRef Create();
  ~TGNetHost() override;

  // One synchronisation: empties the four per-sync lists, sends this host's
  // changes, then handles every network event until none is pending (or the
  // network failed: see NetworkFailing). Raises the errors of local objects
  // (e.g. "GNet message data too large"); never because of a peer's input or
  // of the network.
  void Sync();
  // Whether the latest Sync stopped at its share of events with more
  // already read from the network: serve again soon, once the caller's
  // other work (a window's drawing) has had its turn. The socket need not
  // be readable meanwhile.
  bool Backlog() const;
  // Disconnects every peer and ends the network. Objects and lists stay.
  // What the last Sync queued is first given up to GNET_CLOSE_WAIT_MS to be
  // acknowledged (a receiver drops packets that arrive together with the
  // disconnect, so a leaving process's last words would be lost); packets
  // arriving meanwhile are dropped. A second call does nothing; a closed host
  // neither listens nor connects again, and its Sync only advances local
  // states.
  void Close();
  // Close without the wait: the host is closed at once, and what it still
  // has on the network (socket, peers' links) is handed to the caller to be
  // finished, on any thread (replication/closing.h); the port stays taken
  // until then. Null when the host had no network. Drops counted while
  // finishing are the closing's, not the host's.
  std::unique_ptr<TGNetClosing> CloseLater();

  // 1 when now listening on UDP `port` on every interface, else 0 (already
  // listening or connected, closed, or the port is taken).
  int Listen(int port);
  // 1 when connected to `ip` (IPv4, most significant byte first) within
  // `timeoutMs`, else 0 with the host idle again.
  int Connect(uint32_t ip, int port, int32_t timeoutMs);
  // 1 when the host now uses `connection`, opened beforehand (perhaps on
  // another thread), as its connection to the listening host; its members
  // are then taken. 0, leaving it as it is, when the connection failed or
  // the host already listens, is connected or is closed.
  int Adopt(TENetConnection& connection);
  // Puts the host on a network of the caller's making (a harness); false,
  // dropping `endpoint`, when the host already has one or is closed.
  bool UseEndpoint(std::unique_ptr<TNetEndpoint> endpoint);
  // The local UDP port while listening or connected, else 0.
  int LocalPort() const;
  // The descriptor that becomes readable when traffic arrives (serve then
  // with Sync), or -1 while idle and once closed.
  int Socket() const;
  // Whether the latest Sync ended on a network failure it could not pin on a
  // peer; the network then still holds what arrived, so its socket may stay
  // readable until a later Sync succeeds.
  bool NetworkFailing() const { return _networkFailing; }
  // Reads pending network events into the queue without handling them (Sync
  // handles them), and how many are queued.
  void PollNetwork();
  size_t PendingEvents() const;

  // The live lists themselves. Creating objects or syncing while iterating
  // one invalidates the iteration; sending messages and closing do not.
  const TGNetObjectList& Objects() const { return _objects; }
  const TGNetPeerList& Peers() const { return _peers; }
  const TGNetObjectList& ObjectsCreated() const { return _created; }
  const TGNetObjectList& ObjectsModified() const { return _modified; }
  const TGNetObjectList& ObjectsClosed() const { return _closed; }
  const TGNetObjectList& Messages() const { return _messages; }
  // The object that holds `id` here, or null (id 0 never holds one; ids
  // outside 0..4095 give null).
  TGNetObjectRef ObjectWithId(int32_t id) const;
  const TDropCounts& Drops() const { return _drops; }

  // Judges every arrival from a peer from now on (null: none). The guard
  // hears of the connections made and lost after this call.
  void SetGuard(std::shared_ptr<TGNetGuard> guard) { _guard = std::move(guard); }
  // At most `count` connections from one IPv4 address (listening only).
  void LimitConnectionsPerAddress(size_t count);
  // The connected peer numbered `id`, or null.
  TGNetPeerRef PeerWithId(int32_t id) const;
  // Ends peer `id`'s connection at once: its objects close here and at
  // every other peer, as for a lost connection, and the transport frees it
  // without waiting. False when no such peer is connected.
  bool EndConnection(int32_t id);

  // A local object (state 1) that goes out at the next Sync. Raises "Out of
  // GNet object IDs" when all 4095 ids are in use.
  TGNetObjectRef CreateObject();
  // A message object (id 0, state 5), in no list; send it any number of times.
  TGNetObjectRef CreateMessage();
  // Sends `msg`'s slots to the owner of `toObject` at the next Sync; nothing
  // when `toObject` is local, or a replica whose close has arrived (its id
  // may name another object by then). Does not touch any list.
  void SendGNetMessage(const TGNetObject& msg, const TGNetObject& toObject);

  // What the network's events do, public so that a harness can drive the
  // protocol over links of its own. AddPeer: a new peer over `link`, told of
  // every synced or modified object (and of every replica whose creation
  // arrived in this sync) as a creation.
  TGNetPeerRef AddPeer(std::unique_ptr<TPeerLink> link);
  void ReceivePacket(const TGNetPeerRef& peer, const uint8_t* bytes, size_t size);
  // The disconnection steps: closes everything `peer` owned, everywhere.
  void DropPeer(const TGNetPeerRef& peer);

 private:
  TGNetHostRef Self();
  bool CanOpen(int port) const;
  int32_t FreeId() const;
  int32_t AllocId();
  void MapObject(const TGNetObjectRef& obj);
  // Clears the entry only while it still belongs to `obj`.
  void UnmapObject(const TGNetObject& obj);
  void Count(std::optional<TDropReason> reason);
  void BroadCast(const TGNetMsg& msg, const TGNetPeer* exceptPeer);
  void SyncObjects();
  void HandleEvent(TNetEvent& event);
  TGNetPeerRef FindPeer(const void* connection) const;
  void ReceiveCreated(const TGNetPeerRef& peer, TGNetMsg& msg);
  void ReceiveUpdate(const TGNetPeerRef& peer, TGNetMsg& msg);
  void ReceiveMessage(const TGNetPeerRef& peer, TGNetMsg& msg);
  // Asks the guard, if any, about an arrival that passed the layer's own
  // checks; false (counted) when refused. An alteration is packed into `msg`.
  bool Admit(const TGNetPeer& peer, TGNetMsg& msg, TArrivalKind kind, int32_t id,
             const TGNetObject* object);
  void CloseOwnedObject(const TGNetPeerRef& peer, const TGNetObjectRef& obj, bool listed);

  std::unique_ptr<TNetEndpoint> _endpoint;  // null while idle and once closed
  TGNetPeerList _peers;
  TGNetObjectList _objects;
  TGNetObjectList _created;
  TGNetObjectList _modified;
  TGNetObjectList _closed;
  TGNetObjectList _messages;
  std::array<TGNetObjectRef, GNET_ID_COUNT> _idMap;
  bool _isClosed = false;
  bool _networkFailing = false;
  int32_t _lastId = 0;  // the id handed out last; the next search starts after it
  int32_t _lastPeerId = 0;
  size_t _connectionsPerAddress = 0;  // 0: unlimited
  TDropCounts _drops;
  std::shared_ptr<TGNetGuard> _guard;
  TGNetArrival _arrival;  // reused for every judgement
};
