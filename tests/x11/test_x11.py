"""build/linux/zembloid on a private Xvfb: its pictures pixel for pixel against
the generated frame files, its pace, how it ends, its command line, and a run
under the real XScreenSaver daemon; and the idle watcher (-idle) on X11,
sway, KWin and GNOME, each in a session of its own. Its Wayland back end is
tested in tests/wayland/test_wayland.py, which shares the helpers here.

Command line: test_x11.py [CLASS ...]   (ctest runs one class per entry)"""

import ctypes
import os
import pwd
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from PIL import Image, ImageChops

from desktopsession import DesktopSession, bus_owner
from fakecompositor import FakeCompositor
from framefiles import (BACK_AND_FORTH, FRAME_H, FRAME_W, FRAMES, frames_at, origin,
                        shows_frame_on_outputs)
from gnomesession import GnomeSession
from inhibitors import XSuspend, dbus_inhibit, open_display, own_name, wayland_inhibit
from kwinsession import KwinSession
from swaysession import Sway
from winesession import screenshot, start_xephyr, start_xvfb, wait_until

BUILD_DIR = os.environ["ZEMBLOID_BUILD"]
PROGRAM = os.path.join(BUILD_DIR, "linux", "zembloid")
class XClient:
    """The few Xlib calls the tests need, through ctypes: windows to draw in,
    a row of the screen read back, a close request."""

    class Image(ctypes.Structure):
        _fields_ = [(n, ctypes.c_int) for n in ("width", "height", "xoffset", "format")] + \
                   [("data", ctypes.c_void_p)] + \
                   [(n, ctypes.c_int) for n in ("byte_order", "bitmap_unit", "bitmap_bit_order",
                                                "bitmap_pad", "depth", "bytes_per_line", "bpp")]

    class Colour(ctypes.Structure):
        _fields_ = [("pixel", ctypes.c_ulong), ("red", ctypes.c_ushort), ("green", ctypes.c_ushort),
                    ("blue", ctypes.c_ushort), ("flags", ctypes.c_char), ("pad", ctypes.c_char)]

    def __init__(self, display):
        self.x = x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XCreateSimpleWindow.restype = ctypes.c_ulong
        x.XCreateWindow.restype = ctypes.c_ulong
        x.XCreateColormap.restype = ctypes.c_ulong
        x.XDefaultVisual.restype = ctypes.c_void_p
        x.XInternAtom.restype = ctypes.c_ulong
        x.XGetImage.restype = ctypes.POINTER(XClient.Image)
        self.d = ctypes.c_void_p(x.XOpenDisplay(display.encode()))
        self.root = x.XDefaultRootWindow(self.d)

    def window(self, x, y, width, height):
        """A mapped window with a white background, so a missing black fill shows."""
        w = self.x.XCreateSimpleWindow(self.d, ctypes.c_ulong(self.root), x, y, width, height, 0,
                                       ctypes.c_ulong(0), ctypes.c_ulong(0xFFFFFF))
        self.x.XMapWindow(self.d, ctypes.c_ulong(w))
        self.x.XSync(self.d, 0)
        return w

    def colour_window(self, kind, x, y, width, height):
        """A window where the frame's black and white need more than a plain
        XAllocColor, and the pixel values they must take there: "full
        colormap", a private colormap with every entry taken, whose nearest
        entries to black and white are 77 and 200; "depth 32", an ARGB visual,
        where they must be opaque."""
        c = ctypes.c_ulong
        if kind == "full colormap":
            colormap = self.x.XCreateColormap(self.d, c(self.root), ctypes.c_void_p(
                self.x.XDefaultVisual(self.d, 0)), 1)   # AllocAll
            entries = (XClient.Colour * 256)(*[(i, 0x8000, 0, 0x8000, b"\7") for i in range(256)])
            entries[77] = (77, 0x1000, 0x1000, 0x1000, b"\7")
            entries[200] = (200, 0xF000, 0xF000, 0xF000, b"\7")
            self.x.XStoreColors(self.d, c(colormap), entries, 256)
            window = self.window(x, y, width, height)
            self.x.XSetWindowColormap(self.d, c(window), c(colormap))
            self.x.XSync(self.d, 0)
            return window, {77: 0, 200: 255}
        info = (ctypes.c_void_p * 8)()   # XVisualInfo, whose first member is the visual
        self.x.XMatchVisualInfo(self.d, 0, 32, 4, info)   # TrueColor
        visual = ctypes.c_void_p(info[0])
        attributes = (c * 14)()          # XSetWindowAttributes as its 8-byte slots
        attributes[1] = 0xFFFFFFFF       # background_pixel
        attributes[12] = self.x.XCreateColormap(self.d, c(self.root), visual, 0)   # colormap
        window = self.x.XCreateWindow(self.d, c(self.root), x, y, width, height, 0, 32, 1, visual,
                                      c(0x2000 | 0x8 | 0x2), attributes)  # colormap, border, background
        self.x.XMapWindow(self.d, c(window))
        self.x.XSync(self.d, 0)
        return window, {0xFF000000: 0, 0xFFFFFFFF: 255}

    def pixels(self, window, width, height, shades):
        """The window's own pixel values, alpha bits included, as an RGB image
        through `shades` (pixel value: grey level); any other value is mid-grey."""
        image = self.x.XGetImage(self.d, ctypes.c_ulong(window), 0, 0, width, height,
                                 ctypes.c_ulong(0xFFFFFFFF), 2)  # ZPixmap
        line, size = image.contents.bytes_per_line, image.contents.bpp // 8
        data = ctypes.string_at(image.contents.data, line * height)
        self.x.XFree(ctypes.c_void_p(image.contents.data))
        self.x.XFree(image)
        kind = {1: "B", 4: "I"}[size]
        grey = bytes(shades.get(value, 128) for row in range(height)
                     for value in memoryview(data[row * line:row * line + width * size]).cast(kind))
        return Image.frombytes("L", (width, height), grey).convert("RGB")

    def destroy(self, window):
        self.x.XDestroyWindow(self.d, ctypes.c_ulong(window))
        self.x.XSync(self.d, 0)

    def row(self, x, y, width):
        """One screen row as grey levels (the blue byte of a 32-bit pixel)."""
        image = self.x.XGetImage(self.d, ctypes.c_ulong(self.root), x, y, width, 1,
                                 ctypes.c_ulong(0xFFFFFFFF), 2)  # ZPixmap
        data = ctypes.string_at(image.contents.data, width * 4)[0::4]
        self.x.XFree(ctypes.c_void_p(image.contents.data))
        self.x.XFree(image)
        return data

    def request_close(self, window):
        """What a window manager sends when the user closes a window."""
        event = (ctypes.c_long * 24)()   # XClientMessageEvent inside a zeroed XEvent
        event[0], event[4] = 33, window  # ClientMessage
        event[5] = self.x.XInternAtom(self.d, b"WM_PROTOCOLS", 0)
        event[6] = 32                    # format
        event[7] = self.x.XInternAtom(self.d, b"WM_DELETE_WINDOW", 0)
        self.x.XSendEvent(self.d, ctypes.c_ulong(window), 0, ctypes.c_long(0), event)
        self.x.XSync(self.d, 0)

    def hold_keyboard(self, held):
        """Grabs the keyboard for this client (as an open menu does), or lets it go."""
        if held:
            self.x.XGrabKeyboard(self.d, ctypes.c_ulong(self.root), 0, 1, 1, ctypes.c_ulong(0))
        else:
            self.x.XUngrabKeyboard(self.d, ctypes.c_ulong(0))
        self.x.XSync(self.d, 0)

    def top_window(self):
        """The root's child highest in the stacking order."""
        c = ctypes.c_ulong
        root, parent, children, count = c(), c(), ctypes.POINTER(c)(), ctypes.c_uint()
        self.x.XQueryTree(self.d, c(self.root), ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(count))
        top = children[count.value - 1] if count.value else None
        if children:
            self.x.XFree(children)
        return top

    def cursor_pixels(self):
        """The ARGB pixels of the cursor shown now, as XFixes reads them."""
        fixes = ctypes.CDLL("libXfixes.so.3")
        fixes.XFixesGetCursorImage.restype = ctypes.POINTER(ctypes.c_ushort * 6)
        image = fixes.XFixesGetCursorImage(self.d)
        width, height = image.contents[2], image.contents[3]
        pixels = ctypes.cast(ctypes.cast(image, ctypes.c_void_p).value + 24,
                             ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong))).contents
        values = [pixels[i] for i in range(width * height)]
        self.x.XFree(image)
        return values

    def pixmaps_of_client(self, window):
        """How many pixmaps the client that made `window` holds, as the
        X-Resource extension counts them."""
        c = ctypes.c_ulong
        res = ctypes.CDLL("libXRes.so.1")
        clients, count = ctypes.POINTER(c * 2)(), ctypes.c_int()
        res.XResQueryClients(self.d, ctypes.byref(count), ctypes.byref(clients))
        base = [clients[i][0] for i in range(count.value)
                if window & ~clients[i][1] == clients[i][0]]
        self.x.XFree(clients)
        types, kinds = ctypes.POINTER(c * 2)(), ctypes.c_int()
        res.XResQueryClientResources(self.d, c(base[0]), ctypes.byref(kinds), ctypes.byref(types))
        pixmap = self.x.XInternAtom(self.d, b"PIXMAP", 0)
        found = [types[i][1] & 0xFFFFFFFF for i in range(kinds.value) if types[i][0] == pixmap]
        self.x.XFree(types)
        return found[0] if found else 0

    def close(self):
        self.x.XCloseDisplay(self.d)


