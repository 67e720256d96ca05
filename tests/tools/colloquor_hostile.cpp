// colloquor-hostile: a guest that breaks the room's rules, for the attack
// tests against a real hosting program. It speaks the protocol as
// colloquor-bot does, and runs one attack:
//
//   kick       an "ORDER" "KICK" to --target's participant
//   lock       a "MSG" with the lock bit to every participant
//   forge      a line "<--target>*: ..." to every participant, as if from the host
//   pose       a second participant claiming "HOST" (closed after a second), a
//              "SUBJECT", and its own role changed to "HOST"
//   copy       its participant reports --target's address
//   rejoin     after its kick (a ban), joins again reporting another address
//   objects    --count objects at once, then keeps its connection
//   long       --count objects and lines with 65,000-character strings
//   flood      --rate lines a second for --seconds
//   idle       --count connections that never publish a participant
//   halfopen   --rate connection attempts a second for --seconds, each from an
//              address of its own in 127.0.0.0/8 and never completed
//   stay       ignores its kick and stays connected
//
// then says "<name>: after <attack>" as a guest may, and reports on stdout,
// one event a line (<ms>: CLOCK_MONOTONIC ms):
//   READY <ms>             connected and published (idle, halfopen: started)
//   KICK <ms>              a "KICK" order reached it
//   HOSTLOST <ms> <n>      the host's participant closed: connection n ended
//   MSG <ms> <style> <escaped text>
//   FIGURE <name> <value>  what the attack achieved, as it saw it
//   SENT <ms> <n>          halfopen: n attempts so far (every 256)
//   DONE <ms>
// Ends after --exit-after seconds (default 30) or on SIGTERM. Status 0, or 1
// for usage and a failed first connection.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <poll.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "replication/replication.h"
#include "tests/tools/bot_lines.h"

namespace {

constexpr int SLOT_ROLE = 0, SLOT_NAME = 1, SLOT_SIDE = 2, SLOT_ADDRESS = 3, SLOT_AGE = 4;
constexpr int SLOT_TEXT = 1, SLOT_STYLE = 2;
constexpr int32_t MSG_LOCK = 2, MSG_STAMP = 4;
constexpr size_t kLongString = 65000;

volatile sig_atomic_t stopSignal = 0;

void OnStop(int sig) { stopSignal = sig; }

long long NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct TOptions {
  std::string attack, host = "127.0.0.1", bind, name = "Mallory", address = "198.18.0.66";
  std::string target;
  int port = 42000;
  long long count = 1, rate = 1000, seconds = 5, exitAfter = 30;
};

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i], value = argv[i + 1];
    long long number = std::atoll(value.c_str());
    if (key == "--attack") o.attack = value;
    else if (key == "--host") o.host = value;
    else if (key == "--bind") o.bind = value;
    else if (key == "--name") o.name = value;
    else if (key == "--address") o.address = value;
    else if (key == "--target") o.target = value;
    else if (key == "--port") o.port = static_cast<int>(number);
    else if (key == "--count") o.count = number;
    else if (key == "--rate") o.rate = std::max(1LL, number);
    else if (key == "--seconds") o.seconds = number;
    else if (key == "--exit-after") o.exitAfter = number;
    else return false;
  }
  return argc % 2 == 1 && !o.attack.empty();
}

uint32_t Ip(const std::string& text) {
  uint32_t ip = 0;
  ResolveIPv4(FromBytes(text), ip);
  return ip;
}

// One connection to the host and what it publishes there.
class TGuest {
 public:
  TGuest(const TOptions& o, int number) : o_(o), number_(number) {}

