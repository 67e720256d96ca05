"""Debates held by real colloquor processes, each in its own network
namespace, with one lobby and one X display, driven by real X input.

Run: python3 test_room.py <build dir>   (exit 77: skipped)
Set COLLOQUOR_E2E_SHOTS=<dir> to keep screenshots, COLLOQUOR_E2E_KEEP=1 to
keep the instances' folders (saved logs, output).
"""

import os
import re
import signal
import sys
import time
import unittest

from colloquor_e2e import Harness, exit_unless_root_facilities, wait_for

BUILD_DIR = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
BROWSER_TITLE = "^Server List: ColloquorRC2b$"


class Room(unittest.TestCase):
    def setUp(self):
        self.h = Harness(BUILD_DIR)
        self.addCleanup(self.h.close)

    def shot(self, name):
        directory = os.environ.get("COLLOQUOR_E2E_SHOTS")
        if directory:
            os.makedirs(directory, exist_ok=True)
            self.h.display.screenshot(os.path.join(directory, name + ".png"))

    def announced(self, room):
        return [r for r in self.h.lobby.rooms() if r[1] == room]

    def user_list(self, instance, names):
        """Asks for the user list until it reads `names` (a regex of the part
        after the stamp): replicas arrive over the first ticks."""
        pattern = re.compile(r"\*\* USER LIST \*\* [^,\n]*" + names)

        def listed(text):
            if pattern.search(text):
                return True
            instance.say("/userlist")
            return False
        instance.wait_log(listed, what="the user list")

    def test_a_debate(self):
        h = self.h
        alice = h.start("Alice")
        alice.host()
        wait_for(lambda: self.announced("Alices_Room"), 10, "the room announced")
        alice.past_five_ticks()

        bob = h.start("Bob")
        bob.join()
        alice.wait_log(lambda t: "** Bob has joined ** " in t, what="Bob has joined")
        bob_log = bob.wait_log(lambda t: "** Welcome Bob to ColloquorRC2b\n" in t)
        self.assertNotIn("has joined", bob_log)  # Bob's own first 5 ticks

        # Only a participant on a side can type; the line arrives at the host.
        bob.say("typed while undecided")
        bob.press("red")
        bob.say("Cats are clearly better")
        alice.wait_log(lambda t: "\nBob: Cats are clearly better\n" in t, what="Bob's line")
        alice.press("blue")
        alice.say("Dogs!")
        text = bob.wait_log(lambda t: "\nAlice*: Dogs!\n" in t, what="the host's line")
        self.assertNotIn("typed while undecided", text)
        self.shot("room-in-a-debate")

        bob.past_five_ticks()  # lines now cross at once: Bob's first ticks may not be over
        carol = h.start("Carol")
        carol.join()
        bob.wait_log(lambda t: "** Carol has joined ** " in t, what="Carol has joined")
        alice.wait_log(lambda t: "** Carol has joined ** " in t, what="Carol has joined")
        h.display.xdotool("windowraise", alice.room_window())
        self.shot("room-with-undecided")  # Carol, undecided, listed under the button
        carol.press("red")
        self.user_list(carol, r", Carol, Alice\*, Bob\n")

        # The host ends the topic: the counts of that tick, then undecided.
        alice.press("change")
        result = re.compile(r"\n[^\n]+ - 2\nUndecided - 0\n[^\n]+ - 1\n\n\*\* NEW TOPIC \*\* ")
        alice.wait_log(lambda t: result.search(t), what="the topic's result")
        bob.wait_log(lambda t: result.search(t), what="the result at Bob")
        # The host's order back to undecided comes with the result: a side
        # chosen before it arrives is undone (and the typing with it).
        carol.wait_log(lambda t: result.search(t), what="the result at Carol")
        bob.say("still on a side?")
        carol.press("blue")
        carol.say("new side")
        text = alice.wait_log(lambda t: "\nCarol: new side\n" in t, what="Carol's new line")
        self.assertNotIn("still on a side?", text)

        # /kick sends Carol back to the browser, and nobody writes "has left".
        alice.press("red")  # undecided since the topic ended: a side to type
        alice.say("/kick CAROL")
        carol.window(BROWSER_TITLE)
        # The host's log says so; Carol is told at the browser, in a box.
        alice.wait_log(lambda t: "\n** Carol was removed from the room ** " in t,
                       what="the kick in the host's log")
        carol.window("^Colloquor$")
        text = bob.wait_log(lambda t: True)
        self.assertNotIn("Carol has left", text)

        # Leaving a room with a guest in it asks first; Escape stays.
        alice.press("leave")
        question = alice.window("^Colloquor$")
        alice.key(question, "Escape")
        alice.gone("^Colloquor$")
        self.assertTrue(alice.windows("^ColloquorRC2b: Alice$"))

        # A guest killed outright is seen to leave after the time-out (7 s
        # without an acknowledgement; a second more to notice, and saving).
        bob.kill(signal.SIGKILL)
        alice.wait_log(lambda t: "** Bob has left ** " in t, timeout=20, what="Bob has left")

        # The host leaves for the browser; the room is withdrawn.
        alice.press("leave")
        alice.window(BROWSER_TITLE)
        wait_for(lambda: not self.announced("Alices_Room"), 10, "the room withdrawn")

        # Closing the program by a termination request ends it cleanly.
        carol.kill(signal.SIGTERM)
        self.assertEqual(carol.wait_exit(), 0)

    def test_names_ban_and_the_host_leaving(self):
        h = self.h
        hal = h.start("Hal")
        hal.host()
        hal.past_five_ticks()
        dave = h.start("Dave")
        dave.join()
        hal.wait_log(lambda t: "** Dave has joined" in t, what="Dave has joined")

        # The same name again: the newcomer, younger in rooms, is renamed.
        # Ages count whole seconds, and equal ages keep both names: let Dave
        # be in the room a few seconds first (the rule needs the time).
        dave.past_five_ticks()
        twin = h.start("Dave")
        twin.join()
        twin.window("^ColloquorRC2b: Dave0$")
        dave.window("^ColloquorRC2b: Dave$")
        hal.press("blue")

        self.user_list(hal, r", Hal\*, Dave, Dave0\n")

        # /ban: kicked at once, and again within about a second of returning.
        hal.say("/ban dave0")
        why = twin.window("^Colloquor$")  # the box that says why, over the browser
        hal.wait_log(lambda t: "\n** Dave0 was banned from the room ** " in t,
                     what="the ban in the host's log")
        twin.key(why, "Return")
        twin.gone("^Colloquor$")
        twin.choose_first_room()
        twin.window(BROWSER_TITLE)
        twin.window("^Colloquor$")

        # The host's window is closed: the program ends after its clean-up,
        # the guests see the notice and their inputs locked, the room is gone.
        self.shot("before-host-leaves")
        hal.kill(signal.SIGTERM)
        self.assertEqual(hal.wait_exit(), 0)
        notice = ("\n\n** CONNECTION WITH HOST LOST \n** If this is due To a bad connection you "
                  "may be able To leave And re-enter room\n** ")
        text = dave.wait_log(lambda t: notice in t, what="the host's notice")
        self.assertNotIn("Hal has left", text)  # it left by its own action
        wait_for(lambda: not self.announced("Hals_Room"), 10, "the room withdrawn at exit")
        dave.say("anyone?")
        self.assertNotIn("anyone?", dave.save_log())
        self.shot("guest-after-host-left")


    def test_every_language_crosses_whole_and_is_saved_as_utf8(self):
        """Lines in Latin-1, Cyrillic, CJK and emoji cross between two real
        programs as the toolkit's UTF-8; the chat line's cap keeps whole
        characters; each saved log reads back as that UTF-8."""
        # Regression: the cap counted bytes and could keep half a character.
        h = self.h
        alice = h.start("Alice")
        alice.host()
        alice.past_five_ticks()
        bob = h.start("Bob")
        bob.join()
        alice.wait_log(lambda t: "** Bob has joined" in t, what="Bob has joined")
        bob.press("red")
        alice.press("blue")
        lines = ["naïve café", "Привет, мир", "討論を始めよう", "ok 🙂👍"]
        for line in lines:
            bob.say(line)
        # 248 + 2 + 2 + 3 bytes fit the cap of 256, the emoji's 4 would not
        # and is left out whole; typing goes on at the end, up to the cap.
        alice.say("x" * 248 + "éж討🙂!?")
        sent = ["Bob: " + line for line in lines] + ["Alice*: " + "x" * 248 + "éж討!"]
        wanted = [("\n" + line + "\n").encode("utf-8") for line in sent]
        for instance in (alice, bob):
            text = instance.wait_log(lambda t: all(w in t.encode("latin-1") for w in wanted),
                                     what="every line, whole")
            saved = text.encode("latin-1")
            saved.decode("utf-8")  # strict: a half character fails here
            self.assertFalse(saved.startswith((b"\xef\xbb\xbf", b"\xff\xfe")))
        for instance in (bob, alice):
            h.display.xdotool("windowraise", instance.room_window())
            self.shot("every-language-" + instance.name.lower())


    def test_network_faults_drop_only_the_guest_concerned(self):
        """A guest whose interface goes down, and a guest the host has no route
        to any more: each keeps its window and shows the host-lost text, the
        host drops it within the time-out and keeps its room for the rest,
        whose guest notices in turn when the host vanishes."""
        # Regression: the failing send ended the program ("GNet error", 255).
        h = self.h
        hal = h.start("Hal")
        hal.host()
        hal.past_five_ticks()
        guests = {}
        for name in ("Amy", "Gus", "Ray"):
            guests[name] = h.start(name)
            guests[name].join()
            hal.wait_log(lambda t: "** %s has joined" % name in t, what="%s has joined" % name)
        faults = {
            "Gus": (guests["Gus"].ns, "ip", "link", "set", h.network.links[guests["Gus"].ns], "down"),
            "Ray": (hal.ns, "ip", "route", "add", "unreachable", guests["Ray"].address + "/32"),
        }
        lost = "\n\n** CONNECTION WITH HOST LOST ** "
        for name, (ns, *command) in faults.items():
            cut = time.monotonic()
            h.network.in_namespace(ns, *command)
            hal.wait_log(lambda t: "** %s has left ** " % name in t, what="%s has left" % name)
            print("%s: the host dropped it after %.1f s" % (name, time.monotonic() - cut))
            guests[name].wait_log(lambda t: lost in t, what="the host-lost text")
            self.assertTrue(guests[name].running())
        self.assertTrue(hal.running())
        amy = guests["Amy"]
        amy.press("red")
        amy.say("still here")
        hal.wait_log(lambda t: "\nAmy: still here\n" in t, what="Amy's line")
        self.assertNotIn(lost, amy.save_log())
        # A host that vanishes is noticed within the time-out, too.
        cut = time.monotonic()
        hal.kill(signal.SIGKILL)
        amy.wait_log(lambda t: lost in t, what="the host-lost text")
        print("Amy noticed the host gone after %.1f s" % (time.monotonic() - cut))
        self.assertTrue(amy.running())


if __name__ == "__main__":
    exit_unless_root_facilities()
    unittest.main(verbosity=2)
