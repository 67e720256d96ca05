#include "replication/replication.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <string>

#include "core/error.h"
#include "replication/enet_transport.h"
#include "replication/host.h"
#include "replication/peer.h"

namespace {

template <class T>
T& Checked(const std::shared_ptr<T>& pointer) {
  if (!pointer) throw TRuntimeError("Null GNet object");
  return *pointer;
}

}  // namespace

void InitReplication() { StartENet(); }

TGNetHostRef NewReplicationHost() {
  InitReplication();
  return TGNetHost::Create();
}

void CloseReplicationHost(const TGNetHostRef& host) { Checked(host).Close(); }

TGNetClosingRef CloseReplicationHostLater(const TGNetHostRef& host) {
  return Checked(host).CloseLater();
}

void FinishClosing(const TGNetClosingRef& closing, int32_t maxMs,
                   const std::function<bool()>& stop) {
  if (closing) closing->Finish(maxMs, stop);
}
void SyncReplication(const TGNetHostRef& host) { Checked(host).Sync(); }
int ReplicationSocket(const TGNetHostRef& host) { return Checked(host).Socket(); }
int ReplicationBacklog(const TGNetHostRef& host) { return Checked(host).Backlog() ? 1 : 0; }
int ReplicationFailing(const TGNetHostRef& host) { return Checked(host).NetworkFailing() ? 1 : 0; }
int ListenReplication(const TGNetHostRef& host, int port) { return Checked(host).Listen(port); }

bool ResolveIPv4(const TString& address, uint32_t& ip) {
  std::string name = ToBytes(address);
  if (name.empty()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  ip = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(found);
  return true;
}

int ConnectReplication(const TGNetHostRef& host, const TString& address, int port,
                       int32_t timeoutMs) {
  TGNetHost& checked = Checked(host);
  uint32_t ip = 0;
  // Without an IPv4 address there is nobody to wait for.
  if (!ResolveIPv4(address, ip)) return 0;
  return checked.Connect(ip, port, timeoutMs);
}

TGNetConnectionRef OpenConnection(uint32_t ip, int port, int32_t timeoutMs,
                                  const std::function<bool()>& stop, uint32_t fromIp) {
  InitReplication();
  auto connection =
      std::make_shared<TENetConnection>(ConnectENet(ip, port, timeoutMs, stop, fromIp));
  if (!connection->endpoint) return nullptr;
  return connection;
}

int AdoptConnection(const TGNetHostRef& host, const TGNetConnectionRef& connection) {
  TGNetHost& checked = Checked(host);
  return connection ? checked.Adopt(*connection) : 0;
}

const TGNetObjectList& ReplicatedObjects(const TGNetHostRef& host, int state) {
  TGNetHost& checked = Checked(host);
  switch (state) {
    case OBJ_ALL: return checked.Objects();
    case OBJ_CREATED: return checked.ObjectsCreated();
    case OBJ_MODIFIED: return checked.ObjectsModified();
    case OBJ_CLOSED: return checked.ObjectsClosed();
    default: throw TRuntimeError("Unknown object state");
  }
}

const TGNetObjectList& ReceivedMessages(const TGNetHostRef& host) {
  return Checked(host).Messages();
}

TGNetObjectRef NewReplicatedObject(const TGNetHostRef& host) {
  return Checked(host).CreateObject();
}

TGNetObjectRef NewMessageObject(const TGNetHostRef& host) { return Checked(host).CreateMessage(); }

void SendMessageObject(const TGNetObjectRef& msg, const TGNetObjectRef& toObject) {
  TGNetObject& checkedMsg = Checked(msg);
  TGNetObject& checkedTo = Checked(toObject);
  // A message whose host is gone has no way out.
  if (TGNetHostRef host = checkedMsg._host.lock()) host->SendGNetMessage(checkedMsg, checkedTo);
}

TGNetObjectRef MessageAddressee(const TGNetObjectRef& msg) {
  TGNetObject& checked = Checked(msg);
  TGNetHostRef host = checked._host.lock();
  if (!host || checked._id <= 0) return nullptr;
  return host->ObjectWithId(checked._id);
}

int ObjectState(const TGNetObjectRef& obj) { return Checked(obj).State(); }
int ObjectIsLocal(const TGNetObjectRef& obj) { return Checked(obj).IsLocal() ? 1 : 0; }
int ObjectIsRemote(const TGNetObjectRef& obj) { return Checked(obj).IsLocal() ? 0 : 1; }

void SetSlotInt(const TGNetObjectRef& obj, int index, int32_t value) {
  Checked(obj).SetInt(index, value);
}
void SetSlotFloat(const TGNetObjectRef& obj, int index, float value) {
  Checked(obj).SetFloat(index, value);
}
void SetSlotString(const TGNetObjectRef& obj, int index, const TString& value) {
  Checked(obj).SetString(index, value);
}
int32_t GetSlotInt(const TGNetObjectRef& obj, int index) { return Checked(obj).GetInt(index); }
float GetSlotFloat(const TGNetObjectRef& obj, int index) { return Checked(obj).GetFloat(index); }
TString GetSlotString(const TGNetObjectRef& obj, int index) {
  return Checked(obj).GetString(index);
}

void SetObjectTarget(const TGNetObjectRef& obj, const TObjectRef& target) {
  Checked(obj)._target = target;
}
TObjectRef GetObjectTarget(const TGNetObjectRef& obj) { return Checked(obj)._target; }
void CloseReplicatedObject(const TGNetObjectRef& obj) { Checked(obj).Close(); }

int64_t DropCount(const TGNetHostRef& host, TDropReason reason) {
  return Checked(host).Drops().Count(reason);
}

void GuardReplication(const TGNetHostRef& host, std::shared_ptr<TGNetGuard> guard) {
  Checked(host).SetGuard(std::move(guard));
}

void LimitConnectionsPerAddress(const TGNetHostRef& host, size_t count) {
  Checked(host).LimitConnectionsPerAddress(count);
}

int32_t ObjectConnection(const TGNetObjectRef& obj) {
  const TGNetObject& checked = Checked(obj);
  return checked._peer ? checked._peer->Id() : 0;
}

int32_t MessageSender(const TGNetObjectRef& msg) { return Checked(msg)._sender; }

TString AddressText(uint32_t ip) {
  std::string text = std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." +
                     std::to_string(ip >> 8 & 255) + "." + std::to_string(ip & 255);
  return FromBytes(text);
}

TString ObjectAddress(const TGNetObjectRef& obj) {
  const TGNetObject& checked = Checked(obj);
  return checked._peer ? AddressText(checked._peer->Address().ip) : TString();
}

int EndConnection(const TGNetHostRef& host, int32_t connection) {
  return Checked(host).EndConnection(connection) ? 1 : 0;
}
