"""The daemons of a local network, for namespaces of colloquor_e2e.Network.

Avahi: a namespace's own system bus (a private dbus-daemon) and avahi-daemon,
so DNS-SD works there as on a desktop. Programs reach them with the
environment `Avahi.env`.

Router: a home router on the network's bridge. Its namespace has a LAN side
(subnet.2 on the bridge) and a WAN side toward an "outside" namespace; it
masquerades the LAN with nftables, and miniupnpd serves UPnP-IGD and NAT-PMP
on the LAN side, adding its forwarding rules to the same nftables table.
Hosts behind it are made with Network.add(index, gateway=router.lan_address).

Every process started here is ended and reaped by close(); the namespaces go
with Network.close(). Every wait is bounded.
"""

import os
import subprocess

from colloquor_e2e import run, stop, wait_for

LOCAL_NETWORK_TOOLS = ("ip", "dbus-daemon", "avahi-daemon", "avahi-publish", "avahi-browse",
                       "miniupnpd", "nft")

# The system bus of a namespace: anyone may own and call anything.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""

# One interface, IPv4 only, a host name of its own, nothing published but
# what programs ask for; no rate limit on the tests' quick changes.
AVAHI_CONFIG = """[server]
host-name={host_name}
use-ipv4=yes
use-ipv6=no
allow-interfaces={link}
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
"""

# miniupnpd refuses private and reserved outside addresses, so the WAN link
# takes ordinary public ones; it exists only between two test namespaces.
WAN_ROUTER, WAN_OUTSIDE = "11.231.0.1", "11.231.0.2"

ROUTER_RULES = """table inet filter {{
  chain forward {{
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "{lan}" oifname "{wan}" accept
    jump miniupnpd
  }}
  chain miniupnpd {{ }}
  chain prerouting {{
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }}
  chain postrouting {{
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
    oifname "{wan}" masquerade
  }}
  chain prerouting_miniupnpd {{ }}
  chain postrouting_miniupnpd {{ }}
}}
"""

MINIUPNPD_CONFIG = """ext_ifname={wan}
listening_ip={lan}
port=0
enable_upnp=yes
enable_natpmp=yes
secure_mode=yes
system_uptime=yes
uuid=3e1f1a7e-0b1d-4c42-9f3a-6d2b8c1e0001
allow 1024-65535 {subnet}.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
"""


def _log_says(path, *texts):
    with open(path, errors="replace") as f:
        log = f.read()
    return all(text in log for text in texts)


def _write(path, text):
    with open(path, "w") as f:
        f.write(text)


class Avahi:
    """A system bus and an avahi-daemon in namespace `ns`, on interface `link`."""

    def __init__(self, ns, link, workdir, host_name):
        self.host_name = host_name
        self.dir = os.path.join(workdir, "avahi-" + host_name)
        os.makedirs(self.dir)
        socket = os.path.join(self.dir, "bus.sock")
        self.env = {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=" + socket}
        self.bus = self.daemon = None
        try:
            self._start(ns, link, socket)
        except BaseException:
            self.close()
            raise

    def _start(self, ns, link, socket):
        bus_config = os.path.join(self.dir, "bus.conf")
        _write(bus_config, BUS_CONFIG.format(socket=socket))
        self.bus = subprocess.Popen(
            ["ip", "netns", "exec", ns, "dbus-daemon", "--nofork", "--config-file", bus_config],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(socket), 10, "the bus of " + ns)

        avahi_config = os.path.join(self.dir, "avahi.conf")
        _write(avahi_config, AVAHI_CONFIG.format(host_name=self.host_name, link=link))
        # A private runtime folder: each daemon keeps its pid file and socket
        # there, and one already running on the machine must not be seen.
        script = ("mkdir -p /run/avahi-daemon && mount -t tmpfs tmpfs /run/avahi-daemon && "
                  "exec avahi-daemon --no-drop-root --no-chroot --no-rlimits -f " + avahi_config)
        self.log_path = os.path.join(self.dir, "avahi.log")
        with open(self.log_path, "w") as log:
            self.daemon = subprocess.Popen(
                ["ip", "netns", "exec", ns, "unshare", "-m", "sh", "-c", script],
                env=dict(os.environ, **self.env), stdout=log, stderr=subprocess.STDOUT)
        wait_for(lambda: _log_says(self.log_path, "Server startup complete"), 15,
                 "avahi-daemon in " + ns)

    def close(self):
        for process in (self.daemon, self.bus):
            if process:
                stop(process)


class Router:
    """A NAT router between the network's bridge and an outside namespace,
    with miniupnpd serving UPnP-IGD and NAT-PMP to the LAN."""

    def __init__(self, network, workdir):
        self.ns = network.tag + "-router"
        self.outside_ns = network.tag + "-outside"
        self.lan_address = network.subnet + ".2"
        self.wan_address, self.outside_address = WAN_ROUTER, WAN_OUTSIDE
        self.dir = os.path.join(workdir, "router")
        os.makedirs(self.dir)
        self.miniupnpd = None
        self.lan = network.attach(self.ns, "r", self.lan_address)
        self.wan = network.tag + "w"
        self._outside_link(network)
        try:
            self._start(network.subnet)
        except BaseException:
            self.close()
            raise

    def _outside_link(self, network):
        outside_end = network.tag + "o"
        run("ip", "netns", "add", self.outside_ns)
        network.namespaces.append(self.outside_ns)
        run("ip", "link", "add", self.wan, "type", "veth", "peer", "name", outside_end)
        for ns, link, address in ((self.ns, self.wan, WAN_ROUTER),
                                  (self.outside_ns, outside_end, WAN_OUTSIDE)):
            run("ip", "link", "set", link, "netns", ns)
            run("ip", "netns", "exec", ns, "ip", "addr", "add", address + "/24", "dev", link)
            run("ip", "netns", "exec", ns, "ip", "link", "set", link, "up")
            run("ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up")

    def _start(self, subnet):
        self.exec("sysctl", "-qw", "net.ipv4.ip_forward=1")
        rules = os.path.join(self.dir, "rules.nft")
        _write(rules, ROUTER_RULES.format(lan=self.lan, wan=self.wan))
        self.exec("nft", "-f", rules)
        config = os.path.join(self.dir, "miniupnpd.conf")
        _write(config, MINIUPNPD_CONFIG.format(lan=self.lan, wan=self.wan, subnet=subnet))
        self.log_path = os.path.join(self.dir, "miniupnpd.log")
        with open(self.log_path, "w") as log:
            # -d: in the foreground, logging here; its own pid file, so
            # routers of parallel runs do not meet.
            self.miniupnpd = subprocess.Popen(
                ["ip", "netns", "exec", self.ns, "miniupnpd", "-d", "-f", config,
                 "-P", os.path.join(self.dir, "miniupnpd.pid")],
                stdout=log, stderr=subprocess.STDOUT)
        wait_for(lambda: _log_says(self.log_path, "HTTP listening", "NAT-PMP/PCP traffic"), 15,
                 "miniupnpd")

    def exec(self, *args):
        return run("ip", "netns", "exec", self.ns, *args)

    def rules(self):
        """The router's nftables rules as text (miniupnpd's mappings among them)."""
        return self.exec("nft", "list", "ruleset").stdout

    def close(self):
        if self.miniupnpd:
            stop(self.miniupnpd)
