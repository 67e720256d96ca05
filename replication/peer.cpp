#include "core/error.h"
#include "replication/host.h"

std::shared_ptr<TGNetPeer> TGNetPeer::Create(ENetPeer* enetPeer, uint32_t connectID) {
  auto peer = std::make_shared<TGNetPeer>();
  peer->_enetPeer = enetPeer;
  peer->_connectID = connectID;
  return peer;
}

bool TGNetPeer::IsConnected() const {
  return _enetPeer && _enetPeer->state == ENET_PEER_STATE_CONNECTED &&
         _enetPeer->connectID == _connectID;
}

bool TGNetPeer::IsSending() const {
  return IsConnected() && !(enet_list_empty(&_enetPeer->outgoingCommands) &&
                            enet_list_empty(&_enetPeer->sentReliableCommands));
}

void TGNetPeer::Close() {
  // A handle that ENet already gave to another connection is not ours to end.
  if (_enetPeer && _enetPeer->connectID == _connectID) enet_peer_disconnect(_enetPeer, 0);
  Detach();
}

void TGNetPeer::MapLocalId(int32_t localId, int32_t remoteId) {
  int32_t& entry = _localToRemote[localId & GNET_MAX_ID];
  _mappedIds += (entry == 0) - (remoteId == 0);
  entry = remoteId;
  _remoteToLocal[remoteId & GNET_MAX_ID] = localId;
}

void TGNetPeer::UnmapLocalId(int32_t localId) {
  int32_t remoteId = _localToRemote[localId & GNET_MAX_ID];
  if (remoteId != 0) --_mappedIds;
  _localToRemote[localId & GNET_MAX_ID] = 0;
  _remoteToLocal[remoteId & GNET_MAX_ID] = 0;
}

TPacketVerdict TGNetPeer::RecvMsg(const uint8_t* bytes, size_t size, TGNetMsg& msg) const {
  TPacketVerdict verdict = DecodePacket(bytes, size, msg);
  if (verdict == TPacketVerdict::Ok && (msg.state == OBJ_MODIFIED || msg.state == OBJ_CLOSED))
    msg.id = _remoteToLocal[msg.id];
  return verdict;
}

void TGNetPeer::SendMsg(const TGNetMsg& msg) {
  int32_t id = msg.id;
  if (msg.state == OBJ_MESSAGE) {
    id = _localToRemote[msg.id & GNET_MAX_ID];
    if (id == 0) return;  // the receiver has no name for the addressee
  }
  ENetPacket* packet =
      enet_packet_create(nullptr, GNET_HEADER_SIZE + msg.data.size(), ENET_PACKET_FLAG_RELIABLE);
  if (!packet) throw TRuntimeError("ENet errror");
  FrameMsg(msg.state, id, msg.data, packet->data);
  try {
    SendPacket(packet);
  } catch (...) {
    enet_packet_destroy(packet);
    throw;
  }
  if (packet->referenceCount == 0) enet_packet_destroy(packet);
}

void TGNetPeer::SendPacket(ENetPacket* packet) {
  if (!_enetPeer) {
    if (!_detached) _sent.emplace_back(packet->data, packet->data + packet->dataLength);
    return;
  }
  // The remote end is going (or gone): its disconnect event is on its way
  // and will close its objects; what we meant to tell it no longer matters.
  if (!IsConnected()) {
    ++_skippedSends;
    return;
  }
  if (enet_peer_send(_enetPeer, 0, packet) < 0) throw TRuntimeError("ENet errror");
}
