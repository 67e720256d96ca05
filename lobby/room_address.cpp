#include "lobby/room_address.h"

#include "lobby/socket.h"

namespace {

bool IsDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

bool HasSpaceOrControl(const std::string& text) {
  for (unsigned char c : text)
    if (c <= 32 || c == 127) return true;
  return false;
}

bool InRange(int32_t ip, uint32_t network, int prefixBits) {
  uint32_t mask = prefixBits == 0 ? 0 : ~uint32_t{0} << (32 - prefixBits);
  return (static_cast<uint32_t>(ip) & mask) == network;
}

}  // namespace

TRoomAddress ParseRoomAddress(const TString& text, int defaultPort) {
  TRoomAddress address;
  std::string written = ToBytes(TrimText(text));
  size_t colon = written.rfind(':');
  address.host = written.substr(0, colon);
  address.port = defaultPort;
  if (colon != std::string::npos) {
    std::string port = written.substr(colon + 1);
    if (!IsDigits(port) || port.size() > 5) return address;
    address.port = std::stoi(port);
  }
  address.valid = !address.host.empty() && !HasSpaceOrControl(address.host) &&
                  address.host.find(':') == std::string::npos && address.port >= 1 &&
                  address.port <= 65535;
  return address;
}

TString RoomAddressText(const std::string& host, int port, int defaultPort) {
  if (port == defaultPort) return FromBytes(host);
  return FromBytes(host + ":" + std::to_string(port));
}

bool IsPrivateIp(int32_t ip) {
  return InRange(ip, 0x0A000000, 8) || InRange(ip, 0xAC100000, 12) ||
         InRange(ip, 0xC0A80000, 16) || InRange(ip, 0x7F000000, 8) ||
         InRange(ip, 0xA9FE0000, 16) || InRange(ip, 0x64400000, 10);
}

TString ParticipantAddress(const TString& lobbySeen, int32_t hostIp, int32_t localIp) {
  TString own = localIp ? FromBytes(DottedIp(localIp)) : TString();
  if (lobbySeen.empty()) return own;
  if (hostIp == 0) return lobbySeen;
  bool sameLocalNetwork = IsPrivateIp(hostIp) || lobbySeen == FromBytes(DottedIp(hostIp));
  return sameLocalNetwork ? own : lobbySeen;
}
