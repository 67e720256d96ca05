// The router's port-mapping services, one class per protocol: UPnP-IGD
// (miniupnpc) and NAT-PMP (libnatpmp). Every call blocks, each for a bounded
// time (the discovery wait given, the protocol libraries' own time-outs for
// the rest), so they belong on the port-forwarding thread (lobby/port_forward.h),
// never on a window's. Internal to the lobby layer; one object per router
// conversation, one thread at a time.
#pragma once

#include <memory>
#include <string>

class TRouterLink {
 public:
  virtual ~TRouterLink() = default;
  // Looks for the router, waiting at most `waitMs` for it to answer. False
  // when none answered; the other calls then fail.
  virtual bool Discover(int waitMs) = 0;
  // Maps UDP `port` on the router's outside to the same port of this machine.
  // `leaseSeconds` is asked for (0: as long as the router keeps it) and
  // becomes what the router granted. False when the router refused or gave a
  // different outside port (which the refusal then also undoes).
  virtual bool Map(int port, const std::string& description, int& leaseSeconds) = 0;
  // Removes the mapping of UDP `port`. False when the router did not confirm.
  virtual bool Unmap(int port) = 0;
  // The router's outside address and this machine's address toward it, as
  // dotted text; "" while unknown.
  virtual std::string ExternalAddress() const = 0;
  virtual std::string LocalAddress() const = 0;
};

std::unique_ptr<TRouterLink> NewUpnpLink();
std::unique_ptr<TRouterLink> NewNatPmpLink();
