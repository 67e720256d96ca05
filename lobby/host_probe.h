// Whether a room's host is there, asked the way a guest would start to join,
// but without joining. A room host is an ENet host listening on the room
// port; the probe sends it the first datagram of a connection (CONNECT), and
// a host that is there answers with the second (VERIFY_CONNECT). The probe
// never sends the third (the acknowledgement that completes the connection):
// it answers with DISCONNECT instead, which the host takes as a connection
// called off before it was made. So the host's program never learns of the
// probe, and the peer slot the host set aside is free again after one round
// trip (or, should the DISCONNECT be lost, at the host's next repeat of its
// answer, which is met with another DISCONNECT).
//
// Plain functions over datagrams: no sockets, any thread. The datagrams are
// ENet's protocol version 1.3, without checksums or compression, as the
// room's own host uses it.
#pragma once

#include <cstdint>
#include <string>

// What a host's answer says about the connection it set aside.
struct THostProbeAnswer {
  uint16_t peerId = 0;     // the host's slot for the probe
  uint8_t sessionId = 0;   // the session the host expects from the probe
  uint32_t connectId = 0;  // the probe's own number, echoed
};

// The CONNECT datagram of a probe numbered `connectId` (each probe its own
// number: a host ignores a repeat of a number it is still answering).
std::string HostProbeConnect(uint32_t connectId);
// True when `datagram` is a host's VERIFY_CONNECT; `answer` then holds it.
bool ReadHostProbeAnswer(const std::string& datagram, THostProbeAnswer& answer);
// The DISCONNECT that calls off the connection `answer` set aside.
std::string HostProbeRelease(const THostProbeAnswer& answer);
