// Hosts over real ENet on loopback: listening, connecting, time-outs, the
// relay of a star of guests, and the ends of connections, also when
// connecting and closing run off the host's thread.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "core/clock.h"
#include "core/error.h"
#include "tests/replication/net_support.h"

namespace {

// A UDP port that is bound but never answers.
class TSilentPort {
 public:
  TSilentPort() {
    _fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  ~TSilentPort() { close(_fd); }
  int port = 0;

 private:
  int _fd = -1;
};

TGNetObjectRef NewParticipant(const TGNetHostRef& host, const TString& role, const TString& name) {
  auto obj = NewReplicatedObject(host);
  SetSlotString(obj, 0, role);
  SetSlotString(obj, 1, name);
  SetSlotInt(obj, 2, 0);
  return obj;
}

// The descriptor of this process's UDP socket bound to `port`, or -1.
int SocketOfPort(int port) {
  for (int fd = 0; fd < 1024; ++fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    int type = 0;
    socklen_t typeSize = sizeof type;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
        address.sin_family == AF_INET && ntohs(address.sin_port) == port &&
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_DGRAM)
      return fd;
  }
  return -1;
}

std::string ErrorText(const std::function<void()>& body) {
  try {
    body();
  } catch (const TRuntimeError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Connection, SecondListenOrConnectFailsAndLeavesTheFirstWorking) {
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  ASSERT_NE(port, 0);
  EXPECT_EQ(ListenReplication(listener, port), 0);
  EXPECT_EQ(ConnectReplication(listener, u"127.0.0.1", port, 100), 0);
  EXPECT_EQ(ListenReplication(NewReplicationHost(), port), 0);  // port in use

  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, listener, port), 1);
  EXPECT_EQ(ConnectReplication(guest, u"127.0.0.1", port, 100), 0);
  EXPECT_EQ(ListenReplication(guest, 0), 0);

  auto obj = NewParticipant(guest, u"GUEST", u"ann");
  TPump pump({listener, guest});
  EXPECT_TRUE(pump.Until([&] { return FindBySlot(listener, 1, u"ann") != nullptr; }));
  EXPECT_EQ(listener->Peers().size(), 1u);
}

TEST(Connection, ConnectFailsAtItsTimeOutAndLeavesTheHostIdle) {
  TSilentPort silent;
  auto guest = NewReplicationHost();
  int32_t start = MilliSecs();
  EXPECT_EQ(ConnectReplication(guest, u"127.0.0.1", silent.port, 300), 0);
  EXPECT_GE(MilliSecs() - start, 300);
  EXPECT_EQ(guest->LocalPort(), 0);
  EXPECT_EQ(guest->PendingEvents(), 0u);
  EXPECT_EQ(ConnectReplication(guest, u"127.0.0.1", silent.port, 0), 0);
  // Decision: an address without an IPv4 address fails at once.
  EXPECT_EQ(ConnectReplication(guest, u"::1", silent.port, 60000), 0);
  EXPECT_EQ(ConnectReplication(guest, u"", silent.port, 60000), 0);
  EXPECT_GT(ListenOnFreePort(guest), 0);  // idle again
}

TEST(Connection, AListenerAcceptsAtMost32Guests) {
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  std::vector<TGNetHostRef> guests;
  for (int i = 0; i < 32; ++i) {
    guests.push_back(NewReplicationHost());
    ASSERT_EQ(ConnectPumped(guests.back(), listener, port), 1) << i;
  }
  EXPECT_EQ(ConnectPumped(NewReplicationHost(), listener, port, 300), 0);
}

TEST(Connection, OneAddressHoldsItsShareAndOthersStillGetIn) {
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  LimitConnectionsPerAddress(listener, 2);
  std::vector<TGNetHostRef> guests;
  for (int i = 0; i < 2; ++i) {
    guests.push_back(NewReplicationHost());
    ASSERT_EQ(ConnectPumped(guests.back(), listener, port), 1) << i;
  }
  EXPECT_EQ(ConnectPumped(NewReplicationHost(), listener, port, 300), 0);
  auto other = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(other, listener, port, 5000, 0x7f000002), 1);
  SetSlotInt(NewReplicatedObject(other), 0, 1);
  TPump pump({listener, other});
  ASSERT_TRUE(pump.Until([&] { return listener->Objects().size() == 1; }));
  EXPECT_EQ(ObjectAddress(listener->Objects()[0]), u"127.0.0.2");
}

TEST(Connection, TheLargestMessageTravels) {
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, listener, port), 1);
  auto big = NewReplicatedObject(guest);
  SetSlotString(big, 0, TString(65517, u'z'));
  TPump pump({listener, guest});
  ASSERT_TRUE(pump.Until([&] { return listener->Objects().size() == 1; }));
  EXPECT_EQ(GetSlotString(listener->Objects()[0], 0).size(), 65517u);

  SetSlotString(big, 0, TString(65518, u'z'));
  EXPECT_EQ(ErrorText([&] { SyncReplication(guest); }), "GNet message data too large");
  EXPECT_EQ(ObjectState(big), OBJ_MODIFIED);
}

