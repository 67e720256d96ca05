// Wire format: packing by value, framing, half precision, and what a
// received packet must look like to be accepted.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/error.h"
#include "replication/replication.h"

namespace {

using Bytes = std::vector<uint8_t>;

TGNetObjectRef NewObject(int32_t id = 5) { return TGNetObject::Create(id, OBJ_CREATED, nullptr, nullptr); }

Bytes FirstMessage(const TGNetObjectRef& obj) {
  auto msg = obj->Sync();
  return FrameMsg(msg->state, msg->id, msg->data);
}

Bytes PackOne(void (*set)(TGNetObject&)) {
  auto obj = NewObject();
  set(*obj);
  return obj->PackSlots(GNET_ALL_SLOTS);
}

uint32_t Bits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

}  // namespace

TEST(WireFormat, WorkedExampleWithInsertedIntAndAppendedFloat) {
  auto obj = NewObject(5);
  obj->SetString(0, u"abc");
  obj->SetInt(2, 7);
  EXPECT_EQ(FirstMessage(obj), (Bytes{0x10, 0x05, 0x60, 0x00, 0x03, 0x61, 0x62, 0x63, 0x82, 0x07}));

  auto more = NewObject(5);
  more->SetString(0, u"abc");
  more->SetInt(2, 7);
  more->SetInt(1, -2);
  more->SetFloat(3, 1.5f);
  EXPECT_EQ(FirstMessage(more), (Bytes{0x10, 0x05, 0x60, 0x00, 0x03, 0x61, 0x62, 0x63, 0x21, 0xFF,
                                       0xFF, 0xFF, 0xFE, 0x82, 0x07, 0xC3, 0x3F, 0xC0, 0x00, 0x00}));
}

