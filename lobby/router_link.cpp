#include "lobby/router_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <natpmp.h>

#include "core/clock.h"

namespace {

constexpr char PROTOCOL[] = "UDP";
constexpr unsigned char DISCOVERY_TTL = 2;
// What a gateway answers to, asked one after another until one answers. The
// discovery wait is shared among them: the library waits its full delay for
// each type that nobody answers, so a network without a gateway would cost
// the wait several times over.
const char* const GATEWAY_TYPES[] = {
    "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
    "urn:schemas-upnp-org:service:WANIPConnection:1",
    "urn:schemas-upnp-org:service:WANPPPConnection:1",
    nullptr,
};
constexpr int GATEWAY_TYPE_COUNT = 3;
constexpr int MIN_TYPE_WAIT_MS = 250;
// UPnP answers worth knowing by number.
constexpr int UPNP_NO_SUCH_ENTRY = 714;
constexpr int UPNP_ONLY_PERMANENT_LEASES = 725;
// NAT-PMP has no lasting mapping (a lifetime of 0 removes): an hour instead.
constexpr int NATPMP_DEFAULT_LEASE = 3600;

std::string Dotted(in_addr address) {
  char text[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

class TUpnpLink : public TRouterLink {
 public:
  ~TUpnpLink() override {
    if (_urlsSet) FreeUPNPUrls(&_urls);
  }

  bool Discover(int waitMs) override {
    int error = 0;
    int typeWaitMs = std::max(MIN_TYPE_WAIT_MS, waitMs / GATEWAY_TYPE_COUNT);
    UPNPDev* devices = upnpDiscoverDevices(GATEWAY_TYPES, typeWaitMs, nullptr, nullptr,
                                           UPNP_LOCAL_PORT_ANY, 0, DISCOVERY_TTL, &error, 0);
    if (!devices) return false;
    char lan[INET6_ADDRSTRLEN] = "";
#if MINIUPNPC_API_VERSION >= 18
    char wan[INET6_ADDRSTRLEN] = "";
    int found = UPNP_GetValidIGD(devices, &_urls, &_data, lan, sizeof lan, wan, sizeof wan);
#else
    int found = UPNP_GetValidIGD(devices, &_urls, &_data, lan, sizeof lan);
#endif
    freeUPNPDevlist(devices);
    _urlsSet = found != 0;
    // 1: a connected gateway; 2: one that says it is not connected, which
    // some routers say wrongly; anything else is no gateway.
    if (found != 1 && found != 2) return false;
    _ready = true;
    _local = lan;
    char external[INET6_ADDRSTRLEN] = "";
    if (UPNP_GetExternalIPAddress(_urls.controlURL, _data.first.servicetype, external) ==
        UPNPCOMMAND_SUCCESS)
      _external = external;
    return true;
  }

  bool Map(int port, const std::string& description, int& leaseSeconds) override {
    if (!_ready) return false;
    std::string portText = std::to_string(port);
    for (int lease : {leaseSeconds, 0}) {
      std::string leaseText = std::to_string(lease);
      int result = UPNP_AddPortMapping(_urls.controlURL, _data.first.servicetype, portText.c_str(),
                                       portText.c_str(), _local.c_str(), description.c_str(),
                                       PROTOCOL, nullptr, leaseText.c_str());
      if (result == UPNPCOMMAND_SUCCESS) {
        leaseSeconds = lease;
        return true;
      }
      if (result != UPNP_ONLY_PERMANENT_LEASES) return false;
    }
    return false;
  }

  bool Unmap(int port) override {
    if (!_ready) return false;
    int result = UPNP_DeletePortMapping(_urls.controlURL, _data.first.servicetype,
                                        std::to_string(port).c_str(), PROTOCOL, nullptr);
    return result == UPNPCOMMAND_SUCCESS || result == UPNP_NO_SUCH_ENTRY;
  }

  std::string ExternalAddress() const override { return _external; }
  std::string LocalAddress() const override { return _local; }

 private:
  UPNPUrls _urls{};
  IGDdatas _data{};
  bool _urlsSet = false;
  bool _ready = false;
  std::string _local, _external;
};

class TNatPmpLink : public TRouterLink {
 public:
  ~TNatPmpLink() override {
    if (_open) closenatpmp(&_natpmp);
  }

  bool Discover(int waitMs) override {
    _waitMs = waitMs;
    if (initnatpmp(&_natpmp, 0, 0) < 0) return false;  // no default gateway
    _open = true;
    sockaddr_in local{};
    socklen_t size = sizeof local;
    // The library's socket is connected to the gateway: its name is our side.
    if (getsockname(_natpmp.s, reinterpret_cast<sockaddr*>(&local), &size) == 0)
      _local = Dotted(local.sin_addr);
    natpmpresp_t answer{};
    if (sendpublicaddressrequest(&_natpmp) < 0 || !Await(answer) ||
        answer.type != NATPMP_RESPTYPE_PUBLICADDRESS)
      return false;
    _ready = true;
    _external = Dotted(answer.pnu.publicaddress.addr);
    return true;
  }

  bool Map(int port, const std::string&, int& leaseSeconds) override {
    if (!_ready) return false;
    int asked = leaseSeconds > 0 ? leaseSeconds : NATPMP_DEFAULT_LEASE;
    natpmpresp_t answer{};
    if (!Request(port, port, asked, answer)) return false;
    if (answer.pnu.newportmapping.mappedpublicport != port) {
      Unmap(port);
      return false;
    }
    leaseSeconds = static_cast<int>(answer.pnu.newportmapping.lifetime);
    return true;
  }

  bool Unmap(int port) override {
    natpmpresp_t answer{};
    return _ready && Request(port, 0, 0, answer);
  }

  std::string ExternalAddress() const override { return _external; }
  std::string LocalAddress() const override { return _local; }

 private:
  bool Request(int port, int publicPort, int lifetime, natpmpresp_t& answer) {
    return sendnewportmappingrequest(&_natpmp, NATPMP_PROTOCOL_UDP, static_cast<uint16_t>(port),
                                     static_cast<uint16_t>(publicPort),
                                     static_cast<uint32_t>(lifetime)) >= 0 &&
           Await(answer) && answer.type == NATPMP_RESPTYPE_UDPPORTMAPPING &&
           answer.pnu.newportmapping.privateport == port;
  }

  // The library resends on a doubling schedule for over a minute; we wait
  // for its answer at most _waitMs.
  bool Await(natpmpresp_t& answer) {
    const uint32_t start = static_cast<uint32_t>(MilliSecs());  // the clock may wrap
    for (;;) {
      int result = readnatpmpresponseorretry(&_natpmp, &answer);
      if (result != NATPMP_TRYAGAIN) return result >= 0;
      long left = _waitMs - static_cast<long>(static_cast<uint32_t>(MilliSecs()) - start);
      if (left <= 0) return false;
      timeval resend{};
      getnatpmprequesttimeout(&_natpmp, &resend);  // negative once the resend is due
      long resendMs = std::max(0L, resend.tv_sec * 1000L + resend.tv_usec / 1000 + 1);
      pollfd readable{_natpmp.s, POLLIN, 0};
      poll(&readable, 1, static_cast<int>(std::min(left, resendMs)));
    }
  }

  natpmp_t _natpmp{};
  bool _open = false;
  bool _ready = false;
  int _waitMs = 0;
  std::string _local, _external;
};

}  // namespace

std::unique_ptr<TRouterLink> NewUpnpLink() { return std::make_unique<TUpnpLink>(); }
std::unique_ptr<TRouterLink> NewNatPmpLink() { return std::make_unique<TNatPmpLink>(); }
