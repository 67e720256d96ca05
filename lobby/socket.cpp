#include "lobby/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in MakeAddress(int32_t ip, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(static_cast<uint32_t>(ip));
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// Waits up to timeoutMs (-1: forever) for `events`. An interrupted wait goes
// on for what is left of the time.
int PollFor(int fd, short events, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd entry{fd, events, 0};
  for (int wait = timeoutMs;;) {
    int ready = poll(&entry, 1, wait);
    if (ready >= 0 || errno != EINTR) return ready;
    if (timeoutMs < 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
}

}  // namespace

TSocket::TSocket(int descriptor, int autoClose) : _socket(descriptor), _autoClose(autoClose) {}

TSocket::~TSocket() { Close(); }

TSocketRef TSocket::Create(int descriptor, int autoClose) {
  if (descriptor < 0) return nullptr;
  TSocketRef socket(new TSocket(descriptor, autoClose));
  socket->UpdateLocalName();
  socket->UpdateRemoteName();
  return socket;
}

TSocketRef TSocket::CreateTCP() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? nullptr : Create(fd, 1);
}

TSocketRef TSocket::CreateUDP() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? nullptr : Create(fd, 1);
}

int TSocket::Send(const void* bytes, int count, int flags) {
  if (_socket < 0 || count <= 0) return 0;
  for (;;) {
    ssize_t sent = ::send(_socket, bytes, static_cast<size_t>(count), flags | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno != EINTR) return 0;
  }
}

int TSocket::Recv(void* buffer, int count, int flags) {
  if (_socket < 0 || count <= 0) return 0;
  for (;;) {
    ssize_t received = ::recv(_socket, buffer, static_cast<size_t>(count), flags);
    if (received >= 0) return static_cast<int>(received);
    if (errno != EINTR) return 0;
  }
}

void TSocket::Close() {
  if (_socket < 0) return;
  if (_autoClose == 1) ::close(_socket);
  _socket = _localIp = _localPort = _remoteIp = _remotePort = -1;
}

int TSocket::Connected() {
  if (_socket < 0) return 0;
  if (PollFor(_socket, POLLIN, 0) <= 0 || ReadAvail() > 0) return 1;
  Close();
  return 0;
}