  bool Connect() { return Adopt(Open(o_)); }
  // Open may run on any thread; Adopt on this one.
  static TGNetConnectionRef Open(const TOptions& o) {
    return OpenConnection(Ip(o.host), o.port, 5000, nullptr, Ip(o.bind));
  }
  bool Adopt(const TGNetConnectionRef& connection) {
    host_ = NewReplicationHost();
    return AdoptConnection(host_, connection) == 1;
  }
  TGNetObjectRef Publish(const TString& role, const TString& name, const TString& address) {
    TGNetObjectRef obj = NewReplicatedObject(host_);
    SetSlotString(obj, SLOT_ROLE, role);
    SetSlotString(obj, SLOT_NAME, name);
    SetSlotInt(obj, SLOT_SIDE, -1);
    SetSlotString(obj, SLOT_ADDRESS, address);
    SetSlotInt(obj, SLOT_AGE, 1);
    SyncReplication(host_);
    return obj;
  }
  // Serves the host; reports orders, lines and the end of the connection.
  void Serve() {
    SyncReplication(host_);
    for (const TGNetObjectRef& msg : ReceivedMessages(host_)) {
      if (GetSlotString(msg, 0) == u"ORDER" && GetSlotString(msg, SLOT_TEXT) == u"KICK") {
        kicked_ = true;
        std::printf("KICK %lld\n", NowMs());
      } else if (GetSlotString(msg, 0) == u"MSG") {
        std::printf("MSG %lld %d %s\n", NowMs(), GetSlotInt(msg, SLOT_STYLE),
                    EscapeText(ToBytes(GetSlotString(msg, SLOT_TEXT))).c_str());
      }
    }
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_CLOSED))
      if (GetSlotString(obj, SLOT_ROLE) == u"HOST" && !lost_) {
        lost_ = true;
        std::printf("HOSTLOST %lld %d\n", NowMs(), number_);
      }
  }
  // The participant named `name`, once known.
  TGNetObjectRef Find(const std::string& name) const {
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_ALL))
      if (ObjectIsRemote(obj) && ToBytes(GetSlotString(obj, SLOT_NAME)) == name) return obj;
    return nullptr;
  }
  TGNetObjectRef FindRole(const TString& role) const {
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_ALL))
      if (ObjectIsRemote(obj) && GetSlotString(obj, SLOT_ROLE) == role) return obj;
    return nullptr;
  }
  // One message with these slots to every participant, as a guest's line goes.
  void SendToAll(const TString& kind, const TString& text, int32_t style) {
    TGNetObjectRef msg = NewMessageObject(host_);
    SetSlotString(msg, 0, kind);
    SetSlotString(msg, SLOT_TEXT, text);
    SetSlotInt(msg, SLOT_STYLE, style);
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_ALL)) {
      TString role = GetSlotString(obj, SLOT_ROLE);
      if (role == u"HOST" || role == u"GUEST" || role == u"DEV") SendMessageObject(msg, obj);
    }
  }
  void Leave() { CloseReplicationHost(host_); }

  const TGNetHostRef& host() const { return host_; }
  bool kicked() const { return kicked_; }
  bool lost() const { return lost_; }

 private:
  const TOptions& o_;
  int number_;
  TGNetHostRef host_;
  bool kicked_ = false, lost_ = false;
};

class TAttack {
 public:
  explicit TAttack(const TOptions& o) : o_(o), deadline_(NowMs() + o.exitAfter * 1000) {}

  int Run() {
    if (o_.attack == "halfopen") return HalfOpen();
    if (o_.attack == "idle") return Idle();
    guests_.push_back(std::make_unique<TGuest>(o_, 1));
    TGuest& me = *guests_.back();
    if (!me.Connect()) return Failed();
    TString address = FromBytes(o_.address);
    if (o_.attack == "copy") {
      TGNetObjectRef target = WaitFor(me, o_.target);
      if (target) address = GetSlotString(target, SLOT_ADDRESS);
    }
    self_ = me.Publish(u"GUEST", FromBytes(o_.name), address);
    // The room's objects come in over the first syncs; the attack addresses them.
    ServeUntil([&] { return me.FindRole(u"HOST") != nullptr; });
    std::printf("READY %lld\n", NowMs());
    Strike(me);
    // A line of the allowed form after the attack: once a guest has it, the
    // attack has reached it too (one channel, in order).
    guests_.back()->SendToAll(u"MSG", FromBytes(o_.name + ": after " + o_.attack), -1);
    SyncReplication(guests_.back()->host());
    std::printf("DONE %lld\n", NowMs());
    ServeUntil([] { return false; });
    return 0;
  }

