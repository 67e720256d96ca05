"""Real Colloquor processes in network namespaces of their own, one lobby and
one Xvfb display, driven with real X input (xdotool).

Every instance lives in its own namespace (10.231.N.x behind one bridge), so
the lobby sees each at its own address, as on separate machines. Every wait
is bounded; nothing here sleeps for luck.
"""

import ctypes
import ctypes.util
import fcntl
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SUBNET_PREFIX = "10.231"
BRIDGE = "cqbr"
LOBBY_PORT = 8080
SKIP = 77


class Skip(Exception):
    pass


def run(*args, check=True, **kw):
    return subprocess.run(args, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kw)


def wait_for(condition, timeout, what, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(interval)


def stop(process):
    """Asks a process to end, and ends it outright after 10 s."""
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


X_TOOLS = ("ip", "Xvfb", "xdotool")


def exit_unless_root_facilities(tools=X_TOOLS):
    """Ends a test program with the skip status when it cannot run here."""
    try:
        require_root_facilities(tools)
    except Skip as why:
        print("SKIPPED:", why)
        sys.exit(SKIP)


def require_root_facilities(tools=X_TOOLS):
    if os.geteuid() != 0:
        raise Skip("needs root for network namespaces")
    for tool in tools:
        if not shutil.which(tool):
            raise Skip("needs %s" % tool)
    probe = "cqprobe%d" % os.getpid()
    if run("ip", "netns", "add", probe, check=False).returncode != 0:
        raise Skip("network namespaces are not available here")
    run("ip", "netns", "del", probe, check=False)


class Network:
    """A bridge in this namespace (the lobby's side) and one namespace per
    instance, joined to it by a veth pair. Multicast passes the bridge to
    every port (no snooping), as multicast DNS and UPnP discovery need."""

    def __init__(self):
        self.tag = "cq%d" % (os.getpid() % 100000)
        self.namespaces = []
        self.links = {}  # namespace -> its end of the veth pair
        self.bridge = BRIDGE + self.tag[2:]
        # Harnesses may run side by side (parallel tests): each takes a
        # subnet no other bridge holds, chosen under a lock.
        with open("/run/colloquor-e2e.lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            used = run("ip", "-4", "-o", "addr", "show").stdout
            self.subnet = next("%s.%d" % (SUBNET_PREFIX, n) for n in range(0, 250)
                               if " %s.%d.1/" % (SUBNET_PREFIX, n) not in used)
            run("ip", "link", "add", self.bridge, "type", "bridge", "mcast_snooping", "0")
            run("ip", "addr", "add", self.subnet + ".1/24", "dev", self.bridge)
        run("ip", "link", "set", self.bridge, "up")

    @property
    def lobby_address(self):
        return self.subnet + ".1"

    def add(self, index, gateway=None):
        """Namespace `index` at subnet.(10 + index); with `gateway`, its
        default route leads there (a host behind a Router)."""
        ns = "%s-%d" % (self.tag, index)
        address = "%s.%d" % (self.subnet, 10 + index)
        self.attach(ns, str(index), address)
        if gateway:
            run("ip", "netns", "exec", ns, "ip", "route", "add", "default", "via", gateway)
        return ns, address

    def link(self, index):
        """The name of namespace `index`'s interface, inside it."""
        return "%sb%d" % (self.tag, index)

    def attach(self, ns, suffix, address):
        """Makes namespace `ns` and joins it to the bridge at `address`; its
        interface inside is named tag + "b" + suffix."""
        outside, inside = "%sa%s" % (self.tag, suffix), "%sb%s" % (self.tag, suffix)
        run("ip", "netns", "add", ns)
        self.namespaces.append(ns)
        run("ip", "link", "add", outside, "type", "veth", "peer", "name", inside)
        run("ip", "link", "set", inside, "netns", ns)
        run("ip", "link", "set", outside, "master", self.bridge, "up")
        run("ip", "netns", "exec", ns, "ip", "addr", "add", address + "/24", "dev", inside)
        run("ip", "netns", "exec", ns, "ip", "link", "set", inside, "up")
        run("ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up")
        self.links[ns] = inside
        return inside

    def in_namespace(self, ns, *command):
        return run("ip", "netns", "exec", ns, *command)

    def close(self):
        for ns in self.namespaces:
            run("ip", "netns", "del", ns, check=False)
        run("ip", "link", "del", self.bridge, check=False)


class Display:
    def __init__(self, width=1024, height=768):
        self.bound = set()  # characters on keys of their own (bind_keys)
        self.number = self._free_number()
        self.name = ":%d" % self.number
        self.process = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists("/tmp/.X11-unix/X%d" % self.number), 10, "Xvfb")
        wait_for(lambda: self.xdotool("getmouselocation", check=False).returncode == 0, 10,
                 "the display to answer")

    @staticmethod
    def _free_number():
        for n in range(120, 400):
            if not os.path.exists("/tmp/.X%d-lock" % n) and not os.path.exists("/tmp/.X11-unix/X%d" % n):
                return n
        raise RuntimeError("no free display number")

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def xdotool(self, *args, check=True):
        return run("xdotool", *args, check=check, env=self.env())

    def bind_keys(self, text):
        """Puts every character of `text` beyond ASCII on a spare key of its
        own for the display's lifetime. Left to itself, xdotool lends one key
        to such characters in turn and takes it back when it ends, which can
        be before the program has read the last key: that character is lost."""
        wanted = sorted({c for c in text if ord(c) > 0x7f} - self.bound)
        if not wanted:
            return
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
        x11.XGetKeyboardMapping.argtypes = [ctypes.c_void_p, ctypes.c_ubyte, ctypes.c_int,
                                            ctypes.POINTER(ctypes.c_int)]
        display = ctypes.c_void_p(x11.XOpenDisplay(self.name.encode()))
        low, high, per_key = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
        x11.XDisplayKeycodes(display, ctypes.byref(low), ctypes.byref(high))
        count = high.value - low.value + 1
        symbols = x11.XGetKeyboardMapping(display, low.value, count, ctypes.byref(per_key))
        spare = [low.value + k for k in range(count)
                 if not any(symbols[k * per_key.value + j] for j in range(per_key.value))]
        x11.XFree(symbols)
        for character, key in zip(wanted, reversed(spare)):
            code = ord(character)
            symbol = code if code < 0x100 else 0x1000000 | code  # Unicode keysym
            x11.XChangeKeyboardMapping(display, key, 2, (ctypes.c_ulong * 2)(symbol, symbol), 1)
            self.bound.add(character)
        x11.XSync(display, 0)
        x11.XCloseDisplay(display)

    def screenshot(self, path):
        if shutil.which("import"):  # ImageMagick, when installed
            run("import", "-window", "root", path, check=False, env=self.env())

    def close(self):
        stop(self.process)


class Lobby:
    def __init__(self, binary, address, port, workdir):
        self.url = "http://%s:%d/gnet/gnet.php" % (address, port)
        self.log_path = os.path.join(workdir, "lobby.log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([binary, "--address", address, "--port", str(port)],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        wait_for(self._answers, 10, "the lobby")

    def _answers(self):
        try:
            return self.get("ping") is not None
        except OSError:
            return False

    def get(self, query):
        with urllib.request.urlopen(self.url + "?opt=" + query, timeout=5) as answer:
            return answer.read().decode("latin-1")

    def rooms(self):
        lines = [l for l in self.get("list").split("\n") if l.strip() and not l.startswith("<b")]
        return [tuple(lines[i:i + 3]) for i in range(0, len(lines) - 2, 3)]

    def close(self):
        stop(self.process)
        self.log.close()


# Gadget centres inside the room window's 800 x 600 client area.
ROOM = {
    "save": (545, 532), "copy": (445, 532), "mute": (255, 532),
    "red": (155, 82), "undecided": (400, 82), "blue": (645, 82),
    "input": (350, 560), "send": (745, 562), "leave": (85, 22),
    "change": (715, 22), "extend": (555, 22),
}
BROWSER = {"first_row": (120, 20), "join": (315, 22), "refresh": (315, 52),
           "create": (315, 82), "address": (315, 112), "cancel": (315, 372)}


class Instance:
    """One colloquor process in its own namespace."""

    def __init__(self, binary, display, ns, address, lobby_address, workdir, name, env=None):
        self.display = display
        self.ns = ns
        self.address = address
        self.name = name
        self.dir = tempfile.mkdtemp(prefix=name + "-", dir=workdir)
        self.saves = 0
        self.entered = None  # when the room window came up
        env = dict(display.env(), **(env or {}))
        env["HOME"] = self.dir
        env["COLLOQUOR_LOBBY"] = "%s:%d" % (lobby_address, LOBBY_PORT)
        # The machine's own system bus (and avahi-daemon) is not the
        # namespace's: without one of its own an instance has none.
        env.setdefault("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/colloquor-e2e-bus")
        self.output = open(os.path.join(self.dir, "output.txt"), "w")
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", ns, binary], cwd=self.dir, env=env,
            stdout=self.output, stderr=subprocess.STDOUT)
        self.pid = self.process.pid

    # --- windows -----------------------------------------------------------
    def windows(self, title=None):
        args = ["search", "--all", "--pid", str(self.pid)]
        args += ["--name", title] if title is not None else []
        found = self.display.xdotool(*args, check=False).stdout.split()
        return [w for w in found if self._mapped(w)]

    def _mapped(self, wid):
        info = run("xwininfo", "-id", wid, check=False, env=self.display.env()).stdout
        return "IsViewable" in info

    def window(self, title, timeout=20):
        return wait_for(lambda: (self.windows(title) or [None])[-1], timeout,
                        "%s: window %r" % (self.name, title))

    def gone(self, title, timeout=20):
        wait_for(lambda: not self.windows(title), timeout, "%s: %r to close" % (self.name, title))

    def click(self, wid, x, y, double=False):
        x_ = self.display.xdotool
        x_("windowraise", wid)
        x_("windowfocus", "--sync", wid, check=False)
        x_("mousemove", "--window", wid, str(x), str(y))
        x_("click", "--repeat", "2" if double else "1", "--delay", "80", "1")

    def type(self, wid, text):
        self.display.bind_keys(text)
        self.display.xdotool("windowraise", wid)
        self.display.xdotool("windowfocus", "--sync", wid, check=False)
        self.display.xdotool("type", "--delay", "15", text)

    def key(self, wid, *keys):
        self.display.xdotool("windowraise", wid)
        self.display.xdotool("windowfocus", "--sync", wid, check=False)
        self.display.xdotool("key", *keys)

    # --- flows -------------------------------------------------------------
    def answer_prompt(self, title, text):
        wid = self.window(title)
        self.key(wid, "ctrl+a")
        self.type(wid, text)
        self.key(wid, "Return")
        self.gone(title)

    def log_in(self):
        self.answer_prompt("^Choose Username$", self.name)
        return self.window("^Server List: ColloquorRC2b$")

    def host(self):
        browser = self.log_in()
        self.click(browser, *BROWSER["create"])
        wid = self.window("^Choose Room Name$")
        self.key(wid, "Return")
        return self.entered_room()

    def join(self, refresh_until=None):
        browser = self.log_in()
        if refresh_until:
            for _ in range(20):
                if refresh_until():
                    break
                self.click(browser, *BROWSER["refresh"])
                time.sleep(0.5)
        self.choose_first_room()
        return self.entered_room()

    def entered_room(self):
        wid = self.room_window()
        self.entered = time.monotonic()
        return wid

    def past_five_ticks(self):
        """Arrivals are announced only after a room's first 5 ticks: lets this
        instance's room clock pass them (the rule needs the time to pass)."""
        time.sleep(max(0.0, 6.5 - (time.monotonic() - self.entered)))

    def join_address(self, address):
        """Joins the host at `address` through "Join by Address..."."""
        browser = self.log_in()
        self.click(browser, *BROWSER["address"])
        self.answer_prompt("^Join by Address$", address)
        return self.room_window()

    def choose_first_room(self):
        """Joins the first room of the browser that is open. The list fills
        once the lobby has answered, after the window shows: a choice made
        before that finds no row, so it is made again while that browser
        stays open. Done when that browser has closed (a guest turned away
        at once may already have a new one)."""
        title = "^Server List: ColloquorRC2b$"
        for _ in range(10):
            found = self.windows(title)
            if not found:
                return
            browser = found[-1]
            closed = lambda: browser not in self.windows(title)  # noqa: E731
            try:
                self.click(browser, *BROWSER["first_row"])
                self.click(browser, *BROWSER["join"])
                wait_for(closed, 3, "the browser to close")
                return
            except (subprocess.CalledProcessError, AssertionError):
                if closed():
                    return
        raise AssertionError("%s: the first room could not be chosen" % self.name)

    def room_window(self, timeout=60):
        return self.window("^ColloquorRC2b: ", timeout)

    def say(self, text):
        room = self.room_window()
        self.click(room, *ROOM["input"])
        self.type(room, text)
        self.key(room, "Return")

    def press(self, gadget):
        self.click(self.room_window(), *ROOM[gadget])

    def open_save_requester(self):
        """Opens the save requester; returns its window."""
        self.press("save")
        return self.window("^Save discussion log$")

    def save_log(self):
        """Saves the discussion through the save requester; returns its text."""
        self.saves += 1
        name = "log%d.txt" % self.saves
        chooser = self.open_save_requester()
        # The chooser opens in the current folder (the instance's own; it has
        # no documents folder) with the insertion point after the folder.
        self.type(chooser, name)
        self.key(chooser, "Return")
        path = os.path.join(self.dir, name)
        wait_for(lambda: os.path.exists(path), 30, "%s: %s" % (self.name, name))
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_log(self, predicate, timeout=30, what="log text"):
        """Saves the log until `predicate(text)` holds; returns the text."""
        last = [""]

        def check():
            last[0] = self.save_log()
            return predicate(last[0])
        try:
            wait_for(check, timeout, "%s: %s" % (self.name, what), interval=0.5)
        except AssertionError:
            raise AssertionError("%s\n--- last log of %s ---\n%s" % (
                "timed out waiting for " + what, self.name, last[0]))
        return last[0]

    def notice(self, timeout=20):
        """The id of a message box of this process (an untitled window)."""
        return wait_for(lambda: (self.windows("^$") or [None])[-1], timeout, "a message box")

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=20):
        wait_for(lambda: not self.running(), timeout, "%s to end" % self.name)
        return self.process.returncode

    def kill(self, sig=signal.SIGKILL):
        if self.running():
            os.kill(self.pid, sig)

    def close(self):
        self.kill()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            pass
        self.output.close()


