"""The ways applications keep a desktop from going idle, as holders tests can
take and let go of:
- dbus_inhibit: an org.freedesktop.ScreenSaver inhibitor on the session bus
  (browsers and video players), released with UnInhibit or lost by a kill;
- wayland_inhibit: a zwp_idle_inhibitor_v1 on a shown surface (sway, KWin);
- XSuspend: a held XScreenSaverSuspend on an X display, and x_saver() and
  x_saver_settings() for the X server's own screen-saver timer (xset s);
and own_name, a process that owns a bus name, as an idle daemon would.

`session` is a session object whose command(argv) gives the command line that
runs argv in it (Sway, KwinSession, GnomeSession), or an environment dict, for
a process of the current user with just that environment (desktopsession's
bus_owner(session, name) tells who owns a bus name there)."""

import ctypes
import os
import signal
import subprocess

from desktopsession import SUPPORT_DIR, Closing, command, helper_path


class Holder(Closing):
    """A process that holds an inhibitor while it runs."""

    def __init__(self, session, argv, what):
        # In "/", as the caller's folder may be closed to nobody.
        self.process = subprocess.Popen(command(session, argv), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, text=True, cwd="/",
                                        start_new_session=True)
        self.first = self.process.stdout.readline().strip()
        if self.process.poll() is not None or not self.first or self.first.startswith("failed"):
            self.kill()
            raise RuntimeError("%s did not start: %s" % (what, self.first or "no output"))

    def kill(self):
        """SIGKILL: the holder leaves without letting go."""
        self.end(signal.SIGKILL)

    def end(self, signal_number=None):
        """Sends `signal_number` (none: it is ending by itself) and waits for the end."""
        if signal_number and self.process.poll() is None:
            os.killpg(self.process.pid, signal_number)
        self.process.wait(10)
        self.process.stdin.close()
        self.process.stdout.close()

    close = kill


class DbusInhibitor(Holder):
    """org.freedesktop.ScreenSaver.Inhibit("test", "holding") at `path`; .cookie."""

    def __init__(self, session, path):
        with open(os.path.join(SUPPORT_DIR, "dbus_inhibit.py")) as f:
            source = f.read()
        # The source goes on the command line, as this folder may be closed to nobody.
        super().__init__(session, ["python3", "-c", source, path], "Inhibit on " + path)
        self.cookie = int(self.first)

    def release(self):
        """UnInhibit with the cookie, then exit."""
        self.process.stdin.write("release\n")
        self.process.stdin.flush()
        if self.process.stdout.readline() != "released\n":
            raise RuntimeError("UnInhibit failed")
        self.end()


def dbus_inhibit(session, path="/org/freedesktop/ScreenSaver"):
    """A D-Bus inhibitor held until .release() or .kill(); RuntimeError when
    Inhibit fails (nobody owns the name, say)."""
    return DbusInhibitor(session, path)


# Owns the bus name argv[1] (not queueing for it), prints its unique name once
# it does, or "failed" when the name is taken; then stays on the bus.
OWN_NAME = """
import sys
import gi
gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
(reply,) = bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "RequestName", GLib.Variant("(su)", (sys.argv[1], 4)),
                         GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None).unpack()
print(bus.get_unique_name() if reply == 1 else "failed: reply %d" % reply, flush=True)
GLib.MainLoop().run()
"""


def own_name(session, bus_name):
    """A process that owns `bus_name` on the session bus (the desktop's idle
    daemon, say) until .kill(); .owner is its unique name. RuntimeError when
    the name has another owner."""
    holder = Holder(session, ["python3", "-c", OWN_NAME, bus_name], "owner of " + bus_name)
    holder.owner = holder.first
    return holder


class WaylandInhibitor(Holder):
    def release(self):
        """SIGTERM: the surface and its inhibitor go."""
        self.end(signal.SIGTERM)


def wayland_inhibit(session):
    """tests/support/idle_inhibitor's window, shown, with its inhibitor, held
    until .release() or .kill(). The session's own copy of the helper runs
    where it has one (Sway(programs=...)), else the build's."""
    try:
        program = session.path("idle_inhibitor")
    except (AttributeError, KeyError):
        program = helper_path("idle_inhibitor")
    return WaylandInhibitor(session, [program], "idle_inhibitor")


def open_display(display):
    """Xlib through ctypes, and a connection of its own to `display`."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    d = ctypes.c_void_p(x.XOpenDisplay(display.encode()))
    if not d:
        raise RuntimeError("cannot open " + display)
    return x, d


class XSuspend(Closing):
    """XScreenSaverSuspend(True) from a connection of its own to `display`,
    held until .release() (Suspend(False)) or .kill() (the connection closes
    without it, which the server takes as the end of the suspension too)."""

    def __init__(self, display):
        self.x, self.d = open_display(display)
        self.xss = ctypes.CDLL("libXss.so.1")
        self.suspend(True)

    def suspend(self, on):
        self.xss.XScreenSaverSuspend(self.d, int(on))
        self.x.XSync(self.d, 0)

    def release(self):
        self.suspend(False)
        self.kill()

    def kill(self):
        if self.d:
            self.x.XCloseDisplay(self.d)
            self.d = None

    close = kill


def x_saver(display, *args):
    """xset s ARGS on `display`: x_saver(d, "off"), x_saver(d, 2, 0) (a timer
    of 2 s that does not cycle), x_saver(d, "reset") (as if input came)."""
    subprocess.run(["xset", "-display", display, "s", *map(str, args)], check=True, timeout=20)


def x_saver_settings(display):
    """The server's screen-saver settings as XGetScreenSaver gives them:
    (timeout, interval, prefer_blanking, allow_exposures)."""
    x, d = open_display(display)
    values = [ctypes.c_int() for _ in range(4)]
    x.XGetScreenSaver(d, *map(ctypes.byref, values))
    x.XCloseDisplay(d)
    return tuple(value.value for value in values)
