#include "lobby/port_forward.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "lobby/router_link.h"

namespace {

// A lasting mapping is asserted again this often, in case the router forgot it.
constexpr int REASSERT_SECONDS = 1800;

int RenewAfterSeconds(int grantedLease) {
  return grantedLease <= 0 ? REASSERT_SECONDS : std::max(1, grantedLease / 2);
}

}  // namespace

// Everything the forwarding thread uses: it may outlive the object.
struct TPortForward::TShared {
  TShared(int port_, TListener listener_, TForwardOptions options_)
      : port(port_), options(std::move(options_)), listener(std::move(listener_)) {}

  void Run();
  std::unique_ptr<TRouterLink> Attempt(int& lease);
  bool WaitForStop(int seconds);
  bool Stopping();
  void Report(const TForwardStatus& next);

  const int port;
  const TForwardOptions options;

  std::mutex mutex;  // guards the fields below
  std::condition_variable changed;
  TForwardStatus status;
  bool stopping = false;
  bool finished = false;

  std::mutex listenerMutex;  // held while the listener runs, so it can be cleared
  TListener listener;
};

void TPortForward::TShared::Run() {
  std::unique_ptr<TRouterLink> router;
  int lease = 0;
  for (;;) {
    if (!router) router = Attempt(lease);
    if (WaitForStop(router ? RenewAfterSeconds(lease) : FORWARD_RETRY_SECONDS)) break;
    if (!router) continue;
    lease = options.leaseSeconds;
    if (router->Map(port, options.description, lease)) continue;
    router.reset();
    Report({FORWARD_FAILED, FORWARD_NONE, status.externalAddress, status.localAddress});
  }
  bool gone = !router || router->Unmap(port);
  TForwardStatus last = status;
  last.state = gone ? FORWARD_REMOVED : FORWARD_FAILED;
  Report(last);
  std::lock_guard<std::mutex> lock(mutex);
  finished = true;
  changed.notify_all();
}

// Asks each protocol in turn; the router that mapped the port, or null.
std::unique_ptr<TRouterLink> TPortForward::TShared::Attempt(int& lease) {
  TForwardStatus outcome{FORWARD_FAILED, FORWARD_NONE, "", ""};
  std::vector<TForwardMethod> methods;
  if (options.upnp) methods.push_back(FORWARD_UPNP);
  if (options.natpmp) methods.push_back(FORWARD_NATPMP);
  for (TForwardMethod method : methods) {
    if (Stopping()) return nullptr;
    auto router = method == FORWARD_UPNP ? NewUpnpLink() : NewNatPmpLink();
    if (!router->Discover(options.discoveryMs) || Stopping()) continue;
    outcome.externalAddress = router->ExternalAddress();
    outcome.localAddress = router->LocalAddress();
    lease = options.leaseSeconds;
    if (router->Map(port, options.description, lease)) {
      Report({FORWARD_ACTIVE, method, outcome.externalAddress, outcome.localAddress});
      return router;
    }
  }
  Report(outcome);
  return nullptr;
}

bool TPortForward::TShared::WaitForStop(int seconds) {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping; });
}

bool TPortForward::TShared::Stopping() {
  std::lock_guard<std::mutex> lock(mutex);
  return stopping;
}

void TPortForward::TShared::Report(const TForwardStatus& next) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    status = next;
  }
  std::lock_guard<std::mutex> lock(listenerMutex);
  if (listener) listener(next);
}

TPortForward::TPortForward(int port, TListener listener, TForwardOptions options)
    : _shared(std::make_shared<TShared>(port, std::move(listener), std::move(options))) {
  _thread = std::thread([shared = _shared] { shared->Run(); });
}

TPortForward::~TPortForward() {
  Remove(FORWARD_REMOVE_MS);
  {
    std::lock_guard<std::mutex> lock(_shared->listenerMutex);
    _shared->listener = nullptr;
  }
  bool finished;
  {
    std::lock_guard<std::mutex> lock(_shared->mutex);
    finished = _shared->finished;
  }
  if (finished)
    _thread.join();
  else
    _thread.detach();  // it holds its own share of the state
}

TForwardStatus TPortForward::Status() const {
  std::lock_guard<std::mutex> lock(_shared->mutex);
  return _shared->status;
}

bool TPortForward::Remove(int timeoutMs) {
  std::unique_lock<std::mutex> lock(_shared->mutex);
  _shared->stopping = true;
  _shared->changed.notify_all();
  _shared->changed.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                            [this] { return _shared->finished; });
  return _shared->finished && _shared->status.state == FORWARD_REMOVED;
}
