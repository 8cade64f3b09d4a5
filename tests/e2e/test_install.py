"""INSTALL end to end: real setup.exe files built by ffspack run under Wine. The listed files
land under the Wine prefix's drive_c byte for byte (raw and Type2 entries, subfolders), the
directory is remembered in the registry, the uninstaller carries the scrambled script, the robot
answers the overwrite question, and a file that cannot be written gives its problem box and a
failed run."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import unittest

from harness import FFSPACK, STUB, SetupCase, script

KEY = "Software\\TesselE2E\\Install"
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TARGET = "C:\\Program Files\\Rocket\\"

README = b"Rocket 2.1\r\nRead me first.\r\n"
BIG = b"".join(b"line %05d of the big data file\r\n" % i for i in range(3000))  # Type2
TOOL = b"".join(hashlib.sha256(b"%d" % i).digest() for i in range(24))  # stored raw
UNINSTALLER = b"MZ\x90\x00" + bytes(range(200)) + b"the uninstaller"


def scramble_key():
    """The key the setup and the uninstaller share, as its header defines it."""
    with open(os.path.join(SOURCE, "formats", "uninst.h"), encoding="ascii") as header:
        return re.search(r'#define UNINST_KEY "([^"]*)"', header.read()).group(1).encode()


def unscramble(data, key):
    """Byte i was XORed with key[i mod n], with i mod n and with i mod 256."""
    return bytes(b ^ key[i % len(key)] ^ (i % len(key)) ^ (i & 0xFF) for i, b in enumerate(data))


def setup_script(file_list, uninstall_name="uninst.exe"):
    commands = [("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", "Rocket"),
                ("INSTALL SIZE", "120"), ("REGISTRY PATH", KEY)]
    if uninstall_name:
        commands.append(("UNINSTALL NAME", uninstall_name))
    commands += [("FILE LIST", file_list), ("BREAK", ""), ("INSTALL PATH", "Where to?"),
                 ("INSTALL", "")]
    return script(*commands)


def deep_tree_input():
    """Bytes whose Type2 block does not decode back to them (the adaptive tree driven 17 levels
    deep, then a byte never seen before at the deepest leaf): seven literals with counts that
    grow like Fibonacci numbers, never repeating four bytes within a block of the window, runs
    of spaces, then 's'. The same construction as the builder's unit test."""
    counts = [179, 309, 492, 805, 1311, 2110, 3456]
    runs_total, blocks = 5460, 80
    data = bytearray()
    for j in range(blocks):
        runs = runs_total // blocks + (1 if j < runs_total % blocks else 0)
        data += b" " * (runs * 60)
        need = [(j + 1) * c // blocks - j * c // blocks for c in counts]
        seen, start = set(), len(data)
        while True:
            best = -1
            for i in range(7):
                if need[i] <= 0:
                    continue
                if len(data) - start >= 3 and bytes(data[-3:]) + bytes([97 + i]) in seen:
                    continue
                if best < 0 or need[i] > need[best]:
                    best = i
            if best < 0:
                break
            if len(data) - start >= 3:
                seen.add(bytes(data[-3:]) + bytes([97 + best]))
            data.append(97 + best)
            need[best] -= 1
    data += b" " * (69 * 60) + b"s"
    return bytes(data)


class RocketCase(SetupCase):
    """Setups that install into C:\\Program Files\\Rocket (self.target)."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.target = os.path.join(cls.wine.env["WINEPREFIX"], "drive_c", "Program Files",
                                  "Rocket")


class InstallTest(RocketCase):
    def setUp(self):
        super().setUp()
        self.forget()

    def tearDown(self):
        self.forget()
        super().tearDown()

    def forget(self):
        self.wine.run("reg", ["delete", "HKCU\\Software\\TesselE2E", "/f"])
        shutil.rmtree(self.target, ignore_errors=True)

    def build(self, install_dat):
        setup = self.pack({"install.dat": install_dat, "readme.txt": README, "data\\big.dat": BIG,
                           "bin\\tool.dll": TOOL, "uninst.exe": UNINSTALLER})
        listing = subprocess.run([FFSPACK, "list", setup, "data\\big.dat", "bin\\tool.dll"],
                                 check=True, stdout=subprocess.PIPE).stdout.decode()
        return setup, listing
    def installed(self, name):
        with open(os.path.join(self.target, *name.split("\\")), "rb") as data:
            return data.read()

    def remembered(self):
        code, output = self.wine.run("reg", ["query", "HKCU\\" + KEY, "/v", "Install Path"])
        self.assertEqual(code, 0, output)
        return output

    def test_quiet_run_installs_every_file_and_the_uninstaller(self):
        install_dat = setup_script("readme.txt,data\\big.dat,bin\\tool.dll")
        setup, listing = self.build(install_dat)
        self.assertRegex(listing, r"Type2\s+%d\s+[\d.]+%%\s+data\\big\.dat" % len(BIG))
        self.assertRegex(listing, r"raw\s+%d\s+100\.0%%\s+bin\\tool\.dll" % len(TOOL))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(result.boxes, [])
        self.assertEqual(self.installed("readme.txt"), README)
        self.assertEqual(self.installed("data\\big.dat"), BIG)
        self.assertEqual(self.installed("bin\\tool.dll"), TOOL)
        self.assertRegex(self.remembered(), r"Install Path\s+REG_SZ\s+C:\\Program Files\\Rocket\\")
        log = self.log()
        for line in ("readme.txt to %sreadme.txt [0x00000000]\n" % TARGET,
                     "data\\big.dat to %sdata\\big.dat [0x00000000]\n" % TARGET,
                     "bin\\tool.dll to %sbin\\tool.dll [0x00000000]\n" % TARGET):
            self.assertIn(line, log)

        uninstaller = self.installed("uninst.exe")
        size = len(UNINSTALLER)
        self.assertEqual(len(uninstaller), size + 4 + len(install_dat) + 4)
        self.assertEqual(uninstaller[:size], UNINSTALLER)
        self.assertEqual(uninstaller[size:size + 4], b"FFS?")
        self.assertEqual(int.from_bytes(uninstaller[-4:], "little"), size)
        scrambled = uninstaller[size + 4:-4]
        self.assertNotEqual(scrambled, install_dat)
        self.assertEqual(unscramble(scrambled, scramble_key()), install_dat)

    def test_the_user_keeps_an_existing_file_in_an_interactive_run(self):
        os.makedirs(self.target)
        with open(os.path.join(self.target, "readme.txt"), "wb") as old:
            old.write(b"the user's own notes")
        setup, _ = self.build(setup_script("$?readme.txt,$?data\\big.dat", uninstall_name=""))
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("already exists - overwrite?", "No"), ("Install Rocket into", "Yes"),
                   ("Installation Directory...", "Continue")])
        self.assertEqual(result.code, 1, result.boxes)
        questions = [box for box in result.boxes if box.title == "Overwrite confirmation..."]
        self.assertEqual([box.text for box in questions],
                         ["File 'readme.txt' already exists - overwrite?"])
        self.assertEqual(self.installed("readme.txt"), b"the user's own notes")
        self.assertEqual(self.installed("data\\big.dat"), BIG)  # new: no question
        self.assertFalse(os.path.exists(os.path.join(self.target, "uninst.exe")))

    def test_a_block_that_would_not_decode_back_is_stored_raw_and_installed_exactly(self):
        data = deep_tree_input()
        self.assertEqual(len(data), 340355)
        input_path = os.path.join(self.folder, "deep.txt")
        with open(input_path, "wb") as out:
            out.write(data)
        dat = os.path.join(self.folder, "install.dat")
        with open(dat, "wb") as out:
            out.write(setup_script("deep.txt", uninstall_name=""))
        setup = os.path.join(self.folder, "setup.exe")
        built = subprocess.run([FFSPACK, "build", "--stub", STUB, "-o", setup,
                                "install.dat=" + dat, "deep.txt=" + input_path],
                               check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertIn("'deep.txt': its Type2 block does not decode back to it (a code longer "
                      "than 16 bits); stored raw", built.stdout.decode())
        listing = subprocess.run([FFSPACK, "list", setup, "deep.txt"], check=True,
                                 stdout=subprocess.PIPE).stdout.decode()
        self.assertRegex(listing, r"340355 +raw +340355 +100\.0% +deep\.txt")
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(self.installed("deep.txt"), data)

    def test_a_file_that_cannot_be_written_fails_the_run(self):
        os.makedirs(os.path.join(self.target, "data", "big.dat"))  # a folder in its place
        setup, _ = self.build(setup_script("readme.txt,data\\big.dat,bin\\tool.dll"))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 2)
        self.assertEqual(result.windows, [])
        self.assertIn("Quiet: [Install problem...] Unable to create file '%sdata\\big.dat' -> OK\n"
                      % TARGET, self.log())
        self.assertEqual(self.installed("readme.txt"), README)  # written before: stays
        self.assertFalse(os.path.exists(os.path.join(self.target, "bin")))
        self.assertFalse(os.path.exists(os.path.join(self.target, "uninst.exe")))
        log = self.log()
        self.assertIn("Unable to create file '%sdata\\big.dat'\n" % TARGET, log)
        self.assertIn("Command Failed 'INSTALL'\n", log)


def middling(index, size):
    """Text-like bytes that Type2 compresses, different for each file."""
    line = b"file %d: the quick brown fox jumps over the lazy dog %%07d\r\n" % index
    data = b"".join(line % i for i in range(size // 40 + 1))
    return data[:size]


def dense(seed, size):
    """Bytes of 7 random bits each: Type2 saves an eighth of them at most."""
    return random.Random(seed).randbytes(size).translate(bytes(i & 0x7F for i in range(256)))


class InstallAheadTest(RocketCase):
    """Entries of 64 KB to 4 MB are decoded on two more threads while the one before is written:
    the same files, the same log lines in the list's order, and a failure still stops the
    installation at its item, whichever thread decoded the items after it. Two dense 4 MB
    entries in a row do not both fit the threads' memory: the second is decoded the ordinary
    way."""

    SIZES = [70000, 65536, 300000, 1 << 20, 4 << 20, (4 << 20) + 1, 65535, 100000]

    def setUp(self):
        super().setUp()
        shutil.rmtree(self.target, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.target, True)
        entries = {"f%d.dat" % i: middling(i, size) for i, size in enumerate(self.SIZES)}
        entries["tool.dll"] = TOOL  # raw, between them
        entries["g0.dat"], entries["g1.dat"] = dense(0, 4 << 20), dense(1, 4 << 20)
        items = (["f0.dat", "$?f1.dat", "tool.dll"] + ["f%d.dat" % i for i in range(2, 7)] +
                 ["g0.dat", "g1.dat", "f7.dat"])
        self.entries, self.names = entries, [item.replace("$?", "") for item in items]
        entries["install.dat"] = setup_script(",".join(items), uninstall_name="")
        self.setup = self.pack(entries)

    def lines(self):
        return [line for line in self.log().splitlines() if " to C:\\" in line]

    def test_every_file_in_place_and_the_log_in_the_lists_order(self):
        os.makedirs(self.target)
        with open(os.path.join(self.target, "f1.dat"), "wb") as mine:
            mine.write(b"kept: $? in a quiet run")
        result = self.wine.run_with_robot(self.setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        for name in self.names:
            with open(os.path.join(self.target, name), "rb") as installed:
                expected = b"kept: $? in a quiet run" if name == "f1.dat" else self.entries[name]
                self.assertEqual(installed.read(), expected, name)
        self.assertEqual(self.lines(), ["%s to %s%s [0x%08X]" % (name, TARGET, name,
                                                                 1 if name == "f1.dat" else 0)
                                        for name in self.names])

    def test_a_failed_item_stops_the_installation_whichever_thread_decoded_the_next(self):
        for failing in ("f2.dat", "f3.dat", "f4.dat", "g0.dat"):
            shutil.rmtree(self.target, ignore_errors=True)
            os.makedirs(os.path.join(self.target, failing))  # a folder in its place
            result = self.wine.run_with_robot(self.setup, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 2, failing)
            log = self.log()
            self.assertIn("Unable to create file '%s%s'\n" % (TARGET, failing), log)
            self.assertIn("Command Failed 'INSTALL'\n", log)
            at = self.names.index(failing)
            self.assertEqual(len(self.lines()), at + 1, failing)
            for name in self.names[:at]:
                self.assertTrue(os.path.isfile(os.path.join(self.target, name)), name)
            for name in self.names[at + 1:]:
                self.assertFalse(os.path.exists(os.path.join(self.target, name)), name)


if __name__ == "__main__":
    unittest.main()
