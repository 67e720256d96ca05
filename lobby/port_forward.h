// Asks the router to forward a UDP port from its outside to this machine, so
// that guests outside the local network can reach a room hosted here: through
// UPnP-IGD, or NAT-PMP when no UPnP gateway maps it. The mapping is renewed
// while the object lives and removed when it ends.
//
// All router traffic runs on the object's own thread: the constructor returns
// at once and the outcome arrives later, through the listener or Status. A
// network without such a router costs that thread at most discoveryMs per
// protocol plus the protocol libraries' short time-outs, and ends in
// FORWARD_FAILED; it then asks again every FORWARD_RETRY_SECONDS. A mapping
// whose renewal fails is looked for again at once.
//
// Ending: Remove asks the thread to remove the mapping and waits a bounded
// time for it, so a termination path can call it; the destructor calls it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

constexpr int FORWARD_RETRY_SECONDS = 120;
constexpr int FORWARD_REMOVE_MS = 3000;  // the destructor's wait

enum TForwardState {
  FORWARD_TRYING,   // looking for the router, or asking it
  FORWARD_ACTIVE,   // the router forwards the port
  FORWARD_FAILED,   // no router mapped it (or a removal was refused)
  FORWARD_REMOVED,  // ended: no mapping is left
};

enum TForwardMethod { FORWARD_NONE, FORWARD_UPNP, FORWARD_NATPMP };

struct TForwardStatus {
  TForwardState state = FORWARD_TRYING;
  TForwardMethod method = FORWARD_NONE;  // what made the mapping
  // The router's outside address and this machine's address toward it, as
  // dotted text; "" while unknown. Known also when a router that answered
  // refused the mapping.
  std::string externalAddress;
  std::string localAddress;
};

struct TForwardOptions {
  bool upnp = true;
  bool natpmp = true;
  int leaseSeconds = 3600;                // asked for; renewed at half of what the router grants
  int discoveryMs = 2000;                 // how long each protocol waits for the router
  std::string description = "Colloquor";  // the name the router shows for the mapping
};

class TPortForward {
 public:
  // Told of every change, on the forwarding thread: keep it short, and never
  // call Remove or destroy the object from it. Status may be called from it.
  using TListener = std::function<void(const TForwardStatus& status)>;

  explicit TPortForward(int port, TListener listener = nullptr,
                        TForwardOptions options = TForwardOptions());
  // Remove(FORWARD_REMOVE_MS). After it the listener is never called again; a
  // thread still busy with the router is left to finish on its own.
  ~TPortForward();
  TPortForward(const TPortForward&) = delete;
  TPortForward& operator=(const TPortForward&) = delete;

  // Any thread.
  TForwardStatus Status() const;
  // Ends the forwarding: the mapping is removed from the router and the
  // thread ends. Waits at most timeoutMs; true when by then no mapping is
  // left (removed, or none was made). Later calls only wait again.
  bool Remove(int timeoutMs);

 private:
  struct TShared;
  std::shared_ptr<TShared> _shared;
  std::thread _thread;
};
