// The Authenticode check: the certificate table's entries, the signed digest read from the
// SpcIndirectDataContent (a few DER elements walked by hand), the image's digest over the file
// in pieces, and the PKCS#7 signature checked through OpenSSL's libcrypto.
#include "authenticode.h"

#if !defined(TESSEL_AUTHENTICODE)

bool Authenticode_Verify(const std::string &path, const PeSignature &signature,
                         std::vector<std::string> *report) {
    (void)path;
    (void)signature;
    report->push_back("signature: NOT CHECKED: this build of ffspack has no OpenSSL libcrypto "
                      "(the Linux builder checks signatures)");
    return false;
}

#else

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "tessel-bytes.h"

namespace {

enum {
    CERT_HEADER_SIZE = 8,           // WIN_CERTIFICATE: length (32 bits), revision, type (16 each)
    CERT_TYPE_PKCS_SIGNED = 0x0002, // the entry holds a PKCS#7 SignedData
    DER_SEQUENCE = 0x30,
    DER_OBJECT = 0x06,
    DER_OCTET_STRING = 0x04,
    PIECE_SIZE = 1 << 16,
};

// The object identifier of SpcIndirectDataContent, the content that Authenticode signs.
const char *const kIndirectData = "1.3.6.1.4.1.311.2.1.4";

typedef std::vector<uint8_t> Bytes;

struct Pkcs7Free {
    void operator()(PKCS7 *p) const { PKCS7_free(p); }
};
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct StoreFree {
    void operator()(X509_STORE *s) const { X509_STORE_free(s); }
};
struct DigestFree {
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
struct FileClose {
    void operator()(FILE *f) const { fclose(f); }
};
typedef std::unique_ptr<FILE, FileClose> File;

// One DER element: its whole encoding (tag to end) and its contents.
struct Der {
    const uint8_t *start, *content, *end;
};

// Reads the element at *at (before end) with the tag wanted into *element and moves *at behind
// it. False when the tag differs, the length is indefinite or longer than 4 bytes, or the
// element runs past end.
bool DerRead(const uint8_t **at, const uint8_t *end, uint8_t tag, Der *element) {
    const uint8_t *p = *at;
    if (end - p < 2 || p[0] != tag) return false;
    element->start = p;
    size_t length = p[1];
    p += 2;
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || (size_t)(end - p) < count) return false;
        length = 0;
        for (size_t i = 0; i < count; i++) length = length << 8 | *p++;
    }
    if ((size_t)(end - p) < length) return false;
    element->content = p;
    element->end = p + length;
    *at = element->end;
    return true;
}

// What the signature says the image's digest is: SpcIndirectDataContent ::= SEQUENCE { data
// SEQUENCE, messageDigest DigestInfo ::= SEQUENCE { AlgorithmIdentifier ::= SEQUENCE {
// algorithm OID, parameters }, digest OCTET STRING } }.
struct SignedDigest {
    const EVP_MD *algorithm;
    Bytes digest;
    Der content; // the SpcIndirectDataContent, whose contents the PKCS#7 signature covers
};

bool ReadIndirectData(const uint8_t *data, size_t length, SignedDigest *signedDigest,
                      std::string *error) {
    const uint8_t *at = data;
    Der indirect, attribute, digestInfo, algorithm, object, digest;
    bool read = DerRead(&at, data + length, DER_SEQUENCE, &indirect);
    const uint8_t *inside = read ? indirect.content : nullptr;
    read = read && DerRead(&inside, indirect.end, DER_SEQUENCE, &attribute) &&
           DerRead(&inside, indirect.end, DER_SEQUENCE, &digestInfo);
    const uint8_t *info = read ? digestInfo.content : nullptr;
    read = read && DerRead(&info, digestInfo.end, DER_SEQUENCE, &algorithm) &&
           DerRead(&info, digestInfo.end, DER_OCTET_STRING, &digest);
    const uint8_t *inAlgorithm = read ? algorithm.content : nullptr;
    if (!read || !DerRead(&inAlgorithm, algorithm.end, DER_OBJECT, &object)) {
        *error = "the signed content holds no digest that can be read";
        return false;
    }
    const uint8_t *objectAt = object.start;
    ASN1_OBJECT *oid = d2i_ASN1_OBJECT(nullptr, &objectAt, object.end - object.start);
    signedDigest->algorithm = oid ? EVP_get_digestbyobj(oid) : nullptr;
    ASN1_OBJECT_free(oid);
    if (!signedDigest->algorithm) {
        *error = "the signed digest's algorithm is not one this builder knows";
        return false;
    }
    signedDigest->digest.assign(digest.content, digest.end);
    signedDigest->content = indirect;
    return true;
}

