"""zembloid.scr run as the system's display settings run it: saver mode,
preview mode and refused command lines, under Wine on a virtual display."""

import os
import re
import shutil
import time
import unittest

import winesession
from winesession import WineSession, parse_exit_code, wait_until, windows_path

PROBE = os.path.join(winesession.WIN32_DIR, "saverprobe.exe")
SCREEN = (1024, 768)
# The frame player draws a 640 x 480 frame in the middle; the rest stays black.
FRAME = (640, 480)
START = (500, 400)
ALL_ONES = 0xFFFFFFFF

WINDOW_WAIT = 30      # seconds for the saver window to appear
EXIT_WAIT = 20        # seconds for the saver to end once asked
STILL_RUNNING = 1.5   # seconds a saver must survive something that must not end it


class SaverEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = WineSession("e2e-saver", screen=SCREEN)
        cls.session.__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.session.__exit__(None, None, None)

    def setUp(self):
        self.savers = []

    def tearDown(self):
        # No saver outlives its test, even one a failed test started by
        # accident: ask it to close, then wait for it.
        if self.saver_window() is not None:
            self.probe("close")
            wait_until(lambda: self.saver_window() is None, EXIT_WAIT, interval=0.5)
        for p in self.savers:
            try:
                p.communicate(timeout=EXIT_WAIT)
            except Exception:
                pass

    # Helpers ----------------------------------------------------------------

    def probe(self, *args, timeout=60):
        return self.session.wine(PROBE, *args, timeout=timeout).stdout

    def saver_window(self):
        """(style, exstyle, rect) of the running full-screen saver, or None."""
        match = re.search(r"window found style=0x(\w+) exstyle=0x(\w+) rect=(-?\d+),(-?\d+),(-?\d+),(-?\d+)",
                          self.probe("find"))
        if not match:
            return None
        return int(match.group(1), 16), int(match.group(2), 16), tuple(int(g) for g in match.groups()[2:])

    def start_saver(self):
        self.session.xdotool("mousemove", *START)
        saver = self.session.start_launch(self.session.scr_command("/s"), timeout=120)
        self.savers.append(saver)
        self.assertIsNotNone(self.session.wait_for_window("Screen Saver", timeout=WINDOW_WAIT),
                             "no saver window appeared")
        return saver

    def exit_code(self, saver, timeout=EXIT_WAIT):
        try:
            output = saver.communicate(timeout=timeout)[0]
        except Exception:
            return None
        return parse_exit_code(output)

    def assert_keeps_running(self, saver):
        time.sleep(STILL_RUNNING)
        self.assertIsNone(saver.poll(), "the saver ended")
        self.assertIsNotNone(self.saver_window(), "the saver window is gone")

    def border_is_black(self):
        image = self.session.screenshot()
        width, height = image.size
        left, top = (width - FRAME[0]) // 2, (height - FRAME[1]) // 2
        bands = [(0, 0, width, top), (0, top + FRAME[1], width, height),
                 (0, top, left, top + FRAME[1]), (left + FRAME[0], top, width, top + FRAME[1])]
        return all(image.crop(band).getextrema() == ((0, 0), (0, 0), (0, 0)) for band in bands)

    # Tests ------------------------------------------------------------------

    def test_saver_covers_the_screen_and_a_key_ends_it(self):
        saver = self.start_saver()
        style, exstyle, rect = self.saver_window()
        self.assertEqual((0, 0) + SCREEN, rect)
        self.assertTrue(exstyle & 0x8, "not topmost")
        self.assertEqual(0x90000000, style & 0x90000000, "not a visible popup")
        self.assertTrue(wait_until(self.border_is_black, 10), "the screen around the frame is not black")
        self.session.xdotool("key", "space")
        self.assertEqual(0, self.exit_code(saver))
        self.assertIsNone(self.saver_window())

    def test_mouse_travel_of_four_keeps_it_and_five_ends_it(self):
        saver = self.start_saver()
        time.sleep(0.5)
        self.session.xdotool("mousemove", START[0] + 2, START[1] + 2)
        self.assert_keeps_running(saver)
        self.session.xdotool("mousemove", START[0] + 3, START[1] + 2)
        self.assertEqual(0, self.exit_code(saver))

    def test_second_saver_returns_at_once_and_first_stays(self):
        first = self.start_saver()
        before = self.saver_window()
        started = time.monotonic()
        self.assertEqual(0, self.session.launch(self.session.scr_command("/s"), timeout=EXIT_WAIT))
        self.assertLess(time.monotonic() - started, EXIT_WAIT)
        self.assertEqual(before, self.saver_window())
        self.assertIsNone(first.poll(), "the first saver ended")
        self.session.xdotool("key", "Escape")
        self.assertEqual(0, self.exit_code(first))

    def test_refused_command_lines_exit_with_all_ones(self):
        tails = ["/x", "/?", "/p", "/p 0", "/p abc", "/p -5", "/\ts", "/a 123", "?"]
        for tail in tails:
            with self.subTest(tail=tail):
                self.assertEqual(ALL_ONES, self.session.launch(self.session.scr_command(tail), timeout=EXIT_WAIT))
        self.assertIsNone(self.saver_window())

    def test_quoted_program_path_with_blanks_is_skipped_whole(self):
        # Were the name cut at its blank, the tail would start with "saver\..."
        # and run the saver instead of refusing /x.
        folder = os.path.join(self.session.prefix, "drive_c", "my saver")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(winesession.SCR, folder)
        command = '"C:\\my saver\\%s" /x' % os.path.basename(winesession.SCR)
        self.assertEqual(ALL_ONES, self.session.launch(command, timeout=EXIT_WAIT))
        self.assertIsNone(self.saver_window())

    def test_windows_98_is_recognised(self):
        key = "HKCU\\Software\\Wine\\AppDefaults\\" + os.path.basename(winesession.SCR)
        self.session.emulate_win98(os.path.basename(winesession.SCR))
        try:
            # Change-password mode exists only there, and ends with 0.
            self.assertEqual(0, self.session.launch(self.session.scr_command("/a 123"), timeout=EXIT_WAIT))
            # Without a password the first close request is admitted.
            saver = self.start_saver()
            self.session.xdotool("key", "space")
            self.assertEqual(0, self.exit_code(saver))
        finally:
            self.session.wine("reg", "delete", key, "/f")
        self.assertEqual(ALL_ONES, self.session.launch(self.session.scr_command("/a 123"), timeout=EXIT_WAIT))

    def test_preview_fills_the_given_window_and_ends_with_it(self):
        for width, height in [(152, 112), (301, 203)]:
            with self.subTest(size=(width, height)):
                output = self.probe("preview", str(width), str(height), windows_path(winesession.SCR),
                                    timeout=90)
                self.assertIn("holder %dx%d" % (width, height), output)
                self.assertIn("child %dx%d style=0x52000000" % (width, height), output)
                self.assertIn("running 1", output, "the preview did not wait for its parent")
                self.assertEqual(0, parse_exit_code(output), output)


if __name__ == "__main__":
    unittest.main(verbosity=2)
