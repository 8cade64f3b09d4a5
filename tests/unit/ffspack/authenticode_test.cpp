// The Authenticode reader's refusals before any cryptography: the table's size bound at its edge
// and records that do not fit it (whole signatures, intact and changed, are checked through
// 'ffspack verify' in ffspack_sign_test); the Windows build, which has no libcrypto, says that it
// cannot check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "authenticode.h"
#include "test-support.h"

namespace {

using testing_support::MakeTempDir;
using testing_support::WriteFile;

struct Verified {
    bool passed;
    std::string said; // every line
};

Verified Verify(const std::string &path, uint32_t tableOffset, uint32_t tableSize) {
    PeSignature signature{0, 8, tableOffset, tableSize};
    std::vector<std::string> report;
    Verified verified{Authenticode_Verify(path, signature, &report), ""};
    for (const std::string &line : report) verified.said += line + "\n";
    return verified;
}

#if !defined(_WIN32)
TEST(Authenticode, TheTableIsRefusedFromItsSizeOrItsRecords) {
    const std::string dir = MakeTempDir("authenticode"), path = dir + "file.bin";
    // At 16: a record that claims 64 bytes; at 80, one that claims 8, one of 4 bytes' header.
    std::string file(16, 'x');
    file += std::string("\x40\0\0\0\0\x02\x02\0", 8) + std::string(56, '\0');
    file += std::string("\x08\0\0\0\0\x02\x02\0", 8) + std::string("\x08\0\0\0", 4);
    ASSERT_TRUE(WriteFile(path, file));
    const uint32_t largest = AUTHENTICODE_MAX_TABLE;
    struct {
        uint32_t offset, size;
        const char *said;
    } rows[] = {
        {0, largest + 1,
         "signature: FAILED: the certificate table is 16777217 bytes; more than 16777216 is no "
         "signature this builder reads\n"},
        {0, largest, "signature: FAILED: cannot read the certificate table of '"},
        {16, 63,
         "the certificate table's record at byte 0 claims 64 bytes, and the table has "
         "63 from there\n"},
        {16, 64, "signature: FAILED: the certificate table's entry cannot be read as PKCS#7\n"},
        {16, 76,
         "signature: FAILED: the certificate table ends inside a record's header (byte "
         "72)\n"},
        {80, 8, "signature: FAILED: the certificate table's entry cannot be read as PKCS#7\n"},
        {84, 0, "signature: FAILED: the certificate table holds no PKCS#7 signature\n"},
    };
    for (const auto &row : rows) {
        Verified verified = Verify(path, row.offset, row.size);
        EXPECT_FALSE(verified.passed) << row.said;
        EXPECT_NE(verified.said.find(row.said), std::string::npos) << verified.said;
        EXPECT_EQ(verified.said.find("not checked"), std::string::npos) << verified.said;
    }
}
#else
TEST(Authenticode, TheWindowsBuildSaysItCannotCheck) {
    const std::string dir = MakeTempDir("authenticode"), path = dir + "file.bin";
    ASSERT_TRUE(WriteFile(path, std::string(64, 'x')));
    Verified verified = Verify(path, 16, 48);
    EXPECT_FALSE(verified.passed);
    EXPECT_NE(verified.said.find("signature: NOT CHECKED: this build of ffspack has no OpenSSL"),
              std::string::npos)
        << verified.said;
}
#endif

} // namespace
