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
  _modified |= 1u << index;
  if (_state == OBJ_SYNCED) _state = OBJ_MODIFIED;
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
  return PackSlotArray(_slots.data(), mask);
}

void TGNetObject::UnpackSlots(const uint8_t* data, size_t size) {
  size_t pos = 0;
  TSlotItem item;
  for (;;) {
    switch (ReadSlotItem(data, size, pos, item)) {
      case TItemStatus::End: return;
      case TItemStatus::InvalidType: throw TRuntimeError("Invalid GNet data type");
      case TItemStatus::Truncated: throw TRuntimeError("Corrupt GNet message");
      case TItemStatus::Ok: break;
    }
    switch (item.type) {
      case SLOT_FLOAT16:
      case SLOT_FLOAT32: SetFloat(item.index, item.floatValue); break;
      case SLOT_STRING: {
        // Built in place: a long string is copied once, not twice.
        TGNetSlot& slot = WriteSlot(item.index);
        slot._string.resize(item.textLength);
        for (size_t i = 0; i < item.textLength; ++i) slot._string[i] = item.text[i];
        slot._type = SLOT_STRING;
        break;
      }
      default: SetInt(item.index, item.intValue); break;
    }
  }
}
