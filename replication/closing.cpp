#include "replication/closing.h"

#include <algorithm>

#include "core/clock.h"

namespace {

// Longest pause of the wait; incoming traffic ends it earlier.
constexpr int32_t kPollMs = 5;

}  // namespace

TGNetClosing::TGNetClosing(std::unique_ptr<TNetEndpoint> endpoint,
                           std::vector<std::unique_ptr<TPeerLink>> links)
    : _endpoint(std::move(endpoint)), _links(std::move(links)) {}

TGNetClosing::~TGNetClosing() { Finish(0); }

void TGNetClosing::DropArrivals() {
  _droppedArrivals += static_cast<int64_t>(_endpoint->DropPending());
}

void TGNetClosing::AwaitAcknowledgements(int32_t maxMs, const std::function<bool()>& stop) {
  int32_t deadline = MilliSecs() + maxMs;
  for (int32_t now = MilliSecs(); !ClockReached(now, deadline); now = MilliSecs()) {
    bool sending = std::any_of(_links.begin(), _links.end(), [](const auto& link) {
      return link->IsConnected() && link->IsSending();
    });
    if (!sending || (stop && stop())) return;
    _endpoint->Poll();
    DropArrivals();
    _endpoint->Wait(std::min(deadline - now, kPollMs));
  }
}

void TGNetClosing::Finish(int32_t maxMs, const std::function<bool()>& stop) {
  if (!_endpoint) return;
  AwaitAcknowledgements(maxMs, stop);
  for (const auto& link : _links) link->Disconnect();
  _links.clear();
  DropArrivals();
  _endpoint->Flush();  // the disconnect requests leave now
  _endpoint.reset();
}
