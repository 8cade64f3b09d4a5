"""The setup program end to end: real setup.exe files built by ffspack from the stub of this
tree, run under Wine with the robot answering their boxes; checked by exit code, debug.log and
the boxes a user would have seen."""
import os
import random
import shutil
import struct
import unittest

from harness import STUB, SetupCase, script

SETTINGS = script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"),
                  ("PRODUCT VERSION", "2.1"), ("INSTALL DIR", "C:\\Acme"),
                  ("BREAK", ""), ("INSTALL NAME", "Rocket"))

RULE = "=" * 79
DAMAGED = "The installation file has been damaged, please download a new copy."
DAMAGED_QUIET = "Quiet: [Install problem...] %s -> OK\n" % DAMAGED
CORRUPTED = "ABORT: Install has been corrupted, please download a new copy.\n"


class SetupTest(SetupCase):
    def test_quiet_run_log_byte_for_byte(self):
        setup = self.pack({"install.dat": SETTINGS})
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        self.assertEqual(result.boxes, [])
        log = self.log()
        lines = log.split("\n")
        self.assertEqual(lines[0], "TesselCore v0.38")
        memory_init = [RULE[:4] + "[Memory Init]" + RULE[17:], "Quickmemory Initialized (Disabled)",
                       "Memory Initialized (Maximum)", RULE]
        self.assertEqual(lines[1:5], memory_init)
        self.assertEqual(lines[5], "Install Version 1.54 (Release)")
        self.assertTrue(lines[6].startswith("Cmdline '") and lines[6].endswith("' '-Quiet -debug'"),
                        lines[6])
        tail = lines[7:]
        self.assertEqual(tail[0], "Flat/Fast File System Initialized...")
        summary = ["Company Name   : Acme", "Product Name   : Rocket", "File Count     : 0",
                   "Install Path   :  [C:\\Acme\\]"]
        self.assertEqual(tail[1:5], summary)
        self.assertEqual(tail[5], "Flat/Fast File System Removed...")
        self.assertEqual(tail[6], RULE[:4] + "[Memory Remove]" + RULE[19:])
        self.assertNotIn("Not all memory", log)
        self.assertRegex(tail[-3], r"^Peak memory: \d+ KB working set, \d+ KB private$")
        self.assertEqual(tail[-2:], ["Successful Exit...", ""])
        self.assertNotIn("Break Encountered", log)  # BREAK passes in quiet mode

    def test_quiet_switch_in_any_case(self):
        setup = self.pack({"install.dat": SETTINGS})
        for switch in ("-quiet", "-QUIET", "x-QuIeTx"):
            result = self.wine.run_with_robot(setup, [switch, "-debug"])
            self.assertEqual(result.code, 1, switch)
            self.assertEqual(result.boxes, [], switch)
            self.assertIn("Company Name   : Acme", self.log())

    def test_arguments_are_the_command_line_after_the_program_name(self):
        # The entry point hands the script the command line behind the program's name and the
        # blanks after it; a quoted name may hold blanks of its own.
        # Words that are no switches are logged first, then refused: a quiet run ends with 3.
        rows = [("setup.exe", ["-Quiet", "-debug"], "-Quiet -debug", 1),
                ("my setup.exe", ["-Quiet", "-debug"], "-Quiet -debug", 1),
                ("my setup.exe", ["-Quiet", "-debug", "a b", "x"], '-Quiet -debug "a b" x', 3),
                ("setup.exe", ["-Quiet", "-debug", "\tz"], '-Quiet -debug "\tz"', 3)]
        for name, args, arguments, code in rows:
            setup = self.pack({"install.dat": SETTINGS}, name=name)
            result = self.wine.run_with_robot(setup, args)
            self.assertEqual(result.code, code, name)
            cmdline = self.log().split("\n")[6]
            self.assertTrue(cmdline.endswith("' '%s'" % arguments), (name, args, cmdline))

    def test_stub_without_archive(self):
        setup = os.path.join(self.folder, "setup.exe")
        shutil.copy(STUB, setup)
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 0)
        self.assertEqual([(b.title, b.text) for b in result.boxes],
                         [("Install problem...", DAMAGED)])
        self.assertEqual([text for _, text in result.boxes[0].buttons], ["OK"])
        self.assertEqual(result.boxes[0].owner_class, "")  # before any window: no owner
        log = self.log()
        self.assertIn("doesn't contain FFS data!", log)
        self.assertTrue(log.endswith("Successful Exit...\n"))

    def test_stub_without_archive_in_a_quiet_run_shows_nothing(self):
        setup = os.path.join(self.folder, "setup.exe")
        shutil.copy(STUB, setup)
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 0)
        self.assertEqual(result.windows, [])
        self.assertIn(DAMAGED_QUIET, self.log())

    def test_any_changed_byte_is_caught(self):
        setup = self.pack({"install.dat": SETTINGS, "data.bin": bytes(range(256)) * 40})
        with open(setup, "rb") as original:
            data = original.read()
        size = len(data)
        archive = int.from_bytes(data[-4:], "little")  # behind the image, as the trailer says
        # In the stub's code, in the archive's directory, inside an entry, the trailer.
        for offset in (100, archive + 30, size - 2000, size - 1):
            damaged = bytearray(data)
            damaged[offset] ^= 0x01
            with open(setup, "wb") as out:
                out.write(damaged)
            result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
            self.assertEqual(result.windows, [], offset)  # quiet: no box, not even this one
            self.assertEqual(result.code, 3, offset)
            if offset == size - 1:
                # A changed trailer loses the archive before the stamp is checked.
                self.assertIn(DAMAGED_QUIET, self.log())
                continue
            log = self.log()
            self.assertIn(CORRUPTED, log)
            self.assertIn("[Internal error...]\n" + CORRUPTED, result.output)
        # Interactively the same report is a box.
        damaged = bytearray(data)
        damaged[100] ^= 0x01
        with open(setup, "wb") as out:
            out.write(damaged)
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual([b.title for b in result.boxes], ["Internal error..."])
        self.assertTrue(result.boxes[0].text.startswith(
            "ABORT: Install has been corrupted, please download a new copy.\n"))

    def test_a_cut_or_lengthened_setup_is_damaged(self):
        def image_end(pe):
            """Where the program's last section ends in the file: the builder's version
            resource makes a setup's program longer than the stub's."""
            header, = struct.unpack_from("<I", pe, 0x3C)
            sections, = struct.unpack_from("<H", pe, header + 6)
            optional, = struct.unpack_from("<H", pe, header + 20)
            table = header + 24 + optional
            return max(sum(struct.unpack_from("<II", pe, table + 40 * i + 16))
                       for i in range(sections))

        # Random bytes: an archive larger than the stub, so that half the setup still holds the
        # whole program. Only the stub with nothing appended is a setup without an archive;
        # any other file whose archive is lost is damaged, exit code 3 like a failed check.
        setup = self.pack({"install.dat": SETTINGS,
                           "data.bin": random.Random(7).randbytes(200000)})
        with open(setup, "rb") as original:
            data = original.read()
        with open(STUB, "rb") as stub_file:
            stub = stub_file.read()
        self.assertGreater(len(data) // 2, len(stub))
        rows = [("cut by a byte", data[:-1]),
                ("cut inside the trailer", data[:-2]),
                ("cut before the trailer", data[:-4]),
                ("cut in half", data[:len(data) // 2]),
                ("cut to its program", data[:image_end(data)]),  # the stamp tells it from the stub
                ("a byte appended", data + b"\0"),
                ("4 bytes appended", data + b"\0\0\0\0"),
                ("a trailer appended that finds no archive", data + (100).to_bytes(4, "little")),
                ("a whole fake archive header and trailer appended",
                 data + b"FFS!" + bytes(20) + len(data).to_bytes(4, "little")),
                ("the stub with a byte appended", stub + b"\0")]
        for label, bytes_ in rows:
            with open(setup, "wb") as out:
                out.write(bytes_)
            result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 3, label)
            self.assertEqual(result.windows, [], label)
            log = self.log()
            self.assertIn(DAMAGED_QUIET, log, label)
            self.assertNotIn("Company Name", log, label)  # no script ran
        # Interactively the damaged-file box, then the same exit code.
        with open(setup, "wb") as out:
            out.write(data[:-1])
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual([(b.title, b.text) for b in result.boxes],
                         [("Install problem...", DAMAGED)])
        self.assertTrue(self.log().endswith("Successful Exit...\n"))

    def test_missing_script_is_fatal(self):
        setup = self.pack({"readme.txt": b"no script here"})
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 3)
        self.assertEqual(result.windows, [])
        self.assertIn("ABORT: Couldn't load installation script.\n", self.log())
        result = self.wine.run_with_robot(setup, [], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual(len(result.boxes), 1)
        self.assertTrue(result.boxes[0].text.startswith(
            "ABORT: Couldn't load installation script.\n"), result.boxes[0].text)

    def test_unknown_keyword_fails_with_code_2(self):
        setup = self.pack({"install.dat": script(("PRODUCT NAME", "Rocket"), ("FROBNICATE", "x"))})
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 2)
        self.assertEqual(result.windows, [])
        log = self.log()
        self.assertIn("Unknown script command 'FROBNICATE'\n"
                      "Quiet: [Install problem...] Installation script corrupted! -> OK\n"
                      "Script failed somewhere\n", log)
        self.assertTrue(log.endswith("Successful Exit...\n"))
        self.assertIn("[Install problem...]\nInstallation script corrupted!\n", result.output)
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 2)
        self.assertEqual([(b.title, b.text) for b in result.boxes],
                         [("Install problem...", "Installation script corrupted!")])

    def test_internal_error_in_a_quiet_run_shows_no_box(self):
        # A string slot of 0 is an internal error of the setup.
        setup = self.pack({"install.dat": script(
            ("PRODUCT NAME", "Rocket"),
            ("STRING", "0", "Arial", "0.02", "0.05", "0.995", "0.1", "255,128,7", "", "x"))})
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], timeout=60)
        self.assertEqual(result.code, 3)
        self.assertEqual(result.windows, [])
        log = self.log()
        self.assertIn("ABORT: Invalid string ID (0 / 0)\n", log)
        self.assertRegex(log, r"ABORT: Invalid string ID \(0 / 0\)\n +\(install/engine/settings\.cpp/\d+\)\n$")

    def test_interactive_run_opens_the_backdrop_and_ends(self):
        setup = self.pack({"install.dat": SETTINGS})
        result = self.wine.run_with_robot(setup, ["-debug"])
        self.assertEqual(result.code, 1)
        log = self.log()
        self.assertIn("Break Encountered\n", log)
        self.assertEqual(log.count("Company Name   : Acme"), 1)
        self.assertTrue(log.endswith("Successful Exit...\n"))

    def test_first_run_failure_shows_no_window(self):
        setup = self.pack({"install.dat": script(("FROBNICATE", ""), ("BREAK", ""))})
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 2)
        self.assertEqual([(b.title, b.owner_class) for b in result.boxes],
                         [("Install problem...", "")])  # no backdrop window owns it
        self.assertIn("Script failed somewhere\n", self.log())

    def test_script_without_break_runs_in_the_first_run(self):
        setup = self.pack({"install.dat": script(("PRODUCT NAME", "Rocket"))})
        result = self.wine.run_with_robot(setup, ["-debug"])
        self.assertEqual(result.code, 1)
        # The window's run only finds the end and summarises again.
        self.assertEqual(self.log().count("Product Name   : Rocket\n"), 2)

    def test_failure_in_the_window_asks_and_abort_gives_2(self):
        commands = script(("PRODUCT NAME", "Rocket"), ("BREAK", ""), ("FROBNICATE", ""))
        setup = self.pack({"install.dat": commands})
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("Installation script corrupted!", "OK"),
                   ("Do you want to abort the installation?", "Yes")])
        self.assertEqual(result.code, 2)
        self.assertEqual([(b.title, b.text) for b in result.boxes],
                         [("Install problem...", "Installation script corrupted!"),
                          ("Rocket Installation...", "Do you want to abort the installation?")])
        # Both boxes belong to the backdrop window.
        self.assertEqual([b.owner_class for b in result.boxes], ["InstallGotClass"] * 2)


if __name__ == "__main__":
    unittest.main()
