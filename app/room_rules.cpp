#include "app/room_rules.h"

#include <algorithm>

#include "app/chat.h"
#include "app/room_model.h"
#include "core/clock.h"

namespace {

constexpr uint32_t kParticipantSlots =
    1u << SLOT_ROLE | 1u << SLOT_NAME | 1u << SLOT_SIDE | 1u << SLOT_ADDRESS | 1u << SLOT_AGE;
constexpr uint32_t kMessageSlots = 1u << 0 | 1u << SLOT_TEXT | 1u << SLOT_STYLE;

const TGuardRuling kAccepted = TGuardRuling::Accepted();
const TGuardRuling kForbidden = TGuardRuling::Refused(TDropReason::Forbidden);
const TGuardRuling kOverQuota = TGuardRuling::Refused(TDropReason::OverQuota);
const TGuardRuling kTooFast = TGuardRuling::Refused(TDropReason::TooFast);

// Refills the bucket for the time since its last use; whether it is full.
bool Refill(TTokenBucket& bucket, int32_t perSecond, int32_t burst, int32_t now) {
  const int64_t full = int64_t{burst} * 1000;
  if (bucket.milliTokens < 0) {
    bucket.milliTokens = full;
  } else {
    int64_t elapsed = std::max<int32_t>(0, ClockElapsed(now, bucket.at));
    bucket.milliTokens = std::min(full, bucket.milliTokens + elapsed * perSecond);
  }
  bucket.at = now;
  return bucket.milliTokens == full;
}

bool Take(TTokenBucket& bucket) {
  if (bucket.milliTokens < 1000) return false;
  bucket.milliTokens -= 1000;
  return true;
}

bool IsString(const TGNetArrival& a, int slot) { return a.slots[slot]._type == SLOT_STRING; }

bool IsInt(const TGNetArrival& a, int slot) {
  int32_t type = a.slots[slot]._type;
  return type == SLOT_INT32 || type == SLOT_UINT8 || type == SLOT_UINT16;
}

bool Writes(const TGNetArrival& a, int slot) { return (a.written & (1u << slot)) != 0; }

const TString& Text(const TGNetArrival& a, int slot) { return a.slots[slot]._string; }

bool ValidSide(const TGNetArrival& a) {
  return IsInt(a, SLOT_SIDE) && a.slots[SLOT_SIDE]._int >= SIDE_RED &&
         a.slots[SLOT_SIDE]._int <= SIDE_BLUE;
}

// A name shows in chat prefixes and lists: no control characters or
// spaces, and neither the host's mark nor the prefix's colon.
bool NameCharacters(const TString& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char16_t c) {
    return c > u' ' && c != 127 && c != u'*' && c != u':';
  });
}

// A line break or other control character would let a line pass for others
// of the log (tabs are typed text).
bool PlainText(const TString& text) {
  return std::none_of(text.begin(), text.end(),
                      [](char16_t c) { return (c < u' ' && c != u'\t') || c == 127; });
}

// The position after `name` at `at` in `text`, followed by up to
// NAME_SUFFIX_LIMIT digits (a rename the host has not heard of yet), or npos.
size_t AfterName(const TString& text, size_t at, const TString& name) {
  if (text.compare(at, name.size(), name) != 0) return TString::npos;
  size_t end = at + name.size();
  size_t digits = 0;
  while (end < text.size() && text[end] >= u'0' && text[end] <= u'9' &&
         digits < NAME_SUFFIX_LIMIT) {
    ++end;
    ++digits;
  }
  return end;
}

// A chat line: "<name>: <text>" in a side's colour.
TGuardRuling ChatLineRuling(const TString& line, const TString& name) {
  static const TString kColon = u": ";
  size_t at = AfterName(line, 0, name);
  if (at == TString::npos || line.compare(at, kColon.size(), kColon) != 0) return kForbidden;
  if (!PlainText(line)) return kForbidden;
  if (line.size() - at - kColon.size() > CHAT_TEXT_LIMIT) return kOverQuota;
  return kAccepted;
}

