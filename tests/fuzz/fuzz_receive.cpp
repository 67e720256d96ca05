// libFuzzer target over the receive path of the replication layer.
//
// The input is a run of records (fuzz_input.h). Each packet is checked and
// unpacked on its own (whatever is accepted must pack back to its canonical
// form, whatever is refused must fail to unpack the same way), then handed
// to a host as if it came from one of two peers. A refused packet must be
// counted under the reason of its verdict. Control bit FUZZ_OTHER_PEER picks
// the peer; FUZZ_DROP drops that peer afterwards (the disconnection steps)
// and puts a fresh one in its place; FUZZ_SYNC syncs. Strings run up to the
// largest a message holds (65,517 characters) when the input is that long.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core/error.h"
#include "replication/replication.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/replication/memory_transport.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "replication fuzz: %s\n", what);
  std::abort();
}

uint32_t Big(const uint8_t* p, size_t n) {
  uint32_t value = 0;
  for (size_t i = 0; i < n; ++i) value = value << 8 | p[i];
  return value;
}

void PutBig(Bytes& out, uint32_t value, size_t n) {
  for (size_t i = n; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The canonical packing of accepted slot data, written independently of the
// layer: the last item of each slot wins, slots go in ascending order,
// integers take the smallest type by value and halves become singles.
Bytes Canonical(const uint8_t* data, size_t size) {
  std::map<int, Bytes> items;
  for (size_t pos = 0; pos < size;) {
    int type = data[pos] >> 5, index = data[pos] & 31;
    const uint8_t* p = data + pos + 1;
    Bytes item;
    size_t length = 0;
    switch (type) {
      case 1: case 4: case 5: {
        length = type == 1 ? 4 : type == 4 ? 1 : 2;
        int32_t value = static_cast<int32_t>(Big(p, length));
        int32_t canonical = value >= 0 && value <= 255 ? 4 : value >= 256 && value <= 65535 ? 5 : 1;
        item.push_back(static_cast<uint8_t>(canonical * 32 + index));
        PutBig(item, static_cast<uint32_t>(value), canonical == 1 ? 4 : canonical == 4 ? 1 : 2);
        break;
      }
      case 2: case 6: {
        length = type == 2 ? 2 : 4;
        uint32_t bits = Big(p, length);
        if (type == 2) {
          float value = HalfToFloat(static_cast<uint16_t>(bits));
          std::memcpy(&bits, &value, 4);
        }
        item.push_back(static_cast<uint8_t>(6 * 32 + index));
        PutBig(item, bits, 4);
        break;
      }
      case 3:
        length = 2 + Big(p, 2);
        item.push_back(static_cast<uint8_t>(3 * 32 + index));
        item.insert(item.end(), p, p + length);
        break;
      default: Fail("accepted an invalid type");
    }
    items[index] = item;
    pos += 1 + length;
  }
  Bytes out;
  for (const auto& [index, item] : items) out.insert(out.end(), item.begin(), item.end());
  return out;
}

std::string UnpackError(const Bytes& data) {
  auto obj = TGNetObject::Create(1, OBJ_SYNCED, nullptr, nullptr);
  try {
    obj->UnpackSlots(data);
  } catch (const TRuntimeError& e) {
    return e.what();
  }
  return "";
}

TPacketVerdict CheckAlone(const uint8_t* bytes, size_t size) {
  TGNetMsg msg;
  TPacketVerdict verdict = DecodePacket(bytes, size, msg);
  if (size < 2 || size > 2 + GNET_MAX_DATA) {
    if (verdict == TPacketVerdict::Ok) Fail("accepted a packet of impossible length");
    return verdict;
  }
  Bytes data(bytes + 2, bytes + size);
  std::string error = UnpackError(data);
  if (verdict == TPacketVerdict::InvalidSlotType && error != "Invalid GNet data type") Fail("type verdicts differ");
  if (verdict == TPacketVerdict::Truncated && error != "Corrupt GNet message") Fail("length verdicts differ");
  if (verdict != TPacketVerdict::Ok) return verdict;
  if (!error.empty()) Fail("accepted data does not unpack");
  uint8_t header[2];
  WriteHeader(msg.state, msg.id, header);
  if (std::memcmp(header, bytes, 2) != 0 || msg.data != data) Fail("header does not round-trip");

  auto obj = TGNetObject::Create(1, OBJ_SYNCED, nullptr, nullptr);
  obj->UnpackSlots(msg.data);
  Bytes expected = Canonical(data.data(), data.size());
  try {
    if (obj->PackSlots(GNET_ALL_SLOTS) != expected) Fail("accepted data does not pack back");
  } catch (const TRuntimeError&) {
    // Halves grow into singles: only then may the canonical form not fit.
    if (expected.size() <= GNET_MAX_DATA) Fail("accepted data fails to pack");
  }
  return verdict;
}

void CheckHost(const TGNetHost& host) {
  for (int32_t id = 0; id < GNET_ID_COUNT; ++id) {
    TGNetObjectRef obj = host.ObjectWithId(id);
    if (obj && (id == 0 || obj->_id != id)) Fail("id map entry under a wrong id");
  }
  for (const auto& peer : host.Peers()) {
    int32_t mapped = 0;
    for (int32_t id = 0; id < GNET_ID_COUNT; ++id) mapped += peer->RemoteId(id) != 0;
    if (mapped != peer->MappedIds()) Fail("mapped id count is off");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto host = TGNetHost::Create();
  auto own = host->CreateObject();  // an addressee for messages
  own->SetString(0, u"HOST");
  TRecordedPeer peers[2] = {AddRecordedPeer(*host), AddRecordedPeer(*host)};
  size_t pos = 0;
  TFuzzRecord record;
  while (NextFuzzRecord(data, size, pos, record)) {
    uint8_t control = record.control;
    const uint8_t* packet = record.bytes;
    size_t length = record.size;
    TPacketVerdict verdict = CheckAlone(packet, length);
    TRecordedPeer& from = peers[control & FUZZ_OTHER_PEER];
    TRecordedPeer& other = peers[~control & FUZZ_OTHER_PEER];
    size_t before = other.Sent().size();
    int64_t refused = verdict == TPacketVerdict::Ok ? 0 : host->Drops().Count(DropReasonOf(verdict));
    host->ReceivePacket(from.peer, packet, length);
    if (verdict != TPacketVerdict::Ok && host->Drops().Count(DropReasonOf(verdict)) != refused + 1)
      Fail("a refused packet was not counted under its reason");
    // Relayed slots travel exactly as they came.
    if (other.Sent().size() > before) {
      const Bytes& relayed = other.Sent().back();
      if (!std::equal(relayed.begin() + 2, relayed.end(), packet + 2, packet + length)) Fail("relay changed the slots");
    }
    if (control & FUZZ_DROP) {
      host->DropPeer(from.peer);
      from = AddRecordedPeer(*host);
    }
    if (control & FUZZ_SYNC) host->Sync();
    for (auto& peer : peers) peer.record->sent.clear();
  }
  CheckHost(*host);
  return 0;
}

// Every run builds a host of some 100 KB; a small quarantine lets the
// allocator reuse that memory instead of faulting in fresh pages each time.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }
