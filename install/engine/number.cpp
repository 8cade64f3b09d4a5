// Number grouping for the directory dialog's figures.
#include "number.h"

#include "tessel-core.h"
#include "tessel-str.h"

int Num_Group(int32_t value, char *output) {
    CORE_GUARD(output);
    char digits[NUM_GROUP_SIZE];
    Str_Format(digits, sizeof digits, "%d", (int)value);
    const char *start = digits[0] == '-' ? digits + 1 : digits; // the sign is not a digit
    int count = Str_Length(start);
    char *out = output;
    if (start != digits) *out++ = '-';
    for (int i = 0; i < count; i++) {
        if (i > 0 && (count - i) % 3 == 0) *out++ = ',';
        *out++ = start[i];
    }
    *out = 0;
    return 1;
}
