"""Wine sessions for the tests: a private prefix and a private virtual display.

Every session copies a prefix template (made once per build tree) into a
folder of its own, starts its own Xvfb, runs Windows programs there, and on
exit ends only what it started: its wineserver and its Xvfb.

Command line:
  winesession.py template          make the prefix template if it is missing
  winesession.py gtest EXE [ARGS]  run a Win32 GoogleTest executable in a session
  winesession.py describe          name the build under test and its tests
  winesession.py slowdown          how many times longer emulated runs may take
"""

import contextlib
import fcntl
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import time

SOURCE_DIR = os.environ.get(
    "ZEMBLOID_SOURCE_DIR",
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
# Which build the Wine layers run: "win32", the product (i686) under 32-bit
# Wine, or "win64", the x86-64 build under 64-bit Wine, for hosts that run no
# 32-bit programs. Each has a cross tree of its own (the test programs, the
# launcher, the test doubles) and prefixes of its own.
ARCH = os.environ.get("ZEMBLOID_ARCH", "win32")
BUILD_DIR = os.environ.get("ZEMBLOID_BUILD", os.path.join(SOURCE_DIR, "build"))
WIN32_DIR = os.environ.get("ZEMBLOID_WIN32_DIR", os.path.join(BUILD_DIR, ARCH))
SCR = os.path.join(BUILD_DIR, "zembloid.scr" if ARCH == "win32" else "x64/zembloid.scr")
LAUNCH = os.path.join(WIN32_DIR, "launch.exe")
WINE_DIR = os.path.join(BUILD_DIR, "wine", ARCH)
TEMPLATE = os.path.join(WINE_DIR, "template")
# ZEMBLOID_EMULATED=1: the 32-bit Wine runs through user-mode emulation, from
# the private folder that scripts/i386-wine.sh prepares, on a host that runs no
# 32-bit programs. Every time-out of its tests (ctest's, the sessions' and
# the tests' own waits) is EMULATION_SLOWDOWN times longer: its processes
# start and draw three to five times slower than under the 64-bit Wine.
EMULATED = ARCH == "win32" and os.environ.get("ZEMBLOID_EMULATED") == "1"
EMULATION_SLOWDOWN = 4
TIME_SCALE = EMULATION_SLOWDOWN if EMULATED else 1
EMULATED_WINE = os.path.join(BUILD_DIR, "i386-wine", "wine")
# Debian's `wine` wrapper prefers the 32-bit loader, which a host without
# 32-bit support cannot start; the 64-bit loader is called directly.
if ARCH == "win64":
    WINE = "/usr/lib/wine/wine64"
else:
    WINE = EMULATED_WINE if EMULATED else "wine"
# One line that names the build under test, for the scripts' output.
BUILD_UNDER_TEST = "%s under %s Wine%s" % (
    os.path.relpath(SCR, SOURCE_DIR), "32-bit" if ARCH == "win32" else "64-bit",
    " through user-mode emulation" if EMULATED else "")
PREFIX_REG = os.path.join(SOURCE_DIR, "tests", "support", "prefix.reg")

# Folders of a prefix that hold only the system's own DLLs and data: sessions
# share them through hard links instead of copying half a gigabyte each time.
SHARED_FOLDERS = ("system32", "syswow64", "winsxs", "globalization", "resources")

BASE_ENV = {
    "WINEDEBUG": "-all",
    "WINEARCH": ARCH,
    # No Mono or Gecko installer prompts.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
    # Code page 932, so that Shift-JIS text converts as on a Japanese system.
    "LC_ALL": "ja_JP.UTF-8",
}


def wait_until(predicate, timeout, interval=0.05):
    """Polls predicate until it returns a true value or timeout seconds pass
    (times the emulation's slowdown)."""
    deadline = time.monotonic() + timeout * TIME_SCALE
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def _template_stamp():
    digest = hashlib.sha256()
    if os.path.exists(PREFIX_REG):
        with open(PREFIX_REG, "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()


def ensure_template():
    """Makes the prefix template once per build tree; safe to call concurrently."""
    if EMULATED and not os.path.exists(EMULATED_WINE):
        raise RuntimeError("no emulated 32-bit Wine in %s: run scripts/install-deps.sh"
                           % os.path.dirname(EMULATED_WINE))
    os.makedirs(WINE_DIR, exist_ok=True)
    stamp_path = os.path.join(TEMPLATE, ".zembloid-ready")
    with open(os.path.join(WINE_DIR, "template.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = _template_stamp()
        if os.path.exists(stamp_path):
            with open(stamp_path) as f:
                if f.read() == stamp:
                    return TEMPLATE
        shutil.rmtree(TEMPLATE, ignore_errors=True)
        env = dict(os.environ, **BASE_ENV, WINEPREFIX=TEMPLATE)
        env.pop("DISPLAY", None)
        subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=240 * TIME_SCALE, check=True)
        if os.path.exists(PREFIX_REG):
            subprocess.run([WINE, "regedit", "/S", PREFIX_REG], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=60 * TIME_SCALE, check=True)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60 * TIME_SCALE)
        with open(stamp_path, "w") as f:
            f.write(stamp)
    return TEMPLATE


def _copy_prefix(source, target):
    def copy(src, dst):
        rel = os.path.relpath(src, source).split(os.sep)
        if len(rel) > 3 and rel[:2] == ["drive_c", "windows"] and rel[2] in SHARED_FOLDERS:
            os.link(src, dst)
        else:
            shutil.copy2(src, dst)
    shutil.copytree(source, target, symlinks=True, copy_function=copy,
                    ignore=shutil.ignore_patterns(".zembloid-ready"))


class WineProcess(subprocess.Popen):
    """A Windows program of a session: its waits last the emulation's slowdown
    times longer."""

    def wait(self, timeout=None):
        return super().wait(None if timeout is None else timeout * TIME_SCALE)

    def communicate(self, input=None, timeout=None):
        return super().communicate(input, None if timeout is None else timeout * TIME_SCALE)


class WineSession:
    """One private Wine prefix and one private X display.

    Use as a context manager. `name` names the prefix folder under the build
    tree; `screen` is the virtual display's width and height. `monitors`, a
    list of (width, height), gives the display several monitors side by side
    instead, left to right from (0, 0) in X coordinates, and Wine is told to
    read them; `primary` is the index of the one Wine makes its primary, whose
    top-left corner is (0, 0) on the Windows desktop. One monitor given that
    way is one whose resolution can be changed.
    """

    def __init__(self, name, screen=(1024, 768), depth=24, display=None, monitors=None,
                 primary=0):
        self.name = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
        self.monitors = monitors
        self.primary = primary
        if monitors:
            screen = (sum(w for w, _ in monitors), max(h for _, h in monitors))
        self.screen = screen
        self.depth = depth
        self.prefix = os.path.join(WINE_DIR, "sessions", self.name)
        self.xvfb = None
        self.xephyr = None
        self.display = display
        self.own_display = display is None
        self.env = None
        self._children = []

    # Set-up and tear-down -------------------------------------------------

    def __enter__(self):
        ensure_template()
        shutil.rmtree(self.prefix, ignore_errors=True)
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        _copy_prefix(TEMPLATE, self.prefix)
        if self.own_display:
            self._start_display()
        self.env = dict(os.environ, **BASE_ENV, WINEPREFIX=self.prefix, DISPLAY=self.display)
        if self.monitors and len(self.monitors) > 1:
            self._read_xinerama()
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _start_display(self):
        self.xvfb, self.display = start_xvfb(self.screen, self.depth)
        if self.monitors:
            self.xephyr, self.display = start_xephyr(self.monitors, self.display)

    def _read_xinerama(self):
        """Wine reads XRandR first, which shows Xephyr's heads as one monitor;
        its X11 driver reads the Xinerama heads instead once told so, from its
        next start on."""
        key = "HKCU\\Software\\Wine\\X11 Driver"
        self.reg_add(key, "UseXRandR", "N")
        self.reg_add(key, "PrimaryMonitor", self.primary)
        self.wait_for_wineserver()

    def close(self):
        """Ends this session's programs, its wineserver and its display."""
        for child in self._children:
            if child.poll() is None:
                with contextlib.suppress(ProcessLookupError):
                    os.killpg(child.pid, signal.SIGKILL)
        if self.env is not None:
            with contextlib.suppress(Exception):
                subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for child in self._children:
            with contextlib.suppress(Exception):
                child.wait(timeout=10)
        if self.env is not None:
            self._kill_strays()
        for server in (self.xephyr, self.xvfb):
            if server is not None:
                server.terminate()
                with contextlib.suppress(subprocess.TimeoutExpired):
                    server.wait(timeout=10)
                if server.poll() is None:
                    server.kill()
        self.xephyr = self.xvfb = None
        shutil.rmtree(self.prefix, ignore_errors=True)

    def _kill_strays(self):
        """Ends what is left of this prefix's processes. `wineserver -k` ends
        only those the server knows: under emulation a services.exe stuck at
        its start, both threads waiting on a futex, outlived its session and
        the whole test run."""
        marker = ("WINEPREFIX=" + self.prefix).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if marker in f.read().split(b"\0"):
                        os.kill(int(pid), signal.SIGKILL)

    # Running programs -----------------------------------------------------

    def wine(self, *args, timeout=60, cwd=None, env=None):
        """Runs `wine ARGS` to completion; returns the CompletedProcess."""
        return subprocess.run([WINE, *args], env=dict(self.env, **(env or {})), cwd=cwd,
                              timeout=timeout * TIME_SCALE,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                              errors="replace")

    def start(self, *args, cwd=None, env=None, **popen_args):
        """Starts `wine ARGS` in the background; the session ends it on close."""
        popen_args.setdefault("stdout", subprocess.PIPE)
        popen_args.setdefault("stderr", subprocess.DEVNULL)
        child = WineProcess([WINE, *args], env=dict(self.env, **(env or {})), cwd=cwd, text=True,
                            errors="replace", start_new_session=True, **popen_args)
        self._children.append(child)
        return child

    def launch(self, command_line, timeout=30):
        """Runs a Windows command line (exactly as given: tabs, quotes and all)
        through the launcher and returns the program's full 32-bit exit code,
        or None when it did not end in time."""
        result = self.wine(LAUNCH, "--timeout", str(int(timeout * TIME_SCALE * 1000)), timeout=timeout + 30,
                           env={"LAUNCH_COMMAND_LINE": command_line})
        return parse_exit_code(result.stdout)

    def start_launch(self, command_line, timeout=60):
        """Starts the launcher in the background; read the exit code later
        with parse_exit_code(process.communicate()[0])."""
        return self.start(LAUNCH, "--timeout", str(int(timeout * TIME_SCALE * 1000)),
                          env={"LAUNCH_COMMAND_LINE": command_line})

    def scr_command(self, tail=""):
        """A command line that starts zembloid.scr by its Windows path."""
        return '"%s"%s' % (windows_path(SCR), (" " + tail) if tail else "")

    def reg_add(self, key, value, data, kind="REG_SZ", attempts=3, timeout=20):
        """Sets one registry value through Wine's reg.exe, which takes about 3 s
        here and 6 s under emulation. Twice in full test runs reg.exe, started as the
        session's last programs had ended, failed: once with an error exit and
        nothing on stderr, once hanging until its time-out. So each attempt has
        `timeout` seconds; one that fails or hangs is told on stderr and tried
        again a second later, and the error raised after the last one carries
        what each attempt said (reg.exe writes its messages to stdout)."""
        command = ("reg", "add", key, "/v", value, "/t", kind, "/d", str(data), "/f")
        failures = []
        for attempt in range(attempts):
            if attempt:
                time.sleep(1)
            try:
                result = self.wine(*command, timeout=timeout)
            except subprocess.TimeoutExpired:
                failures.append("no end in %g s" % (timeout * TIME_SCALE))
            else:
                if result.returncode == 0:
                    return
                failures.append("exit code %d: %s%s" % (result.returncode, result.stdout.strip(),
                                                          result.stderr.strip()))
            print("reg add %s /v %s, attempt %d: %s" % (key, value, attempt + 1, failures[-1]),
                  file=sys.stderr, flush=True)
        raise RuntimeError("reg add %s /v %s failed %d times: %s" % (key, value, attempts, "; ".join(failures)))

    def emulate_win98(self, exe_name):
        """Makes GetVersionExA report Windows 98 to the named executable only."""
        self.reg_add("HKCU\\Software\\Wine\\AppDefaults\\" + exe_name, "Version", "win98")

    def windows_dir(self):
        return os.path.join(self.prefix, "drive_c", "windows")

    def wait_for_wineserver(self, timeout=30):
        """Waits until every program of this session has ended."""
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=timeout * TIME_SCALE)

    # The display ----------------------------------------------------------

    def xdotool(self, *args, timeout=20):
        result = subprocess.run(["xdotool", *[str(a) for a in args]], env=self.env,
                                timeout=timeout, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        return result.stdout

    def find_windows(self, title):
        """X window ids of visible windows whose title is exactly `title`."""
        out = self.xdotool("search", "--onlyvisible", "--name", "^%s$" % re.escape(title))
        return [int(line) for line in out.split()]

    def wait_for_window(self, title, timeout=20):
        found = wait_until(lambda: self.find_windows(title), timeout)
        return found[0] if found else None

    def find_windows_named(self, title):
        """Like find_windows, for any title: xdotool's own name search misses
        titles outside ASCII, so this compares every visible window's name."""
        out = self.xdotool("search", "--onlyvisible", "--name", "")
        return [int(w) for w in out.split()
                if self.xdotool("getwindowname", w).rstrip("\n") == title]

    def wait_for_window_named(self, title, timeout=20):
        found = wait_until(lambda: self.find_windows_named(title), timeout, interval=0.2)
        return found[0] if found else None

    def screenshot(self):
        """The whole virtual screen as a PIL RGB image."""
        return screenshot(self.display)


def screenshot(display):
    """The whole screen of X display `display` as a PIL RGB image."""
    from PIL import Image
    import io
    png = subprocess.run(["import", "-display", display, "-window", "root", "png:-"],
                         timeout=30, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, check=True).stdout
    return Image.open(io.BytesIO(png)).convert("RGB")


def start_xvfb(screen=(1024, 768), depth=24, extra_args=()):
    """Starts a private Xvfb that picks a free display number itself.
    Returns (process, display name such as ":5")."""
    width, height = screen
    return _start_x_server(["Xvfb", "-screen", "0", "%dx%dx%d" % (width, height, depth),
                            "-nolisten", "tcp", "-noreset", *extra_args])


def start_xephyr(heads, host_display, extra_args=()):
    """Starts a private Xephyr on `host_display` whose heads have the given
    (width, height) sizes. Several heads are Xinerama heads side by side from
    (0, 0) in one root window: several monitors, which Xvfb alone cannot show.
    One head can change its size through RandR, as a monitor whose resolution
    is changed, which Xvfb cannot do either. The host display must be large
    enough to hold one window per head. `extra_args` go to Xephyr as they are.
    Returns (process, display name)."""
    screens = [arg for width, height in heads for arg in ("-screen", "%dx%d" % (width, height))]
    kind = "+xinerama" if len(heads) > 1 else "-resizeable"
    return _start_x_server(["Xephyr", kind, *screens, "-ac", "-nolisten", "tcp", "-noreset",
                            *extra_args],
                           env=dict(os.environ, DISPLAY=host_display))


def _start_x_server(command, env=None):
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(
        [command[0], "-displayfd", str(write_fd), *command[1:]], env=env,
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    os.close(write_fd)
    number = b""
    deadline = time.monotonic() + 20
    with os.fdopen(read_fd, "rb") as pipe:
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip().isdigit():
        server.kill()
        raise RuntimeError(command[0] + " did not start")
    return server, ":" + number.strip().decode()


def windows_path(path):
    """The path of a file of this machine as Wine's Z: drive names it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def parse_exit_code(output):
    match = re.search(r"exit 0x([0-9A-Fa-f]{8})", output or "")
    return int(match.group(1), 16) if match else None


def run_gtest(exe, args, screen=(1024, 768)):
    """Runs a Win32 test executable in a session of its own. A registry file
    tests/win32/NAME.reg beside the test's source, if there is one, is imported
    into the session's prefix first."""
    name = os.path.splitext(os.path.basename(exe))[0]
    with WineSession("gtest-" + name, screen=screen) as session:
        settings = os.path.join(SOURCE_DIR, "tests", "win32", name + ".reg")
        if os.path.exists(settings):
            session.wine("regedit", "/S", settings, timeout=60)
        child = session.start(exe, *args, cwd=os.path.dirname(exe),
                              stdout=None, stderr=subprocess.STDOUT)
        try:
            return child.wait(timeout=540)  # times the slowdown, as a WineProcess
        except subprocess.TimeoutExpired:
            print("%s did not finish in time" % exe, flush=True)
            return 1


def main(argv):
    if len(argv) >= 2 and argv[1] == "template":
        ensure_template()
        print("prefix template ready: " + TEMPLATE)
        return 0
    if len(argv) == 2 and argv[1] == "describe":
        print("%s (wine.%s.*, e2e.%s.*)" % (BUILD_UNDER_TEST, ARCH, ARCH))
        return 0
    if len(argv) == 2 and argv[1] == "slowdown":
        print(EMULATION_SLOWDOWN)
        return 0
    if len(argv) >= 3 and argv[1] == "gtest":
        return run_gtest(os.path.abspath(argv[2]), argv[3:])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
