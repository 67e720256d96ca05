// One connected process as its host sees it: the link that carries its
// packets, and how the process behind it numbers the replicas that came
// through it (its ids and ours, 1..4095, mapped both ways).
//
// Made and held by a TGNetHost; replicas keep a reference to the peer they
// came through, so a peer may outlive its connection. Once closed or
// detached it has no link and sends nothing. Main thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "replication/drops.h"
#include "replication/object.h"
#include "replication/transport.h"
#include "replication/wire.h"

class TGNetPeer : public TObject {
 public:
  // A peer over `link`; a null link makes a peer that sends nothing.
  static TGNetPeerRef Create(std::unique_ptr<TPeerLink> link);

  // Asks the remote end to disconnect, then lets the link go.
  void Close();
  // Ends the connection at once (the transport frees it now), then lets the
  // link go.
  void CloseNow();
  // Lets the link go without a request (the transport already ended it, or
  // the caller ends it): the link is returned, the peer sends nothing more.
  std::unique_ptr<TPeerLink> Detach();

  // The link's name for its connection; empty once the link is gone.
  TConnectionId Connection() const;
  // Where the network said the connection came from (kept after the link
  // goes); zero for a link without addresses.
  const TNetAddress& Address() const { return _address; }
  // The host's number for this connection, 1 and up in order of connection;
  // 0 until the host numbers it.
  int32_t Id() const { return _id; }
  void SetId(int32_t id) { _id = id; }
  // Whether the transport still carries this connection.
  bool IsConnected() const;
  // Whether packets queued for this connection still await acknowledgement.
  bool IsSending() const;

  void MapLocalId(int32_t localId, int32_t remoteId);
  void UnmapLocalId(int32_t localId);
  // The other process's id for our `localId`, or 0 when it has none.
  int32_t RemoteId(int32_t localId) const { return _localToRemote[localId & GNET_MAX_ID]; }
  // Our id for the other process's `remoteId`, or 0 when we map none.
  int32_t LocalId(int32_t remoteId) const { return _remoteToLocal[remoteId & GNET_MAX_ID]; }
  // How many local ids have a remote id.
  int32_t MappedIds() const { return _mappedIds; }

  // Checks and decodes a received packet. Ids of states 1-3 come in the
  // sender's numbering: states 2 and 3 are translated to the local id, or to
  // 0 (no object) when this peer maps none; a creation keeps the sender's id.
  // A state-5 id is already in local numbering.
  TPacketVerdict RecvMsg(const uint8_t* bytes, size_t size, TGNetMsg& msg) const;
  // Frames `msg` and queues it as one packet. A state-5 id is translated into
  // the receiver's numbering. Returns why nothing was sent, if so (no name
  // for the addressee there, or the connection is going away); raises
  // "ENet errror" when the transport refuses a live connection.
  std::optional<TDropReason> SendMsg(const TGNetMsg& msg);
  // A packet that this peer and the others of its host can share.
  std::unique_ptr<TLinkPacket> NewPacket(size_t size);
  // Queues an already framed packet (shared between peers by a broadcast);
  // returns SendToDepartingPeer when the connection is going away.
  std::optional<TDropReason> SendPacket(TLinkPacket& packet);

 private:
  std::unique_ptr<TPeerLink> _link;
  TNetAddress _address;
  int32_t _id = 0;
  std::array<int32_t, GNET_ID_COUNT> _localToRemote{};
  std::array<int32_t, GNET_ID_COUNT> _remoteToLocal{};
  int32_t _mappedIds = 0;  // non-zero entries of _localToRemote
};

using TGNetPeerList = std::vector<TGNetPeerRef>;
