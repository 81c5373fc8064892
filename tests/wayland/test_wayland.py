"""build/linux/zembloid's Wayland back end on a private headless sway (and on
compositors the test serves itself): each output's picture pixel for pixel
against the frames, the pace, how it ends, how it starts and fails.

Command line: test_wayland.py [CLASS ...]   (ctest runs one class per entry)"""

import collections
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image, ImageChops

from fakecompositor import FakeCompositor, wire_string
from framefiles import shows_frame_on_outputs
from kwinsession import KwinSession
from swaysession import Sway
from winesession import wait_until

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "x11"))
from test_x11 import (BACK_AND_FORTH, BUILD_DIR, FRAME_H, FRAME_W, FRAMES, PROGRAM,  # noqa: E402
                      VIRTUAL_POINTER, allocations_under_valgrind, origin)

# A wl_shm buffer the program made: where it starts in its pool, its size and
# stride, and the size of the pool.
MadeBuffer = collections.namedtuple("MadeBuffer", "offset width height stride pool_size")


FRAME_ROWS = {frame.convert("L").crop((0, 240, FRAME_W, 241)).tobytes(): i
              for i, frame in enumerate(FRAMES)}


def frame_on_output(sway):
    """The frame whose middle row HEADLESS-1 (1024 x 768) shows at its 1x
    place, or None."""
    shot = sway.screenshot()
    return shot and FRAME_ROWS.get(shot.convert("L").crop((192, 384, 832, 385)).tobytes())


class SwayTest(unittest.TestCase):
    """Under headless sway: HEADLESS-1 is 1024 x 768 at scale 1, HEADLESS-2
    (where a case adds it) 1024 x 768 logical at scale 2."""
    SECOND_OUTPUT = "resolution 2048x1536 position 1024 0 scale 2"

    def sway(self, **args):
        return Sway([PROGRAM, VIRTUAL_POINTER], **args)


