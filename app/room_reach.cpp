#include "app/room_reach.h"

#include "app/chat.h"
#include "app/program_state.h"
#include "app/reach_notes.h"
#include "lobby/local_room_publisher.h"
#include "lobby/port_forward.h"
#include "lobby/room_address.h"

struct TRoomReach::TImpl {
  TImpl(const TString& roomName, const TString& gameName, TAnnouncement announcement_)
      : announcement(std::move(announcement_)),
        notes(LobbyLocation(), gameName),
        publisher(std::make_shared<TLocalRoomPublisher>(ToBytes(roomName), ROOM_PORT,
                                                        ToBytes(gameName))),
        forward(std::make_shared<TPortForward>(ROOM_PORT)) {}

  TAnnouncement announcement;
  TReachNotes notes;
  // Shared with the task that ends them, which may outlive this object.
  std::shared_ptr<TLocalRoomPublisher> publisher;
  std::shared_ptr<TPortForward> forward;
};

TRoomReach::TRoomReach(const TString& roomName, const TString& gameName,
                       TAnnouncement announcement)
    : impl_(std::make_unique<TImpl>(roomName, gameName, std::move(announcement))) {}

TRoomReach::~TRoomReach() { End(); }

std::vector<TString> TRoomReach::TakeNotes() {
  TImpl& r = *impl_;
  if (!r.publisher) return {};
  TReachNews news;
  if (r.announcement && r.announcement->Done()) news.lobby = r.announcement->Result();
  news.published = r.publisher->Status().state;
  news.forward = r.forward->Status();
  std::vector<TString> lines;
  for (const TString& line : r.notes.Take(news))
    lines.push_back(u"** " + line + u" " + Timestamp() + u"\n");
  return lines;
}

TBackgroundTaskRef TRoomReach::End() {
  TImpl& r = *impl_;
  if (!r.publisher) return nullptr;
  auto publisher = std::move(r.publisher);
  auto forward = std::move(r.forward);
  return TBackground<int>::Start([publisher, forward](const TBackgroundTask&) mutable {
    publisher.reset();
    forward->Remove(FORWARD_REMOVE_MS);
    forward.reset();
    return 0;
  });
}

std::vector<TString> TakeReachNotes() {
  const std::shared_ptr<TRoomReach>& reach = Program().reach;
  return reach ? reach->TakeNotes() : std::vector<TString>();
}