// The SpcIndirectDataContent of a SignedData, read into *signedDigest. False with *error when
// the PKCS#7 is no SignedData of that content.
bool ReadSignedDigest(PKCS7 *p7, SignedDigest *signedDigest, std::string *error) {
    if (!PKCS7_type_is_signed(p7) || !p7->d.sign || !p7->d.sign->contents) {
        *error = "the PKCS#7 entry is no SignedData";
        return false;
    }
    const PKCS7 *contents = p7->d.sign->contents;
    char type[80] = "";
    if (contents->type) OBJ_obj2txt(type, sizeof type, contents->type, 1);
    const ASN1_TYPE *other = strcmp(type, kIndirectData) == 0 ? contents->d.other : nullptr;
    if (!other || other->type != V_ASN1_SEQUENCE || !other->value.sequence) {
        *error = std::string("the signed content is not Authenticode's (content type ") +
                 (type[0] ? type : "none") + ")";
        return false;
    }
    const ASN1_STRING *sequence = other->value.sequence;
    return ReadIndirectData(sequence->data, (size_t)sequence->length, signedDigest, error);
}

// Adds the file's bytes [from, to) to the digest, read in pieces.
bool HashRange(FILE *file, EVP_MD_CTX *context, int64_t from, int64_t to) {
    if (fseeko(file, (off_t)from, SEEK_SET) != 0) return false;
    Bytes piece(PIECE_SIZE);
    for (int64_t left = to - from; left > 0;) {
        size_t want = (size_t)std::min<int64_t>(left, PIECE_SIZE);
        if (fread(piece.data(), 1, want, file) != want) return false;
        if (EVP_DigestUpdate(context, piece.data(), want) != 1) return false;
        left -= (int64_t)want;
    }
    return true;
}

// The image's digest as signing tools compute it: the file from its start to the certificate
// table, less the checksum field and the security directory entry (which signing rewrites).
bool ImageDigest(const std::string &path, const PeSignature &signature, const EVP_MD *algorithm,
                 Bytes *digest, std::string *error) {
    const int64_t checksum = signature.ChecksumOffset, entry = signature.EntryOffset;
    const int64_t table = signature.TableOffset;
    if (!(checksum >= 0 && checksum + PE_CHECKSUM_SIZE <= entry &&
          entry + PE_ENTRY_SIZE <= table)) {
        *error = "the certificate table begins inside the image's headers";
        return false;
    }
    File file(fopen(path.c_str(), "rb"));
    std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    unsigned length = 0;
    digest->resize(EVP_MAX_MD_SIZE);
    bool done = file && context && EVP_DigestInit_ex(context.get(), algorithm, nullptr) == 1 &&
                HashRange(file.get(), context.get(), 0, checksum) &&
                HashRange(file.get(), context.get(), checksum + PE_CHECKSUM_SIZE, entry) &&
                HashRange(file.get(), context.get(), entry + PE_ENTRY_SIZE, table) &&
                EVP_DigestFinal_ex(context.get(), digest->data(), &length) == 1;
    digest->resize(length);
    if (!done) *error = "cannot read '" + path + "' to compute its digest";
    return done;
}

// OpenSSL's reason for the last failure, or "".
std::string OpenSslReason() {
    unsigned long code = ERR_peek_last_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? reason : "";
}

// The PKCS#7 signature over the content, checked with the signer's certificate from the blob
// (its chain to a trusted issuer is not). True with the signer's subject in *signer.
bool VerifyPkcs7(PKCS7 *p7, const Der &content, std::string *signer, std::string *error) {
    // The signature covers the content's contents, not its SEQUENCE tag and length.
    std::unique_ptr<BIO, BioFree> data(
        BIO_new_mem_buf(content.content, (int)(content.end - content.content)));
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    ERR_clear_error();
    if (!data || !store ||
        PKCS7_verify(p7, nullptr, store.get(), data.get(), nullptr, PKCS7_NOVERIFY) != 1) {
        std::string reason = OpenSslReason();
        *error = "the PKCS#7 signature does not verify with the signer's certificate" +
                 (reason.empty() ? std::string() : " (" + reason + ")");
        return false;
    }
    STACK_OF(X509) *signers = PKCS7_get0_signers(p7, nullptr, 0);
    char name[256] = "?";
    if (signers && sk_X509_num(signers) > 0)
        X509_NAME_oneline(X509_get_subject_name(sk_X509_value(signers, 0)), name, sizeof name);
    sk_X509_free(signers);
    ERR_clear_error();
    *signer = name;
    return true;
}

