"""A private desktop for driving the real kestrella executable as a person and a screen reader do.

Each session owns a virtual X server, a D-Bus session bus (which starts the accessibility bus on demand)
and private home, configuration, data and temporary folders, so nothing the program does reaches the
user's own files or desktop. Controls are found through the accessibility tree by role and name; clicks
and keys are real X input events, because an accessibility action call would block for as long as a
modal message box it opens stays open.
"""

import importlib.util
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time

# Which Debian package supplies each outside piece the session needs.
REQUIRED_PROGRAMS = {
    "Xvfb": "xvfb",
    "xdotool": "xdotool",
    "xprop": "x11-utils",
    "import": "imagemagick",
    "identify": "imagemagick",
    "dbus-daemon": "dbus",
    "dbus-send": "dbus",
    "setpriv": "util-linux",
}
ACCESSIBILITY_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"

DEFAULT_TIMEOUT = 10.0
START_TIMEOUT = 15.0
POLL_INTERVAL = 0.05

MAIN_WINDOW_TITLE = "Kestrella - Keep Track of all of your important referral information !"
DATA_FILE = "datReferral.mdb"
FIELDS = (
    "ProName",
    "ProUserName",
    "ProPassword",
    "ProUrlLogin",
    "ProReferral",
    "ProStart",
    "ProLastLogin",
    "ProType",
    "ProRate",
    "ProComments",
)


class EnvironmentMissing(RuntimeError):
    """A piece of the test environment is absent: the suite cannot prove anything without it."""


def check_environment():
    missing = [f"{program} (Debian package {package})"
               for program, package in REQUIRED_PROGRAMS.items() if shutil.which(program) is None]
    if not os.access(ACCESSIBILITY_BUS_LAUNCHER, os.X_OK):
        missing.append(f"{ACCESSIBILITY_BUS_LAUNCHER} (Debian package at-spi2-core)")
    try:
        # Looked for, not imported: the bindings bind to the buses the session has yet to start.
        import gi
        gi.require_version("Atspi", "2.0")
        if importlib.util.find_spec("pyatspi") is None:
            raise ImportError("No module named 'pyatspi'")
    except (ImportError, ValueError) as error:
        missing.append(f"the Python accessibility bindings for {sys.executable} ({error}; Debian packages "
                       "python3-gi and python3-pyatspi, used through Debian's own /usr/bin/python3)")
    if missing:
        raise EnvironmentMissing("The end-to-end tests need: " + "; ".join(missing) +
                                 ". Install them with scripts/deps.sh test.")


