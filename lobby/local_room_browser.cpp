#include "lobby/local_room_browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <list>
#include <mutex>
#include <random>
#include <tuple>

#include <avahi-client/lookup.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>

#include "core/clock.h"
#include "lobby/avahi_link.h"
#include "lobby/room_probe.h"

namespace {

constexpr size_t MAX_ANSWER_BYTES = 9000;

std::vector<std::string> TxtStrings(AvahiStringList* txt) {
  std::vector<std::string> strings;
  for (AvahiStringList* entry = txt; entry; entry = avahi_string_list_get_next(entry))
    strings.emplace_back(reinterpret_cast<const char*>(avahi_string_list_get_text(entry)),
                         avahi_string_list_get_size(entry));
  return strings;
}

bool RoomOrder(const TLocalRoom& a, const TLocalRoom& b) {
  return std::tie(a.name, a.address, a.port) < std::tie(b.name, b.address, b.port);
}

}  // namespace

struct TLocalRoomBrowser::TImpl {
  // One service the daemon reported, resolved or not.
  struct TFound {
    TImpl* owner = nullptr;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
    std::string name, type, domain;
    AvahiServiceResolver* resolver = nullptr;
    bool resolved = false;
    TLocalRoom room;
    in_addr_t ip = 0;  // network order
    uint16_t probeId = 0;
    TRoomLiveness liveness;
  };

  TImpl(const std::string& gameKey, TListener listener_);
  ~TImpl();
  void Start();

  void LinkChanged(TAvahiLink::TLinkState linkState, AvahiClient* client);
  static void BrowserEvent(AvahiServiceBrowser* changed, AvahiIfIndex interface,
                           AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                           const char* type, const char* domain, AvahiLookupResultFlags flags,
                           void* impl);
  void Forget(AvahiIfIndex interface, AvahiProtocol protocol, const char* name);
  void Resolve(TFound& found);
  static void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex interface,
                       AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                       const char* type, const char* domain, const char* hostName,
                       const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                       AvahiLookupResultFlags flags, void* found);
  static void ProbeTick(AvahiTimeout* timeout, void* impl);
  void Probe(TFound& found);
  static void ProbeReadable(AvahiWatch* watch, int fd, AvahiWatchEvent event, void* impl);
  void Publish(TState newState);

  std::string game;
  TListener listener;

  // Link thread only.
  AvahiClient* client = nullptr;
  AvahiServiceBrowser* browser = nullptr;
  std::list<TFound> found;  // stable addresses: resolvers point at their entry
  int probeSocket = -1;
  std::minstd_rand probeIds{std::random_device{}()};

  mutable std::mutex mutex;  // guards state and rooms
  TState state = BROWSE_WAITING;
  std::vector<TLocalRoom> rooms;

  TAvahiLink link;  // last: it calls back into the members above
};

TLocalRoomBrowser::TImpl::TImpl(const std::string& gameKey, TListener listener_)
    : game(gameKey),
      listener(std::move(listener_)),
      link([this](TAvahiLink::TLinkState linkState, AvahiClient* client_) {
        LinkChanged(linkState, client_);
      }) {
  const AvahiPoll* api = link.Poll();
  if (!api) return;
  probeSocket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probeSocket >= 0) api->watch_new(api, probeSocket, AVAHI_WATCH_IN, ProbeReadable, this);
  struct timeval first;
  api->timeout_new(api, avahi_elapse_time(&first, PROBE_INTERVAL_MS, 0), ProbeTick, this);
}

TLocalRoomBrowser::TImpl::~TImpl() {
  link.Stop();  // frees the browser, the resolvers, the watch and the timer
  if (probeSocket >= 0) close(probeSocket);
}

void TLocalRoomBrowser::TImpl::Start() {
  if (link.Start()) return;
  std::lock_guard<std::mutex> lock(mutex);
  state = BROWSE_UNAVAILABLE;
}

void TLocalRoomBrowser::TImpl::LinkChanged(TAvahiLink::TLinkState linkState, AvahiClient* client_) {
  switch (linkState) {
    case TAvahiLink::LINK_DOWN:
      client = nullptr;
      browser = nullptr;  // freed with the client, as the resolvers are
      found.clear();
      Publish(BROWSE_UNAVAILABLE);
      break;
    case TAvahiLink::LINK_PAUSED:
      break;  // browsing goes on while the host name is registered again
    case TAvahiLink::LINK_RUNNING:
      client = client_;
      if (!browser)
        browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                            LOCAL_ROOM_SERVICE_TYPE, nullptr,
                                            static_cast<AvahiLookupFlags>(0), BrowserEvent, this);
      Publish(browser ? BROWSE_RUNNING : BROWSE_UNAVAILABLE);
      break;
  }
}

void TLocalRoomBrowser::TImpl::BrowserEvent(AvahiServiceBrowser* changed, AvahiIfIndex interface,
                                            AvahiProtocol protocol, AvahiBrowserEvent event,
                                            const char* name, const char* type, const char* domain,
                                            AvahiLookupResultFlags, void* impl) {
  auto* self = static_cast<TImpl*>(impl);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      self->found.emplace_back();
      self->found.back().owner = self;
      self->found.back().interface = interface;
      self->found.back().protocol = protocol;
      self->found.back().name = name;
      self->found.back().type = type;
      self->found.back().domain = domain;
      self->Resolve(self->found.back());
      break;
    case AVAHI_BROWSER_REMOVE:
      self->Forget(interface, protocol, name);
      self->Publish(BROWSE_RUNNING);
      break;
    case AVAHI_BROWSER_FAILURE:
      for (TFound& entry : self->found)
        if (entry.resolver) avahi_service_resolver_free(entry.resolver);
      self->found.clear();
      avahi_service_browser_free(changed);
      self->browser = nullptr;
      self->Publish(BROWSE_UNAVAILABLE);
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
      break;
  }
}

