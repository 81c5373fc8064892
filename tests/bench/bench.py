"""Measures zembloid.scr against the floor: a minimal Win32 program that does
one BitBlt of a 640 x 480 1-bit DIB section per timer tick.

Each program runs in a Wine session of its own (its own prefix, wineserver
and Xvfb at 1024 x 768) at redraw speed 1 (10 ms) and at the default 15
(150 ms). Start-ups are timed one program at a time; then both run side by
side for the CPU and memory readings. For each run it reports:
  start-up  wall seconds from starting the process to the first frame on screen
  cpu       CPU seconds (user + system) of the program's process per wall second
  rss       resident memory of the program's process
and the ratios saver / floor, checked against the bars below. The exit code is
0 when every bar holds.

`bench.py linux` measures the Linux program build/linux/zembloid instead, at
redraw speed 1: in its own window on a private Xvfb, and full-screen in a
private headless sway. It prints each one's CPU seconds (utime + stime from
/proc/PID/stat) per wall second over LINUX_WINDOW_SECONDS and its resident
memory; there is no floor to hold it to.
"""
import contextlib
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import swaysession  # noqa: E402
import winesession  # noqa: E402

FLOOR = os.path.join(winesession.WIN32_DIR, "floor.exe")
SPEEDS = (1, 15)
KINDS = ("floor", "saver")
STARTS = 5               # start-up is the median of this many starts
WARM_UP_SECONDS = 2.0
CPU_WINDOW_SECONDS = 15.0
CPU_RATIO_BAR = 1.10
STARTUP_RATIO_BAR = 1.25
MEMORY_BAR_KIB = 2048
LINUX_PROGRAM = os.path.join(winesession.BUILD_DIR, "linux", "zembloid")
LINUX_WINDOW_SECONDS = 10.0


def find_process(session, program_name, timeout=20):
    """The Linux pid of the Windows program `program_name` in this session."""
    needle = program_name.lower().encode()
    prefix = ("WINEPREFIX=" + session.prefix).encode()

    def scan():
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    first = f.read().split(b"\0")[0].lower()
                if not first.endswith(needle):
                    continue
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if prefix in f.read().split(b"\0"):
                        return int(pid)
            except OSError:
                continue
        return None
    return winesession.wait_until(scan, timeout)


def cpu_seconds(pid):
    """CPU time of all the process's threads, from the scheduler's nanosecond
    counters (the tick-based utime and stime are too coarse at 150 ms ticks)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def centre_shows_frame(session):
    """True once the centre of the screen is no longer plain black."""
    image = session.screenshot().crop((492, 364, 532, 404))
    return any(pixel != (0, 0, 0) for pixel in image.getdata())


def command_for(kind, speed):
    if kind == "saver":
        return [winesession.SCR, "/s"], "zembloid.scr"
    return [FLOOR, str(speed * 10)], "floor.exe"


def prepare(session, speed):
    with open(os.path.join(session.windows_dir(), "control.ini"), "w", newline="\r\n") as f:
        f.write("[ZEMBLOID]\nRedraw Speed=%d\n" % speed)
    # Start the wineserver and its services before anything is timed, and keep
    # them between starts with a console waiting for input: left to itself the
    # wineserver quits a few seconds after the last program, and whether a
    # start paid for booting it again would depend on how long the previous
    # stop took.
    session.wine("cmd", "/c", "exit", timeout=120)
    session.start("cmd", stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)


def stop(session, pid):
    session.xdotool("key", "space")
    if not winesession.wait_until(lambda: not os.path.exists("/proc/%d" % pid), 10):
        os.kill(pid, 9)


def time_starts(session, kind, speed):
    """The median wall time from starting the program to its first frame."""
    command, program_name = command_for(kind, speed)
    starts = []
    for _ in range(STARTS):
        began = time.monotonic()
        session.start(*command)
        if not winesession.wait_until(lambda: centre_shows_frame(session), 30, interval=0):
            raise RuntimeError("%s showed no frame" % kind)
        starts.append(time.monotonic() - began)
        stop(session, find_process(session, program_name))
    return statistics.median(starts)


def measure(speed):
    """Both programs, each in a Wine session of its own. Their CPU time is read
    over the same wall-clock windows while both run: the machine's own load
    drifts by a factor of two within a minute here, which swamps the few
    milliseconds a second being compared when the two are timed one after the
    other."""
    results = {kind: {} for kind in KINDS}
    with contextlib.ExitStack() as stack:
        sessions = {kind: stack.enter_context(winesession.WineSession(
            "bench-%s-%d" % (kind, speed))) for kind in KINDS}
        pids = {}
        for kind in KINDS:
            prepare(sessions[kind], speed)
            results[kind]["startup"] = time_starts(sessions[kind], kind, speed)
        for kind in KINDS:
            command, program_name = command_for(kind, speed)
            sessions[kind].start(*command)
            pids[kind] = find_process(sessions[kind], program_name)
        time.sleep(WARM_UP_SECONDS)
        before = {kind: cpu_seconds(pid) for kind, pid in pids.items()}
        wall_before = time.monotonic()
        time.sleep(CPU_WINDOW_SECONDS)
        after = {kind: cpu_seconds(pid) for kind, pid in pids.items()}
        wall = time.monotonic() - wall_before
        for kind, pid in pids.items():
            results[kind]["cpu"] = (after[kind] - before[kind]) / wall
            results[kind]["rss"] = rss_kib(pid)
            stop(sessions[kind], pid)
    return results


def stat_cpu_seconds(pid):
    """utime + stime of the process, from /proc/PID/stat (after the command
    name, which may hold spaces, they are the 12th and 13th fields)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def linux_reading(pid):
    time.sleep(WARM_UP_SECONDS)
    before, began = stat_cpu_seconds(pid), time.monotonic()
    time.sleep(LINUX_WINDOW_SECONDS)
    cpu = (stat_cpu_seconds(pid) - before) / (time.monotonic() - began)
    return cpu, rss_kib(pid)


