// The items of the script's FILE LIST: each a target path whose archive name is the path
// without its leading macro pairs. Portable; INSTALL walks the list with it.
#pragma once
#include <stdint.h>

enum {
    INSTALL_ITEM_SIZE = 260, // a list item: at most 259 bytes
};

// Copies the list item at list + *cursor into item (size bytes, at least 1) and moves the cursor
// past it and its "," separator; an item also ends at any byte that ends an argument, which is
// never stepped over. Returns 1, or 0 with one log line when the item does not fit (refused, never
// cut: a cut name is another file); item is then empty and the cursor still moves past the whole
// item.
int FileList_NextItem(const char *list, int32_t *cursor, char *item, int32_t size);
// The archive name of an item: the item without its leading macro pairs ("$" and a letter); a
// backslash after them stays. Points into item.
const char *FileList_ArchiveName(const char *item);
