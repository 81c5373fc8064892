"""build/web/zembloid.html in Debian's headless Chromium, driven by Selenium:
its picture pixel for pixel against the generated frame files at each device
pixel ratio, its pace and order, how full screen begins and ends, what it
never does (requests, wake locks, console errors), its query values, and the
build's own bytes.

Command line: test_web.py [CLASS ...]   (ctest runs one class per entry)"""

import base64
import http.server
import io
import math
import os
import subprocess
import tempfile
import threading
import time
import unittest

from PIL import Image, ImageChops
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

from browser import PAGE, PAGE_URL, Browser
from framefiles import BACK_AND_FORTH, FRAME_H, FRAME_W, frames_at, origin
from winesession import wait_until

SOURCE_DIR = os.environ["ZEMBLOID_SOURCE_DIR"]
NATIVE_DIR = os.environ["ZEMBLOID_NATIVE_DIR"]

# Run in every page before its own script: each putImageData is logged with
# the timestamp of the animation frame it happens in, wake-lock requests are
# counted, and each keydown records whether anything cancelled it.
RECORDER = """
(function () {
  const put = CanvasRenderingContext2D.prototype.putImageData;
  window.zembloidTest = { draws: [], wakeLocks: 0, prevented: [], put: put };
  let stamp = -1;
  const frame = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = function (callback) {
    return frame(function (now) { stamp = now; callback(now); });
  };
  CanvasRenderingContext2D.prototype.putImageData = function (image) {
    window.zembloidTest.draws.push([stamp, image]);
    return put.apply(this, arguments);
  };
  const count = function () { window.zembloidTest.wakeLocks++; return Promise.reject(new Error('counted')); };
  if (window.WakeLock) WakeLock.prototype.request = count;
  else Object.defineProperty(Navigator.prototype, 'wakeLock', { get: function () { return { request: count }; } });
  window.addEventListener('keydown', function (event) {
    setTimeout(function () { window.zembloidTest.prevented.push(event.defaultPrevented); });
  });
})();
"""

# The draws logged since the last call: [timestamp, image number], and each
# image as a PNG data address (drawn by the unlogged putImageData).
TAKE_DRAWS = """
const images = [], draws = [];
for (const [stamp, image] of window.zembloidTest.draws) {
  let number = images.indexOf(image);
  if (number < 0) number = images.push(image) - 1;
  draws.push([stamp, number]);
}
window.zembloidTest.draws = [];
return [draws, images.map(function (image) {
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  zembloidTest.put.call(canvas.getContext('2d'), image, 0, 0);
  return canvas.toDataURL();
})];
"""


def shows_frame(shot, scale):
    """True when `shot` is black with one of the frames enlarged `scale` times
    centred on it (cut at its edges)."""
    width, height = shot.size
    at = (origin(width, FRAME_W * scale), origin(height, FRAME_H * scale))
    for frame in frames_at(scale):
        expected = Image.new("RGB", shot.size)
        expected.paste(frame, at)
        if ImageChops.difference(shot, expected).getbbox() is None:
            return True
    return False


def hint_hidden(browser):
    return browser.js("return getComputedStyle(document.getElementById('hint')).display == 'none'")


def page_ready(browser, hint_gone=False):
    """Waits until the page has drawn, and with `hint_gone` until its hint has
    gone too (a few seconds)."""
    return wait_until(lambda: browser.js("return zembloidTest.draws.length > 0") and
                      (not hint_gone or hint_hidden(browser)), 15)


def take_draws(browser):
    """[(timestamp, frame index, scale)] of the draws since the last call; the
    frame index is None for an image that is no frame."""
    draws, urls = browser.js(TAKE_DRAWS)
    kinds = []
    for url in urls:
        image = Image.open(io.BytesIO(base64.b64decode(url.split(",", 1)[1]))).convert("RGB")
        scale = image.width // FRAME_W
        frames = frames_at(scale) if image.size == (FRAME_W * scale, FRAME_H * scale) else []
        match = [i for i, f in enumerate(frames) if ImageChops.difference(image, f).getbbox() is None]
        kinds.append((match[0] if match else None, scale))
    return [(stamp, *kinds[number]) for stamp, number in draws]


