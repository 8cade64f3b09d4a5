// Signing through osslsigncode with a throw-away certificate, proved by ffspack and by the
// tool; the signing options out of place, a missing tool and a failed signing write nothing;
// verify checks the signature itself (host tree).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ffspack-test-support.h"

#if defined(TESSEL_FFSPACK_PATH)

using namespace ffspack_test;
using testing_support::FileExists;
using testing_support::MakeTempDir;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

// A stub that is an image, as a signing tool wants one, with the checksum a linker writes.
std::string ImageStub(const std::string &dir) {
    std::string path = dir + "image-stub.exe";
    testing_support::PeHeader header;
    header.checksum = 0x5EED0001;
    WriteFile(path, testing_support::PeHeaderBytes(header) + "|TesselStampUnwritten|" +
                        std::string(1, '\0') + std::string(100, '.'));
    return path;
}

TEST(Ffspack, SigningOptionsOutOfPlaceAreUsageErrors) {
    std::string dir = MakeTempDir("ffspack-options");
    std::string out = dir + "setup.exe";
    std::string build = "build --stub " + Stub(dir) + " -o " + out + " ";
    WriteFile(dir + "a.txt", "some text");
    struct {
        std::string arguments;
        const char *message;
    } rows[] = {
        {build + "--sign " + dir + "cert.pem a.txt", "--sign with a PEM certificate needs --key"},
        {build + "--sign " + dir + "cert.p12.pem a.txt", "--sign with a PEM certificate needs"},
        {build + "--key " + dir + "key.pem a.txt", "go with --sign"},
        {build + "--password-file " + dir + "pass.txt a.txt", "go with --sign"},
        {build + "--timestamp http://localhost/ a.txt", "go with --sign"},
        {"build --standalone -o " + out + " --sign " + dir + "cert.p12 a.txt",
         "--sign is for a setup"},
        {build + "a.txt --sign", "unknown or incomplete option '--sign'"},
    };
    for (auto &row : rows) {
        Outcome outcome = RunFfspack(row.arguments);
        EXPECT_EQ(outcome.code, 2) << row.arguments;
        EXPECT_NE(outcome.output.find(row.message), std::string::npos) << outcome.output;
        EXPECT_FALSE(FileExists(out)) << row.arguments;
    }
}

// A PKCS#12 file by its name in any letter case: the build goes on to the signing tool, which
// is not there.
TEST(Ffspack, WithoutTheSigningToolNothingIsWritten) {
    std::string dir = MakeTempDir("ffspack-notool");
    std::string out = dir + "setup.exe";
    WriteFile(dir + "a.txt", "some text");
    for (const char *certificate : {"cert.p12", "CERT.PFX", "cert.P12"}) {
        Outcome outcome = RunFfspack("build --stub " + ImageStub(dir) + " -o " + out + " --sign " +
                                         dir + certificate + " " + dir + "a.txt",
                                     "PATH=/nonexistent ");
        EXPECT_EQ(outcome.code, 1) << certificate;
        EXPECT_NE(outcome.output.find("cannot run 'osslsigncode' (install osslsigncode)"),
                  std::string::npos)
            << outcome.output;
        EXPECT_FALSE(FileExists(out)) << certificate;
        EXPECT_FALSE(FileExists(out + ".unsigned")) << certificate;
    }
}

const char *kPassword = "tessel-pass";

// Builds with a throw-away certificate for code signing: cert.pem with key.pem (no password),
// and both in cert.p12 under kPassword, made with openssl; the password in right.txt.
class FfspackSign : public ::testing::Test {
  protected:
    std::string dir, stub, out;

