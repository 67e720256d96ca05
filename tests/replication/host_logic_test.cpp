// The host's relay and id bookkeeping, driven without a network: peers made
// without an ENet handle keep the packets they would have sent.
#include <gtest/gtest.h>

#include "core/error.h"
#include "replication/replication.h"

namespace {

using Bytes = std::vector<uint8_t>;

class HostLogic : public testing::Test {
 protected:
  void SetUp() override {
    host = NewReplicationHost();
    a = host->AddPeer(nullptr);
    b = host->AddPeer(nullptr);
  }
  void Feed(const TGNetPeerRef& from, int32_t state, int32_t id, Bytes data = {}) {
    Bytes packet = FrameMsg(state, id, data);
    host->ReceivePacket(from, packet.data(), packet.size());
  }
  static Bytes Sent(int32_t state, int32_t id, Bytes data = {}) { return FrameMsg(state, id, data); }

  TGNetHostRef host;
  TGNetPeerRef a, b;
};

}  // namespace

TEST_F(HostLogic, RelaysCreationUpdateAndCloseWithIdsInItsOwnNumbering) {
  auto local = NewReplicatedObject(host);  // takes id 1
  Feed(a, OBJ_CREATED, 7, {0x60, 0x00, 0x01, 0x78});
  ASSERT_EQ(host->ObjectsCreated().size(), 1u);
  auto replica = host->ObjectsCreated()[0];
  EXPECT_EQ(replica->_id, 2);
  EXPECT_EQ(ObjectIsRemote(replica), 1);
  EXPECT_EQ(GetSlotString(replica, 0), u"x");
  Feed(a, OBJ_MODIFIED, 7, {0x81, 0x02});
  Feed(a, OBJ_CLOSED, 7);
  EXPECT_EQ(b->_sent, (std::vector<Bytes>{Sent(1, 2, {0x60, 0x00, 0x01, 0x78}), Sent(2, 2, {0x81, 0x02}),
                                         Sent(3, 2)}));
  EXPECT_TRUE(a->_sent.empty());
  EXPECT_EQ(replica->State(), OBJ_CLOSED);
  EXPECT_EQ(host->ObjectsModified().size(), 1u);
  EXPECT_EQ(host->ObjectsClosed().size(), 1u);
  EXPECT_EQ(host->_idMap[2], nullptr);
  EXPECT_EQ(a->_remoteToLocal[7], 0);
  EXPECT_EQ(local->State(), OBJ_CREATED);
}

TEST_F(HostLogic, UpdatesAndClosesForIdsTheSenderDoesNotMapAreIgnored) {
  auto local = NewReplicatedObject(host);          // id 1
  Feed(b, OBJ_CREATED, 1, {0x80, 0x05});           // b's replica: id 2
  Feed(a, OBJ_MODIFIED, 1, {0x80, 0x63});          // would hit `local`
  Feed(a, OBJ_MODIFIED, 2, {0x80, 0x63});          // would hit b's replica
  Feed(a, OBJ_CLOSED, 2);
  EXPECT_EQ(host->_ignoredPackets, 3);
  EXPECT_EQ(GetSlotInt(host->_idMap[2], 0), 5);
  EXPECT_EQ(host->_idMap[2]->State(), OBJ_CREATED);
  EXPECT_EQ(local->_modified, 0u);
  EXPECT_EQ(b->_sent.size(), 0u);
  EXPECT_EQ(a->_sent.size(), 1u);  // only the relayed creation
}

