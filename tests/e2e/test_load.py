"""Load, churn and dialogs against the real program: colloquor hosts a room
under Xvfb in a network namespace of its own (the harness's, with a private
lobby), and colloquor-bot guests join it over that namespace's loopback.

Run: python3 test_load.py <build dir> load|churn|dialog   (exit 77: skipped)
  COLLOQUOR_LOAD_SECONDS  how long the bots chat, one line a second (default 60)
  COLLOQUOR_DIALOG_SECONDS  how long the dialogs stay open (default 60)
  COLLOQUOR_CHURN_SEED    the churn's seed (default from the clock; printed)
  COLLOQUOR_LOAD_REPORT   a file to write the measured figures to, as JSON
  COLLOQUOR_E2E_KEEP=1    keep the bots' outputs and the host's saved logs
"""

import json
import os
import random
import re
import signal
import statistics
import subprocess
import sys
import time
import unittest

from colloquor_e2e import Harness, exit_unless_root_facilities, wait_for

BUILD_DIR = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build")
SECONDS = int(os.environ.get("COLLOQUOR_LOAD_SECONDS", "60"))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
BOT_LINE = re.compile(r"^(\w+): seq=(\d+) t=(\d+)$", re.M)


def now_ms():
    return int(time.clock_gettime(time.CLOCK_MONOTONIC) * 1000)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def memory_kb(pid):
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "VmRSS"):
                values[key] = int(rest.split()[0])
    return values


def percentile(samples, p):
    """Nearest rank, as the bot computes it."""
    ordered = sorted(samples)
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[int(rank) - 1]


class Tool:
    """A test tool's process in a namespace, its output read line by line."""

    def __init__(self, command, ns, workdir, name):
        self.name = name
        self.path = os.path.join(workdir, name + ".out")
        self.output = open(self.path, "w")
        self.process = subprocess.Popen(["ip", "netns", "exec", ns] + command,
                                        stdout=self.output, stderr=subprocess.STDOUT)
        self._reader = open(self.path)
        self._partial = ""

    def read(self):
        chunk = self._reader.read()
        if not chunk:
            return self
        text = self._partial + chunk
        lines = text.split("\n")
        self._partial = lines.pop()
        for line in lines:
            self._take(line.split(" "))
        return self

    def _take(self, fields):
        pass

    def running(self):
        return self.process.poll() is None

    def signal(self, sig):
        if self.running():
            os.kill(self.process.pid, sig)

    def wait_exit(self, timeout=20):
        wait_for(lambda: not self.running(), timeout, "%s to end" % self.name)
        self.read()
        return self.process.returncode

    def tail(self, count=15):
        with open(self.path) as f:
            return "".join(f.readlines()[-count:])

    def close(self):
        if self.running():
            self.process.kill()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                pass
        self.output.close()
        self._reader.close()


