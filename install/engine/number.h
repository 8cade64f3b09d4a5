// Figures as the directory dialog shows them: decimal with thousands separators. Portable.
#pragma once
#include <stdint.h>

enum { NUM_GROUP_SIZE = 16 }; // room for any grouped 32-bit value: "-2,147,483,648" and its zero

// The decimal text of value with "," between groups of three digits (1,234,567), the sign in
// front; output holds NUM_GROUP_SIZE bytes. Returns 1.
int Num_Group(int32_t value, char *output);
