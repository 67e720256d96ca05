// The fuzz targets' input, shared by the targets and the seed writer: a run
// of records, each a control byte, a 2-byte big-endian length and that many
// bytes of packet (fewer when the input ends first). What the control bits
// mean is each target's own (see its file); the bits below are read alike by
// both, so that seeds written once serve both.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using Bytes = std::vector<uint8_t>;

constexpr size_t FUZZ_RECORD_HEADER = 3;

// Bits of the control byte.
constexpr uint8_t FUZZ_OTHER_PEER = 0x01;    // the second of two senders
constexpr uint8_t FUZZ_TO_GUEST = 0x02;      // room target: to the guest room, from its host
constexpr uint8_t FUZZ_ACTION_MASK = 0x1c;   // room target: a room's own action instead
constexpr int FUZZ_ACTION_SHIFT = 2;
constexpr uint8_t FUZZ_TICK = 0x20;          // room target: one second passes
constexpr uint8_t FUZZ_DROP = 0x40;          // the sender's connection ends afterwards
constexpr uint8_t FUZZ_SYNC = 0x80;          // the hosts serve the network

struct TFuzzRecord {
  uint8_t control = 0;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

// The record at `pos`, which then moves past it; false when fewer than a
// record header's bytes are left.
inline bool NextFuzzRecord(const uint8_t* data, size_t size, size_t& pos, TFuzzRecord& record) {
  if (size - pos < FUZZ_RECORD_HEADER) return false;
  record.control = data[pos];
  size_t length = static_cast<size_t>(data[pos + 1]) << 8 | data[pos + 2];
  record.bytes = data + pos + FUZZ_RECORD_HEADER;
  record.size = std::min(length, size - pos - FUZZ_RECORD_HEADER);
  pos += FUZZ_RECORD_HEADER + record.size;
  return true;
}

inline void AppendFuzzRecord(Bytes& out, uint8_t control, const Bytes& packet) {
  out.push_back(control);
  out.push_back(static_cast<uint8_t>(packet.size() >> 8));
  out.push_back(static_cast<uint8_t>(packet.size()));
  out.insert(out.end(), packet.begin(), packet.end());
}

// The room target's cast, which seeds address by name: the hosting room's
// participant, and the guest room's, which joins right after. The host's
// replication ids follow from that order: its participant, its subject
// object, then the guest's participant.
constexpr const char16_t* FUZZ_HOST_NAME = u"Debater1";
constexpr const char16_t* FUZZ_HOST_ADDRESS = u"10.0.0.1";
constexpr const char16_t* FUZZ_GUEST_NAME = u"Debater2";
constexpr const char16_t* FUZZ_GUEST_ADDRESS = u"10.0.0.2";
constexpr int32_t FUZZ_HOST_PARTICIPANT_ID = 1;
constexpr int32_t FUZZ_SUBJECT_ID = 2;
constexpr int32_t FUZZ_GUEST_PARTICIPANT_ID = 3;
