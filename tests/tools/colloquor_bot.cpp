// colloquor-bot: a room guest at the protocol level, for load and churn
// tests of a real hosting program. It joins like the program's guest does
// (a "GUEST" participant object: name, side, address, age counted up every
// second), types chat lines as "MSG" messages to every participant object,
// follows "SIDE" and "KICK" orders, and reports on stdout, one event a line:
//
//   READY <ms> <name>                connected, participant object published
//   START <ms> <peers>               --start-after-peers participants seen;
//                                    the first line follows --first-after-ms
//   SENT <ms> <seq>                  typed "<name>: seq=<seq> t=<ms>"
//   DONE <ms> <count>                every line of --lines sent
//   RECV <ms> <sender> <seq> <latency-ms> <arrival>   a bot line arrived
//   MSG <ms> <style> <escaped text>  any other "MSG"
//   SIDE <ms> <side>                 a "SIDE" order, or the side taken again
//   KICK <ms>                        a "KICK" order: the bot leaves
//   JOIN <ms> <name> <role>          a participant object arrived
//   LEFT <ms> <name> <role>          one closed with its role set ("has left")
//   GONE <ms> <name>                 one closed with its role cleared (left
//                                    by its own action: no line in a room)
//   HOSTLOST <ms>                    the host's object closed: sending stops
//   SUBJECT <ms> <red>|<blue>        a subject object arrived
//   SUMMARY ... / SENDER ...         at the end
//
// <ms> is CLOCK_MONOTONIC in milliseconds, comparable between processes of
// one machine. Ends on SIGTERM or SIGINT (leaving cleanly, as the program
// does), after --exit-after seconds, or when kicked. Exit status: 0 clean
// end, 1 usage or no connection, 2 a replication error, 3 kicked, 4 the
// host was lost.
//
// Like the program, the bot serves its host as soon as its socket has
// something to read, right after typing a line, and once a second, and waits
// on its socket in between, so that arrival times measure the path through
// the host rather than its own polling. --sync-every-ms N serves it only
// every N ms instead, as the program once did at its 1 Hz tick (N = 1000):
// lines typed meanwhile leave at the next of those syncs.
#include <poll.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "replication/replication.h"
#include "tests/tools/bot_lines.h"

namespace {

constexpr int SLOT_ROLE = 0, SLOT_NAME = 1, SLOT_SIDE = 2, SLOT_ADDRESS = 3, SLOT_AGE = 4;
constexpr int SLOT_TEXT = 1, SLOT_STYLE = 2;

volatile sig_atomic_t stopSignal = 0;

void OnStop(int sig) { stopSignal = sig; }

int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int64_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);  // a stop signal cuts it short, as wanted
}

struct TOptions {
  std::string host = "127.0.0.1";
  std::string bind;  // the local address to connect from; empty: the system's choice
  int port = 42000;
  std::string name;
  std::string address;
  int32_t side = -1;
  int64_t lines = 0;
  int64_t intervalMs = 1000;
  int64_t startAfterPeers = 0;
  int64_t firstAfterMs = 0;
  int64_t exitAfterS = 600;
  int64_t syncEveryMs = 0;  // 0: whenever traffic arrives
  int32_t connectTimeoutMs = 10000;
  int32_t age = 0;
};

void Usage() {
  std::fprintf(stderr,
               "usage: colloquor-bot --name NAME --address TEXT [--host ADDR] [--bind ADDR]\n"
               "  [--port N]\n"
               "  [--side red|blue] [--lines N] [--interval-ms N] [--start-after-peers N]\n"
               "  [--first-after-ms N] [--exit-after S] [--sync-every-ms N] [--connect-timeout-ms N]\n"
               "  [--age N]\n");
}

