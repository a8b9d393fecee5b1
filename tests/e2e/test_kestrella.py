"""End-to-end tests of the real kestrella executable under a virtual X server, driven through the
accessibility tree with real pointer clicks and key presses.

Run with Debian's own Python (its GObject and AT-SPI bindings):
    /usr/bin/python3 test_kestrella.py --executable path/to/kestrella [--artifacts folder] [TestClass ...]
"""

import argparse
import datetime
import os
import re
import stat
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from desktop_session import (  # noqa: E402
    MAIN_WINDOW_TITLE,
    DesktopSession,
    Kestrella,
    create_database,
    read_rows,
    wait_until,
)

EXECUTABLE = None
ARTIFACTS = None

SAMPLE_RECORDS = [
    {"ProName": "Banner Swap Central", "ProUserName": "kes_banners", "ProPassword": "s3cret-1",
     "ProUrlLogin": "http://banners.kestrella.example/login",
     "ProReferral": "http://banners.kestrella.example/?ref=kes",
     "ProStart": "http://banners.kestrella.example/start", "ProLastLogin": "11/28/26", "ProType": "Banner Exchange",
     "ProRate": "Good", "ProComments": "Credits expire after 30 days."},
    {"ProName": "Affiliate Alley", "ProUserName": "kestrel", "ProPassword": "s3cret-2",
     "ProUrlLogin": "http://alley.kestrella.example/members", "ProReferral": "http://alley.kestrella.example/r/kestrel",
     "ProStart": "http://alley.kestrella.example/", "ProLastLogin": "12/01/26", "ProType": "Affiliate Links",
     "ProRate": "Excellent", "ProComments": "Pays monthly."},
    {"ProName": "surf harbour", "ProUserName": "kes", "ProPassword": "s3cret-3",
     "ProUrlLogin": "http://surf.kestrella.example/login", "ProReferral": "http://surf.kestrella.example/join?ref=kes",
     "ProStart": "http://surf.kestrella.example/surf", "ProLastLogin": "12/05/26", "ProType": "Surf Exchange",
     "ProRate": "Fair", "ProComments": "Timer 15 s."},
    {"ProName": "Traffic Tide", "ProUserName": "kestrella", "ProPassword": "s3cret-4",
     "ProUrlLogin": "http://tide.kestrella.example/in", "ProReferral": "http://tide.kestrella.example/?r=7",
     "ProStart": "http://tide.kestrella.example/home", "ProLastLogin": "10/17/26", "ProType": "Traffic Exchange",
     "ProRate": "Bad", "ProComments": "Slow to credit."},
]
FIELD_OF_BOX = {
    "Program Name": "ProName", "UserName": "ProUserName", "Password": "ProPassword", "Login Url": "ProUrlLogin",
    "Referral Url": "ProReferral", "Start Page": "ProStart", "Last Login": "ProLastLogin", "Type": "ProType",
    "Rating": "ProRate", "Comments": "ProComments",
}


def today_stamp_pattern():
    """The last-login stamp for today: month, day and two-digit year joined by the date separator."""
    today = datetime.date.today()
    return re.compile(rf"{today.month:02d}\D{today.day:02d}\D{today.year % 100:02d}")


SESSION = None


def tearDownModule():
    if SESSION:
        SESSION.close()


class KestrellaTestCase(unittest.TestCase):
    """Each test starts the program afresh in its own folder, on the one private desktop of this run (the
    accessibility library binds to the first session bus it meets, so a run has exactly one)."""

    @classmethod
    def setUpClass(cls):
        global SESSION
        if SESSION is None:
            SESSION = DesktopSession(ARTIFACTS)
        cls.session = SESSION

    def start(self, records=None):
        """Starts kestrella; with `records` (even an empty list) the data file exists beforehand."""
        def prepare(folder):
            if records is not None:
                create_database(os.path.join(folder, "datReferral.mdb"), records)

        folder = os.path.join(self.session.root, self.id().rsplit(".", 1)[-1])
        self.program = Kestrella.start(self.session, EXECUTABLE, folder, prepare)
        self.addCleanup(self.program.kill)
        return self.program

    def shown_record(self):
        return {field: self.program.field_text(box) for box, field in FIELD_OF_BOX.items()}

    def assertShowsRecord(self, record):
        self.assertEqual(self.shown_record(), {f: record.get(f) or "" for f in FIELD_OF_BOX.values()})

    def assertCount(self, count):
        wait_until(f"the count to read {count}", lambda: self.program.list_count() == count)

    def sort_filter(self):
        # Qt names a drop-down list after its current entry on Linux; "Sort By" is its description.
        pyatspi = self.session.pyatspi
        return self.program.control_where(
            "the filter described as 'Sort By'",
            lambda a: a.getRole() == pyatspi.ROLE_COMBO_BOX and a.description == "Sort By")

    def exit_program(self):
        """Exit: the closing window shows, then the program ends by itself with status 0. The closing
        window stays for up to ten ticks of a second when it has something to clean or reports a failure."""
        self.program.click_button("Exit")
        self.program.window("Closing Database")
        self.assertEqual(self.program.wait_for_exit(timeout=20), 0)