class Outputs(SwayTest):
    # name, arguments, each output's enlargement of the frame; outputs past the
    # first are added while the program runs. (sway 1.7 cannot take a headless
    # output away again: it answers "output disable" with success and keeps
    # the output.)
    PLACEMENTS = [
        ("-fullscreen, an output at scale 2 added", ["-fullscreen"], {"HEADLESS-1": 1, "HEADLESS-2": 2}),
        ("-fullscreen -scale 1", ["-fullscreen", "-scale", "1"], {"HEADLESS-1": 1, "HEADLESS-2": 1}),
        ("-fullscreen -scale 2: cut at the edges", ["-fullscreen", "-scale", "2"], {"HEADLESS-1": 2}),
        ("own window, filling the output", [], {"HEADLESS-1": 1}),
    ]

    def test_each_output_black_with_its_frame_centred(self):
        for name, args, scales in self.PLACEMENTS:
            with self.subTest(name), self.sway() as sway:
                program = sway.start("-speed", "30", *args)
                first = {"HEADLESS-1": scales["HEADLESS-1"]}
                self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, first), 10))
                if len(scales) > 1:
                    sway.add_output("HEADLESS-2", self.SECOND_OUTPUT)
                    self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, scales), 10))
                self.assertIsNone(program.poll())

    # name, arguments: at any scale on the 1024 x 768 output, each frame set
    # holds only what shows, at most ten times the output's pixels.
    LARGE_SCALES = [("-fullscreen -scale 8", ["-fullscreen", "-scale", "8"]),
                    ("own window -scale 8", ["-scale", "8"]),
                    ("-fullscreen -scale 3", ["-fullscreen", "-scale", "3"])]

    def test_frame_sets_hold_only_what_shows(self):
        limit = 10 * 1024 * 768 * 4 + 1024 * 4   # and a spare row
        for name, args in self.LARGE_SCALES:
            with self.subTest(name), self.sway() as sway:
                program = sway.start("-speed", "30", *args, env=["WAYLAND_DEBUG=1"])
                time.sleep(3)   # the window laid out, its sets built and shown
                program.send_signal(signal.SIGTERM)
                log = program.communicate(timeout=10)[1]
                self.assertEqual(program.returncode, 0)
                pools = [int(size) for size in re.findall(r"create_pool\(new id wl_shm_pool@\d+, fd \d+, (\d+)\)", log)]
                self.assertTrue(pools, log[-2000:])
                self.assertLessEqual(max(pools), limit)

    def test_fullscreen_covers_every_output(self):
        """Seventeen outputs, one more than the X11 and Windows monitor lists
        hold: each gets a window, the last one added its frame."""
        with self.sway() as sway:
            program = sway.start("-fullscreen", "-speed", "30")
            for _ in range(16):
                sway.msg("create_output")   # HEADLESS-2 to HEADLESS-17, 1920 x 1080
            self.assertTrue(wait_until(lambda: sway.views("zembloid") == 17, 20))
            self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, {"HEADLESS-17": 1}), 20))
            self.assertIsNone(program.poll())

    def test_frames_that_cannot_be_made_leave_the_output_black(self):
        """With 24 MB of address space the program starts (with its libraries
        it needs about 14), but the 31 MB mapping of its frame set at -scale 2
        fails: one line, a black output, and it goes on until a stop signal."""
        with self.sway() as sway:
            program = sway.start("-fullscreen", "-speed", "30", "-scale", "2",
                                 prefix=["prlimit", "--as=24000000"])

            def black():
                shot = sway.screenshot()
                return shot is not None and shot.convert("L").getextrema() == (0, 0)
            self.assertTrue(wait_until(lambda: sway.views("zembloid") == 1, 10))
            self.assertTrue(wait_until(black, 10))
            time.sleep(1)
            self.assertTrue(black())
            self.assertIsNone(program.poll())
            program.send_signal(signal.SIGTERM)
            self.assertEqual(program.wait(timeout=2), 0)
            self.assertEqual(program.stderr.read(), "zembloid: no memory for the frames at 2x\n")

    def test_fullscreen_waits_quietly_for_an_output(self):
        with self.sway(config="output HEADLESS-1 disable") as sway:
            program = sway.start("-fullscreen", "-speed", "30")
            time.sleep(1)
            self.assertIsNone(program.poll())
            sway.msg("output", "HEADLESS-1", "enable")
            self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, {"HEADLESS-1": 1}), 10))
            program.send_signal(signal.SIGTERM)
            self.assertEqual(program.wait(timeout=2), 0)
            self.assertEqual(program.stderr.read(), "")

    # A floating own window of 600 x 450 logical pixels moved to (x, y): the
    # output looked at, the box of it that shows the window (or part of it),
    # the window's physical size and that part's box in it. On HEADLESS-1
    # alone the 640 x 480 frame is cut at the window's edges; on both outputs
    # the window takes the higher scale, 2, where the 2x frame does not fit
    # 1200 x 900 physical pixels and the 1x frame shows whole; back on
    # HEADLESS-1 alone it is at 1x again.
    OWN_WINDOW_MOVES = [
        ((100, 100), "HEADLESS-1", (100, 100, 700, 550), (600, 450), (0, 0, 600, 450)),
        ((700, 100), "HEADLESS-2", (0, 200, 552, 1100), (1200, 900), (648, 0, 1200, 900)),
        ((100, 100), "HEADLESS-1", (100, 100, 700, 550), (600, 450), (0, 0, 600, 450)),
    ]

    def test_own_window_takes_the_highest_scale_of_the_outputs_it_is_on(self):
        config = ('default_floating_border none\nfor_window [app_id="zembloid"] floating enable, '
                  'resize set 600 450, move absolute position 100 100')

        def shows(sway, output, box, size, window_box):
            shot = sway.screenshot(output)
            if not shot:
                return False
            width, height = size
            for frame in FRAMES:
                expected = Image.new("RGB", (width, height))
                expected.paste(frame, (origin(width, FRAME_W), origin(height, FRAME_H)))
                if ImageChops.difference(shot.crop(box), expected.crop(window_box)).getbbox() is None:
                    return True
            return False
        with self.sway(config=config) as sway:
            sway.add_output("HEADLESS-2", self.SECOND_OUTPUT)
            sway.pointer().move(-5000, 5000)   # the cursor to HEADLESS-1's corner, out of the picture
            program = sway.start("-speed", "30")
            self.assertTrue(wait_until(lambda: sway.views("zembloid") == 1, 10))
            for (x, y), output, box, size, window_box in self.OWN_WINDOW_MOVES:
                with self.subTest(at=(x, y)):
                    sway.msg("[app_id=zembloid]", "move", "absolute", "position", str(x), str(y))
                    self.assertTrue(wait_until(lambda: shows(sway, output, box, size, window_box), 10))
            self.assertIsNone(program.poll())

    def test_own_window_recentres_when_tiled_beside_another(self):
        """A second own window halves the first: each 512 x 768 half shows a
        frame of its own, centred and cut at the window's edges."""
        def halves_show_frames(sway):
            shot = sway.screenshot()
            return shot and all(any(
                ImageChops.difference(shot.crop((left, 0, left + 512, 768)), expected).getbbox() is None
                for expected in half_frames) for left in (0, 512))
        half_frames = []
        for frame in FRAMES:
            half_frames.append(Image.new("RGB", (512, 768)))
            half_frames[-1].paste(frame, (origin(512, FRAME_W), origin(768, FRAME_H)))
        with self.sway() as sway:
            first = sway.start("-speed", "30")
            self.assertTrue(wait_until(lambda: shows_frame_on_outputs(sway, {"HEADLESS-1": 1}), 10))
            sway.start("-speed", "30")
            self.assertTrue(wait_until(lambda: halves_show_frames(sway), 10))
            self.assertIsNone(first.poll())


