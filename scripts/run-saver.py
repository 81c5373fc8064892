"""Starts zembloid.scr in saver mode under Wine, as `make run` does.

With a display in $DISPLAY the saver runs there until a key or the mouse ends
it. Without one it runs on a virtual display; a screenshot of it and an
animated GIF of one full back-and-forth cycle (frames 0 to 9 and back to 1,
captured from the screen and played at the default 150 ms per frame) are
saved under the build folder, and a small copy of the animation (the frame
alone, every other pixel of every other row, so that it stays a two-colour
stereogram) goes to docs/zembloid.gif.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import winesession  # noqa: E402

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FRAME_DIR = os.path.join(winesession.BUILD_DIR, "native", "frames")
FRAME_COUNT = 10
FRAME_SIZE = (640, 480)
CYCLE = list(range(FRAME_COUNT)) + list(range(FRAME_COUNT - 2, 0, -1))
DEFAULT_PERIOD_MS = 150
# Captured at 500 ms per frame so that every frame is on screen long enough
# for several screenshots.
CAPTURE_SPEED = 50
SMALL_SIZE = (FRAME_SIZE[0] // 2, FRAME_SIZE[1] // 2)


def capture_cycle(session, timeout=60):
    """Screenshots of the saver, one per frame 0..9, identified against the
    frame files; None when not every frame was seen in time."""
    from PIL import Image, ImageChops
    frames = [Image.open(os.path.join(FRAME_DIR, "frame%d.bmp" % (106 + i))).convert("RGB")
              for i in range(FRAME_COUNT)]
    width, height = session.screen
    box = ((width - FRAME_SIZE[0]) // 2, (height - FRAME_SIZE[1]) // 2)
    box = box + (box[0] + FRAME_SIZE[0], box[1] + FRAME_SIZE[1])
    captured = [None] * FRAME_COUNT
    deadline = time.monotonic() + timeout
    while None in captured and time.monotonic() < deadline:
        shot = session.screenshot()
        area = shot.crop(box)
        for index, frame in enumerate(frames):
            if captured[index] is None and ImageChops.difference(area, frame).getbbox() is None:
                captured[index] = shot
        time.sleep(0.1)
    return None if None in captured else captured


def save_gif(images, path):
    images = [image.convert("L").convert("P") for image in images]
    images[0].save(path, save_all=True, append_images=images[1:],
                   duration=DEFAULT_PERIOD_MS, loop=0, optimize=False)


def record(session):
    shots = capture_cycle(session)
    if shots is None:
        print("The saver did not show all ten frames; no animation written.")
        return
    cycle = [shots[i].convert("L") for i in CYCLE]
    path = os.path.join(winesession.BUILD_DIR, "zembloid.gif")
    save_gif(cycle, path)
    print("Animation of one cycle: " + path)
    from PIL import Image
    width, height = session.screen
    left, top = (width - FRAME_SIZE[0]) // 2, (height - FRAME_SIZE[1]) // 2
    small = [shots[i].crop((left, top, left + FRAME_SIZE[0], top + FRAME_SIZE[1]))
             .resize(SMALL_SIZE, Image.NEAREST) for i in CYCLE]
    docs = os.path.join(SOURCE_DIR, "docs")
    os.makedirs(docs, exist_ok=True)
    save_gif(small, os.path.join(docs, "zembloid.gif"))
    print("Small copy for the README: " + os.path.join(docs, "zembloid.gif"))


def main():
    print("Running " + winesession.BUILD_UNDER_TEST)
    display = os.environ.get("DISPLAY")
    if display:
        with winesession.WineSession("run", display=display) as session:
            saver = session.start(winesession.SCR, "/s", stdout=None)
            saver.wait()
        return 0
    with winesession.WineSession("run") as session:
        with open(os.path.join(session.windows_dir(), "control.ini"), "w", newline="\r\n") as f:
            f.write("[ZEMBLOID]\nRedraw Speed=%d\n" % CAPTURE_SPEED)
        session.start(winesession.SCR, "/s")
        session.wait_for_window("Screen Saver", timeout=30)
        time.sleep(3)
        path = os.path.join(winesession.BUILD_DIR, "screenshot.png")
        session.screenshot().save(path)
        print("No display: the saver ran on a virtual display. Screenshot: " + path)
        record(session)
    return 0


if __name__ == "__main__":
    sys.exit(main())
