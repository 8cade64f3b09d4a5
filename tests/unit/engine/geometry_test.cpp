// The backdrop's arithmetic without GDI: palette and band channels against the real-number
// definitions, band edges that cover a height exactly once, the cut to GDI's coordinate range,
// scaling, and the anchor flags.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "geometry.h"
#include "state.h"
#include "test-support.h"

namespace {

using testing_support::BandValue;
using testing_support::PaletteValue;

TEST(Gradient, ChannelsAtTheEndsAndTheMiddleOfTheRamp) {
    // Worked by hand; palette and band differ where the start share has a fraction.
    const struct {
        int start, end, i, palette, band;
    } rows[] = {
        {0, 255, 0, 0, 0},       {0, 255, 128, 127, 127},   {0, 255, 255, 254, 254},
        {255, 0, 0, 255, 255},   {255, 0, 128, 127, 127},   {255, 0, 255, 0, 0},
        {255, 255, 0, 255, 255}, {255, 255, 128, 255, 254}, {255, 255, 255, 255, 254},
        {17, 147, 0, 17, 17},    {17, 147, 128, 82, 81},    {17, 147, 255, 146, 146},
        {0, 0, 128, 0, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(::testing::Message() << row.start << "->" << row.end << " at " << row.i);
        EXPECT_EQ(Geometry_PaletteChannel(row.start, row.end, row.i), row.palette);
        EXPECT_EQ(Geometry_BandChannel(row.start, row.end, row.i), row.band);
    }
}

TEST(Gradient, ChannelsFollowTheRealArithmeticOverTheWholeRamp) {
    const int pairs[][2] = {{0, 255}, {255, 0}, {255, 255}, {17, 147}, {200, 3}, {1, 2}};
    for (const auto &pair : pairs)
        for (int i = 0; i < GRADIENT_BANDS; i++) {
            SCOPED_TRACE(::testing::Message() << pair[0] << "->" << pair[1] << " at " << i);
            ASSERT_EQ(Geometry_PaletteChannel(pair[0], pair[1], i),
                      PaletteValue(pair[0], pair[1], i));
            ASSERT_EQ(Geometry_BandChannel(pair[0], pair[1], i), BandValue(pair[0], pair[1], i));
        }
}

TEST(Gradient, BandsCoverEveryRowOfTheHeightExactlyOnce) {
    const struct {
        int height, nonEmptyBands, widestBand;
    } rows[] = {{1, 1, 1}, {255, 255, 1}, {256, 256, 1}, {257, 256, 2}, {768, 256, 3}};
    const int top = 40;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.height);
        EXPECT_EQ(Geometry_BandEdge(top, row.height, 0), top);
        EXPECT_EQ(Geometry_BandEdge(top, row.height, GRADIENT_BANDS), top + row.height);
        std::vector<int> owners(row.height, 0);
        int nonEmpty = 0, widest = 0;
        for (int i = 0; i < GRADIENT_BANDS; i++) {
            int first = Geometry_BandEdge(top, row.height, i);
            int next = Geometry_BandEdge(top, row.height, i + 1);
            ASSERT_LE(first, next) << "band " << i;
            EXPECT_EQ(first, top + (int)(i * (row.height / 256.0))) << "band " << i;
            for (int y = first; y < next; y++) owners[y - top]++;
            if (next > first) nonEmpty++;
            if (next - first > widest) widest = next - first;
        }
        for (int y = 0; y < row.height; y++) ASSERT_EQ(owners[y], 1) << "row " << y;
        EXPECT_EQ(nonEmpty, row.nonEmptyBands);
        EXPECT_EQ(widest, row.widestBand);
    }
}

TEST(Pixels, CutToTheRangeGdiDraws) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        int pixels;
    } rows[] = {
        {-32768.0, -32768}, {-32769.0, -32768}, {-32768.5, -32768}, {32767.0, 32767},
        {32768.0, 32767},   {32767.5, 32767},   {0.0, 0},           {1.9, 1},
        {-1.9, -1},         {inf, 32767},       {-inf, -32768},     {1e300, 32767},
        {std::nan(""), 0},  {-std::nan(""), 0},
    };
    for (const auto &row : rows) EXPECT_EQ(Geometry_ToPixels(row.value), row.pixels) << row.value;
}

TEST(Pixels, AFractionOfASizeRoundsDown) {
    const struct {
        int size;
        float fraction;
        double pixels;
    } rows[] = {{800, 0.5f, 400},  {801, 0.5f, 400}, {800, 0.0f, 0},     {800, 1.0f, 800},
                {600, 0.25f, 150}, {3, 0.5f, 1},     {800, -0.5f, -400}, {801, -0.5f, -401}};
    for (const auto &row : rows)
        EXPECT_EQ(Geometry_Scale(row.size, row.fraction), row.pixels)
            << row.size << " * " << row.fraction;
}

TEST(Anchor, FlagsMoveTheOriginByTheExtent) {
    const int32_t width = 101, height = 31; // odd: the halves lose their fraction
    const struct {
        uint32_t flags;
        double x, y;
    } rows[] = {
        {0, 200, 100},
        {BACKDROP_RIGHT, 99, 100},
        {BACKDROP_UP, 200, 69},
        {BACKDROP_CENTERX, 150, 100},
        {BACKDROP_CENTERY, 200, 85},
        {BACKDROP_RIGHT | BACKDROP_UP, 99, 69},
        {BACKDROP_CENTERX | BACKDROP_CENTERY, 150, 85},
        {BACKDROP_RIGHT | BACKDROP_CENTERX, 49, 100},                     // both apply
        {BACKDROP_ITALIC | BACKDROP_BOLD | BACKDROP_UNDERLINE, 200, 100}, // the face only
    };
    for (const auto &row : rows) {
        double x = 200, y = 100;
        EXPECT_EQ(Geometry_Anchor(&x, &y, width, height, row.flags), 1);
        EXPECT_EQ(x, row.x) << "flags " << row.flags;
        EXPECT_EQ(y, row.y) << "flags " << row.flags;
    }
}

} // namespace