class Harness:
    """With lobby=False no lobby runs: the instances' lobby address leads
    nowhere. Daemons added to `daemons` (objects with close()) are closed
    after the instances, before the network goes."""

    def __init__(self, build_dir, lobby=True):
        require_root_facilities()
        self.binary = os.path.join(build_dir, "app", "colloquor")
        self.lobby_binary = os.path.join(build_dir, "server", "colloquor-lobby")
        self.workdir = tempfile.mkdtemp(prefix="colloquor-e2e-")
        self.network = Network()
        self.display = Display()
        self.lobby = None
        if lobby:
            self.lobby = Lobby(self.lobby_binary, self.network.lobby_address, LOBBY_PORT,
                               self.workdir)
        self.instances = []
        self.daemons = []

    def start(self, name, gateway=None, prepare=None):
        """An instance in a namespace of its own on the bridge (behind
        `gateway` when given); `prepare(ns, link)` runs once the namespace is
        there and returns variables for the instance's environment."""
        index = len(self.instances) + 1
        ns, address = self.network.add(index, gateway=gateway)
        env = prepare(ns, self.network.link(index)) if prepare else None
        return self.start_in(ns, address, name, env)

    def start_in(self, ns, address, name, env=None):
        """An instance in the existing namespace `ns`, whose address is `address`."""
        instance = Instance(self.binary, self.display, ns, address, self.network.lobby_address,
                            self.workdir, name, env)
        self.instances.append(instance)
        return instance

    def close(self):
        if os.environ.get("COLLOQUOR_E2E_KEEP"):
            self.display.screenshot(os.path.join(self.workdir, "final.png"))
        for instance in self.instances:
            instance.close()
        for daemon in reversed(self.daemons):
            daemon.close()
        if self.lobby:
            self.lobby.close()
        self.display.close()
        self.network.close()
        if os.environ.get("COLLOQUOR_E2E_KEEP"):
            print("kept", self.workdir)
        else:
            shutil.rmtree(self.workdir, ignore_errors=True)
