// Sockets and line streams over real descriptors: socket pairs and TCP on
// 127.0.0.1.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "core/clock.h"
#include "lobby/resolve.h"
#include "lobby/stream.h"

namespace {

constexpr int32_t LOOPBACK = 0x7f000001;

// A stream over one end of a socket pair; the test writes and reads the other.
struct Pair {
  Pair() {
    int fds[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    stream = TSocketStream::Create(TSocket::Create(fds[0], 1), 1);
    peer = fds[1];
  }
  ~Pair() { ClosePeer(); }
  void Send(const std::string& bytes) {
    ASSERT_EQ(write(peer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::string Received() {
    std::string bytes(256, '\0');
    ssize_t n = read(peer, &bytes[0], bytes.size());
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
  }
  void ClosePeer() {
    if (peer >= 0) close(peer);
    peer = -1;
  }
  TSocketStreamRef stream;
  int peer = -1;
};

TSocketRef Listener(int backlog = 8) {
  TSocketRef listener = TSocket::CreateTCP();
  EXPECT_TRUE(listener && listener->Bind(LOOPBACK, 0) && listener->Listen(backlog));
  return listener;
}

}  // namespace

TEST(ReadLine, EndsAtLfZeroOrTheEndAndDropsEveryCr) {
  Pair pair;
  pair.Send(std::string("OK\r\nA\rB\nx\0y\n\xe9\xff\n", 15));
  EXPECT_EQ(pair.stream->ReadLine(), u"OK");
  EXPECT_EQ(pair.stream->ReadLine(), u"AB");
  EXPECT_EQ(pair.stream->ReadLine(), u"x");
  EXPECT_EQ(pair.stream->ReadLine(), u"y");
  EXPECT_EQ(pair.stream->ReadLine(), u"\u00e9\u00ff");
  pair.Send("tail");
  pair.ClosePeer();
  EXPECT_EQ(pair.stream->ReadLine(), u"tail");
  EXPECT_EQ(pair.stream->ReadLine(), u"");
}

TEST(WriteLine, LowBytesThenCrLf) {
  Pair pair;
  EXPECT_EQ(pair.stream->WriteLine(u"A\u0141\u00e9"), 1);
  EXPECT_EQ(pair.Received(), "A\x41\xe9\r\n");
}

TEST(SocketStreamEof, ClosesTheSocketOnceThePeerHasClosedAndAllWasRead) {
  Pair pair;
  pair.Send("x\n");
  EXPECT_EQ(pair.stream->Eof(), 0);  // bytes waiting
  EXPECT_EQ(pair.stream->ReadLine(), u"x");
  EXPECT_EQ(pair.stream->Eof(), 0);  // nothing to read, peer still there
  pair.ClosePeer();
  TSocketRef socket = pair.stream->Socket();
  EXPECT_EQ(pair.stream->Eof(), 1);
  EXPECT_EQ(socket->Socket(), -1);
  EXPECT_EQ(socket->RemotePort(), -1);
  EXPECT_EQ(pair.stream->Socket(), nullptr);
  EXPECT_EQ(pair.stream->Eof(), 1);
}

TEST(SocketStream, OverNoOrAnUnconnectedSocketWritesNothingAndEndsAtOnce) {
  TSocketStreamRef none = TSocketStream::Create(nullptr, 1);
  EXPECT_EQ(none->WriteLine(u"x"), 0);
  EXPECT_EQ(none->ReadLine(), u"");
  EXPECT_EQ(none->Eof(), 1);

  TSocketStreamRef unconnected = TSocketStream::Create(TSocket::CreateTCP(), 1);
  EXPECT_EQ(unconnected->WriteLine(u"GET"), 0);
  EXPECT_EQ(unconnected->ReadLine(), u"");
  EXPECT_EQ(unconnected->Eof(), 1);
}

TEST(SocketStream, ALineAtTheLimitIsCutAndEndsTheStream) {
  Pair pair;
  pair.stream->SetLineLimit(8);
  pair.Send("1234\r\n" + std::string(20, 'a') + "\nmore\n");
  EXPECT_EQ(pair.stream->ReadLine(), u"1234");
  EXPECT_EQ(pair.stream->LineCut(), 0);
  EXPECT_EQ(pair.stream->ReadLine(), u"aaaaaaaa");
  EXPECT_EQ(pair.stream->LineCut(), 1);
  EXPECT_EQ(pair.stream->Eof(), 1);
  EXPECT_EQ(pair.stream->ReadLine(), u"");
}

TEST(SocketStream, TheByteLimitEndsTheStreamWithoutATimeOut) {
  Pair pair;
  pair.stream->SetByteLimit(6);
  pair.Send("ab\ncdefgh\n");
  EXPECT_EQ(pair.stream->ReadLine(), u"ab");
  EXPECT_EQ(pair.stream->ReadLine(), u"cde");
  EXPECT_EQ(pair.stream->ReadLine(), u"");
  EXPECT_EQ(pair.stream->Eof(), 1);
  EXPECT_EQ(pair.stream->TimedOut(), 0);
}

TEST(SocketStream, ASilentPeerEndsTheStreamAfterTheReadWait) {
  Pair pair;
  pair.stream->SetReadTimeouts(100, MilliSecs() + 60000);
  pair.Send("a\n");
  EXPECT_EQ(pair.stream->ReadLine(), u"a");
  EXPECT_EQ(pair.stream->TimedOut(), 0);
  int32_t start = MilliSecs();
  EXPECT_EQ(pair.stream->ReadLine(), u"");
  EXPECT_GE(MilliSecs() - start, 95);  // millisecond readings
  EXPECT_EQ(pair.stream->TimedOut(), 1);
  EXPECT_EQ(pair.stream->Eof(), 1);
}

TEST(SocketStream, ReadingStopsAtTheDeadlineHoweverFastBytesCome) {
  Pair pair;
  pair.stream->SetReadTimeouts(5000, MilliSecs() - 1);
  pair.Send("waiting\n");
  EXPECT_EQ(pair.stream->ReadLine(), u"");
  EXPECT_EQ(pair.stream->TimedOut(), 1);
}

TEST(Socket, ConnectAcceptAndNamesOverLoopback) {
  TSocketRef listener = Listener();
  ASSERT_TRUE(listener);
  EXPECT_EQ(listener->LocalIp(), LOOPBACK);
  EXPECT_EQ(listener->Accept(10), nullptr);  // nobody there
  TSocketRef client = TSocket::CreateTCP();
  ASSERT_EQ(client->Connect(LOOPBACK, listener->LocalPort(), 2000), 1);
  EXPECT_EQ(client->RemoteIp(), LOOPBACK);
  EXPECT_EQ(client->RemotePort(), listener->LocalPort());
  TSocketRef served = listener->Accept(2000);
  ASSERT_TRUE(served);
  EXPECT_EQ(served->RemotePort(), client->LocalPort());
  EXPECT_EQ(client->Connected(), 1);
  EXPECT_EQ(served->SetTCPNoDelay(1), 1);
  EXPECT_EQ(served->Send("hi", 2, 0), 2);
  EXPECT_EQ(client->WaitReadable(2000), 1);
  EXPECT_EQ(client->ReadAvail(), 2);
  served->Close();
  char buffer[4];
  EXPECT_EQ(client->Recv(buffer, 4, 0), 2);
  EXPECT_EQ(client->WaitReadable(2000), 1);
  EXPECT_EQ(client->Connected(), 0);  // peer gone: closed on the spot
  EXPECT_EQ(client->Socket(), -1);
  EXPECT_EQ(client->Send("x", 1, 0), 0);
}

TEST(Socket, ARefusedConnectFailsAndAFullBacklogTimesOut) {
  TSocketRef closed = Listener();
  int port = closed->LocalPort();
  closed->Close();
  EXPECT_EQ(TSocket::CreateTCP()->Connect(LOOPBACK, port, 2000), 0);
  EXPECT_EQ(TSocket::CreateTCP()->Connect(LOOPBACK, port), 0);

  // A listener that never accepts, with its queue full: SYNs go unanswered.
  TSocketRef stuck = Listener(0);
  std::vector<TSocketRef> queued;
  bool timedOut = false;
  for (int i = 0; i < 8 && !timedOut; ++i) {
    TSocketRef client = TSocket::CreateTCP();
    int32_t start = MilliSecs();
    if (client->Connect(LOOPBACK, stuck->LocalPort(), 300) == 0) {
      timedOut = true;
      EXPECT_GE(MilliSecs() - start, 290);  // millisecond readings
    }
    queued.push_back(client);
  }
  EXPECT_TRUE(timedOut);
}

TEST(ResolveFirstIp, DottedAddressesAndLocalhost) {
  EXPECT_EQ(ResolveFirstIp("127.0.0.1", 1000), LOOPBACK);
  EXPECT_EQ(ResolveFirstIp("10.1.2.3", 0), 0x0a010203);
  EXPECT_EQ(ResolveFirstIp("localhost", 5000), LOOPBACK);
  EXPECT_EQ(ResolveFirstIp("", 1000), 0);
  EXPECT_EQ(ResolveFirstIp("no-such-host.invalid", 5000), 0);
  EXPECT_EQ(HostIp("127.0.0.1", 1), 0);
  EXPECT_EQ(HostIp("127.0.0.1", -1), 0);
  EXPECT_EQ(DottedIp(LOOPBACK), "127.0.0.1");
}

TEST(ResolveFirstIp, AHangingResolverCostsTheWaitAndOneThread) {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::atomic<int> calls{0};
  TResolver hanging = [&](const std::string&) {
    ++calls;
    std::unique_lock<std::mutex> lock(mutex);
    released.wait(lock, [&] { return release; });
    return std::vector<int32_t>{0x01020304, 0x05060708};
  };
  int32_t start = MilliSecs();
  EXPECT_EQ(ResolveFirstIp("hangs.test", 100, hanging), 0);
  EXPECT_GE(MilliSecs() - start, 95);  // millisecond readings
  EXPECT_EQ(ResolveFirstIp("hangs.test", 50, hanging), 0);
  EXPECT_EQ(calls.load(), 1);  // the second call waited for the first lookup
  {
    std::lock_guard<std::mutex> lock(mutex);
    release = true;
  }
  released.notify_all();
  EXPECT_EQ(ResolveFirstIp("hangs.test", 5000, hanging), 0x01020304);
  // A finished lookup is not kept: the next call asks again.
  int before = calls.load();
  EXPECT_EQ(ResolveFirstIp("hangs.test", 5000, hanging), 0x01020304);
  EXPECT_EQ(calls.load(), before + 1);
}
