// The host's protocol logic: ids, the object pass of a synchronisation, and
// what each received packet or lost peer does to the objects and the relay.
// The ENet side (listen, connect, polling, closing) is in host_enet.cpp.
#include "replication/host.h"

#include "core/error.h"

std::shared_ptr<TGNetHost> TGNetHost::Create() { return std::make_shared<TGNetHost>(); }

std::shared_ptr<TGNetHost> TGNetHost::Self() {
  return std::static_pointer_cast<TGNetHost>(shared_from_this());
}

int32_t TGNetHost::FreeId() const {
  for (int32_t id = 1; id <= GNET_MAX_ID; ++id)
    if (!_idMap[id]) return id;
  return 0;
}

int32_t TGNetHost::AllocId() const {
  int32_t id = FreeId();
  if (id == 0) throw TRuntimeError("Out of GNet object IDs");
  return id;
}

void TGNetHost::MapObject(const TGNetObjectRef& obj) { _idMap[obj->_id] = obj; }

void TGNetHost::UnmapObject(const TGNetObject& obj) {
  // The id may meanwhile belong to another object; leave that entry alone.
  TGNetObjectRef& entry = _idMap[obj._id & GNET_MAX_ID];
  if (entry.get() == &obj) entry.reset();
}

TGNetObjectRef TGNetHost::CreateObject() {
  auto obj = TGNetObject::Create(AllocId(), OBJ_CREATED, Self(), nullptr);
  MapObject(obj);
  _objects.push_back(obj);
  return obj;
}

TGNetObjectRef TGNetHost::CreateMessage() {
  return TGNetObject::Create(0, OBJ_MESSAGE, Self(), nullptr);
}

void TGNetHost::SendGNetMessage(const TGNetObject& msg, const TGNetObject& toObject) {
  // A process never delivers a message to its own objects.
  if (toObject.IsLocal()) return;
  // A replica whose close arrived gave up its id, which may already name a
  // newer replica: the message would reach that one instead.
  std::shared_ptr<TGNetHost> owner = toObject._host.lock();
  if (!owner || owner->_idMap[toObject._id & GNET_MAX_ID].get() != &toObject) return;
  toObject._peer->SendMsg(msg.MessageMsg(toObject._id));
}

void TGNetHost::BroadCast(const TGNetMsg& msg, const TGNetPeer* exceptPeer) {
  bool anyone = false;
  for (const auto& peer : _peers) anyone = anyone || peer.get() != exceptPeer;
  if (!anyone) return;
  if (msg.state == OBJ_MESSAGE) {  // ids differ per receiver
    for (const auto& peer : _peers)
      if (peer.get() != exceptPeer) peer->SendMsg(msg);
    return;
  }
  // Framed once; ENet counts the references of the peers that queued it.
  ENetPacket* packet =
      enet_packet_create(nullptr, GNET_HEADER_SIZE + msg.data.size(), ENET_PACKET_FLAG_RELIABLE);
  if (!packet) throw TRuntimeError("ENet errror");
  FrameMsg(msg.state, msg.id, msg.data, packet->data);
  try {
    for (const auto& peer : _peers)
      if (peer.get() != exceptPeer) peer->SendPacket(packet);
  } catch (...) {
    if (packet->referenceCount == 0) enet_packet_destroy(packet);
    throw;
  }
  if (packet->referenceCount == 0) enet_packet_destroy(packet);
}

TGNetPeerRef TGNetHost::AddPeer(ENetPeer* enetPeer, uint32_t connectID) {
  auto peer = TGNetPeer::Create(enetPeer, connectID);
  _peers.push_back(peer);
  for (const auto& obj : _objects) {
    // A local object still in state 1 reaches every peer at the next sync; a
    // replica in state 1 arrived earlier in this sync and was relayed only to
    // the peers present then, so the newcomer must hear of it here.
    bool announce = obj->_state == OBJ_SYNCED || obj->_state == OBJ_MODIFIED ||
                    (obj->_state == OBJ_CREATED && !obj->IsLocal());
    if (!announce) continue;
    // A replica that grew past one message through several updates is the
    // owner's doing; it is not announced rather than failing this sync.
    if (!obj->IsLocal() && PackedSize(obj->_slots.data(), GNET_ALL_SLOTS) > GNET_MAX_DATA) continue;
    peer->SendMsg(obj->CreatedMsg());
  }
  return peer;
}

