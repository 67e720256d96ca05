// One process's end of a replication group, and its connected peers.
//
// A host either listens (and accepts up to 32 connecting processes) or
// connects to one listening host; the group is a star around the listener,
// which relays what one peer sends to all the others. Each host numbers its
// objects 1..4095 in its own id space; a peer records how the process behind
// it numbers the replicas that came through it.
//
// No traffic flows outside Sync(), except the handshake inside Connect() and
// the disconnect requests of Close(). Everything runs on the caller's thread;
// call Sync() regularly, since ENet's acknowledgements, retries and time-outs
// also run only inside it.
//
// Remote input never raises: a packet that is malformed (too short or too
// long, unknown state, bad slot type, an item running past its end), a
// creation for which no id is free, or a repeated creation is dropped whole
// and counted in _droppedPackets; an update or close for an id the sender
// does not map, and a message for an absent addressee, are ignored and
// counted in _ignoredPackets. Sends to a peer that is already going away are
// skipped; its disconnect event follows.
#pragma once

#include <enet/enet.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "replication/object.h"

class TGNetPeer : public TObject {
 public:
  // `connectID` is ENet's identity of the connection, so that a handle that
  // ENet hands to a later connection is not mistaken for this one.
  static std::shared_ptr<TGNetPeer> Create(ENetPeer* enetPeer, uint32_t connectID = 0);

  // Asks ENet to disconnect, then forgets the handle.
  void Close();
  // Forgets the handle without a request (ENet already ended the connection).
  void Detach() {
    _enetPeer = nullptr;
    _detached = true;
  }
  void MapLocalId(int32_t localId, int32_t remoteId);
  void UnmapLocalId(int32_t localId);

  // Checks and decodes a received packet. Ids of states 1-3 come in the
  // sender's numbering: states 2 and 3 are translated to the local id, or to
  // 0 (no object) when this peer maps none; a creation keeps the sender's id.
  // A state-5 id is already in local numbering.
  TPacketVerdict RecvMsg(const uint8_t* bytes, size_t size, TGNetMsg& msg) const;
  // Frames `msg` and queues it as one reliable packet on channel 0. A state-5
  // id is translated into the receiver's numbering (nothing is sent when the
  // peer maps none). Raises "ENet errror" when ENet refuses a live peer.
  void SendMsg(const TGNetMsg& msg);
  // Queues an already framed packet (shared between peers by BroadCast).
  void SendPacket(ENetPacket* packet);

  // Whether ENet still carries this connection.
  bool IsConnected() const;
  // Whether packets queued for this connection still await acknowledgement.
  bool IsSending() const;

  ENetPeer* _enetPeer = nullptr;
  uint32_t _connectID = 0;
  std::array<int32_t, GNET_ID_COUNT> _localToRemote{};
  std::array<int32_t, GNET_ID_COUNT> _remoteToLocal{};
  int32_t _mappedIds = 0;  // non-zero entries of _localToRemote
  bool _detached = false;  // closed or disconnected: sends go nowhere
  // A peer made without an ENet handle (a harness driving a host without a
  // network) keeps here the packets it would have sent.
  std::vector<std::vector<uint8_t>> _sent;
  int64_t _skippedSends = 0;  // sends to a connection already going away
};

using TGNetPeerRef = std::shared_ptr<TGNetPeer>;
using TGNetPeerList = std::vector<TGNetPeerRef>;

// One polled ENet event, with the identity of its connection at polling time.
struct TQueuedEvent {
  ENetEvent event{};
  uint32_t connectID = 0;
};

class TGNetHost : public TObject {
 public:
  static std::shared_ptr<TGNetHost> Create();
  ~TGNetHost() override;

