// The host's protocol logic: ids, the object pass of a synchronisation, what
// each network event, received packet or lost peer does to the objects and
// the relay, and the order of closing. The network itself is an endpoint.
#include "replication/host.h"

#include <algorithm>

#include "core/clock.h"
#include "core/error.h"
#include "replication/enet_transport.h"

namespace {

// One Sync handles at most this many events, so that a flood of packets
// cannot hold the caller's thread (a window that must keep drawing): a few
// milliseconds' work. What is left waits for the next Sync (see Backlog).
constexpr size_t kMaxEventsPerSync = 256;
// Id 0 names nothing, and a sender announces an id again only after closing
// it: either would leave a replica that no later message reaches.
std::optional<TDropReason> CreationRefusal(const TGNetPeer& sender, int32_t remoteId,
                                           int32_t freeId) {
  if (remoteId == 0) return TDropReason::CreationOfIdZero;
  if (sender.LocalId(remoteId) != 0) return TDropReason::RepeatedCreation;
  if (freeId == 0) return TDropReason::NoFreeId;
  return std::nullopt;
}

}  // namespace

TGNetHostRef TGNetHost::Create() { return std::make_shared<TGNetHost>(); }

TGNetHost::~TGNetHost() { Close(); }

TGNetHostRef TGNetHost::Self() {
  return std::static_pointer_cast<TGNetHost>(shared_from_this());
}

// --- The network ---------------------------------------------------------

bool TGNetHost::CanOpen(int port) const {
  return !_endpoint && !_isClosed && port >= 0 && port <= 65535;
}

bool TGNetHost::UseEndpoint(std::unique_ptr<TNetEndpoint> endpoint) {
  if (!endpoint || _endpoint || _isClosed) return false;
  _endpoint = std::move(endpoint);
  if (_connectionsPerAddress > 0) _endpoint->LimitConnectionsPerAddress(_connectionsPerAddress);
  return true;
}

void TGNetHost::LimitConnectionsPerAddress(size_t count) {
  _connectionsPerAddress = count;
  if (_endpoint && count > 0) _endpoint->LimitConnectionsPerAddress(count);
}

int TGNetHost::Listen(int port) {
  if (!CanOpen(port)) return 0;
  return UseEndpoint(ListenENet(port)) ? 1 : 0;
}

int TGNetHost::Connect(uint32_t ip, int port, int32_t timeoutMs) {
  if (!CanOpen(port)) return 0;
  TENetConnection connection = ConnectENet(ip, port, timeoutMs);
  return Adopt(connection);
}

int TGNetHost::Adopt(TENetConnection& connection) {
  if (!connection.endpoint || !connection.server || !CanOpen(0)) return 0;
  UseEndpoint(std::move(connection.endpoint));
  AddPeer(std::move(connection.server));
  return 1;
}

int TGNetHost::LocalPort() const { return _endpoint ? _endpoint->Port() : 0; }

int TGNetHost::Socket() const { return _endpoint ? _endpoint->Socket() : -1; }

void TGNetHost::PollNetwork() {
  if (_endpoint) _endpoint->Poll();
}

size_t TGNetHost::PendingEvents() const { return _endpoint ? _endpoint->Pending() : 0; }

bool TGNetHost::Backlog() const { return PendingEvents() > 0 && !_networkFailing; }

void TGNetHost::Sync() {
  _created.clear();
  _modified.clear();
  _closed.clear();
  _messages.clear();
  SyncObjects();
  for (size_t handled = 0; handled < kMaxEventsPerSync && _endpoint; ++handled) {
    TNetEvent event;
    if (!_endpoint->Next(event)) {
      _networkFailing = false;
      return;
    }
    HandleEvent(event);
    // Polling again now would only fail again; the next Sync retries.
    if (event.kind == TNetEvent::TKind::Failed) return;
  }
}

TGNetPeerRef TGNetHost::FindPeer(const void* connection) const {
  for (const auto& peer : _peers)
    if (peer->Connection().handle == connection) return peer;
  return nullptr;
}

void TGNetHost::HandleEvent(TNetEvent& event) {
  switch (event.kind) {
    case TNetEvent::TKind::Connected:
      // The transport refuses most of these itself; this one slipped in
      // while another completed.
      if (_peers.size() >= GNET_MAX_PEERS) {
        event.link->DisconnectNow();
        _drops.Add(TDropReason::RoomFull);
        return;
      }
      AddPeer(std::move(event.link));
      return;
    case TNetEvent::TKind::Unreachable:
      _drops.Add(TDropReason::NetworkFailure);
      [[fallthrough]];
    case TNetEvent::TKind::Disconnected:
      if (TGNetPeerRef peer = FindPeer(event.connection.handle)) DropPeer(peer);
      return;
    case TNetEvent::TKind::Received: {
      TGNetPeerRef peer = FindPeer(event.connection.handle);
      if (!peer || peer->Connection().serial != event.connection.serial) {
        _drops.Add(TDropReason::StaleConnection);
        return;
      }
      ReceivePacket(peer, event.packet->Data(), event.packet->Size());
      return;
    }
    case TNetEvent::TKind::Failed:
      _drops.Add(TDropReason::NetworkFailure);
      _networkFailing = true;
      return;
  }
}

