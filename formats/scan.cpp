// The scan of a compiled script's commands.
#include "scan.h"

#include "tessel-core.h"

int Scan_Next(const char *script, int32_t size, int32_t *position, ScanCommand *command) {
    CORE_GUARD(script);
    CORE_GUARD(position);
    CORE_GUARD(command);
    int32_t p = *position;
    while (p < size && script[p] != SCRIPT_MARKER) p++;
    if (p >= size) {
        *position = size;
        return 0;
    }
    int32_t q = p + 1, length = 0;
    while (q < size && script[q] != ':' && length < KEYWORD_SIZE - 1)
        command->Keyword[length++] = script[q++];
    command->Keyword[length] = 0;
    command->Id = Keyword_Find(command->Keyword);
    command->Start = p;
    command->Arguments = q < size ? q + 1 : size;
    *position = p;
    return 1;
}

int32_t Scan_ArgLength(const char *text, int32_t cursor) {
    CORE_GUARD(text);
    int32_t length = 0;
    while (!Keyword_IsTerminator(text[cursor + length])) length++;
    return length;
}

int32_t Scan_End(const char *script, const ScanCommand *command) {
    CORE_GUARD(script);
    CORE_GUARD(command);
    int32_t cursor = command->Arguments;
    if (command->Id < 0) return cursor;
    for (int32_t i = 0; i < Keyword_Info(command->Id)->ArgCount; i++) {
        cursor += Scan_ArgLength(script, cursor);
        if (script[cursor] != 0) cursor++;
    }
    return cursor;
}
