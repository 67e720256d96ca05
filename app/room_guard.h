// The hosting room's guard on its replication host: every arrival from a
// guest goes through the room's rules (room_rules.h) before the host
// applies or relays it, and the room then carries out what the rules asked
// for: slow-down notices, and ending the connections of guests that were
// replaced, never joined, left without going, or ignored a kick.
//
// Made by a hosting room at entry and handed to its replication host; main
// thread only. Reads the millisecond clock; the rules themselves do not.
#pragma once

#include <memory>

#include "app/room_rules.h"
#include "replication/replication.h"

// What a guest whose lines were dropped for their rate is told, once for
// each spell of too many lines; the receiver adds the time stamp.
extern const TString SLOW_DOWN_NOTICE;

class TRoomGuard : public TGNetGuard {
 public:
  void PeerConnected(int32_t peer, const TNetAddress& address) override;
  void PeerDisconnected(int32_t peer) override;
  TGuardRuling Judge(TGNetArrival& arrival) override;

  // After a sync: ends the connections the rules gave up on and sends the
  // notices they owe. Returns whether it did anything: a sync then sends it
  // (and the ended connections' objects have closed).
  bool Enforce(const TGNetHostRef& host);
  // Once a second: ends the connections that overstayed; whether any.
  bool Sweep(const TGNetHostRef& host);
  // The host sent a kick to the participant of `connection`.
  void Kicked(int32_t connection);

  const TGuardBook& Book() const { return book_; }

 private:
  TGuardBook book_;
};
