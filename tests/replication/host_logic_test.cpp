// The host's relay, id bookkeeping and drop rules, driven over the in-memory
// transport: recording links under its peers, scripted network events.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/error.h"
#include "replication/replication.h"
#include "tests/replication/memory_transport.h"

namespace {

class HostLogic : public testing::Test {
 protected:
  void SetUp() override {
    host = NewReplicationHost();
    a = AddRecordedPeer(*host);
    b = AddRecordedPeer(*host);
  }
  void Feed(const TRecordedPeer& from, int32_t state, int32_t id, Bytes data = {}) {
    FeedRaw(from, FrameMsg(state, id, data));
  }
  void FeedRaw(const TRecordedPeer& from, const Bytes& packet) {
    host->ReceivePacket(from.peer, packet.data(), packet.size());
  }
  int64_t Dropped(TDropReason reason) const { return DropCount(host, reason); }
  static Bytes Sent(int32_t state, int32_t id, Bytes data = {}) { return FrameMsg(state, id, data); }

  TGNetHostRef host;
  TRecordedPeer a, b;
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
  EXPECT_EQ(b.Sent(), (std::vector<Bytes>{Sent(1, 2, {0x60, 0x00, 0x01, 0x78}), Sent(2, 2, {0x81, 0x02}),
                                         Sent(3, 2)}));
  EXPECT_TRUE(a.Sent().empty());
  EXPECT_EQ(replica->State(), OBJ_CLOSED);
  EXPECT_EQ(host->ObjectsModified().size(), 1u);
  EXPECT_EQ(host->ObjectsClosed().size(), 1u);
  EXPECT_EQ(host->ObjectWithId(2), nullptr);
  EXPECT_EQ(a.peer->LocalId(7), 0);
  EXPECT_EQ(local->State(), OBJ_CREATED);
  EXPECT_EQ(host->Drops().Total(), 0);
}

TEST_F(HostLogic, ABroadcastIsFramedOnceForEveryReceiver) {
  auto c = AddRecordedPeer(*host);
  auto obj = NewReplicatedObject(host);
  SetSlotInt(obj, 0, 1);
  SyncReplication(host);
  ASSERT_EQ(a.Sent(), std::vector<Bytes>{Sent(1, 1, {0x80, 0x01})});
  EXPECT_EQ(b.Sent(), a.Sent());
  EXPECT_EQ(c.Sent(), a.Sent());
  EXPECT_EQ(a.record->packetsMade + b.record->packetsMade + c.record->packetsMade, 1);
}

TEST_F(HostLogic, UpdatesAndClosesForIdsTheSenderDoesNotMapAreIgnored) {
  auto local = NewReplicatedObject(host);          // id 1
  Feed(b, OBJ_CREATED, 1, {0x80, 0x05});           // b's replica: id 2
  Feed(a, OBJ_MODIFIED, 1, {0x80, 0x63});          // would hit `local`
  Feed(a, OBJ_MODIFIED, 2, {0x80, 0x63});          // would hit b's replica
  Feed(a, OBJ_CLOSED, 2);
  EXPECT_EQ(Dropped(TDropReason::UpdateOfUnmappedId), 2);
  EXPECT_EQ(Dropped(TDropReason::CloseOfUnmappedId), 1);
  EXPECT_EQ(GetSlotInt(host->ObjectWithId(2), 0), 5);
  EXPECT_EQ(host->ObjectWithId(2)->State(), OBJ_CREATED);
  EXPECT_EQ(local->_modified, 0u);
  EXPECT_EQ(b.Sent().size(), 0u);
  EXPECT_EQ(a.Sent().size(), 1u);  // only the relayed creation
}

TEST_F(HostLogic, ALostPeerClosesOnlyObjectsThatStillHoldTheirIds) {
  // Regression: a close that arrived earlier in the same sync freed the id for
  // another peer's creation; the disconnection must not unmap or close that.
  auto c = AddRecordedPeer(*host);
  Feed(a, OBJ_CREATED, 4);  // id 1
  Feed(a, OBJ_CREATED, 5);  // id 2
  // Ids go round: use up the rest, so that the next one is 1 again.
  for (int32_t id = 3; id <= GNET_MAX_ID; ++id) NewReplicatedObject(host);
  Feed(a, OBJ_CLOSED, 4);   // frees id 1
  Feed(b, OBJ_CREATED, 9);  // takes id 1
  host->DropPeer(a.peer);
  ASSERT_NE(host->ObjectWithId(1), nullptr);
  EXPECT_EQ(host->ObjectWithId(1)->_peer, b.peer);
  EXPECT_EQ(host->ObjectWithId(2), nullptr);
  EXPECT_EQ(host->ObjectsClosed().size(), 2u);  // each of a's objects once
  EXPECT_EQ(c.Sent(), (std::vector<Bytes>{Sent(1, 1), Sent(1, 2), Sent(3, 1), Sent(1, 1), Sent(3, 2)}));
  EXPECT_EQ(host->Peers().size(), 2u);
  EXPECT_FALSE(a.record->disconnectRequested);  // the transport ended it already
}

TEST_F(HostLogic, ALostPeerAlsoClosesReplicasOnlyThisProcessClosed) {
  // Regression: such replicas kept their ids forever and lived on at the other guests.
  Feed(a, OBJ_CREATED, 4);
  CloseReplicatedObject(host->ObjectWithId(1));
  SyncReplication(host);
  EXPECT_TRUE(ReplicatedObjects(host, OBJ_ALL).empty());
  Feed(a, OBJ_MODIFIED, 4, {0x80, 0x01});  // still reaches it
  host->DropPeer(a.peer);
  EXPECT_EQ(b.Sent().back(), Sent(3, 1));
  EXPECT_EQ(host->ObjectWithId(1), nullptr);
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
  EXPECT_EQ(a.Sent(), (std::vector<Bytes>{Sent(5, 7, {0x80, 0x01})}));
  EXPECT_EQ(Dropped(TDropReason::AbsentAddressee), 1);

  // Sending leaves the list being iterated untouched; local addressees get nothing.
  auto note = NewMessageObject(host);
  SetSlotInt(note, 0, 3);
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL)) SendMessageObject(note, obj);
  EXPECT_EQ(a.Sent().back(), Sent(5, 7, {0x80, 0x03}));
  EXPECT_EQ(a.Sent().size(), 2u);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_ALL).size(), 2u);
  EXPECT_EQ(MessageAddressee(note), nullptr);
}