 private:
  int Failed() {
    std::printf("FAILED %lld connect\n", NowMs());
    return 1;
  }

  void Strike(TGuest& me) {
    const std::string& a = o_.attack;
    if (a == "kick") Kick(me);
    else if (a == "lock") me.SendToAll(u"MSG", u"** The room is closed ", MSG_LOCK | MSG_STAMP);
    else if (a == "forge") me.SendToAll(u"MSG", FromBytes(o_.target + "*: I concede"), -1);
    else if (a == "pose") Pose(me);
    else if (a == "rejoin") Rejoin();
    else if (a == "objects") Objects(me, TString(), o_.count);
    else if (a == "long") Long(me);
    else if (a == "flood") Flood(me);
    else if (a == "stay") Stay(me);
  }

  // Serves every connection until `done()` or the time is up.
  template <class F>
  bool ServeUntil(F done) {
    while (!stopSignal && NowMs() < deadline_) {
      for (auto& guest : guests_) guest->Serve();
      if (done()) return true;
      pollfd fd{ReplicationSocket(guests_.front()->host()), POLLIN, 0};
      poll(&fd, fd.fd >= 0 ? 1 : 0, 20);
    }
    return false;
  }

  TGNetObjectRef WaitFor(TGuest& me, const std::string& name) {
    TGNetObjectRef found;
    ServeUntil([&] { return (found = me.Find(name)) != nullptr; });
    return found;
  }

  void Kick(TGuest& me) {
    TGNetObjectRef target = WaitFor(me, o_.target);
    if (!target) return;
    TGNetObjectRef order = NewMessageObject(me.host());
    SetSlotString(order, 0, u"ORDER");
    SetSlotString(order, SLOT_TEXT, u"KICK");
    SendMessageObject(order, target);
    SyncReplication(me.host());
  }

  void Pose(TGuest& me) {
    TGNetObjectRef fake = me.Publish(u"HOST", FromBytes(o_.target), FromBytes(o_.address));
    TGNetObjectRef subject = NewReplicatedObject(me.host());
    SetSlotString(subject, 0, u"SUBJECT");
    SetSlotString(subject, 1, u"Pineapple belongs on pizza");
    SetSlotString(subject, 2, u"It does not");
    SetSlotString(self_, SLOT_ROLE, u"HOST");
    long long closeAt = NowMs() + 1000;
    ServeUntil([&] { return NowMs() >= closeAt; });
    CloseReplicatedObject(fake);
    SyncReplication(me.host());
  }

  void Rejoin() {
    if (!ServeUntil([&] { return guests_.back()->kicked(); })) return;
    // As the program does on a kick: leave, then come back as someone else.
    SetSlotString(self_, SLOT_ROLE, u"");
    CloseReplicatedObject(self_);
    SyncReplication(guests_.back()->host());
    guests_.back()->Leave();
    guests_.push_back(std::make_unique<TGuest>(o_, 2));
    TGuest& again = *guests_.back();
    if (!again.Connect()) return;
    self_ = again.Publish(u"GUEST", FromBytes(o_.name + "2"), u"198.18.0.99");
    long long back = NowMs();
    bool kicked = ServeUntil([&] { return again.kicked(); });
    std::printf("FIGURE rejoined_kicked_after_ms %lld\n", kicked ? NowMs() - back : -1);
  }

  void Objects(TGuest& me, const TString& text, long long count) {
    long long made = 0;
    try {
      for (; made < count; ++made) {
        TGNetObjectRef obj = NewReplicatedObject(me.host());
        SetSlotString(obj, 0, u"X");
        if (!text.empty()) SetSlotString(obj, 1, text);
      }
    } catch (const std::exception&) {  // out of ids here
    }
    SyncReplication(me.host());
    std::printf("FIGURE objects_sent %lld\n", made);
  }

  void Long(TGuest& me) {
    TString huge(kLongString, u'x');
    Objects(me, huge, o_.count);
    for (long long i = 0; i < o_.count; ++i) me.SendToAll(u"MSG", FromBytes(o_.name) + u": " + huge, -1);
    SyncReplication(me.host());
  }

