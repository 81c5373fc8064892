"""Configure mode end to end: zembloid.scr /c under Wine on a virtual display,
driven with the mouse and keyboard as a user would, checked by its exit code,
by control.ini and by screenshots of the dialog and the About box."""

import os
import re
import subprocess
import unittest

import winesession

CONFIGURE_TITLE = "ＺＥＭＢＬＯＩＤ"
ABOUT_TITLE = "ＺＥＭＢＬＯＩＤのバージョン情報"
CONFIGURE_SIZE_DU = (130, 127)
ABOUT_SIZE_DU = (203, 75)
SHOT_DIR = os.path.join(winesession.BUILD_DIR, "screenshots")
ICON_GRID = os.path.join(winesession.SOURCE_DIR, "resources", "ScrnIcon.txt")

STANDARD_PALETTE = [
    (0, 0, 0), (0x80, 0, 0), (0, 0x80, 0), (0x80, 0x80, 0), (0, 0, 0x80), (0x80, 0, 0x80),
    (0, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80), (0xFF, 0, 0), (0, 0xFF, 0),
    (0xFF, 0xFF, 0), (0, 0, 0xFF), (0xFF, 0, 0xFF), (0, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF)]

OTHER_CONTENT = "[Desktop]\r\nWallpaper=(none)\r\n"


class DialogWindow:
    """A dialog's client area on the screen, with dialog units turned into pixels."""

    def __init__(self, session, window, size_du):
        geometry = session.xdotool("getwindowgeometry", window)
        x, y = map(int, re.search(r"Position: (-?\d+),(-?\d+)", geometry).groups())
        w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", geometry).groups())
        self.session = session
        self.origin = (x, y)
        self.size = (w, h)
        self.scale = (w / size_du[0], h / size_du[1])

    def point(self, x_du, y_du):
        return (self.origin[0] + round(x_du * self.scale[0]),
                self.origin[1] + round(y_du * self.scale[1]))

    def box(self, x_du, y_du, w_du, h_du):
        left, top = self.point(x_du, y_du)
        right, bottom = self.point(x_du + w_du, y_du + h_du)
        return (left, top, right, bottom)

    def click(self, x_du, y_du):
        x, y = self.point(x_du, y_du)
        self.session.xdotool("mousemove", x, y, "click", 1)

    def crop(self, image):
        x, y = self.origin
        return image.crop((x, y, x + self.size[0], y + self.size[1]))


def ink(image):
    """How many pixels of an image are dark, as text is."""
    return sum(1 for r, g, b in image.getdata() if r + g + b < 200)


def read_icon_grid():
    rows = [line.rstrip("\n") for line in open(ICON_GRID, encoding="utf-8")
            if line.strip() and not line.startswith("#")]
    return [[None if c == "." else STANDARD_PALETTE[int(c, 16)] for c in row] for row in rows]


class ConfigureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(SHOT_DIR, exist_ok=True)
        cls.session = winesession.WineSession("e2e-configure")
        cls.session.__enter__()
        cls.ini = os.path.join(cls.session.windows_dir(), "control.ini")

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def write_ini(self, text):
        with open(self.ini, "wb") as f:
            f.write(text.encode("ascii"))

    def read_ini(self):
        if not os.path.exists(self.ini):
            return None
        with open(self.ini, "rb") as f:
            return f.read().decode("ascii")

    def open_dialog(self, tail):
        process = self.session.start_launch(self.session.scr_command(tail), timeout=60)
        window = self.session.wait_for_window_named(CONFIGURE_TITLE, timeout=30)
        self.assertIsNotNone(window, "the configure dialog did not appear for %r" % tail)
        dialog = DialogWindow(self.session, window, CONFIGURE_SIZE_DU)
        # Wait until the dialog has been painted.
        self.assertTrue(winesession.wait_until(
            lambda: ink(dialog.crop(self.session.screenshot())) > 100, 10))
        return process, dialog

    def exit_code(self, process):
        output = process.communicate(timeout=60)[0]
        return winesession.parse_exit_code(output)

    def test_dialog_shows_japanese_labels_and_cancel_keeps_file(self):
        before = OTHER_CONTENT + "[ZEMBLOID]\r\nRedraw Speed=12\r\n"
        self.write_ini(before)
        process, dialog = self.open_dialog("/c")
        shot = self.session.screenshot()
        dialog.crop(shot).save(os.path.join(SHOT_DIR, "configure.png"))
        labels = {
            "速度": dialog.box(16, 12, 20, 8),
            "速い": dialog.box(18, 32, 20, 9),
            "遅い": dialog.box(87, 32, 20, 9),
            "バージョン情報": dialog.box(30, 74, 64, 11),
            "キャンセル": dialog.box(70, 98, 44, 11),
        }
        crops = {text: shot.crop(box) for text, box in labels.items()}
        for text, crop in crops.items():
            with self.subTest(label=text):
                self.assertGreater(ink(crop), 10, "no text drawn for " + text)
        # Missing glyphs would draw the same box for both labels.
        self.assertNotEqual(list(crops["速い"].getdata()), list(crops["遅い"].getdata()))

        dialog.click(16 + 89 - 4, 49)  # the right arrow: one step slower
        dialog.click(68 + 24, 96 + 7)  # キャンセル
        self.assertEqual(self.exit_code(process), 0)
        self.assertEqual(self.read_ini(), before)

    def test_ok_stores_speed_and_exits_with_one(self):
        self.write_ini(OTHER_CONTENT + "[ZEMBLOID]\r\nRedraw Speed=12\r\n")
        process, dialog = self.open_dialog("/c")
        dialog.click(16 + 89 - 4, 49)  # right arrow
        dialog.click(16 + 89 - 4, 49)
        dialog.click(16 + 4, 49)       # left arrow
        dialog.click(12 + 24, 96 + 7)  # OK
        self.assertEqual(self.exit_code(process), 1)
        self.assertEqual(self.read_ini(), OTHER_CONTENT + "[ZEMBLOID]\r\nRedraw Speed=13\r\n")

    def test_no_switch_opens_dialog_and_ok_replaces_out_of_range_value(self):
        self.write_ini("[ZEMBLOID]\r\nRedraw Speed=31\r\n")
        process, dialog = self.open_dialog("")
        dialog.click(12 + 24, 96 + 7)  # OK
        self.assertEqual(self.exit_code(process), 1)
        self.assertEqual(self.read_ini(), "[ZEMBLOID]\r\nRedraw Speed=15\r\n")

    def test_escape_discards(self):
        self.write_ini("[ZEMBLOID]\r\nRedraw Speed=5\r\n")
        process, dialog = self.open_dialog("/c")
        dialog.click(16 + 4, 49)  # left arrow
        self.session.xdotool("key", "Escape")
        self.assertEqual(self.exit_code(process), 0)
        self.assertEqual(self.read_ini(), "[ZEMBLOID]\r\nRedraw Speed=5\r\n")

    def test_about_box_shows_icon_and_returns_to_dialog(self):
        self.write_ini("[ZEMBLOID]\r\nRedraw Speed=20\r\n")
        process, dialog = self.open_dialog("/c")
        dialog.click(28 + 34, 72 + 7)  # バージョン情報
        window = self.session.wait_for_window_named(ABOUT_TITLE, timeout=20)
        self.assertIsNotNone(window, "the About box did not appear")
        about = DialogWindow(self.session, window, ABOUT_SIZE_DU)
        self.assertTrue(winesession.wait_until(
            lambda: ink(about.crop(self.session.screenshot())) > 100, 10))
        shot = self.session.screenshot()
        about.crop(shot).save(os.path.join(SHOT_DIR, "about.png"))
        self.assertIconShown(shot, about.point(16, 13))

        about.click(56 + 20, 48 + 7)  # ＯＫ
        self.assertTrue(winesession.wait_until(
            lambda: not self.session.find_windows_named(ABOUT_TITLE), 10), "the About box stayed")
        self.assertTrue(self.session.find_windows_named(CONFIGURE_TITLE), "the dialog closed too")
        dialog.click(12 + 24, 96 + 7)  # OK, the value untouched by the About box
        self.assertEqual(self.exit_code(process), 1)
        self.assertEqual(self.read_ini(), "[ZEMBLOID]\r\nRedraw Speed=20\r\n")

    def transient_for(self, window):
        """The X window the given one is marked as belonging to, or None."""
        out = subprocess.run(["xprop", "-id", str(window), "WM_TRANSIENT_FOR"], env=self.session.env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                             timeout=20).stdout
        match = re.search(r"window id # (0x[0-9a-fA-F]+)", out)
        return int(match.group(1), 16) if match else None

    def test_switches_for_configure_and_the_owner_they_give(self):
        # /c and its variants give the foreground window (here a fresh Notepad)
        # as owner; no switch at all, or separators only, give none.
        cases = [("/c", True), ("/c:123", True), ("C", True),
                 ("", False), ("/", False), (" - / -", False)]
        self.write_ini("[ZEMBLOID]\r\nRedraw Speed=9\r\n")
        for tail, owned in cases:
            with self.subTest(tail=tail):
                known = set(self.session.xdotool("search", "--class", "notepad").split())
                self.session.start("notepad")
                notepad = winesession.wait_until(
                    lambda: set(self.session.xdotool(
                        "search", "--onlyvisible", "--class", "notepad").split()) - known, 20)
                self.assertTrue(notepad, "Notepad did not start")
                process, dialog = self.open_dialog(tail)
                owner = self.transient_for(self.session.find_windows_named(CONFIGURE_TITLE)[0])
                self.assertEqual(owner, int(next(iter(notepad))) if owned else None)
                # Keys go to the window under the pointer on this display.
                x, y = dialog.point(65, 85)
                self.session.xdotool("mousemove", x, y, "key", "Escape")
                self.assertEqual(self.exit_code(process), 0)
        self.assertEqual(self.read_ini(), "[ZEMBLOID]\r\nRedraw Speed=9\r\n")

    def assertIconShown(self, shot, near):
        """The icon's opaque pixels appear on screen exactly, close to `near`."""
        grid = read_icon_grid()
        opaque = [(x, y, colour) for y, row in enumerate(grid) for x, colour in enumerate(row)
                  if colour is not None]
        best = None
        for dy in range(-4, 5):
            for dx in range(-4, 5):
                misses = sum(1 for x, y, colour in opaque
                             if shot.getpixel((near[0] + dx + x, near[1] + dy + y)) != colour)
                best = misses if best is None else min(best, misses)
        self.assertEqual(best, 0, "the SCRN icon is not drawn where the About box shows it")


if __name__ == "__main__":
    unittest.main(verbosity=2)
