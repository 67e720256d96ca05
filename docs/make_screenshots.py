#!/usr/bin/env python3
"""Makes the README's pictures: the room browser and a room in a debate,
taken from real colloquor processes on a private X display (Xvfb), each in
its own network namespace with a private lobby.

Run as root from the repository: python3 docs/make_screenshots.py [build dir]
Needs ImageMagick's `import` (apt-get install imagemagick).
"""

import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

from colloquor_e2e import Harness, Skip, require_root_facilities, wait_for  # noqa: E402

BUILD_DIR = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")


def capture(harness, wid, name):
    path = os.path.join(HERE, name)
    harness.display.xdotool("windowraise", wid)
    subprocess.run(["import", "-window", wid, path], check=True, env=harness.display.env())
    print("wrote", path)


def main():
    if shutil.which("import") is None:
        sys.exit("ImageMagick's import is needed: apt-get install imagemagick")
    try:
        require_root_facilities()
    except Skip as why:
        sys.exit("cannot run here: %s" % why)
    h = Harness(BUILD_DIR)
    try:
        alice = h.start("Alice")
        alice.host()
        wait_for(lambda: any(r[1] == "Alices_Room" for r in h.lobby.rooms()), 10, "the room")
        alice.past_five_ticks()

        bob = h.start("Bob")
        bob.join()
        carol = h.start("Carol")
        carol.join()
        alice.wait_log(lambda t: "Carol has joined" in t, what="Carol's arrival")

        bob.press("red")
        carol.press("blue")
        # The topic is drawn at random, so the lines suit any of them. Each
        # waits for the one before to arrive, so the pictures read in order.
        lines = [(bob, carol, "Red has it: it is simply the better choice, and most agree."),
                 (carol, bob, "Most people? Ask anyone who has really lived with both."),
                 (bob, carol, "I have, for years. Red wins on every count that matters."),
                 (carol, bob, "Then you have not counted what Blue does best: it lasts.")]
        for speaker, listener, text in lines:
            speaker.say(text)
            listener.wait_log(lambda t, text=text: text in t, what="the line")

        dave = h.start("Dave")
        browser = dave.log_in()
        wait_for(lambda: True, 1, "")
        capture(h, browser, "room-browser.png")
        capture(h, bob.room_window(), "room.png")
    finally:
        h.close()


if __name__ == "__main__":
    main()
