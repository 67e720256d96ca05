// Where a room is, as text: what the room browser hands the main cycle (a
// lobby's address text, a local room's address, or what the user typed) and
// the address a participant shows the room. Plain functions over plain data,
// safe on any thread. Addresses are IPv4 in an int32 whose most significant
// byte is the first octet of the dotted form (as in lobby/socket.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/text.h"

// The UDP port a room's host listens on, and where guests join unless an
// address says otherwise.
constexpr int ROOM_PORT = 42000;

// A room's host name (or dotted address) and UDP port.
struct TRoomAddress {
  std::string host;
  int port = 0;
  bool valid = false;  // a host was given, and the port (if any) is 1 to 65535
};

// "host" or "host:port", spaces around it ignored; `defaultPort` when no
// port is given. Not valid: an empty host, a host with spaces or control
// characters in it, or a port that is not a number from 1 to 65535.
TRoomAddress ParseRoomAddress(const TString& text, int defaultPort);
// The text ParseRoomAddress reads back: "host", or "host:port" when the port
// is not `defaultPort`.
TString RoomAddressText(const std::string& host, int port, int defaultPort);

// Loopback, link-local, the private ranges and the carrier-grade NAT range:
// addresses that lead only within a local network (or one provider's).
bool IsPrivateIp(int32_t ip);

// The address text a participant shows the room it enters. The room takes
// participants with the same address for one connection, so the text must
// tell this machine apart from the others the host sees. Across the internet
// that is the address the lobby saw this machine at (`lobbySeen`), which is
// where the host sees it come from too. Over a local network (the host's
// address is a private one, or the host is behind the same public address as
// this machine) it is this machine's own address toward the host
// (`localIp`), as it is without an answer from the lobby. `hostIp` 0 means
// this machine hosts: the lobby's answer, else the own address. `localIp` 0
// stands for no address: "".
TString ParticipantAddress(const TString& lobbySeen, int32_t hostIp, int32_t localIp);
