"""The uninstaller end to end: a real setup installs a product with files in nested folders and
in a macro folder, a two-level program group with shortcuts, a COM server and a running window
to close; the uninstaller that the builder bundled removes it again, started the way the
control panel starts it (Wine's own uninstaller tool and the entry's UninstallString) or the
way a deployment tool does (QuietUninstallString). Afterwards the prefix's files and registry
are as before the installation, except a file the user made, which stays with its folder."""
import glob
import os
import re
import shutil
import time
import unittest

from harness import BUILD, SetupCase, script, windows_path

HELPERS = os.path.join(BUILD, "tests", "helpers")
UNINSTALLER = os.path.join(BUILD, "install", "uninst.exe")
ENTRY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme Rocket"
KEY = "Software\\TesselE2E\\Rocket"
TARGET = "C:\\Program Files\\Rocket\\"
README = b"Rocket 2.1\r\nRead me first.\r\n"
BIG = b"".join(b"line %05d of the big data file\r\n" % i for i in range(3000))
QUESTION = "Do you want to remove Rocket and all of its components?"


def product_script(uninstall_name="uninst.exe", registry_path=KEY, install_dir="Rocket"):
    settings = [("REGISTRY PATH", registry_path)] if registry_path else []
    return script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", install_dir),
                  *settings, ("UNINSTALL NAME", uninstall_name),
                  ("FILE LIST", "readme.txt,bin\\comserver.dll,data\\deep\\big.dat,"
                                "$1rocket.ini"),
                  ("BREAK", ""), ("WINDOW", "0", "2000", "Rocket", "RocketMain", "", "Close Rocket"),
                  ("INSTALL PATH", "Where to?"), ("INSTALL", ""),
                  ("OLE", "REGISTER", "bin\\comserver.dll"),
                  ("CREATE GROUP", "Acme\\Rocket"),
                  ("ADD ITEM", "0", "readme.txt", "", "Read Me"),
                  ("ADD ITEM", "0", "data\\deep\\big.dat", "", "Big Data"),
                  ("DONE", "Rocket is installed."))




