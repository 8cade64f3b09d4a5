"""The uninstaller's guard rails end to end. A product is installed; then its remembered
installation folder ("Install Path") is damaged to each dangerous folder in turn, and each of
those folders is given files under the names of the product's FILE LIST. The real uninstaller
refuses every one: exit code 3, one line in its log (and, run interactively, a box) that says
why, and nothing removed: the files and folders of drive C: (the temporary folder with them)
and the registry are as before. With the folder set right again, the same uninstaller removes
the product. Items that leave their folder ("..", "$5") are left where they are."""
import os
import re
import unittest

from harness import windows_path
from test_uninstall import BIG, HELPERS, KEY, README, UninstallCase, product_script

DECOYS = ("readme.txt", "bin\\comserver.dll", "data\\deep\\big.dat")


class GuardRailTest(UninstallCase):
    def setUp(self):
        super().setUp()
        code, output = self.wine.run("cmd", ["/c", "echo", "%TEMP%;%USERPROFILE%"])
        self.assertEqual(code, 0, output)
        self.temp, self.profile = output.strip().split(";")

    def unix(self, folder):
        """The folder of a Windows path on drive C: in this prefix, or None."""
        if not re.match(r"^[cC]:[\\/]", folder):
            return None
        return os.path.join(self.drive_c, *[p for p in re.split(r"[\\/]+", folder[3:]) if p])

    def tree(self):
        """Every file and folder of drive C: with its size, the temporary folder included; the
        uninstaller's own log left out."""
        found = set()
        for root, folders, names in os.walk(self.drive_c):
            for name in folders + names:
                path = os.path.join(root, name)
                if name != "uninstall.log":
                    found.add((os.path.relpath(path, self.drive_c),
                               os.path.getsize(path) if os.path.isfile(path) else -1))
        return found

    def remember(self, value, kind="REG_SZ"):
        code, output = self.wine.run("reg", ["add", "HKCU\\" + KEY, "/v", "Install Path", "/t",
                                             kind, "/d", value, "/f"])
        self.assertEqual(code, 0, output)

    def plant_decoys(self, folder):
        """Files under the FILE LIST's names in folder, where it is a folder of drive C: that
        lacks them; their paths."""
        base = self.unix(folder)
        planted = []
        if not base or not os.path.isdir(base):
            return planted
        for decoy in DECOYS:
            path = os.path.join(base, *decoy.split("\\"))
            if os.path.exists(path):
                continue
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(b"not the product's\r\n")
            planted.append(path)
        return planted

    def remove_decoys(self, planted, folder):
        base = self.unix(folder)
        for path in planted:
            os.remove(path)
            parent = os.path.dirname(path)
            while parent != base and not os.listdir(parent):
                os.rmdir(parent)
                parent = os.path.dirname(parent)

    def test_every_dangerous_installation_folder_is_refused_and_nothing_removed(self):
        profile, temp = self.profile, self.temp
        rows = [
            ("", "no usable installation folder is known"),
            ("Rocket", "its installation folder 'Rocket\\' is not a plain full path on a drive"),
            ("\\\\server\\share\\Rocket",
             "its installation folder '\\\\server\\share\\Rocket\\' is not a plain full path on "
             "a drive"),
            ("C:\\", "its installation folder 'C:\\' is the root of a drive"),
            ("C:\\windows", "its installation folder 'C:\\windows\\' is the Windows folder"),
            ("C:\\windows.", "its installation folder 'C:\\windows.\\' is the Windows folder"),
            ("c:/WINDOWS/System32",
             "its installation folder 'c:/WINDOWS/System32\\' is the system folder"),
            ("C:\\windows\\syswow64\\",
             "its installation folder 'C:\\windows\\syswow64\\' is the system folder"),
            ("C:\\Program Files\\",
             "its installation folder 'C:\\Program Files\\' is the Program Files folder"),
            ("C:\\Program Files (x86)",
             "its installation folder 'C:\\Program Files (x86)\\' is the Program Files folder"),
            ("C:\\Program Files\\Common Files",
             "its installation folder 'C:\\Program Files\\Common Files\\' is the Common Files "
             "folder"),
            ("C:\\Program Files\\Rocket\\..\\..\\windows",
             "its installation folder 'C:\\Program Files\\Rocket\\..\\..\\windows\\' has a name "
             "made of dots"),
            (temp, "its installation folder '%s\\' is the temporary folder" % temp),
            (profile, "its installation folder '%s\\' is your profile folder" % profile),
            ("C:\\users", "its installation folder 'C:\\users\\' is the folder of the profiles"),
            ("C:\\users\\Public",
             "its installation folder 'C:\\users\\Public\\' is the shared profile folder"),
            ("C:\\ProgramData",
             "its installation folder 'C:\\ProgramData\\' is the application data folder"),
            (profile + "\\AppData",
             "its installation folder '%s\\AppData\\' holds the application data folder"
             % profile),
        ]
        # The folders of 32-bit programs on 64-bit Windows: a 32-bit prefix has none, and
        # there they are refused as folders that do not exist.
        for at, (folder, why) in enumerate(rows):
            if folder in ("C:\\windows\\syswow64\\", "C:\\Program Files (x86)") and \
                    not os.path.isdir(self.unix(folder)):
                rows[at] = (folder, "its installation folder '%s\\' does not exist"
                            % folder.rstrip("\\"))
        self.install()
        for folder, why in rows:
            with self.subTest(folder=folder):
                self.remember(folder)
                self.refused_quietly(folder, why)
        with self.subTest(folder="a number"):
            self.remember("1", "REG_DWORD")
            self.refused_quietly("", "no usable installation folder is known")
        # The same uninstaller with the folder set right again removes the product.
        self.remember(self.unix_to_windows(self.target) + "\\")
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.assertIsNotNone(self.gone(self.target))

    def unix_to_windows(self, path):
        return "C:\\" + os.path.relpath(path, self.drive_c).replace("/", "\\")

    def refused_quietly(self, folder, why):
        planted = self.plant_decoys(folder)
        try:
            files, registry = self.tree(), self.registry()
            program = os.path.join(self.target, "uninst.exe")
            result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 3, result.output + self.uninstall_log())
            self.assertEqual(result.windows, [])
            log = self.uninstall_log()
            self.assertIn("Quiet: [Rocket Uninstall] Rocket was not removed: %s. Nothing was "
                          "removed. -> OK\n" % why, log)
            self.assertEqual(log.count("was not removed"), 1, log)
            self.assertNotIn("Removed", log)
            self.assertEqual(self.tree(), files)
            self.assertEqual(self.registry(), registry)
            for path in planted:
                self.assertTrue(os.path.isfile(path), path)
        finally:
            self.remove_decoys(planted, folder)

    def test_an_interactive_run_shows_why_in_a_box(self):
        self.install()
        self.remember("C:\\windows\\")
        planted = self.plant_decoys("C:\\windows\\")
        self.addCleanup(self.remove_decoys, planted, "C:\\windows\\")
        files, registry = self.tree(), self.registry()
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, ["-debug"], default="OK")
        self.assertEqual(result.code, 3)
        text = ("Rocket was not removed: its installation folder 'C:\\windows\\' is the Windows "
                "folder. Nothing was removed.")
        self.assertEqual([(b.title, b.text) for b in result.boxes], [("Rocket Uninstall", text)])
        log = self.uninstall_log()
        self.assertIn(text + "\n", log)
        self.assertEqual(log.count("was not removed"), 1, log)
        self.assertEqual(self.tree(), files)
        self.assertEqual(self.registry(), registry)

    def test_items_that_leave_their_folder_are_left_alone(self):
        # The setup writes "..\Rocket-notes.txt" beside the installation folder and "$5here.txt"
        # into its current folder; the uninstaller removes neither: the one climbs out of its
        # folder, the other's folder is the uninstaller's current one, not the setup's.
        install_dat = product_script().replace(
            b"$1rocket.ini", b"$1rocket.ini,..\\Rocket-notes.txt,$5here.txt")
        with open(os.path.join(HELPERS, "comserver.dll"), "rb") as server:
            setup = self.pack({"install.dat": install_dat, "readme.txt": README,
                               "bin\\comserver.dll": server.read(), "data\\deep\\big.dat": BIG,
                               "rocket.ini": b"[Rocket]\r\n", "..\\Rocket-notes.txt": b"notes\r\n",
                               "here.txt": b"here\r\n"})
        notes = os.path.join(os.path.dirname(self.target), "Rocket-notes.txt")
        self.addCleanup(lambda: os.path.exists(notes) and os.remove(notes))
        here = os.path.join(self.folder, "here.txt")
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], cwd=self.folder)
        self.assertEqual(result.code, 1, self.log())
        self.assertTrue(os.path.isfile(notes) and os.path.isfile(here))
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, ["-Quiet", "-debug"], cwd=self.folder)
        self.assertEqual(result.code, 1, self.uninstall_log())
        log = self.uninstall_log()
        for path in ("C:\\Program Files\\Rocket\\..\\Rocket-notes.txt",
                     windows_path(here)):
            self.assertIn("Not removed, outside its folder: '%s'\n" % path, log)
        self.assertTrue(os.path.isfile(notes) and os.path.isfile(here))
        self.assertFalse(os.path.exists(os.path.join(self.target, "readme.txt")))
        self.assertIsNotNone(self.gone(self.target))


if __name__ == "__main__":
    unittest.main()
