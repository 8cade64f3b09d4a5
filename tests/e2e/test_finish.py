"""The end of an installation end to end: real setup.exe files built by ffspack run under Wine
through INSTALL PATH, INSTALL, CREATE GROUP, ADD ITEM and DONE. The shortcuts land in the
prefix's Start-menu Programs folder, the uninstall entry in HKEY_LOCAL_MACHINE, the log names
both, and in an interactive run the robot answers the closing box."""
import os
import re
import shutil
import unittest

from harness import SetupCase, script

UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme Rocket"
TARGET = "C:\\Program Files\\Rocket\\"
README = b"Rocket 2.1\r\nRead me first.\r\n"
TOOL = b"MZ" + bytes(range(256)) * 4
UNINSTALLER = b"MZ\x90\x00" + bytes(range(200)) + b"the uninstaller"
# The fixed start of every shell link: header size 0x4C and the shell link's class id.
LINK_HEADER = bytes.fromhex("4c000000" "0114020000000000c000000000000046")


def setup_script(closing, size="10", version=(), company="Acme", tool="bin\\tool.exe",
                 icon_index="0"):
    versions = [("PRODUCT VERSION", v) for v in version]
    return script(("COMPANY NAME", company), ("PRODUCT NAME", "Rocket"), *versions,
                  ("INSTALL DIR", "Rocket"),
                  ("INSTALL SIZE", size), ("UNINSTALL NAME", "uninst.exe"),
                  ("FILE LIST", "readme.txt,bin\\tool.exe"), ("BREAK", ""),
                  ("INSTALL PATH", "Where to?"), ("INSTALL", ""),
                  ("CREATE GROUP", "Acme\\Rocket"),
                  ("ADD ITEM", "-1", "readme.txt", "", "Read Me"),
                  ("ADD ITEM", icon_index, tool, "-go fast", "Rocket Tool"),
                  ("DONE", closing))


