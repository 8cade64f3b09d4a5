"""Runs real Windows programs of a build tree under Wine for the end-to-end tests.

One prefix (wine-e2e under the build folder) and one display (the X server that xvfb-run gives
this run) serve a whole test program; the Wine server is ended when the program finishes, so
that the next test program starts clean on its own display. Boxes and dialogs are answered by
the robot (tests/robot), which records what a user would have seen.
"""
import atexit
import os
import resource
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

BUILD = os.environ.get("TESSEL_BUILD", "")
FFSPACK = os.environ.get("TESSEL_FFSPACK", "")
STUB = os.path.join(BUILD, "install", "setup.exe")
HELPER = os.path.join(BUILD, "tests", "helpers", "helper.exe")
MARKER = b"\x16"
# Every Wine run's time bound is multiplied by this: a virtual machine that emulates its
# processors (scripts/test-i686.sh on a kernel without 32-bit support) runs some 15 times slower.
SLOWER = max(1, int(os.environ.get("TESSEL_TIMEOUT_SCALE", "1")))


def script(*commands):
    """install.dat from (keyword, argument, ...) tuples: marker, keyword, ':', arguments
    separated by the marker, CR LF."""
    lines = []
    for keyword, *arguments in commands:
        lines.append(MARKER + keyword.encode() + b":" + MARKER.join(a.encode() for a in arguments)
                     + b"\r\n")
    return b"".join(lines)


def appears(path, seconds=60):
    """True once path exists, waiting up to seconds for it (a helper's ready file)."""
    deadline = time.time() + seconds
    while not os.path.exists(path) and time.time() < deadline:
        time.sleep(0.1)
    return os.path.exists(path)


def read_text(path):
    with open(path, encoding="latin-1") as text:
        return text.read()


def program(name):
    """The bytes of a program of the build tree, named by its path there ("install/uninst.exe")."""
    with open(os.path.join(BUILD, *name.split("/")), "rb") as image:
        return image.read()


