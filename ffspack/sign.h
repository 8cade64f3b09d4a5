// Authenticode signing of a finished setup through osslsigncode: the publisher's certificate and
// key as PEM files or one PKCS#12 file, the password from a file or the environment (never the
// command line, where every user of the machine can read it), an optional timestamp server.
#pragma once
#include <string>

struct SignOptions {
    std::string certificate;  // PEM certificate (chain), or a PKCS#12 file (.p12, .pfx)
    std::string key;          // PEM private key; empty with a PKCS#12 file
    std::string passwordFile; // the key's password in its first line; empty: none, or the
                              // environment variable FFSPACK_SIGN_PASSWORD when it is set
    std::string timestampUrl; // empty: no timestamp
    std::string tool = "osslsigncode";
};

// 1 when the certificate file is a PKCS#12 file (by its name: .p12 or .pfx in any case).
bool Sign_IsPkcs12(const std::string &certificate);
// Signs the setup built at built into path: signs into a file beside path, proves that the
// signed file still passes the integrity check, and only then puts it in path's place. built is
// removed in every case; on a failure nothing unsigned passes for signed, a file that was at
// path before is left as it was, and *error says why.
bool Sign_Setup(const SignOptions &options, const std::string &built, const std::string &path,
                std::string *error);
