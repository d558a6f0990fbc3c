// The stages below the naming, on pictures and samples made here: glyphs grouped by shape,
// scanlines lifted from the ink map, and a capture's repeated pixels taken back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "../dumpscan/glyphs.h"
#include "../dumpscan/grid.h"
#include "../dumpscan/ink.h"
#include "../dumpscan/page.h"
#include "draw_page.h"
#include "harness.h"

namespace {

// Copies of a shape: a pattern of ink seeded by its number, lacking `missing` of its inked
// points (about missing / 200 apart from the whole shape), and each copy `scattered` more of
// its own, as a photo's samples scatter.
struct drawn_shape {
    int shape, missing, copies, scattered = 0;
};

struct grouping_row {
    const char *name;
    std::vector<drawn_shape> drawn;
    int groups;
    std::vector<std::pair<int, int>> together, apart; // of the drawn, by index
    std::vector<int> twinned; // the drawn whose group has another near it: one glyph split in two?
    int zeros = 0;            // copies of the first drawn given as the headers' zeros
    int parted = -1;          // the drawn that parts from its group, seen from the first drawn's glyph
};

std::vector<drawn_shape> digits_each(int copies, int first, int last)
{
    std::vector<drawn_shape> drawn;
    for (int shape = first; shape <= last; shape++)
        drawn.push_back({shape, 0, copies});
    return drawn;
}

std::vector<drawn_shape> scattered(std::vector<drawn_shape> drawn, int points)
{
    for (drawn_shape &shape : drawn)
        shape.scattered = points;
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
     with(digits_each(20, 0, 13), {{0, 3, 20}, {14, 0, 2}, {14, 20, 2}}), 16, {{0, 14}}, {{15, 16}}, {}},
    // Each drawn by the same pixels, the two are near enough to be one glyph split in two.
    {"two digits 0.005 apart, each drawn alike, are two groups", with(digits_each(10, 0, 14), {{0, 1, 10}}), 16, {},
     {{0, 15}}, {0, 15}},
    // Two digits 0.03 apart stand farther apart than a capture's twins, but within eight times
    // the scatter of samples that each lack a few points of their own.
    {"two digits 0.03 apart, their samples scattered, are two groups, twins",
     scattered(with(digits_each(10, 0, 14), {{0, 6, 10}}), 2), 16, {}, {{0, 15}}, {0, 15}},
    // Seventeen shapes: the two nearest are merged to keep no more groups than digits.
    {"an 8 0.03 from the 0, merged to keep 16 groups, is parted from the headers' zeros",
     with(digits_each(10, 0, 15), {{0, 6, 10}}), 17, {}, {{0, 16}}, {}, 4},
    {"an 8 0.03 from the 0, merged to keep 16 groups, parts from the 0 a person named",
     scattered(with(digits_each(10, 0, 15), {{0, 6, 10}}), 2), 16, {{0, 16}}, {}, {}, 0, 16},
    {"a 0 drawn another way 0.01 from the headers' zeros stays with them",
     with(digits_each(10, 0, 15), {{0, 2, 10}}), 16, {{0, 16}}, {}, {}, 4},
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
            std::mt19937 scatter(static_cast<unsigned>(count) * 7 + 3);
            int dropped = 0;
            for (int k = 0; k < glyph_size; k++) {
                bool inked = pattern() % 5 < 2;
                bool missing = inked && dropped < drawn.missing && ++dropped;
                bool scattered = inked && static_cast<int>(scatter() % 100) < drawn.scattered;
                samples[count].ink[k] = inked && !missing && !scattered ? 200 : 0;
            }
        }
    }
    static glyph_groups groups;
    std::vector<int> zeros;
    for (int copy = 0; copy < row.zeros; copy++)
        zeros.push_back(first_of[0] + copy);
    group_glyphs(samples, count, zeros.data(), row.zeros, &groups);
    EXPECT_EQ(groups.count, row.groups);
    for (size_t d = 0; d < row.drawn.size(); d++)
        for (int copy = 1; copy < row.drawn[d].copies; copy++)
            EXPECT_EQ(groups.group_of[first_of[d] + copy], groups.group_of[first_of[d]]) << "drawn " << d;
    for (auto [a, b] : row.together)
        EXPECT_EQ(groups.group_of[first_of[a]], groups.group_of[first_of[b]]) << a << " and " << b;
    for (auto [a, b] : row.apart)
        EXPECT_NE(groups.group_of[first_of[a]], groups.group_of[first_of[b]]) << a << " and " << b;
    for (size_t d = 0; d < row.drawn.size(); d++) {
        bool twin = std::find(row.twinned.begin(), row.twinned.end(), static_cast<int>(d)) != row.twinned.end();
        EXPECT_EQ(groups.twinned[groups.group_of[first_of[d]]], twin) << "drawn " << d;
    }
    if (row.parted >= 0) {
        static int part[most_samples];
        int named = groups.group_of[first_of[0]];
        int parts = part_apart(samples, count, &groups, groups.group_of[first_of[row.parted]], first_of[0], part);
        ASSERT_EQ(parts, row.drawn[static_cast<size_t>(row.parted)].copies);
        int apart = group_apart(samples, count, &groups, part, parts);
        for (int copy = 0; copy < parts; copy++)
            EXPECT_EQ(groups.group_of[first_of[row.parted] + copy], apart);
        EXPECT_EQ(groups.group_of[first_of[0]], named);
        EXPECT_EQ(groups.count, row.groups + 1);
    }
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