std::string Hex(const Bytes &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) text += {digits[b >> 4], digits[b & 15]};
    return text;
}

// One PKCS#7 entry of the table: the signed digest against the image's, then the signature.
bool VerifyEntry(const std::string &path, const PeSignature &signature, const Bytes &blob,
                 std::vector<std::string> *report) {
    const uint8_t *at = blob.data();
    std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &at, (long)blob.size()));
    ERR_clear_error();
    SignedDigest signedDigest{};
    std::string error;
    if (!p7) error = "the certificate table's entry cannot be read as PKCS#7";
    Bytes image;
    if (error.empty() && ReadSignedDigest(p7.get(), &signedDigest, &error) &&
        ImageDigest(path, signature, signedDigest.algorithm, &image, &error)) {
        const std::string name = OBJ_nid2sn(EVP_MD_get_type(signedDigest.algorithm));
        if (image != signedDigest.digest) {
            report->push_back("signature: FAILED: the image's " + name + " digest " + Hex(image) +
                              " differs from the signed one " + Hex(signedDigest.digest) +
                              " (the file was changed after signing)");
            return false;
        }
        report->push_back("signature: the image's " + name +
                          " digest (all but the checksum, the security entry and the certificate "
                          "table) is the signed one");
        std::string signer;
        if (VerifyPkcs7(p7.get(), signedDigest.content, &signer, &error)) {
            report->push_back("signature: the PKCS#7 signature verifies with the signer's "
                              "certificate " +
                              signer);
            return true;
        }
    }
    report->push_back("signature: FAILED: " + error);
    return false;
}

// The PKCS#7 entries of a certificate table (WIN_CERTIFICATE records, each 8-byte aligned).
// False with *error when a record runs past the table or the table holds none.
bool TableEntries(const Bytes &table, std::vector<Bytes> *blobs, std::string *error) {
    for (size_t at = 0; at < table.size();) {
        if (table.size() - at < CERT_HEADER_SIZE) {
            *error = "the certificate table ends inside a record's header (byte " +
                     std::to_string(at) + ")";
            return false;
        }
        const uint32_t length = Le_Get32(table.data() + at);
        const uint16_t type = Le_Get16(table.data() + at + 6);
        if (length < CERT_HEADER_SIZE || length > table.size() - at) {
            *error = "the certificate table's record at byte " + std::to_string(at) + " claims " +
                     std::to_string(length) + " bytes, and the table has " +
                     std::to_string(table.size() - at) + " from there";
            return false;
        }
        if (type == CERT_TYPE_PKCS_SIGNED)
            blobs->emplace_back(table.begin() + (long)(at + CERT_HEADER_SIZE),
                                table.begin() + (long)(at + length));
        at += ((size_t)length + 7) & ~(size_t)7;
    }
    if (blobs->empty()) *error = "the certificate table holds no PKCS#7 signature";
    return !blobs->empty();
}

bool ReadTable(const std::string &path, const PeSignature &signature, Bytes *table,
               std::string *error) {
    if (signature.TableSize > AUTHENTICODE_MAX_TABLE) {
        *error = "the certificate table is " + std::to_string(signature.TableSize) +
                 " bytes; more than " + std::to_string(AUTHENTICODE_MAX_TABLE) +
                 " is no signature this builder reads";
        return false;
    }
    table->resize(signature.TableSize);
    File file(fopen(path.c_str(), "rb"));
    if (file && fseeko(file.get(), (off_t)signature.TableOffset, SEEK_SET) == 0 &&
        fread(table->data(), 1, table->size(), file.get()) == table->size())
        return true;
    *error = "cannot read the certificate table of '" + path + "'";
    return false;
}

} // namespace

bool Authenticode_Verify(const std::string &path, const PeSignature &signature,
                         std::vector<std::string> *report) {
    Bytes table;
    std::vector<Bytes> blobs;
    std::string error;
    if (!ReadTable(path, signature, &table, &error) || !TableEntries(table, &blobs, &error)) {
        report->push_back("signature: FAILED: " + error);
        return false;
    }
    for (const Bytes &blob : blobs)
        if (!VerifyEntry(path, signature, blob, report)) return false;
    report->push_back("signature: not checked: whether a trusted issuer stands behind the "
                      "signer's certificate (its chain, validity dates and revocation) and any "
                      "timestamp; Windows checks those when the setup is started");
    return true;
}

#endif
