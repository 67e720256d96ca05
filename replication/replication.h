// The replication layer as the application uses it: hosts that listen or
// connect over ENet, replicated objects with 32 typed slots (0..31), and
// one-shot message objects addressed to a replicated object.
//
// Typical use: NewReplicationHost, then ListenReplication or
// ConnectReplication; create objects and write slots; call SyncReplication
// regularly (nothing is sent or received outside it): as soon as
// ReplicationSocket is readable, right after queueing something, and at
// least once a second for the network's own retries and time-outs; after
// each sync read ReplicatedObjects(host, OBJ_CREATED / OBJ_MODIFIED /
// OBJ_CLOSED) and ReceivedMessages; at the end CloseReplicationHost.
//
// One thread per host (the main thread, in the program); OpenConnection and
// FinishClosing are the parts meant for other threads. Errors of local use
// raise TRuntimeError with a fixed text; nothing a peer sends raises, nor does
// the network: what breaks a rule is dropped and counted (DropCount), a peer
// the network cannot reach any more is dropped as if it had disconnected.
// Every object argument must be non-null ("Null GNet object" otherwise). The
// host itself (replication/host.h) stays behind these functions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/object.h"
#include "replication/closing.h"
#include "replication/drops.h"
#include "replication/guard.h"
#include "replication/object.h"
#include "replication/slot.h"

struct TENetConnection;
using TGNetConnectionRef = std::shared_ptr<TENetConnection>;
using TGNetClosingRef = std::shared_ptr<TGNetClosing>;

// Starts the network once per process (its shutdown is registered with
// atexit). NewReplicationHost calls it; calling it earlier is harmless.
void InitReplication();

TGNetHostRef NewReplicationHost();
// Disconnects the peers and ends the ENet host; the objects stay readable.
// Waits up to GNET_CLOSE_WAIT_MS for the last packets to be acknowledged.
void CloseReplicationHost(const TGNetHostRef& host);
// Closing without the wait: the host is closed at once (as above), and what
// it still has on the network is returned, to be finished by FinishClosing
// on any one thread while this one goes on; until then the port stays
// taken. Null when the host had no network.
TGNetClosingRef CloseReplicationHostLater(const TGNetHostRef& host);
// Waits at most `maxMs`, or until `stop()` returns true, for the last
// packets to be acknowledged, then sends the disconnect requests and frees
// the port. Nothing for null; a second call does nothing; dropping the last reference to an
// unfinished closing finishes it without waiting.
void FinishClosing(const TGNetClosingRef& closing, int32_t maxMs,
                   const std::function<bool()>& stop = nullptr);
void SyncReplication(const TGNetHostRef& host);
// The descriptor that becomes readable when traffic arrives for `host`, or
// -1 while it neither listens nor is connected.
int ReplicationSocket(const TGNetHostRef& host);
// 1 when the latest sync left events it had read unhandled (it handles a
// bounded number, so that the caller's thread gets its turn): sync again
// soon, even if the socket is not readable. Else 0.
int ReplicationBacklog(const TGNetHostRef& host);
// 1 when the latest sync ended on a failure of the network that it could not
// pin on a peer (the socket may then stay readable until a sync succeeds;
// don't serve it in a tight loop meanwhile), else 0.
int ReplicationFailing(const TGNetHostRef& host);
// 1 when listening on UDP `port` on every interface, else 0.
int ListenReplication(const TGNetHostRef& host, int port);
// Resolves `address` (dotted IPv4 or a host name) to its first IPv4 address
// and connects, waiting at most `timeoutMs`. 1 on success, else 0 with the
// host idle again; an address without an IPv4 address fails at once.
int ConnectReplication(const TGNetHostRef& host, const TString& address, int port,
                       int32_t timeoutMs);
// Joining in two halves, so that the wait need not hold the host's thread.
// OpenConnection does the waiting and touches no host: it may run on a thread
// of its own. It connects to `ip` (IPv4, most significant byte first) on UDP
// `port`, waiting at most `timeoutMs`, or until `stop()` returns true (asked
// every few milliseconds); null when nobody accepted. A connection that no
// host adopts is ended, the other end told, when its last reference goes.
// `fromIp`, when not 0, is the local IPv4 address to connect from.
TGNetConnectionRef OpenConnection(uint32_t ip, int port, int32_t timeoutMs,
                                  const std::function<bool()>& stop = nullptr,
                                  uint32_t fromIp = 0);