TEST_F(HostLogic, MessagesForADepartedObjectReachNobodyElse) {
  // Regression: a freed id went to the next newcomer at once, so a line still
  // on its way to a guest that had left reached the newcomer instead (a gap
  // in that sender's lines there once the sender learnt of the departure
  // before the arrival); and a line sent to every listed participant while
  // the closed replica was still listed reached the newcomer twice.
  Feed(a, OBJ_CREATED, 10);  // id 1
  auto gone = host->ObjectWithId(1);
  Feed(a, OBJ_CLOSED, 10);   // frees id 1
  Feed(a, OBJ_CREATED, 11);
  auto newcomer = host->ObjectsCreated().back();
  ASSERT_NE(newcomer->_id, gone->_id);
  ASSERT_EQ(ReplicatedObjects(host, OBJ_ALL).size(), 2u);
  a.record->sent.clear();
  Feed(b, OBJ_MESSAGE, gone->_id, {0x80, 0x01});  // b has not heard of the close yet
  EXPECT_EQ(Dropped(TDropReason::AbsentAddressee), 1);
  auto line = NewMessageObject(host);
  SetSlotInt(line, 0, 3);
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL)) SendMessageObject(line, obj);
  EXPECT_EQ(a.Sent(), (std::vector<Bytes>{Sent(5, 11, {0x80, 0x03})}));
}

TEST_F(HostLogic, CreationsWithoutAFreeIdOrRepeatedAreDroppedWhole) {
  // Regression: a creation with no free id raised out of Sync and ended the process.
  Feed(a, OBJ_CREATED, 1);
  Feed(a, OBJ_CREATED, 1);
  Feed(a, OBJ_CREATED, 0);
  EXPECT_EQ(Dropped(TDropReason::RepeatedCreation), 1);
  EXPECT_EQ(Dropped(TDropReason::CreationOfIdZero), 1);
  for (int32_t id = 2; id <= GNET_MAX_ID; ++id) Feed(a, OBJ_CREATED, id);
  EXPECT_EQ(host->Objects().size(), 4095u);
  size_t relayed = b.Sent().size();
  Feed(b, OBJ_CREATED, 1, {0x80, 0x01});
  EXPECT_EQ(Dropped(TDropReason::NoFreeId), 1);
  EXPECT_EQ(b.Sent().size(), relayed);
  EXPECT_EQ(a.Sent().size(), 0u);
  try {
    NewReplicatedObject(host);
    FAIL();
  } catch (const TRuntimeError& e) {
    EXPECT_STREQ(e.what(), "Out of GNet object IDs");
  }
}

