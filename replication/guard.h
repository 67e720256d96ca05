// The hook through which an application judges what a listening host's
// peers send, before the host applies it or relays it: each creation,
// update, close and message object that arrives from a peer, with the peer
// that sent it and the network address that peer is at. The guard accepts
// it, alters its slots, or refuses it under a drop reason of its choosing
// (replication/drops.h counts the refusal). The layer knows nothing of what
// the slots mean; the rules are the application's.
//
// A guard belongs to one host and runs on its thread, inside that host's
// Sync. Judge must not call back into the host (no sync, no sends, no
// ending connections): it only decides, and the application acts on what
// it learnt after the sync.
#pragma once

#include <array>
#include <cstdint>

#include "replication/drops.h"
#include "replication/slot.h"
#include "replication/transport.h"

class TGNetObject;

enum class TArrivalKind { Creation, Update, Close, Message };

// One arrival, after the layer's own checks (well-formed, owned by its
// sender, an addressee that exists).
struct TGNetArrival {
  TArrivalKind kind = TArrivalKind::Creation;
  int32_t peer = 0;     // the sending connection's number at this host (never 0)
  TNetAddress address;  // where the network says the peer is
  // Creation: the id the object takes here; update and close: the object's
  // id; message: the addressee's id.
  int32_t id = 0;
  // Update and close: the replica as it is before this arrival; message:
  // the addressee (local or a replica); creation: null.
  const TGNetObject* object = nullptr;
  // The slots the arrival carries (bit i for slot i) and their values; the
  // other slots are empty. A guard that alters them changes what is applied
  // and relayed.
  uint32_t written = 0;
  std::array<TGNetSlot, GNET_SLOT_COUNT> slots;
};

enum class TGuardVerdict { Accept, Alter, Refuse };

struct TGuardRuling {
  TGuardVerdict verdict = TGuardVerdict::Accept;
  TDropReason reason = TDropReason::Forbidden;  // counted for a refusal

  static TGuardRuling Accepted() { return {}; }
  // The arrival's `written` slots, as the guard left them, go on instead.
  static TGuardRuling Altered() { return {TGuardVerdict::Alter, TDropReason::Forbidden}; }
  static TGuardRuling Refused(TDropReason why) { return {TGuardVerdict::Refuse, why}; }
};

class TGNetGuard {
 public:
  virtual ~TGNetGuard() = default;
  // A connection was accepted, and has been given the number `peer`.
  virtual void PeerConnected(int32_t /*peer*/, const TNetAddress& /*address*/) {}
  // The connection is gone (disconnected, lost, or ended by the host); its
  // objects have been closed.
  virtual void PeerDisconnected(int32_t /*peer*/) {}
  virtual TGuardRuling Judge(TGNetArrival& arrival) = 0;
};
