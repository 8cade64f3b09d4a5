"""Setups that carry files far larger than the memory they may use, installed quietly end to end:
INSTALL writes each file in pieces as its entry is decoded, so that a setup's memory does not
grow with the files it carries.

entry            what                                 stored  checked after a quiet run
---------------  -----------------------------------  ------  ------------------------------------
data\\big.dat     600 MB: a random 3000-byte phrase    Type2   exit code 1, no window; both files
                 and a numbered line, over and over,          byte for byte (SHA-256) in place;
                 so that no two pieces are the same           the log's "Peak memory: N KB working
data\\noise.bin   40 MB of random bytes                raw     set, M KB private": M below 16 MB,
                                                              N no more than 2 MB above N of the
                                                              same setup with two small files

Both setups run with their data segment limited to 64 MB, a tenth of the large file: a setup that
held a file whole would end with "ABORT: No Memory available". TESSEL_LARGE_MB sets the large
file's size in MB for a run by hand (1536 for 1.5 GB; the archive holds at most 2 GB). Under Wine a process's working set
holds Wine's own libraries (about 20 MB for any setup), so the working set is measured against
the small setup's, run the same way.
"""
import hashlib
import os
import random
import re
import resource
import subprocess
import sys
import time
import unittest

from harness import FFSPACK, STUB, SetupCase, script, windows_path

BIG_SIZE = int(os.environ.get("TESSEL_LARGE_MB", "600")) << 20
NOISE_SIZE = 40 << 20
DATA_LIMIT = 64 << 20
PRIVATE_LIMIT_KB = 16 << 10
GROWTH_LIMIT_KB = 2 << 10
CHUNK = 1 << 20
PEAK = re.compile(r"^Peak memory: (\d+) KB working set, (\d+) KB private$", re.M)


def write_big(path):
    """The large file, written a megabyte at a time; its SHA-256."""
    phrase = random.Random(5).randbytes(3000)
    digest = hashlib.sha256()
    number = 0
    pending = bytearray()
    with open(path, "wb") as out:
        written = 0
        while written < BIG_SIZE:
            while len(pending) < CHUNK:
                pending += phrase + b"block %08d\r\n" % number
                number += 1
            chunk = bytes(pending[:min(CHUNK, BIG_SIZE - written)])
            del pending[:len(chunk)]
            out.write(chunk)
            digest.update(chunk)
            written += len(chunk)
    return digest.hexdigest()


def write_noise(path):
    data = random.Random(6).randbytes(NOISE_SIZE)
    with open(path, "wb") as out:
        out.write(data)
    return hashlib.sha256(data).hexdigest()


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as data:
        for chunk in iter(lambda: data.read(CHUNK), b""):
            digest.update(chunk)
    return digest.hexdigest()


class LargeFiles(SetupCase):
    def build(self, name, files):
        """A setup built by ffspack from {archive name: input path}, its inputs removed."""
        setup = os.path.join(self.folder, name)
        subprocess.run([FFSPACK, "build", "--stub", STUB, "-o", setup, "--no-check"] +
                       ["%s=%s" % item for item in files.items()], check=True,
                       stdout=subprocess.DEVNULL)
        for path in files.values():
            os.remove(path)
        return setup

    def run_quiet(self, setup):
        """Runs setup quietly under the data limit; its log and its (working set, private) peak
        in KB."""
        started = time.time()
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"], timeout=600,
                                          limits=[(resource.RLIMIT_DATA, DATA_LIMIT)])
        seconds = time.time() - started
        log = self.log()
        self.assertEqual(result.code, 1, log[-2000:] + result.output)
        self.assertEqual(result.windows, [], "a quiet run showed a window")
        peak = PEAK.search(log)
        self.assertIsNotNone(peak, log[-2000:])
        print("\n%s: %.1f s; %s" % (os.path.basename(setup), seconds, peak.group(0)),
              file=sys.stderr)
        return log, int(peak.group(1)), int(peak.group(2))

    def test_a_large_file_is_installed_in_pieces_within_a_small_memory(self):
        target = os.path.join(self.folder, "Rocket")
        inputs = os.path.join(self.folder, "inputs")
        os.makedirs(inputs)
        install = script(("PRODUCT NAME", "Rocket"), ("INSTALL DIR", windows_path(target)),
                         ("FILE LIST", "data\\big.dat,data\\noise.bin"), ("BREAK", ""),
                         ("INSTALL PATH", "Where to?"), ("INSTALL", ""),
                         ("DONE", "Rocket is installed."))
        files = {}
        for name, data in (("install.dat", install), ("data\\big.dat", b"a small file\r\n"),
                           ("data\\noise.bin", b"and another")):
            files[name] = os.path.join(inputs, name.replace("\\", "-"))
            with open(files[name], "wb") as out:
                out.write(data)
        small = self.build("small.exe", files)
        expected = {"big.dat": write_big(files["data\\big.dat"]),
                    "noise.bin": write_noise(files["data\\noise.bin"])}
        with open(files["install.dat"], "wb") as out:
            out.write(install)
        large = self.build("large.exe", files)
        listing = subprocess.run([FFSPACK, "list", large, "data\\big.dat", "data\\noise.bin"],
                                 check=True, stdout=subprocess.PIPE).stdout.decode()
        self.assertRegex(listing, r"Type2 +%d +[\d.]+%% +data\\big\.dat" % BIG_SIZE)
        self.assertRegex(listing, r"raw +%d +100\.0%% +data\\noise\.bin" % NOISE_SIZE)

        _, small_working_set, _ = self.run_quiet(small)
        log, working_set, private = self.run_quiet(large)
        for name, digest in expected.items():
            self.assertEqual(file_digest(os.path.join(target, "data", name)), digest, name)
        self.assertLess(private, PRIVATE_LIMIT_KB, log[-500:])
        self.assertLess(working_set - small_working_set, GROWTH_LIMIT_KB,
                        "%d KB against %d KB" % (working_set, small_working_set))


if __name__ == "__main__":
    unittest.main()
