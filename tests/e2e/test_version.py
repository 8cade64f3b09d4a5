"""The version information that ffspack writes into a setup, read back by two readers that share
nothing with the builder: Windows' own (GetFileVersionInfo and VerQueryValue in Wine, through
the helper verinfo.exe) and a parser of the PE resource tree (peversion.py). The stub's own
resources stay as they were, the setup still installs quietly and through its dialogs, signed
and unsigned setups pass 'ffspack verify'; a stub that carries a version resource of its own
gets it replaced, a stub without any resources gets a tree; a version that Windows cannot hold
refuses the build."""
import os
import shutil
import struct
import subprocess
import unittest

from harness import (BUILD, FFSPACK, STAMP_SIZE, STUB, SetupCase, find_stamp, restamp,
                     windows_path)
from peversion import RT_VERSION, Image, version_info

VERINFO = os.path.join(BUILD, "tests", "helpers", "verinfo.exe")
UNSET = b"|TesselStampUnwritten|\0"
README = b"Bramble Notes\r\nRead me first.\r\n"


def image_of(path):
    with open(path, "rb") as data:
        return Image(data.read())


class VersionTest(SetupCase):
    def build(self, version="1.3", stub=STUB, name="setup.exe", extra=(), check=True):
        """A setup of Bramble Notes built from the script's text form; its path (None when the
        build was refused, with ffspack's words in self.packed)."""
        target = os.path.join(self.folder, "Bramble")
        lines = ["COMPANY NAME:Bramble Software", "PRODUCT NAME:Bramble Notes"]
        lines += ["PRODUCT VERSION:" + version] if version is not None else []
        lines += ["INSTALL DIR:" + windows_path(target), "FILE LIST:readme.txt", "BREAK:",
                  "INSTALL PATH:Where to?", "INSTALL:", "DONE:Bramble Notes is installed."]
        script = os.path.join(self.folder, "setup.txt")
        with open(script, "w") as out:
            out.write("\n".join(lines) + "\n")
        product = os.path.join(self.folder, "product")
        os.makedirs(product, exist_ok=True)
        with open(os.path.join(product, "readme.txt"), "wb") as out:
            out.write(README)
        setup = os.path.join(self.folder, name)
        done = subprocess.run([FFSPACK, "build", "--stub", stub, "-o", setup, "--script", script,
                               "--dir", product] + list(extra), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        self.packed = done.stdout.decode()
        if check:
            self.assertEqual(done.returncode, 0, self.packed)
        return setup if done.returncode == 0 else None

    def parsed(self, path):
        """The only version resource of the file at path, as the parser reads it."""
        with open(path, "rb") as data:
            image = Image(data.read())
        versions = [r for r in image.resources() if r[0] == RT_VERSION]
        self.assertEqual(len(versions), 1, [r[:3] for r in versions])
        return version_info(versions[0][3])

    def windows_reads(self, path):
        code, output = self.wine.run(VERINFO, [windows_path(path)])
        self.assertEqual(code, 0, output)
        return dict(line.split("=", 1) for line in output.splitlines() if "=" in line)

    def ffspack(self, *args):
        done = subprocess.run([FFSPACK] + list(args), stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        return done.returncode, done.stdout.decode()

    def assert_installs(self, setup):
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        installed = os.path.join(self.folder, "Bramble", "readme.txt")
        with open(installed, "rb") as data:
            self.assertEqual(data.read(), README)
        shutil.rmtree(os.path.join(self.folder, "Bramble"))

    EXPECTED = {"FixedFileVersion": "1.3.0.0", "FixedProductVersion": "1.3.0.0",
                "Translation": "0409 04b0", "CompanyName": "Bramble Software",
                "FileDescription": "Bramble Notes 1.3 Setup", "FileVersion": "1.3",
                "ProductName": "Bramble Notes", "ProductVersion": "1.3"}

    def test_windows_and_a_parser_read_what_the_build_wrote(self):
        setup = self.build()
        parsed = self.parsed(setup)
        self.assertEqual(parsed.pop("Table"), "040904B0")
        self.assertEqual(parsed, self.EXPECTED)
        self.assertEqual(self.windows_reads(setup), self.EXPECTED)
        # The stub's own resources are all there, byte for byte.
        with open(STUB, "rb") as data:
            stub = Image(data.read())
        with open(setup, "rb") as data:
            built = Image(data.read())
        self.assertEqual([r for r in built.resources() if r[0] != RT_VERSION], stub.resources())
        # The archive begins where the image ends, as the trailer says.
        with open(setup, "rb") as data:
            whole = data.read()
        self.assertEqual(struct.unpack_from("<I", whole, len(whole) - 4)[0], built.image_end())
        print("stub %d bytes, image with the version resource %d bytes (+%d)" %
              (os.path.getsize(STUB), built.image_end(), built.image_end() - os.path.getsize(STUB)))
        code, report = self.ffspack("verify", setup)
        self.assertEqual(code, 0, report)
        self.assertIn("version: file version 1.3.0.0, product version 1.3.0.0\n"
                      "  CompanyName: Bramble Software\n"
                      "  FileDescription: Bramble Notes 1.3 Setup\n"
                      "  FileVersion: 1.3\n"
                      "  ProductName: Bramble Notes\n"
                      "  ProductVersion: 1.3\n", report)
        self.assert_installs(setup)
        # Through its dialogs, whose templates stay in the stub's own resource section.
        result = self.wine.run_with_robot(
            setup, ["-debug"],
            press=[("Install Bramble Notes into", "Yes"), ("Installation Directory...", "Continue"),
                   ("Bramble Notes is installed.", "OK")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertIn("Installation Complete!", [b.title for b in result.boxes])

    def test_without_a_version_the_texts_leave_it_out(self):
        setup = self.build(version=None)
        expected = {"FixedFileVersion": "0.0.0.0", "FixedProductVersion": "0.0.0.0",
                    "Translation": "0409 04b0", "CompanyName": "Bramble Software",
                    "FileDescription": "Bramble Notes Setup", "ProductName": "Bramble Notes"}
        self.assertEqual(self.windows_reads(setup), expected)
        parsed = self.parsed(setup)
        del parsed["Table"]
        self.assertEqual(parsed, expected)
        setup = self.build(version="2024 edition")
        self.assertNotIn("note: PRODUCT VERSION", self.packed)
        self.assertEqual(self.parsed(setup)["FixedFileVersion"], "2024.0.0.0")
        setup = self.build(version="beta")
        self.assertIn("note: PRODUCT VERSION \"beta\" begins with no number: the setup's numeric "
                      "file version is 0.0.0.0\n", self.packed)
        self.assertEqual(self.windows_reads(setup)["FixedFileVersion"], "0.0.0.0")
        self.assertEqual(self.windows_reads(setup)["ProductVersion"], "beta")

    def test_verify_fails_on_a_damaged_version_resource(self):
        setup = self.build()
        with open(setup, "rb") as data:
            whole = data.read()
        at = whole.index(struct.pack("<I", 0xFEEF04BD))  # the fixed part's signature
        with open(setup, "wb") as out:
            out.write(restamp(whole[:at] + b"\0" + whole[at + 1:]))
        code, report = self.ffspack("verify", setup)
        self.assertEqual(code, 1, report)
        self.assertIn("stamp: record at offset", report)
        self.assertIn("file intact", report)
        self.assertIn("version: DAMAGED (the version information is damaged)\n", report)

    def test_the_largest_numbers_and_the_first_refused(self):
        setup = self.build(version="65535.65535.65535.65535")
        self.assertEqual(self.windows_reads(setup)["FixedFileVersion"], "65535.65535.65535.65535")
        for version, words in [("1.65536", "65536 is too large"), ("1.2.3.4.5", "a fifth number")]:
            self.assertIsNone(self.build(version=version, name="refused.exe", check=False))
            self.assertIn(words, self.packed)
            self.assertFalse(os.path.exists(os.path.join(self.folder, "refused.exe")))

    @unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"),
                         "osslsigncode and openssl needed")
    def test_a_signed_setup_keeps_it_and_verifies(self):
        cert, key = os.path.join(self.folder, "cert.pem"), os.path.join(self.folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "2", "-subj", "/CN=Bramble Test"], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        setup = self.build(extra=["--sign", cert, "--key", key])
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, setup],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(done.returncode, 0, done.stdout.decode("latin-1"))
        code, report = self.ffspack("verify", setup)
        self.assertEqual(code, 0, report)
        self.assertRegex(report, r"signed: \d+ bytes of certificates\n")
        self.assertEqual(self.windows_reads(setup)["FileDescription"], "Bramble Notes 1.3 Setup")
        self.assert_installs(setup)

    def stub_from(self, setup, name):
        """The image of a built setup as a stub again: the archive cut off, the stamp's record
        unwritten."""
        with open(setup, "rb") as data:
            whole = bytearray(data.read())
        image = whole[:struct.unpack_from("<I", whole, len(whole) - 4)[0]]
        at = find_stamp(whole)
        image[at:at + STAMP_SIZE] = UNSET
        path = os.path.join(self.folder, name)
        with open(path, "wb") as out:
            out.write(image)
        return path

    def test_a_stubs_own_version_resource_is_replaced(self):
        stub = self.stub_from(self.build(version="1.3"), "versioned-stub.exe")
        self.assertEqual(self.parsed(stub)["ProductVersion"], "1.3")
        sections = len(image_of(stub).sections)
        setup = self.build(version="1.4", stub=stub, name="setup-1.4.exe")
        self.assertEqual(self.parsed(setup)["ProductVersion"], "1.4")  # one, the new one
        self.assertEqual(self.windows_reads(setup)["FileDescription"], "Bramble Notes 1.4 Setup")
        self.assertEqual(len(image_of(setup).sections), sections,
                         "the tree's section at the end replaced, none added")
        self.assert_installs(setup)

    def test_a_stub_without_resources_gets_a_tree(self):
        with open(STUB, "rb") as data:
            bare = bytearray(data.read())
        image = Image(bytes(bare))
        pe, = struct.unpack_from("<I", bare, 0x3C)
        entry = pe + 24 + {0x10B: 96, 0x20B: 112}[image.magic] + 16
        bare[entry:entry + 8] = bytes(8)  # the resource entry gone: no tree at all
        stub = os.path.join(self.folder, "bare-stub.exe")
        with open(stub, "wb") as out:
            out.write(bare)
        setup = self.build(stub=stub)
        built = image_of(setup)
        self.assertEqual([r[:3] for r in built.resources()], [(RT_VERSION, 1, 1033)])
        self.assertEqual(self.windows_reads(setup)["ProductName"], "Bramble Notes")
        self.assert_installs(setup)


if __name__ == "__main__":
    unittest.main()
