// Figures of the directory dialog: thousands grouping over the whole 32-bit range, and the
// longest figure inside its buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "number.h"

namespace {

TEST(Figures, GroupsOfThreeDigits) {
    const struct {
        int32_t value;
        const char *text;
    } rows[] = {{0, "0"},
                {999, "999"},
                {1000, "1,000"},
                {12345678, "12,345,678"},
                {1234567, "1,234,567"},
                {-123, "-123"},
                {-1234, "-1,234"},
                {INT32_MAX, "2,147,483,647"},
                {INT32_MIN, "-2,147,483,648"}};
    for (const auto &row : rows) {
        char text[NUM_GROUP_SIZE];
        EXPECT_EQ(Num_Group(row.value, text), 1);
        EXPECT_STREQ(text, row.text) << row.value;
    }
}

TEST(Figures, GroupEdgesAtEveryPowerOfTen) {
    // The last value without a new comma and the first with one, both signs.
    const struct {
        int32_t value;
        const char *text;
    } rows[] = {{99, "99"},          {100, "100"},           {9999, "9,999"},
                {10000, "10,000"},   {99999, "99,999"},      {100000, "100,000"},
                {999999, "999,999"}, {1000000, "1,000,000"}, {-999, "-999"},
                {-1000, "-1,000"},   {-999999, "-999,999"},  {-1000000, "-1,000,000"}};
    for (const auto &row : rows) {
        char text[NUM_GROUP_SIZE];
        EXPECT_EQ(Num_Group(row.value, text), 1);
        EXPECT_STREQ(text, row.text) << row.value;
    }
}

TEST(Figures, TheLongestFigureStaysInsideItsBuffer) {
    char text[NUM_GROUP_SIZE + 4];
    memset(text, '#', sizeof text);
    EXPECT_EQ(Num_Group(INT32_MIN, text), 1);
    size_t used = strlen("-2,147,483,648") + 1;
    ASSERT_LE(used, (size_t)NUM_GROUP_SIZE);
    for (size_t i = used; i < sizeof text; i++) EXPECT_EQ(text[i], '#') << "byte " << i;
}

} // namespace
