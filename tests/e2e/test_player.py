"""The stereogram animation as a user sees it: zembloid.scr under Wine on a
virtual display, checked by screenshots against the frames it embeds.

Preview mode is not looked at here: Wine 8 does not show a window inside a
window of another process, so the preview's pixels never reach the screen.
What a preview-sized child window shows is checked in-process by the Win32
tests of the frame player."""

import contextlib
import os
import shutil
import subprocess
import time
import unittest

from PIL import Image, ImageChops

import winesession
from winesession import WineSession, wait_until

NATIVE_DIR = os.environ.get("ZEMBLOID_NATIVE_DIR", os.path.join(winesession.BUILD_DIR, "native"))
FRAME_DIR = os.path.join(NATIVE_DIR, "frames")
BACK_AND_FORTH = list(range(10)) + list(range(8, 0, -1))


def load_frames():
    return [Image.open(os.path.join(FRAME_DIR, "frame%d.bmp" % (106 + i))).convert("RGB")
            for i in range(10)]


FRAMES = load_frames()
SHCORE_DOUBLE = os.path.join(winesession.WIN32_DIR, "monitors", "SHCORE.DLL")
FRAMES_DISTINCT = all(ImageChops.difference(a, b).getbbox() is not None
                      for n, a in enumerate(FRAMES) for b in FRAMES[n + 1:])


def frames_shown(screen, places):
    """Indices of the frames that `screen` shows pixel for pixel at every one
    of `places`, each an (origin, scale) pair: the frame's top-left corner
    (clipped to the screen) and the side of the square each of its pixels
    becomes; black everywhere else. Empty if none."""
    black = Image.new("RGB", screen.size)
    matches = []
    for index, frame in enumerate(FRAMES):
        expected = black.copy()
        for origin, scale in places:
            expected.paste(frame.resize((frame.width * scale, frame.height * scale), Image.NEAREST),
                           origin)
        if ImageChops.difference(screen, expected).getbbox() is None:
            matches.append(index)
    return matches


def write_speed(session, speed):
    with open(os.path.join(session.windows_dir(), "control.ini"), "w", newline="\r\n") as f:
        f.write("[ZEMBLOID]\nRedraw Speed=%d\n" % speed)


def start_saver(session, scr=winesession.SCR, env=None):
    saver = session.start(scr, "/s", stdout=subprocess.DEVNULL, env=env)
    if session.wait_for_window("Screen Saver", timeout=30) is None:
        raise AssertionError("the saver window did not appear")
    return saver


def set_dpi(session, dpi):
    """The logical DPI that programs started from now on see."""
    session.reg_add("HKCU\\Control Panel\\Desktop", "LogPixels", dpi, "REG_DWORD")
    session.wait_for_wineserver()


@contextlib.contextmanager
def staged(session, staging):
    """Stages what a row of SaverMode.CASES asks besides its monitors, before
    the saver starts, and yields (program, environment) to run it with:
      "work area": the work area the X display announces, (x, y, width,
        height), as a panel or taskbar leaves it;
      "shcore": "beside" puts the SHCORE.DLL double beside a copy of the
        program, as on a system without one of its own; "system" puts it in
        the system folder in place of Wine's (which is put back afterwards)."""
    if "work area" in staging:
        subprocess.run(["xprop", "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
                        ", ".join(str(n) for n in staging["work area"])],
                       env=session.env, check=True, timeout=20)
    where = staging.get("shcore")
    overrides = session.env["WINEDLLOVERRIDES"]
    if where == "beside":
        folder = os.path.join(session.prefix, "drive_c", "saver")
        os.makedirs(folder)
        shutil.copy(winesession.SCR, folder)
        shutil.copy(SHCORE_DOUBLE, folder)
        yield (os.path.join(folder, os.path.basename(winesession.SCR)),
               {"WINEDLLOVERRIDES": overrides + ";shcore=n,b"})
    elif where == "system":
        # The prefix's system files are hard links to the template's: Wine's
        # library is moved aside, never written through.
        system = os.path.join(session.windows_dir(), "system32", "shcore.dll")
        os.replace(system, system + ".wine")
        shutil.copy(SHCORE_DOUBLE, system)
        try:
            yield winesession.SCR, {"WINEDLLOVERRIDES": overrides + ";shcore=n"}
        finally:
            os.replace(system + ".wine", system)
    else:
        yield winesession.SCR, None


def wait_for_frame(session, places, timeout=15):
    """The first screenshot that shows a frame at `places`: (indices, image)."""
    found = {}

    def shown():
        shot = session.screenshot()
        found["last"] = shot
        found["frames"] = frames_shown(shot, places)
        return found["frames"]

    wait_until(shown, timeout, interval=0.2)
    return found.get("frames", []), found.get("last")