TEST_F(HostLogic, ALostPeerClosesOnlyObjectsThatStillHoldTheirIds) {
  // Regression: a close that arrived earlier in the same sync freed the id for
  // another peer's creation; the disconnection must not unmap or close that.
  auto c = host->AddPeer(nullptr);
  Feed(a, OBJ_CREATED, 4);  // id 1
  Feed(a, OBJ_CREATED, 5);  // id 2
  Feed(a, OBJ_CLOSED, 4);   // frees id 1
  Feed(b, OBJ_CREATED, 9);  // takes id 1
  host->DropPeer(a);
  ASSERT_NE(host->_idMap[1], nullptr);
  EXPECT_EQ(host->_idMap[1]->_peer, b);
  EXPECT_EQ(host->_idMap[2], nullptr);
  EXPECT_EQ(host->ObjectsClosed().size(), 2u);  // each of a's objects once
  EXPECT_EQ(c->_sent, (std::vector<Bytes>{Sent(1, 1), Sent(1, 2), Sent(3, 1), Sent(1, 1), Sent(3, 2)}));
  EXPECT_EQ(host->Peers().size(), 2u);
}

TEST_F(HostLogic, ALostPeerAlsoClosesReplicasOnlyThisProcessClosed) {
  // Regression: such replicas kept their ids forever and lived on at the other guests.
  Feed(a, OBJ_CREATED, 4);
  CloseReplicatedObject(host->_idMap[1]);
  SyncReplication(host);
  EXPECT_TRUE(ReplicatedObjects(host, OBJ_ALL).empty());
  Feed(a, OBJ_MODIFIED, 4, {0x80, 0x01});  // still reaches it
  host->DropPeer(a);
  EXPECT_EQ(b->_sent.back(), Sent(3, 1));
  EXPECT_EQ(host->_idMap[1], nullptr);
}

TEST_F(HostLogic, MessagesGoToTheOwnerOfTheirAddressee) {
  auto mine = NewReplicatedObject(host);  // id 1
  Feed(a, OBJ_CREATED, 7);                // id 2
  Feed(b, OBJ_MESSAGE, 1, {0x60, 0x00, 0x02, 0x68, 0x69});
  Feed(b, OBJ_MESSAGE, 2, {0x80, 0x01});
  Feed(b, OBJ_MESSAGE, 99, {0x80, 0x01});
  ASSERT_EQ(ReceivedMessages(host).size(), 1u);
  auto msg = ReceivedMessages(host)[0];
  EXPECT_EQ(ObjectState(msg), OBJ_MESSAGE);
  EXPECT_EQ(MessageAddressee(msg), mine);
  EXPECT_EQ(GetSlotString(msg, 0), u"hi");
  EXPECT_EQ(a->_sent, (std::vector<Bytes>{Sent(5, 7, {0x80, 0x01})}));
  EXPECT_EQ(host->_ignoredPackets, 1);

  // Sending leaves the list being iterated untouched; local addressees get nothing.
  auto note = NewMessageObject(host);
  SetSlotInt(note, 0, 3);
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL)) SendMessageObject(note, obj);
  EXPECT_EQ(a->_sent.back(), Sent(5, 7, {0x80, 0x03}));
  EXPECT_EQ(a->_sent.size(), 2u);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_ALL).size(), 2u);
  EXPECT_EQ(MessageAddressee(note), nullptr);
}

TEST_F(HostLogic, AMessageToAClosedReplicaDoesNotReachTheObjectThatTookItsId) {
  // Regression: a guest's close and a newcomer's creation in one sync gave the
  // newcomer the closed replica's id; until the next sync the closed one is
  // still listed, and a chat line sent to every listed participant reached
  // the newcomer twice (a kick meant for the one gone would hit the newcomer).
  Feed(a, OBJ_CREATED, 10);  // id 1
  auto gone = host->_idMap[1];
  Feed(a, OBJ_CLOSED, 10);   // frees id 1
  Feed(a, OBJ_CREATED, 11);  // takes id 1
  auto newcomer = host->_idMap[1];
  ASSERT_NE(newcomer, gone);
  ASSERT_EQ(ReplicatedObjects(host, OBJ_ALL).size(), 2u);
  a->_sent.clear();
  auto line = NewMessageObject(host);
  SetSlotInt(line, 0, 3);
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL)) SendMessageObject(line, obj);
  EXPECT_EQ(a->_sent, (std::vector<Bytes>{Sent(5, 11, {0x80, 0x03})}));
}