class UninstallCase(SetupCase):
    uninstall_name = "uninst.exe"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.drive_c = os.path.join(cls.wine.env["WINEPREFIX"], "drive_c")
        cls.target = os.path.join(cls.drive_c, "Program Files", "Rocket")

    def setUp(self):
        super().setUp()
        self.server_log = os.path.join(self.folder, "server.log")
        self.wine.env["TESSEL_SERVER_LOG"] = windows_path(self.server_log)
        self.addCleanup(self.wine.env.pop, "TESSEL_SERVER_LOG", None)
        self.forget()
        self.addCleanup(self.forget)

    def forget(self):
        self.wine.run("reg", ["delete", ENTRY, "/f"])
        self.wine.run("reg", ["delete", "HKCU\\Software\\TesselE2E", "/f"])
        shutil.rmtree(self.target, ignore_errors=True)
        for path in glob.glob(os.path.join(self.drive_c, "windows", "rocket.ini")):
            os.remove(path)
        self.wine.run("reg", ["delete", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                              "SharedDLLs", "/v", "C:\\windows\\rocket.ini", "/f"])
        for programs in glob.glob(os.path.join(self.drive_c, "users", "*", "**", "Programs"),
                                  recursive=True):
            shutil.rmtree(os.path.join(programs, "Acme"), ignore_errors=True)

    def files(self):
        """Every file and folder under drive_c, without the temporary folders (logs, the
        uninstaller's clean-up copy) and Wine's own caches."""
        found = set()
        for root, folders, names in os.walk(self.drive_c):
            folders[:] = [f for f in folders if f.lower() not in ("temp", "installer")]
            rel = os.path.relpath(root, self.drive_c)
            found.update(os.path.join(rel, name) for name in folders + names)
        return found

    def registry(self):
        """The registry parts a product touches, exported as text."""
        text = ""
        for key in ("HKCU\\Software", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"):
            path = os.path.join(self.folder, "export.reg")
            # Wine's reg once ended with 1 and said nothing, in a full test run beside other
            # Wine tests: one more try. A key that is missing fails both.
            for _ in range(2):
                code, output = self.wine.run("reg", ["export", key, windows_path(path), "/y"])
                if code == 0:
                    break
            self.assertEqual(code, 0, output)
            with open(path, "rb") as export:
                text += export.read().decode("utf-16", errors="replace")
        return text

    def window(self):
        """The product's running window; the helper process."""
        return self.start_helper("--window", "RocketMain", "Rocket")

    def install(self, install_dat=None):
        setup = self.pack({"install.dat": install_dat or product_script(), "readme.txt": README,
                           "bin\\comserver.dll": open(os.path.join(HELPERS, "comserver.dll"),
                                                      "rb").read(),
                           "data\\deep\\big.dat": BIG, "rocket.ini": b"[Rocket]\r\nfast=1\r\n"})
        runner = self.window()
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(runner.wait(timeout=30), 0)  # WINDOW closed it
        uninstaller = os.path.join(self.target, *self.uninstall_name.split("\\"))
        self.assertTrue(os.path.isfile(uninstaller))
        with open(uninstaller, "rb") as installed, \
                open(UNINSTALLER, "rb") as ours:
            self.assertTrue(installed.read().startswith(ours.read()), "not our uninstaller")

    def entry_value(self, name):
        code, output = self.wine.run("reg", ["query", ENTRY, "/v", name])
        self.assertEqual(code, 0, output)
        return re.search(r"REG_SZ\s+(.*?)\r?$", output, re.M).group(1)

    def uninstall_log(self):
        logs = glob.glob(os.path.join(self.drive_c, "users", "*", "**", "uninstall.log"),
                         recursive=True)
        self.assertTrue(logs, "no uninstall.log in the temporary folder")
        with open(max(logs, key=os.path.getmtime), "rb") as log:
            return log.read().decode("latin-1").replace("\r\n", "\n")

    def gone(self, path, seconds=30):
        """Seconds until path is gone, or None."""
        start = time.time()
        while os.path.exists(path):
            if time.time() - start > seconds:
                return None
            time.sleep(0.05)
        return time.time() - start


class UninstallTest(UninstallCase):
    def test_quiet_removal_leaves_the_machine_as_before_but_the_users_file(self):
        files, registry = self.files(), self.registry()
        self.install()
        self.assertRegex(self.entry_value("QuietUninstallString"), r'^".*uninst\.exe" -Quiet$')
        mine = os.path.join(self.target, "my notes.txt")
        with open(mine, "w") as notes:
            notes.write("mine")
        runner = self.window()
        command = self.entry_value("QuietUninstallString")
        program = command[1:command.index('"', 1)]
        result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.assertEqual([w for w in result.windows if w[0] != "RocketMain"], [])
        self.assertEqual(runner.wait(timeout=30), 0)  # the product's window was closed
        seconds = self.gone(os.path.join(self.target, "uninst.exe"))
        self.assertIsNotNone(seconds, "the uninstaller's file is still there")
        print("uninstaller file gone %.2f s after the exit" % seconds)
        self.assertEqual(self.files(), files | {"Program Files/Rocket",
                                                "Program Files/Rocket/my notes.txt"})
        self.assertEqual(self.registry(), registry)
        with open(self.server_log) as record:
            self.assertEqual(record.read(), "DllRegisterServer\nDllUnregisterServer\n")
        log = self.uninstall_log()
        self.assertIn("Removed '%sdata\\deep\\big.dat'\n" % TARGET, log)
        self.assertIn("Quiet: [Rocket Uninstall] Rocket was removed from your computer. -> OK\n",
                      log)

    def test_without_a_remembered_folder_the_uninstallers_own_folder_is_removed(self):
        # No REGISTRY PATH: the installation folder is found from the uninstaller's place, two
        # levels up from "bin\uninst.exe", and the clean-up copy removes both folders.
        files, registry = self.files(), self.registry()
        self.uninstall_name = "bin\\uninst.exe"
        self.install(product_script("bin\\uninst.exe", registry_path=""))
        program = os.path.join(self.target, "bin", "uninst.exe")
        result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.assertIn("Install Path   : %s\n" % TARGET, self.uninstall_log())
        self.assertIsNotNone(self.gone(self.target))
        self.assertEqual(self.files(), files)
        self.assertEqual(self.registry(), registry)

    def test_empty_folders_above_a_nested_installation_folder_go_with_it(self):
        # "Acme\Rocket" below Program Files: an empty "Acme" goes too, one that holds a file of
        # the user's stays; Program Files itself always stays.
        files = self.files()
        acme = os.path.join(self.drive_c, "Program Files", "Acme")
        self.addCleanup(shutil.rmtree, acme, True)
        self.target = os.path.join(acme, "Rocket")
        for keep in (None, os.path.join(acme, "keep.txt")):
            self.install(product_script(install_dir="Acme\\Rocket"))
            if keep:
                with open(keep, "w") as mine:
                    mine.write("mine")
            program = os.path.join(self.target, "uninst.exe")
            result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 1, self.uninstall_log())
            self.assertIsNotNone(self.gone(self.target))
            if keep:
                time.sleep(1)  # the clean-up copy has ended: what stays, stays
                self.assertEqual(self.files(), files | {"Program Files/Acme",
                                                        "Program Files/Acme/keep.txt"})
            else:
                self.assertIsNotNone(self.gone(acme), "the empty parent folder stayed")
                self.assertEqual(self.files(), files)

    def test_the_control_panels_way_asks_shows_progress_and_tells_what_was_removed(self):
        files, registry = self.files(), self.registry()
        self.install()
        self.assertRegex(self.entry_value("UninstallString"), r'^".*uninst\.exe"$')
        result = self.wine.run_with_robot(
            "uninstaller", ["--remove", "Acme Rocket"],
            press=[(QUESTION, "Yes"), ("was removed", "OK")])
        titles = [(b.title, b.text) for b in result.boxes if b.title != "Please wait..."]
        self.assertEqual(titles, [("Rocket Uninstall", QUESTION),
                                  ("Rocket Uninstall", "Rocket was removed from your computer.")])
        self.assertIn("Please wait...", [b.title for b in result.boxes])
        self.assertIsNotNone(self.gone(os.path.join(self.target, "uninst.exe")))
        self.assertEqual(self.files(), files)
        self.assertEqual(self.registry(), registry)

    def test_no_leaves_everything_in_place(self):
        self.install()
        files, registry = self.files(), self.registry()
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, ["-debug"], press=[(QUESTION, "No")])
        self.assertEqual(result.code, 2)
        self.assertEqual([b.text for b in result.boxes], [QUESTION])
        self.assertEqual(self.files(), files)
        self.assertEqual(self.registry(), registry)

    def test_a_file_in_use_waits_for_the_restart_and_is_named(self):
        self.install()
        held = os.path.join(self.target, "data", "deep", "big.dat")
        holder = self.start_helper("--hold", windows_path(held))
        program = os.path.join(self.target, "uninst.exe")
        result = self.wine.run_with_robot(program, ["-debug"],
                                          press=[(QUESTION, "Yes"), ("removed", "OK")])
        self.assertEqual(result.code, 1, self.uninstall_log())
        closing = [b.text for b in result.boxes if "was removed" in b.text]
        self.assertEqual(len(closing), 1, result.boxes)
        self.assertIn("will be removed when Windows restarts", closing[0])
        self.assertIn("%sdata\\deep\\big.dat" % TARGET, closing[0])
        self.assertTrue(os.path.exists(held))  # still there until the restart
        self.assertFalse(os.path.exists(os.path.join(self.target, "readme.txt")))
        code, pending = self.wine.run("reg", ["query", "HKLM\\System\\CurrentControlSet\\Control"
                                              "\\Session Manager", "/v",
                                              "PendingFileRenameOperations"])
        self.assertIn("big.dat", pending)
        self.assertIn("In use, removed at the next restart: '%sdata\\deep\\big.dat'"
                      % TARGET, self.uninstall_log())
        holder.kill()

    def test_a_damaged_uninstaller_removes_nothing(self):
        self.install()
        program = os.path.join(self.target, "uninst.exe")
        with open(program, "rb") as original:
            data = original.read()
        at = data.rindex(b"FFS?")
        files, registry = self.files(), self.registry()
        for damaged in (data[:at] + b"FFS!" + data[at + 4:], data[:-10]):
            with open(program, "wb") as out:
                out.write(damaged)
            result = self.wine.run_with_robot(program, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 3)
            self.assertEqual(result.windows, [])
            self.assertIn("Quiet: [Uninstall] The uninstaller has been damaged. -> OK\n",
                          self.uninstall_log())
            result = self.wine.run_with_robot(program, [], default="OK")
            self.assertEqual(result.code, 3)
            self.assertEqual([(b.title, b.text) for b in result.boxes],
                             [("Uninstall", "The uninstaller has been damaged.")])
            self.assertEqual(self.files(), files)
            self.assertEqual(self.registry(), registry)


if __name__ == "__main__":
    unittest.main()
