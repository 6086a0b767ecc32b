#!/usr/bin/python3
"""`cmake --install` of the Linux build puts the program, its .desktop file and its icons in the
standard places under the prefix.

Usage: install_test.py BUILD_FOLDER ICON_FOLDER"""

import configparser
import os
import subprocess
import sys
import tempfile
import unittest

BUILD_FOLDER = os.path.abspath(sys.argv.pop(1))
ICON_FOLDER = os.path.abspath(sys.argv.pop(1))


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


class Install(unittest.TestCase):
    def test_program_desktop_file_and_icons_land_under_the_prefix(self):
        with tempfile.TemporaryDirectory(prefix="beam-tailor-install-") as prefix:
            subprocess.run(["cmake", "--install", BUILD_FOLDER, "--prefix", prefix], check=True,
                           capture_output=True)

            program = os.path.join(prefix, "bin", "beam-tailor")
            self.assertTrue(os.access(program, os.X_OK))

            desktop = configparser.ConfigParser(interpolation=None)
            desktop.optionxform = str
            desktop.read(os.path.join(prefix, "share", "applications", "beam-tailor.desktop"), encoding="utf-8")
            entry = desktop["Desktop Entry"]
            self.assertEqual(entry["Type"], "Application")
            self.assertEqual(entry["Name"], "Beam Tailor")
            self.assertEqual(entry["Exec"], "beam-tailor")  # found on the PATH as installed above
            self.assertEqual(entry["Icon"], "beam-tailor")

            for size in (16, 32, 48, 64, 128, 256):
                installed = os.path.join(prefix, "share", "icons", "hicolor", f"{size}x{size}", "apps",
                                         f"{entry['Icon']}.png")
                self.assertEqual(read_bytes(installed), read_bytes(os.path.join(ICON_FOLDER, f"beam-tailor-{size}.png")))


if __name__ == "__main__":
    unittest.main()
