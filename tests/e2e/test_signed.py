"""Signed setups end to end: a setup built by ffspack, signed afterwards with osslsigncode and a
throw-away certificate made with openssl (and once by ffspack build --sign), passes
osslsigncode's verification against that certificate and installs under Wine quietly and
interactively like an unsigned one; with one byte changed in its image, its archive or its
trailer, bytes behind its certificate table or the table cut short, it installs nothing and
ends with exit code 3 (interactively after the damaged-setup box)."""
import os
import shutil
import subprocess
import unittest

from harness import FFSPACK, SetupCase, script, windows_path

README = b"Rocket 2.1\r\nRead me first.\r\n"
BIG = b"".join(b"line %05d of the big data file\r\n" % i for i in range(3000))


def tool(name):
    return shutil.which(name)


@unittest.skipUnless(tool("osslsigncode") and tool("openssl"), "osslsigncode and openssl needed")
class SignedTest(SetupCase):
    def setUp(self):
        super().setUp()
        self.target = os.path.join(self.folder, "Rocket")
        self.cert = os.path.join(self.folder, "cert.pem")
        self.key = os.path.join(self.folder, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        self.key, "-out", self.cert, "-days", "2", "-subj",
                        "/CN=Tessel Test Publisher"], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def product(self):
        return {"install.dat": script(("COMPANY NAME", "Acme"), ("PRODUCT NAME", "Rocket"),
                                      ("INSTALL DIR", windows_path(self.target)),
                                      ("FILE LIST", "readme.txt,data\\big.dat"), ("BREAK", ""),
                                      ("INSTALL PATH", "Where to?"), ("INSTALL", ""),
                                      ("DONE", "Rocket is installed.")),
                "readme.txt": README, "data\\big.dat": BIG}

    def sign(self, setup):
        signed = setup[:-4] + "-signed.exe"
        subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-in",
                        setup, "-out", signed], check=True, stdout=subprocess.DEVNULL)
        return signed

    def assert_valid_signature(self, path):
        done = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, path],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(done.returncode, 0, done.stdout.decode("latin-1"))

    def assert_installed(self):
        with open(os.path.join(self.target, "data", "big.dat"), "rb") as data:
            self.assertEqual(data.read(), BIG)
        shutil.rmtree(self.target)

    def verify(self, path):
        done = subprocess.run([FFSPACK, "verify", path], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        return done.returncode, done.stdout.decode()

    def test_a_signed_setup_installs_like_an_unsigned_one(self):
        setup = self.pack(self.product())
        self.assertEqual(os.path.getsize(setup) % 8, 0)
        signed = self.sign(setup)
        self.assert_valid_signature(signed)
        code, report = self.verify(signed)
        self.assertEqual(code, 0, report)
        self.assertRegex(report, r"signed: \d+ bytes of certificates\n")
        result = self.wine.run_with_robot(signed, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assertEqual(result.windows, [])
        self.assert_installed()
        result = self.wine.run_with_robot(
            signed, ["-debug"],
            press=[("Install Rocket into", "Yes"), ("Installation Directory...", "Continue"),
                   ("Rocket is installed.", "OK")])
        self.assertEqual(result.code, 1, result.boxes)
        self.assertIn("Installation Complete!", [b.title for b in result.boxes])
        self.assert_installed()

    def test_ffspack_signs_with_a_pkcs12_file_and_a_password_file(self):
        bundle = os.path.join(self.folder, "publisher.p12")
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", self.key, "-in", self.cert,
                        "-out", bundle, "-passout", "pass:rocket-pass"], check=True)
        password = os.path.join(self.folder, "password.txt")
        with open(password, "w") as out:
            out.write("rocket-pass\n")
        setup = self.pack(self.product(), options=["--sign", bundle, "--password-file", password])
        self.assertIn("signed with %s" % bundle, self.packed)
        self.assert_valid_signature(setup)
        result = self.wine.run_with_robot(setup, ["-Quiet", "-debug"])
        self.assertEqual(result.code, 1, self.log())
        self.assert_installed()

    def test_a_damaged_signed_setup_installs_nothing(self):
        setup = self.pack(self.product())
        signed = self.sign(setup)
        with open(signed, "rb") as original:
            data = original.read()
        length = os.path.getsize(setup)  # where the certificate table begins
        damaged = {
            "image": data[:200] + bytes([data[200] ^ 1]) + data[201:],
            "archive": data[:length - 3000] + bytes([data[length - 3000] ^ 1]) +
            data[length - 2999:],
            "trailer": data[:length - 1] + bytes([data[length - 1] ^ 1]) + data[length:],
            "appended": data + b"\0",
            "cut": data[:-1],
        }
        path = os.path.join(self.folder, "damaged.exe")
        for what, bytes_ in damaged.items():
            with open(path, "wb") as out:
                out.write(bytes_)
            result = self.wine.run_with_robot(path, ["-Quiet", "-debug"])
            self.assertEqual(result.code, 3, what)
            self.assertEqual(result.windows, [], what)
            self.assertIn("ABORT: Install has been corrupted, please download a new copy.\n",
                          self.log(), what)
            self.assertFalse(os.path.exists(self.target), what)
            code, report = self.verify(path)
            self.assertNotEqual(code, 0, what)
        # Interactively the same refusal is the damaged-setup box.
        result = self.wine.run_with_robot(path, ["-debug"], default="OK")
        self.assertEqual(result.code, 3)
        self.assertEqual([b.title for b in result.boxes], ["Internal error..."])
        self.assertTrue(result.boxes[0].text.startswith(
            "ABORT: Install has been corrupted, please download a new copy.\n"))
        self.assertFalse(os.path.exists(self.target))


if __name__ == "__main__":
    unittest.main()
