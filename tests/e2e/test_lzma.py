"""Setups built with --codec lzma, end to end under Wine: a product of a program, a DLL (the
example's Kestrel Clock and its chime), texts and the uninstaller installs quietly byte for byte
with exit code 1; a setup whose LZMA block of one file is damaged after the build (the stamp made
anew, so that only the entry is wrong) stops with the decoder's log line and exit code 2, and
leaves nothing of that file.

damage of data\\big.dat's block             exit  debug.log
-----------------------------------------  ----  ----------------------------------------
none                                       1     every file to its place
bytes of its stream flipped near its start 2     [LZMA] Failed to decompress
                                                 Unable to load 'data\\big.dat'
its size claimed 2,000,000,000 (the        2     the same
stream runs out long before)
"""
import os
import re
import shutil
import subprocess
import unittest

from harness import FFSPACK, SetupCase, program, restamp, script, windows_path

README = b"Kestrel Clock 1.0\r\nRead me first.\r\n"
BIG = b"".join(b"line %06d of the chime table, %d strokes\r\n" % (i, i % 12 + 1)
               for i in range(20000))
QUIET = ["-Quiet", "-debug"]


class LzmaSetups(SetupCase):
    def setUp(self):
        super().setUp()
        self.target = os.path.join(self.folder, "Kestrel")
        self.files = {
            "readme.txt": README,
            "data\\big.dat": BIG,
            "clock.exe": program("examples/kestrel-clock/clock.exe"),
            "chime.dll": program("examples/kestrel-clock/chime.dll"),
        }
        install = script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Kestrel Clock"),
                         ("INSTALL DIR", windows_path(self.target)), ("INSTALL SIZE", "1"),
                         ("UNINSTALL NAME", "uninst.exe"),
                         ("FILE LIST", ",".join(sorted(self.files))), ("BREAK", ""),
                         ("INSTALL PATH", "Where to?"), ("INSTALL", ""))
        self.uninstaller = program("install/uninst.exe")
        entries = dict(self.files, **{"install.dat": install, "uninst.exe": self.uninstaller})
        self.setup = self.pack(entries, options=["--codec", "lzma"])

    def listing(self):
        return subprocess.run([FFSPACK, "list", self.setup] + sorted(self.files) + ["uninst.exe"],
                              check=True, stdout=subprocess.PIPE).stdout.decode()

    def installed(self, name):
        with open(os.path.join(self.target, *name.split("\\")), "rb") as data:
            return data.read()

    def test_a_quiet_run_installs_every_file_byte_for_byte(self):
        listing = self.listing()
        # No solid group: the programs' blocks behind the x86 converter, one by one, are shorter
        # than one group of the four files without it. The text shrinks; the short readme does not
        # (a block has a 16-byte header) and is raw.
        self.assertRegex(listing, r" LZMA +%d +[\d.]+%%  data\\big\.dat\n" % len(BIG))
        self.assertRegex(listing, r" raw +%d +100\.0%%  readme\.txt\n" % len(README))
        for name in ("clock.exe", "chime.dll", "uninst.exe"):
            self.assertRegex(listing, r" LZMA(\+x86)? +\d+ +[\d.]+%%  %s\n" % re.escape(name))
        result = self.wine.run_with_robot(self.setup, QUIET)
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(result.boxes, [])
        for name, data in self.files.items():
            self.assertEqual(self.installed(name), data, name)
        # The uninstaller, loaded whole, with the script behind it.
        self.assertEqual(self.installed("uninst.exe")[:len(self.uninstaller)], self.uninstaller)

    def test_a_damaged_block_stops_the_run_and_leaves_nothing_of_its_file(self):
        with open(self.setup, "rb") as built:
            original = built.read()
        header = b"FFL@" + (~len(BIG) & 0xFFFFFFFF).to_bytes(4, "little")
        at = original.find(header)
        self.assertGreater(at, 0)
        stream = at + 16

        def flipped(data):
            for i in range(stream + 1, stream + 33):  # after the range coder's first byte
                data[i] ^= 0xFF

        def claimed(data):
            data[at + 4:at + 8] = (~2000000000 & 0xFFFFFFFF).to_bytes(4, "little")
        for what, damage in (("stream flipped", flipped), ("size claimed", claimed)):
            with self.subTest(what):
                data = bytearray(original)
                damage(data)
                with open(self.setup, "wb") as damaged:
                    damaged.write(restamp(bytes(data)))
                # The damage is real: the builder's own reader cannot decode the entry either,
                # while the stamp holds.
                verified = subprocess.run([FFSPACK, "verify", self.setup], stdout=subprocess.PIPE)
                report = verified.stdout.decode()
                self.assertIn("file intact", report)
                self.assertIn("cannot be decoded", report)
                result = self.wine.run_with_robot(self.setup, QUIET)
                log = self.log()
                self.assertEqual(result.code, 2, log)
                self.assertEqual(result.boxes, [])
                self.assertIn("[LZMA] Failed to decompress\n", log)
                self.assertIn("Unable to load 'data\\big.dat'\n", log)
                self.assertFalse(os.path.exists(os.path.join(self.target, "data", "big.dat")))
                os.remove(os.path.join(self.folder, "debug.log"))
                shutil.rmtree(self.target, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
