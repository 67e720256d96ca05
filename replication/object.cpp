#include "replication/object.h"

#include "core/error.h"

namespace {

int CheckedIndex(int index) {
  // Slots live in a fixed array; a stray index must not write past it.
  if (index < 0 || index >= GNET_SLOT_COUNT) throw TRuntimeError("Invalid GNet slot index");
  return index;
}

}  // namespace

std::shared_ptr<TGNetObject> TGNetObject::Create(int32_t id, int32_t state,
                                                 const std::shared_ptr<TGNetHost>& host,
                                                 const std::shared_ptr<TGNetPeer>& peer) {
  auto obj = std::make_shared<TGNetObject>();
  obj->_id = id;
  obj->_state = state;
  obj->_host = host;
  obj->_peer = peer;
  return obj;
}

void TGNetObject::Close() {
  switch (_state) {
    case OBJ_CREATED: _state = OBJ_DEAD; break;  // nobody has heard of it
    case OBJ_MODIFIED:
    case OBJ_SYNCED: _state = OBJ_CLOSED; break;
    case OBJ_CLOSED: break;
    default: throw TRuntimeError("Illegal object state");
  }
}

TGNetSlot& TGNetObject::WriteSlot(int index) {
  CheckedIndex(index);
  MarkWritten(1u << index);
  return _slots[index];
}

void TGNetObject::SetInt(int index, int32_t value) { WriteSlot(index).SetInt(value); }
void TGNetObject::SetFloat(int index, float value) { WriteSlot(index).SetFloat(value); }
void TGNetObject::SetString(int index, const TString& value) {
  WriteSlot(index).SetString(value);
}

int32_t TGNetObject::GetInt(int index) const { return _slots[CheckedIndex(index)].GetInt(); }
float TGNetObject::GetFloat(int index) const { return _slots[CheckedIndex(index)].GetFloat(); }
const TString& TGNetObject::GetString(int index) const {
  return _slots[CheckedIndex(index)].GetString();
}

std::optional<TGNetMsg> TGNetObject::Sync() {
  if (_state == OBJ_SYNCED || _state == OBJ_DEAD) return std::nullopt;
  std::optional<TGNetMsg> msg;
  // Slots written into a replica stay local until its owner overwrites them.
  if (IsLocal()) msg = TGNetMsg{_id, _state, PackSlots(_modified)};
  _modified = 0;
  if (_state == OBJ_CREATED || _state == OBJ_MODIFIED) {
    _state = OBJ_SYNCED;
  } else if (_state == OBJ_CLOSED) {
    _target.reset();
    _state = OBJ_DEAD;
  }
  return msg;
}

void TGNetObject::Update(const TGNetMsg& msg) {
  UnpackSlots(msg.data);
  _state = msg.state;
}

TGNetMsg TGNetObject::CreatedMsg() const {
  return TGNetMsg{_id, OBJ_CREATED, PackSlots(GNET_ALL_SLOTS)};
}

TGNetMsg TGNetObject::ClosedMsg() const { return TGNetMsg{_id, OBJ_CLOSED, {}}; }

TGNetMsg TGNetObject::MessageMsg(int32_t id) const {
  return TGNetMsg{id, OBJ_MESSAGE, PackSlots(GNET_ALL_SLOTS)};
}

std::vector<uint8_t> TGNetObject::PackSlots(uint32_t mask) const {
  std::vector<uint8_t> data;
  PackSlots(mask, data);
  return data;
}

void TGNetObject::UnpackSlots(const uint8_t* data, size_t size) {
  uint32_t written = 0;
  TItemStatus status = TItemStatus::End;
  try {
    status = UnpackSlotArray(data, size, _slots.data(), written);
  } catch (...) {
    MarkWritten(written);  // the items before stay applied, so marked
    throw;
  }
  MarkWritten(written);
  if (status == TItemStatus::InvalidType) throw TRuntimeError("Invalid GNet data type");
  if (status == TItemStatus::Truncated) throw TRuntimeError("Corrupt GNet message");
}

void TGNetObject::MarkWritten(uint32_t slots) {
  if (slots == 0) return;
  _modified |= slots;
  _filled |= slots;
  if (_state == OBJ_SYNCED) _state = OBJ_MODIFIED;
}