  // Moves every pending ENet event into _enetEvents (never blocks). A failed
  // service call queues one event of type 0 and ends the polling.
  void UpdateENetEvents();
  // One synchronisation: empties the four per-sync lists, sends this host's
  // changes, then handles every event until none is pending. Raises "GNet
  // error" when an ENet service call failed, and the errors of local objects
  // (e.g. "GNet message data too large"); never because of a peer's input.
  void Sync();
  // Disconnects every peer, flushes and destroys the ENet host. Objects and
  // lists stay. What the last Sync queued is first given up to 2.5 s to be
  // acknowledged (ENet discards received packets that arrive together with
  // the disconnect, so a leaving process's last words would be lost); events
  // arriving meanwhile are dropped. A second call does nothing; a closed host neither listens nor connects
  // again, and its Sync only advances local states.
  void Close();

  void BroadCast(const TGNetMsg& msg, const TGNetPeer* exceptPeer);
  // A new peer; announces every synced or modified object (and every replica
  // whose creation arrived in this sync) to it as a creation.
  TGNetPeerRef AddPeer(ENetPeer* enetPeer, uint32_t connectID = 0);

  // The live lists themselves. Creating objects or syncing while iterating
  // one invalidates the iteration; sending messages and closing do not.
  const TGNetObjectList& Objects() const { return _objects; }
  const TGNetPeerList& Peers() const { return _peers; }
  const TGNetObjectList& ObjectsCreated() const { return _created; }
  const TGNetObjectList& ObjectsModified() const { return _modified; }
  const TGNetObjectList& ObjectsClosed() const { return _closed; }
  const TGNetObjectList& Messages() const { return _messages; }

  // A local object (state 1) that goes out at the next Sync. Raises "Out of
  // GNet object IDs" when all 4095 ids are in use.
  TGNetObjectRef CreateObject();
  // A message object (id 0, state 5), in no list; send it any number of times.
  TGNetObjectRef CreateMessage();
  // Sends `msg`'s slots to the owner of `toObject` at the next Sync; nothing
  // when `toObject` is local, or a replica whose close has arrived (its id
  // may name another object by then). Does not touch any list.
  void SendGNetMessage(const TGNetObject& msg, const TGNetObject& toObject);
  // The lowest free id; raises "Out of GNet object IDs".
  int32_t AllocId() const;
  void MapObject(const TGNetObjectRef& obj);
  // Clears the entry only while it still belongs to `obj`.
  void UnmapObject(const TGNetObject& obj);

  // 1 when now listening on `port` on every interface, else 0 (already
  // listening or connected, closed, or the port is taken).
  int Listen(int port);
  // 1 when connected to `ip` (IPv4, most significant byte first) within
  // `timeoutMs`, else 0 with the host idle again.
  int Connect(uint32_t ip, int port, int32_t timeoutMs);

  // The event loop's handlers, public so that a harness can drive the
  // protocol without a network (peers made by AddPeer(nullptr)).
  void ReceivePacket(const TGNetPeerRef& peer, const uint8_t* bytes, size_t size);
  // The disconnection steps: closes everything `peer` owned, everywhere.
  void DropPeer(const TGNetPeerRef& peer);

  ENetHost* _enetHost = nullptr;
  std::deque<TQueuedEvent> _enetEvents;
  TGNetPeerList _peers;
  TGNetObjectList _objects;
  TGNetObjectList _created;
  TGNetObjectList _modified;
  TGNetObjectList _closed;
  TGNetObjectList _messages;
  std::array<TGNetObjectRef, GNET_ID_COUNT> _idMap;
  bool _isClosed = false;
  int64_t _droppedPackets = 0;
  int64_t _ignoredPackets = 0;

 private:
  std::shared_ptr<TGNetHost> Self();
  int32_t FreeId() const;
  void SyncObjects();
  void HandleEvent(const TQueuedEvent& queued);
  TGNetPeerRef FindPeer(const ENetPeer* enetPeer) const;
  void ReceiveCreated(const TGNetPeerRef& peer, TGNetMsg& msg);
  void ReceiveUpdate(const TGNetPeerRef& peer, TGNetMsg& msg);
  void ReceiveMessage(const TGNetMsg& msg);
  void CloseOwnedObject(const TGNetPeerRef& peer, const TGNetObjectRef& obj, bool listed);
  void DiscardEvents();
  void AwaitAcknowledgements();
};

using TGNetHostRef = std::shared_ptr<TGNetHost>;
