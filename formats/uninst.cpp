// The uninstall facts: the entry's key name, the scrambling, and the layout behind the
// uninstaller.
#include "uninst.h"

#include <string.h>

#include "tessel-bytes.h"
#include "tessel-core.h"
#include "tessel-str.h"

int Uninst_KeyName(const char *company, const char *product, char *keyName, int size) {
    CORE_GUARD(company);
    CORE_GUARD(product);
    CORE_GUARD(keyName);
    int length = Str_Format(keyName, size, "%s%s %s", UNINSTREG_KEY_PREFIX, company, product);
    if (length >= 0 && length <= UNINSTREG_KEY_LIMIT) return length;
    if (size > 0) keyName[0] = 0;
    return -1;
}

int Uninst_Scramble(uint8_t *buffer, int32_t length, const char *key, int32_t keyLength) {
    CORE_GUARD(buffer);
    CORE_GUARD(key);
    Core_Locate(__FILE__, __LINE__);
    Core_Assert(keyLength >= 1, "Scrambling key of %d characters\n", keyLength);
    for (int32_t i = 0; i < length; i++) {
        int32_t k = i % keyLength;
        buffer[i] = (uint8_t)(buffer[i] ^ (uint8_t)key[k] ^ (uint8_t)k ^ (uint8_t)i);
    }
    return 1;
}

int Uninst_AppendScript(uint8_t *file, int32_t uninstallerSize, const char *script,
                        int32_t scriptSize) {
    CORE_GUARD(file);
    CORE_GUARD(script);
    uint8_t *marker = file + uninstallerSize;
    memcpy(marker, UNINST_MARKER, UNINST_MARKER_SIZE);
    memcpy(marker + UNINST_MARKER_SIZE, script, (size_t)scriptSize);
    Uninst_Scramble(marker + UNINST_MARKER_SIZE, scriptSize, UNINST_KEY, UNINST_KEY_LENGTH);
    Le_Put32(marker + UNINST_MARKER_SIZE + scriptSize, (uint32_t)uninstallerSize);
    return 1;
}