TEST_F(HostLogic, EachRefusalIsCountedUnderItsOwnReasonAndNothingElseHappens) {
  struct TCase {
    TDropReason reason;
    Bytes packet;  // from a, after a created its object 5 (our id 1)
  };
  Bytes tooLong(GNET_HEADER_SIZE + GNET_MAX_DATA + 1, 0x80);
  tooLong[0] = 0x10;
  const TCase cases[] = {
      {TDropReason::TooShort, {0x10}},
      {TDropReason::TooLong, tooLong},
      {TDropReason::UnknownState, {0x40, 0x05}},
      {TDropReason::InvalidSlotType, {0x20, 0x05, 0xE0}},
      {TDropReason::Truncated, {0x20, 0x05, 0x21, 0x00}},
      {TDropReason::CreationOfIdZero, FrameMsg(OBJ_CREATED, 0, {})},
      {TDropReason::RepeatedCreation, FrameMsg(OBJ_CREATED, 5, {})},
      {TDropReason::UpdateOfUnmappedId, FrameMsg(OBJ_MODIFIED, 6, {0x80, 0x01})},
      {TDropReason::CloseOfUnmappedId, FrameMsg(OBJ_CLOSED, 6, {})},
      {TDropReason::AbsentAddressee, FrameMsg(OBJ_MESSAGE, 9, {0x80, 0x01})},
  };
  for (const auto& [reason, packet] : cases) {
    SCOPED_TRACE(DropReasonName(reason));
    SetUp();
    Feed(a, OBJ_CREATED, 5, {0x80, 0x07});
    SyncReplication(host);
    b.record->sent.clear();
    FeedRaw(a, packet);
    EXPECT_EQ(Dropped(reason), 1);
    EXPECT_EQ(host->Drops().Total(), 1);
    EXPECT_TRUE(a.Sent().empty() && b.Sent().empty());
    EXPECT_EQ(host->Objects().size(), 1u);
    EXPECT_EQ(GetSlotInt(host->ObjectWithId(1), 0), 7);
    EXPECT_TRUE(ReceivedMessages(host).empty());
  }
}

TEST_F(HostLogic, SendsToAConnectionGoingAwayAreSkippedAndCounted) {
  auto mine = NewReplicatedObject(host);
  SyncReplication(host);
  Feed(a, OBJ_CREATED, 3);  // our id 2
  b.record->connected = false;
  a.record->sent.clear();
  b.record->sent.clear();
  SetSlotInt(mine, 0, 1);
  SyncReplication(host);                                   // broadcast
  SendMessageObject(NewMessageObject(host), host->ObjectWithId(2));  // to a: sent
  a.record->connected = false;
  SendMessageObject(NewMessageObject(host), host->ObjectWithId(2));  // to a: skipped
  EXPECT_EQ(a.Sent().size(), 2u);
  EXPECT_TRUE(b.Sent().empty());
  EXPECT_EQ(Dropped(TDropReason::SendToDepartingPeer), 2);
}

TEST_F(HostLogic, AReplicaGrownPastOneMessageIsNotAnnouncedToANewcomer) {
  // Two updates, each with one string of 32768 characters, in slots 0 and 1.
  Bytes half{0x60, 0x80, 0x00};
  half.resize(half.size() + 0x8000, 'x');
  Feed(a, OBJ_CREATED, 3);
  Feed(a, OBJ_MODIFIED, 3, half);
  half[0] = 0x61;
  Feed(a, OBJ_MODIFIED, 3, half);
  ASSERT_EQ(GetSlotString(host->ObjectWithId(1), 1).size(), 0x8000u);
  auto c = AddRecordedPeer(*host);
  EXPECT_TRUE(c.Sent().empty());
  EXPECT_EQ(Dropped(TDropReason::OversizedReplica), 1);
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
  auto c = AddRecordedPeer(*host);
  EXPECT_EQ(c.Sent(), (std::vector<Bytes>{Sent(1, 1), Sent(1, 2, {0x80, 0x01, 0x81, 0x02}),
                                         Sent(1, 5, {0x80, 0x04})}));
}

