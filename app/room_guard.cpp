#include "app/room_guard.h"

#include <string>

#include "app/chat.h"
#include "app/room_model.h"
#include "core/clock.h"

const TString SLOW_DOWN_NOTICE = u"** Please slow down: this room passes on at most " +
                                 FromBytes(std::to_string(LINES_PER_SECOND)) +
                                 u" lines a second, and some of yours were not passed on ";

namespace {

bool EndAll(const TGNetHostRef& host, const std::vector<int32_t>& connections) {
  bool ended = false;
  for (int32_t connection : connections) ended = EndConnection(host, connection) || ended;
  return ended;
}

}  // namespace

void TRoomGuard::PeerConnected(int32_t peer, const TNetAddress& address) {
  GuestConnected(book_, peer, address.ip, MilliSecs());
}

void TRoomGuard::PeerDisconnected(int32_t peer) { GuestGone(book_, peer); }

TGuardRuling TRoomGuard::Judge(TGNetArrival& arrival) {
  static const TString kNone;
  const TString& addresseeRole = arrival.kind == TArrivalKind::Message && arrival.object
                                     ? arrival.object->GetString(SLOT_ROLE)
                                     : kNone;
  return JudgeArrival(book_, arrival, addresseeRole, MilliSecs());
}

bool TRoomGuard::Enforce(const TGNetHostRef& host) {
  std::vector<int32_t> toEnd = std::move(book_.toEnd), owed = std::move(book_.owedNotice);
  book_.toEnd.clear();
  book_.owedNotice.clear();
  bool acted = !owed.empty();
  if (!owed.empty()) {
    TGNetObjectRef notice = NewMessageObject(host);
    SetSlotString(notice, 0, u"MSG");
    SetSlotString(notice, SLOT_TEXT, SLOW_DOWN_NOTICE);
    SetSlotInt(notice, SLOT_STYLE, MSG_STAMP);
    for (const TGNetObjectRef& obj : ReplicatedObjects(host, OBJ_ALL)) {
      int32_t from = ObjectConnection(obj);
      if (from == 0 || !IsParticipantRole(GetSlotString(obj, SLOT_ROLE))) continue;
      for (int32_t connection : owed)
        if (connection == from) SendMessageObject(notice, obj);
    }
  }
  return EndAll(host, toEnd) || acted;
}

bool TRoomGuard::Sweep(const TGNetHostRef& host) {
  return EndAll(host, OverstayingGuests(book_, MilliSecs()));
}

void TRoomGuard::Kicked(int32_t connection) { GuestKicked(book_, connection, MilliSecs()); }
