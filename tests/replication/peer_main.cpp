// A replication peer in a process of its own, for the multi-process tests.
//   replication_peer guest <port> <name> <other>: joins 127.0.0.1:<port>,
//     publishes a "GUEST" object named <name>, greets <other>'s object once it
//     appears, and leaves when <other>'s greeting arrived and its own was
//     acknowledged (ENet drops what arrives together with a disconnect).
//     Exit 0 on success.
//   replication_peer listen: listens on a free port (printed on stdout),
//     publishes a "HOST" object, and closes its host once a message for that
//     object arrived. Exit 0 on success.
// Every loop is bounded; exit 2 means the deadline passed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "core/clock.h"
#include "replication/host.h"
#include "replication/replication.h"

namespace {

constexpr int32_t kDeadlineMs = 15000;

TGNetObjectRef FindByName(const TGNetHostRef& host, const TString& name) {
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL))
    if (ObjectIsRemote(obj) && GetSlotString(obj, 1) == name) return obj;
  return nullptr;
}

bool GotMessage(const TGNetHostRef& host, const TGNetObjectRef& to, const TString& text) {
  for (const auto& msg : ReceivedMessages(host))
    if (MessageAddressee(msg) == to && GetSlotString(msg, 1) == text) return true;
  return false;
}

// Calls `step` after each sync until it returns true or the deadline passes.
template <class Step>
bool SyncUntil(const TGNetHostRef& host, Step step) {
  int32_t deadline = MilliSecs() + kDeadlineMs;
  while (!ClockReached(MilliSecs(), deadline)) {
    SyncReplication(host);
    if (step()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int RunGuest(int port, const TString& name, const TString& other) {
  auto host = NewReplicationHost();
  if (ConnectReplication(host, u"127.0.0.1", port, 10000) != 1) return 3;
  auto own = NewReplicatedObject(host);
  SetSlotString(own, 0, u"GUEST");
  SetSlotString(own, 1, name);
  bool greeted = false, heard = false;
  bool done = SyncUntil(host, [&] {
    if (auto peer = FindByName(host, other); peer && !greeted) {
      auto note = NewMessageObject(host);
      SetSlotString(note, 0, u"MSG");
      SetSlotString(note, 1, u"hello from " + name);
      SendMessageObject(note, peer);
      greeted = true;
    }
    heard = heard || GotMessage(host, own, u"hello from " + other);
    return heard && greeted && !host->Peers().empty() && !host->Peers()[0]->IsSending();
  });
  CloseReplicatedObject(own);
  SyncReplication(host);
  CloseReplicationHost(host);
  return done ? 0 : 2;
}

int RunListener() {
  auto host = NewReplicationHost();
  if (ListenReplication(host, 0) != 1) return 3;
  std::printf("%d\n", host->LocalPort());
  std::fflush(stdout);
  auto own = NewReplicatedObject(host);
  SetSlotString(own, 0, u"HOST");
  SetSlotString(own, 1, u"host");
  bool done = SyncUntil(host, [&] { return GotMessage(host, own, u"bye"); });
  CloseReplicationHost(host);
  return done ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "guest") == 0)
    return RunGuest(std::atoi(argv[2]), FromBytes(argv[3]), FromBytes(argv[4]));
  if (argc == 2 && std::strcmp(argv[1], "listen") == 0) return RunListener();
  std::fprintf(stderr, "usage: replication_peer guest <port> <name> <other> | listen\n");
  return 1;
}
