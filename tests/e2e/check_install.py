"""Installs the build into a scratch folder and checks what a desktop gets: a valid menu entry whose command is the
installed executable, the icon it names, and the AppStream file that points back at the entry.

    /usr/bin/python3 check_install.py BUILD_FOLDER KESTRELLA_DESKTOP_DATADIR VERSION
"""

import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import gi

gi.require_version("GLib", "2.0")
from gi.repository import GLib  # noqa: E402

DESKTOP_ID = "example.kestrella.Kestrella"
# Blanks, an apostrophe and a dollar sign all need the Exec key's quoting to survive.
PREFIX = "/opt/Kestrella's folder $HOME"
BUILD, DATADIR, VERSION = sys.argv[1:4]


class Install(unittest.TestCase):
    def test_the_menu_entry_starts_the_installed_program_with_its_icon_and_metadata(self):
        with tempfile.TemporaryDirectory(prefix="kestrella-install-") as scratch:
            # DESTDIR keeps every file in the scratch folder, even with a data folder given as an absolute path.
            subprocess.run(["cmake", "--install", BUILD, "--prefix", PREFIX], check=True,
                           env=dict(os.environ, DESTDIR=scratch), stdout=subprocess.DEVNULL)
            data = scratch + os.path.join(PREFIX, DATADIR)
            entry = os.path.join(data, "applications", DESKTOP_ID + ".desktop")
            checked = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            keys = GLib.KeyFile()
            keys.load_from_file(entry, GLib.KeyFileFlags.NONE)
            # GLib reads the command as the desktop starts it: string unescaping, then shell-style quoting.
            _, argv = GLib.shell_parse_argv(keys.get_string("Desktop Entry", "Exec"))
            self.assertEqual(argv, [PREFIX + "/kestrella"])
            self.assertTrue(os.access(scratch + PREFIX + "/kestrella", os.X_OK))
            icon = keys.get_string("Desktop Entry", "Icon")
            self.assertTrue(os.path.isfile(os.path.join(data, "icons", "hicolor", "scalable", "apps", icon + ".svg")))
            metainfo = ElementTree.parse(os.path.join(data, "metainfo", DESKTOP_ID + ".metainfo.xml")).getroot()
            self.assertEqual(metainfo.findtext("launchable[@type='desktop-id']"), os.path.basename(entry))
            self.assertEqual(metainfo.find("releases/release").get("version"), VERSION)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