void TGNetHost::Close() {
  std::unique_ptr<TGNetClosing> closing = CloseLater();
  if (!closing) return;
  closing->Finish(GNET_CLOSE_WAIT_MS);
  _drops.Add(TDropReason::ArrivedWhileClosing, closing->DroppedArrivals());
}

std::unique_ptr<TGNetClosing> TGNetHost::CloseLater() {
  if (_isClosed) return nullptr;
  _isClosed = true;
  std::vector<std::unique_ptr<TPeerLink>> links;
  for (const auto& peer : _peers) {
    // Without a network of ours nobody waits for the links: end them now.
    if (!_endpoint) peer->Close();
    if (auto link = peer->Detach()) links.push_back(std::move(link));
  }
  _peers.clear();
  if (!_endpoint) return nullptr;
  // Events read but not handled are the closing's to drop and count.
  return std::make_unique<TGNetClosing>(std::move(_endpoint), std::move(links));
}

// --- Ids and local objects -----------------------------------------------

int32_t TGNetHost::FreeId() const {
  for (int32_t step = 1; step <= GNET_MAX_ID; ++step) {
    int32_t id = (_lastId + step - 1) % GNET_MAX_ID + 1;
    if (!_idMap[id]) return id;
  }
  return 0;
}

int32_t TGNetHost::AllocId() {
  int32_t id = FreeId();
  if (id == 0) throw TRuntimeError("Out of GNet object IDs");
  _lastId = id;
  return id;
}

