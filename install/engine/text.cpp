// Line joining of the dialogs' texts.
#include "text.h"

#include "tessel-core.h"

// A byte below 32 as an unsigned number, the zero that ends the text excepted; letters of
// 0x80 and above count as printable, so that joining never drops them.
static int IsLineBreakByte(char c) { return c != 0 && (unsigned char)c < 32; }
static int IsPrintableByte(char c) { return (unsigned char)c >= 32; }

int Text_JoinLines(char *text) {
    CORE_GUARD(text);
    const char *read = text;
    char *write = text;
    // Each look ahead stops at the zero: nothing past the text is ever read.
    while (*read) {
        char c = *read++;
        *write++ = c;
        if (IsPrintableByte(c) && IsLineBreakByte(read[0]) && IsLineBreakByte(read[1]) &&
            IsPrintableByte(read[2])) {
            *write++ = ' ';
            read += 2;
        }
    }
    *write = 0;
    return 1;
}
