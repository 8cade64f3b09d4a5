"""Faults at the machine end to end: real setups built by ffspack run under Wine, each fault
once quiet (the robot on the display presses nothing) and once interactive (the robot answers
as a user would). Every run must end by itself, say what went wrong in debug.log and by its
exit code, and leave no file that passes for installed when it is not complete.

fault                      mode         exit  windows and boxes                  debug.log
-------------------------  -----------  ----  ---------------------------------  -----------------------------------------------
target disk full           quiet        2     none                               Unable to write to file 'T:\\Rocket\\data\\big.dat'
                                                                                 Quiet: [Install problem...] Unable to create
                                                                                 file 'T:\\Rocket\\data\\big.dat' -> OK
                           interactive  2     Install problem... (OK), then      Unable to write to file ...
                                              "Do you want to abort the
                                              installation?" (Yes)
target folder read-only    quiet        2     none                               Unable to create file 'R:\\Rocket\\readme.txt'
                                                                                 Quiet: [Install problem...] ... -> OK
                           interactive  2     Install problem..., abort question Unable to create file ...
target file held open      quiet        2     none                               Unable to create file '...\\readme.txt'
                                                                                 Quiet: [Install problem...] ... -> OK
                           interactive  2     Install problem..., abort question Unable to create file ...
entry damaged, re-stamped  quiet        2     none                               [Type2] Failed to decompress
(its size 0, or 2,000,000,                                                       Unable to load 'data\\big.dat'
000,000: far beyond its    interactive  2     abort question                     the same
code)
memory limit reached       quiet        3     none                               ABORT: No Memory available (N / ...), N the
(a 128 MB uninstaller,                                                           uninstaller, the script and 8 bytes
loaded whole with the                                                            (the report, also on standard error)
script behind it)          interactive  3     Internal error... (OK)             ABORT: No Memory available (...)

In every case nothing of the failed file is left on disk (files completed before the fault
stay); the interactive runs also show the directory dialog and the progress window first.
"""
import os
import resource
import shutil
import subprocess
import tempfile
import unittest

from harness import SetupCase, restamp, script, windows_path

README = b"Rocket 2.1\r\nRead me first.\r\n"
BIG = b"".join(b"line %06d of the big data file, which fills a small disk\r\n" % i
               for i in range(8000))  # 472 KB, Type2
QUIET = ["-Quiet", "-debug"]
INTERACTIVE_PRESS = [("Install Rocket into", "Yes"), ("Installation Directory...", "Continue"),
                     ("Install problem...", "OK"), ("Do you want to abort", "Yes"),
                     ("Internal error...", "OK")]


def setup_script(install_dir):
    return script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"),
                  ("INSTALL DIR", install_dir), ("INSTALL SIZE", "1"),
                  ("FILE LIST", "readme.txt,data\\big.dat"), ("BREAK", ""),
                  ("INSTALL PATH", "Where to?"), ("INSTALL", ""), ("DONE", "Rocket is installed."))


def fault_boxes(result):
    """(title, text) of the boxes of an interactive run, without the directory dialog and its
    question and the progress window that every such run shows."""
    return [(b.title, b.text) for b in result.boxes
            if b.title not in ("Installation Directory...", "Please wait...")]




class FaultCase(SetupCase):
    """One fault, run quiet and interactive by run_both."""

    def run_both(self, setup, check, limits=()):
        """Runs setup quiet, then interactive, calling check(result, quiet) after each."""
        quiet = self.wine.run_with_robot(setup, QUIET, timeout=90, limits=limits)
        self.assertEqual(quiet.windows, [], "a quiet run showed a window")
        self.assertEqual(quiet.boxes, [])
        check(quiet, True)
        os.remove(os.path.join(self.folder, "debug.log"))
        interactive = self.wine.run_with_robot(setup, ["-debug"], press=INTERACTIVE_PRESS,
                                               timeout=90, limits=limits)
        self.assertIn(("InstallGotClass", "Rocket Installation"), interactive.windows)
        check(interactive, False)

    def assert_stopped(self, result, quiet, problem, log_line):
        """Exit code 2; the problem box interactively (then the question to abort), or its
        "Quiet:" line; the log line."""
        log = self.log()
        self.assertEqual(result.code, 2, log)
        self.assertIn(log_line, log)
        if quiet:
            if problem:
                self.assertIn("Quiet: [Install problem...] %s -> OK\n" % problem, log)
            self.assertIn("Command Failed 'INSTALL'\n", log)
            return
        expected = ([("Install problem...", problem)] if problem else []) + \
            [("Rocket Installation...", "Do you want to abort the installation?")]
        self.assertEqual(fault_boxes(result), expected)
        self.assertNotIn("Quiet:", log)


