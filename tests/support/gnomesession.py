"""A private headless GNOME for the Linux program's GNOME tests and its bench:
mutter 43 with virtual monitors (Meta-0, Meta-1, ...) on wayland-0,
gnome-session with an empty session, gsd-screensaver-proxy owning
org.freedesktop.ScreenSaver, and PipeWire with WirePlumber for mutter's
screen casts. Input comes from mutter's RemoteDesktop interface and pictures
from its ScreenCast interface, both through mutter_remote.py, which lives in
the session for as long as it runs.

mutter holds its IdleMonitor watches back while gnome-session has an idle
inhibitor, and gsd-screensaver-proxy passes org.freedesktop.ScreenSaver
inhibitors on to gnome-session. gnome-session without systemd needs some
system bus: a second private bus stands in for it. Nothing is autostarted
(no power or other settings daemons), so nothing else blanks the monitors."""

import os
import shutil
import subprocess

from PIL import Image

from desktopsession import SUPPORT_DIR, DesktopSession
from winesession import wait_until

SESSION_NAME = "zembloid-idle-tests"
MUTTER_NAMES = ("org.gnome.Mutter.IdleMonitor", "org.gnome.Mutter.RemoteDesktop",
                "org.gnome.Mutter.ScreenCast")


class GnomeSession(DesktopSession):
    def __init__(self, workdir=None, monitors=((1024, 768),), programs=()):
        super().__init__(workdir, "zembloid-gnome-",
                         [os.path.join(SUPPORT_DIR, "mutter_remote.py"), *programs])
        try:
            self.start(monitors)
        except BaseException:
            self.close()
            raise

    def start(self, monitors):
        sessions = os.path.join(self.dir, "share", "gnome-session", "sessions")
        autostart = os.path.join(self.dir, "autostart")
        self.make_dirs(sessions, autostart)
        with open(os.path.join(sessions, SESSION_NAME + ".session"), "w") as f:
            f.write("[GNOME Session]\nName=%s\nRequiredComponents=\n" % SESSION_NAME)
        system_bus = "unix:path=" + os.path.join(self.dir, "system-bus")
        self.run(["dbus-daemon", "--session", "--nofork", "--address=" + system_bus])
        self.env.update({"DBUS_SYSTEM_BUS_ADDRESS": system_bus, "WAYLAND_DISPLAY": "wayland-0"})
        self.daemon("mutter", ["mutter", "--headless", "--wayland", "--no-x11"] +
                    ["--virtual-monitor=%dx%d" % size for size in monitors])
        if not self.wait_for("wayland-0"):
            raise RuntimeError("mutter did not start:\n" + self.log_tail("mutter.log"))
        self.daemon("gnome-session", ["gnome-session", "--builtin", "--session=" + SESSION_NAME,
                                      "--disable-acceleration-check", "--autostart=" + autostart],
                    env={"XDG_DATA_DIRS": os.path.join(self.dir, "share") + ":/usr/share"})
        # WirePlumber, which links the casts to their readers, ends at once
        # when PipeWire's socket is not there yet.
        self.daemon("pipewire", ["pipewire"])
        if not self.wait_for("pipewire-0"):
            raise RuntimeError("pipewire did not start:\n" + self.log_tail("pipewire.log"))
        self.wireplumber = self.daemon("wireplumber", ["wireplumber"])
        for name in MUTTER_NAMES:   # mutter takes them after its socket is up
            self.wait_for_name(name, "mutter")
        self.remote = self.run(["python3", self.path("mutter_remote.py")], stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, text=True)
        if self.remote.stdout.readline() != "ready\n":
            raise RuntimeError("no RemoteDesktop session:\n" + self.log_tail("mutter.log"))
        self.wait_for_name("org.gnome.SessionManager", "gnome-session")
        self.daemon("gsd-screensaver-proxy", ["/usr/libexec/gsd-screensaver-proxy"])
        self.wait_for_name("org.freedesktop.ScreenSaver", "gsd-screensaver-proxy")

    def wait_for_name(self, bus_name, daemon):
        if not wait_until(lambda: self.owner(bus_name), 30):
            raise RuntimeError("%s does not own %s:\n%s" %
                               (daemon, bus_name, self.log_tail(daemon + ".log")))

    def make_dirs(self, *paths):
        """Folders in the runtime folder, nobody's when the session runs as root."""
        for path in paths:
            os.makedirs(path)
            while self.as_nobody and path != self.dir:
                shutil.chown(path, "nobody", "nogroup")
                path = os.path.dirname(path)

    def daemon(self, name, argv, env=None):
        """A session daemon whose output goes to NAME.log in the runtime folder."""
        with self.log(name + ".log") as log:
            return self.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)

    def ask(self, line):
        """One line to mutter_remote.py; its answer."""
        self.remote.stdin.write(line + "\n")
        self.remote.stdin.flush()
        answer = self.remote.stdout.readline().strip()
        if not answer:
            raise RuntimeError("mutter_remote.py stopped on " + line)
        return answer

    def send(self, line):
        if self.ask(line) != "ok":
            raise RuntimeError("RemoteDesktop input failed on " + line)

    def screenshot(self, path=None, monitor="Meta-0"):
        """One monitor's picture as an RGB image, also saved at `path` when
        given; None when the screen cast gives none."""
        shot = os.path.join(self.dir, "shot-%s.png" % monitor)
        if self.wireplumber.poll() is not None:
            raise RuntimeError("wireplumber ended:\n" + self.log_tail("wireplumber.log"))
        if self.ask("shot %s %s" % (monitor, shot)) != "ok":
            return None
        if path:
            shutil.copy(shot, path)
        with Image.open(shot) as picture:
            return picture.convert("RGB")

    def idle_delay(self, seconds):
        """GNOME's own idle delay (org.gnome.desktop.session idle-delay)."""
        subprocess.run(self.command(["gsettings", "set", "org.gnome.desktop.session", "idle-delay",
                                     str(seconds)]), check=True, timeout=20,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
