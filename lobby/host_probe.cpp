#include "lobby/host_probe.h"

#include <arpa/inet.h>

#include <cstring>

#include <enet/enet.h>

namespace {

// The probe's own slot number, which the host writes into its answers.
constexpr uint16_t PROBE_PEER_ID = 0;
// The session numbers of a fresh connection: the host picks the real ones.
constexpr uint8_t NO_SESSION = 0xFF;
// Commands that belong to no channel (connecting, disconnecting).
constexpr uint8_t NO_CHANNEL = 0xFF;

template <typename T>
void Append(std::string& datagram, const T& part) {
  datagram.append(reinterpret_cast<const char*>(&part), sizeof part);
}

template <typename T>
bool ReadAt(const std::string& datagram, size_t offset, T& part) {
  if (datagram.size() < offset + sizeof part) return false;
  std::memcpy(&part, datagram.data() + offset, sizeof part);
  return true;
}

}  // namespace

std::string HostProbeConnect(uint32_t connectId) {
  ENetProtocolHeader header{};
  header.peerID = htons(ENET_PROTOCOL_MAXIMUM_PEER_ID | ENET_PROTOCOL_HEADER_FLAG_SENT_TIME);
  header.sentTime = 0;
  ENetProtocolConnect connect{};
  connect.header.command = ENET_PROTOCOL_COMMAND_CONNECT | ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE;
  connect.header.channelID = NO_CHANNEL;
  connect.header.reliableSequenceNumber = htons(1);
  connect.outgoingPeerID = htons(PROBE_PEER_ID);
  connect.incomingSessionID = NO_SESSION;
  connect.outgoingSessionID = NO_SESSION;
  connect.mtu = htonl(ENET_HOST_DEFAULT_MTU);
  connect.windowSize = htonl(ENET_PROTOCOL_MAXIMUM_WINDOW_SIZE);
  connect.channelCount = htonl(1);
  connect.packetThrottleInterval = htonl(ENET_PEER_PACKET_THROTTLE_INTERVAL);
  connect.packetThrottleAcceleration = htonl(ENET_PEER_PACKET_THROTTLE_ACCELERATION);
  connect.packetThrottleDeceleration = htonl(ENET_PEER_PACKET_THROTTLE_DECELERATION);
  connect.connectID = connectId;  // opaque to the host: echoed as it came
  std::string datagram;
  Append(datagram, header);
  Append(datagram, connect);
  return datagram;
}

bool ReadHostProbeAnswer(const std::string& datagram, THostProbeAnswer& answer) {
  uint16_t peerField = 0;
  if (!ReadAt(datagram, 0, peerField)) return false;
  peerField = ntohs(peerField);
  if (peerField & ENET_PROTOCOL_HEADER_FLAG_COMPRESSED) return false;
  size_t offset = (peerField & ENET_PROTOCOL_HEADER_FLAG_SENT_TIME) ? sizeof(ENetProtocolHeader)
                                                                    : sizeof(uint16_t);
  // An acknowledgement may come first; the answer is the first other command.
  ENetProtocolCommandHeader command{};
  while (ReadAt(datagram, offset, command) &&
         (command.command & ENET_PROTOCOL_COMMAND_MASK) == ENET_PROTOCOL_COMMAND_ACKNOWLEDGE)
    offset += sizeof(ENetProtocolAcknowledge);
  ENetProtocolVerifyConnect verify{};
  if (!ReadAt(datagram, offset, verify) ||
      (verify.header.command & ENET_PROTOCOL_COMMAND_MASK) != ENET_PROTOCOL_COMMAND_VERIFY_CONNECT)
    return false;
  answer.peerId = ntohs(verify.outgoingPeerID);
  answer.sessionId = verify.outgoingSessionID;
  answer.connectId = verify.connectID;
  return answer.peerId < ENET_PROTOCOL_MAXIMUM_PEER_ID;
}

std::string HostProbeRelease(const THostProbeAnswer& answer) {
  uint16_t session = static_cast<uint16_t>(answer.sessionId << ENET_PROTOCOL_HEADER_SESSION_SHIFT) &
                     ENET_PROTOCOL_HEADER_SESSION_MASK;
  uint16_t peerField = htons(static_cast<uint16_t>(answer.peerId | session));
  ENetProtocolDisconnect disconnect{};
  disconnect.header.command =
      ENET_PROTOCOL_COMMAND_DISCONNECT | ENET_PROTOCOL_COMMAND_FLAG_UNSEQUENCED;
  disconnect.header.channelID = NO_CHANNEL;
  disconnect.header.reliableSequenceNumber = htons(2);
  std::string datagram;
  Append(datagram, peerField);  // no send time: nothing here asks for an acknowledgement
  Append(datagram, disconnect);
  return datagram;
}
