"""The stereogram animation as a user sees it: zembloid.scr under Wine on a
virtual display, checked by screenshots against the frames it embeds.

Preview mode is not looked at here: Wine 8 does not show a window inside a
window of another process, so the preview's pixels never reach the screen.
What a preview-sized child window shows is checked in-process by the Win32
tests of the frame player."""

import os
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
FRAMES_DISTINCT = all(ImageChops.difference(a, b).getbbox() is not None
                      for n, a in enumerate(FRAMES) for b in FRAMES[n + 1:])


def frames_shown(screen, origin, scale=1):
    """Indices of the frames that `screen` shows pixel for pixel at `origin`
    (clipped to the screen), each pixel as a scale x scale square, with black
    everywhere else; empty if none."""
    ox, oy = origin
    black = Image.new("RGB", screen.size)
    matches = []
    for index, frame in enumerate(FRAMES):
        if scale != 1:
            frame = frame.resize((frame.width * scale, frame.height * scale), Image.NEAREST)
        expected = black.copy()
        expected.paste(frame, (ox, oy))
        if ImageChops.difference(screen, expected).getbbox() is None:
            matches.append(index)
    return matches


def write_speed(session, speed):
    with open(os.path.join(session.windows_dir(), "control.ini"), "w", newline="\r\n") as f:
        f.write("[ZEMBLOID]\nRedraw Speed=%d\n" % speed)


def start_saver(session):
    session.start(winesession.SCR, "/s", stdout=subprocess.DEVNULL)
    if session.wait_for_window("Screen Saver", timeout=30) is None:
        raise AssertionError("the saver window did not appear")


def set_dpi(session, dpi):
    """The logical DPI that programs started from now on see."""
    session.reg_add("HKCU\\Control Panel\\Desktop", "LogPixels", dpi, "REG_DWORD")
    session.wait_for_wineserver()


def wait_for_frame(session, origin, timeout=15, scale=1):
    """The first screenshot that shows a frame at `origin`: (indices, image)."""
    found = {}

    def shown():
        shot = session.screenshot()
        found["last"] = shot
        found["frames"] = frames_shown(shot, origin, scale)
        return found["frames"]

    wait_until(shown, timeout, interval=0.2)
    return found.get("frames", []), found.get("last")


class SaverMode(unittest.TestCase):
    def check_screen(self, screen, origin, dpi=None, scale=1):
        name = "player-%dx%d" % screen + ("-%ddpi" % dpi if dpi else "")
        with WineSession(name, screen=screen) as session:
            if dpi:
                set_dpi(session, dpi)
            start_saver(session)
            frames, shot = wait_for_frame(session, origin, scale=scale)
            if not frames and shot is not None:
                shot.save(os.path.join(winesession.BUILD_DIR, name + "-failed.png"))
            self.assertTrue(frames, "no frame at %s, %dx enlarged, on %s" % (origin, scale, name))

    def test_frame_sits_centred_on_black(self):
        self.check_screen((1024, 768), (192, 144))

    def test_frame_fills_a_screen_of_its_own_size(self):
        self.check_screen((640, 480), (0, 0))

    def test_frame_is_clipped_on_a_smaller_screen(self):
        self.check_screen((600, 400), (-20, -40))

    def test_high_dpi_enlarges_each_pixel_to_a_square_where_the_frame_fits(self):
        # (screen, logical DPI, origin, scale); 96 DPI is the tests above.
        for screen, dpi, origin, scale in [
            ((2048, 1536), 192, (384, 288), 2),
            ((1024, 768), 144, (192, 144), 1),  # 2x would not fit
        ]:
            with self.subTest(dpi=dpi, screen=screen):
                self.check_screen(screen, origin, dpi, scale)

    @unittest.skipUnless(FRAMES_DISTINCT, "the embedded frames are all alike")
    def test_frames_walk_back_and_forth(self):
        # One tick per second; a screenshot every 0.2 s sees every frame.
        with WineSession("player-walk") as session:
            write_speed(session, 100)
            start_saver(session)
            seen = []
            deadline = time.monotonic() + 40
            while len(seen) < 14 and time.monotonic() < deadline:
                frames = frames_shown(session.screenshot(), (192, 144))
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