class Playing(SwayTest):
    PERIOD = 0.3   # -speed 30

    def test_the_frames_play_back_and_forth_at_the_set_pace(self):
        """Screenshots come a few times a period; each must show the frame
        that the back-and-forth order at the set period shows at that moment,
        within a tenth of a second either way, for one phase of the order."""
        with self.sway() as sway:
            sway.start("-fullscreen", "-speed", "30")
            self.assertTrue(wait_until(lambda: frame_on_output(sway) is not None, 10))
            seen, end = [], time.monotonic() + 5
            while time.monotonic() < end:
                before = time.monotonic()
                frame = frame_on_output(sway)
                seen.append(((before + time.monotonic()) / 2 - end, frame))
            self.assertGreaterEqual(len(seen), 8, seen)
            self.assertNotIn(None, [frame for _, frame in seen], seen)

            def shown(at, phase):
                return BACK_AND_FORTH[int((at + phase) // self.PERIOD) % len(BACK_AND_FORTH)]

            def fits(phase):
                return all(frame in (shown(at - 0.1, phase), shown(at, phase), shown(at + 0.1, phase))
                           for at, frame in seen)
            cycle = self.PERIOD * len(BACK_AND_FORTH)
            self.assertTrue(any(fits(step / 100) for step in range(int(cycle * 100))), seen)


class Ending(SwayTest):
    # name, arguments, what is done once the frame shows, the exit code
    # within a second (None: still running a second later)
    ENDINGS = [
        ("4 px of pointer travel keeps it", ["-fullscreen"], lambda s, p, pointer: pointer.move(2, -2), None),
        ("5 px of pointer travel ends it", ["-fullscreen"], lambda s, p, pointer: pointer.move(3, -2), 0),
        ("a button", ["-fullscreen"], lambda s, p, pointer: pointer.click(), 0),
        ("a key", ["-fullscreen"], lambda s, p, pointer: s.type_key(), 0),
        ("a key pressed and held", ["-fullscreen"], lambda s, p, pointer: s.hold_key(), 0),
        ("SIGTERM", ["-fullscreen"], lambda s, p, pointer: p.send_signal(signal.SIGTERM), 0),
        ("the compositor closes it", ["-fullscreen"], lambda s, p, pointer: s.msg("[app_id=zembloid]", "kill"), 0),
        ("own window: a key", [], lambda s, p, pointer: s.type_key(), 0),
        ("own window: pointer travel keeps it", [], lambda s, p, pointer: pointer.move(40, 40), None),
        ("own window: closed", [], lambda s, p, pointer: s.msg("[app_id=zembloid]", "kill"), 0),
    ]

    def test_how_it_ends(self):
        with self.sway() as sway:
            pointer = sway.pointer()
            pointer.move(300, 600)   # where the own window's cursor stays clear of the row looked at
            for name, args, action, code in self.ENDINGS:
                with self.subTest(name):
                    program = sway.start("-speed", "30", *args)
                    # The full-screen saver hides the pointer, so the whole output
                    # is compared; the own window's cursor stays in the picture.
                    up = (lambda: shows_frame_on_outputs(sway, {"HEADLESS-1": 1})) if args else \
                        (lambda: frame_on_output(sway) is not None)
                    self.assertTrue(wait_until(up, 10))
                    action(sway, program, pointer)
                    if code is None:
                        time.sleep(1)
                        self.assertIsNone(program.poll())
                        program.send_signal(signal.SIGTERM)
                    self.assertEqual(program.wait(timeout=1), 0)
                    self.assertEqual(program.stderr.read(), "")

    def test_swayidle_starts_it_and_pointer_travel_ends_it(self):
        with self.sway() as sway:
            pointer = sway.pointer()
            command = "%s -fullscreen -speed 30" % sway.path("zembloid")
            sway.spawn(["swayidle", "-w", "timeout", "1", command],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

            def running():
                return subprocess.run(["pgrep", "-f", "^%s " % sway.path("zembloid")],
                                      stdout=subprocess.PIPE, text=True).stdout.split()
            self.assertTrue(wait_until(running, 10), "swayidle did not start it")
            pid = running()[0]
            self.assertTrue(wait_until(lambda: frame_on_output(sway) is not None, 10))
            pointer.move(10, 0)
            self.assertTrue(wait_until(lambda: pid not in running(), 2), "pointer travel did not end it")


class Protocol(unittest.TestCase):
    """Against compositors the test serves itself: none, silent ones, and
    FakeCompositor, which offers the globals a case asks for and answers
    what the case needs."""

    def run_on_fake(self, runtime, *args, **fake_args):
        """The program with `args` on a FakeCompositor of its own: (program, fake)."""
        path = os.path.join(runtime, "wayland-fake")
        if os.path.exists(path):
            os.unlink(path)
        server = socket.socket(socket.AF_UNIX)
        self.addCleanup(server.close)
        server.bind(path)
        server.listen()
        fake = FakeCompositor(server, **fake_args)
        fake.start()
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        program = subprocess.Popen([PROGRAM, *args], stderr=subprocess.PIPE, text=True,
                                   env=dict(env, XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY="wayland-fake"))
        self.addCleanup(lambda: (program.poll() is None and program.kill(), program.wait(),
                                 program.stderr.close()))
        return program, fake

    # The globals the program needs, and a seat of each version: wl_keyboard
    # and wl_pointer have a release request from version 3 only.
    SEAT_GLOBALS = [("wl_compositor", 4), ("wl_subcompositor", 1), ("wl_shm", 1), ("xdg_wm_base", 1)]
    SEATS = [(2, False), (3, True)]   # seat version, whether the devices are released

    def test_devices_are_released_only_where_the_seat_can(self):
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        devices = {}

        def answer(fake, sender, opcode, arguments):
            if sender == fake.bound.get("wl_seat") and opcode in (0, 1):   # get_pointer, get_keyboard
                devices[("pointer", "keyboard")[opcode]] = struct.unpack("<I", arguments[:4])[0]
            elif sender == fake.registry and fake.bound.get("wl_seat") and "seat" not in devices:
                devices["seat"] = fake.bound["wl_seat"]
                fake.send(devices["seat"], 0, struct.pack("<I", 3))   # capabilities: pointer, keyboard
        for version, released in self.SEATS:
            with self.subTest(seat=version):
                devices.clear()
                program, fake = self.run_on_fake(runtime, "-fullscreen", answer=answer,
                                                 globals_=self.SEAT_GLOBALS + [("wl_seat", version)])
                self.assertTrue(wait_until(lambda: "pointer" in devices and "keyboard" in devices, 5))
                fake.send(devices["seat"], 0, struct.pack("<I", 0))   # both devices gone
                time.sleep(0.5)
                requests = [(sender, opcode) for sender, opcode, _ in fake.requests]
                release = {"keyboard": 0, "pointer": 1}
                for device, opcode in release.items():
                    self.assertEqual((devices[device], opcode) in requests, released, device)
                self.assertIsNone(program.poll())
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=2), 0)
                self.assertEqual(program.stderr.read(), "")

    def run_configured(self, runtime, size, *args, globals_=SEAT_GLOBALS):
        """The program with `args` on a FakeCompositor that configures its
        toplevel to `size`, once it has set a window geometry: (program, fake,
        the window geometries it set)."""
        roles, geometries = {}, []

        def answer(fake, sender, opcode, arguments):
            new_id = arguments[:4] and struct.unpack("<I", arguments[:4])[0]
            if sender == fake.bound.get("xdg_wm_base") and opcode == 2:   # get_xdg_surface
                roles["xdg_surface"] = new_id
            elif sender == roles.get("xdg_surface") and opcode == 1:     # get_toplevel
                fake.send(new_id, 0, struct.pack("<2iI", *size, 0))       # configure, no states
                fake.send(roles["xdg_surface"], 0, struct.pack("<I", 1))
            elif sender == roles.get("xdg_surface") and opcode == 3:     # set_window_geometry
                geometries.append(struct.unpack("<4i", arguments))
        program, fake = self.run_on_fake(runtime, *args, answer=answer, globals_=globals_)
        self.assertTrue(wait_until(lambda: geometries, 5))
        time.sleep(0.3)
        return program, fake, geometries

    # The size a configure gives (0: the client's choice) and the size of the
    # own window that follows: the frame's on each axis left to the client.
    CONFIGURES = [((0, 0), (640, 480)), ((0, 500), (640, 500)), ((800, 0), (800, 480)),
                  ((700, 300), (700, 300))]

    def test_a_configure_leaves_to_the_client_only_the_axes_it_gives_0(self):
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        for given, size in self.CONFIGURES:
            with self.subTest(configure=given):
                program, fake, geometries = self.run_configured(runtime, given)
                self.assertEqual(geometries[-1], (0, 0, *size))
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=2), 0)

    def test_a_window_too_large_for_one_buffer_keeps_its_last_black(self):
        """A configure of 700 x 300, then one whose black buffer would pass
        2 GiB: no buffer reaches past its pool, and the window's surface keeps
        a buffer (a null one would unmap it)."""
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        roles = {}

        def answer(fake, sender, opcode, arguments):
            if sender == fake.bound.get("xdg_wm_base") and opcode == 2:   # get_xdg_surface(id, surface)
                roles["xdg_surface"], roles["surface"] = struct.unpack("<2I", arguments)
            elif sender == roles.get("xdg_surface") and opcode == 1:
                roles["toplevel"] = struct.unpack("<I", arguments)[0]
        program, fake = self.run_on_fake(runtime, answer=answer, globals_=self.SEAT_GLOBALS)
        attaches = lambda: [struct.unpack("<I", arguments[:4])[0] for sender, opcode, arguments
                            in fake.requests if sender == roles["surface"] and opcode == 1]
        for serial, size in enumerate([(700, 300), (40000, 30000)], 1):
            self.assertTrue(wait_until(lambda: "toplevel" in roles, 5))
            fake.send(roles["toplevel"], 0, struct.pack("<2iI", *size, 0))
            fake.send(roles["xdg_surface"], 0, struct.pack("<I", serial))
            self.assertTrue(wait_until(lambda: len(attaches()) >= serial, 5))
        time.sleep(0.3)
        self.assertNotIn(0, attaches())
        for buffer in self.buffers_made(fake).values():
            self.assertLessEqual(buffer.offset + buffer.stride * buffer.height, buffer.pool_size)
        self.assertIsNone(program.poll())
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=2), 0)

    def test_a_fullscreen_window_lets_its_black_go_once_its_frame_shows(self):
        """-fullscreen configured to 16000 x 12000, where the frame set would
        pass 2 GiB and the window stays black, then to 1024 x 768, where the
        frame is the window's own surface: the window-sized black buffer is
        destroyed, not kept for as long as the saver runs."""
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        roles = {}

        def answer(fake, sender, opcode, arguments):
            if sender == roles.get("xdg_surface") and opcode == 1:   # get_toplevel
                roles["toplevel"] = struct.unpack("<I", arguments)[0]
            elif sender == fake.bound.get("xdg_wm_base") and opcode == 2:
                roles["xdg_surface"] = struct.unpack("<I", arguments[:4])[0]
        program, fake = self.run_on_fake(runtime, "-fullscreen", answer=answer,
                                         globals_=self.SEAT_GLOBALS + [("wl_output", 3)])
        sizes = lambda: [(b.width, b.height) for b in self.buffers_made(fake).values()]
        # Each configure, and a buffer that shows it was laid out: the black
        # of the whole window, then a corner tile beside the frame.
        for serial, (size, made) in enumerate([((16000, 12000), (16000, 12000)), ((1024, 768), (192, 144))], 1):
            self.assertTrue(wait_until(lambda: "toplevel" in roles, 5))
            fake.send(roles["toplevel"], 0, struct.pack("<2iI", *size, 0))
            fake.send(roles["xdg_surface"], 0, struct.pack("<I", serial))
            self.assertTrue(wait_until(lambda: made in sizes(), 5), size)
        time.sleep(0.3)
        black = [id_ for id_, b in self.buffers_made(fake).items() if (b.width, b.height) == (16000, 12000)]
        destroyed = {sender for sender, opcode, _ in fake.requests if opcode == 0}   # wl_buffer.destroy
        self.assertIn(black[0], destroyed, "the window-sized black buffer was kept")
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=2), 0)

    @staticmethod
    def buffers_made(fake):
        """The wl_shm buffers the program made, by id."""
        pools = {struct.unpack("<I", arguments[:4])[0]: struct.unpack("<i", arguments[4:8])[0]
                 for sender, opcode, arguments in fake.requests
                 if sender == fake.bound["wl_shm"] and opcode == 0}
        made = {}
        for sender, opcode, arguments in fake.requests:
            if sender in pools and opcode == 0:   # create_buffer(id, offset, width, height, stride, format)
                id_, offset, width, height, stride, _ = struct.unpack("<I4iI", arguments)
                made[id_] = MadeBuffer(offset, width, height, stride, pools[sender])
        return made

    # Without wp_viewporter, on one output of this whole-number scale, with
    # these arguments: the own window of 1024 x 768 gets frame buffers of
    # this size at this buffer scale, a multiple of it, so that the
    # compositor never stretches them; the 2x frame at scale 3 loses a pixel
    # at each end rather than show three times too large.
    WITHOUT_VIEWPORTER = [(3, ["-scale", "2"], (1278, 960), 3), (3, [], (1920, 1440), 3),
                          (2, [], (1280, 960), 2)]

    def test_frame_buffers_at_the_output_scale_without_a_viewporter(self):
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        for scale, args, size, buffer_scale in self.WITHOUT_VIEWPORTER:
            with self.subTest(scale=scale, args=args):
                roles = {}

                def answer(fake, sender, opcode, arguments):
                    new_id = arguments[:4] and struct.unpack("<I", arguments[:4])[0]
                    if sender == fake.registry and "wl_output" in fake.bound and "output" not in roles:
                        roles["output"] = fake.bound["wl_output"]
                        fake.send(roles["output"], 3, struct.pack("<i", scale))   # scale
                        fake.send(roles["output"], 2)                             # done
                    elif sender == fake.bound.get("wl_compositor") and opcode == 0 and "surface" not in roles:
                        roles["surface"] = new_id   # the window's own surface
                    elif sender == fake.bound.get("xdg_wm_base") and opcode == 2:
                        roles["xdg_surface"] = new_id
                    elif sender == roles.get("xdg_surface") and opcode == 1:
                        fake.send(roles["surface"], 0, struct.pack("<I", roles["output"]))   # enter
                        fake.send(new_id, 0, struct.pack("<2iI", 1024, 768, 0))
                        fake.send(roles["xdg_surface"], 0, struct.pack("<I", 1))
                program, fake = self.run_on_fake(runtime, *args, answer=answer,
                                                 globals_=self.SEAT_GLOBALS + [("wl_output", 3)])

                def frame_buffers():   # ten of a size, made from one pool
                    made = collections.Counter((b.width, b.height) for b in self.buffers_made(fake).values())
                    return {size for size, count in made.items() if count >= 10}
                self.assertTrue(wait_until(frame_buffers, 5))
                time.sleep(0.3)
                self.assertEqual(frame_buffers(), {size})
                scales = {struct.unpack("<i", arguments)[0] for _, opcode, arguments in fake.requests
                          if opcode == 8 and len(arguments) == 4}   # wl_surface.set_buffer_scale
                self.assertEqual(scales, {buffer_scale})
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=2), 0)

    # -fullscreen configured to this size, with the 640 x 480 frame: the window
    # geometry, which starts left of and above the frame, the window's own
    # surface; the black buffers around it cover the rest of the window, none
    # larger than the frame (mutter 43 places a full-screen window's surfaces
    # by the largest), as neither sway nor mutter shows a gap in the black.
    FULLSCREEN_BLACK = [((1024, 768), (-192, -144, 1024, 768)), ((2000, 500), (-680, -10, 2000, 500)),
                        ((640, 480), (0, 0, 640, 480))]

    def test_fullscreen_black_around_the_frame_in_pieces_no_larger_than_it(self):
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        for size, geometry in self.FULLSCREEN_BLACK:
            with self.subTest(size=size):
                program, fake, geometries = self.run_configured(
                    runtime, size, "-fullscreen", globals_=self.SEAT_GLOBALS + [("wl_output", 3)])
                self.assertEqual(geometries[-1], geometry)
                made = collections.Counter((b.width, b.height) for b in self.buffers_made(fake).values())
                black = [(w, h) for (w, h), count in made.items() for _ in range(count) if count < 10]
                self.assertEqual(sum(w * h for w, h in black), size[0] * size[1] - FRAME_W * FRAME_H)
                self.assertLessEqual(max([w for w, _ in black] + [0]), FRAME_W)
                self.assertLessEqual(max([h for _, h in black] + [0]), FRAME_H)
                program.send_signal(signal.SIGTERM)
                self.assertEqual(program.wait(timeout=2), 0)

    def test_an_outputs_window_goes_with_it(self):
        """-fullscreen on one output, which the compositor then takes away:
        its window is destroyed and the output released, and the program
        waits for another."""
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        roles = {}

        def answer(fake, sender, opcode, arguments):
            new_id = arguments[:4] and struct.unpack("<I", arguments[:4])[0]
            if sender == fake.bound.get("xdg_wm_base") and opcode == 2:
                roles["xdg_surface"] = new_id
            elif sender == roles.get("xdg_surface") and opcode == 1:
                roles["toplevel"] = new_id
        globals_ = self.SEAT_GLOBALS + [("wl_output", 3)]
        program, fake = self.run_on_fake(runtime, "-fullscreen", answer=answer, globals_=globals_)
        self.assertTrue(wait_until(lambda: "toplevel" in roles, 5))
        fake.send(fake.registry, 1, struct.pack("<I", len(globals_)))   # global_remove of the output
        requests = lambda: [(sender, opcode) for sender, opcode, _ in fake.requests]
        self.assertTrue(wait_until(lambda: (roles["toplevel"], 0) in requests(), 5))   # destroy
        self.assertIn((fake.bound["wl_output"], 0), requests())                       # release
        time.sleep(0.5)
        self.assertIsNone(program.poll())
        program.send_signal(signal.SIGTERM)
        self.assertEqual(program.wait(timeout=2), 0)
        self.assertEqual(program.stderr.read(), "")

    def test_a_new_outputs_window_starts_a_new_pointer_baseline(self):
        """-fullscreen: the pointer enters the one output's window at (0, 0);
        that output goes and another comes. Entering the new window at
        (100, 100) starts a baseline there (the gone window's is not kept),
        and 5 px from it end the saver."""
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        self.addCleanup(shutil.rmtree, runtime)
        roles = {"surfaces": []}

        def answer(fake, sender, opcode, arguments):
            if sender == fake.registry and fake.bound.get("wl_seat") and "seat" not in roles:
                roles["seat"] = fake.bound["wl_seat"]
                fake.send(roles["seat"], 0, struct.pack("<I", 1))   # capabilities: pointer
            elif sender == roles.get("seat") and opcode == 0:       # get_pointer
                roles["pointer"] = struct.unpack("<I", arguments)[0]
            elif sender == fake.bound.get("xdg_wm_base") and opcode == 2:   # get_xdg_surface(id, surface)
                roles["surfaces"].append(struct.unpack("<2I", arguments)[1])
        globals_ = self.SEAT_GLOBALS + [("wl_seat", 3), ("wl_output", 3)]
        program, fake = self.run_on_fake(runtime, "-fullscreen", answer=answer, globals_=globals_)
        fixed = lambda *values: struct.pack("<%di" % len(values), *(v * 256 for v in values))
        self.assertTrue(wait_until(lambda: "pointer" in roles and roles["surfaces"], 5))
        fake.send(roles["pointer"], 0, struct.pack("<2I", 1, roles["surfaces"][0]) + fixed(0, 0))   # enter
        fake.send(fake.registry, 1, struct.pack("<I", len(globals_)))   # global_remove of the output
        fake.send(fake.registry, 0, struct.pack("<I", len(globals_) + 1) + wire_string("wl_output") +
                  struct.pack("<I", 3))                                # and a new one
        self.assertTrue(wait_until(lambda: len(roles["surfaces"]) == 2, 5))
        fake.send(roles["pointer"], 0, struct.pack("<2I", 2, roles["surfaces"][1]) + fixed(100, 100))
        time.sleep(0.5)
        self.assertIsNone(program.poll())
        fake.send(roles["pointer"], 2, struct.pack("<I", 0) + fixed(105, 100))   # motion
        self.assertEqual(program.wait(timeout=2), 0)

    # name, whether the test's compositor accepts the connection, the signal
    SILENT = [("accepted, never answered: SIGTERM", True, signal.SIGTERM),
              ("accepted, never answered: SIGINT", True, signal.SIGINT),
              ("never accepted: SIGTERM", False, signal.SIGTERM)]

    def test_a_stop_signal_ends_it_while_the_compositor_is_silent(self):
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        for name, accept, stop in self.SILENT:
            with self.subTest(name), socket.socket(socket.AF_UNIX) as server:
                path = os.path.join(runtime, "wayland-silent")
                if os.path.exists(path):
                    os.unlink(path)
                server.bind(path)
                server.listen()
                program = subprocess.Popen([PROGRAM, "-fullscreen"], stderr=subprocess.PIPE, text=True,
                                           env=dict(env, XDG_RUNTIME_DIR=runtime,
                                                    WAYLAND_DISPLAY="wayland-silent"))
                connection = server.accept()[0] if accept else None
                time.sleep(0.5)   # into the first round trip
                program.send_signal(stop)
                try:
                    self.assertEqual(program.wait(timeout=1), 0)
                finally:
                    if program.poll() is None:
                        program.kill()
                        program.wait()
                    if connection:
                        connection.close()
                self.assertEqual(program.stderr.read(), "")
                program.stderr.close()
        shutil.rmtree(runtime)

    def test_without_compositor_or_shell_exits_1_with_one_line(self):
        """WAYLAND_DISPLAY naming no socket or empty, with no X display
        either; or a compositor without xdg_wm_base."""
        runtime = tempfile.mkdtemp(prefix="zembloid-wl-")
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        for name in ("wayland-nothing-here", "", "wayland-no-shell"):
            with self.subTest(WAYLAND_DISPLAY=name), socket.socket(socket.AF_UNIX) as server:
                if name == "wayland-no-shell":   # a compositor that offers no globals at all
                    server.bind(os.path.join(runtime, name))
                    server.listen()
                    FakeCompositor(server).start()
                run = subprocess.run([PROGRAM, "-fullscreen"], capture_output=True, text=True, timeout=5,
                                     env=dict(env, XDG_RUNTIME_DIR=runtime, WAYLAND_DISPLAY=name))
                self.assertEqual(run.returncode, 1)
                self.assertRegex(run.stderr, r"\Azembloid: [^\n]*\n\Z")
                if name == "wayland-no-shell":
                    self.assertIn("xdg_wm_base", run.stderr)
        shutil.rmtree(runtime)