class Display:
    """A private Xvfb, a client connection to it, and the programs started on it;
    with `heads`, an Xephyr with those monitors side by side, on an Xvfb of
    `screen`'s size. `dpi` gives the screen that physical size (Xvfb's own is
    100 dpi, Xephyr's 75); `xft_dpi` puts Xft.dpi in its resource database."""

    def __init__(self, screen=(1024, 768), depth=24, extra_args=(), heads=None, dpi=None,
                 xft_dpi=None):
        self.host = None
        dpi_args = ("-dpi", str(dpi)) if dpi else ()
        if heads:
            self.host, host_name = start_xvfb(screen, depth, extra_args)
            self.xvfb, self.name = start_xephyr(heads, host_name, dpi_args)
        else:
            self.xvfb, self.name = start_xvfb(screen, depth, (*extra_args, *dpi_args))
        self.env = dict(os.environ, DISPLAY=self.name)
        self.env.pop("XSCREENSAVER_WINDOW", None)
        self.env.pop("WAYLAND_DISPLAY", None)   # else its own window would go to Wayland
        if xft_dpi:
            subprocess.run(["xrdb", "-nocpp", "-merge"], input="Xft.dpi: %d\n" % xft_dpi,
                           env=self.env, text=True, check=True)
        self.client = XClient(self.name)
        self.programs = []

    def own_window(self):
        found = wait_until(lambda: subprocess.run(
            ["xdotool", "search", "--name", "^ZEMBLOID$"], env=self.env,
            stdout=subprocess.PIPE, text=True).stdout.split(), 10)
        return int(found[0]) if len(found) == 1 else None

    def start(self, *args, env=None):
        program = subprocess.Popen([PROGRAM, *args], env=dict(self.env, **(env or {})),
                                   stderr=subprocess.PIPE, text=True)
        self.programs.append(program)
        return program

    def screenshot(self, box=None):
        shot = screenshot(self.name)
        return shot.crop(box) if box else shot

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for program in self.programs:
            if program.poll() is None:
                program.kill()
                program.wait()
            if program.stderr:
                program.stderr.close()
        self.client.close()
        for server in (self.xvfb, self.host):
            if server:
                server.kill()
                server.wait()
        return False


def shows_frame(shot, at, monitors=None, scales=None):
    """True when `shot` is black with one of the frames pasted at `at` (clipped);
    or, given `monitors` (x, y, w, h), when each of them shows the same frame
    pasted at its own entry of `at`, clipped to the monitor; each enlarged by
    its entry of `scales`. Xinerama leaves the parts of the root outside every
    monitor undefined, so they are not compared."""
    places = list(zip(at, monitors)) if monitors else [(at, (0, 0) + shot.size)]
    scales = scales or [1] * len(places)
    for index in range(len(FRAMES)):
        for ((x, y), (left, top, width, height)), scale in zip(places, scales):
            expected = Image.new("RGB", (width, height))
            expected.paste(frames_at(scale)[index], (x - left, y - top))
            part = shot.crop((left, top, left + width, top + height))
            if ImageChops.difference(part, expected).getbbox() is not None:
                break
        else:
            return True
    return False


def wait_for_frame(display, box, at, timeout=10, monitors=None, scales=None):
    return wait_until(lambda: shows_frame(display.screenshot(box), at, monitors, scales), timeout,
                      interval=0.2)


def monitors_of(heads):
    """The (x, y, w, h) of Xephyr heads side by side."""
    lefts = [sum(w for w, _ in heads[:i]) for i in range(len(heads))]
    return [(left, 0, w, h) for left, (w, h) in zip(lefts, heads)]


def centred(monitors, scales):
    """Where a frame enlarged by each scale starts, centred on each monitor."""
    return [(x + origin(w, FRAME_W * k), y + origin(h, FRAME_H * k))
            for (x, y, w, h), k in zip(monitors, scales)]


