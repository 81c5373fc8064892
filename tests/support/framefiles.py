"""The generated frame files as the screenshot tests compare them: the ten
frames as RGB images, enlarged at any scale, and where a centred frame starts."""

import os

from PIL import Image, ImageChops

FRAME_DIR = os.path.join(os.environ["ZEMBLOID_NATIVE_DIR"], "frames")
FRAMES = [Image.open(os.path.join(FRAME_DIR, "frame%d.bmp" % (106 + i))).convert("RGB")
          for i in range(10)]
FRAME_W, FRAME_H = FRAMES[0].size
BACK_AND_FORTH = list(range(10)) + list(range(8, 0, -1))
SCALED = {1: FRAMES}


def frames_at(scale):
    """The frames enlarged `scale` times, each pixel a square."""
    if scale not in SCALED:
        SCALED[scale] = [f.resize((FRAME_W * scale, FRAME_H * scale), Image.NEAREST) for f in FRAMES]
    return SCALED[scale]


def origin(size, frame):
    return int((size - frame) / 2)   # truncated toward zero, as in C


def shows_frame_on_outputs(sway, scales):
    """True when each output (name: the frame's enlargement there) is black with
    a frame centred on it at that enlargement, pixel for pixel. The outputs'
    screenshots are taken one after the other, so a tick may fall between
    them: each may show a frame of its own."""
    for name, k in scales.items():
        shot = sway.screenshot(name)
        if shot is None:
            return False
        for big in frames_at(k):
            expected = Image.new("RGB", shot.size)
            expected.paste(big, (origin(shot.width, big.width), origin(shot.height, big.height)))
            if ImageChops.difference(shot, expected).getbbox() is None:
                break
        else:
            return False
    return True