// A request: exactly the text the room builds for the guest's name.
TGuardRuling RequestRuling(const TString& text, const TString& name) {
  static const TString kOpening = u"** ";
  static const TString kExtension = ExtensionRequest(u"").substr(kOpening.size());
  static const TString kTopic = TopicChangeRequest(u"").substr(kOpening.size());
  if (text.compare(0, kOpening.size(), kOpening) != 0) return kForbidden;
  size_t at = AfterName(text, kOpening.size(), name);
  if (at == TString::npos) return kForbidden;
  TString rest = text.substr(at);
  return rest == kExtension || rest == kTopic ? kAccepted : kForbidden;
}

TGuardRuling CreationRuling(TGuardBook& book, int32_t connection, TGuestRecord& guest,
                            const TGNetArrival& a) {
  if (guest.joined) return kOverQuota;  // one participant per connection
  if ((a.written & ~kParticipantSlots) != 0) return kForbidden;
  if (!IsString(a, SLOT_ROLE) || Text(a, SLOT_ROLE) != ROLE_GUEST) return kForbidden;
  if (!IsString(a, SLOT_NAME) || !NameCharacters(Text(a, SLOT_NAME))) return kForbidden;
  if (Text(a, SLOT_NAME).size() > GUEST_NAME_LIMIT) return kOverQuota;
  if (Writes(a, SLOT_SIDE) && !ValidSide(a)) return kForbidden;
  if (Writes(a, SLOT_AGE) && !IsInt(a, SLOT_AGE)) return kForbidden;
  if (Writes(a, SLOT_ADDRESS) && !IsString(a, SLOT_ADDRESS)) return kForbidden;
  const TString& address = Text(a, SLOT_ADDRESS);
  if (address.size() > ADDRESS_LIMIT) return kOverQuota;
  // Guests compare this address with their own and leave on a match: one
  // from elsewhere on the network may not take a present guest's; one from
  // the same network address is that guest back (after a crash) or another
  // user behind its address, and takes its place.
  std::vector<int32_t> replaced;
  for (const auto& [other, record] : book.guests) {
    if (other == connection || record.participant == 0 || record.leaving) continue;
    if (record.address != address) continue;
    if (record.ip != guest.ip) return kForbidden;
    replaced.push_back(other);
  }
  book.toEnd.insert(book.toEnd.end(), replaced.begin(), replaced.end());
  guest.joined = true;
  guest.participant = a.id;
  guest.name = Text(a, SLOT_NAME);
  guest.address = address;
  return kAccepted;
}