class Placement(unittest.TestCase):
    # name, screen (width, height, depth) or Xephyr heads [(width, height), ...] side
    # by side, how the window is given, window box (x, y, w, h), and optionally
    # the server's dpi, Xft.dpi, more arguments and the scale on each monitor
    CASES = [
        ("window-id, decimal", (1024, 768, 24), "decimal", (40, 30, 800, 600)),
        ("window-id, hexadecimal", (1024, 768, 24), "hex", (0, 0, 640, 480)),
        ("smaller than the frame, odd size", (1024, 768, 24), "hex", (100, 50, 321, 201)),
        ("XSCREENSAVER_WINDOW", (1024, 768, 24), "environment", (10, 20, 700, 500)),
        # Were it tried as a Wayland client, it would wait on that compositor.
        ("XSCREENSAVER_WINDOW beside a compositor that never answers", (1024, 768, 24), "environment",
         (10, 20, 700, 500), dict(silent_wayland=True)),
        ("root", (1024, 768, 24), "root", None),
        ("root, 8-bit PseudoColor", (800, 600, 8), "root", None),
        ("root, a frame per monitor", [(1024, 768), (800, 600), (320, 240)], "root", None),
        ("full private colormap: nearest entries", (800, 600, 8), "full colormap", (0, 0, 640, 480)),
        ("depth-32 window: opaque", (1024, 768, 24), "depth 32", (0, 0, 640, 480)),
        ("root, 192 dpi: 2x", (2048, 1536, 24), "root", None, dict(dpi=192, scales=[2])),
        ("root, Xft.dpi 192 on a 96 dpi screen: 2x", (2048, 1536, 24), "root", None,
         dict(dpi=96, xft_dpi=192, scales=[2])),
        ("root, -scale 1 over Xft.dpi 192: 1x", (2048, 1536, 24), "root", None,
         dict(dpi=96, xft_dpi=192, args=["-scale", "1"], scales=[1])),
        ("root, 1024x768 at 192 dpi: 1x, as 2x would not fit", (1024, 768, 24), "root", None,
         dict(dpi=192, scales=[1])),
        ("own window, 192 dpi: 1280x960 at 2x", (2048, 1536, 24), "own", (0, 0, 1280, 960),
         dict(dpi=192, scales=[2])),
        ("root, 8-bit PseudoColor with Xft.dpi 192: 2x", (2048, 1536, 8), "root", None,
         dict(dpi=96, xft_dpi=192, scales=[2])),
        ("root, two heads with Xft.dpi 192: 2x and 1x", [(2048, 1536), (800, 600)], "root", None,
         dict(xft_dpi=192, scales=[2, 1])),
        ("own window, -scale 1 over Xft.dpi 192: 640x480", (2048, 1536, 24), "own", (0, 0, 640, 480),
         dict(dpi=96, xft_dpi=192, args=["-scale", "1"])),
        ("own window, -scale 2 on 1024x768: the screen's size, the frame cut", (1024, 768, 24), "own",
         (0, 0, 1024, 768), dict(args=["-scale", "2"], scales=[2])),
        ("window-id 320x240 at -scale 3, as a small preview: the frame's centre",
         (1024, 768, 24), "decimal", (10, 10, 320, 240), dict(args=["-scale", "3"], scales=[3])),
        ("root, -scale 2 on two heads: each cut at its edges", [(1024, 768), (800, 600)], "root", None,
         dict(args=["-scale", "2"], scales=[2, 2])),
        # One RandR monitor of 192 dpi on a 96 dpi screen, where Xinerama's one
        # head knows only the screen's DPI: RandR's monitor is taken.
        ("root, a RandR monitor of 192 dpi on a 96 dpi screen: 2x", [(2048, 1536)], "root", None,
         dict(dpi=96, monitor="A 2048/271x1536/203+0+0 default", scales=[2])),
    ]

    def test_frame_centred_on_black(self):
        for name, screen, how, box, *more in self.CASES:
            more = more[0] if more else {}
            scales = more.get("scales", [1])
            heads = screen if isinstance(screen, list) else None
            if heads:
                screen = (sum(w for w, _ in heads), max(h for _, h in heads), 24)
            width, height, depth = screen
            with self.subTest(name), Display((width, height), depth, heads=heads, dpi=more.get("dpi"),
                                             xft_dpi=more.get("xft_dpi")) as display:
                if "monitor" in more:
                    subprocess.run(["xrandr", "--setmonitor", *more["monitor"].split()],
                                   env=display.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                box = box or (0, 0, width, height)
                x, y, w, h = box
                monitors = monitors_of(heads) if heads else None
                at = centred(monitors, scales) if heads else centred([(0, 0, w, h)], scales)[0]
                args, env, shades = ["-speed", "30", *more.get("args", [])], {}, None
                if more.get("silent_wayland"):
                    runtime = tempfile.mkdtemp()
                    display.silent = socket.socket(socket.AF_UNIX)
                    display.silent.bind(os.path.join(runtime, "wayland-silent"))
                    display.silent.listen()
                    env.update(XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="wayland-silent")
                if how == "root":
                    args.append("-root")
                elif how in ("full colormap", "depth 32"):
                    window, shades = display.client.colour_window(how, *box)
                    args += ["-window-id", hex(window)]
                elif how != "own":
                    window = display.client.window(*box)
                    if how == "decimal":
                        args += ["-window-id", str(window)]
                    if how == "hex":
                        args += ["-window-id", hex(window)]
                    if how == "environment":
                        env["XSCREENSAVER_WINDOW"] = hex(window)
                display.start(*args, env=env)
                if how == "own":
                    window = display.own_window()
                    self.assertEqual(geometry(display, window), box)
                if shades:   # the window's own pixel values, where a screenshot would not tell
                    self.assertTrue(wait_until(lambda: shows_frame(
                        display.client.pixels(window, w, h, shades), at), 10, interval=0.2))
                else:
                    self.assertTrue(wait_for_frame(display, (x, y, x + w, y + h), at,
                                                   monitors=monitors, scales=scales))

    def test_root_recentres_after_a_screen_resize(self):
        with Display((1600, 1200), heads=[(1280, 1024)]) as display:
            display.start("-root", "-speed", "30")
            self.assertTrue(wait_for_frame(display, None, (320, 272)))
            subprocess.run(["xrandr", "-s", "1024x768"], env=display.env, check=True,
                           stderr=subprocess.DEVNULL)
            self.assertTrue(wait_for_frame(display, None, (192, 144)))

    def test_own_window_recentres_and_ends_on_a_key(self):
        with Display() as display:
            program = display.start()
            window = display.own_window()
            self.assertTrue(window)
            self.assertTrue(wait_for_frame(display, (0, 0, 640, 480), (0, 0)))
            subprocess.run(["xdotool", "windowsize", str(window), "500", "301"], env=display.env)
            self.assertTrue(wait_for_frame(display, (0, 0, 500, 301), (-70, -89)))
            subprocess.run(["xdotool", "key", "--window", str(window), "a"], env=display.env,
                           stderr=subprocess.DEVNULL)
            self.assertEqual(program.wait(timeout=2), 0)


def resident_bytes(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"^VmRSS:\s*(\d+) kB", status.read(), re.M).group(1)) * 1024


