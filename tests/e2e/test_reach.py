"""Reaching a room with nothing set up, with real colloquor processes in
network namespaces and no lobby at all: machines on one local network find
each other's room through their avahi-daemons and hold a debate, two guests
there being told apart; a host behind a home router (nftables NAT and
miniupnpd) has the room port forwarded by itself, a guest outside joins by
the router's outside address, and the mapping is gone once the host's
program has ended (by SIGTERM).

Run: python3 test_reach.py <build dir>   (exit 77: skipped)
"""

import os
import signal
import sys
import unittest

from colloquor_e2e import LOBBY_PORT, Harness, exit_unless_root_facilities, wait_for
from local_network import LOCAL_NETWORK_TOOLS, Avahi, Router

BUILD_DIR = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")


class Reach(unittest.TestCase):
    def setUp(self):
        self.h = Harness(BUILD_DIR, lobby=False)
        self.addCleanup(self.h.close)
        self.nowhere = "%s:%d" % (self.h.network.lobby_address, LOBBY_PORT)

    @staticmethod
    def knows(instance, names):
        """Asks for the user list until it names everyone in `names` (a line
        typed before the replicas arrive reaches nobody). Only a participant
        on a side can type."""
        def listed(text):
            lists = [l for l in text.split("\n") if l.startswith("** USER LIST ** ")]
            if lists and all(", " + name in lists[-1] for name in names):
                return True
            instance.say("/userlist")
            return False
        instance.wait_log(listed, what="the user list naming " + ", ".join(names))

    def avahi(self, ns, link):
        """A system bus and avahi-daemon in the instance's namespace."""
        daemon = Avahi(ns, link, self.h.workdir, ns)
        self.h.daemons.append(daemon)
        return daemon.env

    def test_a_debate_on_a_local_network_without_a_lobby(self):
        h = self.h
        alice = h.start("Alice", prepare=self.avahi)
        alice.host()
        alice.wait_log(lambda t: ("** The room could not be announced to the lobby at %s; people "
                                  "on your local network can still find it ** " % self.nowhere)
                       in t, what="the lobby's failure told")

        # Two guests on the network, neither told an address: the room is
        # found, and they are not taken for one connection.
        bob = h.start("Bob", prepare=self.avahi)
        bob.join()
        carol = h.start("Carol", prepare=self.avahi)
        carol.join()
        bob.press("red")
        carol.press("blue")
        self.knows(bob, ["Alice*", "Carol"])
        self.knows(carol, ["Alice*", "Bob"])
        bob.say("Nothing to set up")
        alice.wait_log(lambda t: "\nBob: Nothing to set up\n" in t, what="Bob's line")
        carol.say("Still here")
        bob.wait_log(lambda t: "\nCarol: Still here\n" in t, what="Carol's line at Bob")
        alice.press("blue")
        alice.say("Welcome both")
        carol.wait_log(lambda t: "\nAlice*: Welcome both\n" in t, what="the host's line")
        self.assertTrue(bob.running() and carol.running())

    def test_a_host_behind_a_router_is_joined_from_outside(self):
        h = self.h
        router = Router(h.network, h.workdir)
        h.daemons.append(router)
        hal = h.start("Hal", gateway=router.lan_address)
        hal.host()
        hal.wait_log(lambda t: ("** Port 42000 forwarded by your router; guests outside your "
                                "network join at %s ** " % router.wan_address) in t,
                     what="the forwarding told")
        mapping = "dnat ip to %s:42000" % hal.address
        self.assertIn(mapping, router.rules())

        olga = h.start_in(router.outside_ns, router.outside_address, "Olga")
        olga.join_address(router.wan_address)
        olga.press("red")
        self.knows(olga, ["Hal*"])
        olga.say("Hello from outside")
        hal.wait_log(lambda t: "\nOlga: Hello from outside\n" in t, what="Olga's line")

        # Ended from outside (a logout, say), the program still removes it.
        hal.kill(signal.SIGTERM)
        self.assertEqual(hal.wait_exit(), 0)
        self.assertNotIn(mapping, router.rules())


if __name__ == "__main__":
    exit_unless_root_facilities(LOCAL_NETWORK_TOOLS + ("Xvfb", "xdotool"))
    unittest.main(verbosity=2)
