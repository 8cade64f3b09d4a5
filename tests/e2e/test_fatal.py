"""The fatal path of the support library in a real Windows program under Wine: the box a
user sees, the report in debug.log beside the program, and exit code 3; in quiet mode no box."""
import os
import shutil
import tempfile
import unittest

from harness import BUILD, Wine

FATALDEMO = os.path.join(BUILD, "tests", "robot", "fataldemo.exe")


class FatalTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="tessel-fatal-")
        self.program = os.path.join(self.folder, "fataldemo.exe")
        shutil.copy(FATALDEMO, self.program)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_box_log_and_exit_code(self):
        result = self.wine.run_with_robot(self.program, ["-debug"], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual(len(result.boxes), 1)
        box = result.boxes[0]
        self.assertEqual(box.title, "Internal error...")
        self.assertEqual(box.text,
                         "ABORT: Demonstration fault 7\n       (tests/robot/fataldemo.cpp/42)\n")
        self.assertEqual(box.owner_class, "")  # no owner window
        self.assertEqual([text for _, text in box.buttons], ["OK"])
        with open(os.path.join(self.folder, "debug.log"), "rb") as log:
            text = log.read().decode("latin-1")
        self.assertTrue(text.startswith("TesselCore v0.38\r\n====[Memory Init]"))
        self.assertTrue(text.endswith("Before the fault\r\n\r\n\r\nABORT: Demonstration fault 7\r\n"
                                      "       (tests/robot/fataldemo.cpp/42)\r\n"), text)

    def test_without_log_the_box_still_shows(self):
        result = self.wine.run_with_robot(self.program, [], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual([b.title for b in result.boxes], ["Internal error..."])
        self.assertFalse(os.path.exists(os.path.join(self.folder, "debug.log")))


if __name__ == "__main__":
    unittest.main()
