"""The Windows 9x password lock and password change, met as a user would meet
them: the real zembloid.scr under Wine with Windows 98 reported to it, in a
folder together with test doubles of the system's "PASSWORD.CPL" and "MPR.DLL".
The doubles log what they are asked (see tests/password); the verifier's
answers come from a file the test writes."""

import os
import re
import shutil
import subprocess
import time
import unittest

from PIL import ImageChops

import winesession
from winesession import WineSession, parse_exit_code, wait_until, windows_path

DOUBLES = os.path.join(winesession.WIN32_DIR, "password")
SAVER_FLAG = os.path.join(DOUBLES, "saverflag.exe")
DESKTOP = "HKCU\\Control Panel\\Desktop"
VALUE = "ScreenSaveUsePassword"
TITLE = "Screen Saver"


class PasswordSession:
    """One Wine session with the saver copied into a folder of its prefix."""

    def __init__(self, name, verifier="verifier", emulate=True):
        self.session = WineSession(name)
        self.verifier = verifier
        self.emulate = emulate

    def __enter__(self):
        s = self.session.__enter__()
        try:
            self.folder = os.path.join(s.prefix, "drive_c", "zembloid")
            os.makedirs(self.folder)
            shutil.copy(winesession.SCR, self.folder)
            if self.verifier:
                shutil.copy(os.path.join(DOUBLES, self.verifier, "PASSWORD.CPL"), self.folder)
            shutil.copy(os.path.join(DOUBLES, "mpr", "MPR.DLL"), self.folder)
            self.verifier_log = os.path.join(self.folder, "verifier.log")
            self.mpr_log = os.path.join(self.folder, "mpr.log")
            self.answer_file = os.path.join(self.folder, "answer.txt")
            self.answer(False)
            s.env.update({
                "ZEMBLOID_PWD_LOG": windows_path(self.verifier_log),
                "ZEMBLOID_PWD_ANSWER_FILE": windows_path(self.answer_file),
                "ZEMBLOID_MPR_LOG": windows_path(self.mpr_log),
                # Wine has its own MPR.DLL; the double beside the saver must win.
                "WINEDLLOVERRIDES": s.env["WINEDLLOVERRIDES"] + ";mpr=n,b",
            })
            # No window manager runs on the test display: unmanaged windows go
            # at once instead of after waiting two seconds for one to answer.
            s.reg_add("HKCU\\Software\\Wine\\X11 Driver", "Managed", "N")
            if self.emulate:
                s.emulate_win98("zembloid.scr")
        except BaseException:
            self.session.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        return self.session.__exit__(*exc)

    # Set-up ---------------------------------------------------------------

    def command(self, tail):
        return '"%s" %s' % (windows_path(os.path.join(self.folder, "zembloid.scr")), tail)

    def answer(self, accept):
        with open(self.answer_file, "w") as f:
            f.write("1" if accept else "0")

    def store_setting(self, kind, data):
        self.session.reg_add(DESKTOP, VALUE, data, kind)

    def remove_setting(self):
        self.session.wine("reg", "delete", DESKTOP, "/v", VALUE, "/f")

    def saver_flag(self, set_to=None):
        args = [SAVER_FLAG] + ([str(set_to)] if set_to is not None else [])
        out = self.session.wine(*args).stdout
        match = re.search(r"running=(\d)", out)
        if not match:
            raise AssertionError("flag probe printed %r" % out)
        return int(match.group(1))

    def clear_logs(self):
        for path in (self.verifier_log, self.mpr_log):
            if os.path.exists(path):
                os.remove(path)

    # Logs -----------------------------------------------------------------

    @staticmethod
    def _lines(path):
        if not os.path.exists(path):
            return []
        with open(path, errors="replace") as f:
            return [line.strip() for line in f if line.strip()]

    def verifier_lines(self):
        return self._lines(self.verifier_log)

    def mpr_lines(self):
        return self._lines(self.mpr_log)

    def verify_calls(self):
        """Parsed "verify" lines: call number, owner, visible, running, start tick."""
        calls = []
        for line in self.verifier_lines():
            m = re.match(r"verify (\d+) owner (\d+) visible (\d) running (\d) start (\d+)", line)
            if m:
                calls.append(dict(zip(("call", "owner", "visible", "running", "start"),
                                      map(int, m.groups()))))
        return calls

    def answers(self):
        """Parsed "answer" lines: call number -> (answer, end tick)."""
        result = {}
        for line in self.verifier_lines():
            m = re.match(r"answer (\d+) (\d) end (\d+)", line)
            if m:
                result[int(m.group(1))] = (int(m.group(2)), int(m.group(3)))
        return result

    def wait_for_calls(self, count, timeout=10):
        return wait_until(lambda: len(self.verify_calls()) >= count, timeout)

    # The saver --------------------------------------------------------------

    def start_saver(self, test):
        """Starts the saver; returns the launcher once its window is up."""
        launcher = self.session.start_launch(self.command("/s"), timeout=120)
        self.launcher = launcher
        window = self.session.wait_for_window(TITLE, timeout=30)
        test.assertIsNotNone(window, "the saver window did not appear")
        # Let the window settle (creation, activation) before any input.
        time.sleep(0.5)
        return launcher

    def animating(self, timeout=5):
        """True once two screenshots differ: the frames are still being played."""
        first = self.session.screenshot()
        return bool(wait_until(
            lambda: ImageChops.difference(first, self.session.screenshot()).getbbox(),
            timeout, interval=0.1))

    def end_saver(self):
        """Ends a saver a failed test left running, so that the next one starts afresh."""
        launcher = getattr(self, "launcher", None)
        if launcher is None or launcher.poll() is not None:
            return
        self.session.wine("taskkill", "/f", "/im", "zembloid.scr")
        wait_until(lambda: launcher.poll() is not None, 20)

    def key(self, name="space"):
        self.session.xdotool("key", name)

    def running(self, launcher):
        return launcher.poll() is None and bool(self.session.find_windows(TITLE))

    def exit_code(self, launcher, timeout=20):
        try:
            out, _ = launcher.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return parse_exit_code(out)


