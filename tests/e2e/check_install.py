"""Installs the build into a scratch folder and checks what a desktop gets: a valid menu entry whose
command is the installed executable, the icon it names in every hicolor size, and the AppStream file
that points back at the entry.

    /usr/bin/python3 check_install.py --build BUILD_FOLDER --datadir KESTRELLA_DESKTOP_DATADIR
"""

import argparse
import os
import struct
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


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n":
        raise AssertionError(f"{path} is not a PNG picture")
    return struct.unpack(">II", header[16:24])


class InstallTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="kestrella-install-")
        # DESTDIR keeps every file in the scratch folder, even with a data folder given as an absolute path.
        env = dict(os.environ, DESTDIR=cls.scratch.name)
        subprocess.run(["cmake", "--install", OPTIONS.build, "--prefix", PREFIX], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        datadir = OPTIONS.datadir if os.path.isabs(OPTIONS.datadir) else os.path.join(PREFIX, OPTIONS.datadir)
        cls.data = cls.scratch.name + datadir
        cls.entry = os.path.join(cls.data, "applications", DESKTOP_ID + ".desktop")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def entry_value(self, key):
        keys = GLib.KeyFile()
        keys.load_from_file(self.entry, GLib.KeyFileFlags.NONE)
        return keys.get_string("Desktop Entry", key)

    def test_executable_is_in_the_application_folder(self):
        self.assertTrue(os.access(self.scratch.name + PREFIX + "/kestrella", os.X_OK))

    def test_entry_is_valid_and_starts_the_installed_executable(self):
        checked = subprocess.run(["desktop-file-validate", self.entry], capture_output=True, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        # GLib reads the command the way the desktop starts it: string unescaping, then shell-style quoting.
        ok, argv = GLib.shell_parse_argv(self.entry_value("Exec"))
        self.assertTrue(ok)
        self.assertEqual(argv, [PREFIX + "/kestrella"])

    def test_icon_named_by_the_entry_is_installed_in_every_size(self):
        icon = self.entry_value("Icon")
        self.assertEqual(icon, DESKTOP_ID)
        hicolor = os.path.join(self.data, "icons", "hicolor")
        for size in (16, 24, 32, 48, 64, 128, 256):
            with self.subTest(size=size):
                self.assertEqual(png_size(os.path.join(hicolor, f"{size}x{size}", "apps", icon + ".png")),
                                 (size, size))
        self.assertTrue(os.path.isfile(os.path.join(hicolor, "scalable", "apps", icon + ".svg")))

    def test_metainfo_names_the_entry(self):
        metainfo = os.path.join(self.data, "metainfo", DESKTOP_ID + ".metainfo.xml")
        component = ElementTree.parse(metainfo).getroot()
        self.assertEqual(component.findtext("id"), DESKTOP_ID)
        self.assertEqual(component.findtext("launchable[@type='desktop-id']"),
                         os.path.basename(self.entry))
        self.assertEqual(component.find("releases/release").get("version"), OPTIONS.version)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--build", required=True)
    parser.add_argument("--datadir", required=True)
    parser.add_argument("--version", required=True)
    OPTIONS, rest = parser.parse_known_args()
    sys.dont_write_bytecode = True
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