TEST(WireFormat, IntegersTakeTheSmallestTypeByValue) {
  struct Case { int32_t value; int32_t type; Bytes bytes; };
  const Case cases[] = {
      {0, SLOT_UINT8, {0x80, 0x00}},          {255, SLOT_UINT8, {0x80, 0xFF}},
      {256, SLOT_UINT16, {0xA0, 0x01, 0x00}}, {65535, SLOT_UINT16, {0xA0, 0xFF, 0xFF}},
      {65536, SLOT_INT32, {0x20, 0x00, 0x01, 0x00, 0x00}},
      {-1, SLOT_INT32, {0x20, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    auto obj = NewObject();
    obj->SetInt(0, c.value);
    EXPECT_EQ(obj->_slots[0]._type, c.type) << c.value;
    EXPECT_EQ(obj->PackSlots(GNET_ALL_SLOTS), c.bytes) << c.value;
  }
}

TEST(WireFormat, StringsEmptyAndAboveLatin1) {
  EXPECT_EQ(PackOne([](TGNetObject& o) { o.SetString(7, u""); }), (Bytes{0x67, 0x00, 0x00}));
  auto wide = PackOne([](TGNetObject& o) { o.SetString(0, u"\u0141x"); });
  EXPECT_EQ(wide, (Bytes{0x60, 0x00, 0x02, 0x41, 0x78}));
  auto back = NewObject();
  back->UnpackSlots(wide);
  EXPECT_EQ(back->GetString(0), u"Ax");
}

TEST(WireFormat, EmptyMaskGivesATwoBytePacketAndEmptyDataChangesNothing) {
  auto obj = NewObject(300);
  obj->SetInt(0, 1);
  EXPECT_TRUE(obj->PackSlots(0).empty());
  EXPECT_EQ(FrameMsg(OBJ_CLOSED, 300, {}), (Bytes{0x31, 0x2C}));
  obj->_state = OBJ_SYNCED;
  obj->UnpackSlots(Bytes{});
  EXPECT_EQ(obj->State(), OBJ_SYNCED);
}

TEST(WireFormat, PackedSizeLimitIsExactAndLeavesTheObjectUnchanged) {
  auto obj = NewObject();
  obj->SetString(0, TString(65517, u'x'));  // 3 + 65517 = 65520
  EXPECT_EQ(obj->PackSlots(GNET_ALL_SLOTS).size(), 65520u);
  obj->SetString(0, TString(65518, u'x'));
  try {
    obj->Sync();
    FAIL() << "packing 65521 bytes succeeded";
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "GNet message data too large");
  }
  EXPECT_EQ(obj->State(), OBJ_CREATED);
  EXPECT_EQ(obj->_modified, 1u);
  EXPECT_EQ(obj->GetString(0).size(), 65518u);
}

TEST(WireFormat, InvalidTypeCodesRaiseWhenPacking) {
  auto obj = NewObject();
  obj->SetInt(0, 1);
  obj->_slots[0]._type = 7;
  EXPECT_THROW(obj->PackSlots(GNET_ALL_SLOTS), TRuntimeError);
  obj->_slots[0]._type = SLOT_FLOAT16;  // never produced by a setter
  EXPECT_THROW(obj->PackSlots(GNET_ALL_SLOTS), TRuntimeError);
}

TEST(WireFormat, HalfPrecisionDecoding) {
  EXPECT_EQ(Bits(HalfToFloat(0x0000)), 0x00000000u);
  EXPECT_EQ(Bits(HalfToFloat(0x8000)), 0x80000000u);
  EXPECT_EQ(HalfToFloat(0x3C00), 1.0f);
  EXPECT_EQ(HalfToFloat(0xC000), -2.0f);
  EXPECT_EQ(HalfToFloat(0x7BFF), 65504.0f);
  EXPECT_EQ(HalfToFloat(0x0001), std::ldexp(1.0f, -24));   // smallest subnormal
  EXPECT_EQ(HalfToFloat(0x03FF), std::ldexp(1023.0f, -24));  // largest subnormal
  EXPECT_EQ(HalfToFloat(0x8200), -std::ldexp(1.0f, -15));
  EXPECT_EQ(HalfToFloat(0x7C00), INFINITY);
  EXPECT_EQ(HalfToFloat(0xFC00), -INFINITY);
  EXPECT_TRUE(std::isnan(HalfToFloat(0x7E00)));
  EXPECT_TRUE(std::isnan(HalfToFloat(0xFC01)));

  auto obj = NewObject();  // a received half becomes a single float slot
  obj->UnpackSlots(Bytes{0x44, 0x3E, 0x00});
  EXPECT_EQ(obj->_slots[4]._type, SLOT_FLOAT32);
  EXPECT_EQ(obj->GetFloat(4), 1.5f);
}

TEST(WireFormat, UnpackingKeepsItemsBeforeABadOne) {
  auto obj = NewObject();
  try {
    obj->UnpackSlots(Bytes{0x80, 0x09, 0x61, 0x00, 0x05, 0x41});
    FAIL();
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Corrupt GNet message");
  }
  EXPECT_EQ(obj->GetInt(0), 9);
  EXPECT_TRUE(obj->GetString(1).empty());
  try {
    obj->UnpackSlots(Bytes{0x81, 0x04, 0xE2, 0x00});
    FAIL();
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Invalid GNet data type");
  }
  EXPECT_EQ(obj->GetInt(1), 4);
}

TEST(WireFormat, ReceivedIntegersAreRetypedByValue) {
  auto obj = NewObject();
  obj->UnpackSlots(Bytes{0x20, 0x00, 0x00, 0x01, 0x00});
  EXPECT_EQ(obj->_slots[0]._type, SLOT_UINT16);
  EXPECT_EQ(obj->PackSlots(GNET_ALL_SLOTS), (Bytes{0xA0, 0x01, 0x00}));
}

TEST(PacketCheck, AcceptsOnlyWholeWellFormedPackets) {
  TGNetMsg msg;
  const std::pair<Bytes, TPacketVerdict> cases[] = {
      {{0x10}, TPacketVerdict::TooShort},
      {{0x00, 0x01}, TPacketVerdict::UnknownState},
      {{0x40, 0x01}, TPacketVerdict::UnknownState},
      {{0xF0, 0x01}, TPacketVerdict::UnknownState},
      {{0x20, 0x01, 0x01}, TPacketVerdict::InvalidSlotType},
      {{0x20, 0x01, 0x80, 0x01, 0xF0}, TPacketVerdict::InvalidSlotType},
      {{0x20, 0x01, 0x21, 0x00, 0x00}, TPacketVerdict::Truncated},
      {{0x20, 0x01, 0x60, 0x00, 0x02, 0x41}, TPacketVerdict::Truncated},
      {{0x20, 0x01, 0x60, 0x00}, TPacketVerdict::Truncated},
  };
  for (const auto& [bytes, verdict] : cases) {
    EXPECT_EQ(DecodePacket(bytes.data(), bytes.size(), msg), verdict) << int(bytes[0]);
    EXPECT_EQ(msg.state, 0);
  }
  Bytes huge(GNET_HEADER_SIZE + GNET_MAX_DATA + 1, 0x80);
  huge[0] = 0x20;
  EXPECT_EQ(DecodePacket(huge.data(), huge.size(), msg), TPacketVerdict::TooLong);

  Bytes good{0x5F, 0xFF, 0x82, 0x07};
  ASSERT_EQ(DecodePacket(good.data(), good.size(), msg), TPacketVerdict::Ok);
  EXPECT_EQ(msg.state, OBJ_MESSAGE);
  EXPECT_EQ(msg.id, 4095);
  EXPECT_EQ(msg.data, (Bytes{0x82, 0x07}));
}