def wait_until(what, probe, timeout=DEFAULT_TIMEOUT, on_timeout=None):
    """Polls probe until it returns something truthy and returns that; raises with `what` on timeout.

    A probe that raises counts as "not yet": the accessibility tree changes under us while windows
    open and close, and a stale object is normal for a moment."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except AssertionError:
            raise  # a wrong answer, not a slow one
        except Exception as error:  # noqa: BLE001  (any failure of a probe means "try again")
            last_error = error
        if time.monotonic() >= deadline:
            detail = f" (last error: {last_error!r})" if last_error else ""
            extra = on_timeout() if on_timeout else ""
            raise TimeoutError(f"timed out after {timeout:.0f} s waiting for {what}{detail}{extra}")
        time.sleep(POLL_INTERVAL)


def orphan_proof(argv):
    """The command, ended by the kernel should this driver die without tidying up (killed by a time
    limit, say): a left-over X server or bus would outlive the test run."""
    return ["setpriv", "--pdeathsig", "KILL", "--", *argv]


def read_rows(database_path):
    """Every row of Programs in table order, as dictionaries of field name to value (None: no value)."""
    connection = sqlite3.connect(f"file:{database_path}?mode=ro", uri=True)
    try:
        cursor = connection.execute("SELECT " + ", ".join(FIELDS) + " FROM Programs ORDER BY rowid")
        return [dict(zip(FIELDS, row)) for row in cursor.fetchall()]
    finally:
        connection.close()


def create_database(database_path, records):
    """A data file as another copy of the program would have left it: the Programs table, ten text fields."""
    connection = sqlite3.connect(database_path)
    try:
        connection.execute("CREATE TABLE Programs (" + ", ".join(f"{f} TEXT" for f in FIELDS) + ")")
        for record in records:
            connection.execute("INSERT INTO Programs (" + ", ".join(FIELDS) + ") VALUES (" +
                               ", ".join("?" * len(FIELDS)) + ")", [record.get(f) for f in FIELDS])
        connection.commit()
    finally:
        connection.close()
    os.chmod(database_path, 0o600)


class DesktopSession:
    """Xvfb, a session bus and private XDG folders; lives for one group of tests."""

    def __init__(self, artifacts_folder=None):
        check_environment()
        self.root = tempfile.mkdtemp(prefix="kestrella-e2e-")
        self.artifacts_folder = artifacts_folder
        self._processes = []
        try:
            self._make_folders()
            self._start_x_server()
            self._start_session_bus()
            self._register_stand_in_browser()
        except BaseException:
            self.close()
            raise
        import pyatspi  # only now: it reads the bus address and display when first used
        self.pyatspi = pyatspi

    # --- set-up ------------------------------------------------------------------------------------

    def _make_folders(self):
        def folder(*parts):
            path = os.path.join(self.root, *parts)
            os.makedirs(path, mode=0o700, exist_ok=True)
            return path

        self.home = folder("home")
        self.browser_log = os.path.join(self.root, "browser-calls.jsonl")
        # The session's own environment: nothing of the caller's desktop leaks in.
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "LANG": "C.UTF-8",
            "XDG_CONFIG_HOME": folder("home", ".config"),
            "XDG_DATA_HOME": folder("home", ".local", "share"),
            "XDG_CACHE_HOME": folder("home", ".cache"),
            "XDG_RUNTIME_DIR": folder("runtime"),
            # The MIME database lives in the system folders; without them no .htm file has a type.
            "XDG_DATA_DIRS": "/usr/local/share:/usr/share",
            "TMPDIR": folder("tmp"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "NO_AT_BRIDGE": "0",
            "GTK_A11Y": "atspi",
        }
        # A sanitizer build's settings reach the program, so its findings end it as they do elsewhere.
        self.env.update({k: v for k, v in os.environ.items() if k.endswith("SAN_OPTIONS")})

    def _spawn(self, argv, **options):
        process = subprocess.Popen(orphan_proof(argv), env=self.env, start_new_session=True, **options)
        self._processes.append(process)
        return process

    def _start_x_server(self):
        read_end, write_end = os.pipe()
        log = open(os.path.join(self.root, "xvfb.log"), "wb")
        try:
            self._spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                         "-noreset"], pass_fds=(write_end,), stdout=log, stderr=log)
        finally:
            os.close(write_end)
            log.close()
        # Xvfb picks a free display number itself and writes it once it accepts connections.
        number = b""
        deadline = time.monotonic() + START_TIMEOUT
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not start: " + self._read_log("xvfb.log"))
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def _start_session_bus(self):
        log = open(os.path.join(self.root, "dbus.log"), "wb")
        bus = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                           f"--address=unix:path={self.root}/bus"], stdout=subprocess.PIPE, stderr=log)
        log.close()
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise RuntimeError("the session bus did not start: " + self._read_log("dbus.log"))
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        # This process is the screen reader: it talks to the same buses and display.
        os.environ.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=address)
        # The accessibility bus is started by the session bus on the first request; ask now, so that a
        # broken installation fails here with a clear message rather than later as a missing window.
        reply = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                                "org.a11y.Bus.GetAddress"], env=self.env, capture_output=True, text=True,
                               timeout=START_TIMEOUT)
        if reply.returncode != 0 or "unix:" not in reply.stdout:
            raise EnvironmentMissing("the accessibility bus (org.a11y.Bus) could not be reached: " +
                                     (reply.stderr.strip() or reply.stdout.strip()) +
                                     ". It comes with the Debian package at-spi2-core.")

    def _register_stand_in_browser(self):
        """The desktop's default program for web pages is a script that notes its arguments, one JSON list
        a line, so a test sees exactly what the program handed over and no real browser ever starts."""
        script = os.path.join(self.root, "stand-in-browser")
        with open(script, "w") as f:
            f.write(f"#!{sys.executable}\n"
                    "import json, sys\n"
                    f"with open({self.browser_log!r}, 'a') as log:\n"
                    "    log.write(json.dumps(sys.argv[1:]) + '\\n')\n")
        os.chmod(script, 0o700)
        applications = os.path.join(self.env["XDG_DATA_HOME"], "applications")
        os.makedirs(applications, exist_ok=True)
        handled = ["text/html", "x-scheme-handler/http", "x-scheme-handler/https"]
        with open(os.path.join(applications, "kestrella-test-browser.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Stand-in Browser\n"
                    f"Exec={script} %u\nMimeType={';'.join(handled)};\nNoDisplay=true\n")
        with open(os.path.join(self.env["XDG_CONFIG_HOME"], "mimeapps.list"), "w") as f:
            f.write("[Default Applications]\n" + "".join(f"{t}=kestrella-test-browser.desktop\n" for t in handled))

    # --- what the stand-in browser was given -------------------------------------------------------

    def browser_calls(self):
        if not os.path.exists(self.browser_log):
            return []
        with open(self.browser_log) as f:
            return [json.loads(line) for line in f if line.strip()]

    # --- input and pictures ------------------------------------------------------------------------

    def xdotool(self, *arguments):
        subprocess.run(["xdotool", *arguments], env=self.env, check=True, timeout=DEFAULT_TIMEOUT,
                       stdout=subprocess.DEVNULL)

    def click_at(self, x, y, then_keys=()):
        """A left click at (x, y); keys pressed right after it reach what the click focused, since the
        server delivers the events in order."""
        self.xdotool("mousemove", str(x), str(y), "click", "1", *(("key", "--delay", "0", *then_keys)
                                                                if then_keys else ()))

    def type_text(self, text):
        # xdotool types no line break: each one is a press of Return.
        for i, line in enumerate(text.split("\n")):
            if i:
                self.press_keys("Return")
            if line:
                self.xdotool("type", "--delay", "0", "--", line)

    def press_keys(self, *keys):
        self.xdotool("key", "--delay", "0", *keys)

    def window_id(self, title):
        """The X window id of the visible window with exactly this title."""
        def search():
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                                   env=self.env, capture_output=True, text=True, timeout=DEFAULT_TIMEOUT)
            return found.stdout.split()[0] if found.returncode == 0 and found.stdout.split() else None
        return wait_until(f"the X window titled {title!r}", search)

    def capture_window(self, title, path):
        subprocess.run(["import", "-window", self.window_id(title), path], env=self.env, check=True,
                       timeout=DEFAULT_TIMEOUT)

    def capture_screen(self, name):
        """Keeps a picture of the whole screen among the artifacts; returns where, or an empty string."""
        if not self.artifacts_folder:
            return ""
        os.makedirs(self.artifacts_folder, exist_ok=True)
        path = os.path.join(self.artifacts_folder, name + ".png")
        try:
            subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=DEFAULT_TIMEOUT,
                           capture_output=True)
        except (subprocess.SubprocessError, OSError):
            return ""
        return path

    # --- tear-down ---------------------------------------------------------------------------------

    def _read_log(self, name):
        try:
            with open(os.path.join(self.root, name), errors="replace") as f:
                return f.read().strip()[-2000:]
        except OSError:
            return "(no log)"

    def close(self):
        # Each helper runs in its own process group: ending the group also ends what it started (the
        # accessibility bus and registry started by the session bus).
        for process in reversed(self._processes):
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for process in reversed(self._processes):
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
            if process.stdout:
                process.stdout.close()
        self._processes.clear()
        shutil.rmtree(self.root, ignore_errors=True)


class Kestrella:
    """One run of the program from an application folder of its own, seen through its accessibility tree."""

    def __init__(self, session, folder):
        self.session = session
        self.folder = folder
        self.process = None
        self.app = None
        self.log_path = folder + ".log"
        self._known = {}
        self._index = []

    @property
    def database(self):
        return os.path.join(self.folder, DATA_FILE)

    @classmethod
    def start(cls, session, executable, folder, prepare=None, attempts=2):
        """Copies the executable into `folder` (made afresh by `prepare` on each attempt) and starts it;
        a start that never reaches the accessibility tree is retried once, as on a slow, busy machine."""
        for attempt in range(1, attempts + 1):
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(folder, mode=0o700)
            shutil.copy2(executable, os.path.join(folder, "kestrella"))
            if prepare:
                prepare(folder)
            program = cls(session, folder)
            try:
                program._launch()
                return program
            except TimeoutError:
                program.kill()
                if attempt == attempts:
                    raise
                print(f"kestrella did not come up (attempt {attempt}); starting it again", file=sys.stderr)
        raise AssertionError("unreachable")

    def _launch(self):
        with open(self.log_path, "ab") as log:
            self.process = subprocess.Popen(orphan_proof([os.path.join(self.folder, "kestrella")]),
                                            cwd=self.session.home, env=self.session.env, stdout=log, stderr=log,
                                            start_new_session=True)
        pyatspi = self.session.pyatspi

        def registered():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.get_process_id() == self.process.pid:
                    return app
            if self.process.poll() is not None:
                raise ProgramEnded(self)
            return None

        self.app = wait_until("kestrella in the accessibility tree", registered, timeout=START_TIMEOUT,
                              on_timeout=self.diagnostics)
        self.main_window()

    # --- finding controls --------------------------------------------------------------------------
    # Walking the tree costs a round trip on the bus per node and question, so a control once found is
    # kept and reused while it still answers to the same description: Qt keeps one accessible object
    # per widget for the widget's life.

    def windows(self):
        return [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]

    def window(self, name, roles=None, timeout=DEFAULT_TIMEOUT):
        """A showing top-level window of the program with this name (its title)."""
        def probe():
            for window in self.windows():
                if window.name == name and self.showing(window) and (roles is None or window.getRole() in roles):
                    return window
            self._check_running()
            return None
        return wait_until(f"the window {name!r}", probe, timeout, on_timeout=self.diagnostics)

    def main_window(self):
        window = self._known.get("main window")
        if window is None or not self._still(window, lambda w: w.name == MAIN_WINDOW_TITLE):
            window = self._known["main window"] = self.window(MAIN_WINDOW_TITLE, timeout=START_TIMEOUT)
        return window

    def showing(self, accessible):
        return accessible.getState().contains(self.session.pyatspi.STATE_SHOWING)

    def enabled(self, accessible):
        return accessible.getState().contains(self.session.pyatspi.STATE_ENABLED)

    def _still(self, accessible, predicate):
        try:
            return predicate(accessible) and self.showing(accessible)
        except Exception:  # noqa: BLE001  (gone: the window closed)
            return False

    def find_all(self, root, predicate):
        found = []
        stack = [root]
        while stack:
            node = stack.pop()
            if node is None:
                continue
            if predicate(node):
                found.append(node)
            stack.extend(node.getChildAtIndex(i) for i in range(node.childCount - 1, -1, -1))
        return found

    def control_where(self, what, predicate, within=None, timeout=DEFAULT_TIMEOUT):
        """The one showing control for which predicate holds, in `within` or the main window."""
        key = (what, within)
        known = self._known.get(key)
        if known is not None and self._still(known, predicate):
            return known

        def probe():
            root = within or self.main_window()
            matches = self.find_all(root, lambda a: predicate(a) and self.showing(a))
            if len(matches) > 1:
                raise AssertionError(f"{len(matches)} controls match: {what}")
            self._check_running()
            return matches[0] if matches else None
        self._known[key] = wait_until(what, probe, timeout, on_timeout=self.diagnostics)
        return self._known[key]

    def control(self, role, name, within=None, timeout=DEFAULT_TIMEOUT):
        """The one showing control with this role and accessible name, in `within` or the main window."""
        what = f"a showing {getattr(role, 'value_nick', role)} named {name!r}"
        if within is not None:
            return self.control_where(what, lambda a: a.getRole() == role and a.name == name, within, timeout)

        def showing_matches():
            return [node for node, node_role, node_name in self._index
                    if node_role == role and node_name == name and self._still(node, lambda _: True)]

        def probe():
            matches = showing_matches()
            if not matches:
                self._index = self._walk(self.main_window())
                matches = showing_matches()
            if len(matches) > 1:
                raise AssertionError(f"{len(matches)} controls match: {what}")
            self._check_running()
            return matches[0] if matches else None
        return wait_until(what, probe, timeout, on_timeout=self.diagnostics)

    def _walk(self, root):
        """(object, role, name) of every node under root, in one pass. The entries of lists and drop-down
        lists are read where they are used: they are many, and they change."""
        pyatspi = self.session.pyatspi
        nodes = []
        stack = [root]
        while stack:
            node = stack.pop()
            if node is None:
                continue
            role = node.getRole()
            nodes.append((node, role, node.name))
            if node is root or role not in (pyatspi.ROLE_LIST, pyatspi.ROLE_COMBO_BOX):
                stack.extend(node.getChildAtIndex(i) for i in range(node.childCount))
        return nodes

    def labelled(self, role, label, within=None, timeout=DEFAULT_TIMEOUT):
        """The one showing control with this role that a label of this text labels, as a screen reader
        announces it (Qt names a drop-down list after its current entry)."""
        return self.control_where(f"a showing {getattr(role, 'value_nick', role)} labelled {label!r}",
                                  lambda a: a.getRole() == role and label in self.labels_of(a), within, timeout)

    def labels_of(self, accessible):
        labelled_by = self.session.pyatspi.RELATION_LABELLED_BY
        return [relation.getTarget(i).name for relation in accessible.getRelationSet()
                if relation.getRelationType() == labelled_by for i in range(relation.getNTargets())]

    def button(self, name, within=None):
        return self.control(self.session.pyatspi.ROLE_PUSH_BUTTON, name, within)

    def field(self, name):
        return self.control(self.session.pyatspi.ROLE_TEXT, name)

    def text_of(self, accessible):
        text = accessible.queryText()
        return text.getText(0, text.characterCount)

    def field_text(self, name):
        return self.text_of(self.field(name))

    def list_entries(self, name="Programs"):
        program_list = self.control(self.session.pyatspi.ROLE_LIST, name)
        return [program_list.getChildAtIndex(i).name for i in range(program_list.childCount)]

    def list_count(self):
        """The number the count label beside "Items Listed:" shows."""
        caption = self.control(self.session.pyatspi.ROLE_LABEL, "Items Listed:")
        count = caption.parent.getChildAtIndex(caption.getIndexInParent() + 1)
        return int(count.name)

    # --- acting as a person ------------------------------------------------------------------------

    def _centre(self, accessible, what):
        wait_until(f"the {what} {accessible.name!r} to be enabled",
                   lambda: self.enabled(accessible) and self.showing(accessible), on_timeout=self.diagnostics)
        x, y, width, height = accessible.queryComponent().getExtents(self.session.pyatspi.DESKTOP_COORDS)
        if width <= 0 or height <= 0:
            raise AssertionError(f"the {what} {accessible.name!r} has no area on screen")
        return x + width // 2, y + height // 2

    def click(self, accessible, what="control", then_keys=()):
        """A real left click in the middle of the control, once it is enabled and on screen."""
        self.session.click_at(*self._centre(accessible, what), then_keys=then_keys)

    def click_button(self, name, within=None):
        self.click(self.button(name, within), "button")

    def type_into(self, name, text):
        """Clicks into the field, replaces what it holds by typing, and waits until the field shows it."""
        box = self.field(name)
        self.click(box, "field", then_keys=("ctrl+a", "BackSpace"))
        self.session.type_text(text)
        wait_until(f"the field {name!r} to show {text!r}", lambda: self.text_of(box) == text,
                   on_timeout=self.diagnostics)

    def pick(self, combo, entry):
        """Opens a drop-down list (given or named) with the pointer and clicks one of its entries."""
        pyatspi = self.session.pyatspi
        if isinstance(combo, str):
            combo = self.control(pyatspi.ROLE_COMBO_BOX, combo)
        self.click(combo, "drop-down list")
        popup = wait_until(f"the entries of {combo.name!r} to open",
                           lambda: next((a for a in self.find_all(combo, lambda a: a.getRole() == pyatspi.ROLE_LIST)
                                         if self.showing(a)), None), on_timeout=self.diagnostics)
        item = wait_until(f"the entry {entry!r}",
                          lambda: next((popup.getChildAtIndex(i) for i in range(popup.childCount)
                                        if popup.getChildAtIndex(i).name == entry), None),
                          on_timeout=self.diagnostics)
        self.click(item, "entry")
        wait_until(f"the drop-down list to show {entry!r}", lambda: combo.name == entry and not self.showing(popup),
                   on_timeout=self.diagnostics)

    def choose_in_list(self, entry, list_name="Programs"):
        program_list = self.control(self.session.pyatspi.ROLE_LIST, list_name)
        item = wait_until(f"the list entry {entry!r}", lambda: next(
            (program_list.getChildAtIndex(i) for i in range(program_list.childCount)
             if program_list.getChildAtIndex(i).name == entry), None), on_timeout=self.diagnostics)
        self.click(item, "list entry")

    def message_box(self, caption, timeout=DEFAULT_TIMEOUT):
        """A message box the program shows (role alert or dialog) with this caption."""
        pyatspi = self.session.pyatspi
        return self.window(caption, roles=(pyatspi.ROLE_ALERT, pyatspi.ROLE_DIALOG), timeout=timeout)

    def message_text(self, box):
        return [label.name for label in self.find_all(box, lambda a: a.getRole() == self.session.pyatspi.ROLE_LABEL)
                if label.name]

    def answer(self, caption, button):
        """Waits for the message box, presses one of its buttons and waits for it to go; returns its text."""
        box = self.message_box(caption)
        text = self.message_text(box)
        self.click_button(button, within=box)
        wait_until(f"the message box {caption!r} to close",
                   lambda: box not in self.windows() or not self.showing(box), on_timeout=self.diagnostics)
        return text

    # --- ending ------------------------------------------------------------------------------------

    def wait_for_exit(self, timeout=DEFAULT_TIMEOUT):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError(f"kestrella still running {timeout:.0f} s after it should have ended" +
                               self.diagnostics()) from None

    def _check_running(self):
        if self.process.poll() is not None:
            raise ProgramEnded(self)

    def kill(self):
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()

    def diagnostics(self):
        """What a person needs to see why a wait failed: the screen, the program's output, its windows."""
        parts = []
        picture = self.session.capture_screen(f"failure-{int(time.time() * 1000)}")
        if picture:
            parts.append(f"screen: {picture}")
        try:
            parts.append("windows: " + ", ".join(repr(w.name) for w in self.windows()))
        except Exception as error:  # noqa: BLE001
            parts.append(f"windows: unreadable ({error!r})")
        try:
            with open(self.log_path, errors="replace") as f:
                output = f.read().strip()
            if output:
                parts.append("program output:\n" + output[-3000:])
        except OSError:
            pass
        return "\n" + "\n".join(parts) if parts else ""


class ProgramEnded(AssertionError):
    def __init__(self, program):
        super().__init__(f"kestrella ended unexpectedly with status {program.process.returncode}" +
                         program.diagnostics())