int TSocket::Bind(int32_t ip, int port) {
  if (_socket < 0) return 0;
  sockaddr_in address = MakeAddress(ip, port);
  if (::bind(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
  UpdateLocalName();
  return 1;
}

int TSocket::Connect(int32_t ip, int port) {
  if (_socket < 0) return 0;
  sockaddr_in address = MakeAddress(ip, port);
  if (::connect(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    // An interrupted connect goes on in the background; wait for its outcome.
    if (errno != EINTR || PollFor(_socket, POLLOUT, -1) <= 0) return 0;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(_socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return 0;
  }
  UpdateLocalName();
  UpdateRemoteName();
  return 1;
}

int TSocket::Connect(int32_t ip, int port, int timeoutMs) {
  if (_socket < 0) return 0;
  int flags = fcntl(_socket, F_GETFL);
  if (flags < 0 || fcntl(_socket, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
  sockaddr_in address = MakeAddress(ip, port);
  bool connected = ::connect(_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR) &&
      PollFor(_socket, POLLOUT, timeoutMs < 0 ? 0 : timeoutMs) > 0) {
    int error = 0;
    socklen_t length = sizeof error;
    connected = getsockopt(_socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  }
  if (fcntl(_socket, F_SETFL, flags) != 0) connected = false;
  if (!connected) return 0;
  UpdateLocalName();
  UpdateRemoteName();
  return 1;
}

int TSocket::Listen(int backlog) {
  if (_socket < 0) return 0;
  return ::listen(_socket, backlog) == 0 ? 1 : 0;
}

TSocketRef TSocket::Accept(int timeoutMs) {
  if (_socket < 0 || PollFor(_socket, POLLIN, timeoutMs) <= 0) return nullptr;
  return Create(::accept4(_socket, nullptr, nullptr, SOCK_CLOEXEC), 1);
}

int TSocket::ReadAvail() {
  int available = 0;
  if (_socket < 0 || ioctl(_socket, FIONREAD, &available) != 0) return 0;
  return available;
}

int TSocket::SetTCPNoDelay(int enable) {
  if (_socket < 0) return 0;
  int value = enable ? 1 : 0;
  return setsockopt(_socket, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0 ? 1 : 0;
}

int TSocket::SendTo(const void* bytes, int count, int32_t ip, int port) {
  if (_socket < 0 || count <= 0) return 0;
  sockaddr_in address = MakeAddress(ip, port);
  for (;;) {
    ssize_t sent = ::sendto(_socket, bytes, static_cast<size_t>(count), MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (sent >= 0) return sent == count ? 1 : 0;
    if (errno != EINTR) return 0;
  }
}

int TSocket::ReceiveFrom(void* buffer, int count, int32_t& ip, int& port) {
  if (_socket < 0 || count <= 0) return -1;
  for (;;) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ssize_t received = ::recvfrom(_socket, buffer, static_cast<size_t>(count), MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr*>(&address), &length);
    if (received >= 0) {
      ip = static_cast<int32_t>(ntohl(address.sin_addr.s_addr));
      port = ntohs(address.sin_port);
      return static_cast<int>(received);
    }
    if (errno != EINTR) return -1;
  }
}

int TSocket::WaitReadable(int timeoutMs) {
  if (_socket < 0) return 0;
  return PollFor(_socket, POLLIN, timeoutMs < 0 ? 0 : timeoutMs) > 0 ? 1 : 0;
}

void TSocket::UpdateLocalName() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (_socket >= 0 && getsockname(_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      address.sin_family == AF_INET) {
    _localIp = static_cast<int32_t>(ntohl(address.sin_addr.s_addr));
    _localPort = ntohs(address.sin_port);
  } else {
    _localIp = _localPort = 0;
  }
}

void TSocket::UpdateRemoteName() {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (_socket >= 0 && getpeername(_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
      address.sin_family == AF_INET) {
    _remoteIp = static_cast<int32_t>(ntohl(address.sin_addr.s_addr));
    _remotePort = ntohs(address.sin_port);
  } else {
    _remoteIp = _remotePort = 0;
  }
}

std::vector<int32_t> HostIps(const std::string& name) {
  std::vector<int32_t> ips;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return ips;
  for (addrinfo* entry = found; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    ips.push_back(static_cast<int32_t>(ntohl(address->sin_addr.s_addr)));
  }
  freeaddrinfo(found);
  return ips;
}

int32_t HostIp(const std::string& name, int index) {
  if (index < 0) return 0;
  std::vector<int32_t> ips = HostIps(name);
  return static_cast<size_t>(index) < ips.size() ? ips[static_cast<size_t>(index)] : 0;
}

std::string DottedIp(int32_t ip) {
  auto value = static_cast<uint32_t>(ip);
  return std::to_string(value >> 24) + "." + std::to_string((value >> 16) & 255) + "." +
         std::to_string((value >> 8) & 255) + "." + std::to_string(value & 255);
}

int32_t ParseDottedIp(const std::string& text) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return 0;
  return static_cast<int32_t>(ntohl(address.s_addr));
}

int32_t LocalIpToward(int32_t ip) {
  // A UDP connect only picks the route: nothing leaves.
  TSocketRef probe = TSocket::CreateUDP();
  if (!probe || !probe->Connect(ip, 9)) return 0;
  return probe->LocalIp();
}

int32_t FirstInterfaceIp() {
  ifaddrs* interfaces = nullptr;
  if (getifaddrs(&interfaces) != 0) return 0;
  int32_t found = 0;
  for (ifaddrs* entry = interfaces; entry && !found; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) continue;
    if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK)) continue;
    auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    found = static_cast<int32_t>(ntohl(address->sin_addr.s_addr));
  }
  freeifaddrs(interfaces);
  return found;
}