    void SetUp() override {
        for (const char *program : {"openssl", "osslsigncode"})
            if (RunCommand(std::string("command -v ") + program).code != 0)
                GTEST_SKIP() << program << " is not installed";
        dir = MakeTempDir("ffspack-sign");
        Outcome made = RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 2 "
                                  "-subj /CN=Tessel -addext extendedKeyUsage=codeSigning -keyout " +
                                  dir + "key.pem -out " + dir + "cert.pem");
        ASSERT_EQ(made.code, 0) << made.output;
        Outcome exported =
            RunCommand("openssl pkcs12 -export -in " + dir + "cert.pem -inkey " + dir +
                       "key.pem -out " + dir + "cert.p12 -passout pass:" + kPassword);
        ASSERT_EQ(exported.code, 0) << exported.output;
        WriteFile(dir + "right.txt", std::string(kPassword) + "\n");
        WriteFile(dir + "wrong.txt", "not the password\n");
        WriteFile(dir + "a.txt", std::string(1000, 'a'));
        stub = ImageStub(dir);
        out = dir + "setup.exe";
    }

    // A setup signed with the PEM certificate and its key, read whole; the place and the size
    // of its certificate table.
    void SignedFile(std::string *file, size_t *table, size_t *tableSize) {
        ASSERT_EQ(Build(out, "--sign " + dir + "cert.pem --key " + dir + "key.pem").code, 0);
        *file = ReadFile(out);
        *table = testing_support::LittleEndian(*file, testing_support::PeHeader().EntryAt());
        *tableSize = file->size() - *table;
    }

    Outcome Build(const std::string &output, const std::string &signing,
                  const std::string &environment = "") {
        return RunFfspack("build --stub " + stub + " -o " + output + " " + signing + " " + dir +
                              "a.txt",
                          environment);
    }
};

// The tool appends its table right behind the built file (a multiple of 8 long) and rewrites
// only the checksum and the security entry; ffspack and the tool both accept the result.
TEST_F(FfspackSign, TheSignedSetupVerifiesBothWays) {
    std::string plainDir = MakeTempDir("ffspack-plain");
    ASSERT_EQ(Build(plainDir + "setup.exe", "").code, 0);
    const std::string plain = ReadFile(plainDir + "setup.exe");
    const testing_support::PeHeader header;
    struct {
        const char *label;
        std::string signing, environment, certificate;
    } rows[] = {
        {"PKCS#12, password file",
         "--sign " + dir + "cert.p12 --password-file " + dir + "right.txt", "", dir + "cert.p12"},
        {"PKCS#12, password from the environment", "--sign " + dir + "cert.p12",
         "FFSPACK_SIGN_PASSWORD=" + std::string(kPassword) + " ", dir + "cert.p12"},
        {"PEM certificate and key", "--sign " + dir + "cert.pem --key " + dir + "key.pem", "",
         dir + "cert.pem"},
    };
    for (auto &row : rows) {
        std::remove(out.c_str());
        Outcome built = Build(out, row.signing, row.environment);
        ASSERT_EQ(built.code, 0) << row.label << "\n" << built.output;
        EXPECT_NE(built.output.find("signed with " + row.certificate + "\n"), std::string::npos)
            << built.output;
        EXPECT_FALSE(FileExists(out + ".unsigned")) << row.label;

        std::string file = ReadFile(out);
        ASSERT_GT(file.size(), plain.size()) << row.label;
        std::string head = file.substr(0, plain.size());
        for (size_t at : {header.ChecksumAt(), header.EntryAt(), header.EntryAt() + 4})
            head.replace(at, 4, plain, at, 4);
        EXPECT_TRUE(head == plain) << row.label;
        EXPECT_EQ(testing_support::LittleEndian(file, header.EntryAt()), plain.size());
        EXPECT_EQ(testing_support::LittleEndian(file, header.EntryAt() + 4),
                  file.size() - plain.size());

        Outcome verified = RunFfspack("verify " + out);
        EXPECT_EQ(verified.code, 0) << verified.output;
        EXPECT_NE(verified.output.find("signed: " + std::to_string(file.size() - plain.size()) +
                                       " bytes of certificates\n"),
                  std::string::npos)
            << verified.output;
        EXPECT_NE(verified.output.find(out + ": OK"), std::string::npos) << verified.output;
        Outcome proved = RunCommand("osslsigncode verify -CAfile " + dir + "cert.pem -in " + out);
        EXPECT_EQ(proved.code, 0) << row.label << "\n" << proved.output;
    }
}

