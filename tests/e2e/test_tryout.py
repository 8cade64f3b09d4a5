"""'ffspack test' end to end: the host's ffspack tries setups of this tree's stub, each in a
throw-away Wine prefix of its own. A product with files in a folder, a program group shortcut
and an uninstaller is installed and removed without a trace, and the report names what it did;
a setup whose script fails is reported with its exit code and the log line that says why; an
uninstaller that no entry names, what no uninstaller removes, and a program that Wine could not
start at all (its launcher ends with 1 too) fail the try-out, each with a line that says so.
With --screens the setup runs interactively, the robot going on at each step, and each step's
screen becomes a PNG picture, in order."""
import os
import re
import subprocess
import unittest

from harness import BUILD, FFSPACK, SetupCase, script
from test_demo import read_png

README = b"Rocket 2.1\r\nRead me first.\r\n"
MANUAL = bytes(range(256)) * 20


class TryoutTest(SetupCase):
    def tryout(self, setup):
        """ffspack test's exit code and output; the output is printed for the test's record."""
        done = subprocess.run([FFSPACK, "test", setup], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=1200)
        output = done.stdout.decode()
        print(output)
        return done.returncode, output

    def test_a_product_is_installed_and_removed_without_a_trace(self):
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", "Rocket"),
                ("REGISTRY PATH", "Software\\TesselTry\\Rocket"), ("UNINSTALL NAME", "uninst.exe"),
                ("FILE LIST", "readme.txt,docs\\manual.dat"), ("INSTALL PATH", "Where?"),
                ("INSTALL", ""), ("CREATE GROUP", "Acme Rocket"),
                ("ADD ITEM", "0", "readme.txt", "-v", "Read Me"), ("DONE", "Rocket is installed.")),
            "readme.txt": README, "docs\\manual.dat": MANUAL})
        code, output = self.tryout(setup)
        self.assertEqual(code, 0, output)
        target = re.escape("C:\\Program Files\\Rocket\\")
        self.assertRegex(output, r"Exit code +1 \(done: the script ran to its end\)")
        self.assertRegex(output, r"debug\.log reports no failures")
        self.assertRegex(output, r"\n  %sdocs\\manual\.dat +%d bytes\n" % (target, len(MANUAL)))
        self.assertRegex(output, r"\n  %sreadme\.txt +%d bytes\n" % (target, len(README)))
        self.assertRegex(output, r"\n  %suninst\.exe +\d+ bytes\n" % target)
        self.assertRegex(output, r"\n  C:\\users\\[^\\]+\\.*\\Programs\\Acme Rocket\\Read Me\.lnk\n"
                                 r"    target +%sreadme\.txt\n"
                                 r"    arguments +-v\n"
                                 r"    folder +%s\n" % (target, target))
        self.assertRegex(output, r"\n  HKCU\\Software\\TesselTry\\Rocket\n"
                                 r"    Install Path = %s\n" % target)
        self.assertRegex(output, r"Uninstall entry:\n"
                                 r"  HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                 r"Acme Rocket\n"
                                 r"    DisplayIcon +%suninst\.exe\n"
                                 r"    DisplayName +Acme Rocket\n"
                                 r"    EstimatedSize +dword:[0-9a-f]{8}\n"
                                 r"    InstallLocation +%s\n"
                                 r"    NoModify +dword:00000001\n"
                                 r"    NoRepair +dword:00000001\n"
                                 r"    Publisher +Acme\n"
                                 r"    QuietUninstallString +\"%suninst\.exe\" -Quiet\n"
                                 r"    UninstallString +\"%suninst\.exe\"\n"
                                 % (target, target, target, target))
        self.assertRegex(output, r"Uninstaller +\"%suninst\.exe\" -Quiet -debug\n"
                                 r"Exit code +1 \(removed\)" % target)
        self.assertIn("\nLeft behind: nothing\n", output)
        self.assertRegex(output, r"\nResult +PASSED\n")

    def test_a_failing_script_is_reported_with_the_setups_exit_code_and_log_line(self):
        # missing.txt is not in the archive: INSTALL fails after it copied readme.txt.
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Broken"), ("INSTALL DIR", "Broken"),
                ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", "readme.txt,missing.txt"),
                ("INSTALL PATH", "Where?"), ("INSTALL", ""), ("DONE", "Done.")),
            "readme.txt": README})
        code, output = self.tryout(setup)
        self.assertEqual(code, 1, output)
        self.assertRegex(output, r"Exit code +2 \(stopped: a command failed")
        self.assertRegex(output, r"debug\.log reports 3 failures:\n"
                                 r" +Unable to get size for 'missing\.txt'\n"
                                 r" +Command Failed 'INSTALL'\n"
                                 r" +Script failed somewhere\n")
        self.assertIn("Uninstall entry: none", output)
        self.assertRegex(output, r"\nResult +FAILED: the setup ended with 2 \(stopped")

    def test_an_uninstaller_without_its_entry_fails_with_what_stays(self):
        # No DONE line: the setup writes the files and uninst.exe, and no uninstall entry.
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Orphan"), ("INSTALL DIR", "Orphan"),
                ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", "readme.txt"),
                ("INSTALL PATH", "Where?"), ("INSTALL", "")),
            "readme.txt": README})
        code, output = self.tryout(setup)
        self.assertEqual(code, 1, output)
        target = re.escape("C:\\Program Files\\Orphan\\")
        self.assertRegex(output, r"Exit code +1 \(done: the script ran to its end\)")
        self.assertIn("Uninstall entry: none", output)
        self.assertIn("\nNo uninstaller to try.\n", output)
        self.assertRegex(output, r"Files and folders left behind:\n(  .*\n)*"
                                 r"  %sreadme\.txt +%d bytes\n" % (target, len(README)))
        self.assertRegex(output, r"\nResult +FAILED: the setup wrote the uninstaller "
                                 r"%suninst\.exe and no uninstall entry names it: nothing offers "
                                 r"to remove the product \(the script's DONE line writes the "
                                 r"entry\)\n" % target)
        self.assertRegex(output, r"\n +and no uninstaller: the setup leaves 2 files, 1 folder "
                                 r"and no registry changes behind\n")

    def test_a_setup_without_an_uninstaller_fails_with_what_it_leaves(self):
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Stays"), ("INSTALL DIR", "Stays"),
                ("FILE LIST", "readme.txt"), ("INSTALL PATH", "Where?"), ("INSTALL", "")),
            "readme.txt": README})
        code, output = self.tryout(setup)
        self.assertEqual(code, 1, output)
        self.assertRegex(output, r"\nResult +FAILED: no uninstaller: the setup leaves 1 file, "
                                 r"1 folder and no registry changes behind\n")

    def test_an_uninstaller_that_never_started_is_told_from_one_that_ended_with_1(self):
        # The uninstaller's headers, cut before its sections: Wine's launcher cannot start it and
        # ends with 1, the code of an uninstaller that removed the product.
        with open(os.path.join(BUILD, "install", "uninst.exe"), "rb") as uninstaller:
            headers = uninstaller.read(1024)
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Ghost"), ("INSTALL DIR", "Ghost"),
                ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", "readme.txt"),
                ("INSTALL PATH", "Where?"), ("INSTALL", ""), ("DONE", "Done.")),
            "readme.txt": README, "uninst.exe": headers})
        code, output = self.tryout(setup)
        self.assertEqual(code, 1, output)
        self.assertRegex(output, r"Uninstaller +.*uninst\.exe\" -Quiet -debug\n"
                                 r"Exit code +none: the uninstaller never started: Wine ended "
                                 r"with 1 and no uninstall\.log was written\n"
                                 r"Wine said +\S(.*\n)*.*Bad EXE format")
        self.assertNotIn("(removed)", output)
        self.assertRegex(output, r"\nResult +FAILED: the uninstaller never started: Wine ended "
                                 r"with 1 and no uninstall\.log was written\n")

    def test_a_setup_that_never_started_is_reported_as_such(self):
        # The setup's headers, cut before its sections: a program of the right machine type
        # that Wine cannot load.
        whole = self.pack({"install.dat": script(("PRODUCT NAME", "Cut")), "readme.txt": README})
        setup = os.path.join(self.folder, "cut.exe")
        with open(whole, "rb") as source, open(setup, "wb") as cut:
            cut.write(source.read(1024))
        code, output = self.tryout(setup)
        self.assertEqual(code, 1, output)
        self.assertRegex(output, r"Exit code +none: the setup never started: Wine ended with 1 "
                                 r"and no debug\.log was written\n"
                                 r"Wine said +\S(.*\n)*.*Bad EXE format")
        self.assertRegex(output, r"\nResult +FAILED: the setup never started")

    def test_screens_pictures_each_step_of_the_interactive_run_in_order(self):
        setup = self.pack({
            "install.dat": script(
                ("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", "Rocket"),
                ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", "readme.txt"), ("BREAK", ""),
                ("MESSAGE", "welcome.txt"), ("AGREEMENT", "licence.txt"),
                ("INSTALL PATH", "Where should Rocket go?"), ("INSTALL", ""),
                ("DONE", "Rocket is installed.")),
            "readme.txt": README, "welcome.txt": b"Welcome to Rocket.\r\n",
            "licence.txt": b"Rocket's licence.\r\n"})
        screens = os.path.join(self.folder, "screens")
        robot = os.path.join(BUILD, "tests", "robot", "robot.exe")
        done = subprocess.run([FFSPACK, "test", "--screens", screens, setup],
                              env=dict(os.environ, TESSEL_ROBOT=robot), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=1200)
        output = done.stdout.decode()
        print(output)
        self.assertEqual(done.returncode, 0, output)
        self.assertRegex(output, r"Setup +C:\\ffspack-test\\setup\.exe -debug \(interactive")
        self.assertRegex(output, r"Exit code +1 \(done: the script ran to its end\)")
        # One picture for each dialog and box, numbered in the order the user meets them: the
        # welcome text, the licence, the folder, the question whether to install there, the
        # end; and the progress window when the robot saw it up (it needs no answer).
        steps = sorted(os.listdir(screens))
        self.assertEqual([name[:3] for name in steps],
                         ["%02d-" % number for number in range(1, len(steps) + 1)])
        self.assertEqual([name[3:] for name in steps if name[3:] != "please-wait.png"],
                         ["welcome.png", "end-user-agreement.png", "installation-directory.png",
                          "installation-directory.png", "installation-complete.png"])
        titles = {"welcome.png": "Welcome...", "end-user-agreement.png": "End User Agreement...",
                  "installation-directory.png": "Installation Directory...",
                  "please-wait.png": "Please wait...",
                  "installation-complete.png": "Installation Complete!"}
        self.assertIn("Screens in %s:\n" % screens + "".join(
            "  %s  %s\n" % (name, titles[name[3:]]) for name in steps), output)
        pictures = [read_png(os.path.join(screens, name)) for name in steps]
        for name, (width, height, rows) in zip(steps, pictures):
            self.assertEqual((width, height), (800, 600), name)
            colours = set(row[x:x + 3] for row in rows[::10] for x in range(0, width * 3, 30))
            self.assertGreater(len(colours), 4, "%s shows no window" % name)
        for i in range(1, len(steps)):
            self.assertNotEqual(pictures[i - 1][2], pictures[i][2],
                                "%s and %s are the same picture" % (steps[i - 1], steps[i]))
        # The quiet rest of the try-out as ever: the product removed without a trace.
        self.assertIn("\nLeft behind: nothing\n", output)
        self.assertRegex(output, r"\nResult +PASSED\n")


if __name__ == "__main__":
    unittest.main()
