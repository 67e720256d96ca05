#include "replication/peer.h"

TGNetPeerRef TGNetPeer::Create(std::unique_ptr<TPeerLink> link) {
  auto peer = std::make_shared<TGNetPeer>();
  if (link) peer->_address = link->Address();
  peer->_link = std::move(link);
  return peer;
}

void TGNetPeer::Close() {
  if (_link) _link->Disconnect();
  Detach();
}

void TGNetPeer::CloseNow() {
  if (_link) _link->DisconnectNow();
  Detach();
}

std::unique_ptr<TPeerLink> TGNetPeer::Detach() { return std::move(_link); }

TConnectionId TGNetPeer::Connection() const { return _link ? _link->Connection() : TConnectionId{}; }

bool TGNetPeer::IsConnected() const { return _link && _link->IsConnected(); }

bool TGNetPeer::IsSending() const { return IsConnected() && _link->IsSending(); }

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

std::optional<TDropReason> TGNetPeer::SendMsg(const TGNetMsg& msg) {
  int32_t id = msg.id;
  if (msg.state == OBJ_MESSAGE) {
    id = RemoteId(msg.id);
    if (id == 0) return TDropReason::UnnamedAddressee;
  }
  if (!IsConnected()) return TDropReason::SendToDepartingPeer;
  std::unique_ptr<TLinkPacket> packet = _link->NewPacket(GNET_HEADER_SIZE + msg.data.size());
  FrameMsg(msg.state, id, msg.data, packet->Data());
  _link->Send(*packet);
  return std::nullopt;
}

std::unique_ptr<TLinkPacket> TGNetPeer::NewPacket(size_t size) {
  if (_link) return _link->NewPacket(size);
  return std::make_unique<TBytesPacket>(size);
}

std::optional<TDropReason> TGNetPeer::SendPacket(TLinkPacket& packet) {
  // The remote end is going (or gone): its disconnect event is on its way
  // and will close its objects; what we meant to tell it no longer matters.
  if (!IsConnected()) return TDropReason::SendToDepartingPeer;
  _link->Send(packet);
  return std::nullopt;
}
