// Walking the FILE LIST: its items and their archive names.
#include "filelist.h"

#include <string.h>

#include "keywords.h"
#include "tessel-core.h"

int FileList_NextItem(const char *list, int32_t *cursor, char *item, int32_t size) {
    CORE_GUARD(list);
    CORE_GUARD(cursor);
    CORE_GUARD(item);
    int32_t length = 0;
    while (!Keyword_IsTerminator(list[*cursor + length]) && list[*cursor + length] != ',') length++;
    int fits = length < size;
    if (fits)
        memcpy(item, list + *cursor, (size_t)length);
    else
        Log_Print("File list item too long (%d > %d)\n", length, size - 1);
    item[fits ? length : 0] = 0;
    *cursor += length;
    if (list[*cursor] == ',') *cursor += 1;
    return fits;
}

const char *FileList_ArchiveName(const char *item) {
    CORE_GUARD(item);
    // The same pairs that Path_Expand takes for macros: "$" and any byte but the end.
    while (item[0] == '$' && item[1]) item += 2;
    return item;
}
