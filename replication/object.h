// Replicated objects and message objects, and their state machine.
//
// An object has 32 typed slots. Its owner writes them; at each
// synchronisation of its host the slots written since the previous one leave
// as one message and the receivers apply them to their replica. A message
// object is a one-shot bundle of slots addressed to one replicated object.
// Objects are made only by their host (TGNetHost); main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/object.h"
#include "replication/slot.h"
#include "replication/wire.h"

// Object states, and the selector OBJ_ALL of ReplicatedObjects.
enum : int32_t {
  OBJ_ALL = 0,
  OBJ_CREATED = 1,   // local: not yet sent; remote: its creation just arrived
  OBJ_MODIFIED = 2,  // local: written since the last sync; remote: updated
  OBJ_CLOSED = 3,    // local: close not yet sent; remote: its close arrived
  OBJ_SYNCED = 4,    // nothing pending
  OBJ_MESSAGE = 5,   // a message object
  OBJ_DEAD = -1,     // finished; leaves the host's list at the next sync
};

class TGNetHost;
class TGNetPeer;
using TGNetHostRef = std::shared_ptr<TGNetHost>;
using TGNetPeerRef = std::shared_ptr<TGNetPeer>;

class TGNetObject : public TObject {
 public:
  // A new object with 32 empty slots, in no list and no id map.
  static std::shared_ptr<TGNetObject> Create(int32_t id, int32_t state,
                                             const std::shared_ptr<TGNetHost>& host,
                                             const std::shared_ptr<TGNetPeer>& peer);

  int32_t State() const { return _state; }
  // Created (never sent) -> dead; modified or synced -> closed; closed stays.
  // Raises "Illegal object state" on a message object or a dead one.
  void Close();

  // Every setter marks the slot, even when the value does not change.
  // Indices run from 0 to 31; others raise "Invalid GNet slot index".
  void SetInt(int index, int32_t value);
  void SetFloat(int index, float value);
  void SetString(int index, const TString& value);
  int32_t GetInt(int index) const;
  float GetFloat(int index) const;
  const TString& GetString(int index) const;
  // Marks slot `index` as written (a synced object becomes modified).
  TGNetSlot& WriteSlot(int index);

  // This object's part of a synchronisation: the message to broadcast, if
  // any (only a local object that is created, modified or closed has one).
  // Raises "GNet message data too large" with nothing changed.
  std::optional<TGNetMsg> Sync();
  // Applies the message's slots, then takes its state. The data must read
  // cleanly; otherwise the items before the bad one stay applied and the
  // unpacking error is raised.
  void Update(const TGNetMsg& msg);

  TGNetMsg CreatedMsg() const;
  TGNetMsg ClosedMsg() const;
  TGNetMsg MessageMsg(int32_t id) const;
  // The slots selected by `mask`, packed; raises as PackSlotArray. The second
  // form packs into `out`, reusing its capacity.
  std::vector<uint8_t> PackSlots(uint32_t mask) const;
  void PackSlots(uint32_t mask, std::vector<uint8_t>& out) const {
    PackSlotArray(_slots.data(), mask & _filled, out);
  }
  // Applies packed slots through the setters. Raises "Invalid GNet data
  // type" or "Corrupt GNet message" at a bad item, after the ones before it.
  void UnpackSlots(const uint8_t* data, size_t size);
  void UnpackSlots(const std::vector<uint8_t>& data) { UnpackSlots(data.data(), data.size()); }

  bool IsLocal() const { return _peer == nullptr; }

  int32_t _id = 0;
  int32_t _state = 0;
  // The host owns its objects, so an object only observes its host.
  std::weak_ptr<TGNetHost> _host;
  // Null for an object made here; for a replica, the peer it arrived through.
  std::shared_ptr<TGNetPeer> _peer;
  // A received message object: the number of the connection it came
  // through (TGNetPeer::Id); 0 for everything else.
  int32_t _sender = 0;
  // Application data; never read by the layer, released when the object is
  // finished after its close.
  TObjectRef _target;
  // Written only through WriteSlot and the setters, which keep _filled.
  std::array<TGNetSlot, GNET_SLOT_COUNT> _slots;
  uint32_t _modified = 0;
  // Bit i is set once slot i has been written; the other slots are empty, so
  // packing need not look at them.
  uint32_t _filled = 0;

 private:
  // Sets `slots` in _modified and _filled; a synced object becomes modified.
  void MarkWritten(uint32_t slots);
};

using TGNetObjectRef = std::shared_ptr<TGNetObject>;
using TGNetObjectList = std::vector<TGNetObjectRef>;
