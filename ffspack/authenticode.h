// The Authenticode signature of a signed Windows image, checked by 'ffspack verify' and after
// signing: the image's digest computed as signing tools compute it, compared with the digest that
// the signature carries, and the PKCS#7 signature over it checked with the signer's certificate
// from the table. Whether that certificate's issuer is trusted is not checked.
#pragma once
#include <string>
#include <vector>

#include "tessel-pe.h"

enum {
    // A table larger than this is refused unread: a signature with its chain and a timestamp
    // takes some kilobytes.
    AUTHENTICODE_MAX_TABLE = 16 << 20,
};

// Checks the signature of the file at path, whose PE header gave *signature with a certificate
// table that ends at the file's end (Pe_IsSigned). Appends one line a check to *report, each
// beginning "signature: ", the last one saying what was not checked. Returns true when every
// PKCS#7 signature of the table verifies and its digest is the image's; false, with the line
// that says why, at the first that does not, when the table cannot be read, and in a build
// without OpenSSL's libcrypto.
bool Authenticode_Verify(const std::string &path, const PeSignature &signature,
                         std::vector<std::string> *report);