class ServerMemory(unittest.TestCase):
    # Where it plays at a large scale, and how much the X server may grow:
    # ten frames the size of a 1024x768 screen are 30 MiB at 32 bits a pixel
    # (whole frames at 8x would be 750 MiB); in a 320x240 window, as the
    # preview of xscreensaver-settings, 3 MiB (whole frames at 4x, 188 MiB).
    CASES = [(["-root", "-scale", "8"], (0, 0, 1024, 768), 48 << 20),
             (["-scale", "4"], (0, 0, 320, 240), 12 << 20)]

    @staticmethod
    def shows_centre(shot, scale):
        """Whether `shot` is the centre of one of the frames enlarged `scale`
        times (cut where the frame's pixels fall whole, as in these cases)."""
        (width, height), k = shot.size, scale
        left, top = -origin(width, FRAME_W * k) // k, -origin(height, FRAME_H * k) // k
        return any(ImageChops.difference(shot, frame.crop(
            (left, top, left + width // k, top + height // k)).resize(shot.size, Image.NEAREST)
        ).getbbox() is None for frame in FRAMES)

    def test_bounded_by_what_is_seen_at_a_large_scale(self):
        for args, box, bound in self.CASES:
            with self.subTest(args=args), Display() as display:
                if "-root" not in args:
                    args = args + ["-window-id", str(display.client.window(*box))]
                before = resident_bytes(display.xvfb.pid)
                program = display.start(*args)
                scale = int(args[args.index("-scale") + 1])
                self.assertTrue(wait_until(lambda: self.shows_centre(display.screenshot(box), scale), 20,
                                           interval=0.2))
                self.assertLess(resident_bytes(display.xvfb.pid) - before, bound)
                self.assertIsNone(program.poll())

    def test_a_set_the_server_cannot_make_leaves_the_screen_black(self):
        """The server given room for only a few more megabytes: its pixmaps
        fail with BadAlloc, and the program goes on."""
        with Display() as display:
            with open("/proc/%d/status" % display.xvfb.pid) as status:
                size = int(re.search(r"^VmSize:\s*(\d+) kB", status.read(), re.M).group(1)) * 1024
            subprocess.run(["prlimit", "--pid", str(display.xvfb.pid), "--as=%d" % (size + (8 << 20))],
                           check=True)
            program = display.start("-root", "-scale", "8")
            time.sleep(2)
            self.assertIsNone(program.poll())
            self.assertIsNone(display.screenshot().getbbox())
            program.send_signal(signal.SIGTERM)
            self.assertEqual(program.wait(timeout=1), 0)
            self.assertEqual(program.stderr.read(), "")


def geometry(display, window):
    """The window's (x, y, width, height), as xdotool reports it."""
    shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                           env=display.env, stdout=subprocess.PIPE, text=True).stdout
    values = dict(line.split("=") for line in shell.split())
    return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


class Fullscreen(unittest.TestCase):
    HEADS = [(1024, 768), (800, 600)]

    def test_covers_every_monitor_and_ends_on_input(self):
        """On a grey root, so that any part left uncovered shows, and with the
        keyboard held by another client for its first 0.3 s; then a key, and
        pointer travel of 4 pixels (kept) and of 5 (ended)."""
        with Display((1824, 768), heads=self.HEADS, dpi=96) as display:
            monitors = monitors_of(self.HEADS)
            subprocess.run(["xsetroot", "-solid", "#808080"], env=display.env, check=True)
            subprocess.run(["xdotool", "mousemove", "100", "100"], env=display.env, check=True)
            display.client.hold_keyboard(True)
            program = display.start("-fullscreen", "-speed", "30")
            time.sleep(0.3)
            display.client.hold_keyboard(False)
            self.assertTrue(wait_for_frame(display, None, centred(monitors, [1, 1]),
                                           monitors=monitors))
            subprocess.run(["xdotool", "key", "a"], env=display.env, check=True)
            self.assertEqual(program.wait(timeout=2), 0)
            self.assertEqual(program.stderr.read(), "")

            program = display.start("-fullscreen", "-speed", "30")
            self.assertTrue(display.own_window())
            time.sleep(0.5)
            subprocess.run(["xdotool", "mousemove", "102", "102"], env=display.env, check=True)
            time.sleep(1)
            self.assertIsNone(program.poll())
            subprocess.run(["xdotool", "mousemove", "103", "102"], env=display.env, check=True)
            self.assertEqual(program.wait(timeout=2), 0)
            self.assertEqual(program.stderr.read(), "")


    def test_a_pointer_on_another_screen_sets_no_baseline(self):
        """Started while the pointer is on the server's second screen: its
        travel counts from where it first moves over this one."""
        with Display(extra_args=("-screen", "1", "800x600x24")) as display:
            subprocess.run(["xdotool", "mousemove", "--screen", "1", "500", "500"], env=display.env,
                           check=True)
            program = display.start("-fullscreen", "-speed", "30")
            self.assertTrue(wait_for_frame(display, None, (192, 144)))
            for x, y in ((10, 10), (12, 12)):
                subprocess.run(["xdotool", "mousemove", "--screen", "0", str(x), str(y)],
                               env=display.env, check=True)
                time.sleep(0.5)
                self.assertIsNone(program.poll())
            subprocess.run(["xdotool", "mousemove", "--screen", "0", "20", "20"], env=display.env,
                           check=True)
            self.assertEqual(program.wait(timeout=2), 0)

    # What follows the start on one 1024x768 screen, and whether it ends the saver.
    AFTER_START = [("a button press", lambda d, w: subprocess.run(
                        ["xdotool", "click", "1"], env=d.env, check=True), True),
                   ("a window mapped later", lambda d, w: d.client.window(0, 0, 100, 100), False),
                   ("a window raised later", lambda d, w: d.client.x.XRaiseWindow(
                        d.client.d, ctypes.c_ulong(d.lower)), False)]

    def test_stays_on_top_with_the_pointer_hidden_until_a_button(self):
        for name, action, ends in self.AFTER_START:
            with self.subTest(name), Display() as display:
                display.lower = display.client.window(0, 0, 100, 100)
                program = display.start("-fullscreen", "-speed", "30")
                window = display.own_window()
                self.assertTrue(wait_for_frame(display, None, (192, 144)))
                self.assertEqual(display.client.top_window(), window)
                self.assertTrue(display.client.cursor_pixels())
                self.assertFalse(any(p >> 24 for p in display.client.cursor_pixels()))
                action(display, window)
                display.client.x.XSync(display.client.d, 0)
                if ends:
                    self.assertEqual(program.wait(timeout=2), 0)
                    continue
                self.assertTrue(wait_until(lambda: display.client.top_window() == window, 2))
                self.assertIsNone(program.poll())

    def test_lays_out_again_on_a_new_resolution_and_frees_the_old_pixmaps(self):
        """At 2x the frame is cut at both sizes, so each change makes new sets."""
        with Display((1600, 1200), heads=[(1280, 1024)]) as display:
            program = display.start("-fullscreen", "-scale", "2", "-speed", "30")
            window = display.own_window()
            self.assertTrue(wait_for_frame(display, None, (0, 32), scales=[2]))
            held = display.client.pixmaps_of_client(window)
            for size, at in (("1024x768", (-128, -96)), ("1280x1024", (0, 32))) * 2:
                subprocess.run(["xrandr", "-s", size], env=display.env, check=True,
                               stderr=subprocess.DEVNULL)
                self.assertTrue(wait_for_frame(display, None, at, scales=[2]), size)
            self.assertEqual(display.client.pixmaps_of_client(window), held)
            self.assertIsNone(program.poll())


class Timing(unittest.TestCase):
    # -speed argument (None: not given), bounds of the mean tick interval in ms,
    # the same slack as the Windows timer test allows.
    CASES = [("3", 25, 50), ("15", 135, 200), (None, 135, 200), ("50", 135, 200), ("0", 135, 200)]

    def frames_seen(self, client, seconds):
        """(time, frame) at each change of the frame on screen; a row that is no
        frame's row is recorded as None."""
        rows = {frame.convert("L").crop((0, 240, FRAME_W, 241)).tobytes(): i
                for i, frame in enumerate(FRAMES)}
        seen, end = [], time.monotonic() + seconds
        while time.monotonic() < end:
            frame = rows.get(client.row(0, 240, FRAME_W))
            if not seen or seen[-1][1] != frame:
                seen.append((time.monotonic(), frame))
            time.sleep(0.002)
        return seen[1:]   # the first sample may predate the first tick

    def test_frames_go_back_and_forth_at_the_set_speed(self):
        for speed, low, high in self.CASES:
            with self.subTest(speed=speed), Display() as display:
                window = display.client.window(0, 0, 640, 480)
                display.start("-window-id", str(window), *(["-speed", speed] if speed else []))
                time.sleep(0.5)
                seen = self.frames_seen(display.client, 1.5)
                frames = [f for _, f in seen]
                self.assertGreaterEqual(len(seen), 6, frames)
                self.assertNotIn(None, frames)
                start = [p for p, f in enumerate(BACK_AND_FORTH) if f == frames[0]]
                self.assertTrue(any(
                    frames == [BACK_AND_FORTH[(p + k) % 18] for k in range(len(frames))]
                    for p in start), frames)
                mean = (seen[-1][0] - seen[0][0]) * 1000 / (len(seen) - 1)
                self.assertGreaterEqual(mean, low)
                self.assertLessEqual(mean, high)


    def test_the_pace_holds_after_the_program_was_stopped(self):
        """Stopped for a second (SIGSTOP, SIGCONT), it goes on from where it
        was at its own pace: the ticks it missed are not caught up in a burst,
        which would skip frames on screen."""
        with Display() as display:
            window = display.client.window(0, 0, 640, 480)
            program = display.start("-window-id", str(window), "-speed", "10")
            time.sleep(0.5)
            timers = [threading.Timer(0.8, program.send_signal, [signal.SIGSTOP]),
                      threading.Timer(1.8, program.send_signal, [signal.SIGCONT])]
            for timer in timers:
                timer.start()
            continued = time.monotonic() + 1.8
            seen = self.frames_seen(display.client, 3.0)
            after = [(t, f) for t, f in seen if t > continued]
            frames = [f for _, f in seen]
            self.assertGreaterEqual(len(after), 6, frames)
            start = [p for p, f in enumerate(BACK_AND_FORTH) if f == frames[0]]
            self.assertTrue(any(frames == [BACK_AND_FORTH[(p + k) % 18] for k in range(len(frames))]
                                for p in start), frames)
            mean = (after[-1][0] - after[0][0]) * 1000 / (len(after) - 1)
            self.assertGreaterEqual(mean, 90)


def throttle(display, program):
    """Makes each write to the X server take 30 ms, longer than the 10 ms tick
    at speed 1, as on a slow remote display."""
    tracer = subprocess.Popen(["strace", "-qq", "-o", "/dev/null", "-e", "trace=writev",
                               "-e", "inject=writev:delay_enter=30000", "-p", str(program.pid)])
    display.programs.append(tracer)

    def traced():
        with open("/proc/%d/status" % program.pid) as status:
            return "TracerPid:\t0\n" not in status.read()
    if not wait_until(traced, 5):
        raise AssertionError("strace could not attach to the program")
    time.sleep(0.3)


def catches_sigterm(program):
    """Whether the program has its SIGTERM handler in place (its first lines
    of main): a signal before that meets the kernel's default action."""
    with open("/proc/%d/status" % program.pid) as status:
        caught = re.search(r"^SigCgt:\s*([0-9a-f]+)$", status.read(), re.M)
    return bool(caught and int(caught.group(1), 16) >> (signal.SIGTERM - 1) & 1)


class Ending(unittest.TestCase):
    def test_ends_quietly_within_a_second(self):
        cases = [("SIGTERM", lambda d, p, w: p.send_signal(signal.SIGTERM)),
                 ("SIGINT", lambda d, p, w: p.send_signal(signal.SIGINT)),
                 ("SIGTERM, every flush slower than a tick",
                  lambda d, p, w: (throttle(d, p), p.send_signal(signal.SIGTERM))),
                 ("window destroyed", lambda d, p, w: d.client.destroy(w)),
                 ("close request", lambda d, p, w: d.client.request_close(w)),
                 ("full screen, SIGTERM", lambda d, p, w: p.send_signal(signal.SIGTERM)),
                 ("full screen, window destroyed", lambda d, p, w: d.client.destroy(w))]
        for name, end in cases:
            with self.subTest(name), Display() as display:
                box, at = (0, 0, 640, 480), (0, 0)
                if name == "close request":
                    program = display.start("-speed", "1")
                    window = display.own_window()
                elif name.startswith("full screen"):
                    program = display.start("-fullscreen", "-speed", "1")
                    window = display.own_window()
                    box, at = None, (192, 144)
                else:
                    window = display.client.window(0, 0, 640, 480)
                    program = display.start("-window-id", str(window), "-speed", "1")
                self.assertTrue(wait_for_frame(display, box, at))
                end(display, program, window)
                self.assertEqual(program.wait(timeout=1), 0)
                self.assertEqual(program.stderr.read(), "")

    def test_a_stop_signal_ends_a_connection_that_never_completes(self):
        """A server that accepts and never answers, for the saver and for the
        idle watcher (with no session bus, so that it asks the X server)."""
        for args in (["-root"], ["-idle", "5"]):
            with self.subTest(args=args), socket.socket() as server:
                server.bind(("127.0.0.1", 0))
                server.listen()
                env = dict(os.environ, DISPLAY="127.0.0.1:%d" % (server.getsockname()[1] - 6000),
                           DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
                env.pop("WAYLAND_DISPLAY", None)
                program = subprocess.Popen([PROGRAM, *args], env=env)
                server.settimeout(5)
                try:
                    with server.accept()[0]:
                        time.sleep(0.2)
                        program.send_signal(signal.SIGTERM)
                        self.assertEqual(program.wait(timeout=1), 0)
                finally:
                    program.kill()
                    program.wait()

    # A stop signal at each moment of the start: connecting, building the
    # frame sets (-scale 8), asking for a grab that another client holds
    # (retried for a second); arguments, whether the keyboard is held, and
    # how long the end may take.
    MOMENTS = [(["-root", "-scale", "8"], False, 1.0), (["-fullscreen", "-scale", "8"], False, 1.0),
               (["-fullscreen"], True, 0.5)]

    def test_a_stop_signal_ends_it_at_every_moment_of_the_start(self):
        for args, held, limit in self.MOMENTS:
            for delay in (0, 0.02, 0.05, 0.1, 0.2, 0.4):
                with self.subTest(args=args, delay=delay), Display() as display:
                    display.client.hold_keyboard(held)
                    program = display.start(*args)
                    self.assertTrue(wait_until(lambda: catches_sigterm(program), 5))
                    time.sleep(delay)
                    program.send_signal(signal.SIGTERM)
                    start = time.monotonic()
                    self.assertEqual(program.wait(timeout=5), 0)
                    self.assertLess(time.monotonic() - start, limit)

    def test_a_lost_display_is_one_line_and_exit_code_1(self):
        with Display() as display:
            program = display.start("-root")
            self.assertTrue(wait_for_frame(display, None, (192, 144)))
            display.client.close()   # else Xlib would end this test as well
            display.client.close = lambda: None
            display.xvfb.kill()
            display.xvfb.wait()
            self.assertEqual(program.wait(timeout=5), 1)
            self.assertRegex(program.stderr.read(), r"\Azembloid: [^\n]*\n\Z")


class Arguments(unittest.TestCase):
    BAD = [["-speed"], ["-speed", "fast"], ["-speed", "15x"], ["-window-id"],
           ["-window-id", "0"], ["-window-id", "0xZZ"], ["-window-id", "12abc"],
           ["-window-id", "-5"], ["-window-id", "0x100000000"], ["-window-id", "0x0x12"],
           ["-window-id", "0X0x12"], ["-root", "-root"],
           ["-root", "-window-id", "5"], ["-bogus"], ["stray"],
           ["-scale", "0"], ["-scale", "9"], ["-scale", "2x"], ["-scale"], ["-scale", "-1"],
           ["-fullscreen", "-root"], ["-root", "-fullscreen"], ["-fullscreen", "-window-id", "5"],
           ["-window-id", "5", "-fullscreen"], ["-fullscreen", "-fullscreen"],
           ["-idle"], ["-idle", "0"], ["-idle", "-5"], ["-idle", "ten"], ["-idle", "1.5"],
           ["-idle", "86401"], ["-idle", "100000"], ["-idle", " 5"], ["-idle", "+5"],
           ["-idle", "5", "-root"], ["-window-id", "5", "-idle", "5"], ["-fullscreen", "-idle", "5"],
           ["-idle", "5", "-idle", "5"]]
    # Taken, one each, so that only the missing display ends the run.
    GOOD = [["-scale", "1"], ["-scale", "8"], ["--fullscreen"], ["--speed", "3"], ["--root"],
            ["-speed", "0"], ["-speed", "99999999999"]]

    def test_bad_arguments_print_one_usage_line_and_exit_2(self):
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        for args in self.BAD:
            with self.subTest(args=args):
                run = subprocess.run([PROGRAM, *args], env=env, capture_output=True, text=True,
                                     timeout=5)
                self.assertEqual(run.returncode, 2)
                self.assertRegex(run.stderr, r"\Ausage: zembloid [^\n]*\n\Z")

    def test_good_arguments_are_taken(self):
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for args in self.GOOD:
            with self.subTest(args=args):
                run = subprocess.run([PROGRAM, *args], env=env, capture_output=True, text=True,
                                     timeout=5)
                self.assertEqual((run.returncode, run.stderr), (1, "zembloid: cannot open display \n"))


class Daemon(unittest.TestCase):
    """XScreenSaver refuses to run display modes as root, so as root the daemon
    and its command run as nobody, with a home of nobody's own."""

    def as_nobody(self, home, display, *command):
        user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        return (user if os.geteuid() == 0 else []) + \
            ["env", "HOME=" + home, "DISPLAY=" + display, "PATH=/usr/bin:/bin", *command]

    # screen, Xft.dpi, and the programs: lines with where the frame starts and
    # its scale; the first line's screenshot is kept for the README
    SESSIONS = [((1024, 768), None, [("-speed 30", (192, 144), 1), ("-root -speed 30", (192, 144), 1)]),
                ((2048, 1536), 192, [("-root -speed 30", (384, 288), 2)])]

    def test_activate_shows_the_frame_and_deactivate_ends_it(self):
        """With and without -root, which XScreenSaver's own programs: lines
        carry, and at the scale of Xft.dpi."""
        for session, (screen, xft_dpi, lines) in enumerate(self.SESSIONS):
            with self.subTest(screen=screen):
                self.run_daemon(screen, xft_dpi, lines, keep_screenshot=session == 0)

    def run_daemon(self, screen, xft_dpi, lines, keep_screenshot):
        home = tempfile.mkdtemp(prefix="zembloid-xss-")
        program = os.path.join(home, "zembloid")
        shutil.copy(PROGRAM, program)
        with open(os.path.join(home, ".xscreensaver"), "w") as f:
            f.write("mode: one\nselected: 0\nlock: False\nfade: False\nunfade: False\n"
                    "splash: False\ndpmsEnabled: False\ntimeout: 1:00:00\nprograms: \\\n" +
                    "".join("  %s %s \\n\\\n" % (program, line) for line, _, _ in lines) + "\n")
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            for path in (home, program, os.path.join(home, ".xscreensaver")):
                os.chown(path, nobody.pw_uid, nobody.pw_gid)
        with Display(screen, extra_args=("-ac",), dpi=96, xft_dpi=xft_dpi) as display:
            daemon = subprocess.Popen(self.as_nobody(home, display.name, "xscreensaver", "-no-splash"),
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            display.programs.append(daemon)

            def command(*verb):
                return subprocess.run(self.as_nobody(home, display.name, "xscreensaver-command", *verb),
                                      capture_output=True, timeout=10).returncode == 0

            def running():   # this copy of the program, by its full path
                return subprocess.run(["pgrep", "-f", "^%s " % program],
                                      stdout=subprocess.PIPE).stdout.split()

            self.assertTrue(wait_until(lambda: command("-time"), 20, interval=0.5))
            for number, (line, at, scale) in enumerate(lines, 1):
                with self.subTest(line):
                    self.assertTrue(command("-select", str(number)))
                    self.assertTrue(wait_until(running, 20, interval=0.2), "the program did not start")
                    self.assertTrue(wait_for_frame(display, None, at, timeout=20, scales=[scale]))
                    if number == 1 and keep_screenshot:
                        display.screenshot().convert("1").save(
                            os.path.join(BUILD_DIR, "linux", "xscreensaver.png"), optimize=True)
                    self.assertTrue(command("-deactivate"))
                    self.assertTrue(wait_until(lambda: not running(), 10, interval=0.2),
                                    "the program still runs")
            daemon.terminate()
            daemon.wait(timeout=10)
        shutil.rmtree(home, ignore_errors=True)


def allocations_under_valgrind(test, start, seconds):
    """Runs start(valgrind command) at -speed 1 for `seconds`, ends it with
    SIGTERM, checks that it exits 0 with no definite leak, and returns how
    many heap allocations it made in all."""
    program = start(["valgrind", "--leak-check=full", "--errors-for-leak-kinds=definite",
                     "--error-exitcode=99"])
    time.sleep(seconds)
    program.send_signal(signal.SIGTERM)
    report = program.communicate(timeout=30)[1]
    test.assertEqual(program.returncode, 0, report)
    return int(report.split("total heap usage: ")[1].split(" allocs")[0].replace(",", ""))


class Valgrind(unittest.TestCase):
    # name, Xephyr heads (None: one Xvfb screen), arguments (None: a window of the test's)
    CASES = [("window", None, None),
             ("root on two heads, whose monitor lists are read", [(1024, 768), (800, 600)], ["-root"])]

    def allocations(self, display, args, seconds):
        def start(valgrind):
            program = subprocess.Popen([*valgrind, PROGRAM, *args, "-speed", "1"], env=display.env,
                                       stderr=subprocess.PIPE, text=True)
            display.programs.append(program)
            return program
        return allocations_under_valgrind(self, start, seconds)

    def test_no_definite_leak_and_no_allocation_per_tick(self):
        for name, heads, args in self.CASES:
            with self.subTest(name), Display((1824, 768), heads=heads) as display:
                if args is None:
                    args = ["-window-id", str(display.client.window(0, 0, 640, 480))]
                short = self.allocations(display, args, 1.5)
                long = self.allocations(display, args, 3.5)
                # About 200 more ticks at 10 ms in the longer run.
                self.assertLess(long - short, 20)


class Manual(unittest.TestCase):
    PAGE = os.path.join(os.environ["ZEMBLOID_SOURCE_DIR"], "linux", "zembloid.6")

    def test_renders_without_warnings_and_names_every_option(self):
        run = subprocess.run(["groff", "-man", "-ww", "-z", self.PAGE], capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        page = subprocess.run(["man", "-l", self.PAGE], capture_output=True, text=True,
                              env=dict(os.environ, MANWIDTH="200", MAN_KEEP_FORMATTING="")).stdout
        usage = subprocess.run([PROGRAM, "-bogus"], capture_output=True, text=True).stderr
        for option in re.findall(r"-[a-z-]+", usage.split(" ", 2)[2]):
            self.assertTrue(re.search(r"\n {7}%s\b" % re.escape(option), page),
                            option + " is not described")


    def test_install_linux_gives_a_valid_user_unit_bound_to_the_session(self):
        """make install-linux under a private PREFIX; systemd checks the unit
        (its ExecStart program included) as a user manager would load it."""
        source, prefix = os.environ["ZEMBLOID_SOURCE_DIR"], tempfile.mkdtemp(prefix="zembloid-install-")
        try:
            subprocess.run(["make", "-s", "-C", source, "install-linux", "BUILD=" + BUILD_DIR,
                            "PREFIX=" + prefix], check=True, capture_output=True, timeout=600)
            unit = os.path.join(prefix, "lib", "systemd", "user", "zembloid-idle.service")
            verify = subprocess.run(["systemd-analyze", "--user", "verify", "--man=no", unit],
                                    capture_output=True, text=True, env=dict(os.environ, XDG_RUNTIME_DIR=prefix))
            self.assertEqual((verify.returncode, verify.stderr), (0, ""))
            with open(unit) as f:
                text = f.read()
            self.assertIn("ExecStart=%s/bin/zembloid -idle 300\n" % prefix, text)
            self.assertIn("WantedBy=graphical-session.target\n", text)
            self.assertTrue(os.path.exists(os.path.join(prefix, "share", "applications",
                                                        "zembloid-idle.desktop")))
        finally:
            shutil.rmtree(prefix)


VIRTUAL_POINTER = os.path.join(BUILD_DIR, "linux", "virtual_pointer")
IDLE_INHIBITOR = os.path.join(BUILD_DIR, "linux", "idle_inhibitor")
IDLE = 2   # the idle tests' -idle seconds
# KWin's idle timers are Qt's coarse timers, which may fire up to 5 % early.
IDLE_EARLY_SLACK = 0.15
SCREEN_SAVER = "org.freedesktop.ScreenSaver"


def saver_of(program):
    """The pid of the saver the idle watcher `program` has started, or None."""
    found = subprocess.run(["pgrep", "-P", str(program.pid)], stdout=subprocess.PIPE,
                           text=True).stdout.split()
    return int(found[0]) if found else None


def release(desk, holder):
    holder.release()


def leave(desk, holder):
    """The holder leaves (the bus, the display) without letting go."""
    holder.kill()


class X11Desk:
    """Xvfb (-noreset, open to nobody's clients) in a desktop session of its
    own: a session bus, and the programs run as nobody."""

    def __init__(self, extra_args=()):
        self.session = DesktopSession(None, "zembloid-x11-", [PROGRAM])
        try:
            self.xvfb, self.display = start_xvfb(extra_args=("-ac", *extra_args))
        except BaseException:
            self.session.close()
            raise
        self.session.env["DISPLAY"] = self.display
        self.xenv = dict(os.environ, DISPLAY=self.display)
        self.run, self.path, self.command = self.session.run, self.session.path, self.session.command
        self.step = 8

    def launch(self, *args, prefix=()):
        return self.run([*prefix, self.path("zembloid"), *args], stderr=subprocess.PIPE, text=True)

    def nudge(self):
        self.step = -self.step
        subprocess.run(["xdotool", "mousemove_relative", "--", str(self.step), "0"], env=self.xenv,
                       check=True)

    def shows(self):
        return shows_frame(screenshot(self.display), (192, 144))

    def screen_saver_timeout(self):
        query = subprocess.run(["xset", "q"], env=self.xenv, capture_output=True, text=True).stdout
        return int(re.search(r"timeout:\s+(\d+)", query).group(1))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.session.close()
        self.xvfb.kill()
        self.xvfb.wait()
        return False


class XResetPinger:
    """An X client that calls XResetScreenSaver every 0.5 s, as some players
    do, and once more when released, from which the idle time then counts."""

    def __init__(self, display):
        self.x, self.d = open_display(display)
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.ping)
        self.thread.start()

    def ping(self):
        stop = False
        while not stop:
            self.x.XResetScreenSaver(self.d)
            self.x.XSync(self.d, 0)
            stop = self.done.is_set() or self.done.wait(0.5)
        self.x.XResetScreenSaver(self.d)
        self.x.XSync(self.d, 0)

    def release(self):
        self.done.set()
        self.thread.join()
        self.x.XCloseDisplay(self.d)


class IdleCases:
    """The idle watcher's end-to-end cases; each desktop is a subclass with
    desktop() and its table of INHIBITORS: name, hold(desk) giving a holder,
    release(desk, holder)."""

    def wait_for_saver(self, program, since, timeout=20):
        """The saver's pid once it shows; fails when it came sooner than the
        idle time (less the slack) after `since` (taken before the input or
        release it counts from), or not at all."""
        end = since + IDLE + timeout
        while time.monotonic() < end:
            pid = saver_of(program)
            if pid:
                self.assertGreaterEqual(time.monotonic() - since, IDLE - IDLE_EARLY_SLACK,
                                        "the saver came too soon")
                return pid
            time.sleep(0.1)
        self.fail("no saver")

    def start_watching(self, desk):
        program = desk.launch("-idle", str(IDLE), "-speed", "30")
        time.sleep(1)
        if program.poll() is not None:
            self.fail("the watcher ended: " + program.stderr.read())
        return program

    def test_shows_after_each_idle_period_until_input(self):
        with self.desktop() as desk:
            program = self.start_watching(desk)
            for showing in range(2):
                since = time.monotonic()
                desk.nudge()
                saver = self.wait_for_saver(program, since)
                self.assertTrue(wait_until(desk.shows, 15), "showing %d" % showing)
                desk.nudge()
                self.assertTrue(wait_until(lambda: saver_of(program) != saver, 5), "input did not end it")
            program.send_signal(signal.SIGTERM)
            self.assertEqual(program.wait(timeout=5), 0)

    def test_an_inhibitor_holds_it_off_until_an_idle_period_after_release(self):
        for name, hold, release in self.INHIBITORS:
            with self.subTest(name), self.desktop() as desk:
                program = self.start_watching(desk)
                holder = hold(desk)
                desk.nudge()
                time.sleep(2 * IDLE + 1)
                self.assertIsNone(saver_of(program))
                since = time.monotonic()
                release(desk, holder)
                self.wait_for_saver(program, since)
                self.assertTrue(wait_until(desk.shows, 15))

    def test_sigterm_ends_it_at_once_with_no_saver_left(self):
        for stop, showing in ((signal.SIGTERM, False), (signal.SIGTERM, True), (signal.SIGINT, True)):
            with self.subTest(signal=stop.name, showing=showing), self.desktop() as desk:
                program = self.start_watching(desk)
                desk.nudge()
                if showing:
                    saver = self.wait_for_saver(program, time.monotonic() - 1)
                    self.assertTrue(wait_until(desk.shows, 15))
                program.send_signal(stop)
                self.assertEqual(program.wait(timeout=1), 0)
                self.assertEqual(program.stderr.read(), "")
                if showing:
                    self.assertFalse(os.path.exists("/proc/%d" % saver), "the saver is left")
                    self.assertFalse(desk.shows())
                self.after_end(desk)

    def after_end(self, desk):
        pass

    def test_does_not_take_the_screen_saver_name_from_its_owner(self):
        """The desktop's own owner, or else a process that took it first, as
        an idle daemon would."""
        with self.desktop() as desk:
            owner = bus_owner(desk, SCREEN_SAVER)
            daemon = None if owner else own_name(desk, SCREEN_SAVER)
            owner = owner or daemon.owner
            program = self.start_watching(desk)
            self.assertEqual(bus_owner(desk, SCREEN_SAVER), owner)
            self.assertIsNone(program.poll())
            if daemon:
                daemon.kill()


class IdleX11(IdleCases, unittest.TestCase):
    """The X server's screen-saver timer, and org.freedesktop.ScreenSaver owned
    by the watcher itself."""
    desktop = X11Desk
    INHIBITORS = [
        ("D-Bus Inhibit, then UnInhibit", dbus_inhibit, release),
        ("D-Bus Inhibit on /ScreenSaver, holder leaves the bus",
         lambda desk: dbus_inhibit(desk, "/ScreenSaver"), leave),
        ("XScreenSaverSuspend", lambda desk: XSuspend(desk.display), release),
        ("XResetScreenSaver every 0.5 s", lambda desk: XResetPinger(desk.display), release),
        ("xset s off, then xset s 2",
         lambda desk: subprocess.run(["xset", "s", "off"], env=desk.xenv, check=True),
         lambda desk, held: subprocess.run(["xset", "s", str(IDLE)], env=desk.xenv, check=True)),
    ]

    def after_end(self, desk):
        """The server's own timer is put back."""
        self.assertEqual(desk.screen_saver_timeout(), 600)

    def test_the_scale_applies_to_the_saver(self):
        """-scale 2: the 1280 x 960 frame centred and cut at the screen's edges."""
        with self.desktop() as desk:
            program = desk.launch("-idle", str(IDLE), "-speed", "30", "-scale", "2")
            since = time.monotonic()
            desk.nudge()
            self.wait_for_saver(program, since)
            self.assertTrue(wait_until(lambda: shows_frame(screenshot(desk.display), (-128, -96),
                                                           scales=[2]), 15))

    def test_more_than_the_x_timer_holds_exits_1_with_one_line(self):
        """The server's timer carries 16 signed bits: 32768 s would reach it
        as another time."""
        xvfb, display = start_xvfb()
        try:
            env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY",)}
            env.update(DISPLAY=display, DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
            run = subprocess.run([PROGRAM, "-idle", "32768"], capture_output=True, text=True,
                                 timeout=10, env=env)
        finally:
            xvfb.kill()
            xvfb.wait()
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr, r"\Azembloid: [^\n]*32767[^\n]*\n\Z")

    def test_without_a_watcher_exits_1_with_one_line(self):
        """No session bus, no compositor, no X display; an X server without
        the extension; a compositor without an idle protocol."""
        runtime = tempfile.mkdtemp(prefix="zembloid-idle-")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        env.update(XDG_RUNTIME_DIR=runtime, DBUS_SESSION_BUS_ADDRESS="unix:path=" + runtime + "/none")
        cases = [("nothing", {}, "Mutter"),
                 ("X server without MIT-SCREEN-SAVER", None, "MIT-SCREEN-SAVER"),
                 ("compositor without an idle protocol", {"WAYLAND_DISPLAY": "wayland-bare"},
                  "ext_idle_notifier_v1")]
        for name, more, missing in cases:
            with self.subTest(name), socket.socket(socket.AF_UNIX) as server:
                xvfb = None
                if more is None:
                    xvfb, display = start_xvfb(extra_args=("-extension", "MIT-SCREEN-SAVER"))
                    more = {"DISPLAY": display}
                if "WAYLAND_DISPLAY" in more:
                    server.bind(os.path.join(runtime, more["WAYLAND_DISPLAY"]))
                    server.listen()
                    FakeCompositor(server).start()
                run = subprocess.run([PROGRAM, "-idle", "5"], capture_output=True, text=True, timeout=10,
                                     env=dict(env, **more))
                if xvfb:
                    xvfb.kill()
                    xvfb.wait()
                self.assertEqual(run.returncode, 1)
                self.assertRegex(run.stderr, r"\Azembloid: [^\n]*README[^\n]*\n\Z")
                self.assertIn(missing, run.stderr)
        shutil.rmtree(runtime)

    def test_no_allocation_while_waiting_between_idle_periods(self):
        """One showing, ended by input, then input every 0.5 s, so that the
        watcher waits for the next idle period until SIGTERM: 6 s more of that
        wait must cost no allocation. (Each X event read costs libxcb one, so
        the runs have the same events.)"""
        def allocations(desk, seconds):
            showings, done = [], threading.Event()

            def start(valgrind):
                program = desk.launch("-idle", "1", prefix=valgrind)
                threading.Thread(target=drive, args=(program,)).start()
                return program

            def drive(program):
                done.wait(2)
                desk.nudge()
                if wait_until(lambda: saver_of(program) or done.is_set(), 15) and not done.is_set():
                    showings.append(saver_of(program))
                while not done.wait(0.5):
                    desk.nudge()
            try:
                return allocations_under_valgrind(self, start, seconds), len(showings)
            finally:
                done.set()
        with self.desktop() as desk:
            short, first = allocations(desk, 8)
            long, second = allocations(desk, 14)
            self.assertEqual((first, second), (1, 1))
            self.assertLess(long - short, 10)


class SwayDesk:
    """Headless sway 1.7 (org_kde_kwin_idle) with its own session bus, on
    which nobody owns org.freedesktop.ScreenSaver."""

    def __init__(self):
        self.sway = Sway([PROGRAM, VIRTUAL_POINTER, IDLE_INHIBITOR])
        try:
            self.pointer = self.sway.pointer()
        except BaseException:
            self.sway.close()
            raise
        self.path, self.command, self.launch = self.sway.path, self.sway.command, self.sway.start
        self.step = 10

    def nudge(self):
        self.step = -self.step
        self.pointer.move(self.step, 0)

    def shows(self):
        return shows_frame_on_outputs(self.sway, {"HEADLESS-1": 1})

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.sway.close()
        return False


class IdleSway(IdleCases, unittest.TestCase):
    desktop = SwayDesk
    INHIBITORS = [
        ("Wayland idle inhibitor", wayland_inhibit, release),
        ("D-Bus Inhibit, then UnInhibit", dbus_inhibit, release),
        ("D-Bus Inhibit, holder leaves the bus", dbus_inhibit, leave),
    ]

    def test_started_by_the_readme_line_in_the_sway_config(self):
        """exec zembloid -idle N, the program's copy found in $HOME."""
        with Sway([PROGRAM, VIRTUAL_POINTER], config='exec "$HOME/zembloid" -idle %d' % IDLE) as sway:
            pointer = sway.pointer()
            pointer.move(10, 0)
            self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, {"HEADLESS-1": 1}), 20))
            pointer.move(-10, 0)
            self.assertTrue(wait_until(lambda: not shows_frame_on_outputs(sway, {"HEADLESS-1": 1}), 5))