// A rename keeps the name and adds digits (the younger of two namesakes).
bool ValidRename(const TString& from, const TString& to) {
  if (to == from) return true;
  if (to.size() <= from.size() || to.size() - from.size() > NAME_SUFFIX_LIMIT) return false;
  return to.compare(0, from.size(), from) == 0 &&
         std::all_of(to.begin() + from.size(), to.end(),
                     [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

TGuardRuling UpdateRuling(TGuestRecord& guest, const TGNetArrival& a, int32_t now) {
  if (a.id != guest.participant) return kForbidden;
  if ((a.written & ~kParticipantSlots) != 0) return kForbidden;
  bool clearsRole = false;
  if (Writes(a, SLOT_ROLE)) {
    if (!IsString(a, SLOT_ROLE)) return kForbidden;
    clearsRole = Text(a, SLOT_ROLE).empty();
    if (!clearsRole && (Text(a, SLOT_ROLE) != ROLE_GUEST || guest.leaving)) return kForbidden;
  }
  if (Writes(a, SLOT_NAME) &&
      (!IsString(a, SLOT_NAME) || !ValidRename(guest.name, Text(a, SLOT_NAME))))
    return kForbidden;
  if (Writes(a, SLOT_SIDE) && !ValidSide(a)) return kForbidden;
  if (Writes(a, SLOT_ADDRESS) &&
      (!IsString(a, SLOT_ADDRESS) || Text(a, SLOT_ADDRESS) != guest.address))
    return kForbidden;
  if (Writes(a, SLOT_AGE) && !IsInt(a, SLOT_AGE)) return kForbidden;
  Refill(guest.updates, UPDATES_PER_SECOND, UPDATE_BURST, now);
  if (!Take(guest.updates)) return kTooFast;
  if (Writes(a, SLOT_NAME)) guest.name = Text(a, SLOT_NAME);
  if (clearsRole && !guest.leaving) {
    guest.leaving = true;
    guest.since = now;
  }
  return kAccepted;
}

TGuardRuling MessageRuling(TGuardBook& book, int32_t connection, TGuestRecord& guest,
                           const TGNetArrival& a, const TString& addresseeRole, int32_t now) {
  if (guest.participant == 0 || guest.leaving || guest.kicked) return kForbidden;
  if (!IsParticipantRole(addresseeRole)) return kForbidden;
  if ((a.written & ~kMessageSlots) != 0 || !IsString(a, 0) || Text(a, 0) != u"MSG")
    return kForbidden;
  if (!IsString(a, SLOT_TEXT) || !IsInt(a, SLOT_STYLE)) return kForbidden;
  const TString& text = Text(a, SLOT_TEXT);
  int32_t style = a.slots[SLOT_STYLE]._int;
  TGuardRuling form = style == SIDE_RED || style == SIDE_BLUE ? ChatLineRuling(text, guest.name)
                      : style == MSG_STAMP                    ? RequestRuling(text, guest.name)
                                                              : kForbidden;
  if (form.verdict != TGuardVerdict::Accept) return form;
  // The copies of one line arrive one after another, one per participant;
  // the line is counted once, and its copies share its fate.
  TLineCopies& line = guest.line;
  bool copy =
      line.text == text && line.style == style &&
      std::find(line.addressees.begin(), line.addressees.end(), a.id) == line.addressees.end();
  if (copy) {
    line.addressees.push_back(a.id);
    return line.accepted ? kAccepted : kTooFast;
  }
  line = {text, style, false, {a.id}};
  if (Refill(guest.lines, LINES_PER_SECOND, LINE_BURST, now)) guest.warned = false;
  line.accepted = Take(guest.lines);
  if (line.accepted) return kAccepted;
  if (!guest.warned) {
    guest.warned = true;
    book.owedNotice.push_back(connection);
  }
  return kTooFast;
}

}  // namespace

void GuestConnected(TGuardBook& book, int32_t connection, uint32_t ip, int32_t now) {
  TGuestRecord& guest = book.guests[connection] = TGuestRecord();
  guest.ip = ip;
  guest.since = now;
}

void GuestGone(TGuardBook& book, int32_t connection) { book.guests.erase(connection); }

void GuestKicked(TGuardBook& book, int32_t connection, int32_t now) {
  auto it = book.guests.find(connection);
  if (it == book.guests.end() || it->second.kicked) return;
  it->second.kicked = true;
  it->second.kickedAt = now;
}

TGuardRuling JudgeArrival(TGuardBook& book, const TGNetArrival& arrival,
                          const TString& addresseeRole, int32_t now) {
  auto it = book.guests.find(arrival.peer);
  if (it == book.guests.end()) {
    GuestConnected(book, arrival.peer, arrival.address.ip, now);
    it = book.guests.find(arrival.peer);
  }
  TGuestRecord& guest = it->second;
  switch (arrival.kind) {
    case TArrivalKind::Creation:
      return CreationRuling(book, arrival.peer, guest, arrival);
    case TArrivalKind::Update:
      return UpdateRuling(guest, arrival, now);
    case TArrivalKind::Close:
      if (arrival.id == guest.participant) {
        guest.participant = 0;
        guest.since = now;
      }
      return kAccepted;
    case TArrivalKind::Message:
      return MessageRuling(book, arrival.peer, guest, arrival, addresseeRole, now);
  }
  return kForbidden;
}

std::vector<int32_t> OverstayingGuests(const TGuardBook& book, int32_t now) {
  std::vector<int32_t> overstaying;
  for (const auto& [connection, guest] : book.guests) {
    bool present = guest.participant != 0 && !guest.leaving;
    if ((guest.kicked && ClockElapsed(now, guest.kickedAt) > KICK_GRACE_MS) ||
        (!present && ClockElapsed(now, guest.since) > PARTICIPANT_DEADLINE_MS))
      overstaying.push_back(connection);
  }
  return overstaying;
}
