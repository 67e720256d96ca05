#include "lobby/resolve.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "lobby/socket.h"

namespace {

// One lookup in flight; shared by its helper thread and every waiter.
struct TLookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::vector<int32_t> ips;
};
using TLookupRef = std::shared_ptr<TLookup>;

std::mutex& LookupsMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, TLookupRef>& Lookups() {
  static auto* lookups = new std::map<std::string, TLookupRef>();  // outlives exiting threads
  return *lookups;
}

TLookupRef StartLookup(const std::string& name, const TResolver& resolver) {
  auto lookup = std::make_shared<TLookup>();
  // The thread holds only its lookup, so it may outlive every waiter.
  std::thread([lookup, name, resolver] {
    std::vector<int32_t> ips = resolver ? resolver(name) : HostIps(name);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->ips = std::move(ips);
    lookup->done = true;
    lookup->finished.notify_all();
  }).detach();
  return lookup;
}

// The running lookup of `name`, or a new one.
TLookupRef JoinOrStartLookup(const std::string& name, const TResolver& resolver) {
  std::lock_guard<std::mutex> lock(LookupsMutex());
  TLookupRef& slot = Lookups()[name];
  if (slot) {
    std::lock_guard<std::mutex> lookupLock(slot->mutex);
    if (!slot->done) return slot;
  }
  slot = StartLookup(name, resolver);
  return slot;
}

void ForgetLookup(const std::string& name, const TLookupRef& lookup) {
  std::lock_guard<std::mutex> lock(LookupsMutex());
  auto found = Lookups().find(name);
  if (found != Lookups().end() && found->second == lookup) Lookups().erase(found);
}

}  // namespace

int32_t ResolveFirstIp(const std::string& name, int timeoutMs, const TResolver& resolver) {
  if (name.empty()) return 0;
  if (int32_t dotted = ParseDottedIp(name)) return dotted;
  TLookupRef lookup = JoinOrStartLookup(name, resolver);
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                 [&] { return lookup->done; }))
    return 0;
  int32_t first = lookup->ips.empty() ? 0 : lookup->ips.front();
  lock.unlock();
  ForgetLookup(name, lookup);
  return first;
}