void TGNetHost::SyncObjects() {
  size_t count = _objects.size(), keep = 0, i = 0;
  auto keepObject = [&](size_t at) {
    if (keep != at) _objects[keep] = std::move(_objects[at]);
    ++keep;
  };
  try {
    for (; i < count; ++i) {
      TGNetObjectRef& obj = _objects[i];
      if (auto msg = obj->Sync()) BroadCast(*msg, obj->_peer.get());
      if (obj->_state != OBJ_DEAD) {
        keepObject(i);
      } else if (obj->IsLocal()) {
        // A replica stays mapped: its close unmapped it, or only this
        // process closed it and its owner's updates still reach it.
        UnmapObject(*obj);
      }
    }
  } catch (...) {
    for (; i < count; ++i) keepObject(i);
    _objects.resize(keep);
    throw;
  }
  _objects.resize(keep);
}

void TGNetHost::ReceivePacket(const TGNetPeerRef& peer, const uint8_t* bytes, size_t size) {
  TGNetMsg msg;
  if (peer->RecvMsg(bytes, size, msg) != TPacketVerdict::Ok) {
    ++_droppedPackets;
    return;
  }
  switch (msg.state) {
    case OBJ_MESSAGE: ReceiveMessage(msg); break;
    case OBJ_CREATED: ReceiveCreated(peer, msg); break;
    default: ReceiveUpdate(peer, msg); break;
  }
}

void TGNetHost::ReceiveMessage(const TGNetMsg& msg) {
  const TGNetObjectRef& addressee = _idMap[msg.id];
  if (!addressee) {
    ++_ignoredPackets;
    return;
  }
  if (!addressee->IsLocal()) {
    addressee->_peer->SendMsg(msg);  // on to the owner, in its numbering
    return;
  }
  auto received = TGNetObject::Create(msg.id, OBJ_MESSAGE, Self(), nullptr);
  _messages.push_back(received);
  received->Update(msg);
}

void TGNetHost::ReceiveCreated(const TGNetPeerRef& peer, TGNetMsg& msg) {
  int32_t remoteId = msg.id;
  // Id 0 names nothing, and a sender announces an id again only after
  // closing it: either would leave a replica that no later message reaches.
  int32_t id = FreeId();
  if (remoteId == 0 || peer->_remoteToLocal[remoteId] != 0 || id == 0) {
    ++_droppedPackets;
    return;
  }
  auto obj = TGNetObject::Create(id, OBJ_CREATED, Self(), peer);
  MapObject(obj);
  peer->MapLocalId(id, remoteId);
  msg.id = id;
  _objects.push_back(obj);
  _created.push_back(obj);
  BroadCast(msg, peer.get());
  obj->Update(msg);
}

void TGNetHost::ReceiveUpdate(const TGNetPeerRef& peer, TGNetMsg& msg) {
  TGNetObjectRef obj = _idMap[msg.id];
  if (!obj || obj->_peer != peer) {
    ++_ignoredPackets;
    return;
  }
  if (msg.state == OBJ_MODIFIED) {
    _modified.push_back(obj);
  } else {
    peer->UnmapLocalId(obj->_id);
    UnmapObject(*obj);
    _closed.push_back(obj);
  }
  BroadCast(msg, peer.get());
  obj->Update(msg);
}

void TGNetHost::CloseOwnedObject(const TGNetPeerRef& peer, const TGNetObjectRef& obj,
                                 bool listed) {
  BroadCast(obj->ClosedMsg(), peer.get());
  peer->UnmapLocalId(obj->_id);
  UnmapObject(*obj);
  if (!listed) return;
  _closed.push_back(obj);
  if (obj->_state != OBJ_DEAD && obj->_state != OBJ_MESSAGE) obj->Close();
}

void TGNetHost::DropPeer(const TGNetPeerRef& peer) {
  for (const auto& obj : _objects) {
    // An object whose close already arrived has been unmapped and relayed;
    // its id may even be someone else's by now.
    if (obj->_peer == peer && _idMap[obj->_id] == obj) CloseOwnedObject(peer, obj, true);
  }
  // Replicas that only this process closed left the list but not the map;
  // the other processes still hold them.
  for (int32_t id = 1; id <= GNET_MAX_ID && peer->_mappedIds > 0; ++id) {
    if (peer->_localToRemote[id] == 0) continue;
    const TGNetObjectRef& entry = _idMap[id];
    if (entry && entry->_peer == peer) CloseOwnedObject(peer, TGNetObjectRef(entry), false);
  }
  for (auto it = _peers.begin(); it != _peers.end(); ++it) {
    if (*it == peer) {
      _peers.erase(it);
      break;
    }
  }
  peer->Detach();
}
