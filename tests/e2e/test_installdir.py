"""INSTALL PATH end to end: real setup.exe files run under Wine, quiet (the default directory
under Program Files, or the one an earlier installation left in the registry) and interactive
(the robot answers the directory dialog and its question); checked by exit code, debug.log and
the boxes a user would have seen."""
import unittest

from harness import SetupCase, script

KEY = "Software\\TesselE2E\\Rocket"
PROMPT = "Where should Rocket go?"


def setup_script(registry_path=""):
    commands = [("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"), ("INSTALL DIR", "Rocket"),
                ("INSTALL SIZE", "1234")]
    if registry_path:
        commands.append(("REGISTRY PATH", registry_path))
    commands += [("BREAK", ""), ("INSTALL PATH", PROMPT)]
    return script(*commands)


class InstallDirTest(SetupCase):
    def setUp(self):
        super().setUp()
        self.forget()

    def tearDown(self):
        self.forget()
        super().tearDown()

    def forget(self):
        self.wine.run("reg", ["delete", "HKCU\\Software\\TesselE2E", "/f"])

    def build(self, install_dat):
        return self.pack({"install.dat": install_dat})
    def test_quiet_run_installs_under_program_files(self):
        result = self.wine.run_with_robot(self.build(setup_script()), ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        self.assertEqual(result.boxes, [])
        log = self.log()
        self.assertIn("$0 Translates to 'C:\\Program Files\\'\n", log)
        self.assertIn("Install Path   : C:\\Program Files\\Rocket\\ [Rocket\\]\n", log)

    def test_quiet_run_takes_the_remembered_directory(self):
        code, output = self.wine.run("reg", ["add", "HKCU\\" + KEY, "/v", "Install Path", "/t",
                                             "REG_SZ", "/d", "C:\\Remembered\\Rocket\\", "/f"])
        self.assertEqual(code, 0, output)
        result = self.wine.run_with_robot(self.build(setup_script(KEY)), ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        self.assertIn("Install Path   : C:\\Remembered\\Rocket\\ [Rocket\\]\n", self.log())

    def test_quiet_run_without_the_remembered_value_keeps_the_default(self):
        result = self.wine.run_with_robot(self.build(setup_script(KEY)), ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1)
        self.assertIn("Install Path   : C:\\Program Files\\Rocket\\ [Rocket\\]\n", self.log())

    def test_interactive_run_continues_in_the_directory_dialog(self):
        result = self.wine.run_with_robot(
            self.build(setup_script()), ["-debug"],
            press=[("Install Rocket into", "Yes"), ("Installation Directory...", "Continue")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertEqual([b.title for b in result.boxes], ["Installation Directory..."] * 2)
        dialog, question = result.boxes
        self.assertEqual(dialog.owner_class, "InstallGotClass")
        for text in (PROMPT, "C:\\Program Files\\Rocket\\", "Free space before installation",
                     "Space used by application", "Free space after installation", "1,234k"):
            self.assertIn(text, dialog.texts, dialog)
        self.assertEqual([text for _, text in dialog.buttons if text],
                         ["Browse", "Exit Setup", "Continue"])
        self.assertEqual(question.text, "Install Rocket into C:\\Program Files\\Rocket\\?")
        self.assertEqual(question.owner_class, "#32770")  # the dialog owns its question
        log = self.log()
        self.assertIn("Install Path   : C:\\Program Files\\Rocket\\ [Rocket\\]\n", log)
        self.assertIn("Free Space Ex : ", log)

    def test_exit_setup_fails_the_command(self):
        result = self.wine.run_with_robot(
            self.build(setup_script()), ["-debug"],
            press=[("Do you want to abort the installation?", "Yes"),
                   ("Installation Directory...", "Exit Setup")])
        self.assertEqual(result.code, 2, result.boxes)
        self.assertEqual([b.title for b in result.boxes],
                         ["Installation Directory...", "Rocket Installation..."])
        self.assertIn("Command Failed 'INSTALL PATH'\n", self.log())


if __name__ == "__main__":
    unittest.main()