def keeps_pace(draws, period_ms):
    """True when every frame drawn is the one the back-and-forth order reaches
    after the ticks due since the first draw: floor(elapsed / period), or one
    more, as the ticks are counted from an earlier animation frame."""
    first_time, first_frame, _ = draws[0]
    for start in (p for p, f in enumerate(BACK_AND_FORTH) if f == first_frame):
        def fits(stamp, frame):
            ticks = math.floor((stamp - first_time + 0.01) / period_ms)
            return frame in (BACK_AND_FORTH[(start + ticks) % 18], BACK_AND_FORTH[(start + ticks + 1) % 18])
        if all(fits(stamp, frame) for stamp, frame, _ in draws[1:]):
            return True
    return False


def record(browser, query, seconds):
    browser.open(query)
    page_ready(browser)
    take_draws(browser)
    time.sleep(seconds)
    return take_draws(browser)


class Build(unittest.TestCase):
    def test_two_builds_give_the_same_bytes(self):
        """The page built again into another folder, from the same settings."""
        with tempfile.TemporaryDirectory() as folder:
            again = os.path.join(folder, "elsewhere", "zembloid.html")
            subprocess.run(["/usr/bin/python3", os.path.join(SOURCE_DIR, "web", "build_page.py"),
                            os.path.join(NATIVE_DIR, "web", "page.json"), again], check=True)
            with open(PAGE, "rb") as built, open(again, "rb") as rebuilt:
                self.assertEqual(built.read(), rebuilt.read())


class Picture(unittest.TestCase):
    # name, pixel ratio, viewport in CSS pixels, scale k. The rows run one after
    # another on one page, so each later row is also a layout after a resize
    # or a change of the pixel ratio.
    CASES = [
        ("ratio 1, odd margins", 1, (801, 601), 1),
        ("ratio 1.25: 120 dpi gives 1", 1.25, (880, 660), 1),
        ("ratio 1.5: 144 dpi gives 2", 1.5, (880, 660), 2),
        ("ratio 1.5 after a resize: re-centred", 1.5, (1000, 700), 2),
        ("ratio 2", 2, (880, 660), 2),
        ("ratio 3", 3, (700, 520), 3),
        ("ratio 3 on a low viewport: the fit rule gives 2", 3, (700, 400), 2),
        ("ratio 2 on a small viewport: the fit rule gives 1", 2, (500, 400), 1),
    ]

    def test_frame_centred_on_black_in_device_pixels(self):
        with Browser(RECORDER) as browser:
            browser.viewport(800, 600, 1)
            browser.open("?speed=30")
            self.assertTrue(page_ready(browser, hint_gone=True))
            for name, ratio, (width, height), scale in self.CASES:
                with self.subTest(name):
                    browser.viewport(width, height, ratio)
                    size = (round(width * ratio), round(height * ratio))
                    self.assertTrue(wait_until(lambda: browser.js(
                        "const c = document.getElementById('picture'); return [c.width, c.height]")
                        == list(size), 5))
                    shots = []

                    def matches():
                        shots.append(browser.screenshot())
                        return shots[-1].size == size and shows_frame(shots[-1], scale)
                    self.assertTrue(wait_until(matches, 5, interval=0.2),
                                    "last screenshot %s, want %s at %dx" % (shots[-1].size, size, scale))