class PasswordEnabled(unittest.TestCase):
    """Windows 98 with the password enabled: every close request asks the verifier."""

    @classmethod
    def setUpClass(cls):
        cls.box = PasswordSession("password-enabled").__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.box.__exit__(None, None, None)

    def setUp(self):
        self.box.clear_logs()
        self.box.answer(False)
        self.box.store_setting("REG_DWORD", 1)
        self.box.session.env.pop("ZEMBLOID_PWD_KEYS_MS", None)
        self.box.session.env.pop("ZEMBLOID_PWD_HOLD_MS", None)

    def tearDown(self):
        self.box.end_saver()

    def finish(self, launcher):
        """Lets the verifier accept, closes the saver with a key and checks the end."""
        box = self.box
        box.answer(True)
        calls_before = len(box.verify_calls())
        time.sleep(0.3)  # past the retry pause after the last verification
        box.key()
        self.assertTrue(box.wait_for_calls(calls_before + 1), box.verifier_lines())
        self.assertEqual(0, box.exit_code(launcher), "an accepted password ends the saver with 0")
        lines = box.verifier_lines()
        self.assertEqual("detach free", lines[-1], "the verifier is released before the exit")
        self.assertEqual(0, box.saver_flag(), "the running flag is cleared after the loop")

    def test_rejection_keeps_the_saver_and_a_quick_retry_is_ignored(self):
        box = self.box
        box.session.env["ZEMBLOID_PWD_KEYS_MS"] = "30,600"
        launcher = box.start_saver(self)
        self.assertEqual(["attach"], box.verifier_lines(), "the verifier is loaded with the window")
        self.assertEqual(1, box.saver_flag(), "the running flag is set while the verifier is loaded")
        box.key()
        self.assertTrue(box.wait_for_calls(2), box.verifier_lines())
        time.sleep(0.5)
        calls = box.verify_calls()
        answers = box.answers()
        keys = [tuple(map(int, m.groups())) for m in
                (re.match(r"key (\d+) after (\d+) cursor (\d+)", line)
                 for line in box.verifier_lines()) if m]
        self.assertEqual(2, len(calls), box.verifier_lines())
        self.assertEqual(2, len(keys), box.verifier_lines())
        first_end = answers[1][1]
        (quick_tick, quick_after, quick_cursor), (late_tick, _, _) = keys
        self.assertLess(quick_after, 200, "the quick key came too late to test the pause")
        self.assertEqual(0, quick_cursor, "the verifier's arrow is hidden again after a rejection")
        self.assertGreaterEqual(calls[1]["start"], late_tick,
                                "the key within 200 ms asked again: %s" % box.verifier_lines())
        self.assertGreaterEqual(calls[1]["start"] - first_end, 200)
        for call in calls:
            self.assertNotEqual(0, call["owner"])
            self.assertEqual(1, call["visible"], "the verifier is owned by the visible saver")
            self.assertEqual(1, call["running"])
        self.assertEqual({1: 0, 2: 0}, {n: a for n, (a, _) in answers.items()})
        self.assertTrue(box.running(launcher), "a rejected password keeps the saver running")
        self.assertTrue(box.animating(), "the animation stopped after a rejection")
        self.finish(launcher)

    def test_input_while_the_verifier_asks_does_nothing(self):
        box = self.box
        box.session.env["ZEMBLOID_PWD_HOLD_MS"] = "1500"
        launcher = box.start_saver(self)
        box.key()
        self.assertTrue(box.wait_for_calls(1), box.verifier_lines())
        self.assertTrue(box.animating(timeout=1.0), "the animation stopped behind the verifier")
        for i in range(5):
            box.session.xdotool("key", "Escape", "mousemove", 100 + 150 * i, 500,
                                "click", "1", "key", "Return")
        self.assertTrue(wait_until(lambda: 1 in box.answers(), 10), box.verifier_lines())
        time.sleep(1.0)
        self.assertEqual(1, len(box.verify_calls()),
                         "input during the verification asked again: %s" % box.verifier_lines())
        self.assertTrue(box.running(launcher))
        self.finish(launcher)

    def test_no_input_closes_the_saver_while_the_verifier_rejects(self):
        box = self.box
        launcher = box.start_saver(self)
        width, height = box.session.screen
        events = 0
        for round_number in range(30):
            x = (round_number * 97) % width
            y = (round_number * 61) % height
            box.session.xdotool(
                "key", "space", "key", "Escape", "key", "alt+F4", "key", "Return",
                "mousemove", x, y, "click", "1", "click", "3", "click", "2",
                "mousemove", width - 1 - x, height - 1 - y, "key", "a")
            events += 10
            if round_number % 5 == 4:
                time.sleep(0.3)
                self.assertTrue(box.running(launcher),
                                "the saver closed after %d events without a yes" % events)
        time.sleep(0.5)
        self.assertTrue(box.running(launcher))
        calls = box.verify_calls()
        self.assertGreater(len(calls), 1, "input stopped asking the verifier")
        self.assertTrue(all(a == 0 for a, _ in box.answers().values()))
        self.finish(launcher)

    def test_text_zero_counts_as_enabled(self):
        box = self.box
        box.store_setting("REG_SZ", "0")
        box.answer(True)
        launcher = box.start_saver(self)
        box.key()
        self.assertTrue(box.wait_for_calls(1), box.verifier_lines())
        self.assertEqual(0, box.exit_code(launcher))
        self.assertEqual(0, box.saver_flag())


