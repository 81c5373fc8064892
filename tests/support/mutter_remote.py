"""Input and pictures for a headless mutter (see gnomesession.py), run inside
the session by its system python3 (python3-gi). Holds one
org.gnome.Mutter.RemoteDesktop session for its life and acts on lines from
stdin, answering each with one line:
  "move DX DY"   relative pointer motion                 -> "ok"
  "button BTN"   press and release of evdev button BTN   -> "ok"
  "key CODE"     press and release of evdev key CODE     -> "ok"
  "press CODE" / "release CODE"                          -> "ok"
  "shot CONNECTOR PATH"  one frame of that monitor as PNG -> "ok" or "failed"
                                          (and why on stderr)
Prints "ready" once the remote-desktop session has started and its priming
events are sent: mutter creates the virtual keyboard on the first key and does
not deliver that key, and the first motion only brings the pointer in."""

import subprocess
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

KEY_LEFTSHIFT = 42
CURSOR_HIDDEN = 0
SHOT_TIMEOUT = 20

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def call(name, path, interface, method, args=None, reply="()"):
    return bus.call_sync(name, path, interface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, -1, None).unpack()


class RemoteDesktop:
    NAME = "org.gnome.Mutter.RemoteDesktop"

    def __init__(self):
        (self.path,) = call(self.NAME, "/org/gnome/Mutter/RemoteDesktop", self.NAME,
                            "CreateSession", reply="(o)")
        self.session("Start")
        self.motion(1, 1)
        self.key(KEY_LEFTSHIFT, True)
        self.key(KEY_LEFTSHIFT, False)

    def session(self, method, args=None):
        call(self.NAME, self.path, self.NAME + ".Session", method, args)

    def motion(self, dx, dy):
        self.session("NotifyPointerMotionRelative", GLib.Variant("(dd)", (dx, dy)))

    def key(self, code, pressed):
        self.session("NotifyKeyboardKeycode", GLib.Variant("(ub)", (code, pressed)))

    def button(self, code, pressed):
        self.session("NotifyPointerButton", GLib.Variant("(ib)", (code, pressed)))


def wait_for(predicate, seconds):
    """Runs the main context until predicate() or the time-out; predicate()."""
    context = GLib.MainContext.default()
    timed_out = []
    source = GLib.timeout_add_seconds(seconds, lambda: timed_out.append(True) and False)
    while not predicate() and not timed_out:
        context.iteration(True)
    if not timed_out:
        GLib.source_remove(source)
    return predicate()


def shot(connector, path):
    """One frame of monitor `connector` through a screen cast of its own,
    which ends with the picture, so nothing is cast between pictures; None,
    or what went wrong."""
    name = "org.gnome.Mutter.ScreenCast"
    (session,) = call(name, "/org/gnome/Mutter/ScreenCast", name, "CreateSession",
                      GLib.Variant("(a{sv})", ({},)), "(o)")
    try:
        (stream,) = call(name, session, name + ".Session", "RecordMonitor",
                         GLib.Variant("(sa{sv})", (connector, {
                             "cursor-mode": GLib.Variant("u", CURSOR_HIDDEN)})), "(o)")
        nodes = []
        subscription = bus.signal_subscribe(name, name + ".Stream", "PipeWireStreamAdded", stream,
                                            None, Gio.DBusSignalFlags.NONE,
                                            lambda *args: nodes.append(args[5].unpack()[0]))
        call(name, session, name + ".Session", "Start")
        found = wait_for(lambda: nodes, SHOT_TIMEOUT)
        bus.signal_unsubscribe(subscription)
        if not found:
            return "no PipeWire stream"
        # The third buffer, drawn after the cast began; keepalive-time repeats
        # the last buffer while the screen stands still, so that one comes too.
        run = subprocess.run(["gst-launch-1.0", "-q", "pipewiresrc", "path=%d" % nodes[0],
                              "num-buffers=3", "keepalive-time=100", "!", "videoconvert", "!",
                              "pngenc", "snapshot=true", "!", "filesink", "location=" + path],
                             stdout=subprocess.DEVNULL, timeout=SHOT_TIMEOUT)
        return None if run.returncode == 0 else "gst-launch-1.0 failed"
    except subprocess.TimeoutExpired:
        return "no frame from the stream"
    except GLib.Error as error:
        return error.message
    finally:
        try:
            call(name, session, name + ".Session", "Stop")
        except GLib.Error:
            pass   # the cast that did not start is no more


def answer(remote, words):
    if words[0] == "move":
        remote.motion(float(words[1]), float(words[2]))
    elif words[0] in ("key", "press", "release"):
        if words[0] != "release":
            remote.key(int(words[1]), True)
        if words[0] != "press":
            remote.key(int(words[1]), False)
    elif words[0] == "button":
        remote.button(int(words[1]), True)
        remote.button(int(words[1]), False)
    elif words[0] == "shot":
        error = shot(words[1], words[2])
        if error:
            print("mutter_remote.py: picture of %s: %s" % (words[1], error), file=sys.stderr,
                  flush=True)
            return "failed"
    else:
        return "unknown"
    return "ok"


def main():
    remote = RemoteDesktop()
    print("ready", flush=True)
    for line in sys.stdin:
        print(answer(remote, line.split()), flush=True)


main()
