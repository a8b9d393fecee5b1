"""Installs the build into a scratch folder and checks what a desktop gets: a valid menu entry whose command is the
installed executable, the icon it names, and the AppStream file that points back at the entry.

    /usr/bin/python3 check_install.py --build BUILD_FOLDER --datadir KESTRELLA_DESKTOP_DATADIR --version VERSION
"""

import argparse
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
OPTIONS = None


class InstallTests(unittest.TestCase):
    def test_the_menu_entry_starts_the_installed_program_with_its_icon_and_metadata(self):
        with tempfile.TemporaryDirectory(prefix="kestrella-install-") as scratch:
            # DESTDIR keeps every file in the scratch folder, even with a data folder given as an absolute path.
            subprocess.run(["cmake", "--install", OPTIONS.build, "--prefix", PREFIX], check=True,
                           env=dict(os.environ, DESTDIR=scratch), stdout=subprocess.DEVNULL)
            data = scratch + os.path.join(PREFIX, OPTIONS.datadir)
            entry = os.path.join(data, "applications", DESKTOP_ID + ".desktop")
            checked = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
            self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
            keys = GLib.KeyFile()
            keys.load_from_file(entry, GLib.KeyFileFlags.NONE)
            # GLib reads the command as the desktop starts it: string unescaping, then shell-style quoting.
            _, argv = GLib.shell_parse_argv(keys.get_string("Desktop Entry", "Exec"))
            self.assertEqual(argv, [PREFIX + "/kestrella"])
            self.assertTrue(os.access(scratch + argv[0], os.X_OK))
            icon = keys.get_string("Desktop Entry", "Icon")
            self.assertTrue(os.path.isfile(os.path.join(data, "icons", "hicolor", "scalable", "apps", icon + ".svg")))
            metainfo = ElementTree.parse(os.path.join(data, "metainfo", DESKTOP_ID + ".metainfo.xml")).getroot()
            self.assertEqual(metainfo.findtext("launchable[@type='desktop-id']"), os.path.basename(entry))
            self.assertEqual(metainfo.find("releases/release").get("version"), OPTIONS.version)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build", required=True)
    parser.add_argument("--datadir", required=True)
    parser.add_argument("--version", required=True)
    OPTIONS, rest = parser.parse_known_args()
    sys.dont_write_bytecode = True
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