// On the host's thread: 1 when `host` is now connected over `connection`
// (as after a successful ConnectReplication), else 0: no connection, or the
// host already listens, is connected or is closed.
int AdoptConnection(const TGNetHostRef& host, const TGNetConnectionRef& connection);

// OBJ_ALL: every object known here, in order of creation here; OBJ_CREATED,
// OBJ_MODIFIED, OBJ_CLOSED: the replicas that changed so in the latest sync.
// The live list: valid until the next SyncReplication or object creation on
// this host; sending messages or closing objects while iterating it is safe.
// Another selector raises "Unknown object state".
const TGNetObjectList& ReplicatedObjects(const TGNetHostRef& host, int state);
// Message objects received in the latest sync for objects owned here.
const TGNetObjectList& ReceivedMessages(const TGNetHostRef& host);

// A local object; its creation goes out at the next sync.
TGNetObjectRef NewReplicatedObject(const TGNetHostRef& host);
// A message object: fill its slots, then send it to any number of objects.
TGNetObjectRef NewMessageObject(const TGNetHostRef& host);
// Queues `msg`'s slots for the process that owns `toObject` (sent at the next
// sync); nothing when `toObject` is local or a replica whose close has
// arrived. Leaves every list unchanged.
void SendMessageObject(const TGNetObjectRef& msg, const TGNetObjectRef& toObject);
// The object a received message is addressed to, or null.
TGNetObjectRef MessageAddressee(const TGNetObjectRef& msg);

int ObjectState(const TGNetObjectRef& obj);
int ObjectIsLocal(const TGNetObjectRef& obj);
int ObjectIsRemote(const TGNetObjectRef& obj);
void SetSlotInt(const TGNetObjectRef& obj, int index, int32_t value);
void SetSlotFloat(const TGNetObjectRef& obj, int index, float value);
void SetSlotString(const TGNetObjectRef& obj, int index, const TString& value);
int32_t GetSlotInt(const TGNetObjectRef& obj, int index);
float GetSlotFloat(const TGNetObjectRef& obj, int index);
TString GetSlotString(const TGNetObjectRef& obj, int index);
void SetObjectTarget(const TGNetObjectRef& obj, const TObjectRef& target);
TObjectRef GetObjectTarget(const TGNetObjectRef& obj);
// Raises "Illegal object state" on a message object or a dead object.
void CloseReplicatedObject(const TGNetObjectRef& obj);

// Connections, as a listening host sees them. Each has a number (1 and up,
// never reused while the host lives) by which these name it.
//
// From now on every arrival from a peer of `host` is judged by `guard`
// before it is applied or relayed (null: no guard); see replication/guard.h.
void GuardReplication(const TGNetHostRef& host, std::shared_ptr<TGNetGuard> guard);
// At most `count` connections from one IPv4 address at a time (a listening
// host); further attempts from it get no answer.
void LimitConnectionsPerAddress(const TGNetHostRef& host, size_t count);
// The connection a replica came through, or 0 for a local object.
int32_t ObjectConnection(const TGNetObjectRef& obj);
// The connection a received message came through, or 0 for one built here.
int32_t MessageSender(const TGNetObjectRef& msg);
// The network address a replica's connection came from, as dotted IPv4 text
// ("" for a local object); kept after the connection ends.
TString ObjectAddress(const TGNetObjectRef& obj);
// Dotted text of an IPv4 address (most significant byte first).
TString AddressText(uint32_t ip);
// Ends connection `connection` at once: its objects close here and at every
// other peer, as when a connection is lost, and its slot is free now.
// 1 when it was connected, else 0.
int EndConnection(const TGNetHostRef& host, int32_t connection);

// How many packets `host` dropped, or left unsent, for `reason` so far.
int64_t DropCount(const TGNetHostRef& host, TDropReason reason);

// The first IPv4 address of `address` (most significant byte first), or
// false when it has none.
bool ResolveIPv4(const TString& address, uint32_t& ip);
