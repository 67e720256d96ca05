// Whether a room found on the local network is still there. Multicast DNS
// keeps a record for as long as its time to live (over an hour for the
// service list) unless its host says goodbye, and a host that loses its
// network or its power says nothing. So the browser asks each room's host
// directly: one DNS query for the room's SRV record, sent by unicast to the
// host's multicast DNS port from an ordinary port, which a responder answers
// straight back ("legacy unicast"). Plain functions and data; any thread.
#pragma once

#include <cstdint>
#include <string>

constexpr int MDNS_PORT = 5353;

// The query's bytes for the SRV record of `instance`.`type`.`domain` (type
// and domain as dot-separated labels, for example "_colloquor._udp" and
// "local"), or "" when the name cannot be written: an empty or over-long
// label, a name over 255 bytes, or an escaped domain (a backslash).
std::string SrvQuery(uint16_t id, const std::string& instance, const std::string& type,
                     const std::string& domain);

// True when `packet` is a response to the query `id` that reports no error and
// carries at least one answer.
bool AnswersQuery(const std::string& packet, uint16_t id);

// The liveness of one room. A room counts as alive until it has answered
// once: some hosts' firewalls pass multicast DNS but not unicast queries, and
// for those the network's own expiry is all there is. Once it has answered,
// it is alive while its last answer is younger than `timeoutMs`. Times are
// MilliSecs readings (core/clock.h).
class TRoomLiveness {
 public:
  void Answered(int32_t nowMs);
  bool Alive(int32_t nowMs, int32_t timeoutMs) const;
  bool HasAnswered() const { return _answered; }

 private:
  bool _answered = false;
  int32_t _lastAnswerMs = 0;
};
