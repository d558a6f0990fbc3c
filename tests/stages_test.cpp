// The stages below the naming, on pictures and samples made here: glyphs grouped by shape, and
// scanlines lifted from the ink map.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "../dumpscan/glyphs.h"
#include "../dumpscan/ink.h"
#include "harness.h"

namespace {

// Copies of a shape: a pattern of ink seeded by its number, lacking `missing` of its inked
// points (about missing / 200 apart from the whole shape).
struct drawn_shape {
    int shape, missing, copies;
};

struct grouping_row {
    const char *name;
    std::vector<drawn_shape> drawn;
    int groups;
    std::vector<std::pair<int, int>> together, apart; // of the drawn, by index
};

std::vector<drawn_shape> digits_each(int copies, int first, int last)
{
    std::vector<drawn_shape> drawn;
    for (int shape = first; shape <= last; shape++)
        drawn.push_back({shape, 0, copies});
    return drawn;
}

std::vector<drawn_shape> with(std::vector<drawn_shape> drawn, std::vector<drawn_shape> more)
{
    drawn.insert(drawn.end(), more.begin(), more.end());
    return drawn;
}

const grouping_row grouping_rows[] = {
    // Merged by the members they hold, two small digits would meet before the two large pieces.
    {"a digit drawn two ways, each many times, is one group beside two small digits",
     with(digits_each(20, 0, 13), {{0, 3, 20}, {14, 0, 2}, {14, 20, 2}}), 16, {{0, 14}}, {{15, 16}}},
    {"two digits 0.005 apart, each drawn alike, are two groups", with(digits_each(10, 0, 14), {{0, 1, 10}}), 16, {},
     {{0, 15}}},
};

TABLE_TEST(grouping, one_group_per_shape, grouping_row, grouping_rows)
{
    const grouping_row &row = GetParam();
    static glyph_sample samples[most_samples];
    std::vector<int> first_of;
    int count = 0;
    for (const drawn_shape &drawn : row.drawn) {
        first_of.push_back(count);
        for (int copy = 0; copy < drawn.copies; copy++, count++) {
            std::mt19937 pattern(static_cast<unsigned>(drawn.shape) * 101 + 5);
            int dropped = 0;
            for (int k = 0; k < glyph_size; k++) {
                bool inked = pattern() % 5 < 2;
                bool missing = inked && dropped < drawn.missing && ++dropped;
                samples[count].ink[k] = inked && !missing ? 200 : 0;
            }
        }
    }
    static glyph_groups groups;
    group_glyphs(samples, count, &groups);
    EXPECT_EQ(groups.count, row.groups);
    for (size_t d = 0; d < row.drawn.size(); d++)
        for (int copy = 1; copy < row.drawn[d].copies; copy++)
            EXPECT_EQ(groups.group_of[first_of[d] + copy], groups.group_of[first_of[d]]) << "drawn " << d;
    for (auto [a, b] : row.together)
        EXPECT_EQ(groups.group_of[first_of[a]], groups.group_of[first_of[b]]) << a << " and " << b;
    for (auto [a, b] : row.apart)
        EXPECT_NE(groups.group_of[first_of[a]], groups.group_of[first_of[b]]) << a << " and " << b;
}

// A page of bars of ink 6 rows high and 2 apart (stripes within the glyphs, as a small font
// has), light on dark or dark on light, under scanlines: one row in every period kept at a
// share of its level.
struct scanline_row {
    const char *name;
    int period;
    double kept;
    bool light_text;
};

const scanline_row scanline_rows[] = {
    {"every second row at a third, light text on black", 2, 1.0 / 3, true},
    {"every third row at half, dark text on a light screen", 3, 0.5, false},
    {"every fourth row at 0.6, light text", 4, 0.6, true},
    {"no scanlines, dark text striped row by row", 1, 1, false},
};

PIX *drawn_bars(const scanline_row &row, bool scanlines)
{
    const int width = 240, height = 160;
    int background = row.light_text ? 10 : 230, text = row.light_text ? 240 : 20;
    PIX *pix = pixCreate(width, height, 8);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            bool bar = y >= 20 && y < 140 && y % 8 < 6 && x >= 30 && x < 200 && x % 12 < 8;
            bool stripe = row.period == 1 && y % 2 == 1; // the rows between a small font's bars
            int level = bar && !stripe ? text : background;
            if (scanlines && row.period > 1 && y % row.period == row.period - 1)
                level = static_cast<int>(level * row.kept);
            pixSetPixel(pix, x, y, static_cast<l_uint32>(level));
        }
    return pix;
}

TABLE_TEST(scanlines, are_lifted_and_nothing_else, scanline_row, scanline_rows)
{
    const scanline_row &row = GetParam();
    PIX *clean = drawn_bars(row, false), *striped = drawn_bars(row, true);
    PIX *expected = ink_map(clean), *lifted = ink_map(striped);
    ASSERT_TRUE(expected && lifted);
    int worst = 0;
    for (int y = 0; y < pixGetHeight(clean); y++)
        for (int x = 0; x < pixGetWidth(clean); x++) {
            l_uint32 a, b;
            pixGetPixel(expected, x, y, &a);
            pixGetPixel(lifted, x, y, &b);
            worst = std::max(worst, std::abs(static_cast<int>(a) - static_cast<int>(b)));
        }
    EXPECT_LE(worst, 24) << "the ink of a scanline row differs from the clean page's";
    for (int y = 20; y < 28; y++) { // its bars inked, the rows between them not
        bool bar = y % 8 < 6 && !(row.period == 1 && y % 2);
        l_uint32 ink;
        pixGetPixel(lifted, 36, y, &ink);
        EXPECT_EQ(ink > 200, bar) << "row " << y << ": " << ink;
        EXPECT_EQ(ink < 30, !bar) << "row " << y << ": " << ink;
    }
    for (PIX *pix : {clean, striped, expected, lifted})
        pixDestroy(&pix);
}

} // namespace
