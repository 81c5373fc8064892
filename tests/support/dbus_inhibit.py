"""An org.freedesktop.ScreenSaver inhibitor as a video player holds one, run
in a desktop session by the system python3 (python3-gi):
  dbus_inhibit.py [OBJECT_PATH]   (default /org/freedesktop/ScreenSaver)
calls Inhibit("test", "holding"), prints the cookie and stays on the session
bus. A line "release" on stdin calls UnInhibit with the cookie, prints
"released" and exits; killed instead, it leaves the bus still holding the
cookie, which the name's owner must then drop. Prints "failed: ERROR" and
exits 1 when Inhibit fails (nobody owns the name, say)."""

import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME = "org.freedesktop.ScreenSaver"


def call(bus, path, method, args, reply):
    return bus.call_sync(NAME, path, NAME, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, -1, None).unpack()


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/org/freedesktop/ScreenSaver"
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    try:
        (cookie,) = call(bus, path, "Inhibit", GLib.Variant("(ss)", ("test", "holding")), "(u)")
    except GLib.Error as error:
        print("failed: " + error.message, flush=True)
        return 1
    print(cookie, flush=True)
    for line in sys.stdin:
        if line.strip() == "release":
            call(bus, path, "UnInhibit", GLib.Variant("(u)", (cookie,)), "()")
            print("released", flush=True)
            return 0
    return 0


sys.exit(main())