class FinishTest(SetupCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.drive_c = os.path.join(cls.wine.env["WINEPREFIX"], "drive_c")
        cls.target = os.path.join(cls.drive_c, "Program Files", "Rocket")

    def setUp(self):
        super().setUp()
        self.forget()

    def tearDown(self):
        self.forget()
        super().tearDown()

    def forget(self):
        self.wine.run("reg", ["delete", UNINSTALL, "/f"])
        shutil.rmtree(self.target, ignore_errors=True)
        users = os.path.join(self.drive_c, "users")
        for user in os.listdir(users) if os.path.isdir(users) else []:
            for programs in self.programs_folders(os.path.join(users, user)):
                shutil.rmtree(os.path.join(programs, "Acme"), ignore_errors=True)

    @staticmethod
    def programs_folders(top):
        for root, folders, _ in os.walk(top):
            if os.path.basename(root) == "Start Menu" and "Programs" in folders:
                yield os.path.join(root, "Programs")

    def build(self, install_dat):
        return self.pack({"install.dat": install_dat, "readme.txt": README, "bin\\tool.exe": TOOL,
                          "uninst.exe": UNINSTALLER})
    def unix_path(self, windows):
        self.assertTrue(windows.upper().startswith("C:\\"), windows)
        return os.path.join(self.drive_c, *windows[3:].split("\\"))

    def uninstall_entry(self):
        code, output = self.wine.run("reg", ["query", UNINSTALL])
        self.assertEqual(code, 0, output)
        return output

    def check_finished(self, log):
        """Files, shortcuts, uninstall entry and log of a run through DONE."""
        with open(os.path.join(self.target, "bin", "tool.exe"), "rb") as tool:
            self.assertEqual(tool.read(), TOOL)
        self.assertTrue(os.path.isfile(os.path.join(self.target, "uninst.exe")))

        group = re.search(r"^Create Group = '(.*)'$", log, re.M)
        self.assertIsNotNone(group, log)
        self.assertTrue(group.group(1).endswith("\\Start Menu\\Programs\\Acme\\Rocket"),
                        group.group(1))
        self.assertIn("Create Item = 'Acme\\Rocket' : 'Rocket Tool' ('bin\\tool.exe' / "
                      "'-go fast')\n", log)
        self.assertIn("Create Item = 'Acme\\Rocket' : 'Read Me' ('readme.txt' / '')\n", log)
        folder = self.unix_path(group.group(1))
        self.assertEqual(sorted(os.listdir(folder)), ["Read Me.lnk", "Rocket Tool.lnk"])
        with open(os.path.join(folder, "Rocket Tool.lnk"), "rb") as link:
            data = link.read()
        self.assertEqual(data[:20], LINK_HEADER)
        for text in ("Rocket Tool", "-go fast"):  # description and arguments, as UTF-16
            self.assertIn(text.encode("utf-16-le"), data)
        self.assertNotIn("Unable to save", log)

        entry = self.uninstall_entry()
        self.assertRegex(entry, r"DisplayName\s+REG_SZ\s+Acme Rocket\r?\n")
        self.assertRegex(entry, r"    UninstallString\s+REG_SZ\s+%s\r?\n"
                         % re.escape('"' + TARGET + 'uninst.exe"'))
        self.assertRegex(entry, r"QuietUninstallString\s+REG_SZ\s+%s\r?\n"
                         % re.escape('"' + TARGET + 'uninst.exe" -Quiet'))
        # Wine's own control-panel tool lists the product by its display name.
        code, listed = self.wine.run("uninstaller", ["--list"])
        self.assertEqual(code, 0, listed)
        self.assertIn("Acme Rocket", listed)

    def test_quiet_run_makes_shortcuts_and_the_uninstall_entry(self):
        setup = self.build(setup_script("Rocket is installed."))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(result.boxes, [])
        log = self.log()
        self.check_finished(log)
        self.assertNotIn("Command Failed", log)
        self.assertTrue(log.endswith("Successful Exit...\n"), log[-200:])

    def entry_values(self, key):
        """The values of an uninstall entry: {name: (type, data)}."""
        code, output = self.wine.run("reg", ["query", key])
        self.assertEqual(code, 0, output)
        values = {}
        for line in output.splitlines():
            found = re.match(r"^    (\S+)\s+(REG_SZ|REG_DWORD)\s*(.*?)\s*$", line)
            if found:
                values[found.group(1)] = (found.group(2), found.group(3))
        return values

    def test_the_entry_shows_version_publisher_icon_size_and_folder(self):
        # Each value at its edges: the longest version and company the script's fields hold, the
        # largest size and the smallest (0; a negative one is no size), the icon of the first
        # shortcut to a program (the first shortcut is a document) or else the uninstaller's.
        # The third run, into the first one's entry, leaves no version and no size behind.
        longest = "1.2.3.4 " + "b" * 151  # 159 characters; the file version takes four numbers
        long_key = UNINSTALL.replace("Acme", "A" * 159)
        self.addCleanup(self.wine.run, "reg", ["delete", long_key, "/f"])
        rows = [
            (dict(size="2147483647", version=["1.4"]), UNINSTALL,
             {"DisplayVersion": ("REG_SZ", "1.4"), "Publisher": ("REG_SZ", "Acme"),
              "DisplayIcon": ("REG_SZ", TARGET + "bin\\tool.exe"),
              "EstimatedSize": ("REG_DWORD", "0x7fffffff")}),
            (dict(size="-1", version=["1.4", ""], tool="bin\\missing.exe"), UNINSTALL,
             {"Publisher": ("REG_SZ", "Acme"), "DisplayIcon": ("REG_SZ", TARGET + "uninst.exe")}),
            (dict(size="0", version=[longest], company="A" * 159, icon_index="3"), long_key,
             {"DisplayVersion": ("REG_SZ", longest), "Publisher": ("REG_SZ", "A" * 159),
              "DisplayIcon": ("REG_SZ", TARGET + "bin\\tool.exe,3"),
              "EstimatedSize": ("REG_DWORD", "0x0")}),
        ]
        for options, key, expected in rows:
            with self.subTest(size=options["size"]):
                setup = self.build(setup_script("Done.", **options))
                result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
                self.assertEqual(result.code, 1, self.log())
                values = self.entry_values(key)
                want = {"DisplayName": ("REG_SZ", key.rsplit("\\", 1)[1]),
                        "InstallLocation": ("REG_SZ", TARGET), "NoModify": ("REG_DWORD", "0x1"),
                        "NoRepair": ("REG_DWORD", "0x1")}
                want.update(expected)
                for name in ("DisplayVersion", "EstimatedSize"):
                    if name not in expected:
                        self.assertNotIn(name, values)
                for name, value in want.items():
                    self.assertEqual(values.get(name), value, name)

    def test_interactive_run_ends_with_the_closing_box(self):
        setup = self.build(setup_script("Rocket is installed."))
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("Install Rocket into", "Yes"), ("Installation Directory...", "Continue"),
                   ("Rocket is installed.", "OK")])
        self.assertEqual(result.code, 1, result.boxes)
        closing = [box for box in result.boxes if box.title == "Installation Complete!"]
        self.assertEqual([box.text for box in closing], ["Rocket is installed."], result.boxes)
        self.assertEqual([text for _, text in closing[0].buttons], ["OK"])
        self.assertIs(result.boxes[-1], closing[0])  # the last thing the user sees
        self.check_finished(self.log())


if __name__ == "__main__":
    unittest.main()