def windows_path(path):
    """The path under Wine's Z: drive, which maps the Unix root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Box:
    """One box the robot met: title, owner window class, texts, buttons [(id, text)], pressed,
    tops (the line at the top of each edit control's view, as the user first sees it)."""

    def __init__(self, fields):
        unescape = lambda t: (t.replace("\\n", "\n").replace("\\s", ";")
                              .replace("\\p", "|").replace("\\\\", "\\"))
        self.title = unescape(fields[0])
        self.owner_class = unescape(fields[1])
        self.texts = [unescape(t) for t in fields[2].split(";")] if fields[2] else []
        self.buttons = []
        for item in fields[3].split(";") if fields[3] else []:
            ident, _, text = item.partition(":")
            self.buttons.append((int(ident), unescape(text)))
        self.pressed = int(fields[4])
        self.tops = [unescape(t) for t in fields[5].split(";")] if fields[5:] and fields[5] else []

    @property
    def text(self):
        return "\n".join(self.texts)

    def __repr__(self):
        return "Box(%r, %r, %r, pressed=%d)" % (self.title, self.texts, self.buttons, self.pressed)


class Result:
    """code, boxes (Box), windows ((class, title) of every visible top-level window the robot
    saw, boxes included), output (standard output and error), window_shots ((class, title,
    shots) of each window a window_shots rule shot)."""

    def __init__(self, code, boxes, output, windows=(), window_shots=()):
        self.code = code
        self.boxes = boxes
        self.output = output
        self.windows = list(windows)
        self.window_shots = list(window_shots)


class Wine:
    def __init__(self, build=BUILD):
        if not build:
            raise RuntimeError("TESSEL_BUILD must name the Windows build tree")
        self.build = os.path.abspath(build)
        self.runner = os.path.join(self.build, "wine-run")
        self.robot = os.path.join(self.build, "tests", "robot", "robot.exe")
        self.env = dict(os.environ)
        self.env["TESSEL_WINEPREFIX"] = os.path.join(self.build, "wine-e2e")
        self.env["TESSEL_WINE_DISPLAY"] = os.environ.get("DISPLAY", "")
        self.env["WINEPREFIX"] = self.env["TESSEL_WINEPREFIX"]
        atexit.register(self.shutdown)

    def shutdown(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def run(self, program, args=(), timeout=120, cwd=None, limits=()):
        """Runs a program without a robot; returns (exit code, standard output and error).
        limits: (resource.RLIMIT_..., bytes) pairs that the program's process runs under."""
        timeout *= SLOWER

        def limit():
            for which, value in limits:
                resource.setrlimit(which, (value, value))
        # The output goes to a file, not a pipe: the first window of a new Wine server starts
        # Wine's desktop process, which keeps the handles of the program that caused it, so a
        # pipe would stay open long after the program ended.
        with tempfile.TemporaryFile() as output:
            done = subprocess.run([self.runner, program] + list(args), env=self.env, cwd=cwd,
                                  stdout=output, stderr=subprocess.STDOUT,
                                  timeout=timeout, preexec_fn=limit if limits else None)
            output.seek(0)
            return done.returncode, output.read().decode("latin-1")

    def run_with_robot(self, program, args=(), press=(), default="none", timeout=120, cwd=None,
                       shots=(), limits=(), window_shots=()):
        """Runs a program with the robot beside it; press is a list of (match, button) rules,
        shots a list of (match, BMP path) rules: the screen as the box appeared; window_shots
        the same for any top-level window, its last shot while it was up. The robot
        (and with it the Wine server) starts first, outside the program's limits."""
        work = tempfile.mkdtemp(prefix="tessel-robot-")
        log = os.path.join(work, "robot.log")
        stop = os.path.join(work, "stop")
        command = [self.runner, self.robot, "--log", windows_path(log), "--stop",
                   windows_path(stop), "--default", default,
                   "--timeout", str((timeout + 30) * SLOWER)]
        for match, button in press:
            command += ["--press", "%s=%s" % (match, button)]
        for match, path in shots:
            command += ["--shot", "%s=%s" % (match, windows_path(path))]
        for match, path in window_shots:
            command += ["--shot-window", "%s=%s" % (match, windows_path(path))]
        robot = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        deadline = time.time() + 60 * SLOWER
        while not (os.path.exists(log) and read_text(log).startswith("ready")):
            if time.time() > deadline or robot.poll() is not None:
                raise RuntimeError("the robot did not start")
            time.sleep(0.1)
        try:
            code, output = self.run(program, args, timeout=timeout, cwd=cwd, limits=limits)
        finally:
            open(stop, "w").close()
            robot.wait(timeout=60 * SLOWER)
        with open(log, encoding="latin-1") as records:
            lines = records.read().splitlines()
        boxes = [Box(line.split("|")[1:]) for line in lines if line.startswith("box|")]
        windows = [tuple(line.split("|")[1:3]) for line in lines if line.startswith("window|")]
        shot = [line.split("|")[1:4] for line in lines if line.startswith("shot window|")]
        shutil.rmtree(work, ignore_errors=True)
        return Result(code, boxes, output, windows,
                      [(kind, title, int(count)) for kind, title, count in shot])


STAMP_KEY = 0x7E55E1A5
STAMP_SIZE = 23


def find_stamp(data):
    """Offset of the integrity stamp's record in a built setup: the record whose check word
    holds and whose position field names its own offset."""
    for at in range(len(data) - STAMP_SIZE + 1):
        if data[at] != 0x7C or data[at + 21] != 0x7C:
            continue
        w = struct.unpack_from("<5I", data, at + 1)
        name_crc, position, crc, length = w[3] ^ STAMP_KEY, w[0] ^ w[3], w[1] ^ STAMP_KEY, w[2] ^ w[1]
        if name_crc ^ position ^ crc ^ length == w[4] ^ STAMP_KEY and position == at:
            return at
    raise ValueError("no integrity stamp found")


def restamp(data):
    """The setup's bytes with the stamp made anew over them, as the builder would have made it:
    a change before the restamp passes the integrity check."""
    data = bytearray(data)
    at = find_stamp(data)
    w = struct.unpack_from("<5I", data, at + 1)
    name_crc = w[3] ^ STAMP_KEY
    crc = zlib.crc32(bytes(data[at + STAMP_SIZE:]), zlib.crc32(bytes(data[:at])))
    length = len(data)
    w4, w2 = name_crc ^ STAMP_KEY, crc ^ STAMP_KEY
    struct.pack_into("<5I", data, at + 1, at ^ w4, w2, length ^ w2, w4,
                     name_crc ^ at ^ crc ^ length ^ STAMP_KEY)
    return bytes(data)


def read_bmp(path):
    """A bottom-up 24-bit BMP file as (width, height, pixel(x, y) -> (r, g, b)), y from the top."""
    with open(path, "rb") as image:
        data = image.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or height <= 0:
        raise ValueError("not a bottom-up 24-bit BMP: %s" % path)
    stride = (width * 3 + 3) & ~3

    def pixel(x, y):
        at = offset + (height - 1 - y) * stride + x * 3
        return data[at + 2], data[at + 1], data[at]
    return width, height, pixel


class SetupCase(unittest.TestCase):
    """Tests of real setups: one Wine for the class, and for each test a fresh folder that holds
    the setups it builds and the debug.log they write beside themselves."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="tessel-e2e-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def pack(self, entries, name="setup.exe", options=()):
        """A setup built by ffspack from this tree's stub and {archive name: bytes}, with
        further build options; its path. What ffspack printed is kept in self.packed. The
        script is stored as it is (--no-check): these tests give the setup the faults that the
        builder's checks would refuse."""
        arguments = []
        for index, (entry, data) in enumerate(sorted(entries.items())):
            path = os.path.join(self.folder, "input%d" % index)
            with open(path, "wb") as out:
                out.write(data)
            arguments.append("%s=%s" % (entry, path))
        setup = os.path.join(self.folder, name)
        done = subprocess.run([FFSPACK, "build", "--stub", STUB, "-o", setup, "--no-check"] +
                              list(options) + arguments, check=True, stdout=subprocess.PIPE)
        self.packed = done.stdout.decode()
        return setup

    def start_helper(self, *args):
        """The test helper (tests/helpers/helper.exe) started with args beside the test and up
        (it made its ready file); the process, ended with the test."""
        ready = os.path.join(self.folder, "helper-ready")
        if os.path.exists(ready):
            os.remove(ready)
        env = dict(self.wine.env, TESSEL_HELPER_READY=windows_path(ready))
        process = subprocess.Popen([self.wine.runner, HELPER] + list(args), env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(process.kill)
        self.assertTrue(appears(ready), "the helper did not come up: %s" % " ".join(args))
        return process

    def log(self):
        with open(os.path.join(self.folder, "debug.log"), "rb") as log:
            return log.read().decode("latin-1").replace("\r\n", "\n")
