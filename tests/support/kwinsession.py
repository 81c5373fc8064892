"""A private headless KWin (kwin_wayland --virtual) for the Linux program's
KDE tests and its bench, with input through KWin's fake-input protocol.

KWin offers ext_idle_notifier_v1, org_kde_kwin_idle and
zwp_idle_inhibit_manager_v1 there. It takes no screenshots without /dev/dri.
/usr/bin/kwin_wayland carries the file capability cap_sys_resource, which a
container may refuse; the session runs a copy without it, which must keep the
name kwin_wayland."""

import subprocess

from desktopsession import DesktopSession, helper_path

KWIN = "/usr/bin/kwin_wayland"


class KwinSession(DesktopSession):
    """kwin_wayland --virtual with one output of width × height (at `scale`,
    when given) on wayland-0, under its own session bus."""

    def __init__(self, workdir=None, width=1024, height=768, scale=None, programs=()):
        super().__init__(workdir, "zembloid-kwin-", [KWIN, helper_path("fake_input"),
                                                     helper_path("idle_inhibitor"), *programs])
        self.env["WAYLAND_DISPLAY"] = "wayland-0"
        argv = [self.path("kwin_wayland"), "--virtual", "--socket", "wayland-0",
                "--width", str(width), "--height", str(height),
                "--no-lockscreen", "--no-global-shortcuts", "--no-kactivities"]
        if scale:
            argv += ["--scale", str(scale)]
        try:
            with self.log("kwin.log") as log:
                self.kwin = self.run(argv, env={"KWIN_COMPOSE": "Q",
                                                "KWIN_WAYLAND_NO_PERMISSION_CHECKS": "1"},
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=log)
            if not self.wait_for("wayland-0") or self.kwin.poll() is not None:
                raise RuntimeError("kwin_wayland did not start:\n" + self.log_tail("kwin.log"))
            self.input = self.run([self.path("fake_input")], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
            if self.input.stdout.readline() != "ready\n":
                raise RuntimeError("no fake input in KWin:\n" + self.log_tail("kwin.log"))
        except BaseException:
            self.close()
            raise

    def send(self, line):
        """One line to the fake-input helper, once KWin has taken its requests."""
        self.input.stdin.write(line + "\n")
        self.input.stdin.flush()
        if self.input.stdout.readline() != "ok\n":
            raise RuntimeError("fake input failed on " + line)
