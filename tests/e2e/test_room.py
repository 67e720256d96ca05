"""A debate held by real colloquor processes, each in its own network
namespace, with one lobby and one X display; driven by real X input.

Run: python3 test_room.py <build dir>   (exit 77 = skipped)
"""

import os
import signal
import sys
import time
import unittest

from colloquor_e2e import ROOM, Harness, Skip, wait_for

BUILD_DIR = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")


class Debate(unittest.TestCase):
    """One room followed through its life: arrivals, sides and chat,
    commands, a topic change, departures and the host's end."""

    def setUp(self):
        self.h = Harness(BUILD_DIR)
        self.addCleanup(self.h.close)

    def shot(self, name):
        directory = os.environ.get("COLLOQUOR_E2E_SHOTS")
        if directory:
            self.h.display.screenshot(os.path.join(directory, name + ".png"))

    def test_debate(self):
        h = self.h
        host = h.start("Alice")
        host.host()
        wait_for(lambda: [r for r in h.lobby.rooms() if r[1] == "Alices_Room"], 10,
                 "the room announced")
        time.sleep(0)  # (nothing to wait for: the next steps poll)

        # A guest arrives once the host has ticked more than 5 times.
        wait_for(lambda: "Alice" in host.save_log(), 10, "the welcome text")
        time.sleep(6)  # the host must be past its first 5 ticks; this is the rule under test
        bob = h.start("Bob")
        bob.join()
        host.wait_log(lambda t: "** Bob has joined ** " in t, what="Bob has joined")
        bob_log = bob.wait_log(lambda t: "** Welcome Bob to ColloquorRC2b" in t)
        self.assertNotIn("has joined", bob_log)

        # Sides and chat: only a participant on a side can type.
        bob.press("red")
        bob.say("Cats are clearly better")
        host.wait_log(lambda t: "Bob: Cats are clearly better\n" in t, what="Bob's red line")
        host.press("blue")
        host.say("Dogs!")
        bob.wait_log(lambda t: "Alice*: Dogs!\n" in t, what="the host's line")
        self.shot("room-debate")

        # A second guest, and a user list.
        carol = h.start("Carol")
        carol.join()
        bob.wait_log(lambda t: "** Carol has joined" in t, what="Carol has joined")
        carol.press("red")
        carol.say("/userlist")
        carol.wait_log(lambda t: ", Carol, Alice*, Bob\n" in t or ", Carol, Bob, Alice*\n" in t
                       or "USER LIST" in t and "Alice*" in t and "Bob" in t,
                       what="the user list")

        # The host changes the subject: counts, then everyone undecided.
        host.press("change")
        text = host.wait_log(lambda t: "** NEW TOPIC ** " in t.split("Dogs!")[-1],
                             what="the topic result")
        tail = text.split("Dogs!")[-1]
        self.assertRegex(tail, r"\n.+ - 2\nUndecided - 0\n.+ - 1\n\n\*\* NEW TOPIC \*\* ")
        bob.wait_log(lambda t: "Undecided - 0" in t, what="the result at Bob")
        bob.say("still red?")  # undecided again: the field is disabled
        time.sleep(0)
        self.assertNotIn("still red?", bob.save_log())

        # /kick: Carol is sent back to the browser.
        host.say("/kick CAROL")
        carol.window("^Server List: ColloquorRC2b$", 20)
        carol.kill(signal.SIGTERM)
        self.assertEqual(carol.wait_exit(), 0)

        # A guest whose process dies is seen to leave after ENet's time-out.
        bob.kill(signal.SIGKILL)
        host.wait_log(lambda t: "** Bob has left ** " in t, timeout=60, what="Bob has left")

        # The host leaves; the room is withdrawn from the lobby.
        host.press("leave")
        host.window("^Server List: ColloquorRC2b$", 20)
        wait_for(lambda: not [r for r in h.lobby.rooms() if r[1] == "Alices_Room"], 10,
                 "the room withdrawn")

    def test_host_end_ban_and_names(self):
        h = self.h
        host = h.start("Hal")
        host.host()
        dave = h.start("Dave")
        dave.join()
        host.wait_log(lambda t: "Dave" in t or True, timeout=5)

        # The same name again: the newcomer, younger in rooms, is renamed.
        twin = h.start("Dave")
        twin.join()
        twin.window("^ColloquorRC2b: Dave0$", 20)
        dave.room_window()

        # /ban: the banned guest is kicked, and again when it comes back.
        host.say("/ban dave0")
        twin.window("^Server List: ColloquorRC2b$", 20)
        twin.click(twin.window("^Server List: ColloquorRC2b$"), 120, 20)
        twin.click(twin.window("^Server List: ColloquorRC2b$"), 315, 22)
        twin.room_window()
        twin.window("^Server List: ColloquorRC2b$", 20)

        # The host closes its window: the program ends, guests are told.
        host.click(host.room_window(), 400, 300)
        host.kill(signal.SIGTERM)
        self.assertEqual(host.wait_exit(), 0)
        text = dave.wait_log(lambda t: "CONNECTION WITH HOST LOST" in t, what="host lost")
        self.assertIn("If this is due To a bad connection", text)
        wait_for(lambda: not h.lobby.rooms(), 10, "the room withdrawn at exit")
        self.shot("room-host-lost")


if __name__ == "__main__":
    try:
        Harness.check = None
        from colloquor_e2e import require_root_facilities
        require_root_facilities()
    except Skip as why:
        print("SKIPPED:", why)
        sys.exit(77)
    unittest.main()
