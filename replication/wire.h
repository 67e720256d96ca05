// The wire format of the replication layer, as plain functions over bytes:
// packing slots, reading packed items back, validating a received packet and
// framing a message into one packet. Nothing here touches the network.
//
// Packed slots are a run of items in ascending slot order. Each item is a tag
// byte (type * 32 + index) and the payload of its type, big-endian. A packet
// is a 2-byte header word (state * 4096 + id) followed by packed slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "replication/slot.h"

// Packed slots of one message never exceed this many bytes.
constexpr size_t GNET_MAX_DATA = 65520;
constexpr size_t GNET_HEADER_SIZE = 2;
constexpr uint32_t GNET_ALL_SLOTS = 0xffffffffu;
// Ids run from 1 to GNET_MAX_ID; 0 means "no object".
constexpr int32_t GNET_MAX_ID = 4095;
constexpr int32_t GNET_ID_COUNT = GNET_MAX_ID + 1;

// One message as it travels: the object id, the state (1, 2, 3 or 5 on the
// wire) and the packed slots (empty when it carries none).
struct TGNetMsg {
  int32_t id = 0;
  int32_t state = 0;
  std::vector<uint8_t> data;
};

// IEEE 754 half precision bits to a single precision value; zeros of both
// signs, subnormals, infinities and NaN payloads are kept.
float HalfToFloat(uint16_t half);

// Bytes that the slots selected by `mask` pack into (slots of type 0 and of
// unknown codes count nothing).
size_t PackedSize(const TGNetSlot* slots, uint32_t mask);

// The slots of `slots[0..31]` selected by `mask`, packed into `out`, which
// ends up exactly as long as the packed bytes. They are written in place
// when they fit and the capacity of `out` is reused, so a caller that keeps
// `out` packs in one walk without allocating. Raises "GNet message data too
// large" when the result would exceed GNET_MAX_DATA and "Invalid GNet data
// type" for a selected slot of type 2 (only ever received) or a code outside
// 0..6, with the length of `out` unchanged (not its bytes).
void PackSlotArray(const TGNetSlot* slots, uint32_t mask, std::vector<uint8_t>& out);

// Each of `count` characters cut to its low 8 bits, and each of `count` bytes
// widened to a character: how strings travel. The ranges must not overlap.
void NarrowText(const char16_t* text, size_t count, uint8_t* out);
void WidenText(const uint8_t* bytes, size_t count, char16_t* out);

enum class TItemStatus { Ok, End, InvalidType, Truncated };

// Applies packed slots to `slots[0..31]` in order, as the slots' setters
// would (integers take their type from the value, every float becomes type
// 6), and sets in `written` the bit of each slot it writes. Returns End once
// every item is applied; InvalidType or Truncated at the first item that
// cannot be read, which is not applied (the ones before it are).
TItemStatus UnpackSlotArray(const uint8_t* data, size_t size, TGNetSlot* slots, uint32_t& written);

// Why a received packet is dropped, or Ok.
enum class TPacketVerdict { Ok, TooShort, TooLong, UnknownState, InvalidSlotType, Truncated };

// Whether packed slots read cleanly from start to end.
TPacketVerdict CheckSlotData(const uint8_t* data, size_t size);

// A received packet checked completely (length, state, every item) and, when
// Ok, decoded into `msg` (id as carried, untranslated). On any other verdict
// `msg` is left unchanged.
TPacketVerdict DecodePacket(const uint8_t* bytes, size_t size, TGNetMsg& msg);

// The 2-byte header word for `state` and `id` (id 0..4095, state 0..15).
void WriteHeader(int32_t state, int32_t id, uint8_t* out);

// Header plus `data` into `out`, which holds GNET_HEADER_SIZE + data.size().
void FrameMsg(int32_t state, int32_t id, const std::vector<uint8_t>& data, uint8_t* out);
std::vector<uint8_t> FrameMsg(int32_t state, int32_t id, const std::vector<uint8_t>& data);
