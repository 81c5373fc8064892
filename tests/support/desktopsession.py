"""What the private desktop sessions of the idle tests share (see
kwinsession.py and gnomesession.py): a runtime folder of nobody's own, a
session bus of its own, and every process run as nobody with only the
session's environment.

Compositors and session daemons refuse root or behave differently under it,
so as root everything runs as nobody (through setpriv), from a runtime folder
(mode 700, nobody's) that also holds copies of the programs nobody must run.
close() kills the processes it started and then any process left whose
environment names this runtime folder, which catches the services the
session bus or gnome-session started. Should the test itself be killed (a
ctest time-out), its processes as nobody get SIGKILL as their parent dies;
so start them from a thread that outlives them (the main thread, say)."""

import os
import pwd
import shutil
import signal
import subprocess
import tempfile

from winesession import wait_until

BTN_LEFT = 0x110
SUPPORT_DIR = os.path.dirname(os.path.abspath(__file__))


def build_dir():
    """The build folder: ZEMBLOID_BUILD as ctest sets it, else the worktree's build/."""
    return os.environ.get("ZEMBLOID_BUILD") or os.path.join(SUPPORT_DIR, "..", "..", "build")


def helper_path(name):
    """A test helper the native tree builds into build/linux."""
    return os.path.join(build_dir(), "linux", name)


def command(session, argv):
    """argv run in `session`: a session object (this module's, or Sway), or
    an environment dict for a process of the current user with only it."""
    if hasattr(session, "command"):
        return session.command(argv)
    return ["env", "-i", *["%s=%s" % item for item in {"PATH": "/usr/bin:/bin", **session}.items()],
            *argv]


def bus_owner(session, bus_name):
    """The unique name that owns `bus_name` on the session's bus, or None."""
    run = subprocess.run(command(session, [
        "gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
        "--object-path", "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetNameOwner",
        bus_name]), capture_output=True, text=True, timeout=20)
    if run.returncode != 0:
        return None
    return run.stdout.strip().strip("(',)")   # gdbus prints "(':1.7',)"


def start_bus(start, address, stderr):
    """A session bus at `address`, started by start(argv, **popen_kwargs),
    once it listens."""
    bus = start(["dbus-daemon", "--session", "--nofork", "--print-address", "--address=" + address],
                stdout=subprocess.PIPE, stderr=stderr, text=True)
    if not bus.stdout.readline():
        raise RuntimeError("the session bus did not start")
    return bus


def end_processes(processes):
    """Kills those of `processes` still running, last started first, and
    closes their pipes."""
    for process in reversed(processes):
        if process.poll() is None:
            process.kill()
            process.wait()
        for pipe in (process.stdin, process.stdout, process.stderr):
            if pipe:
                pipe.close()
    processes.clear()


class Closing:
    """A context manager that calls close() on leaving."""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


class DesktopSession(Closing):
    """The runtime folder under `workdir` (or the temporary folder), the
    session bus, and the processes. `programs` are copied into the runtime
    folder, where nobody can run them; path(name) gives a copy's path. On its
    own it is a private session bus, for X11 tests say; with as_nobody=False
    everything runs as the current user."""

    def __init__(self, workdir=None, prefix="zembloid-session-", programs=(), as_nobody=True):
        parent = workdir or tempfile.gettempdir()
        self.as_nobody = os.geteuid() == 0 and as_nobody
        if self.as_nobody:
            # nobody must pass through the caller's folder to reach its own.
            os.chmod(parent, os.stat(parent).st_mode | 0o011)
        self.dir = tempfile.mkdtemp(prefix=prefix, dir=parent)
        os.chmod(self.dir, 0o700)
        self.processes = []
        self.copies = {}
        self.env = {"HOME": self.dir, "XDG_RUNTIME_DIR": self.dir, "PATH": "/usr/bin:/bin",
                    "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.dir, "bus")}
        try:
            for program in programs:
                if not os.path.exists(program):
                    raise RuntimeError(program + " is missing (make native builds the program "
                                       "and the helpers)")
                self.copies[os.path.basename(program)] = shutil.copy(program, self.dir)
            if self.as_nobody:
                nobody = pwd.getpwnam("nobody")
                for name in os.listdir(self.dir) + ["."]:
                    os.chown(os.path.join(self.dir, name), nobody.pw_uid, nobody.pw_gid)
            with self.log("bus.log") as log:
                self.bus = start_bus(self.run, self.env["DBUS_SESSION_BUS_ADDRESS"], log)
        except BaseException:
            self.close()
            raise

    def command(self, argv, env=None):
        """argv as nobody (as root) with the session's environment and `env`."""
        user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                "--pdeathsig=KILL"]
        if not self.as_nobody:
            user = []
        variables = ["%s=%s" % item for item in {**self.env, **(env or {})}.items()]
        return user + ["env", "-i", *variables, *argv]

    def run(self, argv, env=None, **popen_kwargs):
        """A client started in the session, as nobody, in the runtime folder
        unless `cwd` says otherwise; `env` adds variables. close() kills it if
        it still runs."""
        popen_kwargs.setdefault("cwd", self.dir)
        process = subprocess.Popen(self.command(argv, env), start_new_session=True, **popen_kwargs)
        self.processes.append(process)
        return process

    def log(self, name):
        """A file in the runtime folder for a daemon's output (opened for the caller)."""
        return open(os.path.join(self.dir, name), "w")

    def log_tail(self, name, lines=20):
        try:
            with open(os.path.join(self.dir, name), errors="replace") as f:
                return "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def path(self, name):
        return self.copies[name]

    def owner(self, bus_name):
        """The unique name that owns `bus_name` on the session bus, or None."""
        return bus_owner(self, bus_name)

    # Input, for sessions whose send(line) takes the input helpers' lines
    # (fake_input.c, mutter_remote.py); codes are evdev codes.
    def pointer_motion(self, dx, dy):
        self.send("move %g %g" % (dx, dy))

    def button(self, btn=BTN_LEFT):
        """Press and release of button `btn`."""
        self.send("button %d" % btn)

    def key(self, keycode):
        """Press and release of key `keycode` (KEY_A is 30)."""
        self.send("key %d" % keycode)

    def key_press(self, keycode):
        self.send("press %d" % keycode)

    def key_release(self, keycode):
        self.send("release %d" % keycode)

    def wait_for(self, name, timeout=30):
        """True once the runtime folder holds `name` (a socket, say)."""
        return wait_until(lambda: os.path.exists(os.path.join(self.dir, name)), timeout)

    def close(self):
        end_processes(self.processes)
        for pid in self.strays():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def strays(self):
        """Processes still running with this session's runtime folder in their environment."""
        mark = ("XDG_RUNTIME_DIR=%s\0" % self.dir).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if mark in f.read():
                        found.append(int(entry))
            except OSError:
                pass
        return found
