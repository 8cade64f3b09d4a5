"""Upgrades and deployment switches end to end: version 1.3 of a product, then 1.4 (which drops
tools\\export.exe and adds docs\\changes.txt) over it, quietly; the 1.4 uninstaller then leaves
the machine as before 1.3. An older version over a newer one is refused in a quiet run (exit
code 3, as for any refusal, with its own log line) and asked about in an interactive one. The
folder switch (-Dir=, /D=) wins over the remembered folder and passes the guard rails; the log
switch (-Log=) writes the log where a folder beside the setup cannot be written; a switch the
setup does not know stops a quiet run with exit code 3; -? lists the switches. Files, registry and logs are compared."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import script, windows_path
from test_uninstall import ENTRY, KEY, UninstallCase

NOTES = b"MZ notes " + bytes(range(256)) * 8
EXPORT = b"MZ export " + bytes(range(256)) * 4
README = b"Rocket notes\r\n"
CHANGES = b"1.4: export moved into notes.\r\n"
CONFIG = b"[notes]\r\nfont=8\r\n"
FILES_13 = "notes.exe,tools\\export.exe,docs\\readme.txt,$?config.ini"
FILES_14 = "notes.exe,docs\\readme.txt,docs\\changes.txt,$?config.ini"
APPS = "C:\\Apps\\Bramble\\"


def product(version, files):
    return script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"),
                  ("PRODUCT VERSION", version), ("INSTALL DIR", "Rocket"),
                  ("REGISTRY PATH", KEY), ("INSTALL SIZE", "12"),
                  ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", files), ("BREAK", ""),
                  ("INSTALL PATH", "Where to?"), ("INSTALL", ""),
                  ("CREATE GROUP", "Acme\\Rocket"), ("ADD ITEM", "0", "notes.exe", "", "Notes"),
                  ("DONE", "Rocket %s is installed." % version))


class UpgradeCase(UninstallCase):
    maxDiff = None

    def setUp(self):
        super().setUp()
        self.apps = os.path.join(self.drive_c, "Apps")
        shutil.rmtree(self.apps, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.apps, True)

    def build(self, version, files, name):
        entries = {"install.dat": product(version, files), "notes.exe": NOTES,
                   "docs\\readme.txt": README, "config.ini": CONFIG}
        if "export" in files:
            entries["tools\\export.exe"] = EXPORT
        if "changes" in files:
            entries["docs\\changes.txt"] = CHANGES
        return self.pack(entries, name=name)

    def setups(self):
        return self.build("1.3", FILES_13, "rocket-13.exe"), self.build("1.4", FILES_14,
                                                                          "rocket-14.exe")

    def quiet(self, setup, expected=1, extra=()):
        try:
            result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"] + list(extra))
        except subprocess.TimeoutExpired:
            self.fail("no end: " + self.log())
        self.assertEqual(result.code, expected, self.log())
        self.assertEqual(result.windows, [])
        return result

    def installed(self, *parts, folder=None):
        return os.path.join(folder or self.target, *parts)

    def products_registry(self):
        """The registry's lines that name the product, its maker or its remembered folder (Wine
        adds keys of its own as windows come and go)."""
        return [line for line in self.registry().splitlines()
                if re.search(r"Rocket|Acme|TesselE2E", line)]

    def version_in_entry(self):
        return self.entry_value("DisplayVersion")


class UpgradeTest(UpgradeCase):
    def test_one_three_then_one_four_then_its_uninstaller_leaves_nothing(self):
        files_before, registry_before = self.files(), self.products_registry()
        rocket13, rocket14 = self.setups()
        self.quiet(rocket13)
        self.assertTrue(os.path.isfile(self.installed("tools", "export.exe")))
        self.assertEqual(self.version_in_entry(), "1.3")

        self.quiet(rocket14)
        log = self.log()
        export = "C:\\Program Files\\Rocket\\tools\\export.exe"
        self.assertIn("Earlier version 1.3, this one 1.4\n", log)
        self.assertIn("Removed '%s'\n" % export, log)
        self.assertIn("Removed folder 'C:\\Program Files\\Rocket\\tools\\'\n", log)
        self.assertEqual(log.count("Removed '"), 1, log)  # only the file 1.4 dropped
        self.assertFalse(os.path.exists(self.installed("tools")))
        with open(self.installed("docs", "changes.txt"), "rb") as changes:
            self.assertEqual(changes.read(), CHANGES)
        for kept in (("notes.exe",), ("docs", "readme.txt"), ("config.ini",)):
            self.assertTrue(os.path.isfile(self.installed(*kept)), kept)
        self.assertEqual(self.version_in_entry(), "1.4")

        result = self.wine.run_with_robot(self.installed("uninst.exe"), ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.assertIsNotNone(self.gone(self.installed("uninst.exe")))
        self.assertIsNotNone(self.gone(self.target))
        self.assertEqual(self.files(), files_before)
        self.assertEqual(self.products_registry(), registry_before)

    def test_a_users_file_keeps_its_folder_and_a_kept_config_stays_the_products(self):
        rocket13, rocket14 = self.setups()
        self.quiet(rocket13)
        with open(self.installed("tools", "my macros.txt"), "wb") as mine:
            mine.write(b"the user's")
        with open(self.installed("config.ini"), "wb") as config:  # the user's settings
            config.write(b"[notes]\r\nfont=12\r\n")
        self.quiet(rocket14)
        self.assertEqual(os.listdir(self.installed("tools")), ["my macros.txt"])
        with open(self.installed("config.ini"), "rb") as config:  # "$?": kept in a quiet run
            self.assertEqual(config.read(), b"[notes]\r\nfont=12\r\n")
        result = self.wine.run_with_robot(self.installed("uninst.exe"), ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.uninstall_log())
        self.gone(self.installed("uninst.exe"))
        # 1.3 wrote the config; 1.4 kept it: it is still the product's and goes with it.
        self.assertFalse(os.path.exists(self.installed("config.ini")), self.uninstall_log())
        self.assertEqual(os.listdir(self.target), ["tools"])
        self.assertEqual(os.listdir(self.installed("tools")), ["my macros.txt"])

    def test_an_older_version_is_refused_quietly_and_asked_about_interactively(self):
        rocket13, rocket14 = self.setups()
        self.quiet(rocket14)
        self.quiet(rocket13, expected=3)
        log = self.log()
        self.assertIn("A newer version of Rocket (1.4) is installed: version 1.3 is not installed "
                      "over it\n", log)
        self.assertNotIn("tools\\export.exe to", log)  # nothing written
        self.assertFalse(os.path.exists(self.installed("tools")))
        self.assertTrue(os.path.isfile(self.installed("docs", "changes.txt")))
        self.assertEqual(self.version_in_entry(), "1.4")

        question = "A newer version of Rocket (1.4) is installed."
        press = [("Install Rocket into", "Yes"), ("Installation Directory...", "Continue"),
                 ("Rocket 1.3 is installed.", "OK"), ("already exists - overwrite?", "No")]
        result = self.wine.run_with_robot(
            rocket13, ["-debug"],
            press=[(question, "No"), ("Do you want to abort the installation?", "Yes")] + press)
        self.assertEqual(result.code, 2, result.boxes)
        asked = [box for box in result.boxes if box.text.startswith(question)]
        self.assertEqual([box.text for box in asked],
                         [question + " Do you want to replace it with the older version 1.3?"])
        self.assertEqual(self.version_in_entry(), "1.4")

        result = self.wine.run_with_robot(rocket13, ["-debug"], press=[(question, "Yes")] + press)
        self.assertEqual(result.code, 1, result.boxes)
        self.assertTrue(os.path.isfile(self.installed("tools", "export.exe")))
        self.assertFalse(os.path.exists(self.installed("docs", "changes.txt")))
        self.assertEqual(self.version_in_entry(), "1.3")


class SwitchTest(UpgradeCase):
    def test_the_folder_switch_wins_over_the_remembered_folder(self):
        rocket13, rocket14 = self.setups()
        self.quiet(rocket13)  # remembered: Program Files\Rocket
        apps = os.path.join(self.apps, "Bramble")
        self.quiet(rocket14, extra=["-Dir=" + APPS.rstrip("\\")])
        self.assertIn("Install Path from the command line: %s\n" % APPS, self.log())
        self.assertEqual(self.entry_value("InstallLocation"), APPS)
        self.assertTrue(os.path.isfile(os.path.join(apps, "docs", "changes.txt")))
        # The earlier installation moved: its folder is gone with every file of it.
        self.assertFalse(os.path.exists(self.target), self.log())
        self.assertEqual(self.entry_value("UninstallString"), '"%suninst.exe"' % APPS)
        # Quoted with a blank, and spelled as other setups do.
        self.quiet(rocket14, extra=["/D=C:\\Apps\\Bramble Two"])  # "/D=C:\...\Bramble Two"
        self.assertTrue(os.path.isfile(os.path.join(self.apps, "Bramble Two", "notes.exe")))
        self.assertFalse(os.path.exists(apps))

    def test_a_folder_the_guard_rails_refuse_installs_nothing(self):
        rocket14 = self.build("1.4", FILES_14, "rocket-14.exe")
        for folder, reason in (("C:\\windows", "the Windows folder"), ("C:\\", "root"),
                               ("Apps\\Bramble", "full path"), ("C:\\Program Files", "Program")):
            with self.subTest(folder=folder):
                self.quiet(rocket14, expected=3, extra=["-Dir=" + folder])
                log = self.log()
                self.assertIn("The folder of -Dir is refused: ", log)
                self.assertIn(reason, log)
                self.assertNotIn("notes.exe to", log)
        self.assertFalse(os.path.exists(self.target))
        code, output = self.wine.run("reg", ["query", ENTRY])
        self.assertNotEqual(code, 0, output)

    def test_the_log_switch_writes_where_the_setups_folder_cannot_be_written(self):
        rocket14 = self.build("1.4", FILES_14, "rocket-14.exe")
        share = tempfile.mkdtemp(prefix="tessel-share-")
        self.addCleanup(shutil.rmtree, share, True)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", share],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if mounted:
            self.addCleanup(subprocess.run, ["umount", share], check=True)
            shutil.copy(rocket14, share)
            subprocess.run(["mount", "-o", "remount,ro", share], check=True)
        else:  # a log that cannot be made: a folder stands in its place
            shutil.copy(rocket14, share)
            os.mkdir(os.path.join(share, "debug.log"))
        setup = os.path.join(share, "rocket-14.exe")
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 3)  # the guide's command line alone cannot run there
        self.assertFalse(os.path.exists(self.target))

        log = os.path.join(self.folder, "logs", "rocket setup.log")
        os.makedirs(os.path.dirname(log))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-Log=" + windows_path(log)])
        with open(log, "rb") as written:
            text = written.read().decode("latin-1").replace("\r\n", "\n")
        self.assertEqual(result.code, 1, text)
        self.assertTrue(text.startswith("TesselCore v"), text[:200])
        self.assertIn("notes.exe to C:\\Program Files\\Rocket\\notes.exe", text)
        self.assertTrue(text.endswith("Successful Exit...\n"), text[-200:])
        self.assertEqual(result.windows, [])

        # The uninstaller takes the same switch.
        removal = os.path.join(self.folder, "logs", "removal.log")
        result = self.wine.run_with_robot(os.path.join(self.target, "uninst.exe"),
                                          ["-Quiet", "-Log=" + windows_path(removal)])
        with open(removal, "rb") as written:
            text = written.read().decode("latin-1").replace("\r\n", "\n")
        self.assertEqual(result.code, 1, text)
        self.assertIn("Removed 'C:\\Program Files\\Rocket\\notes.exe'\n", text)

    def test_an_unknown_switch_stops_a_quiet_run_and_help_lists_the_switches(self):
        rocket14 = self.build("1.4", FILES_14, "rocket-14.exe")
        for word in ("-Force", "/S", "-Dir="):
            with self.subTest(word=word):
                self.quiet(rocket14, expected=3, extra=[word])
                log = self.log()
                self.assertRegex(log, r"Refused '%s': (unknown switch|switch without a value)\n"
                                 % re.escape(word))
                self.assertNotIn("notes.exe to", log)
                self.assertFalse(os.path.exists(self.target))
        # In an interactive run only the log notes it, and the setup goes on.
        result = self.wine.run_with_robot(
            rocket14, ["-debug", "-Force"],
            press=[("Install Rocket into", "Yes"), ("Installation Directory...", "Continue"),
                   ("Rocket 1.4 is installed.", "OK")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertIn("Refused '-Force': unknown switch\n", self.log())

        result = self.quiet(rocket14, expected=2, extra=["-?"])
        self.assertIn("-Dir=PATH", result.output)  # the standard output
        self.assertIn("-Log=PATH", self.log())
        result = self.wine.run_with_robot(rocket14, ["/?"], press=[("Install switches", "OK")])
        self.assertEqual(result.code, 2)
        self.assertEqual([box.title for box in result.boxes], ["Install switches"])
        self.assertIn("-Quiet", result.boxes[0].text)


if __name__ == "__main__":
    unittest.main()