  void Flood(TGuest& me) {
    long long start = NowMs(), end = start + o_.seconds * 1000, sent = 0;
    while (!stopSignal && NowMs() < end) {
      long long due = (NowMs() - start) * o_.rate / 1000;
      for (; sent < due; ++sent)
        me.SendToAll(u"MSG", FromBytes(o_.name + ": flood " + std::to_string(sent)), -1);
      me.Serve();
      pollfd fd{ReplicationSocket(me.host()), POLLIN, 0};
      poll(&fd, 1, 1);
    }
    std::printf("FIGURE lines_sent %lld\n", sent);
  }

  void Stay(TGuest& me) {
    if (!ServeUntil([&] { return me.kicked(); })) return;
    long long kicked = NowMs();
    bool gone = ServeUntil([&] { return me.lost(); });
    std::printf("FIGURE ended_after_kick_ms %lld\n", gone ? NowMs() - kicked : -1);
  }

  int Idle() {
    // All at once, as a host that refuses some leaves them to time out.
    long long start = NowMs();
    std::vector<std::future<TGNetConnectionRef>> opening;
    for (long long i = 0; i < o_.count; ++i)
      opening.push_back(std::async(std::launch::async, [this] { return TGuest::Open(o_); }));
    long long connected = 0;
    for (auto& attempt : opening) {
      guests_.push_back(std::make_unique<TGuest>(o_, static_cast<int>(++connected)));
      if (!guests_.back()->Adopt(attempt.get())) {
        guests_.pop_back();
        --connected;
      }
    }
    std::printf("FIGURE idle_connected %lld\n", connected);
    std::printf("READY %lld\n", NowMs());
    if (guests_.empty()) return 0;
    auto allLost = [&] {
      return std::all_of(guests_.begin(), guests_.end(), [](const auto& g) { return g->lost(); });
    };
    bool ended = ServeUntil(allLost);
    std::printf("FIGURE idle_all_ended_after_ms %lld\n", ended ? NowMs() - start : -1);
    std::printf("DONE %lld\n", NowMs());
    return 0;
  }

  // Attempts that send their first datagram and vanish, as forged ones do.
  int HalfOpen() {
    ENetAddress to{};
    to.host = htonl(Ip(o_.host));
    to.port = static_cast<enet_uint16>(o_.port);
    std::printf("READY %lld\n", NowMs());
    long long start = NowMs(), end = start + o_.seconds * 1000, sent = 0;
    while (!stopSignal && NowMs() < end) {
      for (long long due = (NowMs() - start) * o_.rate / 1000; sent < due; ++sent) {
        ENetAddress from{};
        from.host = htonl(0x7f010000 + static_cast<uint32_t>(sent % 0xfffe) + 1);  // 127.1.x.y
        ENetHost* attempt = enet_host_create(&from, 1, 1, 0, 0);
        if (!attempt) continue;
        enet_host_connect(attempt, &to, 1, 0);
        enet_host_flush(attempt);
        enet_host_destroy(attempt);
        if ((sent + 1) % 256 == 0) std::printf("SENT %lld %lld\n", NowMs(), sent + 1);
      }
      timespec pause{0, 2000000};
      nanosleep(&pause, nullptr);
    }
    std::printf("FIGURE attempts_sent %lld\nDONE %lld\n", sent, NowMs());
    return 0;
  }

  const TOptions& o_;
  long long deadline_;
  std::vector<std::unique_ptr<TGuest>> guests_;
  TGNetObjectRef self_;
};

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: colloquor-hostile --attack NAME [--host ADDR] [--port N] [--bind ADDR]\n"
                 "  [--name NAME] [--address TEXT] [--target NAME] [--count N] [--rate N]\n"
                 "  [--seconds S] [--exit-after S]\n");
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  signal(SIGTERM, OnStop);
  signal(SIGINT, OnStop);
  signal(SIGPIPE, SIG_IGN);
  InitReplication();
  return TAttack(options).Run();
}
