#include "lobby/local_room_publisher.h"

#include <mutex>
#include <vector>

#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include "lobby/avahi_link.h"
#include "lobby/local_room.h"

namespace {

// Names tried on this machine before giving up (each clash picks the next).
constexpr int MAX_RENAMES = 20;

AvahiStringList* TxtList(const std::vector<std::string>& txt) {
  AvahiStringList* list = nullptr;
  for (auto entry = txt.rbegin(); entry != txt.rend(); ++entry)  // the list grows at its head
    list = avahi_string_list_add_arbitrary(list, reinterpret_cast<const uint8_t*>(entry->data()),
                                           entry->size());
  return list;
}

}  // namespace

struct TLocalRoomPublisher::TImpl {
  TImpl(const std::string& roomName, int port_, const std::string& gameKey, TListener listener_)
      : port(port_),
        txt(LocalRoomTxt(gameKey)),
        listener(std::move(listener_)),
        link([this](TAvahiLink::TLinkState state, AvahiClient* client) {
          LinkChanged(state, client);
        }) {
    status.name = LocalRoomInstanceName(roomName);
    name = status.name;
  }
  // Once the owner holds the object: the listener may ask for the status.
  void Start() {
    if (link.Start()) return;
    std::lock_guard<std::mutex> lock(mutex);
    status.state = PUBLISH_UNAVAILABLE;
  }
  ~TImpl() { link.Stop(); }

  void LinkChanged(TAvahiLink::TLinkState state, AvahiClient* client);
  void Add(AvahiClient* client);
  bool AddService();
  static void GroupChanged(AvahiEntryGroup* group, AvahiEntryGroupState state, void* impl);
  void Rename();
  void Report(TState state);

  // Link thread only.
  std::string name;
  int port;
  std::vector<std::string> txt;
  AvahiEntryGroup* group = nullptr;

  TListener listener;
  mutable std::mutex mutex;  // guards status
  TStatus status;
  TAvahiLink link;  // last: it calls back into the members above
};

void TLocalRoomPublisher::TImpl::LinkChanged(TAvahiLink::TLinkState state, AvahiClient* client) {
  switch (state) {
    case TAvahiLink::LINK_DOWN:
      group = nullptr;  // freed with the client
      Report(PUBLISH_UNAVAILABLE);
      break;
    case TAvahiLink::LINK_PAUSED:
      if (group) avahi_entry_group_reset(group);
      Report(PUBLISH_WAITING);
      break;
    case TAvahiLink::LINK_RUNNING:
      Add(client);
      break;
  }
}

void TLocalRoomPublisher::TImpl::Add(AvahiClient* client) {
  if (!group) group = avahi_entry_group_new(client, GroupChanged, this);
  if (!group) return Report(PUBLISH_FAILED);
  if (!avahi_entry_group_is_empty(group)) return;  // already handed over
  Report(AddService() ? PUBLISH_WAITING : PUBLISH_FAILED);
}

// Adds the service to the empty group and commits it; a name this machine
// already publishes is replaced by the next one.
bool TLocalRoomPublisher::TImpl::AddService() {
  for (int attempt = 0; attempt < MAX_RENAMES; ++attempt) {
    AvahiStringList* list = TxtList(txt);
    int result = avahi_entry_group_add_service_strlst(
        group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, static_cast<AvahiPublishFlags>(0), name.c_str(),
        LOCAL_ROOM_SERVICE_TYPE, nullptr, nullptr, static_cast<uint16_t>(port), list);
    avahi_string_list_free(list);
    if (result == AVAHI_ERR_COLLISION) {
      Rename();
      continue;
    }
    return result >= 0 && avahi_entry_group_commit(group) >= 0;
  }
  return false;
}

void TLocalRoomPublisher::TImpl::GroupChanged(AvahiEntryGroup* changed, AvahiEntryGroupState state,
                                              void* impl) {
  auto* self = static_cast<TImpl*>(impl);
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      self->Report(PUBLISH_DONE);
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another machine holds the name: take the next one and publish again.
      self->Rename();
      avahi_entry_group_reset(changed);
      self->Add(avahi_entry_group_get_client(changed));
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      self->Report(PUBLISH_FAILED);
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
      break;
  }
}

void TLocalRoomPublisher::TImpl::Rename() {
  char* next = avahi_alternative_service_name(name.c_str());
  if (next) name = next;
  avahi_free(next);
}

void TLocalRoomPublisher::TImpl::Report(TState state) {
  TStatus now{state, name};
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (status.state == now.state && status.name == now.name) return;
    status = now;
  }
  if (listener) listener(now);
}

TLocalRoomPublisher::TLocalRoomPublisher(const std::string& roomName, int port,
                                         const std::string& gameKey, TListener listener)
    : _impl(std::make_unique<TImpl>(roomName, port, gameKey, std::move(listener))) {
  _impl->Start();
}

TLocalRoomPublisher::~TLocalRoomPublisher() = default;

TLocalRoomPublisher::TStatus TLocalRoomPublisher::Status() const {
  std::lock_guard<std::mutex> lock(_impl->mutex);
  return _impl->status;
}
