// What a closed host leaves on the network: its endpoint (the socket) and
// the links of its peers, whose last packets may still await
// acknowledgement. A receiver drops packets that it reads together with the
// disconnect, so the disconnect requests go out only once those packets are
// acknowledged, or the wait is over.
//
// Made by TGNetHost::CloseLater. It touches no host, so it may be finished on
// a thread of its own while the host's thread goes on; one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "replication/transport.h"

// How long a closing waits for its last packets by default. A receiver may
// serve its host as seldom as once a second; the acknowledgement comes from
// the same service pass that hands the packet over, so once it is here the
// packet is safe.
constexpr int32_t GNET_CLOSE_WAIT_MS = 2500;

class TGNetClosing {
 public:
  TGNetClosing(std::unique_ptr<TNetEndpoint> endpoint,
               std::vector<std::unique_ptr<TPeerLink>> links);
  // An unfinished closing is finished without waiting.
  ~TGNetClosing();
  TGNetClosing(const TGNetClosing&) = delete;
  TGNetClosing& operator=(const TGNetClosing&) = delete;

  // Waits at most `maxMs`, or until `stop()` returns true (asked every few
  // milliseconds), for every link's queued packets to be acknowledged; then
  // asks each remote end to disconnect, sends that, and releases the socket.
  // Packets that arrive meanwhile are dropped and counted. A second call
  // does nothing.
  void Finish(int32_t maxMs, const std::function<bool()>& stop = nullptr);
  bool Finished() const { return !_endpoint; }
  // Packets received, and dropped, while closing.
  int64_t DroppedArrivals() const { return _droppedArrivals; }

 private:
  void AwaitAcknowledgements(int32_t maxMs, const std::function<bool()>& stop);
  void DropArrivals();

  std::unique_ptr<TNetEndpoint> _endpoint;
  std::vector<std::unique_ptr<TPeerLink>> _links;
  int64_t _droppedArrivals = 0;
};
