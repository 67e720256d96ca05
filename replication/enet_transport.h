// The transport over ENet: the program's links and endpoints. This is the
// only part of the layer that calls ENet; the header names no ENet type.
//
// One reliable channel per connection, at most 32 connections per listening
// endpoint, and no packet larger than the largest message (ENet refuses
// bigger ones on arrival). Main thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "replication/transport.h"

// Starts ENet once per process (its shutdown is registered with atexit);
// later calls do nothing. Thread-safe.
void StartENet();

// An endpoint listening on UDP `port` (0..65535; 0 lets the system pick) on
// every interface, or null when the port cannot be had.
std::unique_ptr<TNetEndpoint> ListenENet(int port);

struct TENetConnection {
  std::unique_ptr<TNetEndpoint> endpoint;  // null when the connection failed
  std::unique_ptr<TPeerLink> server;
};
// Connects to `ip` (IPv4, most significant byte first) and UDP `port`,
// waiting at most `timeoutMs` for the other end to accept. Events that
// arrive meanwhile stay queued in the endpoint.
TENetConnection ConnectENet(uint32_t ip, int port, int32_t timeoutMs);