class StartUpTests(KestrellaTestCase):
    def test_first_run_creates_an_empty_private_data_file(self):
        program = self.start()
        self.assertEqual(program.list_entries(), [])
        self.assertCount(0)
        database = program.database
        self.assertEqual(stat.S_IMODE(os.stat(database).st_mode), 0o600, "the file holds passwords in clear")
        self.assertEqual(read_rows(database), [])
        self.assertFalse(program.enabled(program.button("Edit")))

    def test_existing_file_is_listed_without_regard_to_case_and_left_as_it_was(self):
        program = self.start(SAMPLE_RECORDS)
        self.assertEqual(program.list_entries(),
                         ["Affiliate Alley", "Banner Swap Central", "surf harbour", "Traffic Tide"])
        self.assertCount(4)
        self.assertShowsRecord(SAMPLE_RECORDS[0])  # the first record of the table is the current one
        self.exit_program()
        self.assertEqual(read_rows(program.database), SAMPLE_RECORDS)

    def test_window_class_matches_the_desktop_entry(self):
        # Docks and task bars tie the window to the menu entry (and its icon) through this class.
        self.start([])
        window = self.session.window_id(MAIN_WINDOW_TITLE)
        wm_class = subprocess.run(["xprop", "-id", window, "WM_CLASS"], env=self.session.env, capture_output=True,
                                  text=True, check=True).stdout
        entry = os.path.join(os.path.dirname(__file__), "..", "..", "desktop", "example.kestrella.Kestrella.desktop")
        with open(entry) as f:
            startup_class = re.search(r"^StartupWMClass=(.*)$", f.read(), re.M).group(1)
        self.assertIn(f'"{startup_class}"', wm_class)


class AccessibilityTests(KestrellaTestCase):
    def unnamed_controls(self, window):
        """Controls a person can reach (focusable and on screen) that a screen reader could not name."""
        pyatspi = self.session.pyatspi
        reachable = self.program.find_all(window, lambda a: a.getState().contains(pyatspi.STATE_FOCUSABLE) and
                                          self.program.showing(a))
        self.assertTrue(reachable)
        return [f"{a.getRoleName()} in {window.name!r}" for a in reachable if not a.name.strip()]

    def test_every_reachable_control_has_a_name(self):
        program = self.start(SAMPLE_RECORDS)
        main = program.main_window()
        self.assertEqual(self.unnamed_controls(main), [])
        program.choose_in_list("Traffic Tide")
        program.click_button("Edit")  # editing shows the two drop-down lists
        program.labelled(self.session.pyatspi.ROLE_COMBO_BOX, "Type :")
        self.assertEqual(self.unnamed_controls(main), [])
        program.click_button("Cancel")
        self.assertEqual(self.unnamed_controls(program.message_box("Cancel this Record?")), [])
        program.answer("Cancel this Record?", "Yes")
        program.click_button("About")
        self.assertEqual(self.unnamed_controls(program.window("About Kestrella")), [])

    def test_each_box_is_named_and_labelled_by_its_row_label(self):
        pyatspi = self.session.pyatspi
        program = self.start([])
        boxes = program.find_all(program.main_window(),
                                 lambda a: a.getRole() == pyatspi.ROLE_TEXT and program.showing(a))
        self.assertEqual(sorted(b.name for b in boxes), sorted(FIELD_OF_BOX))
        for box in boxes:
            self.assertIn(box.name + " :", program.labels_of(box))
        for name in ("Open Login Url", "Open Referral Url", "Open Start Page", "Reset Last Login", "Add", "Exit"):
            program.button(name)
        program.control(pyatspi.ROLE_LIST, "Programs")


