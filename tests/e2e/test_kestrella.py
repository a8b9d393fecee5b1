"""The shipped kestrella executable, started in a folder of its own on a private virtual desktop (Xvfb and a session bus
with the accessibility bus it starts), found as a screen reader finds it and clicked with a real pointer: once on no
data file, once on each kind of file it cannot use.

Run with Debian's own Python (its accessibility bindings):
    /usr/bin/python3 test_kestrella.py path/to/kestrella
"""

import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

EXECUTABLE = None


class ShippedProgram(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kestrella-e2e-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.root, "LANG": "C.UTF-8",
                    "XDG_RUNTIME_DIR": self.root, "QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
        # A sanitizer build's settings reach the program, so its findings end it as they do elsewhere.
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        read_end, write_end = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:  # Xvfb writes its number once it takes connections
            self.env["DISPLAY"] = ":" + display.readline().strip()
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"], stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        bus.stdout.close()
        # This process is the screen reader, on the same display and bus; pyatspi binds to the first it meets.
        os.environ.update(DISPLAY=self.env["DISPLAY"], DBUS_SESSION_BUS_ADDRESS=self.env["DBUS_SESSION_BUS_ADDRESS"])
        import pyatspi
        self.pyatspi = pyatspi

    def spawn(self, argv, **options):
        # The kernel ends what we start with us, so a time limit that kills this driver leaves no X server behind.
        process = subprocess.Popen(["setpriv", "--pdeathsig", "KILL", "--", *argv], env=self.env,
                                   start_new_session=True, **options)
        self.addCleanup(self.kill, process)
        return process

    @staticmethod
    def kill(process):
        try:
            os.killpg(process.pid, signal.SIGKILL)  # the group: the buses the session bus started too
        except ProcessLookupError:
            pass
        process.wait()

    def start(self, data=None):
        """Starts the program from a folder of its own (with `data` as its data file) and returns it with its first
        window, once a screen reader finds it. A start the display refused is tried again once, as a busy machine
        sometimes makes it."""
        folder = tempfile.mkdtemp(dir=self.root)
        shutil.copy2(EXECUTABLE, folder)
        self.database = os.path.join(folder, "datReferral.mdb")
        if data is not None:
            with open(self.database, "wb") as f:
                f.write(data)
        for attempt in (1, 2):
            log = os.path.join(self.root, f"kestrella-{attempt}.log")
            with open(log, "wb") as out:
                program = self.spawn([os.path.join(folder, "kestrella")], cwd=self.root, stdout=out, stderr=out)
            deadline = time.monotonic() + 15
            while program.poll() is None and time.monotonic() < deadline:
                try:  # the accessibility tree changes under us while the window opens
                    return program, self.window_of(program.pid)
                except Exception:  # noqa: BLE001
                    time.sleep(0.05)
            self.kill(program)
            with open(log, errors="replace") as f:
                output = f.read()
            if attempt == 2 or "could not connect to display" not in output:
                self.fail(f"no window; status {program.returncode}: {output[-3000:]}")

    def window_of(self, pid):
        desktop = self.pyatspi.Registry.getDesktop(0)
        app = next(a for a in desktop if a is not None and a.get_process_id() == pid)
        return next(w for w in app if w.getState().contains(self.pyatspi.STATE_SHOWING))

    def control(self, root, role, name):
        if root.getRole() == role and root.name == name:
            return root
        return next(filter(None, (self.control(child, role, name) for child in root)), None)

    def click(self, window, name):
        """A real left click in the middle of the button: an accessibility action would wait on a modal box."""
        button = self.control(window, self.pyatspi.ROLE_PUSH_BUTTON, name)
        x, y, width, height = button.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"],
                       env=self.env, check=True, timeout=15)

    # One test: the screen reader's side binds to the first session bus it meets.
    def test_each_start(self):
        with self.subTest("first start: a private data file, its window, status 0 on Exit"):
            program, window = self.start()
            self.assertEqual(os.stat(self.database).st_mode & 0o777, 0o600, "the file holds passwords in clear")
            with sqlite3.connect(f"file:{self.database}?mode=ro", uri=True) as connection:
                self.assertEqual(connection.execute("SELECT * FROM Programs").fetchall(), [])
            self.click(window, "Exit")
            self.assertEqual(program.wait(timeout=20), 0)
        for what, data in [("not a database", b"ProName,ProUserName\n"),
                           ("an Access file it cannot convert", b"\0\1\0\0Standard Jet DB\0" + bytes(64))]:
            with self.subTest(f"{what}: one message, then a failure status"):
                program, box = self.start(data)
                self.assertIn(box.getRole(), (self.pyatspi.ROLE_ALERT, self.pyatspi.ROLE_DIALOG))
                self.click(box, "OK")
                self.assertNotEqual(program.wait(timeout=20), 0)

if __name__ == "__main__":
    EXECUTABLE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
