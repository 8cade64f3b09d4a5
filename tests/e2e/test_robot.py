"""The robot itself: it sees a real message box under Wine and answers it as told."""
import os
import shutil
import tempfile
import unittest

from harness import Wine, read_bmp

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

    def test_a_window_rule_keeps_the_last_shot_while_its_window_was_up(self):
        folder = tempfile.mkdtemp(prefix="tessel-robot-shot-")
        self.addCleanup(shutil.rmtree, folder, True)
        shot, none = os.path.join(folder, "box.bmp"), os.path.join(folder, "none.bmp")
        result = self.wine.run_with_robot(BOXDEMO, ["Progress...", "Working", "0x0"],
                                          press=[("Working", "OK")],
                                          window_shots=[("Progress...", shot),
                                                        ("No such window", none)])
        self.assertEqual(result.code, 1)
        # Shot every 10 ms while the box waited 150 ms for its answer.
        self.assertEqual([w[:2] for w in result.window_shots], [("#32770", "Progress...")])
        self.assertGreater(result.window_shots[0][2], 1)
        width, height, _ = read_bmp(shot)
        self.assertEqual((width, height), (1024, 768))
        self.assertFalse(os.path.exists(none))


if __name__ == "__main__":
    unittest.main()
