"""A private headless sway, with a session bus of its own, for the Linux
program's Wayland tests and its bench.

sway will not run as root, so as root it and every client of it (the program
under test, grim, wtype, swaymsg, swayidle, the virtual pointer) run as nobody,
from a runtime folder of nobody's own that also holds their copies of the
programs."""

import json
import os
import pwd
import shutil
import subprocess
import tempfile
import time

from PIL import Image

from desktopsession import Closing, end_processes, start_bus
from winesession import wait_until


class Sway(Closing):
    """Headless sway with output HEADLESS-1 at `size`; `config` adds lines to
    its configuration. `programs` are copied into the runtime folder, where
    nobody can run them; path(name) gives a copy's path."""

    def __init__(self, programs, size=(1024, 768), config=""):
        self.dir = tempfile.mkdtemp(prefix="zembloid-sway-")
        os.chmod(self.dir, 0o700)
        self.copies = {}
        for program in programs:
            self.copies[os.path.basename(program)] = shutil.copy(program, self.dir)
        with open(os.path.join(self.dir, "config"), "w") as f:
            f.write("output HEADLESS-1 resolution %dx%d position 0 0\n"
                    "default_border none\nfocus_follows_mouse no\n%s\n" % (*size, config))
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            for name in os.listdir(self.dir) + ["."]:
                os.chown(os.path.join(self.dir, name), nobody.pw_uid, nobody.pw_gid)
        self.base = ["HOME=" + self.dir, "XDG_RUNTIME_DIR=" + self.dir, "PATH=/usr/bin:/bin"]
        self.processes = []
        self.client_env = []
        # A session bus of its own, on which nobody owns org.freedesktop.ScreenSaver.
        bus = "unix:path=" + os.path.join(self.dir, "bus")
        self.base.append("DBUS_SESSION_BUS_ADDRESS=" + bus)
        try:
            start_bus(self.spawn, bus, subprocess.DEVNULL)
        except RuntimeError:
            self.close()
            raise
        self.sway = self.spawn(["sway", "-D", "noscanout", "-c", os.path.join(self.dir, "config")],
                               env=["WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                                    "WLR_LIBINPUT_NO_DEVICES=1"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        found = wait_until(lambda: [n for n in os.listdir(self.dir) if n.startswith("sway-ipc.")], 20)
        if not found or not os.path.exists(os.path.join(self.dir, "wayland-1")):
            self.close()
            raise RuntimeError("sway did not start")
        self.client_env = ["WAYLAND_DISPLAY=wayland-1", "SWAYSOCK=" + os.path.join(self.dir, found[0])]
        self.msg("nop")

    def command(self, argv, env=()):
        """argv as nobody (as root) with this sway's client environment and `env`."""
        user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        return (user if os.geteuid() == 0 else []) + \
            ["env", "-i", *self.base, *self.client_env, *env, *argv]

    def spawn(self, argv, env=(), **popen_args):
        process = subprocess.Popen(self.command(argv, env), **popen_args)
        self.processes.append(process)
        return process

    def path(self, name):
        return self.copies[name]

    def start(self, *args, env=(), prefix=()):
        """The program under test, its stderr kept for reading."""
        return self.spawn([*prefix, self.path("zembloid"), *args], env=env,
                          stderr=subprocess.PIPE, text=True)

    def msg(self, *args):
        subprocess.run(self.command(["swaymsg", *args]), check=True, timeout=10,
                       stdout=subprocess.DEVNULL)

    def views(self, app_id):
        """How many windows with `app_id` sway has, on any output or none."""
        run = subprocess.run(self.command(["swaymsg", "-t", "get_tree", "-r"]), check=True, timeout=10,
                             stdout=subprocess.PIPE, text=True)

        def count(node):
            return (node.get("app_id") == app_id) + sum(
                count(child) for child in node.get("nodes", []) + node.get("floating_nodes", []))
        return count(json.loads(run.stdout))

    def add_output(self, name, mode):
        """A second headless output; `mode` is swaymsg's output arguments."""
        self.msg("create_output")
        self.msg("output", name, *mode.split())

    def active_outputs(self):
        run = subprocess.run(self.command(["swaymsg", "-t", "get_outputs", "-r"]), check=True, timeout=10,
                             stdout=subprocess.PIPE, text=True)
        return [output["name"] for output in json.loads(run.stdout) if output["active"]]

    def disable_output(self, name):
        """Disables an output, asking again while sway keeps it (sway 1.7
        sometimes answers success and leaves the output on); True once it is off."""
        def disabled():
            self.msg("output", name, "disable")
            return name not in self.active_outputs()
        return wait_until(disabled, 10, interval=0.5)

    def screenshot(self, output="HEADLESS-1"):
        """One output at its physical size, or None when grim fails."""
        path = os.path.join(self.dir, "shot-%s.png" % output)
        run = subprocess.run(self.command(["grim", "-o", output, path]), timeout=20,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if run.returncode != 0:
            return None
        with Image.open(path) as shot:
            return shot.convert("RGB")

    def type_key(self):
        subprocess.run(self.command(["wtype", "-s", "500", "a"]), timeout=10, check=True)

    def hold_key(self):
        """Presses a key (after half a second, as type_key does, so that the
        compositor has taken the new keyboard) and holds it for 4 s more;
        returns about when it is pressed."""
        self.spawn(["wtype", "-s", "500", "-P", "a", "-s", "4000"])
        time.sleep(0.6)

    def pointer(self):
        """The virtual pointer helper, once its pointer exists."""
        helper = self.spawn([self.path("virtual_pointer")], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True)
        if helper.stdout.readline() != "ready\n":
            raise RuntimeError("no virtual pointer")
        return Pointer(helper)

    def close(self):
        end_processes(self.processes)
        shutil.rmtree(self.dir, ignore_errors=True)


class Pointer:
    def __init__(self, helper):
        self.helper = helper

    def send(self, line):
        self.helper.stdin.write(line + "\n")
        self.helper.stdin.flush()
        if self.helper.stdout.readline() != "ok\n":
            raise RuntimeError("the virtual pointer stopped")

    def move(self, dx, dy):
        self.send("move %d %d" % (dx, dy))

    def click(self):
        self.send("button")
