// The uninstall facts that the setup, the uninstaller and the builder share: the uninstall
// entry's key, the value that remembers the installation folder, and the uninstaller's copy of
// the script (the layout INSTALL writes behind the archive entry "uninst.exe" and the
// uninstaller reads back, and the scrambling both sides share).
#pragma once
#include <stdint.h>

// The key under HKEY_LOCAL_MACHINE that holds the uninstall entry "CompanyName ProductName"; the
// builder checks that the whole name fits UNINSTREG_KEY_LIMIT.
#define UNINSTREG_KEY_PREFIX "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
enum {
    UNINSTREG_KEY_SIZE = 320,  // the buffer of the key name
    UNINSTREG_KEY_LIMIT = 260, // the longest key name the registry's 8-bit functions take
};
// The entry's key name, UNINSTREG_KEY_PREFIX then company and product joined by one blank (the
// display name), into keyName (size bytes). Returns its length, or -1 with keyName empty when it
// is longer than UNINSTREG_KEY_LIMIT or does not fit: refused, never cut (a cut name is another
// product's entry).
int Uninst_KeyName(const char *company, const char *product, char *keyName, int size);
// The value under HKEY_CURRENT_USER\RegistryPath that remembers the installation folder.
#define INSTALL_PATH_VALUE "Install Path"

// The uninstaller file, U the size of the entry "uninst.exe" and S the script's size:
//   0          U  the entry, byte for byte
//   U          4  the marker "FFS?"
//   U + 4      S  the script without its terminating zero, scrambled with UNINST_KEY
//   U + 4 + S  4  U, 32-bit little-endian: the offset of the marker
#define UNINST_ENTRY "uninst.exe"
#define UNINST_MARKER "FFS?"
#define UNINST_KEY "Tessel#Uninst!" // 14 printable characters, the same in the uninstaller
enum {
    UNINST_MARKER_SIZE = 4,
    UNINST_TRAILER_SIZE = 4,
    UNINST_KEY_LENGTH = 14,
    UNINST_EXTRA_SIZE = UNINST_MARKER_SIZE + UNINST_TRAILER_SIZE, // bytes beside U and S
};
static_assert(sizeof UNINST_KEY - 1 == UNINST_KEY_LENGTH, "the key has 14 characters");

// Scrambles length bytes in place: byte i becomes byte ^ key[k] ^ k ^ i (8 bits each, k = i mod
// keyLength). Applied twice with the same key it gives the bytes back. Returns 1; fatal on a
// null pointer or a key shorter than one character.
int Uninst_Scramble(uint8_t *buffer, int32_t length, const char *key, int32_t keyLength);
// Completes an uninstaller file in file, which holds uninstallerSize bytes of the entry and
// room for scriptSize + UNINST_EXTRA_SIZE more: the marker, the scrambled copy of script and
// the trailer. Returns 1.
int Uninst_AppendScript(uint8_t *file, int32_t uninstallerSize, const char *script,
                        int32_t scriptSize);
