"""What the uninstaller may remove, end to end: only what its setup wrote, only from the folder it
was installed into, never through a link out of it. A "$?" file that was there before and kept
stays, and so does a shared file in the system folder while other installations count it
(the SharedDLLs count, raised once per installation); a remembered folder that does not exist or
does not hold the running uninstaller is refused with nothing touched; a link inside the
installation folder leads nowhere outside; the clean-up mode works only for the uninstaller's own
temporary copy. Files and registry are compared before and after."""
import os
import re
import shutil
import unittest

from harness import windows_path
from test_uninstall import (BIG, ENTRY, HELPERS, KEY, README, TARGET, UninstallCase,
                            product_script)

SHARED_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs"
SHARED = "C:\\windows\\system32\\shared.dll"
FRESH = "C:\\windows\\system32\\fresh.dll"
RECORD = os.path.join("Program Files", "Rocket", "uninst.dat")


def read(path):
    with open(path, "rb") as file:
        return file.read()


def with_items(*items):
    """The product's script with more FILE LIST items."""
    return product_script().replace(b"$1rocket.ini", b"$1rocket.ini," + ",".join(items).encode())


class RemovalTrustTest(UninstallCase):
    def setUp(self):
        super().setUp()
        self.system32 = os.path.join(self.drive_c, "windows", "system32")
        for name in ("shared.dll", "fresh.dll"):
            self.addCleanup(self.drop, os.path.join(self.system32, name))
            self.addCleanup(self.wine.run, "reg",
                            ["delete", SHARED_KEY, "/v", "C:\\windows\\system32\\" + name, "/f"])

    @staticmethod
    def drop(path):
        if os.path.lexists(path):
            os.remove(path)

    def pack_product(self, install_dat, **more):
        with open(os.path.join(HELPERS, "comserver.dll"), "rb") as server:
            entries = {"install.dat": install_dat, "readme.txt": README,
                       "bin\\comserver.dll": server.read(), "data\\deep\\big.dat": BIG,
                       "rocket.ini": b"[Rocket]\r\nfast=1\r\n"}
        entries.update(more)
        return self.pack(entries)

    def run_quietly(self, program, expected=1):
        result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
        self.assertEqual(result.code, expected,
                         self.uninstall_log() if program.endswith("uninst.exe") else self.log())
        self.assertEqual(result.windows, [])
        return result

    def count(self, path):
        """The SharedDLLs count of path, or None."""
        code, output = self.wine.run("reg", ["query", SHARED_KEY, "/v", path])
        if code != 0:
            return None
        return int(re.search(r"REG_DWORD\s+0x([0-9a-f]+)", output).group(1), 16)

    def uninstaller(self):
        return os.path.join(self.target, "uninst.exe")

    def test_a_kept_file_stays_and_a_shared_file_goes_with_its_last_count(self):
        # shared.dll was there ("PRE") and is kept; fresh.dll is the setup's own; notes.txt in
        # the installation folder was there too and is kept.
        with open(os.path.join(self.system32, "shared.dll"), "wb") as pre:
            pre.write(b"PRE")
        os.makedirs(self.target, exist_ok=True)
        with open(os.path.join(self.target, "notes.txt"), "wb") as pre:
            pre.write(b"the user's notes")
        # fresh.dll has a count left over from an installation that is gone: it starts anew.
        self.wine.run("reg", ["add", SHARED_KEY, "/v", FRESH, "/t", "REG_DWORD", "/d", "5", "/f"])
        setup = self.pack_product(with_items("$?$2shared.dll", "$2fresh.dll", "$?notes.txt"),
                                  **{"shared.dll": b"NEW", "fresh.dll": b"FRESH",
                                     "notes.txt": b"product notes"})
        self.run_quietly(setup)
        self.assertEqual(read(os.path.join(self.system32, "shared.dll")), b"PRE")
        # The count of a file that was there without one starts from that one installation.
        self.assertEqual(self.count(SHARED), 2)
        self.assertEqual(self.count(FRESH), 1)
        self.assertIn("Shared file '%s': count 2\n" % SHARED, self.log())
        record = read(os.path.join(self.drive_c, RECORD)).decode()
        self.assertIn("KS %s\r\n" % SHARED, record)
        self.assertIn("WS %s\r\n" % FRESH, record)
        self.assertIn("K- %snotes.txt\r\n" % TARGET, record)
        # A second installation over the first raises no count again.
        self.run_quietly(setup)
        self.assertEqual((self.count(SHARED), self.count(FRESH)), (2, 1))

        self.run_quietly(self.uninstaller())
        log = self.uninstall_log()
        self.assertIn("Not removed, other installations still use this shared file: '%s'\n"
                      % SHARED, log)
        self.assertIn("Not removed, the setup kept the file that was there: '%snotes.txt'\n"
                      % TARGET, log)
        self.assertIn("Removed '%s'\n" % FRESH, log)
        self.assertIn("Shared file '%s': no count left\n" % FRESH, log)
        self.assertNotIn("Removed '%s'" % SHARED, log)
        self.assertEqual(read(os.path.join(self.system32, "shared.dll")), b"PRE")
        self.assertFalse(os.path.exists(os.path.join(self.system32, "fresh.dll")))
        self.assertEqual((self.count(SHARED), self.count(FRESH)), (1, None))
        self.assertEqual(read(os.path.join(self.target, "notes.txt")),
                         b"the user's notes")
        self.assertFalse(os.path.exists(os.path.join(self.drive_c, RECORD)))

    def test_a_damaged_record_removes_no_kept_file(self):
        setup = self.pack_product(with_items("$?mine.txt"), **{"mine.txt": b"product's"})
        self.run_quietly(setup)
        path = os.path.join(self.drive_c, RECORD)
        with open(path, "rb") as record:
            text = bytearray(record.read())
        self.assertIn(b"W- %smine.txt" % TARGET.encode(), text)
        text[text.index(b"W- ")] = ord("X")
        with open(path, "wb") as record:
            record.write(text)
        self.run_quietly(self.uninstaller())
        log = self.uninstall_log()
        self.assertIn("The install record '%suninst.dat' is damaged: no \"$?\" file is removed, "
                      "no shared count lowered\n" % TARGET, log)
        self.assertIn("Not removed, no install record says the setup wrote it: '%smine.txt'\n"
                      % TARGET, log)
        self.assertTrue(os.path.isfile(os.path.join(self.target, "mine.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.target, "readme.txt")))

    def refused(self, folder, why, planted=()):
        """The uninstaller with "Install Path" set to folder: exit code 3, the reason in its log,
        nothing touched."""
        code, output = self.wine.run("reg", ["add", "HKCU\\" + KEY, "/v", "Install Path", "/d",
                                             folder, "/f"])
        self.assertEqual(code, 0, output)
        files, registry = self.files(), self.registry()
        self.run_quietly(self.uninstaller(), expected=3)
        log = self.uninstall_log()
        self.assertIn("Quiet: [Rocket Uninstall] Rocket was not removed: its installation folder "
                      "'%s' %s. Nothing was removed. -> OK\n" % (folder, why), log)
        self.assertNotIn("Removed", log)
        self.assertEqual(self.files(), files)
        self.assertEqual(self.registry(), registry)
        self.assertTrue(os.path.isfile(self.uninstaller()))
        for path in planted:
            self.assertTrue(os.path.isfile(path), path)

    def test_a_folder_that_does_not_exist_or_lacks_the_uninstaller_is_refused(self):
        self.install()
        self.refused("C:\\nowhere\\Rocket\\", "does not exist")
        self.refused("C:\\PROGRA~1\\", "does not exist")
        drivers = os.path.join(self.system32, "drivers")
        planted = []
        for name in ("readme.txt", "bin\\comserver.dll"):
            path = os.path.join(drivers, *name.split("\\"))
            if not os.path.exists(path):
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as decoy:
                    decoy.write(b"not the product's")
                planted.append(path)
                self.addCleanup(self.drop, path)
        self.addCleanup(shutil.rmtree, os.path.join(drivers, "bin"), True)
        self.refused("C:\\windows\\system32\\drivers\\", "does not hold this uninstaller", planted)
        # Set right again, the same uninstaller removes the product.
        self.wine.run("reg", ["add", "HKCU\\" + KEY, "/v", "Install Path", "/d", TARGET, "/f"])
        self.run_quietly(self.uninstaller())
        self.assertIsNotNone(self.gone(self.target))

    def test_a_link_inside_the_installation_folder_leads_nowhere_outside(self):
        self.install()
        victim = os.path.join(self.drive_c, "victim")
        os.makedirs(victim, exist_ok=True)
        self.addCleanup(shutil.rmtree, victim, True)
        with open(os.path.join(victim, "comserver.dll"), "wb") as other:
            other.write(b"another program's")
        with open(os.path.join(victim, "big.dat"), "wb") as other:
            other.write(b"another program's data")
        # "bin" becomes a link to the victim's folder, "data\deep\big.dat" a link to its file.
        bin_folder = os.path.join(self.target, "bin")
        shutil.rmtree(bin_folder)
        os.symlink(victim, bin_folder)
        big = os.path.join(self.target, "data", "deep", "big.dat")
        os.remove(big)
        os.symlink(os.path.join(victim, "big.dat"), big)
        self.run_quietly(self.uninstaller())
        log = self.uninstall_log()
        for path in ("bin\\comserver.dll", "data\\deep\\big.dat"):
            self.assertIn("Not removed, it leads outside its folder: '%s%s'\n" % (TARGET, path),
                          log)
        self.assertEqual(sorted(os.listdir(victim)), ["big.dat", "comserver.dll"])
        self.assertFalse(os.path.exists(os.path.join(self.target, "readme.txt")))

    def test_the_clean_up_mode_is_only_for_the_uninstallers_own_copy(self):
        self.install()
        victim = os.path.join(self.drive_c, "victim2.txt")
        with open(victim, "wb") as other:
            other.write(b"another program's")
        self.addCleanup(self.drop, victim)
        # From the installed uninstaller; from a copy of it in a folder of another name; from a
        # copy where the uninstaller puts its own, for a file that is not what it was copied from.
        code, temp = self.wine.run("cmd", ["/c", "echo", "%TEMP%"])
        self.assertEqual(code, 0, temp)
        copies = []
        for folder in (os.path.join(self.drive_c, "users", "Public", "tsu-copy"),
                       os.path.join(self.drive_c, *temp.strip()[3:].split("\\"),
                                    "tsu-" + "0123456789abcdef" * 2)):
            os.makedirs(folder, exist_ok=True)
            self.addCleanup(shutil.rmtree, folder, True)
            copies.append(os.path.join(folder, "uninst.exe"))
            shutil.copy(self.uninstaller(), copies[-1])
        rows = ((self.uninstaller(), "is no clean-up copy"), (copies[0], "is no clean-up copy"),
                (copies[1], "'C:\\victim2.txt' is not the uninstaller of this copy"))
        for program, refused in rows:
            with self.subTest(program=program):
                result = self.wine.run_with_robot(
                    program, ["-Cleanup", "0", "C:\\victim2.txt", "C:\\x\\", "-debug"])
                self.assertEqual(result.code, 3)
                self.assertEqual(result.windows, [])
                self.assertIn("Clean-up refused: ", self.uninstall_log())
                self.assertIn(refused, self.uninstall_log())
                self.assertTrue(os.path.isfile(victim))
                self.assertTrue(os.path.isfile(program))
        self.assertTrue(os.path.isfile(self.uninstaller()))
        # The real run's copy still removes the uninstaller.
        self.run_quietly(self.uninstaller())
        self.assertIsNotNone(self.gone(self.target))
        self.assertTrue(os.path.isfile(victim))


if __name__ == "__main__":
    unittest.main()
