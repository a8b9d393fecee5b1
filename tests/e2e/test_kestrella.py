"""The shipped kestrella executable on a private virtual desktop (Xvfb, a session bus and the accessibility bus it
starts), seen as a screen reader sees it and clicked with real pointer events: an accessibility action would block for
as long as a modal message box it opens stays open.

Run with Debian's own Python (its GObject and accessibility bindings):
    /usr/bin/python3 test_kestrella.py --executable path/to/kestrella [TestName ...]
"""

import argparse
import os
import shutil
import signal
import sqlite3
import stat
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True

EXECUTABLE = None
TIMEOUT = 15.0
MAIN_WINDOW_TITLE = "Kestrella - Keep Track of all of your important referral information !"
BOX_LABELS = ["Program Name", "UserName", "Password", "Login Url", "Referral Url", "Start Page", "Last Login",
              "Type", "Rating", "Comments"]
SESSION = None


def wait_until(what, probe, timeout=TIMEOUT, program=None):
    """Polls probe until it returns something truthy. A probe that raises counts as "not yet": the accessibility tree
    changes under us while windows open and close."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = probe()
            if value:
                return value
        except AssertionError:
            raise
        except Exception:  # noqa: BLE001
            pass
        if program is not None and program.process.poll() is not None:
            raise AssertionError(f"kestrella ended with status {program.process.returncode} while waiting for "
                                 f"{what}: {program.output()}")
        if time.monotonic() >= deadline:
            raise TimeoutError(f"timed out waiting for {what}" + (f": {program.output()}" if program else ""))
        time.sleep(0.05)


def ended_by_the_kernel_with_us(argv):
    """A left-over X server or bus would outlive a driver killed by a time limit."""
    return ["setpriv", "--pdeathsig", "KILL", "--", *argv]


class Desktop:
    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="kestrella-e2e-")
        self.processes = []

        def folder(*parts):
            os.makedirs(os.path.join(self.root, *parts), mode=0o700, exist_ok=True)
            return os.path.join(self.root, *parts)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": folder("home"), "LANG": "C.UTF-8",
                    "XDG_CONFIG_HOME": folder("home", ".config"), "XDG_DATA_HOME": folder("home", ".local"),
                    "XDG_CACHE_HOME": folder("home", ".cache"), "XDG_RUNTIME_DIR": folder("runtime"),
                    "TMPDIR": folder("tmp"), "QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"}
        # A sanitizer build's settings reach the program, so its findings end it as they do elsewhere.
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})
        try:
            self._start_x_server()
            self._start_buses()
        except BaseException:
            self.close()
            raise
        import pyatspi  # only now: it binds to the display and bus it first meets
        self.pyatspi = pyatspi

    def spawn(self, argv, **options):
        process = subprocess.Popen(ended_by_the_kernel_with_us(argv), env=self.env, start_new_session=True, **options)
        self.processes.append(process)
        return process

    def _start_x_server(self):
        read_end, write_end = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                   pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:  # Xvfb writes its display number once it takes connections
            number = numbers.readline().strip()
        if not number.isdigit():
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def _start_buses(self):
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                          f"--address=unix:path={self.root}/bus"], stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        # This process is the screen reader, on the same display and buses.
        os.environ.update(DISPLAY=self.env["DISPLAY"], DBUS_SESSION_BUS_ADDRESS=self.env["DBUS_SESSION_BUS_ADDRESS"])
        # Asked now, so a broken installation fails here rather than later as a missing window.
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                        "org.a11y.Bus.GetAddress"], env=self.env, check=True, capture_output=True, timeout=TIMEOUT)

    def close(self):
        for process in reversed(self.processes):
            try:
                os.killpg(process.pid, signal.SIGKILL)  # the group: the buses the session bus started too
            except ProcessLookupError:
                pass
            process.wait()
            if process.stdout:
                process.stdout.close()
        shutil.rmtree(self.root, ignore_errors=True)


class Kestrella:
    """One run of the program from an application folder of its own."""

    def __init__(self, desktop, folder):
        self.desktop = desktop
        self.folder = folder
        self.log = folder + ".log"
        with open(self.log, "wb") as log:
            self.process = desktop.spawn([os.path.join(folder, "kestrella")], cwd=desktop.env["HOME"], stdout=log,
                                         stderr=log)

    @classmethod
    def start(cls, desktop, folder, data=None, attempts=2):
        """Copies the executable into a fresh folder (with `data` as its data file) and starts it. A start the
        display refused, or one that never reached the accessibility tree, is tried again, as on a busy machine."""
        for attempt in range(1, attempts + 1):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder, mode=0o700)
            shutil.copy2(EXECUTABLE, os.path.join(folder, "kestrella"))
            if data is not None:
                with open(os.path.join(folder, "datReferral.mdb"), "wb") as f:
                    f.write(data)
            program = cls(desktop, folder)
            try:
                program.app = wait_until("kestrella in the accessibility tree", program._registered, program=program)
                return program
            except (TimeoutError, AssertionError):
                program.kill()
                refused = "could not connect to display" in program.output()
                if attempt == attempts or not (refused or program.process.returncode < 0):
                    raise
                print(f"kestrella did not come up (attempt {attempt}); starting it again", file=sys.stderr)

    def _registered(self):
        desktop = self.desktop.pyatspi.Registry.getDesktop(0)
        apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
        return next((a for a in apps if a is not None and a.get_process_id() == self.process.pid), None)

    def output(self):
        with open(self.log, errors="replace") as f:
            return f.read()[-3000:]

    @property
    def database(self):
        return os.path.join(self.folder, "datReferral.mdb")

    def showing(self, node):
        return node.getState().contains(self.desktop.pyatspi.STATE_SHOWING)

    def window(self, name=None, roles=None):
        """A showing window of the program, by its title or its role."""
        return wait_until(f"the window {name or roles!r}", lambda: next(
            (w for w in (self.app.getChildAtIndex(i) for i in range(self.app.childCount))
             if self.showing(w) and (w.name == name or w.getRole() in (roles or ()))), None), program=self)

    def nodes(self, root, predicate=lambda node: True):
        found, stack = [], [root]
        while stack:
            node = stack.pop()
            if node is not None and self.showing(node):
                if predicate(node):
                    found.append(node)
                stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        return found

    def control(self, window, role, name):
        """The one showing control of this role and name, once it is enabled."""
        return wait_until(f"{name!r} enabled", lambda: next(
            (n for n in self.nodes(window, lambda n: n.getRole() == role and n.name == name)
             if n.getState().contains(self.desktop.pyatspi.STATE_ENABLED)), None), program=self)

    def click(self, control):
        """A real left click in the middle of the control."""
        x, y, width, height = control.queryComponent().getExtents(self.desktop.pyatspi.DESKTOP_COORDS)
        subprocess.run(["xdotool", "mousemove", str(x + width // 2), str(y + height // 2), "click", "1"],
                       env=self.desktop.env, check=True, timeout=TIMEOUT)

    def kill(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()


def seeded(names):
    """The bytes of a data file holding programs of these names, as another copy of the program would leave it."""
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "datReferral.mdb")
        connection = sqlite3.connect(path)
        fields = ["ProName", "ProUserName", "ProPassword", "ProUrlLogin", "ProReferral", "ProStart", "ProLastLogin",
                  "ProType", "ProRate", "ProComments"]
        connection.execute("CREATE TABLE Programs (" + ", ".join(f + " TEXT" for f in fields) + ")")
        connection.executemany("INSERT INTO Programs (ProName, ProType, ProUrlLogin, ProReferral, ProStart) "
                               "VALUES (?, 'Other', 'http://a.example', 'http://b.example', 'http://c.example')",
                               [(n,) for n in names])
        connection.commit()
        connection.close()
        with open(path, "rb") as f:
            return f.read()


class ShippedProgramTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        global SESSION
        SESSION = SESSION or Desktop()
        cls.pyatspi = SESSION.pyatspi

    def start(self, data=None):
        program = Kestrella.start(SESSION, os.path.join(SESSION.root, self.id().rsplit(".", 1)[-1]), data)
        self.addCleanup(program.kill)
        return program

    def test_first_run_makes_a_private_data_file_and_exit_ends_with_status_0(self):
        program = self.start()
        main = program.window(MAIN_WINDOW_TITLE)
        self.assertEqual(stat.S_IMODE(os.stat(program.database).st_mode), 0o600, "the file holds passwords in clear")
        with sqlite3.connect(f"file:{program.database}?mode=ro", uri=True) as connection:
            self.assertEqual(connection.execute("SELECT * FROM Programs").fetchall(), [])
        program.click(program.control(main, self.pyatspi.ROLE_PUSH_BUTTON, "Exit"))
        self.assertEqual(program.process.wait(timeout=20), 0)

    def test_a_screen_reader_names_every_control_and_reads_the_list(self):
        pyatspi = self.pyatspi
        program = self.start(seeded(["surf harbour", "Affiliate Alley"]))
        main = program.window(MAIN_WINDOW_TITLE)
        program_list = wait_until("the list of programs", lambda: program.nodes(
            main, lambda n: n.getRole() == pyatspi.ROLE_LIST and n.name == "Programs"), program=program)[0]
        self.assertEqual([program_list.getChildAtIndex(i).name for i in range(program_list.childCount)],
                         ["Affiliate Alley", "surf harbour"])
        boxes = program.nodes(main, lambda n: n.getRole() == pyatspi.ROLE_TEXT)
        self.assertEqual(sorted(b.name for b in boxes), sorted(BOX_LABELS))
        for box in boxes:
            labels = [r.getTarget(i).name for r in box.getRelationSet()
                      if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]
            self.assertIn(box.name + " :", labels)
        button = lambda name: program.control(main, pyatspi.ROLE_PUSH_BUTTON, name)  # noqa: E731  (once enabled)
        program.click(program_list.getChildAtIndex(1))
        self.assertAllNamed(program, main, button("Open Login Url"))  # a pick enables the Open buttons
        program.click(button("Edit"))
        self.assertAllNamed(program, main, button("Save"))  # editing shows the drop-down lists
        program.click(button("About"))
        self.assertAllNamed(program, program.window("About Kestrella"))

    def assertAllNamed(self, program, window, _=None):
        """Every control a person can reach is named for a screen reader."""
        reachable = program.nodes(window, lambda n: n.getState().contains(self.pyatspi.STATE_FOCUSABLE))
        self.assertTrue(reachable)
        self.assertEqual([f"{n.getRoleName()} in {window.name!r}" for n in reachable if not n.name.strip()], [])

    def test_a_data_file_it_cannot_use_ends_the_start_after_one_message(self):
        for what, data in [("not a database", b"ProName,ProUserName\n"),
                           ("an Access file it cannot convert", b"\0\1\0\0Standard Jet DB\0" + bytes(64))]:
            with self.subTest(what):
                program = self.start(data)
                box = program.window(roles=(self.pyatspi.ROLE_ALERT, self.pyatspi.ROLE_DIALOG))
                program.click(program.control(box, self.pyatspi.ROLE_PUSH_BUTTON, "OK"))
                self.assertNotEqual(program.process.wait(timeout=20), 0)
                with open(program.database, "rb") as f:
                    self.assertEqual(f.read(), data)


def tearDownModule():
    if SESSION:
        SESSION.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--executable", required=True)
    options, rest = parser.parse_known_args()
    EXECUTABLE = os.path.abspath(options.executable)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