TEST_F(HostLogic, CreationsWithoutAFreeIdOrRepeatedAreDroppedWhole) {
  // Regression: a creation with no free id raised out of Sync and ended the process.
  Feed(a, OBJ_CREATED, 1);
  Feed(a, OBJ_CREATED, 1);
  Feed(a, OBJ_CREATED, 0);
  EXPECT_EQ(host->_droppedPackets, 2);
  for (int32_t id = 2; id <= GNET_MAX_ID; ++id) Feed(a, OBJ_CREATED, id);
  EXPECT_EQ(host->Objects().size(), 4095u);
  size_t relayed = b->_sent.size();
  Feed(b, OBJ_CREATED, 1, {0x80, 0x01});
  EXPECT_EQ(host->_droppedPackets, 3);
  EXPECT_EQ(b->_sent.size(), relayed);
  EXPECT_EQ(a->_sent.size(), 0u);
  try {
    NewReplicatedObject(host);
    FAIL();
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Out of GNet object IDs");
  }
}

TEST_F(HostLogic, ANewcomerHearsOfSyncedModifiedAndJustArrivedObjects) {
  // Regression: a replica created earlier in the same sync never reached a newcomer.
  auto synced = NewReplicatedObject(host);
  auto modified = NewReplicatedObject(host);
  auto closing = NewReplicatedObject(host);
  SetSlotInt(modified, 1, 2);
  SyncReplication(host);
  SetSlotInt(modified, 0, 1);
  CloseReplicatedObject(closing);
  auto fresh = NewReplicatedObject(host);  // goes to everyone at the next sync
  Feed(a, OBJ_CREATED, 3, {0x80, 0x04});   // arrived in this sync: id 5
  auto c = host->AddPeer(nullptr);
  EXPECT_EQ(c->_sent, (std::vector<Bytes>{Sent(1, 1), Sent(1, 2, {0x80, 0x01, 0x81, 0x02}),
                                         Sent(1, 5, {0x80, 0x04})}));
}

TEST_F(HostLogic, CreationAndUpdateInOneSyncShowModifiedInBothLists) {
  Feed(a, OBJ_CREATED, 3, {0x80, 0x04});
  Feed(a, OBJ_MODIFIED, 3, {0x80, 0x05});
  auto replica = host->_idMap[1];
  EXPECT_EQ(ObjectState(replica), OBJ_MODIFIED);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_CREATED), TGNetObjectList{replica});
  EXPECT_EQ(ReplicatedObjects(host, OBJ_MODIFIED), TGNetObjectList{replica});
  SyncReplication(host);
  EXPECT_EQ(ObjectState(replica), OBJ_SYNCED);
  EXPECT_TRUE(ReplicatedObjects(host, OBJ_CREATED).empty());
}

TEST(IdleHost, SyncAdvancesLocalStatesAndSendsNothing) {
  auto host = NewReplicationHost();
  auto created = NewReplicatedObject(host);
  auto closed = NewReplicatedObject(host);
  SyncReplication(host);
  SetSlotString(created, 0, u"a");
  CloseReplicatedObject(closed);
  EXPECT_EQ(ObjectState(created), OBJ_MODIFIED);
  SyncReplication(host);
  EXPECT_EQ(ObjectState(created), OBJ_SYNCED);
  EXPECT_EQ(ObjectState(closed), OBJ_DEAD);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_ALL), TGNetObjectList{created});
  EXPECT_EQ(NewReplicatedObject(host)->_id, 2);  // the freed id is reused
  try {
    ReplicatedObjects(host, 4);
    FAIL();
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Unknown object state");
  }
  EXPECT_THROW(CloseReplicatedObject(NewMessageObject(host)), TRuntimeError);
  EXPECT_THROW(ObjectState(nullptr), TRuntimeError);
  CloseReplicationHost(host);
  CloseReplicationHost(host);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_ALL).size(), 2u);
  EXPECT_EQ(ListenReplication(host, 0), 0);
}