class Pace(unittest.TestCase):
    # query, time between frames (ms), seconds recorded
    CASES = [("?speed=15", 150, 4.0), ("?speed=1", 10, 2.0)]

    def test_back_and_forth_at_the_set_pace(self):
        with Browser(RECORDER) as browser:
            browser.viewport(800, 600, 1)
            for query, period, seconds in self.CASES:
                with self.subTest(query):
                    draws = record(browser, query, seconds)
                    self.assertGreater(len(draws), seconds * 1000 / max(period, 50) / 2)
                    self.assertNotIn(None, [frame for _, frame, _ in draws])
                    self.assertTrue(keeps_pace(draws, period), [d[:2] for d in draws])
                    if period > 50:   # slower than the animation frames: every frame shows
                        self.assertEqual({frame for _, frame, _ in draws}, set(range(10)))


    def test_a_hidden_page_draws_nothing(self):
        """Another tab in front for 3 s: no tick comes while the page is hidden
        (timers in a hidden page would still run once a second)."""
        with Browser(RECORDER) as browser:
            browser.open("?speed=1")
            self.assertTrue(page_ready(browser))
            page = browser.driver.current_window_handle
            away = browser.js("return performance.now()")
            browser.driver.switch_to.new_window("tab")
            time.sleep(3)
            browser.driver.switch_to.window(page)
            back = browser.js("return performance.now()")
            time.sleep(0.5)
            stamps = [s for s in browser.js("return zembloidTest.draws.map(d => d[0])") if s > away]
            self.assertGreater(max(b - a for a, b in zip(stamps, stamps[1:])), 2500)
            self.assertGreater(len([s for s in stamps if s > back]), 2)   # it plays on once shown


def full_screen(browser):
    return browser.js("return document.fullscreenElement != null")


class Fullscreen(unittest.TestCase):
    # name, how full screen is entered, the input given in full screen
    # (pointer positions are relative to where the entering click was), and
    # whether the page is still full screen after it
    CASES = [
        ("a click enters", "click", [], True),
        ("a key enters", "key", [], True),
        ("4 px of travel keeps it", "click", [("move", 1, 0), ("move", 3, 2)], True),
        ("5 px of travel leaves", "click", [("move", 1, 0), ("move", 4, 2)], False),
        ("travel back and forth within 4 px keeps it", "click",
         [("move", 0, 1), ("move", 4, 1), ("move", 0, 1), ("move", -4, 1)], True),
        ("a key leaves", "click", [("key", "a")], False),
        ("a button leaves, and its click does not enter again", "click", [("click",)], False),
        ("Escape leaves", "key", [("key", Keys.ESCAPE)], False),
    ]
    CENTRE = (400, 300)

    def act(self, browser, step):
        actions = ActionChains(browser.driver)
        pointer = actions.w3c_actions.pointer_action
        if step[0] == "move":
            pointer.move_to_location(self.CENTRE[0] + step[1], self.CENTRE[1] + step[2])
        elif step[0] == "click":
            pointer.move_to_location(*self.CENTRE)
            pointer.click()
        else:
            actions.send_keys(step[1])
        actions.perform()

    def test_enters_on_input_and_ends_as_the_savers_end(self):
        with Browser(RECORDER) as browser:
            for name, entry, steps, stays in self.CASES:
                with self.subTest(name):
                    browser.open()
                    self.assertTrue(page_ready(browser))
                    self.assertFalse(full_screen(browser))
                    self.act(browser, ("click",) if entry == "click" else ("key", "z"))
                    self.assertTrue(wait_until(lambda: full_screen(browser), 5))
                    self.assertTrue(hint_hidden(browser))
                    time.sleep(0.3)
                    for step in steps:
                        self.act(browser, step)
                        time.sleep(0.2)
                    if entry == "key" or ("key", "a") in steps:   # and nothing cancelled those keys
                        self.assertEqual(set(browser.js("return zembloidTest.prevented")), {False})
                    if stays:
                        self.assertFalse(wait_until(lambda: not full_screen(browser), 1.5))
                        continue
                    self.assertTrue(wait_until(lambda: not full_screen(browser), 5))
                    self.assertFalse(wait_until(lambda: full_screen(browser), 1))   # nor comes back
                    # It plays on in its window, laid out for the window again.
                    take_draws(browser)
                    self.assertTrue(wait_until(lambda: browser.js(
                        "const c = document.getElementById('picture');"
                        "return c.width == Math.round(innerWidth * devicePixelRatio)"
                        " && zembloidTest.draws.length > 2"), 5))

    def test_a_modifier_or_a_shortcut_does_not_enter(self):
        with Browser(RECORDER) as browser:
            browser.open()
            self.assertTrue(page_ready(browser))
            for keys in ([Keys.ALT], [Keys.SHIFT], [Keys.CONTROL, "l"]):
                with self.subTest(keys=keys):
                    ActionChains(browser.driver).key_down(keys[0]).send_keys(*keys[1:]).key_up(keys[0]).perform()
                    self.assertFalse(wait_until(lambda: full_screen(browser), 1))

    def test_document_is_japanese_with_a_hint_before_full_screen(self):
        with Browser(RECORDER) as browser:
            browser.open()
            self.assertEqual(browser.js("return [document.documentElement.lang, document.title]"),
                             ["ja", "ZEMBLOID"])
            hint = browser.js("const h = document.getElementById('hint');"
                              "return getComputedStyle(h).display != 'none' && h.textContent")
            self.assertRegex(hint, "全画面")
            self.assertTrue(wait_until(lambda: hint_hidden(browser), 10))
            ActionChains(browser.driver).move_by_offset(10, 10).perform()
            self.assertFalse(hint_hidden(browser))   # back while the pointer moves