// The bytes of file with the 32-bit little-endian word at at set to value.
std::string WithWord(std::string file, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++) file[at + i] = (char)(value >> (8 * i));
    return file;
}

// The first (or last) place of the bytes pattern in file from its offset from, which must be
// there.
size_t Find(const std::string &file, const std::string &pattern, size_t from, bool last = false) {
    size_t at = last ? file.rfind(pattern) : file.find(pattern, from);
    EXPECT_NE(at, std::string::npos);
    EXPECT_GE(at, from);
    return at == std::string::npos ? from : at;
}
// A changed signed file: what verify says of it and its exit code.
struct VerifyRow {
    const char *label;
    std::string bytes;
    int code;
    std::vector<std::string> said;
};

// Each row's bytes written as the setup and verified: the exit code, the texts said, and the
// verdict's line.
void VerifyRows(const std::string &out, const std::vector<VerifyRow> &rows) {
    for (auto &row : rows) {
        WriteFile(out, row.bytes);
        Outcome verified = RunFfspack("verify " + out);
        EXPECT_EQ(verified.code, row.code) << row.label << "\n" << verified.output;
        for (const std::string &text : row.said)
            EXPECT_NE(verified.output.find(text), std::string::npos)
                << row.label << ": " << text << "\n"
                << verified.output;
        EXPECT_NE(verified.output.find(out + (row.code ? ": FAILED" : ": OK")), std::string::npos)
            << row.label;
    }
}

std::string Flip(const std::string &file, size_t at) {
    std::string changed = file;
    changed[at] ^= 0x10;
    return changed;
}

// verify checks the signature itself: the image's digest against the signed one (the checksum,
// the security entry and the table left out) and the PKCS#7 signature; every other changed
// byte fails with its reason.
TEST_F(FfspackSign, VerifyChecksTheSignatureItself) {
    std::string file;
    size_t table = 0, tableSize = 0;
    ASSERT_NO_FATAL_FAILURE(SignedFile(&file, &table, &tableSize));
    const testing_support::PeHeader header;
    auto flip = [&](size_t at) { return Flip(file, at); };
    // The RSA signature (OCTET STRING of 256 bytes) closes the PKCS#7 of a 2048-bit key; the
    // digest of the sha256 DigestInfo in the signed content follows the algorithm's identifier.
    const size_t rsa = Find(file, std::string("\x04\x82\x01\x00", 4), table, true) + 4;
    const std::string sha256Info("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
                                 15);
    const size_t signedDigest = Find(file, sha256Info, table) + sha256Info.size();
    const std::string checked = "signature: the PKCS#7 signature verifies with the signer's "
                                "certificate /CN=Tessel\n";
    VerifyRows(
        out,
        {
            {"as signed",
             file,
             0,
             {"signature: the image's SHA256 digest (all but the checksum, the security entry and "
              "the certificate table) is the signed one\n",
              checked, "signature: not checked: whether a trusted issuer stands behind"}},
            {"checksum field", flip(header.ChecksumAt()), 0, {checked}},
            {"signature bytes",
             flip(rsa + 100),
             1,
             {"signature: FAILED: the PKCS#7 signature does not verify with the signer's "
              "certificate (signature failure)"}},
            {"signed digest",
             flip(signedDigest + 5),
             1,
             {"signature: FAILED: the image's SHA256 digest ", " differs from the signed one ",
              "(the file was changed after signing)"}},
            {"image body",
             flip(table / 2),
             1,
             {"(the file was changed after signing)", "FILE DAMAGED"}},
            {"security entry's neighbour in the header",
             flip(header.EntryAt() - 1),
             1,
             {"(the file was changed after signing)"}},
        });
}

