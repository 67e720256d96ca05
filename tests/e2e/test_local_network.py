"""The lobby layer's local-network modules against the real daemons: sets up
a host and a peer namespace with an avahi-daemon each, and a router with
miniupnpd in front of the host, then runs the module tests (a gtest program)
in the host namespace, telling it where everything is.

Run: python3 test_local_network.py <lobby_local_network_tests binary> [gtest args]
(exit 77: skipped). COLLOQUOR_E2E_KEEP=1 keeps the daemons' logs.
"""

import os
import shutil
import subprocess
import sys
import tempfile

from colloquor_e2e import Network, exit_unless_root_facilities
from local_network import LOCAL_NETWORK_TOOLS, Avahi, Router


def main():
    binary, gtest_args = os.path.abspath(sys.argv[1]), sys.argv[2:]
    exit_unless_root_facilities(LOCAL_NETWORK_TOOLS + ("bash",))
    workdir = tempfile.mkdtemp(prefix="colloquor-local-network-")
    network = Network()
    daemons = []
    try:
        router = Router(network, workdir)
        daemons.append(router)
        host_ns, host_address = network.add(1, gateway=router.lan_address)
        peer_ns, peer_address = network.add(2)
        host = Avahi(host_ns, network.link(1), workdir, network.tag + "host")
        daemons.append(host)
        peer = Avahi(peer_ns, network.link(2), workdir, network.tag + "peer")
        daemons.append(peer)
        env = dict(os.environ, **host.env)
        env.update({
            "COLLOQUOR_NET_HOST_ADDRESS": host_address,
            "COLLOQUOR_NET_HOST_NAME": host.host_name,
            "COLLOQUOR_NET_PEER_NS": peer_ns,
            "COLLOQUOR_NET_PEER_ADDRESS": peer_address,
            "COLLOQUOR_NET_PEER_LINK": network.link(2),
            "COLLOQUOR_NET_PEER_BUS": peer.env["DBUS_SYSTEM_BUS_ADDRESS"],
            "COLLOQUOR_NET_ROUTER_NS": router.ns,
            "COLLOQUOR_NET_WAN_ADDRESS": router.wan_address,
            "COLLOQUOR_NET_OUTSIDE_NS": router.outside_ns,
        })
        result = subprocess.run(["ip", "netns", "exec", host_ns, binary] + gtest_args, env=env)
        return result.returncode
    finally:
        for daemon in reversed(daemons):
            daemon.close()
        network.close()
        if os.environ.get("COLLOQUOR_E2E_KEEP"):
            print("kept", workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
