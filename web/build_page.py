"""Builds the browser page: the ten frames and the platform-free core compiled
with clang and lld for wasm32-wasi into one module, written into the page as
base64 with the script, so that the page is one file that fetches nothing
(a page opened from disk may not fetch a file beside it). The same inputs
give the same bytes: nothing of the build's folders or time goes in.

Command line: build_page.py SETTINGS.json OUT.html
SETTINGS.json (written by web/CMakeLists.txt): the compiler, the source
root, the C++ sources and the folder of the frame files."""

import base64
import json
import os
import subprocess
import sys
import tempfile

WEB_DIR = os.path.dirname(os.path.abspath(__file__))
FRAME_IDS = range(106, 116)
BMP_FILE_HEADER_SIZE = 14
# A reactor module: no main, exports called after _initialize; nothing of
# stdio, so the module imports nothing.
FLAGS = ["--target=wasm32-wasi", "--sysroot=/usr", "-mexec-model=reactor", "-std=c++17", "-O2",
         "-fno-exceptions", "-fno-rtti", "-Wall", "-Wextra", "-Wl,--no-entry", "-Wl,--strip-all"]


def frame_source(frame_dir):
    """The frames as C++ arrays of their packed DIBs (the file header dropped)."""
    lines = []
    for frame_id in FRAME_IDS:
        with open(os.path.join(frame_dir, "frame%d.bmp" % frame_id), "rb") as f:
            data = f.read()
        if data[:2] != b"BM":
            sys.exit("build_page.py: frame%d.bmp is not a bitmap file" % frame_id)
        dib = data[BMP_FILE_HEADER_SIZE:]
        lines.append("alignas(4) static const unsigned char frame%d[] = {" % frame_id)
        lines += [",".join(str(b) for b in dib[i:i + 40]) + "," for i in range(0, len(dib), 40)]
        lines.append("};")
    lines.append('extern "C" const unsigned char *const ZEMBLOID_FRAME_DIBS[%d] = {%s};'
                 % (len(FRAME_IDS), ", ".join("frame%d" % i for i in FRAME_IDS)))
    return "\n".join(lines) + "\n"


def main():
    settings_file, out = sys.argv[1:]
    with open(settings_file) as f:
        settings = json.load(f)
    with tempfile.TemporaryDirectory() as work:
        frames = os.path.join(work, "Frames_web.cpp")
        with open(frames, "w") as f:
            f.write(frame_source(settings["frames"]))
        module = os.path.join(work, "zembloid.wasm")
        subprocess.run([settings["cc"], *FLAGS, "-I", settings["root"], "-o", module,
                        *settings["sources"], frames], check=True)
        with open(module, "rb") as f:
            wasm = base64.b64encode(f.read()).decode()
    with open(os.path.join(WEB_DIR, "zembloid.js"), encoding="utf-8") as f:
        script = f.read().replace("@WASM_BASE64@", wasm)
    with open(os.path.join(WEB_DIR, "zembloid.html"), encoding="utf-8") as f:
        page = f.read().replace("@SCRIPT@", script)
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    with open(out + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write(page)
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main()