void TLocalRoomBrowser::TImpl::Forget(AvahiIfIndex interface, AvahiProtocol protocol,
                                      const char* name) {
  found.remove_if([&](const TFound& entry) {
    if (entry.interface != interface || entry.protocol != protocol || entry.name != name)
      return false;
    if (entry.resolver) avahi_service_resolver_free(entry.resolver);
    return true;
  });
}

void TLocalRoomBrowser::TImpl::Resolve(TFound& entry) {
  // The resolver stays and reports later changes of address, port or TXT.
  entry.resolver = avahi_service_resolver_new(
      client, entry.interface, entry.protocol, entry.name.c_str(), entry.type.c_str(),
      entry.domain.c_str(), AVAHI_PROTO_INET, static_cast<AvahiLookupFlags>(0), Resolved, &entry);
}

void TLocalRoomBrowser::TImpl::Resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                                        AvahiResolverEvent event, const char* name, const char*,
                                        const char*, const char*, const AvahiAddress* address,
                                        uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                                        void* found) {
  auto& entry = *static_cast<TFound*>(found);
  if (event != AVAHI_RESOLVER_FOUND || !address || address->proto != AVAHI_PROTO_INET) {
    // Tried again at the next probe tick.
    avahi_service_resolver_free(resolver);
    entry.resolver = nullptr;
    entry.resolved = false;
  } else {
    in_addr_t ip = address->data.ipv4.address;
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &ip, text, sizeof text);
    if (ip != entry.ip) entry.liveness = TRoomLiveness();  // a new host to hear from
    entry.ip = ip;
    entry.room = {name, text, port, TxtGame(TxtStrings(txt)) == entry.owner->game, false};
    entry.resolved = true;
    entry.owner->Probe(entry);  // heard from at once, not only at the next tick
  }
  entry.owner->Publish(BROWSE_RUNNING);
}

void TLocalRoomBrowser::TImpl::ProbeTick(AvahiTimeout* timeout, void* impl) {
  auto* self = static_cast<TImpl*>(impl);
  for (TFound& entry : self->found) {
    if (!entry.resolver && !entry.resolved && self->client) self->Resolve(entry);
    if (entry.resolved) self->Probe(entry);
  }
  if (self->browser) self->Publish(BROWSE_RUNNING);  // silent hosts drop out
  const AvahiPoll* api = self->link.Poll();
  struct timeval next;
  api->timeout_update(timeout, avahi_elapse_time(&next, PROBE_INTERVAL_MS, 0));
}

void TLocalRoomBrowser::TImpl::Probe(TFound& entry) {
  if (probeSocket < 0) return;
  entry.probeId = static_cast<uint16_t>(probeIds());
  std::string query = SrvQuery(entry.probeId, entry.name, entry.type, entry.domain);
  if (query.empty()) return;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(MDNS_PORT);
  to.sin_addr.s_addr = entry.ip;
  sendto(probeSocket, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

void TLocalRoomBrowser::TImpl::ProbeReadable(AvahiWatch*, int fd, AvahiWatchEvent, void* impl) {
  auto* self = static_cast<TImpl*>(impl);
  std::string packet(MAX_ANSWER_BYTES, '\0');
  for (;;) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    ssize_t size =
        recvfrom(fd, &packet[0], packet.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (size < 0) break;  // drained (or an error the next tick will meet again)
    if (from.sin_port != htons(MDNS_PORT)) continue;
    std::string answer = packet.substr(0, static_cast<size_t>(size));
    for (TFound& entry : self->found)
      if (entry.resolved && entry.ip == from.sin_addr.s_addr && AnswersQuery(answer, entry.probeId))
        entry.liveness.Answered(MilliSecs());
  }
  if (self->browser) self->Publish(BROWSE_RUNNING);
}

// Makes the rooms now present and alive the published list, and tells the
// listener when the list or the state changed.
void TLocalRoomBrowser::TImpl::Publish(TState newState) {
  std::vector<TLocalRoom> present;
  int32_t now = MilliSecs();
  for (const TFound& entry : found) {
    if (!entry.resolved || !entry.liveness.Alive(now, PROBE_SILENCE_MS)) continue;
    present.push_back(entry.room);
    present.back().answering = entry.liveness.HasAnswered();
  }
  std::sort(present.begin(), present.end(), RoomOrder);
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (state == newState && rooms == present) return;
    state = newState;
    rooms = std::move(present);
  }
  if (listener) listener();
}

TLocalRoomBrowser::TLocalRoomBrowser(const std::string& gameKey, TListener listener)
    : _impl(std::make_unique<TImpl>(gameKey, std::move(listener))) {
  _impl->Start();
}

TLocalRoomBrowser::~TLocalRoomBrowser() = default;

TLocalRoomBrowser::TState TLocalRoomBrowser::State() const {
  std::lock_guard<std::mutex> lock(_impl->mutex);
  return _impl->state;
}

std::vector<TLocalRoom> TLocalRoomBrowser::Rooms() const {
  std::lock_guard<std::mutex> lock(_impl->mutex);
  return _impl->rooms;
}
