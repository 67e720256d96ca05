#!/usr/bin/env python3
"""Whole-program measurements of colloquor (needs root for the namespaces the
test harness makes; run after building):

  sudo bench/measure_program.py [build dir] [seconds]

1. Time from start to the user-name prompt being mapped, lobby on loopback.
2. Idle cost over the given seconds (default 60): CPU time, context switches
   per second (all threads; also split into voluntary ones, the process
   waiting, and involuntary ones, which grow with the machine's load) and
   resident memory, for a host alone in its room, for a guest in a room, and
   for a minimal FLTK window, in one run. The load average is printed along.
"""

import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from colloquor_e2e import Harness, wait_for  # noqa: E402


def sample(pid):
    """(cpu seconds, voluntary and involuntary context switches over all
    threads, rss kB). CPU time from the scheduler's nanosecond counts: the
    clock ticks of /proc/<pid>/stat are too coarse for an idle process."""
    cpu = 0.0
    voluntary = involuntary = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            cpu += int(f.read().split()[0]) / 1e9
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches"):
                    voluntary += int(line.split()[1])
                elif line.startswith("nonvoluntary_ctxt_switches"):
                    involuntary += int(line.split()[1])
    rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS"):
                rss = int(line.split()[1])
    return cpu, voluntary, involuntary, rss


def idle_cost(pids, seconds):
    start = {name: sample(pid) for name, pid in pids.items()}
    time.sleep(seconds)  # the measurement window itself
    result = {}
    for name, pid in pids.items():
        end = sample(pid)
        rates = [(end[i] - start[name][i]) / seconds for i in range(3)]
        result[name] = (rates[0], rates[1], rates[2], end[3])
    return result


def startup_times(h, runs=5):
    times = []
    for i in range(runs):
        began = time.monotonic()
        inst = h.start("Timer%d" % i)
        inst.window("^Choose Username$", 30)
        times.append(time.monotonic() - began)
        inst.close()
    return times


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    h = Harness(build)
    try:
        times = startup_times(h)
        print("start to prompt mapped: median %.0f ms, max %.0f ms (%d runs)" % (
            statistics.median(times) * 1000, max(times) * 1000, len(times)))

        host = h.start("Hostess")
        host.host()
        alone = idle_cost({"host alone": host.pid}, seconds)
        guest = h.start("Guest")
        guest.join()
        minimal = subprocess.Popen([os.path.join(build, "bench", "bench_minimal_fltk")],
                                   env=h.display.env())
        wait_for(lambda: h.display.xdotool("search", "--name", "^minimal$", check=False).stdout,
                 10, "the minimal window")
        together = idle_cost({"host with a guest": host.pid, "guest": guest.pid,
                              "minimal FLTK window": minimal.pid}, seconds)
        minimal.kill()
        print("load average: %.2f %.2f %.2f" % os.getloadavg())
        print("%-22s %8s %11s %9s %9s %8s" % ("process", "CPU %", "switches/s", "volunt.", "involunt.",
                                             "RSS kB"))
        for name, (cpu, vol, invol, rss) in list(alone.items()) + list(together.items()):
            print("%-22s %8.3f %11.1f %9.1f %9.1f %8d" % (name, cpu * 100, vol + invol, vol, invol,
                                                          rss))
    finally:
        h.close()


if __name__ == "__main__":
    main()
