"""Starts zembloid.scr in saver mode under Wine, as `make run` does.

With a display in $DISPLAY the saver runs there until a key or the mouse ends
it. Without one it runs for a few seconds on a virtual display, and a
screenshot of it is saved under the build folder.
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import winesession  # noqa: E402


def main():
    display = os.environ.get("DISPLAY")
    if display:
        with winesession.WineSession("run", display=display) as session:
            saver = session.start(winesession.SCR, "/s", stdout=None)
            saver.wait()
        return 0
    with winesession.WineSession("run") as session:
        session.start(winesession.SCR, "/s")
        session.wait_for_window("Screen Saver", timeout=30)
        time.sleep(3)
        path = os.path.join(winesession.BUILD_DIR, "screenshot.png")
        session.screenshot().save(path)
        print("No display: the saver ran on a virtual display. Screenshot: " + path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