class Bot(Tool):
    """One colloquor-bot process and what its output has said so far."""

    def __init__(self, binary, ns, workdir, name, address, side, lines, start_after, phase,
                 exit_after, sync_every_ms, bind):
        super().__init__(
            [binary, "--host", "127.0.0.1", "--bind", bind, "--name", name,
             "--address", address, "--side", side, "--lines", str(lines),
             "--start-after-peers", str(start_after), "--first-after-ms", str(phase),
             "--exit-after", str(exit_after), "--sync-every-ms", str(sync_every_ms)],
            ns, workdir, name)
        self.ready = self.started = self.done = None
        self.sent = []            # (seq, ms) in sending order
        self.received = {}        # sender -> [seq, ...] in arrival order
        self.latencies = []       # ms, every bot line received
        self.first_recv = self.last_recv = None
        self.left = {}            # name -> ms of a close with the role set
        self.gone = {}            # name -> ms of a silent close
        self.troubles = []        # KICK, HOSTLOST, ERROR, FAILED lines
        self.messages = []        # (ms, style, escaped text) of other "MSG" lines
        self.joined = {}          # name -> ms of its arrival
        self.subjects = []        # "red|blue" of every subject object that arrived
        self.summary = None

    def _take(self, f):
        kind = f[0]
        if kind == "RECV":
            self.received.setdefault(f[2], []).append(int(f[3]))
            self.latencies.append(int(f[4]))
            ms = int(f[1])
            self.first_recv = ms if self.first_recv is None else self.first_recv
            self.last_recv = ms
        elif kind == "SENT":
            self.sent.append((int(f[2]), int(f[1])))
        elif kind == "READY":
            self.ready = int(f[1])
        elif kind == "START":
            self.started = int(f[1])
        elif kind == "DONE":
            self.done = int(f[1])
        elif kind == "LEFT":
            self.left[f[2]] = int(f[1])
        elif kind == "GONE":
            self.gone[f[2]] = int(f[1])
        elif kind == "MSG":
            self.messages.append((int(f[1]), int(f[2]), " ".join(f[3:])))
        elif kind == "JOIN":
            self.joined[f[2]] = int(f[1])
        elif kind == "SUBJECT":
            self.subjects.append(" ".join(f[2:]))
        elif kind in ("KICK", "HOSTLOST", "ERROR", "FAILED"):
            self.troubles.append(" ".join(f))
        elif kind == "SUMMARY":
            self.summary = dict(kv.split("=", 1) for kv in f[2:] if "=" in kv)

    def said(self, part):
        """The other "MSG" lines that arrived containing `part`."""
        return [m for m in self.read().messages if part in m[2]]


class Hostile(Tool):
    """One colloquor-hostile process: an attack, and what it saw."""

    def __init__(self, binary, ns, workdir, name, attack, bind, options):
        command = [binary, "--attack", attack, "--host", "127.0.0.1", "--bind", bind,
                   "--name", name]
        for key, value in options.items():
            command += ["--" + key.replace("_", "-"), str(value)]
        super().__init__(command, ns, workdir, "%s-%s" % (name, attack))
        self.ready = self.done = self.hostlost = self.kicked = None
        self.figures = {}
        self.messages = []
        self.sent = 0

    def _take(self, f):
        kind = f[0]
        if kind == "READY":
            self.ready = int(f[1])
        elif kind == "DONE":
            self.done = int(f[1])
        elif kind == "KICK":
            self.kicked = int(f[1])
        elif kind == "HOSTLOST":
            self.hostlost = int(f[1])
        elif kind == "FIGURE":
            self.figures[f[1]] = int(f[2])
        elif kind == "MSG":
            self.messages.append(" ".join(f[3:]))
        elif kind == "SENT":
            self.sent = int(f[2])

    def wait(self, what, condition, timeout=60):
        return wait_for(lambda: condition(self.read()), timeout, "%s: %s" % (self.name, what),
                        interval=0.1)