class KwinDesk(KwinSession):
    """Headless KWin (ext_idle_notifier_v1). It takes no screenshots, so a
    saver counts as shown while it runs: one that cannot make its window ends
    at once."""

    def __init__(self):
        super().__init__(programs=[PROGRAM, IDLE_INHIBITOR])
        self.step = 10
        self.watcher = None

    def launch(self, *args, prefix=()):
        self.watcher = self.run([*prefix, self.path("zembloid"), *args], stderr=subprocess.PIPE, text=True)
        return self.watcher

    def nudge(self):
        self.step = -self.step
        self.pointer_motion(self.step, 0)

    def shows(self):
        saver = saver_of(self.watcher)
        time.sleep(0.5)
        return saver is not None and saver == saver_of(self.watcher)


class IdleKwin(IdleCases, unittest.TestCase):
    desktop = KwinDesk
    INHIBITORS = [("Wayland idle inhibitor", wayland_inhibit, release)]


class GnomeDesk(GnomeSession):
    """Headless GNOME: mutter's idle monitor, and gsd-screensaver-proxy owning
    org.freedesktop.ScreenSaver."""

    def __init__(self):
        super().__init__(programs=[PROGRAM])
        self.step = 10
        self.pointer_motion(1, 0)   # the first motion only enters the pointer

    def launch(self, *args, prefix=()):
        return self.run([*prefix, self.path("zembloid"), *args], stderr=subprocess.PIPE, text=True)

    def nudge(self):
        """There and back: a surface just shown learns of the pointer from the
        first motion, and the second is travel."""
        self.pointer_motion(10, 0)
        self.pointer_motion(-10, 0)

    def shows(self):
        shot = self.screenshot()
        return shot is not None and shows_frame(shot, (192, 144))


class IdleGnome(IdleCases, unittest.TestCase):
    desktop = GnomeDesk
    INHIBITORS = [
        ("org.freedesktop.ScreenSaver Inhibit, then UnInhibit", dbus_inhibit, release),
        ("org.freedesktop.ScreenSaver Inhibit, holder leaves the bus", dbus_inhibit, leave),
    ]


if __name__ == "__main__":
    unittest.main(verbosity=2)
