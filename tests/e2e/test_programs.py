"""The prompt and program commands end to end: real setup.exe files with MESSAGE, AGREEMENT,
EXECUTE, OLE and WINDOW run under Wine, quiet and interactive (the robot answers the text
dialogs); the helper program and the test DLL of tests/helpers leave their marker files."""
import os
import shutil
import unittest

from harness import BUILD, SetupCase, appears, script, windows_path

HELPERS = os.path.join(BUILD, "tests", "helpers")
HELPER = os.path.join(HELPERS, "helper.exe")
SETTINGS = [("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("BREAK", "")]
WELCOME = b"Welcome to Rocket.\r\nIt flies.\r\n\r\nPress Continue.\r\n"
LICENCE = b"You may use Rocket.\r\nYou may not sell it.\r\n"




class ProgramsTest(SetupCase):
    def build(self, *commands):
        return self.pack({"install.dat": script(*(SETTINGS + list(commands))),
                          "welcome.txt": WELCOME, "licence.txt": LICENCE})
    def marker(self, name):
        return os.path.join(self.folder, name)

    def test_quiet_run_starts_no_program(self):
        marker = self.marker("quiet.txt")
        setup = self.build(("EXECUTE", "9", "", windows_path(HELPER), windows_path(marker)))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        self.assertEqual(result.boxes, [])
        self.assertNotIn("Executed", self.log())
        self.assertFalse(os.path.exists(marker))

    def test_quiet_run_registers_and_unregisters_the_server(self):
        server = os.path.join(self.folder, "comserver.dll")
        shutil.copy(os.path.join(HELPERS, "comserver.dll"), server)
        setup = self.build(("OLE", "register", windows_path(server)),
                           ("OLE", "UNREGISTER", windows_path(server)))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        with open(server + ".log") as record:
            self.assertEqual(record.read(), "DllRegisterServer\nDllUnregisterServer\n")
        log = self.log()
        self.assertIn("OLE: register '%s'\n" % windows_path(server), log)
        self.assertIn("OLE: UNREGISTER '%s'\n" % windows_path(server), log)

    def test_quiet_run_shows_no_text_and_goes_on(self):
        marker = self.marker("after.txt")
        server = os.path.join(self.folder, "comserver.dll")
        shutil.copy(os.path.join(HELPERS, "comserver.dll"), server)
        setup = self.build(("TEXT", "Terms"), ("AGREEMENT", "licence.txt"),
                           ("MESSAGE", "missing.txt"), ("OLE", "REGISTER", windows_path(server)))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], default="OK")
        self.assertEqual(result.code, 1)
        self.assertEqual(result.boxes, [])
        self.assertTrue(os.path.exists(server + ".log"), "the commands after them ran")

    def test_quiet_run_closes_a_running_program(self):
        runner = self.start_helper("--window", "RocketMain", "Rocket")
        setup = self.build(("WINDOW", "0", "2000", "Rocket", "RocketMain", "$3rocket.exe",
                            "Please close Rocket"))
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(runner.wait(timeout=30), 0)
        log = self.log()
        self.assertIn("Find [0] Windows = 'Rocket' / 'RocketMain' [$3rocket.exe]\n", log)
        self.assertIn("Window Match 0: [Rocket / RocketMain]\n", log)

    def test_quiet_window_modes_that_would_ask_stop_without_a_box(self):
        # Mode 1 would tell the user to close the program, mode 2 would ask to close it: quiet,
        # neither box appears, nothing is closed and the run stops.
        for mode, line in (("1", "Quiet: [Install problem...] Please close Rocket -> OK\n"),
                           ("2", "Quiet: [Attempt #1] Please close Rocket -> No\n")):
            runner = self.start_helper("--window", "RocketMain", "Rocket")
            setup = self.build(("WINDOW", mode, "2000", "Rocket", "RocketMain", "$3rocket.exe",
                                "Please close Rocket"))
            result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], timeout=60)
            self.assertEqual(result.code, 2, mode)
            self.assertEqual([w for w in result.windows if w[0] != "RocketMain"], [], mode)
            log = self.log()
            self.assertIn(line, log)
            self.assertIn("Command Failed 'WINDOW'\n", log)
            self.assertIsNone(runner.poll(), "mode %s closed the program" % mode)
            runner.kill()
            runner.wait()

    def test_interactive_run_continues_accepts_and_starts_the_program(self):
        marker = self.marker("started.txt")
        setup = self.build(("TEXT", "Welcome to Rocket"), ("MESSAGE", "welcome.txt"),
                           ("AGREEMENT", "licence.txt"),
                           ("EXECUTE", "9", "", windows_path(HELPER), windows_path(marker)))
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("Welcome to Rocket", "Continue"), ("End User Agreement...", "I Accept")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertEqual([b.title for b in result.boxes],
                         ["Welcome to Rocket", "End User Agreement..."])
        message, agreement = result.boxes
        self.assertEqual(message.owner_class, "InstallGotClass")
        self.assertIn("Welcome to Rocket. It flies.\n\nPress Continue.\n", message.texts)
        self.assertIn("You may use Rocket. You may not sell it.\n", agreement.texts)
        self.assertTrue(appears(marker), "the program was not started")
        self.assertIn("Executed '%s' with a result of '0'\n" % windows_path(HELPER), self.log())

    def test_the_text_dialogs_open_at_their_first_line(self):
        # Texts far longer than the edit's view: the user must meet the first line, not the end.
        text = "".join("Line %d of the text.\r\n" % n for n in range(1, 121)).encode()
        setup = self.pack({"install.dat": script(*(SETTINGS + [("MESSAGE", "long.txt"),
                                                               ("AGREEMENT", "long.txt")])),
                           "long.txt": text})
        result = self.wine.run_with_robot(
            setup, ["-debug"], press=[("Welcome...", "Continue"),
                                      ("End User Agreement...", "I Accept")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertEqual([b.title for b in result.boxes], ["Welcome...", "End User Agreement..."])
        for box in result.boxes:
            self.assertIn("Line 120 of the text.", box.text)
            self.assertEqual(len(box.tops), 1, box.title)
            self.assertTrue(box.tops[0].startswith("Line 1 of the text."), (box.title, box.tops))

    def test_declining_the_agreement_fails_the_setup(self):
        setup = self.build(("MESSAGE", "welcome.txt"), ("AGREEMENT", "licence.txt"))
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("Welcome...", "Continue"), ("End User Agreement...", "I Do Not Accept"),
                   ("Do you want to abort the installation?", "Yes")])
        self.assertEqual(result.code, 2, result.boxes)
        self.assertEqual([b.title for b in result.boxes],
                         ["Welcome...", "End User Agreement...", "Rocket Installation..."])
        self.assertIn("Command Failed 'AGREEMENT'\n", self.log())


if __name__ == "__main__":
    unittest.main()
