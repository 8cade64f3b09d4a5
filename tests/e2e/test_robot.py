"""The robot itself: it sees a real message box under Wine and answers it as told."""
import os
import unittest

from harness import Wine

BOXDEMO = os.path.join(os.environ.get("TESSEL_BUILD", ""), "tests", "robot", "boxdemo.exe")


class RobotTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()

    def test_records_the_question_and_presses_no(self):
        result = self.wine.run_with_robot(BOXDEMO, ["Install...", "Proceed now?", "0x1024"],
                                          press=[("Proceed", "No")])
        self.assertEqual(result.code, 7)  # IDNO reached the box's caller
        self.assertEqual(len(result.boxes), 1)
        box = result.boxes[0]
        self.assertEqual(box.title, "Install...")
        self.assertIn("Proceed now?", box.texts)
        self.assertEqual(sorted(ident for ident, _ in box.buttons), [6, 7])
        self.assertEqual(box.pressed, 7)

    def test_default_button_by_text(self):
        result = self.wine.run_with_robot(BOXDEMO, ["Install problem...", "Disk full", "0x2000"],
                                          default="OK")
        self.assertEqual(result.code, 1)  # IDOK
        self.assertEqual([b.title for b in result.boxes], ["Install problem..."])


if __name__ == "__main__":
    unittest.main()