// A page of a save drawn as a capture scales it: repeating pixels, its ink map is the native
// capture's, pixel for pixel; scaled smoothly, it keeps its own pixels.
struct repeat_row {
    const char *name;
    int scale;
    double widen;
    bool smooth;
    page_font font;
};

const repeat_row repeat_rows[] = {
    {"scaled 2x", 2, 1, false, font_vga8},
    {"scaled 3x, a bold font", 3, 1, false, font_vga8_bold},
    {"scaled 3x and widened to 8:7 by repeating columns", 3, 8.0 / 7, false, font_dejavu_mono},
    {"scaled 2x and widened to 8:7 by repeating columns", 2, 8.0 / 7, false, font_liberation_mono_bold},
    {"scaled 2x and widened to 4:3 smoothly", 2, 7.0 / 6, true, font_vga8},
};

PIX *drawn_ink(const scratch_dir &dir, page_drawing drawing, int scale, double widen, bool smooth)
{
    drawing.scale = scale;
    drawing.widen = widen;
    drawing.smooth = smooth;
    std::string path = dir / ("page-" + std::to_string(scale) + ".png");
    if (!draw_page(drawing, path))
        return nullptr;
    PIX *picture = pixRead(path.c_str());
    PIX *ink = picture ? ink_map(picture) : nullptr;
    pixDestroy(&picture);
    return ink;
}

TABLE_TEST(repeated_pixels, are_taken_back, repeat_row, repeat_rows)
{
    const repeat_row &row = GetParam();
    scratch_dir dir;
    page_drawing drawing;
    drawing.font = row.font;
    drawing.rows = dump_page_rows(random_bytes(300, 5), 1);
    drawing.left = 30;
    drawing.top = 14;
    PIX *native = drawn_ink(dir, drawing, 1, 1, false), *scaled = drawn_ink(dir, drawing, row.scale, row.widen, row.smooth);
    ASSERT_TRUE(native && scaled);
    if (row.smooth) {
        EXPECT_EQ(pixGetWidth(scaled), static_cast<int>(std::lround(pixGetWidth(native) * row.scale * row.widen)));
    } else {
        l_int32 same = 0;
        pixEqual(native, scaled, &same);
        EXPECT_TRUE(same) << pixGetWidth(scaled) << " x " << pixGetHeight(scaled) << " against "
                          << pixGetWidth(native) << " x " << pixGetHeight(native);
    }
    pixDestroy(&native);
    pixDestroy(&scaled);
}

// A page drawn straight is left as it is, whatever skew leptonica finds on it (a few tenths of
// a degree on these); one drawn a little turned is turned back.
struct skew_row {
    const char *name;
    int scale;
    double angle;
    size_t size; // of the save whose last page is drawn; 0: a small save of runs
    page_font font;
    bool turned;
};

const skew_row skew_rows[] = {
    {"straight, a small save of runs, native", 1, 0, 0, font_liberation_mono_bold, false},
    {"straight, a small save of runs, scaled 2x", 2, 0, 0, font_liberation_mono, false},
    {"straight, a last page of 4 lines, native", 1, 0, 180, font_liberation_mono, false},
    {"straight, a full page, scaled 3x", 3, 0, 300, font_vga8_bold, false},
    {"turned by 0.4 degrees, smoothed", 3, -0.4, 0, font_vga8, true},
};

std::vector<std::string> small_save_of_runs()
{
    return {"00 00 55", "55 00 0A EB 00 00 52 50", "47 20 44 41 54 41 20 31", "10 10 10 10 10 10 10 10",
            "10 10 10 10 10 10 10 10", "00 00 00 00 00 00 00 00", "00 00 00 00 00 E0 E0 E0",
            "E0 E0 FF FF FF FF FF FF", "FF 00 94 94 94 94 94 FF", "FF 00 00 00 00 00 00 00",
            "00 00 00 00 00 00 00 00", "6D 6D 6D 00 00"};
}