class MountedDrive:
    """A tmpfs of the given size mounted at a folder and mapped to a drive letter of the prefix;
    read_only mounts it read-only with the folder "Rocket" in it. None when this machine lets
    the test mount nothing."""

    def __init__(self, wine, letter, size_kb, read_only=False):
        self.point = tempfile.mkdtemp(prefix="tessel-drive-")
        self.link = os.path.join(wine.env["WINEPREFIX"], "dosdevices", letter.lower() + ":")
        self.mounted = subprocess.run(
            ["mount", "-t", "tmpfs", "-o", "size=%dk" % size_kb, "tmpfs", self.point],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if not self.mounted:
            return
        if read_only:
            os.mkdir(os.path.join(self.point, "Rocket"))
            subprocess.run(["mount", "-o", "remount,ro", self.point], check=True)
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(self.point, self.link)

    def remove(self):
        if os.path.lexists(self.link):
            os.remove(self.link)
        if self.mounted:
            subprocess.run(["umount", self.point], check=True)
        os.rmdir(self.point)


class DiskFaults(FaultCase):
    def test_a_full_disk_stops_the_run_and_leaves_no_cut_file(self):
        drive = MountedDrive(self.wine, "T", 128)
        if not drive.mounted:
            drive.remove()
            self.skipTest("this machine mounts no file system for a test")
        self.addCleanup(drive.remove)
        setup = self.pack({"install.dat": setup_script("T:\\Rocket"), "readme.txt": README,
                           "data\\big.dat": BIG})
        target = os.path.join(drive.point, "Rocket")

        def check(result, quiet):
            self.assert_stopped(result, quiet, "Unable to create file 'T:\\Rocket\\data\\big.dat'",
                                "Unable to write to file 'T:\\Rocket\\data\\big.dat'\n")
            with open(os.path.join(target, "readme.txt"), "rb") as written:
                self.assertEqual(written.read(), README)  # complete before the disk filled
            self.assertFalse(os.path.exists(os.path.join(target, "data", "big.dat")))
        self.run_both(setup, check)

    def test_a_read_only_folder_stops_the_run(self):
        drive = MountedDrive(self.wine, "R", 1024, read_only=True)
        if not drive.mounted:
            drive.remove()
            self.skipTest("this machine mounts no file system for a test")
        self.addCleanup(drive.remove)
        setup = self.pack({"install.dat": setup_script("R:\\Rocket"), "readme.txt": README,
                           "data\\big.dat": BIG})

        def check(result, quiet):
            self.assert_stopped(result, quiet, "Unable to create file 'R:\\Rocket\\readme.txt'",
                                "Unable to create file 'R:\\Rocket\\readme.txt'\n")
            self.assertEqual(os.listdir(os.path.join(drive.point, "Rocket")), [])
        self.run_both(setup, check)

    def test_a_file_held_open_by_another_program_stops_the_run(self):
        target = os.path.join(self.folder, "Rocket")
        os.makedirs(target)
        held = os.path.join(target, "readme.txt")
        with open(held, "wb") as old:
            old.write(b"version 1, in use")
        self.start_helper("--hold", windows_path(held))
        setup = self.pack({"install.dat": setup_script(windows_path(target)),
                           "readme.txt": README, "data\\big.dat": BIG})

        def check(result, quiet):
            line = "Unable to create file '%s\\readme.txt'" % windows_path(target)
            self.assert_stopped(result, quiet, line, line + "\n")
            with open(held, "rb") as kept:
                self.assertEqual(kept.read(), b"version 1, in use")
            self.assertFalse(os.path.exists(os.path.join(target, "data")))
        self.run_both(setup, check)


class ArchiveFaults(FaultCase):
    def test_an_entry_damaged_after_the_build_is_not_installed(self):
        target = os.path.join(self.folder, "Rocket")
        setup = self.pack({"install.dat": setup_script(windows_path(target)),
                           "readme.txt": README, "data\\big.dat": BIG})
        with open(setup, "rb") as built:
            data = bytearray(built.read())
        # The Type2 block of big.dat: its tag, then its size as the complement. The size is made
        # another and the stamp anew, so that only the entry is wrong: 0, which no block holds,
        # and 2,000,000,000, whose bytes its code stream runs out of long before (decoded on
        # from zeros, it wrote hundreds of megabytes without end).
        header = b"FFC@" + (~len(BIG) & 0xFFFFFFFF).to_bytes(4, "little")
        at = data.find(header)
        self.assertGreater(at, 0)
        for claimed in (0, 2000000000):
            if os.path.exists(os.path.join(self.folder, "debug.log")):
                os.remove(os.path.join(self.folder, "debug.log"))  # the last row's
            data[at + 4:at + 8] = (~claimed & 0xFFFFFFFF).to_bytes(4, "little")
            with open(setup, "wb") as damaged:
                damaged.write(restamp(data))

            def check(result, quiet):
                self.assert_stopped(result, quiet, None, "[Type2] Failed to decompress\n")
                self.assertIn("Unable to load 'data\\big.dat'\n", self.log())
                self.assertFalse(os.path.exists(os.path.join(target, "data", "big.dat")))
            with self.subTest(claimed=claimed):
                self.run_both(setup, check)
            shutil.rmtree(target, ignore_errors=True)

    def test_the_memory_limit_ends_the_run_with_code_3(self):
        # A 128 MB uninstaller (zeros: a small block), which the setup loads whole to put the
        # script behind it, in a process whose data may not grow past 112 MB: the heap refuses
        # it as a full machine would. (The files of the list are written in pieces.)
        target = os.path.join(self.folder, "Rocket")
        install = script(
            ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", windows_path(target)),
            ("UNINSTALL NAME", "uninst.exe"), ("FILE LIST", "readme.txt"), ("BREAK", ""),
            ("INSTALL PATH", "Where to?"), ("INSTALL", ""), ("DONE", "Rocket is installed."))
        setup = self.pack({"install.dat": install, "readme.txt": README,
                           "uninst.exe": bytes(128 << 20)})
        os.remove(os.path.join(self.folder, "input2"))  # the 128 MB input, no longer needed
        wanted = (128 << 20) + len(install) + 8  # the uninstaller, the script, marker, trailer

        def check(result, quiet):
            log = self.log()
            self.assertEqual(result.code, 3, log)
            report = "ABORT: No Memory available (%d / %d)\n" % (wanted, (wanted + 11) & ~3)
            self.assertIn(report, log)
            self.assertIn(report, result.output)  # the standard error handle
            self.assertRegex(log, r"ABORT: No Memory available .*\n +\(TESSELCORE/ffs\.cpp/\d+\)\n$")
            if not quiet:
                boxes = fault_boxes(result)
                self.assertEqual([title for title, _ in boxes], ["Internal error..."])
                self.assertTrue(boxes[0][1].startswith(report), boxes[0][1])
            with open(os.path.join(target, "readme.txt"), "rb") as written:
                self.assertEqual(written.read(), README)  # complete before the uninstaller
            self.assertFalse(os.path.exists(os.path.join(target, "uninst.exe")))
        self.run_both(setup, check, limits=[(resource.RLIMIT_DATA, 112 << 20)])


if __name__ == "__main__":
    unittest.main()