bool ParseOptions(int argc, char** argv, TOptions& o) {
  for (int i = 1; i < argc; ++i) {
    std::string key = argv[i];
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    char* end = nullptr;
    long long number = std::strtoll(value.c_str(), &end, 10);
    bool numeric = end && *end == '\0' && !value.empty() && number >= 0;
    if (key == "--host") o.host = value;
    else if (key == "--bind") o.bind = value;
    else if (key == "--name") o.name = value;
    else if (key == "--address") o.address = value;
    else if (key == "--side" && (value == "red" || value == "blue"))
      o.side = value == "red" ? -1 : 1;
    else if (!numeric) return false;
    else if (key == "--port") o.port = static_cast<int>(number);
    else if (key == "--lines") o.lines = number;
    else if (key == "--interval-ms") o.intervalMs = number;
    else if (key == "--start-after-peers") o.startAfterPeers = number;
    else if (key == "--first-after-ms") o.firstAfterMs = number;
    else if (key == "--exit-after") o.exitAfterS = number;
    else if (key == "--sync-every-ms") o.syncEveryMs = number;
    else if (key == "--connect-timeout-ms") o.connectTimeoutMs = static_cast<int32_t>(number);
    else if (key == "--age") o.age = static_cast<int32_t>(number);
    else return false;
  }
  // The program's user names: at most 15 letters, digits and underscores.
  if (o.name.empty() || o.name.size() > 15) return false;
  for (char c : o.name)
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
  return o.intervalMs > 0;
}

bool IsParticipantRole(const TString& role) {
  return role == u"HOST" || role == u"GUEST" || role == u"DEV";
}

class TBot {
 public:
  explicit TBot(const TOptions& o) : o_(o) {}

  int Run() {
    host_ = NewReplicationHost();
    if (!Connect()) {
      std::printf("FAILED %lld connect %s:%d\n", Ms(), o_.host.c_str(), o_.port);
      return 1;
    }
    Publish();
    std::printf("READY %lld %s\n", Ms(), o_.name.c_str());
    int64_t began = NowMs();
    int64_t nextAge = began + 1000;
    int64_t nextSync = began + o_.syncEveryMs;
    int64_t deadline = began + o_.exitAfterS * 1000;
    while (!stopSignal && !kicked_ && NowMs() < deadline) {
      int64_t now = NowMs();
      if (now >= nextAge) {
        // The program's once-a-second tick counts the age up.
        nextAge += 1000;
        SetSlotInt(self_, SLOT_AGE, ++age_);
      }
      MaybeStart(now);
      MaybeSend(now);
      if (o_.syncEveryMs == 0 || now >= nextSync) {
        while (nextSync <= now) nextSync += std::max<int64_t>(o_.syncEveryMs, 1);
        Serve();
      }
      int64_t wake = std::min(nextAge, deadline);
      if (started_ && sent_ < o_.lines && !hostLost_) wake = std::min(wake, nextSend_);
      if (o_.syncEveryMs > 0) wake = std::min(wake, nextSync);
      WaitUntil(wake);
    }
    Leave();
    Summary();
    if (kicked_) return 3;
    return hostLost_ ? 4 : 0;
  }

 private:
  static long long Ms() { return static_cast<long long>(NowMs()); }

  // Like the program's guest, or from the --bind address: a room takes only
  // a few connections from one address, and many bots on one machine each
  // come from an address of their own (127.0.0.N).
  bool Connect() {
    uint32_t ip = 0, from = 0;
    if (o_.bind.empty())
      return ConnectReplication(host_, FromBytes(o_.host), o_.port, o_.connectTimeoutMs) == 1;
    if (!ResolveIPv4(FromBytes(o_.host), ip) || !ResolveIPv4(FromBytes(o_.bind), from)) return false;
    return AdoptConnection(host_, OpenConnection(ip, o_.port, o_.connectTimeoutMs, nullptr, from));
  }

  void Serve() {
    // What one sync leaves waiting is served at once.
    for (int syncs = 0; syncs == 0 || (ReplicationBacklog(host_) && syncs < 64); ++syncs) {
      SyncReplication(host_);
      HandleMessages();
      ScanObjects();
    }
  }