TABLE_TEST(small_skews, are_turned_only_where_the_rows_show_them, skew_row, skew_rows)
{
    const skew_row &row = GetParam();
    scratch_dir dir;
    page_drawing drawing;
    drawing.rows = row.size ? dump_page_rows(random_bytes(row.size, 7), (row.size - 1) / 128) : small_save_of_runs();
    drawing.font = row.font;
    drawing.row_pitch = 10;
    drawing.left = 30;
    drawing.top = 14;
    drawing.angle = row.angle;
    PIX *ink = drawn_ink(dir, drawing, row.scale, 1, row.angle != 0);
    ASSERT_TRUE(ink);
    static grid_room room;
    PIX *level = straightened(ink, &room);
    l_int32 same = 0;
    pixEqual(ink, level, &same);
    EXPECT_EQ(!same, row.turned);
    pixDestroy(&ink);
    pixDestroy(&level);
}

// A page of every digit, its groups read by tesseract in the lines of the dump: their votes
// 0 to 1, the most for the digit drawn, and strong for every digit of a pair, the first as well
// as the second; the digits ranked next to one read surely get a part of its vote too.
struct reading_row {
    const char *name;
    page_font font;
    int scale;
    double blur;
    int read_as_drawn; // groups whose most votes are for their digit
    int surely_read;   // groups whose vote for their digit is 0.6 or more
};

const reading_row reading_rows[] = {
    {"the console font, native", font_vga8, 1, 0, 16, 16},
    // Its 0 is never read, and its 1 half the time.
    {"a bold font, scaled 2x", font_dejavu_mono_bold, 2, 0, 15, 14},
    {"a thin font, scaled 3x and blurred", font_liberation_mono, 3, 1.2, 16, 16},
};

TABLE_TEST(reading, votes_for_the_digit_drawn_and_those_ranked_next, reading_row, reading_rows)
{
    const reading_row &row = GetParam();
    scratch_dir dir;
    page_drawing drawing;
    std::string bytes;
    for (int k = 0; k < 64; k++)
        bytes += static_cast<char>(k % 8 * 0x22 + 0x01 + (k / 8 % 2) * 0x11);
    drawing.rows = dump_page_rows(bytes, 0);
    drawing.font = row.font;
    drawing.scale = row.scale;
    drawing.blur = row.blur;
    drawing.smooth = row.blur > 0;
    ASSERT_TRUE(draw_page(drawing, dir / "page.png"));
    FILE *picture = fopen((dir / "page.png").c_str(), "rb");
    ASSERT_TRUE(picture);
    static page_read page;
    static glyph_sample samples[most_samples];
    static glyph_groups groups;
    int count = 0;
    char why[200];
    ASSERT_EQ(read_page(picture, "page.png", &page, samples, &count, why, sizeof why), page_found) << why;
    fclose(picture);
    group_glyphs(samples, count, page.header, 2, &groups);
    ASSERT_EQ(groups.count, 16);
    // Each line as the dump shows it, a space between pairs; and each group's digit.
    static int lines[page_lines][most_line];
    int digit_of[most_groups];
    std::fill(digit_of, digit_of + most_groups, -1);
    for (int line = 0; line < page.lines; line++) {
        std::fill(lines[line], lines[line] + most_line, -1);
        for (int k = 0; k < digits_on(&page, line); k++) {
            int g = groups.group_of[page.digits[line][k]];
            unsigned char byte = static_cast<unsigned char>(bytes[static_cast<size_t>(line * 8 + k / 2)]);
            lines[line][k / 2 * 3 + k % 2] = g;
            digit_of[g] = k % 2 ? byte & 15 : byte >> 4;
        }
    }
    static float votes[most_groups][16];
    ASSERT_TRUE(read_groups(&groups, lines, page.lines, votes));
    int read_right = 0, surely = 0, ranked = 0;
    for (int g = 0; g < groups.count; g++) {
        read_right += std::max_element(votes[g], votes[g] + 16) - votes[g] == digit_of[g];
        surely += votes[g][digit_of[g]] >= 0.6f;
        float all = 0;
        for (int digit = 0; digit < 16; digit++) {
            EXPECT_GE(votes[g][digit], 0) << "group " << g;
            EXPECT_LE(votes[g][digit], 1) << "group " << g;
            all += votes[g][digit];
        }
        ranked += all > 1;
    }
    EXPECT_GE(read_right, row.read_as_drawn);
    EXPECT_GE(surely, row.surely_read);
    EXPECT_GT(ranked, 0);
}

} // namespace