class Quiet(unittest.TestCase):
    def session(self, url):
        """Opens the page at `url`, enters and leaves full screen, and returns
        the wake locks asked for, the media elements and the console's errors."""
        with Browser(RECORDER) as browser:
            browser.open(url=url)
            self.assertTrue(page_ready(browser))
            for keys in ("z", "a"):
                ActionChains(browser.driver).send_keys(keys).perform()
                time.sleep(0.5)
            time.sleep(1)
            found = browser.js("return [zembloidTest.wakeLocks, document.querySelectorAll('video, audio').length,"
                               " performance.getEntriesByType('resource').map(e => e.name)]")
            errors = [entry for entry in browser.driver.get_log("browser") if entry["level"] != "INFO"]
            return found, errors

    def test_no_request_no_wake_lock_no_console_error(self):
        requests = []

        class Server(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=os.path.dirname(PAGE), **kwargs)

            def log_message(self, *args):
                requests.append(self.path)

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Server)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            # name, address
            for name, url in [("from disk", PAGE_URL),
                              ("over http", "http://127.0.0.1:%d/zembloid.html" % server.server_port)]:
                with self.subTest(name):
                    (wake_locks, media, resources), errors = self.session(url)
                    self.assertEqual((wake_locks, media, resources, errors), (0, 0, [], []))
        finally:
            server.shutdown()
            server.server_close()
        self.assertEqual(requests, ["/zembloid.html"])


class Query(unittest.TestCase):
    # query, time between frames (ms), scale on a 2000 x 1500 viewport at ratio 1
    CASES = [
        ("", 150, 1),
        ("?speed=30", 300, 1),
        ("?speed=2", 20, 1),
        ("?speed=0", 150, 1),
        ("?speed=31", 150, 1),
        ("?speed=-5", 150, 1),
        ("?speed=fast", 150, 1),
        ("?speed=4.5", 150, 1),
        ("?speed=", 150, 1),
        ("?speed=4294967297", 150, 1),   # 2^32 + 1: no wrapping to 1
        ("?scale=3", 150, 3),
        ("?scale=9", 150, 1),
        ("?scale=0", 150, 1),
        ("?scale=two", 150, 1),
        ("?speed=30&scale=2", 300, 2),
    ]

    def test_values_and_their_defaults(self):
        with Browser(RECORDER) as browser:
            browser.viewport(2000, 1500, 1)
            for query, period, scale in self.CASES:
                with self.subTest(query):
                    draws = record(browser, query, 1.5)
                    self.assertGreaterEqual(len(draws), 3)
                    self.assertEqual({s for _, _, s in draws}, {scale})
                    self.assertTrue(keeps_pace(draws, period), [d[:2] for d in draws])


if __name__ == "__main__":
    unittest.main(verbosity=2)