class SaverMode(unittest.TestCase):
    # name, monitors (sizes, side by side), the monitor Wine makes its primary,
    # logical DPI (None: 96), where each frame is expected: (origin in X
    # coordinates, scale), and what else is staged (see staged()).
    CASES = [
        ("1024x768", [(1024, 768)], 0, None, [((192, 144), 1)], {}),
        ("640x480", [(640, 480)], 0, None, [((0, 0), 1)], {}),
        ("600x400, clipped", [(600, 400)], 0, None, [((-20, -40), 1)], {}),
        ("2048x1536 at 192 dpi", [(2048, 1536)], 0, 192, [((384, 288), 2)], {}),
        ("1024x768 at 144 dpi, 2x would not fit", [(1024, 768)], 0, 144, [((192, 144), 1)], {}),
        # Centred on the whole monitor, not on the part a taskbar leaves.
        ("1024x768 with a work area 700 high", [(1024, 768)], 0, None, [((192, 144), 1)],
         {"work area": (0, 0, 1024, 700)}),
        # Checked below: the library beside the program is never loaded.
        ("a SHCORE.DLL beside the program", [(1024, 768)], 0, None, [((192, 144), 1)],
         {"shcore": "beside"}),
        # The second monitor is the primary, so the first one's desktop
        # coordinates are negative.
        ("two monitors, the primary on the right", [(1024, 768), (800, 600)], 1, None,
         [((192, 144), 1), ((1024 + 80, 60), 1)], {}),
        ("two monitors at 192 dpi: 2x on the big one, 1x on the small one",
         [(2048, 1536), (800, 600)], 0, 192, [((384, 288), 2), ((2048 + 80, 60), 1)], {}),
        ("two monitors of one size at 192 and 96 dpi each: 2x and 1x",
         [(2048, 1536), (2048, 1536)], 0, None, [((384, 288), 2), ((2048 + 704, 528), 1)],
         {"shcore": "system"}),
    ]
    # Where the mouse starts, on the first monitor, in X coordinates.
    MOUSE_START = (300, 300)

    def test_one_frame_centred_on_black_on_each_monitor(self):
        for name, monitors, primary, dpi, places, staging in self.CASES:
            several = len(monitors) > 1
            with self.subTest(name), WineSession("player-" + name, screen=monitors[0],
                                                 monitors=monitors if several else None,
                                                 primary=primary) as session, \
                    staged(session, staging) as (scr, env):
                if dpi:
                    set_dpi(session, dpi)
                session.xdotool("mousemove", *self.MOUSE_START)
                saver = start_saver(session, scr, env)
                frames, shot = wait_for_frame(session, places)
                if not frames and shot is not None:
                    shot.save(os.path.join(winesession.BUILD_DIR, session.name + "-failed.png"))
                self.assertTrue(frames, "not one frame at each of %s" % places)
                if staging.get("shcore") == "beside":
                    self.assertFalse(os.path.exists(os.path.join(os.path.dirname(scr),
                                                                 "SHCORE.DLL.loaded")),
                                     "the SHCORE.DLL beside the program was loaded")
                if several:   # for README's picture of several monitors
                    shot.convert("1").save(os.path.join(winesession.BUILD_DIR, session.name + ".png"),
                                           optimize=True)
                if several and primary != 0:
                    # Mouse travel of 5 on a monitor that is not the primary ends it.
                    x, y = self.MOUSE_START
                    session.xdotool("mousemove", x + 3, y + 2)
                    self.assertEqual(saver.wait(timeout=20), 0)

    def test_a_new_resolution_lays_the_frame_out_again_and_keeps_running(self):
        # 2x fits on 2048 x 1536 at 192 DPI; after the change to 1024 x 768
        # the window covers the smaller screen and the frame is built at 1x.
        with WineSession("player-display-change", monitors=[(2048, 1536)]) as session:
            set_dpi(session, 192)
            session.xdotool("mousemove", *self.MOUSE_START)
            saver = start_saver(session)
            self.assertTrue(wait_for_frame(session, [((384, 288), 2)])[0])
            probe = os.path.join(winesession.WIN32_DIR, "saverprobe.exe")
            self.assertIn("display 0", session.wine(probe, "display", "1024", "768").stdout)
            frames, shot = wait_for_frame(session, [((192, 144), 1)])
            self.assertEqual(shot.size, (1024, 768))
            self.assertTrue(frames, "no 1x frame centred on the new screen")
            self.assertIsNone(saver.poll(), "the saver ended")

    @unittest.skipUnless(FRAMES_DISTINCT, "the embedded frames are all alike")
    def test_frames_walk_back_and_forth(self):
        # One tick per second; a screenshot every 0.2 s sees every frame.
        with WineSession("player-walk") as session:
            write_speed(session, 100)
            start_saver(session)
            seen = []
            deadline = time.monotonic() + 40
            while len(seen) < 14 and time.monotonic() < deadline:
                frames = frames_shown(session.screenshot(), [((192, 144), 1)])
                if len(frames) == 1 and (not seen or seen[-1] != frames[0]):
                    seen.append(frames[0])
                time.sleep(0.2)
            self.assertGreaterEqual(len(seen), 14, "frames seen: %s" % seen)
            # Every change is one step of the cycle 0..9..1 from where it was.
            position = [p for p, f in enumerate(BACK_AND_FORTH) if f == seen[0]]
            for frame in seen[1:]:
                position = [(p + 1) % len(BACK_AND_FORTH) for p in position]
                position = [p for p in position if BACK_AND_FORTH[p] == frame]
                self.assertTrue(position, "frames seen out of order: %s" % seen)


if __name__ == "__main__":
    unittest.main(verbosity=2)
