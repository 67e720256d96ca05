// One connection to the system's avahi-daemon (over the D-Bus system bus),
// run on a thread of its own: the publisher and the local room browser are
// built on it. Internal to the lobby layer.
//
// Nothing here blocks the creating thread: the connection is made on the
// link's thread. Without a bus the link tries again every few seconds; without
// a daemon it waits for one to appear; a daemon that goes away is waited for
// again. Every change is reported to the handler, on the link's thread.
#pragma once

#include <functional>

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

class TAvahiLink {
 public:
  enum TLinkState {
    // No usable client (no bus, no daemon, or the connection was lost). The
    // client the handler saw before is about to be freed, and with it every
    // group, browser and resolver made on it: forget them, do not free them.
    LINK_DOWN,
    // The daemon is (re)registering this machine's host name: published
    // entries must be reset and added again once the link runs.
    LINK_PAUSED,
    // `client` is ready for use.
    LINK_RUNNING,
  };
  using THandler = std::function<void(TLinkState state, AvahiClient* client)>;

  explicit TAvahiLink(THandler handler);
  ~TAvahiLink();
  TAvahiLink(const TAvahiLink&) = delete;
  TAvahiLink& operator=(const TAvahiLink&) = delete;

  // The link thread's event loop, for watches and timeouts: register them
  // before Start, or on the link's thread. Null when none could be made.
  const AvahiPoll* Poll() const;
  // Starts the thread. False when it could not start (the link stays down).
  bool Start();
  // Ends the thread (waiting for a call to the daemon in flight) and frees the
  // client, which withdraws what was published on it; afterwards nothing runs
  // on the link's thread. Never call it from the handler. Safe to call twice.
  void Stop();

 private:
  static void ConnectLater(AvahiTimeout* timeout, void* link);
  static void ClientChanged(AvahiClient* client, AvahiClientState state, void* link);
  void Connect();
  void Lost(AvahiClient* client);
  void RetryIn(unsigned ms);

  THandler _handler;
  AvahiThreadedPoll* _poll = nullptr;
  AvahiTimeout* _retry = nullptr;
  AvahiClient* _client = nullptr;
  bool _started = false;
};