TEST_F(HostLogic, CreationAndUpdateInOneSyncShowModifiedInBothLists) {
  Feed(a, OBJ_CREATED, 3, {0x80, 0x04});
  Feed(a, OBJ_MODIFIED, 3, {0x80, 0x05});
  auto replica = host->ObjectWithId(1);
  EXPECT_EQ(ObjectState(replica), OBJ_MODIFIED);
  EXPECT_EQ(ReplicatedObjects(host, OBJ_CREATED), TGNetObjectList{replica});
  EXPECT_EQ(ReplicatedObjects(host, OBJ_MODIFIED), TGNetObjectList{replica});
  SyncReplication(host);
  EXPECT_EQ(ObjectState(replica), OBJ_SYNCED);
  EXPECT_TRUE(ReplicatedObjects(host, OBJ_CREATED).empty());
}

namespace {

// Packed slot 0 holding `text` (ASCII).
Bytes Slot0(const std::string& text) {
  Bytes data(3 + text.size());
  data[0] = 0x60;
  data[2] = static_cast<uint8_t>(text.size());
  std::copy(text.begin(), text.end(), data.begin() + 3);
  return data;
}

// Rules by slot 0: "no" is forbidden, "slow" too fast, "alter" becomes
// "altered"; records what it was asked and told.
struct TTableGuard : TGNetGuard {
  std::vector<std::string> judged, connections;
  void PeerConnected(int32_t peer, const TNetAddress& address) override {
    connections.push_back("+" + std::to_string(peer) + "@" + ToBytes(AddressText(address.ip)));
  }
  void PeerDisconnected(int32_t peer) override { connections.push_back("-" + std::to_string(peer)); }
  TGuardRuling Judge(TGNetArrival& a) override {
    static const char* const kinds[] = {"create", "update", "close", "message"};
    judged.push_back(std::string(kinds[static_cast<int>(a.kind)]) + " " + std::to_string(a.peer) +
                     " " + std::to_string(a.id) + " " + ToBytes(a.slots[0]._string));
    if (a.slots[0]._string == u"no") return TGuardRuling::Refused(TDropReason::Forbidden);
    if (a.slots[0]._string == u"slow") return TGuardRuling::Refused(TDropReason::TooFast);
    if (a.slots[0]._string != u"alter") return TGuardRuling::Accepted();
    a.slots[0].SetString(u"altered");
    return TGuardRuling::Altered();
  }
};

}  // namespace

TEST_F(HostLogic, AGuardRulesOnEachArrivalBeforeItIsAppliedOrRelayed) {
  auto guard = std::make_shared<TTableGuard>();
  GuardReplication(host, guard);
  auto mine = NewReplicatedObject(host);          // id 1
  Feed(a, OBJ_CREATED, 7, Slot0("no"));           // no replica, nothing relayed
  Feed(a, OBJ_CREATED, 8, Slot0("alter"));        // id 2, altered everywhere
  auto replica = host->ObjectWithId(2);
  ASSERT_NE(replica, nullptr);
  Feed(a, OBJ_MODIFIED, 8, Slot0("no"));
  Feed(b, OBJ_MESSAGE, 2, Slot0("slow"));         // not forwarded to a
  Feed(b, OBJ_MESSAGE, 1, Slot0("yes"));          // ours, with its sender
  Feed(a, OBJ_CLOSED, 8);
  EXPECT_EQ(GetSlotString(replica, 0), u"altered");
  EXPECT_EQ(ObjectState(replica), OBJ_CLOSED);
  EXPECT_EQ(b.Sent(), (std::vector<Bytes>{Sent(1, 2, Slot0("altered")), Sent(3, 2)}));
  EXPECT_TRUE(a.Sent().empty());
  ASSERT_EQ(ReceivedMessages(host).size(), 1u);
  EXPECT_EQ(MessageSender(ReceivedMessages(host)[0]), b.peer->Id());
  EXPECT_EQ(ObjectConnection(replica), a.peer->Id());
  EXPECT_EQ(ObjectConnection(mine), 0);
  EXPECT_EQ(Dropped(TDropReason::Forbidden), 2);
  EXPECT_EQ(Dropped(TDropReason::TooFast), 1);
  const std::string ida = std::to_string(a.peer->Id()), idb = std::to_string(b.peer->Id());
  EXPECT_EQ(guard->judged, (std::vector<std::string>{
                               "create " + ida + " 2 no", "create " + ida + " 2 alter",
                               "update " + ida + " 2 no", "message " + idb + " 2 slow",
                               "message " + idb + " 1 yes", "close " + ida + " 2 "}));
}

