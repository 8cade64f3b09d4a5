"""'ffspack test' end to end: the host's ffspack tries setups of this tree's stub, each in a
throw-away Wine prefix of its own. A product with files in a folder, a program group shortcut
and an uninstaller is installed and removed without a trace, and the report names what it did;
a setup whose script fails is reported with its exit code and the log line that says why."""
import re
import subprocess
import unittest

from harness import FFSPACK, SetupCase, script

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
                                 r"    DisplayName +Acme Rocket\n"
                                 r"    QuietUninstallString +\"%suninst\.exe\" -Quiet\n"
                                 r"    UninstallString +\"%suninst\.exe\"\n" % (target, target))
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


if __name__ == "__main__":
    unittest.main()