// A certificate table cut short, a record that claims more than the table holds or less than
// its header, and a record that holds no PKCS#7 signature: each fails with its reason.
TEST_F(FfspackSign, VerifyChecksTheCertificateTable) {
    std::string file;
    size_t table = 0, tableSize = 0;
    ASSERT_NO_FATAL_FAILURE(SignedFile(&file, &table, &tableSize));
    const testing_support::PeHeader header;
    VerifyRows(out,
               {
                   {"table cut short",
                    file.substr(0, file.size() - 8),
                    1,
                    {"signed, but the certificate table is cut short (8 bytes missing)"}},
                   {"table and its entry cut short",
                    WithWord(file.substr(0, file.size() - 8), header.EntryAt() + 4,
                             (uint32_t)tableSize - 8),
                    1,
                    {"signature: FAILED: the certificate table's record at byte 0 claims " +
                     std::to_string(tableSize) + " bytes, and the table has " +
                     std::to_string(tableSize - 8) + " from there"}},
                   {"record shorter than its header",
                    WithWord(file, table, 7),
                    1,
                    {"the certificate table's record at byte 0 claims 7 bytes"}},
                   {"record of another type",
                    WithWord(file, table + 4, 0x00010200),
                    1,
                    {"signature: FAILED: the certificate table holds no PKCS#7 signature"}},
                   {"no PKCS#7",
                    Flip(file, table + 8),
                    1,
                    {"signature: FAILED: the certificate table's entry cannot be read as PKCS#7"}},
               });
}

// An unsigned setup says nothing of signatures.
TEST_F(FfspackSign, AnUnsignedSetupSaysNothingOfSignatures) {
    std::remove(out.c_str());
    ASSERT_EQ(Build(out, "").code, 0);
    Outcome plain = RunFfspack("verify " + out);
    EXPECT_EQ(plain.code, 0) << plain.output;
    EXPECT_EQ(plain.output.find("signed"), std::string::npos) << plain.output;
    EXPECT_EQ(plain.output.find("signature"), std::string::npos) << plain.output;
}

TEST_F(FfspackSign, AFailedSigningLeavesNoSetup) {
    struct {
        const char *label;
        std::string signing, environment;
    } rows[] = {
        {"wrong password file", "--sign " + dir + "cert.p12 --password-file " + dir + "wrong.txt",
         ""},
        {"wrong password in the environment", "--sign " + dir + "cert.p12",
         "FFSPACK_SIGN_PASSWORD=wrong "},
        {"no certificate file", "--sign " + dir + "none.p12 --password-file " + dir + "right.txt",
         ""},
        {"a key file that holds no key", "--sign " + dir + "cert.pem --key " + dir + "a.txt", ""},
    };
    // A setup built before under the same name stays as it was: the signed one would only have
    // taken its place.
    const std::string earlier = dir + "earlier.exe";
    for (auto &row : rows) {
        for (const std::string &output : {out, earlier}) {
            std::remove(out.c_str());
            WriteFile(earlier, "the setup of yesterday");
            Outcome built = Build(output, row.signing, row.environment);
            EXPECT_EQ(built.code, 1) << row.label << "\n" << built.output;
            EXPECT_NE(built.output.find("'osslsigncode sign' failed (exit code "),
                      std::string::npos)
                << built.output;
            EXPECT_NE(built.output.find("no setup was written"), std::string::npos) << built.output;
            EXPECT_FALSE(FileExists(out)) << row.label;
            EXPECT_EQ(ReadFile(earlier), "the setup of yesterday") << row.label;
            EXPECT_EQ(RunCommand("ls -A " + dir + " | grep -c -e ffspack -e signing").output, "0\n")
                << row.label;
        }
    }
}

} // namespace

#endif
