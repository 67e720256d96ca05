// Loopback helpers for replication tests: listening on a free port, pumping
// several hosts with bounded polling, and connecting while the listener is
// pumped (Connect blocks, so the listener must be served meanwhile).
#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "replication/host.h"
#include "replication/replication.h"
#include "tests/support/wait_until.h"

// Listens on a port the system picks; returns it (0 on failure).
inline int ListenOnFreePort(const TGNetHostRef& host) {
  if (ListenReplication(host, 0) != 1) return 0;
  return host->LocalPort();
}

// What each sync of a pumped host reported, gathered over many syncs.
struct TSyncLog {
  TGNetObjectList created, modified, closed, messages;
  bool Saw(const TGNetObjectList& list, const TGNetObjectRef& obj) const {
    for (const auto& o : list)
      if (o == obj) return true;
    return false;
  }
};

class TPump {
 public:
  explicit TPump(std::vector<TGNetHostRef> hosts) : _hosts(std::move(hosts)) {}
  void Add(const TGNetHostRef& host) { _hosts.push_back(host); }
  void Remove(const TGNetHostRef& host) {
    for (auto it = _hosts.begin(); it != _hosts.end(); ++it)
      if (*it == host) {
        _hosts.erase(it);
        return;
      }
  }
  void Step() {
    for (const auto& host : _hosts) {
      SyncReplication(host);
      TSyncLog& log = _logs[host.get()];
      Append(log.created, host->ObjectsCreated());
      Append(log.modified, host->ObjectsModified());
      Append(log.closed, host->ObjectsClosed());
      Append(log.messages, host->Messages());
    }
  }
  bool Until(const std::function<bool()>& condition, int timeoutMs = 5000) {
    return WaitUntil(condition, timeoutMs, [this] { Step(); });
  }
  TSyncLog& Log(const TGNetHostRef& host) { return _logs[host.get()]; }

 private:
  static void Append(TGNetObjectList& to, const TGNetObjectList& from) {
    to.insert(to.end(), from.begin(), from.end());
  }
  std::vector<TGNetHostRef> _hosts;
  std::map<const TGNetHost*, TSyncLog> _logs;
};

// Connects `guest` to 127.0.0.1:`port` (from the local address `fromIp`
// when not 0) while a thread keeps `listener` syncing; only that thread
// touches the listener until this returns.
inline int ConnectPumped(const TGNetHostRef& guest, const TGNetHostRef& listener, int port,
                         int timeoutMs = 5000, uint32_t fromIp = 0) {
  std::atomic<bool> done{false};
  std::exception_ptr failure;
  std::thread pump([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs + 2000);
    try {
      while (!done && std::chrono::steady_clock::now() < deadline) {
        SyncReplication(listener);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } catch (...) {
      failure = std::current_exception();
    }
  });
  int result = fromIp == 0 ? ConnectReplication(guest, u"127.0.0.1", port, timeoutMs)
                           : AdoptConnection(guest, OpenConnection(0x7f000001, port, timeoutMs,
                                                                   nullptr, fromIp));
  done = true;
  pump.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}

// The first object of `host` whose slot `index` holds `text`, or null.
inline TGNetObjectRef FindBySlot(const TGNetHostRef& host, int index, const TString& text) {
  for (const auto& obj : ReplicatedObjects(host, OBJ_ALL))
    if (GetSlotString(obj, index) == text) return obj;
  return nullptr;
}
