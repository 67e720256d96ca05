// The vectorised text conversions against a byte-at-a-time reference, and
// packing into a buffer the caller keeps.
#include <gtest/gtest.h>

#include "core/error.h"
#include "replication/replication.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;

}  // namespace

// Guards against vector loops that saturate instead of cutting, widen bytes
// from 0x80 up with their sign, or touch memory past either end.
TEST(TextBytes, NarrowAndWidenMatchByteAtATimeAtEveryLengthAndOffset) {
  const size_t lengths[] = {0, 1, 7, 15, 16, 17, 31, 32, 33, 47, 64, 65, 1000};
  for (size_t length : lengths) {
    for (size_t offset = 0; offset < 4; ++offset) {
      TString text(offset + length, u'\0');
      Bytes bytes(offset + length);
      for (size_t i = 0; i < length; ++i) {
        // Runs through 0..0x3ff: above 255, 0x80..0xff and 0x100 all occur.
        text[offset + i] = static_cast<char16_t>(i * 37 % 1024);
        bytes[offset + i] = static_cast<uint8_t>(i * 37);
      }
      Bytes narrowed(offset + length + 2, kGuard);
      NarrowText(text.data() + offset, length, narrowed.data() + offset + 1);
      TString widened(offset + length + 2, u'\x5A5A');
      WidenText(bytes.data() + offset, length, widened.data() + offset + 1);
      for (size_t i = 0; i < length; ++i) {
        ASSERT_EQ(narrowed[offset + 1 + i], text[offset + i] & 0xff) << length << "/" << offset << " at " << i;
        ASSERT_EQ(widened[offset + 1 + i], bytes[offset + i]) << length << "/" << offset << " at " << i;
      }
      EXPECT_EQ(narrowed[offset], kGuard);
      EXPECT_EQ(narrowed[offset + 1 + length], kGuard);
      EXPECT_EQ(widened[offset], u'\x5A5A');
      EXPECT_EQ(widened[offset + 1 + length], u'\x5A5A');
    }
  }
}

// Guards against a kept buffer keeping a stale tail, or a grown one keeping
// items written before it was known to be too short.
TEST(PackBuffer, AKeptBufferEndsUpAsANewOneWouldWhateverItHeldBefore) {
  auto big = TGNetObject::Create(1, OBJ_CREATED, nullptr, nullptr);
  big->SetString(0, TString(40, u'b'));
  big->SetInt(1, -5);
  big->SetString(2, TString(300, u'\u0163'));
  big->SetFloat(3, 2.5f);
  auto small = TGNetObject::Create(2, OBJ_CREATED, nullptr, nullptr);
  small->SetInt(0, 1000);
  small->SetString(3, u"x");

  Bytes kept;
  const std::pair<const TGNetObjectRef*, uint32_t> steps[] = {
      {&small, GNET_ALL_SLOTS}, {&big, GNET_ALL_SLOTS}, {&small, GNET_ALL_SLOTS},
      {&big, 0b1010u},          {&big, GNET_ALL_SLOTS}, {&small, 0},
  };
  for (const auto& [obj, mask] : steps) {
    (*obj)->PackSlots(mask, kept);
    EXPECT_EQ(kept, (*obj)->PackSlots(mask)) << (*obj)->_id << " mask " << mask;
  }

  big->PackSlots(GNET_ALL_SLOTS, kept);
  big->SetString(4, TString(GNET_MAX_DATA, u'z'));
  EXPECT_THROW(big->PackSlots(GNET_ALL_SLOTS, kept), TRuntimeError);
  EXPECT_EQ(kept.size(), PackedSize(big->_slots.data(), 0b1111u));
}