  // Until `wakeMs`, or (serving on traffic) until the socket has something
  // to read. A failing network may leave it readable: then just sleep.
  void WaitUntil(int64_t wakeMs) {
    int64_t ms = std::max<int64_t>(0, wakeMs - NowMs());
    int fd = ReplicationSocket(host_);
    if (o_.syncEveryMs > 0 || fd < 0 || ReplicationFailing(host_)) {
      SleepMs(ms);
      return;
    }
    pollfd traffic{fd, POLLIN, 0};
    poll(&traffic, 1, static_cast<int>(ms));  // a stop signal cuts it short
  }

  void Publish() {
    self_ = NewReplicatedObject(host_);
    age_ = o_.age;
    side_ = o_.side;
    SetSlotString(self_, SLOT_ROLE, u"GUEST");
    SetSlotString(self_, SLOT_NAME, FromBytes(o_.name));
    SetSlotInt(self_, SLOT_SIDE, side_);
    SetSlotString(self_, SLOT_ADDRESS, FromBytes(o_.address));
    SetSlotInt(self_, SLOT_AGE, age_);
    SyncReplication(host_);
  }

  int64_t Participants() const {
    int64_t count = 0;
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_ALL))
      if (ObjectIsRemote(obj) && ObjectState(obj) != OBJ_CLOSED &&
          IsParticipantRole(GetSlotString(obj, SLOT_ROLE)))
        ++count;
    return count;
  }

  void MaybeStart(int64_t now) {
    if (started_ || hostLost_) return;
    int64_t peers = Participants();
    if (peers < o_.startAfterPeers) return;
    started_ = true;
    nextSend_ = now + o_.firstAfterMs;
    std::printf("START %lld %lld\n", Ms(), static_cast<long long>(peers));
  }

  void MaybeSend(int64_t now) {
    if (!started_ || hostLost_ || sent_ >= o_.lines || now < nextSend_) return;
    nextSend_ += o_.intervalMs;
    if (nextSend_ < now) nextSend_ = now + o_.intervalMs;  // never a burst
    if (side_ == 0) {
      // Sent back to undecided by a new topic: take the side again, as a
      // user clicks the button before typing.
      side_ = o_.side;
      SetSlotInt(self_, SLOT_SIDE, side_);
      std::printf("SIDE %lld %d\n", Ms(), side_);
    }
    int64_t seq = ++sent_;
    int64_t stamp = NowMs();
    TGNetObjectRef msg = NewMessageObject(host_);
    SetSlotString(msg, 0, u"MSG");
    SetSlotString(msg, SLOT_TEXT, FromBytes(o_.name + ": " + BotChatText(seq, stamp)));
    SetSlotInt(msg, SLOT_STYLE, side_);
    // As the program's Send: one copy to every participant object, in list
    // order; the one to its own object is not delivered.
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_ALL))
      if (IsParticipantRole(GetSlotString(obj, SLOT_ROLE))) SendMessageObject(msg, obj);
    std::printf("SENT %lld %lld\n", static_cast<long long>(stamp), static_cast<long long>(seq));
    if (sent_ == o_.lines) std::printf("DONE %lld %lld\n", Ms(), static_cast<long long>(sent_));
  }

  void HandleMessages() {
    for (const TGNetObjectRef& msg : ReceivedMessages(host_)) {
      TString kind = GetSlotString(msg, 0);
      if (kind == u"MSG") {
        HandleText(ToBytes(GetSlotString(msg, SLOT_TEXT)), GetSlotInt(msg, SLOT_STYLE));
      } else if (kind == u"ORDER") {
        TString order = GetSlotString(msg, SLOT_TEXT);
        if (order == u"KICK") {
          std::printf("KICK %lld\n", Ms());
          kicked_ = true;
        } else if (order == u"SIDE") {
          side_ = GetSlotInt(msg, SLOT_STYLE);
          SetSlotInt(self_, SLOT_SIDE, side_);
          std::printf("SIDE %lld %d\n", Ms(), side_);
        }
      }
    }
  }

  void HandleText(const std::string& text, int32_t style) {
    int64_t now = NowMs();
    std::optional<TBotLine> line = ParseBotLine(text);
    if (!line) {
      std::printf("MSG %lld %d %s\n", static_cast<long long>(now), style, EscapeText(text).c_str());
      return;
    }
    TArrival arrival = check_.Accept(line->sender, line->seq);
    int64_t latency = now - line->sentMs;
    if (arrival != TArrival::Duplicate) latency_.Add(latency);
    ++received_;
    std::printf("RECV %lld %s %lld %lld %s\n", static_cast<long long>(now), line->sender.c_str(),
                static_cast<long long>(line->seq), static_cast<long long>(latency),
                ArrivalName(arrival));
  }

  void ScanObjects() {
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_CREATED)) {
      TString role = GetSlotString(obj, SLOT_ROLE);
      if (role == u"SUBJECT")
        std::printf("SUBJECT %lld %s|%s\n", Ms(), ToBytes(GetSlotString(obj, 1)).c_str(),
                    ToBytes(GetSlotString(obj, 2)).c_str());
      if (IsParticipantRole(role))
        std::printf("JOIN %lld %s %s\n", Ms(), ToBytes(GetSlotString(obj, SLOT_NAME)).c_str(),
                    ToBytes(role).c_str());
    }
    for (const TGNetObjectRef& obj : ReplicatedObjects(host_, OBJ_CLOSED)) {
      TString role = GetSlotString(obj, SLOT_ROLE);
      std::string name = ToBytes(GetSlotString(obj, SLOT_NAME));
      if (IsParticipantRole(role)) {
        std::printf("LEFT %lld %s %s\n", Ms(), name.c_str(), ToBytes(role).c_str());
        if (role == u"HOST" && !hostLost_) {
          hostLost_ = true;
          std::printf("HOSTLOST %lld\n", Ms());
        }
      } else if (role.empty() && !name.empty()) {
        std::printf("GONE %lld %s\n", Ms(), name.c_str());
      }
    }
  }

  // The program's way out: the role cleared, the object closed, one more
  // sync, then the host closed (which waits briefly for acknowledgements).
  void Leave() {
    SetSlotString(self_, SLOT_ROLE, u"");
    CloseReplicatedObject(self_);
    SyncReplication(host_);
    CloseReplicationHost(host_);
  }

  void Summary() {
    std::printf(
        "SUMMARY %lld name=%s sent=%lld received=%lld senders=%zu anomalies=%lld missing=%lld "
        "latency_median=%lld latency_p99=%lld latency_max=%lld stop=%s\n",
        Ms(), o_.name.c_str(), static_cast<long long>(sent_), static_cast<long long>(received_),
        check_.Senders().size(), static_cast<long long>(check_.Anomalies()),
        static_cast<long long>(check_.Missing()), static_cast<long long>(latency_.Median()),
        static_cast<long long>(latency_.Percentile(99)), static_cast<long long>(latency_.Max()),
        stopSignal == SIGTERM ? "term" : stopSignal == SIGINT ? "int" : kicked_ ? "kick" : "time");
    for (const auto& [name, s] : check_.Senders())
      std::printf("SENDER %s received=%lld first=%lld highest=%lld missing=%zu duplicates=%lld "
                  "late=%lld\n",
                  name.c_str(), static_cast<long long>(s.received), static_cast<long long>(s.first),
                  static_cast<long long>(s.highest), s.missing.size(),
                  static_cast<long long>(s.duplicates), static_cast<long long>(s.late));
  }

  TOptions o_;
  TGNetHostRef host_;
  TGNetObjectRef self_;
  int32_t age_ = 0;
  int32_t side_ = -1;
  bool started_ = false;
  bool kicked_ = false;
  bool hostLost_ = false;
  int64_t nextSend_ = 0;
  int64_t sent_ = 0;
  int64_t received_ = 0;
  TSequenceCheck check_;
  TLatencyStats latency_;
};

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  struct sigaction stop {};
  stop.sa_handler = OnStop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  try {
    return TBot(options).Run();
  } catch (const std::exception& error) {
    std::printf("ERROR %lld %s\n", static_cast<long long>(NowMs()), error.what());
    return 2;
  }
}