# The idle watcher with an idle time far beyond the reading: it only waits.
IDLE_WAITING = ["-idle", "3600", "-speed", "1"]


def measure_linux():
    """(display, how it runs, cpu s/s, rss KiB) for each way it runs."""
    rows = []
    xvfb, name = winesession.start_xvfb()
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "XSCREENSAVER_WINDOW")}
    try:
        for run, args in (("own window", ["-speed", "1"]), ("-idle, waiting", IDLE_WAITING)):
            program = subprocess.Popen([LINUX_PROGRAM, *args], env=dict(env, DISPLAY=name))
            try:
                rows.append(("X11", run, *linux_reading(program.pid)))
            finally:
                program.terminate()
                program.wait()
    finally:
        xvfb.kill()
        xvfb.wait()
    with swaysession.Sway([LINUX_PROGRAM]) as sway:
        program = sway.start("-fullscreen", "-speed", "1")
        rows.append(("Wayland", "-fullscreen", *linux_reading(program.pid)))
        program = sway.start(*IDLE_WAITING)
        rows.append(("Wayland", "-idle, waiting", *linux_reading(program.pid)))
    return rows


def main_linux():
    print("Measuring %s at -speed 1, %.0f s each" % (os.path.relpath(LINUX_PROGRAM, winesession.SOURCE_DIR),
                                                    LINUX_WINDOW_SECONDS))
    print("%-8s %-14s %10s %10s" % ("display", "run", "cpu s/s", "rss KiB"))
    for display, run, cpu, rss in measure_linux():
        print("%-8s %-14s %10.4f %10d" % (display, run, cpu, rss))
    return 0


def main():
    if sys.argv[1:] == ["linux"]:
        return main_linux()
    failures = []
    print("Measuring %s against %s" % (winesession.BUILD_UNDER_TEST,
                                       os.path.relpath(FLOOR, winesession.SOURCE_DIR)))
    print("%-6s %-6s %10s %10s %10s" % ("speed", "prog", "start-up s", "cpu s/s", "rss KiB"))
    for speed in SPEEDS:
        results = measure(speed)
        for kind, r in results.items():
            print("%-6d %-6s %10.3f %10.4f %10d" % (speed, kind, r["startup"], r["cpu"], r["rss"]))
        saver, floor = results["saver"], results["floor"]
        cpu_ratio = saver["cpu"] / floor["cpu"] if floor["cpu"] else float("inf")
        startup_ratio = saver["startup"] / floor["startup"]
        memory_above = saver["rss"] - floor["rss"]
        print("speed %d: cpu ratio %.3f (bar %.2f), start-up ratio %.3f (bar %.2f), "
              "memory %+d KiB over the floor (bar %d)"
              % (speed, cpu_ratio, CPU_RATIO_BAR, startup_ratio, STARTUP_RATIO_BAR,
                 memory_above, MEMORY_BAR_KIB))
        if cpu_ratio > CPU_RATIO_BAR:
            failures.append("speed %d cpu ratio" % speed)
        if startup_ratio > STARTUP_RATIO_BAR:
            failures.append("speed %d start-up ratio" % speed)
        if memory_above > MEMORY_BAR_KIB:
            failures.append("speed %d memory" % speed)
    print("bench: " + ("all bars hold" if not failures else "over the bar: " + ", ".join(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