class EditingTests(KestrellaTestCase):
    def type_record(self, record):
        for box, field in FIELD_OF_BOX.items():
            if box in ("Type", "Rating"):
                chooser = self.program.labelled(self.session.pyatspi.ROLE_COMBO_BOX, box + " :")
                self.program.pick(chooser, record[field])
            elif box != "Last Login" and record.get(field) is not None:
                self.program.type_into(box, record[field])

    def test_add_save_and_find_records(self):
        program = self.start()
        first = dict(SAMPLE_RECORDS[0], ProComments="Credits expire.\nCheck weekly.")
        program.click_button("Add")
        self.type_record(first)
        program.click_button("Save")
        rows = wait_until("the saved record in the file", lambda: read_rows(program.database))
        self.assertRegex(rows[0].pop("ProLastLogin"), today_stamp_pattern())
        self.assertEqual(rows, [{f: v for f, v in first.items() if f != "ProLastLogin"}])
        self.assertEqual(program.list_entries(), [first["ProName"]])
        self.assertCount(1)

        # A name with an apostrophe is stored with a backquote, and is still found through the list.
        second = dict(SAMPLE_RECORDS[2], ProName="Kes's Surf Spot")
        program.click_button("Add")
        self.type_record(second)
        program.click_button("Save")
        wait_until("two records in the file", lambda: len(read_rows(program.database)) == 2)
        self.assertEqual(program.list_entries(), ["Banner Swap Central", "Kes`s Surf Spot"])

        program.pick(self.sort_filter(), "Surf Exchange")
        wait_until("the list narrowed to surf exchanges", lambda: program.list_entries() == ["Kes`s Surf Spot"])
        program.pick(self.sort_filter(), "List ALL")
        wait_until("the whole list again", lambda: len(program.list_entries()) == 2)
        program.choose_in_list("Banner Swap Central")
        wait_until("the first record shown", lambda: program.field_text("Program Name") == "Banner Swap Central")
        shown = self.shown_record()
        self.assertRegex(shown.pop("ProLastLogin"), today_stamp_pattern())
        self.assertEqual(shown, {f: first[f] for f in FIELD_OF_BOX.values() if f != "ProLastLogin"})
        self.exit_program()
        self.assertEqual(len(read_rows(program.database)), 2)

    def test_edit_then_cancel_keeps_the_stored_record(self):
        program = self.start(SAMPLE_RECORDS)
        program.choose_in_list("Traffic Tide")
        wait_until("Traffic Tide shown", lambda: program.field_text("Program Name") == "Traffic Tide")
        program.click_button("Edit")
        program.type_into("UserName", "someone-else")
        program.type_into("Comments", "typed, then given up")

        # No keeps the edit going with what was typed.
        program.click_button("Cancel")
        self.assertEqual(program.answer("Cancel this Record?", "No"), ["Are you Sure you want to Cancel ?"])
        self.assertEqual(program.field_text("UserName"), "someone-else")
        self.assertTrue(program.enabled(program.button("Save")))

        program.click_button("Cancel")
        program.answer("Cancel this Record?", "Yes")
        wait_until("the stored values back", lambda: program.field_text("UserName") == "kestrella")
        self.assertShowsRecord(SAMPLE_RECORDS[3])
        # Moving to another record stores pending changes; nothing may be pending now.
        program.choose_in_list("Affiliate Alley")
        wait_until("Affiliate Alley shown", lambda: program.field_text("Program Name") == "Affiliate Alley")
        self.assertEqual(read_rows(program.database), SAMPLE_RECORDS)

        program.click_button("Edit")
        program.type_into("UserName", "alley-cat")
        program.click_button("Save")
        wait_until("the edit stored", lambda: read_rows(program.database)[1]["ProUserName"] == "alley-cat")
        self.exit_program()
        expected = [dict(r) for r in SAMPLE_RECORDS]
        expected[1]["ProUserName"] = "alley-cat"
        self.assertEqual(read_rows(program.database), expected)

    def test_delete_asks_first(self):
        program = self.start(SAMPLE_RECORDS)
        program.choose_in_list("surf harbour")
        wait_until("surf harbour shown", lambda: program.field_text("Program Name") == "surf harbour")
        program.click_button("Delete")
        self.assertEqual(program.answer("Delete this Record?", "No"),
                         ["Are you sure you want to delete this record for surf harbour ?"])
        self.assertEqual(read_rows(program.database), SAMPLE_RECORDS)

        program.click_button("Delete")
        program.answer("Delete this Record?", "Yes")
        wait_until("the record gone from the file", lambda: len(read_rows(program.database)) == 3)
        self.assertEqual(read_rows(program.database), [r for r in SAMPLE_RECORDS if r["ProName"] != "surf harbour"])
        self.assertNotIn("surf harbour", program.list_entries())
        self.assertCount(3)
        self.exit_program()
        self.assertEqual(len(read_rows(program.database)), 3)


