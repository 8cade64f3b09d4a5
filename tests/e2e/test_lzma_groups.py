"""Setups built with --codec lzma whose FILE LIST files share a solid group, end to end under
Wine: the group decoded once (by a read-ahead thread: it is larger than 64 KB), every file and a
copy stored once installed byte for byte with exit code 1; damage to the group after the build
(the stamp made anew, so that only the archive is wrong) stops the run with its log line and exit
code 2, and leaves nothing of the file that could not be read.

damage to <group 1>                         exit  debug.log
-----------------------------------------  ----  ------------------------------------------
none                                       1     every file to its place, the copy too
bytes of its stream flipped near its start 2     [LZMA] Failed to decompress
                                                 Unable to load 'chime.dll' (its first file)
its size claimed one byte short            2     [GROUP] Outside its source (...)
                                                 Unable to load 'readme.txt' (its last file)
"""
import os
import re
import shutil
import subprocess
import unittest

from harness import FFSPACK, SetupCase, program, restamp, script, windows_path

README = b"Kestrel Clock 1.0\r\nRead me first.\r\n" * 8
TABLE = b"".join(b"line %06d of the chime table, %d strokes\r\n" % (i, i % 12 + 1)
                 for i in range(6000))
QUIET = ["-Quiet", "-debug"]


class LzmaGroups(SetupCase):
    def setUp(self):
        super().setUp()
        self.target = os.path.join(self.folder, "Kestrel")
        # In list order (the group's order): chime.dll, clock.exe, data\table.dat, readme.txt and
        # docs\copy.txt, the readme again, stored once (wherever the group holds it).
        self.files = {
            "chime.dll": program("examples/kestrel-clock/chime.dll"),
            "clock.exe": program("examples/kestrel-clock/clock.exe"),
            "data\\table.dat": TABLE,
            "readme.txt": README,
            "docs\\copy.txt": README,
        }
        install = script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Kestrel Clock"),
                         ("INSTALL DIR", windows_path(self.target)), ("INSTALL SIZE", "1"),
                         ("UNINSTALL NAME", "uninst.exe"),
                         ("FILE LIST", ",".join(self.files)), ("BREAK", ""),
                         ("INSTALL PATH", "Where to?"), ("INSTALL", ""))
        self.uninstaller = program("install/uninst.exe")
        entries = dict(self.files, **{"install.dat": install, "uninst.exe": self.uninstaller})
        self.setup = self.pack(entries, options=["--codec", "lzma"])

    def listing(self):
        names = list(self.files) + ["uninst.exe", "<group 1>"]
        return subprocess.run([FFSPACK, "list", self.setup] + names, check=True,
                              stdout=subprocess.PIPE).stdout.decode()

    def group_size(self):
        row = re.search(r" LZMA +(\d+) +[\d.]+%  <group 1>", self.listing())
        self.assertIsNotNone(row, self.listing())
        return int(row.group(1))

    def installed(self, name):
        with open(os.path.join(self.target, *name.split("\\")), "rb") as data:
            return data.read()

    def test_the_group_and_the_copy_install_byte_for_byte(self):
        listing = self.listing()
        for name in ("chime.dll", "clock.exe", "data\\table.dat", "readme.txt"):
            self.assertRegex(listing, r" in <group 1> +%d +[\d.]+%%  %s\n"
                             % (len(self.files[name]), re.escape(name)))
        self.assertRegex(listing, r" in <group 1> +%d .*  docs\\copy\.txt\n" % len(README))
        # Four files in the group; the copy is not one of them.
        self.assertEqual(self.group_size(), sum(len(self.files[name]) for name in (
            "chime.dll", "clock.exe", "data\\table.dat", "readme.txt")))
        result = self.wine.run_with_robot(self.setup, QUIET)
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(result.boxes, [])
        for name, data in self.files.items():
            self.assertEqual(self.installed(name), data, name)
        self.assertEqual(self.installed("uninst.exe")[:len(self.uninstaller)], self.uninstaller)

    def test_a_damaged_group_stops_the_run_with_its_line(self):
        total = self.group_size()
        with open(self.setup, "rb") as built:
            original = built.read()
        header = b"FFL@" + (~total & 0xFFFFFFFF).to_bytes(4, "little")
        at = original.find(header)
        self.assertGreater(at, 0)

        def flipped(data):
            for i in range(at + 17, at + 49):  # after the range coder's first byte
                data[i] ^= 0xFF

        def short(data):
            data[at + 4:at + 8] = (~(total - 1) & 0xFFFFFFFF).to_bytes(4, "little")
        cases = (("stream flipped", flipped, "chime.dll",
                  ["[LZMA] Failed to decompress\n", "Unable to load 'chime.dll'\n"]),
                 ("size one byte short", short, "readme.txt",
                  ["[GROUP] Outside its source (%d + %d > %d)\n"
                   % (total - len(README), len(README), total - 1),
                   "Unable to load 'readme.txt'\n"]))
        for what, damage, broken, lines in cases:
            with self.subTest(what):
                data = bytearray(original)
                damage(data)
                with open(self.setup, "wb") as damaged:
                    damaged.write(restamp(bytes(data)))
                verified = subprocess.run([FFSPACK, "verify", self.setup], stdout=subprocess.PIPE)
                self.assertIn("cannot be decoded", verified.stdout.decode())
                result = self.wine.run_with_robot(self.setup, QUIET)
                log = self.log()
                self.assertEqual(result.code, 2, log)
                self.assertEqual(result.boxes, [])
                for line in lines:
                    self.assertIn(line, log)
                self.assertFalse(os.path.exists(os.path.join(self.target, broken)))
                os.remove(os.path.join(self.folder, "debug.log"))
                shutil.rmtree(self.target, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