class Fractional(unittest.TestCase):
    """Under headless KWin, which offers wp_fractional_scale_v1 and
    wp_viewporter: its 1024 x 768 output at scale 1.5 is 1536 x 1152 physical
    pixels, and the full-screen window's frame buffers hold the enlarged frame
    one pixel to a physical pixel, at buffer scale 1, shown through a viewport
    at its logical size."""
    # name, more arguments, the frame buffers' size, the frame viewport's destination
    CASES = [("1.5: the 2x frame of 144 dpi", [], (1280, 960), (853, 640)),
             ("1.5, -scale 1", ["-scale", "1"], (640, 480), (427, 320))]

    def test_frame_buffers_at_the_preferred_scale(self):
        for name, args, size, destination in self.CASES:
            with self.subTest(name), KwinSession(None, 1024, 768, scale=1.5, programs=[PROGRAM]) as kwin:
                program = kwin.run([kwin.path("zembloid"), "-fullscreen", "-speed", "30", *args],
                                   env={"WAYLAND_DEBUG": "1"}, stderr=subprocess.PIPE, text=True)
                time.sleep(4)
                program.send_signal(signal.SIGTERM)
                log = program.communicate(timeout=10)[1]
                self.assertEqual(program.returncode, 0)
                # The frame buffers come ten at a time; the black ones one by one.
                made = collections.Counter(re.findall(
                    r"create_buffer\(new id wl_buffer@\d+, \d+, (\d+), (\d+),", log))
                frames = {(int(w), int(h)) for (w, h), count in made.items() if count >= 10}
                self.assertEqual(frames, {size}, log[-3000:])
                self.assertIn("set_destination(%d, %d)" % destination, log)


class Valgrind(SwayTest):
    def test_no_definite_leak_and_nothing_per_tick_while_unseen(self):
        """Its window opens on a workspace not shown, so its first frame is never
        shown and every later tick passes the window over: about 200 ticks at
        10 ms in the longer run must cost no request and no allocation."""
        with self.sway(config='assign [app_id="zembloid"] workspace 9') as sway:
            def start(valgrind):   # timed from when its window is there
                program = sway.start("-speed", "1", prefix=valgrind)
                wait_until(lambda: sway.views("zembloid") == 1, 30, interval=0.2)
                return program
            short = allocations_under_valgrind(self, start, 1.5)
            long = allocations_under_valgrind(self, start, 3.5)
            self.assertLess(long - short, 20)


if __name__ == "__main__":
    unittest.main(verbosity=2)