class LinkTests(KestrellaTestCase):
    def setUp(self):
        open(self.session.browser_log, "w").close()

    def browser_given(self, count):
        """The argument lists of the stand-in browser's starts, sorted: each start is a process of its own,
        so they may note their arguments in any order."""
        calls = wait_until(f"{count} start(s) of the stand-in browser",
                           lambda: len(calls := self.session.browser_calls()) >= count and calls)
        return sorted(calls)

    def test_open_buttons_hand_each_address_to_the_browser_as_one_argument(self):
        record = dict(SAMPLE_RECORDS[0], ProUrlLogin="http://banners.kestrella.example/log in?a=1&b=$HOME;x",
                      ProStart="www.kestrella.example/start")
        program = self.start([record])
        program.choose_in_list(record["ProName"])  # the Open buttons wait for a pick
        program.click_button("Open Login Url")
        program.click_button("Open Referral Url")
        program.click_button("Open Start Page")
        program.click_button("Help")
        self.assertEqual(self.browser_given(4), sorted([
            [record["ProUrlLogin"]], [record["ProReferral"]], [record["ProStart"]],
            ["http://kestrella.example/kestrella/index.html"]]))

    def test_address_read_as_an_option_is_refused(self):
        program = self.start([dict(SAMPLE_RECORDS[0], ProUrlLogin="--new-window=file:///etc/passwd")])
        program.choose_in_list(SAMPLE_RECORDS[0]["ProName"])
        program.click_button("Open Login Url")
        self.assertEqual(program.answer("Testing only did it work ?", "OK"), ["Web page failed to be opened."])
        program.click_button("Open Referral Url")  # the browser still works for a sound address
        self.assertEqual(self.browser_given(1), [[SAMPLE_RECORDS[0]["ProReferral"]]])

    def test_about_box(self):
        program = self.start(SAMPLE_RECORDS[:1])
        program.click_button("About")
        about = program.window("About Kestrella")
        labels = program.message_text(about)
        self.assertIn("Kestrella", labels)
        self.assertIn("Version 1.0.2", labels)
        program.click_button("Visit My Site", within=about)
        self.assertEqual(self.browser_given(1), [["http://kestrella.example"]])
        program.click_button("OK", within=about)
        wait_until("the About box to close", lambda: about not in program.windows() or not program.showing(about))
        self.exit_program()


class ExitTests(KestrellaTestCase):
    def test_exit_removes_a_nameless_record_and_ends_with_status_0(self):
        program = self.start([SAMPLE_RECORDS[0], {"ProComments": "no name"}, SAMPLE_RECORDS[1]])
        self.exit_program()
        self.assertEqual(read_rows(program.database), SAMPLE_RECORDS[:2])

    def test_exit_while_adding_keeps_what_was_typed(self):
        program = self.start([])
        program.click_button("Add")
        program.type_into("Program Name", "Typed Then Exited")
        self.exit_program()
        rows = read_rows(program.database)
        self.assertEqual([r["ProName"] for r in rows], ["Typed Then Exited"])


class ScreenshotTests(KestrellaTestCase):
    def test_main_window_picture(self):
        """The picture shown in the README and the AppStream description, taken from the real window."""
        if not ARTIFACTS:
            self.skipTest("no --artifacts folder to keep the picture in")
        program = self.start(SAMPLE_RECORDS)
        program.choose_in_list("Affiliate Alley")
        wait_until("the record shown", lambda: program.field_text("Program Name") == "Affiliate Alley")
        # The pointer stays out of the picture, and no button looks hovered.
        self.session.xdotool("mousemove", "1270", "1010")
        os.makedirs(ARTIFACTS, exist_ok=True)
        picture = os.path.join(ARTIFACTS, "kestrella-main-window.png")
        self.session.capture_window(MAIN_WINDOW_TITLE, picture)
        _, _, width, height = program.main_window().queryComponent().getExtents(self.session.pyatspi.DESKTOP_COORDS)
        described = subprocess.run(["identify", "-format", "%w %h %k", picture], capture_output=True, text=True,
                                   check=True).stdout.split()
        self.assertEqual([int(described[0]), int(described[1])], [width, height])
        self.assertGreater(int(described[2]), 16, "a picture of so few colours shows no window")
        self.exit_program()


def main():
    global EXECUTABLE, ARTIFACTS
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--executable", required=True)
    parser.add_argument("--artifacts")
    options, rest = parser.parse_known_args()
    EXECUTABLE = os.path.abspath(options.executable)
    ARTIFACTS = os.path.abspath(options.artifacts) if options.artifacts else None
    if not os.access(EXECUTABLE, os.X_OK):
        sys.exit(f"no executable program at {EXECUTABLE}")
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