class PasswordNotInUse(unittest.TestCase):
    """Windows 98 without a usable password: the first key ends the saver."""

    def run_saver(self, box, flag_before):
        """Runs the saver to its first key; returns the verifier's log lines
        seen while the window was up."""
        box.end_saver()
        box.clear_logs()
        self.assertEqual(flag_before, box.saver_flag(flag_before))
        launcher = box.start_saver(self)
        lines_while_up = box.verifier_lines()
        self.assertEqual(flag_before, box.saver_flag(), "the running flag changed")
        box.key()
        self.assertEqual(0, box.exit_code(launcher), "the first key ends the saver")
        self.assertEqual(flag_before, box.saver_flag(), "the running flag changed")
        self.assertEqual([], box.verify_calls())
        return lines_while_up

    def test_disabled_settings_never_load_the_verifier(self):
        # The flag starts either way, so that a stray set and a stray clear both show.
        settings = [
            ("zero", lambda box: box.store_setting("REG_DWORD", 0), 0),
            ("absent", lambda box: box.remove_setting(), 1),
            ("eight bytes", lambda box: box.store_setting("REG_BINARY", "0100000000000000"), 0),
        ]
        with PasswordSession("password-disabled") as box:
            for name, store, flag_before in settings:
                with self.subTest(setting=name):
                    store(box)
                    self.assertEqual([], self.run_saver(box, flag_before))
                    self.assertEqual([], box.verifier_lines(), "the verifier was loaded")

    def test_library_without_the_entry_is_loaded_and_released(self):
        with PasswordSession("password-noentry", verifier="noentry") as box:
            box.store_setting("REG_DWORD", 1)
            for flag_before in (0, 1):
                with self.subTest(flag=flag_before):
                    lines = self.run_saver(box, flag_before)
                    self.assertEqual(["attach", "detach free"], lines)
                    self.assertEqual(["attach", "detach free"], box.verifier_lines())


