// The transport over ENet: the program's links and endpoints. This is the
// only part of the layer that calls ENet; the header names no ENet type.
//
// One reliable channel per connection, at most GNET_MAX_PEERS connections
// per listening endpoint (further attempts get no answer), attempts that
// stay half-open let go after a few seconds, and no packet larger than the
// largest message (ENet refuses bigger ones on arrival). An endpoint and its
// links belong to one thread at a time (ENet is not thread-safe per host);
// different endpoints may live on different threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "replication/transport.h"

// Starts ENet once per process (its shutdown is registered with atexit);
// later calls do nothing. Thread-safe.
void StartENet();

// An endpoint listening on UDP `port` (0..65535; 0 lets the system pick) on
// every interface, or null when the port cannot be had.
std::unique_ptr<TNetEndpoint> ListenENet(int port);

// A connection opened by ConnectENet, until a host adopts its members. One
// that is dropped with both members still here is ended politely: the other
// end is asked to disconnect instead of being left to time out.
struct TENetConnection {
  TENetConnection() = default;
  TENetConnection(std::unique_ptr<TNetEndpoint> endpoint, std::unique_ptr<TPeerLink> server);
  TENetConnection(TENetConnection&&) = default;
  TENetConnection& operator=(TENetConnection&&) = default;
  ~TENetConnection();

  std::unique_ptr<TNetEndpoint> endpoint;  // null when the connection failed
  std::unique_ptr<TPeerLink> server;
};
// Connects to `ip` (IPv4, most significant byte first) and UDP `port`,
// waiting at most `timeoutMs`, or until `stop()` returns true (asked every
// few milliseconds), for the other end to accept; from the local address
// `fromIp` when it is not 0 (else the system chooses). Events that arrive
// meanwhile stay queued in the endpoint. A connection attempt given up is
// called off at the other end. Runs wholly on the calling thread, on an ENet
// host of its own, so it may run on any thread.
TENetConnection ConnectENet(uint32_t ip, int port, int32_t timeoutMs,
                            const std::function<bool()>& stop = nullptr, uint32_t fromIp = 0);