class HostedRoom(unittest.TestCase):
    """A real host under Xvfb, and bots in its namespace."""

    def setUp(self):
        self.h = Harness(BUILD_DIR)
        self.addCleanup(self.h.close)
        self.bot_binary = os.path.join(BUILD_DIR, "tests", "tools", "colloquor-bot")
        self.hostile_binary = os.path.join(BUILD_DIR, "tests", "tools", "colloquor-hostile")
        self.bots = []
        self.loopbacks = 0
        self.addCleanup(self._close_bots)
        self.host = self.h.start("Hostess")
        self.ns = self.h.network.namespaces[-1]
        self.host.host()
        self.room_since = time.monotonic()
        self.figures = {"seconds": SECONDS}

    def _close_bots(self):
        for bot in self.bots:
            bot.close()

    def next_loopback(self):
        """A source address of its own for each tool's connections: a room
        takes only a few connections from one address, as from one machine."""
        self.loopbacks += 1
        return "127.0.%d.%d" % (self.loopbacks // 250, 10 + self.loopbacks % 250)

    def start_hostile(self, attack, name="Mallory", **options):
        bind = self.next_loopback()
        options.setdefault("address", "198.18." + bind.split(".", 2)[2])  # one of its own
        hostile = Hostile(self.hostile_binary, self.ns, self.h.workdir, name, attack, bind,
                          options)
        self.bots.append(hostile)
        return hostile

    def start_bot(self, name, address, side, lines, start_after, phase=0, sync_every_ms=0):
        """`address`: the text the bot publishes as its address, as if each
        came from a machine of its own (the program removes guests sharing
        one); documentation ranges, never contacted.
        `phase`: ms from seeing enough participants to the first line;
        spread, so that the lines are typed all through the host's second
        rather than right after the tick that brought the last bot in.
        `sync_every_ms`: 0 serves the host as traffic arrives; 1000 only
        once a second, as the program once did."""
        bot = Bot(self.bot_binary, self.ns, self.h.workdir, name, address, side, lines,
                  start_after, phase, exit_after=SECONDS + 600, sync_every_ms=sync_every_ms,
                  bind=self.next_loopback())
        self.bots.append(bot)
        return bot

    def check_alive(self, bots):
        """Nothing may end on its own while the room runs."""
        self.assertTrue(self.host.running(), "the host ended (rc %s)" % self.host.process.poll())
        for bot in bots:
            bot.read()
            if not bot.running() or bot.troubles:
                self.fail("%s ended or failed (rc %s):\n%s" % (
                    bot.name, bot.process.poll(), bot.tail()))

    def wait_all(self, bots, condition, timeout, what):
        def check():
            self.check_alive(bots)
            return all(condition(b) for b in bots)
        wait_for(check, timeout, what, interval=0.2)

    def leave_cleanly(self, bots, timeout=30):
        for bot in bots:
            bot.signal(signal.SIGTERM)
        for bot in bots:
            self.assertEqual(bot.wait_exit(timeout), 0, "%s:\n%s" % (bot.name, bot.tail()))
            self.assertIsNotNone(bot.summary, bot.name)
            self.assertEqual(bot.summary["stop"], "term", bot.name)

    def past_five_ticks(self):
        # The program announces arrivals only after its room's first 5
        # ticks; the rule under test needs that time to pass.
        time.sleep(max(0.0, 7 - (time.monotonic() - self.room_since)))

    def assert_all_lines(self, receiver, senders, complete=True):
        """Each sender's lines at `receiver`: once each, in order, without a
        gap; `complete` also asks for every line from the first."""
        for sender in senders:
            if sender is receiver:
                continue
            got = receiver.received.get(sender.name, [])
            sent = [seq for seq, _ in sender.sent]
            if complete:
                self.assertEqual(got, sent, "%s from %s" % (receiver.name, sender.name))
            elif got:
                self.assertEqual(got, list(range(got[0], got[0] + len(got))),
                                 "%s from %s" % (receiver.name, sender.name))

    def host_log_lines(self, text):
        """Bot lines in the host's saved log: sender -> [seq, ...] in order."""
        found = {}
        for name, seq, _ in BOT_LINE.findall(text):
            found.setdefault(name, []).append(int(seq))
        return found

    def save_host_log(self, predicate, what):
        text = self.host.wait_log(predicate, timeout=60, what=what)
        if os.environ.get("COLLOQUOR_E2E_KEEP"):
            print("host log:", os.path.join(self.host.dir, "log%d.txt" % self.host.saves))
        return text

    def report(self, title):
        print("\n%s figures:" % title)
        for key, value in self.figures.items():
            print("  %s: %s" % (key, value))
        path = os.environ.get("COLLOQUOR_LOAD_REPORT")
        if path:
            with open(path, "w") as f:
                json.dump(self.figures, f, indent=2)


class Load(HostedRoom):
    GUESTS = 31

    def test_31_guests_chatting(self):
        bots = [self.start_bot("Bot%02d" % i, "192.0.2.%d" % i, ("red", "blue")[i % 2],
                               SECONDS, start_after=self.GUESTS, phase=1000 * i // self.GUESTS)
                for i in range(1, self.GUESTS + 1)]
        self.wait_all(bots, lambda b: b.ready, 60, "every bot connected")
        # Each starts once it knows every other participant, so that every
        # line is addressed to everybody.
        self.wait_all(bots, lambda b: b.started, 60, "every bot to see all the others")
        cpu0, wall0 = cpu_seconds(self.host.pid), time.monotonic()
        xcpu0 = cpu_seconds(self.h.display.process.pid)

        self.wait_all(bots, lambda b: b.done, SECONDS + 60, "every bot's last line")
        cpu1, wall1 = cpu_seconds(self.host.pid), time.monotonic()
        xcpu1 = cpu_seconds(self.h.display.process.pid)
        memory = memory_kb(self.host.pid)

        def has_everything(bot):
            return all(len(bot.received.get(o.name, [])) >= len(o.sent)
                       for o in bots if o is not bot)
        self.wait_all(bots, has_everything, 60, "every line at every bot")
        self.check_alive(bots)

        expected = {b.name: [seq for seq, _ in b.sent] for b in bots}
        text = self.save_host_log(
            lambda t: all(len(v) >= len(expected[k]) for k, v in self.host_log_lines(t).items())
            and len(self.host_log_lines(t)) == len(bots), "every line in the host's log")
        self.assertEqual(self.host_log_lines(text), expected)
        self.assertTrue(self.host.running())

        self.leave_cleanly(bots)
        for bot in bots:
            self.assertEqual(len(bot.sent), SECONDS, bot.name)
            self.assert_all_lines(bot, bots)
            self.assertEqual(bot.summary["anomalies"], "0", bot.name)
            self.assertEqual(bot.summary["missing"], "0", bot.name)

        latencies = [ms for bot in bots for ms in bot.latencies]
        first_sent = min(ms for bot in bots for _, ms in bot.sent)
        last_sent = max(ms for bot in bots for _, ms in bot.sent)
        last_recv = max(bot.last_recv for bot in bots)
        deliveries = sum(len(seqs) for bot in bots for seqs in bot.received.values())
        lines = sum(len(bot.sent) for bot in bots)
        self.figures.update({
            "guests": len(bots),
            "lines typed": lines,
            "lines typed per s": round(lines * 1000 / (last_sent - first_sent + 1000), 1),
            "deliveries to guests": deliveries,
            "lines relayed by the host per s":
                round(deliveries * 1000 / max(1, last_recv - first_sent), 1),
            "host CPU % of one core": round(100 * (cpu1 - cpu0) / (wall1 - wall0), 1),
            "Xvfb CPU % of one core": round(100 * (xcpu1 - xcpu0) / (wall1 - wall0), 1),
            "host peak memory VmHWM kB": memory.get("VmHWM"),
            "host RSS with all guests kB": memory.get("VmRSS"),
            "latency ms median": statistics.median(latencies),
            "latency ms p99": percentile(latencies, 99),
            "latency ms max": max(latencies),
            "latency samples": len(latencies),
        })
        self.report("load")


class Churn(HostedRoom):
    STAYING = 8          # bots present for the whole run, chatting
    MOST_COMING = 8      # churning bots present at once
    PEER_BUDGET = 28     # the host takes 32 connections; a killed one holds
                         # its slot until the host times it out
    TIME_OUT_MARGIN = 15  # s before the end after which nobody is killed

    def test_guests_coming_and_going(self):
        seed = int(os.environ.get("COLLOQUOR_CHURN_SEED", str(int(time.time()))))
        print("churn seed:", seed, flush=True)
        rng = random.Random(seed)

        # Every other staying bot serves its host only once a second, as the
        # program once did; the rest, the watcher among them, as traffic comes.
        staying = [self.start_bot("Stay%d" % i, "198.51.100.%d" % i, ("red", "blue")[i % 2],
                                  SECONDS, start_after=self.STAYING,
                                  phase=1000 * i // self.STAYING,
                                  sync_every_ms=1000 if i % 2 == 0 else 0)
                   for i in range(1, self.STAYING + 1)]
        self.wait_all(staying, lambda b: b.started, 60, "the staying bots to see each other")
        self.past_five_ticks()

        present, killed, terminated = [], {}, []
        watcher = staying[0]

        def zombies():
            watcher.read()
            return [n for n in killed if n not in watcher.left]

        def spawn():
            number = len(self.bots) - len(staying) + 1
            # The host announces its objects to a newcomer in their order of
            # creation, the staying bots' before any coming one's: once a
            # coming bot knows that many participants, it knows them all.
            address = "203.0.%d.%d" % (113 + number // 250, number % 250)
            bot = self.start_bot("Churn%d" % number, address, rng.choice(("red", "blue")),
                                 SECONDS + 600,
                                 start_after=self.STAYING + 1, phase=rng.randrange(1000))
            self.wait_all(staying + present + [bot], lambda b: b.started, 30,
                          "%s to join" % bot.name)
            present.append(bot)

        def kill(bot):
            bot.signal(signal.SIGKILL)
            bot.process.wait(10)
            killed[bot.name] = now_ms()

        # A guest that leaves cleanly before the host's next tick is never
        # announced: three lines, a second apart, span a tick.
        def announced(bots):
            self.wait_all(bots, lambda b: len(b.sent) >= 3, 30, "the guests a while in")

        def terminate(bot):
            announced([bot])
            self.leave_cleanly([bot])
            terminated.append(bot.name)

        began = time.monotonic()
        # The host notices a killed guest within 10 s: kills stop early
        # enough for the run to see them.
        last_kill = began + max(0, SECONDS - self.TIME_OUT_MARGIN)
        while not all(b.read().done for b in staying):
            self.assertLess(time.monotonic(), began + SECONDS + 60,
                            "the staying bots never finished")
            self.check_alive(staying + present)
            time.sleep(rng.uniform(0.5, 2.5))  # the seeded schedule of the churn
            room = len(staying) + len(present) + len(zombies()) < self.PEER_BUDGET
            coming = len(present) < 2 or (rng.random() < 0.5 and len(present) < self.MOST_COMING)
            if room and coming:
                spawn()
            elif present:
                bot = present.pop(rng.randrange(len(present)))
                # The first departure is a kill, so that every run has one.
                if not killed or (time.monotonic() < last_kill and rng.random() < 0.5):
                    kill(bot)
                else:
                    terminate(bot)
        if not present:
            spawn()
        announced(present)
        self.leave_cleanly(present)
        terminated += [b.name for b in present]
        count = len(self.bots) - len(staying)
        print("churn: %d joined, %d left cleanly, %d killed" % (
            count, len(terminated), len(killed)))

        # Every departure as the program shows it: a killed guest closes with
        # its role set once the host's ENet times it out ("has left"); a
        # clean leave clears the role first and closes silently.
        self.wait_all(staying, lambda b: all(n in b.left for n in killed)
                      and all(n in b.gone for n in terminated), 120, "every departure seen")
        self.wait_all(staying, lambda b: all(len(b.received.get(o.name, [])) >= len(o.sent)
                                             for o in staying if o is not b),
                      60, "every staying bot's lines everywhere")
        self.check_alive(staying)
        for bot in staying:
            for name in terminated:
                self.assertNotIn(name, bot.left, "%s saw %s leave as if lost" % (bot.name, name))
            for name in killed:
                self.assertNotIn(name, bot.gone, "%s saw %s leave cleanly" % (bot.name, name))

        def departures_logged(text):
            return all("** %s has left ** " % n in text for n in killed)
        text = self.save_host_log(departures_logged, "every killed guest's departure")
        for name in terminated:
            self.assertNotIn("** %s has left " % name, text)
        for i in range(1, count + 1):
            self.assertIn("** Churn%d has joined ** " % i, text)
        logged = self.host_log_lines(text)
        for bot in staying:
            self.assertEqual(logged.get(bot.name), [seq for seq, _ in bot.sent], bot.name)

        self.leave_cleanly(staying)
        churners = [b for b in self.bots if b.name.startswith("Churn")]
        for bot in staying:
            self.assert_all_lines(bot, staying)
            # A coming bot waits until it knows the staying ones, so they get
            # all it typed, up to where it left.
            for other in churners:
                got = bot.received.get(other.name, [])
                if got:
                    self.assertEqual(got, list(range(1, len(got) + 1)), "%s from %s" % (
                        bot.name, other.name))
                if other.name in terminated:
                    self.assertEqual(got, [s for s, _ in other.sent], "%s from %s" % (
                        bot.name, other.name))
        for bot in churners:
            if bot.name in terminated:
                self.assert_all_lines(bot, staying + churners, complete=False)

        lost_after = [watcher.left[n] - killed[n] for n in killed]
        self.figures.update({
            "seed": seed, "staying": len(staying), "joined": count,
            "left cleanly": len(terminated), "killed": len(killed),
            "killed seen gone after ms (min)": min(lost_after),
            "killed seen gone after ms (max)": max(lost_after),
            "latency ms median (staying, half serving once a second)": statistics.median(
                [ms for b in staying for ms in b.latencies]),
        })
        self.report("churn")


class Dialogs(HostedRoom):
    HOLD = int(os.environ.get("COLLOQUOR_DIALOG_SECONDS", "60"))

    def test_open_dialogs_drop_nobody(self):
        """The host and a guest each hold their save requester open while two
        bots chat, one serving only once a second: nobody is dropped, the
        lines cross the host at once, and both logs have them all."""
        # Regression: a dialog stopped the network, guests were dropped after
        # about 40 s and the lines sent meanwhile were lost.
        guest = self.h.start("Guest")
        guest.join()
        bots = [self.start_bot("Quick", "192.0.2.1", "red", self.HOLD + 15, start_after=3),
                self.start_bot("Slow", "192.0.2.2", "blue", self.HOLD + 15, start_after=3,
                               phase=500, sync_every_ms=1000)]
        self.wait_all(bots, lambda b: b.started, 60, "the bots to see everybody")
        dialogs = [(self.host, self.host.open_save_requester()),
                   (guest, guest.open_save_requester())]
        opened = time.monotonic()
        while time.monotonic() < opened + self.HOLD:  # the hold itself
            self.check_alive(bots)
            time.sleep(0.5)
        sent = {b.name: len(b.sent) for b in bots}
        self.wait_all(bots, lambda b: all(len(b.received.get(o.name, [])) >= sent[o.name]
                                          for o in bots if o is not b),
                      10, "the lines typed so far, through the host")
        for instance, dialog in dialogs:
            self.assertIn(dialog, instance.windows("^Save discussion log$"), "closed early")
            instance.key(dialog, "Escape")
            instance.gone("^Save discussion log$")

        self.wait_all(bots, lambda b: b.done, 60, "every bot's last line")
        self.wait_all(bots, lambda b: all(len(b.received.get(o.name, [])) >= len(o.sent)
                                          for o in bots if o is not b), 30, "every line")
        self.leave_cleanly(bots)
        expected = {b.name: [seq for seq, _ in b.sent] for b in bots}
        for instance in (self.host, guest):
            text = instance.wait_log(lambda t: self.host_log_lines(t) == expected, timeout=30,
                                     what="every bot line")
            self.assertNotIn(" has left ", text)
        for bot in bots:
            self.assert_all_lines(bot, bots)
            self.assertEqual(bot.left, {}, bot.name)
        self.figures.update({"dialogs held open s": self.HOLD})
        self.report("dialog")


if __name__ == "__main__":
    exit_unless_root_facilities()
    kind = sys.argv.pop(1) if len(sys.argv) > 1 else ""
    cases = {"load": "Load", "churn": "Churn", "dialog": "Dialogs"}
    if kind not in cases:
        print("usage: test_load.py <build dir> load|churn|dialog", file=sys.stderr)
        sys.exit(2)
    unittest.main(argv=[sys.argv[0], cases[kind]], verbosity=2)