class WindowsNT(unittest.TestCase):
    """Without Windows 98 emulation neither the registry nor the libraries are touched."""

    def traced_saver_run(self, box):
        """Runs the saver up to its first key with the registry calls traced;
        returns the trace."""
        trace_path = os.path.join(box.folder, "trace.txt")
        with open(trace_path, "w") as trace_file:
            launcher = box.session.start(os.path.join(box.folder, "zembloid.scr"), "/s",
                                         env={"WINEDEBUG": "trace+reg"},
                                         stdout=subprocess.DEVNULL, stderr=trace_file)
        self.assertIsNotNone(box.session.wait_for_window(TITLE, timeout=30))
        time.sleep(0.5)
        box.key()
        try:
            launcher.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.fail("the saver did not end on the first key")
        with open(trace_path, errors="replace") as trace_file:
            return trace_file.read()

    def test_nothing_is_touched(self):
        with PasswordSession("password-nt", emulate=False) as box:
            box.store_setting("REG_DWORD", 1)
            box.answer(True)
            self.assertEqual(0, box.saver_flag(0))
            self.assertNotIn(VALUE, self.traced_saver_run(box))
            self.assertEqual(0xFFFFFFFF, box.session.launch(box.command("/a 123")))
            self.assertEqual([], box.verifier_lines())
            self.assertEqual([], box.mpr_lines())
            self.assertEqual(0, box.saver_flag())
            # The same trace shows the read once Windows 98 is reported.
            box.session.emulate_win98("zembloid.scr")
            self.assertIn(VALUE, self.traced_saver_run(box))
            self.assertEqual(1, len(box.verify_calls()))


class ChangePassword(unittest.TestCase):
    """Change-password mode hands over to the system's service."""

    def test_owner_is_the_named_window_or_the_foreground_window(self):
        with PasswordSession("password-change") as box:
            s = box.session
            s.start("notepad", stdout=subprocess.DEVNULL)
            self.assertTrue(wait_until(
                lambda: s.xdotool("search", "--onlyvisible", "--classname", "notepad").split(), 30))
            time.sleep(1.0)

            def change(tail):
                box.clear_logs()
                self.assertEqual(0, s.launch(box.command(tail)), tail)
                lines = box.mpr_lines()
                self.assertEqual(4, len(lines), lines)
                self.assertEqual("attach", lines[0])
                self.assertEqual("detach free", lines[3], "the service is released after the call")
                m = re.match(r"change provider \[(.*)\] owner (\d+) reserved (\d+) (\d+)$", lines[1])
                self.assertIsNotNone(m, lines[1])
                self.assertEqual(("SCRSAVE", "0", "0"), (m.group(1), m.group(3), m.group(4)))
                w = re.match(r"owner class \[(.*)\] foreground (\d+) desktop (\d+)$", lines[2])
                self.assertIsNotNone(w, lines[2])
                return int(m.group(2)), w.group(1), int(w.group(2)), int(w.group(3))

            owner, owner_class, foreground, desktop = change("/a 123")
            self.assertNotEqual(0, owner)
            self.assertEqual(foreground, owner, "an invalid handle falls back to the foreground")
            self.assertEqual("Notepad", owner_class)
            for tail in ("/a", "-A 0", "/a abc", "/a -%d" % desktop, "/a 4294967296"):
                with self.subTest(tail=tail):
                    self.assertEqual(foreground, change(tail)[0])
            for tail in ("/a %d" % desktop, "/a%d" % desktop, "/a   %dxyz" % desktop):
                with self.subTest(tail=tail):
                    self.assertEqual(desktop, change(tail)[0])
            self.assertEqual([], box.verifier_lines(), "change mode never loads the verifier")


if __name__ == "__main__":
    unittest.main(verbosity=2)
