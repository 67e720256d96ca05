// The object state machine: writes, closes, synchronisations and updates.
#include <gtest/gtest.h>

#include "core/error.h"
#include "replication/peer.h"
#include "replication/replication.h"

namespace {

TGNetObjectRef ObjectIn(int32_t state, bool remote = false) {
  auto peer = remote ? TGNetPeer::Create(nullptr) : nullptr;
  return TGNetObject::Create(9, state, nullptr, peer);
}

void ExpectIllegalClose(const TGNetObjectRef& obj) {
  try {
    obj->Close();
    FAIL() << "closing state " << obj->State() << " succeeded";
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Illegal object state");
  }
}

}  // namespace

TEST(ObjectState, WritingMarksTheSlotAndOnlyASyncedObjectBecomesModified) {
  for (int32_t state : {OBJ_CREATED, OBJ_MODIFIED, OBJ_CLOSED, OBJ_SYNCED, OBJ_MESSAGE}) {
    auto obj = ObjectIn(state);
    obj->SetInt(3, 0);
    EXPECT_EQ(obj->_modified, 8u);
    EXPECT_EQ(obj->State(), state == OBJ_SYNCED ? OBJ_MODIFIED : state);
  }
}

TEST(ObjectState, CloseTransitions) {
  const std::pair<int32_t, int32_t> legal[] = {{OBJ_CREATED, OBJ_DEAD},
                                               {OBJ_MODIFIED, OBJ_CLOSED},
                                               {OBJ_SYNCED, OBJ_CLOSED},
                                               {OBJ_CLOSED, OBJ_CLOSED}};
  for (auto [from, to] : legal) {
    auto obj = ObjectIn(from);
    obj->Close();
    EXPECT_EQ(obj->State(), to) << from;
  }
  ExpectIllegalClose(ObjectIn(OBJ_MESSAGE));
  ExpectIllegalClose(ObjectIn(OBJ_DEAD));
  auto early = ObjectIn(OBJ_CREATED);  // closed before its first sync
  early->Close();
  EXPECT_FALSE(early->Sync());
  ExpectIllegalClose(early);
}

TEST(ObjectState, SyncSendsTheOldStateWithTheWrittenSlotsOnly) {
  auto obj = ObjectIn(OBJ_CREATED);
  obj->SetInt(0, 1);
  obj->SetString(2, u"x");
  auto first = obj->Sync();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->state, OBJ_CREATED);
  EXPECT_EQ(first->data.size(), 6u);
  EXPECT_EQ(obj->State(), OBJ_SYNCED);
  EXPECT_EQ(obj->_modified, 0u);
  EXPECT_FALSE(obj->Sync());

  obj->SetInt(0, 1);  // an equal value is still sent
  auto second = obj->Sync();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->state, OBJ_MODIFIED);
  EXPECT_EQ(second->data, (std::vector<uint8_t>{0x80, 0x01}));
}

TEST(ObjectState, ClosingSendsTheCloseThenReleasesTheTarget) {
  auto obj = ObjectIn(OBJ_SYNCED);
  auto target = std::make_shared<TObject>();
  obj->_target = target;
  obj->Close();
  obj->SetInt(1, 5);  // travels with the close
  auto msg = obj->Sync();
  ASSERT_TRUE(msg);
  EXPECT_EQ(msg->state, OBJ_CLOSED);
  EXPECT_EQ(msg->data, (std::vector<uint8_t>{0x81, 0x05}));
  EXPECT_EQ(obj->State(), OBJ_DEAD);
  EXPECT_EQ(obj->_target, nullptr);
  EXPECT_FALSE(obj->Sync());
}

TEST(ObjectState, ReplicasSendNothingAndTakeTheStateOfEachUpdate) {
  auto replica = ObjectIn(OBJ_CREATED, true);
  replica->SetInt(0, 3);
  EXPECT_FALSE(replica->Sync());
  EXPECT_EQ(replica->State(), OBJ_SYNCED);
  replica->Update(TGNetMsg{9, OBJ_MODIFIED, {0x80, 0x04}});
  EXPECT_EQ(replica->State(), OBJ_MODIFIED);
  EXPECT_EQ(replica->GetInt(0), 4);
  replica->Update(TGNetMsg{9, OBJ_CLOSED, {}});
  EXPECT_EQ(replica->State(), OBJ_CLOSED);
  EXPECT_FALSE(replica->Sync());
  EXPECT_EQ(replica->State(), OBJ_DEAD);
}

TEST(ObjectState, SlotFieldsAreIndependentAndIndicesAreChecked) {
  auto obj = ObjectIn(OBJ_CREATED);
  obj->SetInt(4, 12);
  obj->SetString(4, u"text");
  obj->SetFloat(4, 2.5f);
  EXPECT_EQ(obj->GetInt(4), 12);
  EXPECT_EQ(obj->GetString(4), u"text");
  EXPECT_EQ(obj->_slots[4]._type, SLOT_FLOAT32);
  EXPECT_EQ(obj->GetInt(5), 0);
  EXPECT_THROW(obj->SetInt(32, 1), TRuntimeError);
  EXPECT_THROW(obj->GetString(-1), TRuntimeError);
}