TGNetObjectRef TGNetHost::ObjectWithId(int32_t id) const {
  if (id < 0 || id > GNET_MAX_ID) return nullptr;
  return _idMap[id];
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

// --- Sending --------------------------------------------------------------

void TGNetHost::Count(std::optional<TDropReason> reason) {
  if (reason) _drops.Add(*reason);
}

void TGNetHost::SendGNetMessage(const TGNetObject& msg, const TGNetObject& toObject) {
  // A process never delivers a message to its own objects.
  if (toObject.IsLocal()) return;
  // A replica whose close arrived gave up its id, which may already name a
  // newer replica: the message would reach that one instead.
  TGNetHostRef owner = toObject._host.lock();
  if (!owner || owner->ObjectWithId(toObject._id & GNET_MAX_ID).get() != &toObject) return;
  owner->Count(toObject._peer->SendMsg(msg.MessageMsg(toObject._id)));
}

void TGNetHost::BroadCast(const TGNetMsg& msg, const TGNetPeer* exceptPeer) {
  auto first = std::find_if(_peers.begin(), _peers.end(),
                            [&](const TGNetPeerRef& peer) { return peer.get() != exceptPeer; });
  if (first == _peers.end()) return;
  if (msg.state == OBJ_MESSAGE) {  // ids differ per receiver
    for (const auto& peer : _peers)
      if (peer.get() != exceptPeer) Count(peer->SendMsg(msg));
    return;
  }
  // Framed once and shared by every receiver.
  std::unique_ptr<TLinkPacket> packet = (*first)->NewPacket(GNET_HEADER_SIZE + msg.data.size());
  FrameMsg(msg.state, msg.id, msg.data, packet->Data());
  for (const auto& peer : _peers)
    if (peer.get() != exceptPeer) Count(peer->SendPacket(*packet));
}

TGNetPeerRef TGNetHost::AddPeer(std::unique_ptr<TPeerLink> link) {
  auto peer = TGNetPeer::Create(std::move(link));
  peer->SetId(++_lastPeerId);
  _peers.push_back(peer);
  if (_guard) _guard->PeerConnected(peer->Id(), peer->Address());
  for (const auto& obj : _objects) {
    // A local object still in state 1 reaches every peer at the next sync; a
    // replica in state 1 arrived earlier in this sync and was relayed only to
    // the peers present then, so the newcomer must hear of it here.
    bool announce = obj->_state == OBJ_SYNCED || obj->_state == OBJ_MODIFIED ||
                    (obj->_state == OBJ_CREATED && !obj->IsLocal());
    if (!announce) continue;
    // A replica that grew past one message through several updates is the
    // owner's doing; it is not announced rather than failing this sync.
    if (!obj->IsLocal() && PackedSize(obj->_slots.data(), GNET_ALL_SLOTS) > GNET_MAX_DATA) {
      _drops.Add(TDropReason::OversizedReplica);
      continue;
    }
    Count(peer->SendMsg(obj->CreatedMsg()));
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

// --- Receiving --------------------------------------------------------------

void TGNetHost::ReceivePacket(const TGNetPeerRef& peer, const uint8_t* bytes, size_t size) {
  TGNetMsg msg;
  TPacketVerdict verdict = peer->RecvMsg(bytes, size, msg);
  if (verdict != TPacketVerdict::Ok) {
    _drops.Add(DropReasonOf(verdict));
    return;
  }
  switch (msg.state) {
    case OBJ_MESSAGE: ReceiveMessage(peer, msg); break;
    case OBJ_CREATED: ReceiveCreated(peer, msg); break;
    default: ReceiveUpdate(peer, msg); break;
  }
}

bool TGNetHost::Admit(const TGNetPeer& peer, TGNetMsg& msg, TArrivalKind kind, int32_t id,
                      const TGNetObject* object) {
  if (!_guard) return true;
  TGNetArrival& arrival = _arrival;
  for (int i = 0; i < GNET_SLOT_COUNT; ++i)
    if (arrival.written & (1u << i)) arrival.slots[i] = TGNetSlot();
  arrival.written = 0;
  arrival.kind = kind;
  arrival.peer = peer.Id();
  arrival.address = peer.Address();
  arrival.id = id;
  arrival.object = object;
  // The packet was checked whole on receipt: this reads to its end.
  UnpackSlotArray(msg.data.data(), msg.data.size(), arrival.slots.data(), arrival.written);
  TGuardRuling ruling = _guard->Judge(arrival);
  switch (ruling.verdict) {
    case TGuardVerdict::Accept: return true;
    case TGuardVerdict::Alter:
      PackSlotArray(arrival.slots.data(), arrival.written, msg.data);
      return true;
    case TGuardVerdict::Refuse: break;
  }
  _drops.Add(ruling.reason);
  return false;
}

void TGNetHost::ReceiveMessage(const TGNetPeerRef& peer, TGNetMsg& msg) {
  const TGNetObjectRef& addressee = _idMap[msg.id];
  if (!addressee) {
    _drops.Add(TDropReason::AbsentAddressee);
    return;
  }
  if (!Admit(*peer, msg, TArrivalKind::Message, msg.id, addressee.get())) return;
  if (!addressee->IsLocal()) {
    Count(addressee->_peer->SendMsg(msg));  // on to the owner, in its numbering
    return;
  }
  auto received = TGNetObject::Create(msg.id, OBJ_MESSAGE, Self(), nullptr);
  received->_sender = peer->Id();
  _messages.push_back(received);
  received->Update(msg);
}

void TGNetHost::ReceiveCreated(const TGNetPeerRef& peer, TGNetMsg& msg) {
  int32_t remoteId = msg.id;
  int32_t id = FreeId();
  if (std::optional<TDropReason> refusal = CreationRefusal(*peer, remoteId, id)) {
    _drops.Add(*refusal);
    return;
  }
  if (!Admit(*peer, msg, TArrivalKind::Creation, id, nullptr)) return;
  _lastId = id;
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
    _drops.Add(msg.state == OBJ_MODIFIED ? TDropReason::UpdateOfUnmappedId
                                         : TDropReason::CloseOfUnmappedId);
    return;
  }
  TArrivalKind kind = msg.state == OBJ_MODIFIED ? TArrivalKind::Update : TArrivalKind::Close;
  if (!Admit(*peer, msg, kind, obj->_id, obj.get())) return;
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

// --- Losing a peer ------------------------------------------------------------

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
  for (int32_t id = 1; id <= GNET_MAX_ID && peer->MappedIds() > 0; ++id) {
    if (peer->RemoteId(id) == 0) continue;
    const TGNetObjectRef& entry = _idMap[id];
    if (entry && entry->_peer == peer) CloseOwnedObject(peer, TGNetObjectRef(entry), false);
  }
  auto it = std::find(_peers.begin(), _peers.end(), peer);
  bool wasConnected = it != _peers.end();
  if (wasConnected) _peers.erase(it);
  peer->Detach();
  if (_guard && wasConnected) _guard->PeerDisconnected(peer->Id());
}

TGNetPeerRef TGNetHost::PeerWithId(int32_t id) const {
  for (const auto& peer : _peers)
    if (peer->Id() == id) return peer;
  return nullptr;
}

bool TGNetHost::EndConnection(int32_t id) {
  TGNetPeerRef peer = PeerWithId(id);
  if (!peer) return false;
  peer->CloseNow();
  DropPeer(peer);
  return true;
}