TEST_F(HostLogic, AnEndedConnectionsObjectsCloseEverywhereAndItsSlotIsFreeAtOnce) {
  auto guard = std::make_shared<TTableGuard>();
  GuardReplication(host, guard);
  auto c = AddRecordedPeer(*host, 0x0a000005);
  Feed(c, OBJ_CREATED, 4, Slot0("x"));  // id 1
  EXPECT_EQ(ObjectAddress(host->ObjectWithId(1)), u"10.0.0.5");
  a.record->sent.clear();
  int32_t id = c.peer->Id();
  EXPECT_EQ(EndConnection(host, id), 1);
  EXPECT_TRUE(c.record->endedNow);
  EXPECT_EQ(a.Sent(), std::vector<Bytes>{Sent(3, 1)});
  EXPECT_EQ(ReplicatedObjects(host, OBJ_CLOSED).size(), 1u);
  EXPECT_EQ(host->Peers().size(), 2u);
  EXPECT_EQ(EndConnection(host, id), 0);
  EXPECT_EQ(guard->connections, (std::vector<std::string>{"+" + std::to_string(id) + "@10.0.0.5",
                                                          "-" + std::to_string(id)}));
}

TEST(HostEvents, OneSyncHandlesABoundedShareAndSaysMoreIsWaiting) {
  // Regression: a flood of packets kept one sync going, and the host's window froze.
  auto host = NewReplicationHost();
  auto events = std::make_shared<std::deque<TNetEvent>>();
  ASSERT_TRUE(host->UseEndpoint(std::make_unique<TScriptedEndpoint>(events)));
  auto a = AddRecordedPeer(*host);
  constexpr int64_t kFlood = 10000;
  for (int64_t i = 0; i < kFlood; ++i)
    events->push_back(ReceivedEvent(a.peer->Connection(), FrameMsg(OBJ_MESSAGE, 99, {})));
  SyncReplication(host);
  EXPECT_LT(DropCount(host, TDropReason::AbsentAddressee), kFlood);
  EXPECT_EQ(ReplicationBacklog(host), 1);
  for (int64_t syncs = 0; syncs < kFlood && ReplicationBacklog(host); ++syncs) SyncReplication(host);
  EXPECT_EQ(DropCount(host, TDropReason::AbsentAddressee), kFlood);
  EXPECT_EQ(ReplicationBacklog(host), 0);
}

TEST(HostEvents, SyncHandlesTheNetworkEventsInOrder) {
  auto host = NewReplicationHost();
  auto events = std::make_shared<std::deque<TNetEvent>>();
  ASSERT_TRUE(host->UseEndpoint(std::make_unique<TScriptedEndpoint>(events)));
  EXPECT_FALSE(host->UseEndpoint(std::make_unique<TScriptedEndpoint>(events)));
  auto record = std::make_shared<TLinkRecord>();
  TNetEvent connected;
  connected.kind = TNetEvent::TKind::Connected;
  connected.link = std::make_unique<TRecordingLink>(record);
  TConnectionId guest{record.get(), 0}, gone{record.get(), 1};
  events->push_back(std::move(connected));
  events->push_back(ReceivedEvent(guest, FrameMsg(OBJ_CREATED, 4, {0x80, 0x01})));
  events->push_back(ReceivedEvent(gone, FrameMsg(OBJ_CREATED, 5, {})));  // a reused handle
  SyncReplication(host);
  ASSERT_EQ(host->Peers().size(), 1u);
  EXPECT_EQ(host->Objects().size(), 1u);
  EXPECT_EQ(DropCount(host, TDropReason::StaleConnection), 1);

  TNetEvent disconnected;
  disconnected.kind = TNetEvent::TKind::Disconnected;
  disconnected.connection = guest;
  events->push_back(std::move(disconnected));
  events->push_back(TNetEvent{});  // the network failed: counted, not raised
  SyncReplication(host);
  EXPECT_TRUE(host->Peers().empty());
  EXPECT_EQ(ReplicatedObjects(host, OBJ_CLOSED).size(), 1u);
  EXPECT_EQ(DropCount(host, TDropReason::NetworkFailure), 1);
  EXPECT_EQ(ReplicationFailing(host), 1);
  SyncReplication(host);
  EXPECT_EQ(ReplicationFailing(host), 0);

  events->push_back(ReceivedEvent(guest, FrameMsg(OBJ_CREATED, 6, {})));
  CloseReplicationHost(host);
  EXPECT_EQ(DropCount(host, TDropReason::ArrivedWhileClosing), 1);
  EXPECT_EQ(host->PendingEvents(), 0u);
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
  EXPECT_EQ(NewReplicatedObject(host)->_id, 3);  // a freed id waits its turn
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
