#include "lobby/avahi_link.h"

#include <mutex>
#include <utility>

#include <avahi-common/error.h>
#include <avahi-common/timeval.h>

namespace {

// How often a link without a bus tries again.
constexpr unsigned RETRY_MS = 5000;

// Links open and close their bus connections one at a time: the D-Bus
// library's one-time set-up and its shared connection bookkeeping take their
// locks in an order that two threads opening and closing at once could
// deadlock on.
std::mutex& BusConnectionMutex() {
  static std::mutex mutex;
  return mutex;
}

void FreeClient(AvahiClient* client) {
  std::lock_guard<std::mutex> lock(BusConnectionMutex());
  avahi_client_free(client);
}

}  // namespace

TAvahiLink::TAvahiLink(THandler handler) : _handler(std::move(handler)) {
  _poll = avahi_threaded_poll_new();
  if (!_poll) return;
  // The first connection is made on the link's thread, as soon as it runs.
  const AvahiPoll* api = avahi_threaded_poll_get(_poll);
  struct timeval now;
  _retry = api->timeout_new(api, avahi_elapse_time(&now, 0, 0), ConnectLater, this);
}

TAvahiLink::~TAvahiLink() { Stop(); }

const AvahiPoll* TAvahiLink::Poll() const {
  return _poll ? avahi_threaded_poll_get(_poll) : nullptr;
}

bool TAvahiLink::Start() {
  if (!_poll || !_retry || _started) return _started;
  _started = avahi_threaded_poll_start(_poll) == 0;
  return _started;
}

void TAvahiLink::Stop() {
  if (!_poll) return;
  if (_started) avahi_threaded_poll_stop(_poll);
  _started = false;
  AvahiClient* client = _client;
  _client = nullptr;
  if (client) FreeClient(client);
  avahi_threaded_poll_free(_poll);  // with every watch and timeout on it
  _poll = nullptr;
  _retry = nullptr;
}

void TAvahiLink::ConnectLater(AvahiTimeout*, void* link) {
  static_cast<TAvahiLink*>(link)->Connect();
}

void TAvahiLink::Connect() {
  int error = 0;
  AvahiClient* client;
  {
    std::lock_guard<std::mutex> lock(BusConnectionMutex());
    // NO_FAIL: with a bus but no daemon yet, the client waits for the daemon.
    client = avahi_client_new(avahi_threaded_poll_get(_poll), AVAHI_CLIENT_NO_FAIL, ClientChanged,
                              this, &error);
  }
  if (!client) {
    _handler(LINK_DOWN, nullptr);
    RetryIn(RETRY_MS);
    return;
  }
  _client = client;
}

void TAvahiLink::ClientChanged(AvahiClient* client, AvahiClientState state, void* link) {
  auto* self = static_cast<TAvahiLink*>(link);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      self->_handler(LINK_RUNNING, client);
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      self->_handler(LINK_PAUSED, client);
      break;
    case AVAHI_CLIENT_CONNECTING:
      self->_handler(LINK_DOWN, nullptr);
      break;
    case AVAHI_CLIENT_FAILURE:
      // Inside avahi_client_new (client not yet ours) the failure comes back
      // as its result; Connect handles it there.
      if (client == self->_client) self->Lost(client);
      break;
  }
}

void TAvahiLink::Lost(AvahiClient* client) {
  bool disconnected = avahi_client_errno(client) == AVAHI_ERR_DISCONNECTED;
  _handler(LINK_DOWN, nullptr);
  _client = nullptr;
  FreeClient(client);
  // A daemon that went away is waited for at once (NO_FAIL); anything else
  // is tried again later.
  RetryIn(disconnected ? 0 : RETRY_MS);
}

void TAvahiLink::RetryIn(unsigned ms) {
  const AvahiPoll* api = avahi_threaded_poll_get(_poll);
  struct timeval when;
  api->timeout_update(_retry, avahi_elapse_time(&when, ms, 0));
}
