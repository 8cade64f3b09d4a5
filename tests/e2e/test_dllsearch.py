"""The restricted DLL search end to end, and the uninstaller's clean-up copy. A test DLL
(tests/helpers/planted.cpp) that records its loading in a marker file lies beside the setup,
beside the installed uninstaller and in the temporary folder under the name msimg32.dll, and
Wine is told to prefer a native DLL of that name. The common controls' theme code loads that
DLL lazily (a delay-loaded import of uxtheme) once a themed window paints: a program without
the restriction loads the planted one from beside itself, as the helper program shows. Neither
the setup nor the uninstaller and its copy load it, quiet or interactive. The clean-up copy
runs from a folder of its own with 128 random bits in its name, which is gone once the copy is
done; the copy's file waits in the temporary folder for the restart (a new Wine session)."""
import os
import re
import shutil
import unittest

from harness import BUILD, HELPER, windows_path
from test_uninstall import (BIG, HELPERS, QUESTION, README, UninstallCase, product_script)

PLANTED = os.path.join(BUILD, "tests", "helpers", "planted.dll")
NAME = "msimg32.dll"
PENDING = ["query", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager", "/v",
           "PendingFileRenameOperations"]


class DllSearchTest(UninstallCase):
    def setUp(self):
        super().setUp()
        self.marker = os.path.join(self.folder, "marker.txt")
        for name, value in (("TESSEL_PLANTED_MARKER", windows_path(self.marker)),
                            ("WINEDLLOVERRIDES", "mscoree,mshtml=;msimg32=n,b")):
            self.wine.env[name] = value
            self.addCleanup(self.wine.env.pop, name, None)
        code, output = self.wine.run("cmd", ["/c", "echo", "%TEMP%"])
        self.assertEqual(code, 0, output)
        self.temp = os.path.join(self.drive_c, *output.strip()[3:].split("\\"))
        self.assertTrue(os.path.isdir(self.temp), self.temp)

    def plant(self, folder):
        path = os.path.join(folder, NAME)
        shutil.copy(PLANTED, path)
        self.addCleanup(lambda: os.path.exists(path) and os.remove(path))

    def loads(self):
        """What the marker file says: one line per load of a planted DLL."""
        if not os.path.exists(self.marker):
            return ""
        with open(self.marker, encoding="latin-1", newline="") as marker:
            return marker.read()

    def setup_exe(self):
        return self.pack({"install.dat": product_script(), "readme.txt": README,
                          "bin\\comserver.dll": open(os.path.join(HELPERS, "comserver.dll"),
                                                     "rb").read(),
                          "data\\deep\\big.dat": BIG, "rocket.ini": b"[Rocket]\r\n"})

    def uninstall(self, args, **answers):
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, args, **answers)
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.assertIsNotNone(self.gone(program), "the clean-up copy did not run")
        return result

    def test_the_helper_without_the_restriction_loads_the_planted_dll(self):
        folder = os.path.join(self.folder, "control")
        os.mkdir(folder)
        shutil.copy(HELPER, folder)
        self.plant(folder)
        code, output = self.wine.run(os.path.join(folder, "helper.exe"), ["--load", NAME])
        self.assertEqual(code, 7, output)  # loaded, and its DllMain refused to stay
        self.assertEqual(self.loads(), "%s loaded by %s\r\n" % (
            windows_path(os.path.join(folder, NAME)), windows_path(os.path.join(folder,
                                                                                "helper.exe"))))

    def test_the_setup_loads_no_planted_dll_quiet_or_interactive(self):
        setup = self.setup_exe()
        self.plant(self.folder)
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], cwd=self.folder)
        self.assertEqual(result.code, 1, self.log())
        self.forget()
        result = self.wine.run_with_robot(
            setup, ["-debug"], cwd=self.folder, default="OK",
            press=[("Install Rocket into", "Yes"), ("Installation Directory...", "Continue")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertIn("Installation Directory...", [b.title for b in result.boxes])
        self.assertEqual(self.loads(), "")

    def test_the_uninstaller_and_its_copy_load_no_planted_dll(self):
        for args, answers in ((["-debug"], {"press": [(QUESTION, "Yes"), ("removed", "OK")]}),
                              (["-Quiet", "-debug"], {})):
            self.forget()
            self.install()
            self.plant(self.target)
            self.plant(self.temp)
            result = self.uninstall(args, **answers)
            if answers:
                self.assertIn("Please wait...", [b.title for b in result.boxes])
            self.assertEqual(self.loads(), "", args)
            self.assertIn("DLL search     : the system folder only\n", self.uninstall_log())

    def test_the_clean_up_copy_runs_from_a_random_folder_that_is_gone_afterwards(self):
        keep = self.start_helper("--window", "TesselKeepsTheSession", "Keep")  # one session
        copies = []
        for _ in range(2):
            self.install()
            self.uninstall(["-Quiet", "-debug"])
            found = re.search(r"^Clean-up copy  : (.*)\\uninst\.exe$", self.uninstall_log(), re.M)
            self.assertIsNotNone(found, self.uninstall_log())
            copy_folder = found.group(1)
            self.assertRegex(copy_folder, r"\\tsu-[0-9a-f]{32}$")
            name = copy_folder.rsplit("\\", 1)[1]
            self.assertIsNotNone(self.gone(os.path.join(self.temp, name)), "the folder stays")
            parked = os.path.join(self.temp, name + ".tmp")
            self.assertTrue(os.path.isfile(parked))
            code, pending = self.wine.run("reg", PENDING)
            self.assertIn(copy_folder + ".tmp", pending)
            copies.append(parked)
        self.assertNotEqual(copies[0], copies[1])
        keep.kill()
        self.wine.shutdown()
        self.wine.run("reg", PENDING)  # a new session: Wine's restart
        for parked in copies:  # the restart's deletions may come a moment after reg has ended
            self.assertIsNotNone(self.gone(parked), parked)


if __name__ == "__main__":
    unittest.main()