TEST(Connection, AFailingServiceCallIsCountedAndRetriedAtTheNextSync) {
  // Regression: the failure ended the process ("GNet error", status 255).
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, listener, port), 1);
  NewParticipant(guest, u"GUEST", u"bo");
  // Every socket call fails while the socket is swapped for a non-socket;
  // no peer is to blame (its address is reachable), so all stay.
  int fd = SocketOfPort(guest->LocalPort());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReplicationSocket(guest), fd);
  int saved = dup(fd);
  int devNull = open("/dev/null", O_RDWR);
  dup2(devNull, fd);
  SyncReplication(guest);
  SyncReplication(guest);
  EXPECT_EQ(ReplicationFailing(guest), 1);
  EXPECT_EQ(DropCount(guest, TDropReason::NetworkFailure), 2);
  EXPECT_EQ(guest->Peers().size(), 1u);
  dup2(saved, fd);
  close(saved);
  close(devNull);
  TPump pump({listener, guest});
  EXPECT_TRUE(pump.Until([&] { return FindBySlot(listener, 1, u"bo") != nullptr; }));
  EXPECT_EQ(ReplicationFailing(guest), 0);
}

TEST(Connection, SendingToAPeerThatIsLeavingDoesNotRaise) {
  // Regression: ENet's refusal ("ENet errror") ended the process when a guest left.
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, listener, port), 1);
  auto own = NewParticipant(listener, u"HOST", u"h");
  NewParticipant(guest, u"GUEST", u"g");
  TPump pump({listener, guest});
  ASSERT_TRUE(pump.Until([&] { return FindBySlot(listener, 1, u"g") && FindBySlot(guest, 1, u"h"); }));
  auto replica = FindBySlot(listener, 1, u"g");
  auto peer = listener->Peers()[0];
  CloseReplicationHost(guest);
  // ENet has ended the connection; the listener has not handled that yet.
  ASSERT_TRUE(WaitUntil([&] { return listener->PendingEvents() > 0; }, 5000,
                        [&] { listener->PollNetwork(); }));
  auto note = NewMessageObject(listener);
  SetSlotString(note, 0, u"MSG");
  SendMessageObject(note, replica);
  SetSlotInt(own, 2, 1);
  SyncReplication(listener);
  EXPECT_EQ(DropCount(listener, TDropReason::SendToDepartingPeer), 2);
  EXPECT_EQ(ObjectState(replica), OBJ_CLOSED);
  EXPECT_TRUE(listener->Peers().empty());
}

TEST(Star, ObjectsMessagesAndDeparturesReachEveryProcess) {
  auto host = NewReplicationHost();
  int port = ListenOnFreePort(host);
  auto g1 = NewReplicationHost(), g2 = NewReplicationHost(), g3 = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(g1, host, port), 1);
  ASSERT_EQ(ConnectPumped(g2, host, port), 1);
  auto hostObj = NewParticipant(host, u"HOST", u"h");
  auto o1 = NewParticipant(g1, u"GUEST", u"one");
  auto o2 = NewParticipant(g2, u"GUEST", u"two");
  auto o2b = NewParticipant(g2, u"SUBJECT", u"two-b");
  TPump pump({host, g1, g2});
  auto seesAll = [&](const TGNetHostRef& h, size_t n) { return h->Objects().size() == n; };
  ASSERT_TRUE(pump.Until([&] { return seesAll(host, 4) && seesAll(g1, 4) && seesAll(g2, 4); }));

  // An update of one guest reaches the other through the host's numbering.
  SetSlotInt(o1, 2, -1);
  ASSERT_TRUE(pump.Until([&] { return GetSlotInt(FindBySlot(g2, 1, u"one"), 2) == -1; }));
  auto oneAtG2 = FindBySlot(g2, 1, u"one");
  EXPECT_TRUE(pump.Log(g2).Saw(pump.Log(g2).modified, oneAtG2));
  EXPECT_EQ(g2->Peers()[0]->RemoteId(oneAtG2->_id), FindBySlot(host, 1, u"one")->_id);

  // A newcomer hears of everything, other guests' objects included.
  SetSlotString(o2, 1, u"two!");
  ASSERT_EQ(ConnectPumped(g3, host, port), 1);
  pump.Add(g3);
  ASSERT_TRUE(pump.Until([&] { return seesAll(g3, 4) && FindBySlot(g3, 1, u"two!"); }));
  EXPECT_EQ(pump.Log(g3).created.size(), 4u);

  // Messages travel to the owner of their addressee only.
  auto note = NewMessageObject(g1);
  SetSlotString(note, 0, u"MSG");
  SetSlotString(note, 1, u"hello");
  SendMessageObject(note, FindBySlot(g1, 1, u"two!"));
  SendMessageObject(note, FindBySlot(g1, 1, u"h"));
  SendMessageObject(note, o1);
  ASSERT_TRUE(pump.Until([&] {
    return pump.Log(g2).messages.size() == 1 && pump.Log(host).messages.size() == 1;
  }));
  EXPECT_EQ(MessageAddressee(pump.Log(g2).messages[0]), o2);
  EXPECT_EQ(GetSlotString(pump.Log(g2).messages[0], 1), u"hello");
  EXPECT_EQ(MessageAddressee(pump.Log(host).messages[0]), hostObj);
  EXPECT_TRUE(pump.Log(g1).messages.empty() && pump.Log(g3).messages.empty());

  // A closed object and a departed guest's objects close everywhere.
  CloseReplicatedObject(o1);
  CloseReplicationHost(g2);
  pump.Remove(g2);
  ASSERT_TRUE(pump.Until([&] { return seesAll(host, 1) && seesAll(g1, 1) && seesAll(g3, 1); }));
  EXPECT_EQ(pump.Log(host).closed.size(), 3u);
  EXPECT_EQ(pump.Log(g3).closed.size(), 3u);
  EXPECT_EQ(host->Peers().size(), 2u);

  // The host's departure closes every replica on each guest.
  auto late = NewParticipant(g3, u"GUEST", u"three");
  ASSERT_TRUE(pump.Until([&] { return seesAll(g1, 2); }));
  CloseReplicationHost(host);
  pump.Remove(host);
  ASSERT_TRUE(pump.Until([&] { return seesAll(g1, 0) && g3->Objects() == TGNetObjectList{late}; }));
  EXPECT_TRUE(g1->Peers().empty() && g3->Peers().empty());
}

