"""The backdrop end to end: an interactive setup whose first run describes the gradient, a font
from its archive and a string in it, and whose second run shows a message. While the message
is up the robot saves the screen, which must show the backdrop's bands and the string; then it
presses Continue and the setup ends normally, its font gone from the temporary folder."""
import glob
import os
import sys
import unittest

from harness import SetupCase, read_bmp, script

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "fixtures"))
import make_font  # noqa: E402

FAMILY = "Tessel Test Square"
START, END = (0, 0, 255), (255, 255, 0)
RED = (255, 0, 0)


def band(i):
    """Band i of 256: the start share truncated on its own, then the end share added."""
    t = i / 256.0
    return tuple(int(int(s * (1 - t)) + e * t) & 0xFF for s, e in zip(START, END))


def band_of_row(y, height):
    u = height / 256.0
    return max(i for i in range(256) if int(i * u) <= y)


class BackdropTest(SetupCase):
    def build(self, *commands):
        return self.pack({"install.dat": script(*commands), "welcome.txt": b"Rocket is coming.\r\n",
                          "square.ttf": make_font.font(FAMILY)})
    def test_backdrop_shows_its_gradient_and_string_behind_the_message(self):
        setup = self.build(
            ("PRODUCT NAME", "Rocket"),
            ("GRADIENT START", "0,0,255"), ("GRADIENT END", "255,255,0"),
            ("FONT", "1", "square.ttf"),
            # Bottom left, clear of the centred message: its bottom on 98% of the height.
            ("STRING", "1", FAMILY, "0", "0.1", "0.02", "0.98", "255,0,0", "LEFT,UP", "HHHH"),
            ("BREAK", ""),
            ("MESSAGE", "welcome.txt"))
        shot = os.path.join(self.folder, "backdrop.bmp")
        result = self.wine.run_with_robot(setup, ["-debug"], press=[("Welcome...", "Continue")],
                                          shots=[("Welcome...", shot)])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertEqual([b.title for b in result.boxes], ["Welcome..."])
        self.assertEqual(result.boxes[0].owner_class, "InstallGotClass")

        width, height, pixel = read_bmp(shot)
        self.assertEqual((width, height), (1024, 768))  # the backdrop covers the screen
        for y in (0, 1, 2, 3, height // 2, height - 4, height - 1):
            self.assertEqual(pixel(width - 3, y), band(band_of_row(y, height)), "row %d" % y)
        self.assertEqual(pixel(width - 3, height - 1), (254, 254, 0))  # 255/256 of the way
        # The string: red squares left of the middle above the bottom, gradient above them.
        red = sum(pixel(x, y) == RED for y in range(height - 100, height - 10)
                  for x in range(10, 400))
        self.assertGreater(red, 2000)
        self.assertEqual(pixel(30, height - 120), band(band_of_row(height - 120, height)))

        self.assertIn("Break Encountered\n", self.log())
        prefix = self.wine.env["WINEPREFIX"]
        left = glob.glob(os.path.join(prefix, "drive_c", "**", "square.ttf"), recursive=True)
        self.assertEqual(left, [], "the font file outlived the run")

    def test_failing_font_ends_the_first_run_without_a_window(self):
        setup = self.build(("PRODUCT NAME", "Rocket"), ("FONT", "1", "missing.ttf"),
                           ("BREAK", ""), ("MESSAGE", "welcome.txt"))
        result = self.wine.run_with_robot(setup, ["-debug"], default="OK")
        self.assertEqual(result.code, 2, result.boxes)
        self.assertEqual(result.boxes, [])
        log = self.log()
        self.assertIn("Unable to get size for 'missing.ttf'\n", log)
        self.assertIn("Command Failed 'FONT'\n", log)
        self.assertIn("Script failed somewhere\n", log)


if __name__ == "__main__":
    unittest.main()
