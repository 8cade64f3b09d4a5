"""scripts/demo.sh end to end: the example product Kestrel Clock is packed from this tree, run
interactively in a Wine virtual desktop with the robot clicking through, started, and removed
by its uninstaller the same way. Each step's PNG must be a valid picture of the screen's size
that shows what that step shows; the setup must have installed the product's files, shortcuts,
COM server and uninstall entry, and the uninstaller must have left the prefix as it was."""
import os
import shutil
import struct
import subprocess
import tempfile
import unittest
import zlib

from harness import BUILD, FFSPACK

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WIDTH, HEIGHT = 800, 600
SHOTS = ["1-welcome", "2-licence", "3-folder", "4-progress", "5-done", "6-uninstall",
         "7-removed"]
BACKDROP = SHOTS[:5]  # the setup's shots: its backdrop behind every window
GRADIENT_START, GRADIENT_END = (18, 32, 96), (236, 140, 60)
PRODUCT = "C:\\Program Files\\Kestrel Works\\Kestrel Clock\\"
GROUP = "\\Start Menu\\Programs\\Kestrel Works\\Kestrel Clock\\"
CLSID = "{6B3E2F1A-4C5D-4E8F-9A1B-2C3D4E5F6A7B}"


def read_png(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG file; ValueError when the file
    is no such PNG: a wrong signature, a chunk whose CRC does not hold, no IEND, a damaged
    or short image stream, a filter type PNG does not have."""
    with open(path, "rb") as image:
        data = image.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("no PNG signature")
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        body = data[at + 8:at + 8 + length]
        crc, = struct.unpack_from(">I", data, at + 8 + length)
        if zlib.crc32(kind + body) != crc:
            raise ValueError("CRC of %s" % kind)
        chunks.append((kind, body))
        at += 12 + length
    if chunks[0][0] != b"IHDR" or chunks[-1][0] != b"IEND":
        raise ValueError("IHDR first and IEND last")
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    if (depth, colour, interlace) != (8, 2, 0):
        raise ValueError("not 8-bit RGB without interlace")
    raw = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
    stride = width * 3
    if len(raw) != height * (stride + 1):
        raise ValueError("image data of %d bytes" % len(raw))
    rows, above = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            a = line[x - 3] if x >= 3 else 0
            b, c = above[x], above[x - 3] if x >= 3 else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
            elif kind != 0:
                raise ValueError("filter type %d" % kind)
        rows.append(bytes(line))
        above = line
    return width, height, rows


def pixel(rows, x, y):
    return tuple(rows[y][3 * x:3 * x + 3])


def differing(one, other, top=0, bottom=HEIGHT):
    """How many pixels of rows top to bottom differ between two pictures."""
    return sum(sum(1 for x in range(WIDTH) if a[3 * x:3 * x + 3] != b[3 * x:3 * x + 3])
               for a, b in zip(one[top:bottom], other[top:bottom]))


def records(path):
    with open(path, encoding="latin-1") as log:
        return [line.rstrip("\n").split("|") for line in log]


class DemoTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="tessel-demo-")
        cls.out, cls.work = os.path.join(cls.folder, "pictures"), os.path.join(cls.folder, "work")
        env = dict(os.environ, TESSEL_BUILD=BUILD, TESSEL_FFSPACK=FFSPACK,
                   TESSEL_DEMO_WORK=cls.work)
        done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "demo.sh"), cls.out],
                              env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=840)
        cls.output = done.stdout.decode("latin-1")
        print(cls.output)
        cls.code = done.returncode
        cls.pictures = {}
        for name in SHOTS:
            path = os.path.join(cls.out, "kestrel-%s.png" % name)
            if os.path.exists(path):
                cls.pictures[name] = read_png(path)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def lines(self, name):
        with open(os.path.join(self.work, name), encoding="utf-8") as snapshot:
            return set(snapshot.read().splitlines())

    def code_of(self, name):
        with open(os.path.join(self.work, name + ".code")) as code:
            return int(code.read())

    def test_the_script_runs_and_makes_a_valid_picture_of_each_step(self):
        self.assertEqual(self.code, 0, self.output)
        self.assertEqual(sorted(self.pictures), SHOTS)
        for name, (width, height, rows) in self.pictures.items():
            self.assertEqual((width, height), (WIDTH, HEIGHT), name)
            counts = {}
            for row in rows:
                for x in range(0, WIDTH * 3, 3):
                    counts[row[x:x + 3]] = counts.get(row[x:x + 3], 0) + 1
            # Something of a window's size stands out from the commonest colour.
            self.assertGreater(WIDTH * HEIGHT - max(counts.values()), 5000, name)
            self.assertGreater(len(counts), 8, name)

    def test_the_setups_pictures_show_its_backdrop_and_its_name_in_the_carried_font(self):
        for name in BACKDROP:
            rows = self.pictures[name][2]
            self.assertEqual(pixel(rows, WIDTH - 2, 0), GRADIENT_START, name)
            bottom = pixel(rows, WIDTH - 2, HEIGHT - 1)
            self.assertTrue(all(abs(b - e) <= 2 for b, e in zip(bottom, GRADIENT_END)),
                            (name, bottom))
            white = sum(pixel(rows, x, y) == (255, 255, 255)
                        for y in range(15, 75) for x in range(20, 500))
            self.assertGreater(white, 3000, "%s: no product name on the backdrop" % name)
        # The backdrop's top, with the name, is the same behind every step.
        first = self.pictures[BACKDROP[0]][2]
        for name in BACKDROP[1:]:
            self.assertEqual(differing(first, self.pictures[name][2], 0, 120), 0, name)

    def test_each_step_shows_something_new_where_its_window_is(self):
        for before, after in zip(SHOTS, SHOTS[1:]):
            changed = differing(self.pictures[before][2], self.pictures[after][2])
            self.assertGreater(changed, 2000, "%s and %s are alike" % (before, after))
        # The uninstaller's pictures have no backdrop: Wine's desktop behind its boxes.
        for name in SHOTS[5:]:
            self.assertNotEqual(pixel(self.pictures[name][2], WIDTH - 2, 0), GRADIENT_START)

    def test_the_robot_met_every_window_of_the_setup_and_the_uninstaller_in_order(self):
        setup = records(os.path.join(self.work, "setup.log"))
        titles = [r[1] for r in setup if r[0] == "box"]
        self.assertEqual(titles, ["Welcome to Kestrel Clock", "Kestrel Clock licence",
                                  "Installation Directory...", "Installation Directory...",
                                  "Please wait...", "Kestrel Clock is installed"][:len(titles)])
        shot = [r for r in setup if r[0] == "shot window"]
        self.assertEqual([r[1:3] for r in shot], [["#32770", "Please wait..."]])
        self.assertGreaterEqual(int(shot[0][3]), 1)
        uninstall = records(os.path.join(self.work, "uninstall.log"))
        self.assertIn(["window", "KestrelClock", "Kestrel Clock"], uninstall)  # the clock ran
        texts = [r[3] for r in uninstall if r[0] == "box" and r[1] != "Please wait..."]
        self.assertEqual(texts, ["Do you want to remove Kestrel Clock and all of its components?",
                                 "Kestrel Clock was removed from your computer."])
        self.assertFalse([r for r in setup + uninstall if r[0] in ("shot failed", "timeout")])

    def test_the_setup_installed_the_product_and_the_uninstaller_removed_it(self):
        self.assertEqual(self.code_of("setup"), 1)
        self.assertEqual(self.code_of("uninstall"), 1)
        before, installed = self.lines("before.txt"), self.lines("installed.txt")
        added = installed - before
        files = {"clock.exe", "bin\\chime.dll", "docs\\readme.txt", "docs\\licence.txt",
                 "docs\\fonts\\DejaVu licence.txt", "uninst.exe"}
        files |= {"sounds\\strike%02d.wav" % hour for hour in range(1, 13)}
        for name in files:
            self.assertIn("file " + PRODUCT + name, added)
        self.assertIn("file C:\\windows\\kestrel.ini", added)
        shortcuts = {line.rsplit("\\", 1)[1] for line in added if GROUP in line}
        self.assertEqual(shortcuts,
                         {"Kestrel Clock.lnk", "Read Me.lnk", "Remove Kestrel Clock.lnk"})
        registry = "\n".join(sorted(line for line in added if line.startswith("reg ")))
        self.assertIn('reg HKCU\\Software\\Kestrel Works\\Kestrel Clock "Install Path"="%s' %
                      PRODUCT.replace("\\", "\\\\"), registry)
        self.assertIn("reg HKLM\\Software\\Classes\\CLSID\\%s\\InprocServer32 @=" % CLSID, registry)
        self.assertIn("reg HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                      'Kestrel Works Kestrel Clock "DisplayName"="Kestrel Works Kestrel Clock"',
                      registry)
        self.assertEqual(self.lines("after.txt") - before, set(), "left behind")
        self.assertIn("---- left behind\n  nothing\n", self.output)


if __name__ == "__main__":
    unittest.main()