TEST(Connection, OpenedOffTheHostsThreadItIsAdoptedOrCalledOffWhenDropped) {
  constexpr uint32_t kLoopback = 0x7f000001;
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  TPump pump({listener});
  auto open = [&] {
    auto opening = std::async(std::launch::async, [port] { return OpenConnection(kLoopback, port, 5000); });
    pump.Until([&] { return opening.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return opening.get();
  };
  TGNetConnectionRef connection = open();
  ASSERT_NE(connection, nullptr);
  auto guest = NewReplicationHost();
  ASSERT_EQ(AdoptConnection(guest, connection), 1);
  EXPECT_EQ(AdoptConnection(NewReplicationHost(), connection), 0);  // already taken
  NewParticipant(guest, u"GUEST", u"adopted");
  pump.Add(guest);
  EXPECT_TRUE(pump.Until([&] { return FindBySlot(listener, 1, u"adopted") != nullptr; }));

  // Dropped unadopted, a connection is ended at once, not left to time out.
  TGNetConnectionRef unwanted = open();
  ASSERT_TRUE(pump.Until([&] { return listener->Peers().size() == 2; }));
  unwanted.reset();
  EXPECT_TRUE(pump.Until([&] { return listener->Peers().size() == 1; }));

  TSilentPort silent;
  int32_t start = MilliSecs();
  EXPECT_EQ(OpenConnection(kLoopback, silent.port, 60000, [] { return true; }), nullptr);
  EXPECT_LT(MilliSecs() - start, 30000);  // the stop request ended the wait
}

TEST(Closing, ALaterCloseSendsTheLastWordsFromAnotherThreadThenFreesThePort) {
  auto listener = NewReplicationHost();
  int port = ListenOnFreePort(listener);
  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, listener, port), 1);
  NewParticipant(listener, u"HOST", u"last words");
  SyncReplication(listener);
  TGNetClosingRef closing = CloseReplicationHostLater(listener);
  EXPECT_TRUE(listener->Peers().empty());  // closed at once
  EXPECT_EQ(ListenReplication(NewReplicationHost(), port), 0);  // until finished
  std::thread finishing([closing] { FinishClosing(closing, GNET_CLOSE_WAIT_MS); });
  // The guest is served as a room serves it, seldom: without the wait for its
  // acknowledgement, the object and the disconnect would reach it in one
  // pass, and the object would be lost.
  TPump pump({guest});
  for (int i = 0; i < 50 && pump.Log(guest).closed.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pump.Step();
  }
  finishing.join();
  EXPECT_EQ(pump.Log(guest).created.size(), 1u);  // arrived before the host left
  EXPECT_EQ(pump.Log(guest).closed.size(), 1u);
  auto again = NewReplicationHost();
  ASSERT_EQ(ListenReplication(again, port), 1);

  // Cut short while a guest that is never served holds back its acknowledgements.
  auto silentGuest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(silentGuest, again, port), 1);
  NewParticipant(again, u"HOST", u"unheard");
  SyncReplication(again);
  int32_t start = MilliSecs();
  FinishClosing(CloseReplicationHostLater(again), 60000, [] { return true; });
  EXPECT_LT(MilliSecs() - start, 30000);
  EXPECT_EQ(ListenReplication(NewReplicationHost(), port), 1);
}
