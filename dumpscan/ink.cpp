// The ink map is made from the gray levels alone: the background is the level most pixels
// hold, the text the pixels that stand clearly apart from it.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ink.h"

namespace {

// The image in 8-bit gray, scaled down when it is larger than any capture needs.
PIX *gray_image(PIX *pix)
{
    PIX *gray = pixGetDepth(pix) == 32 ? pixConvertRGBToLuminance(pix) : pixConvertTo8(pix, 0);
    if (!gray)
        return nullptr;
    int width = pixGetWidth(gray), height = pixGetHeight(gray);
    int side = std::max(width, height);
    if (side <= largest_side)
        return gray;
    // A picture far taller than wide (or wider than tall) keeps a pixel across at the least.
    double factor = static_cast<double>(largest_side) / side;
    PIX *smaller = pixScaleToSize(gray, std::max(1, static_cast<int>(std::lround(width * factor))),
                                  std::max(1, static_cast<int>(std::lround(height * factor))));
    pixDestroy(&gray);
    return smaller;
}

// The level of a histogram at a fraction of its counts, lowest first: a gray level, or the
// share of its neighbours a row keeps.
int percentile(const l_int32 *counts, long total, double fraction)
{
    long seen = 0;
    for (int level = 0; level < 256; level++) {
        seen += counts[level];
        if (seen >= static_cast<long>(fraction * static_cast<double>(total)))
            return level;
    }
    return 255;
}

// Scanlines: one row of every period (2 to 4) drawn darker than the rows about it, as CRT
// filters draw them. Each row is judged by its points that stand between two lit neighbours of
// about one level: on a scanline they stand well below them, elsewhere about as bright (a gap
// within a glyph now and then). The share of its level a row of each phase keeps, the median
// of those points; 1 where no scanline is found.
const int longest_period = 4;

double kept_share(PIX *gray, int period, int phase)
{
    int width = pixGetWidth(gray), height = pixGetHeight(gray), wpl = pixGetWpl(gray);
    const l_uint32 *data = pixGetData(gray);
    l_int32 counts[256] = {}; // the share kept, in 32nds up to 2
    long total = 0;
    for (int y = phase > 0 ? phase : period; y + 1 < height; y += period) {
        const l_uint32 *above = data + static_cast<ptrdiff_t>(y - 1) * wpl, *row = above + wpl, *below = row + wpl;
        for (int x = 0; x < width; x += 2) {
            int up = GET_DATA_BYTE(above, x), down = GET_DATA_BYTE(below, x);
            if (std::min(up, down) < 48 || std::abs(up - down) > 16)
                continue;
            int share = GET_DATA_BYTE(row, x) * 64 / (up + down);
            counts[std::min(63, share)]++;
            total++;
        }
    }
    return total < 256 ? 1 : (percentile(counts, total, 0.5) + 0.5) / 32;
}

// Scanlines lifted back to the level of the rows about them: the cells would otherwise sample
// each glyph with a stripe where its cell falls on the scanlines, a different one in each place.
void lift_scanlines(PIX *gray)
{
    for (int period = 2; period <= longest_period; period++) {
        double shares[longest_period];
        int darker = 0, dark_phase = 0;
        for (int phase = 0; phase < period; phase++) {
            shares[phase] = kept_share(gray, period, phase);
            if (shares[phase] < 0.8) {
                darker++;
                dark_phase = phase;
            }
        }
        if (darker != 1)
            continue;
        int width = pixGetWidth(gray), height = pixGetHeight(gray), wpl = pixGetWpl(gray);
        for (int y = dark_phase; y < height; y += period) {
            l_uint32 *row = pixGetData(gray) + static_cast<ptrdiff_t>(y) * wpl;
            for (int x = 0; x < width; x++)
                SET_DATA_BYTE(row, x, std::min(255L, std::lround(GET_DATA_BYTE(row, x) / shares[dark_phase])));
        }
        return;
    }
}

// How many pixels hold each gray level; how many there are.
long gray_counts(PIX *gray, l_int32 *counts)
{
    NUMA *histogram = pixGetGrayHistogram(gray, 1);
    long total = 0;
    for (int level = 0; level < 256; level++) {
        counts[level] = 0;
        if (histogram)
            numaGetIValue(histogram, level, &counts[level]);
        total += counts[level];
    }
    numaDestroy(&histogram);
    return total;
}

// What a page's gray levels say: the background's level, the text's, and which is lighter.
struct page_levels {
    int background, text;
    bool light_text;
};

// The background is the level of half the pixels or more; the text is made of the pixels that
// stand clearly apart from it (farther than its noise), light on it or dark on it, whichever
// there are more of; its level is where most of those reach. A page of a line or two has few
// of them.
page_levels levels_of(PIX *gray)
{
    l_int32 counts[256];
    long total = gray_counts(gray, counts);
    page_levels levels;
    levels.background = percentile(counts, total, 0.5);
    // The noise: how far the background's peak spreads before it falls to half its height.
    int background = levels.background, noise = 0;
    while (noise < 64 && counts[std::max(0, background - noise)] > counts[background] / 2 &&
           counts[std::min(255, background + noise)] > counts[background] / 2)
        noise++;
    int apart = 3 * noise + 8;
    l_int32 lighter[256] = {}, darker[256] = {};
    long light_count = 0, dark_count = 0;
    for (int level = 0; level < 256; level++) {
        if (level >= background + apart) {
            lighter[level] = counts[level];
            light_count += counts[level];
        } else if (level <= background - apart) {
            darker[level] = counts[level];
            dark_count += counts[level];
        }
    }
    levels.light_text = light_count >= dark_count;
    levels.text = levels.light_text ? (light_count ? percentile(lighter, light_count, 0.95) : 255)
                                    : (dark_count ? percentile(darker, dark_count, 0.05) : 0);
    return levels;
}

// Dark text on a page photographed in uneven light, or in a dark room: the page's own level,
// found where the text is closed over, divided out, and the levels measured again; else the far
// corner's page, a level darker than the background, and the room about the screen would be
// taken for ink, and would hide the grid and the page's sides. A page lit evenly (every
// capture) varies by less than a fifth and is left as it is. Light text on a dark screen needs
// none of this: its background stays dark however it is lit.
const int light_reduction = 4; // the page's level is found at a quarter of the size
const int light_closing = 7;   // pixels there: wider than any stroke of a glyph
const int evened_level = 200;
const double uneven_light = 1.2; // the lightest part of the page this much lighter than its darkest
// What stands darker than this part of the page's lightest is no page, however it is lit: the
// room about the screen, which dividing would turn into noise as strong as the text.
const double surround_share = 0.3;

// The parts of the evened picture that are no page, by the page's level about them (the blocks
// of the map around each as well, where the page's edge may cross), set to the page's evened
// level: no ink.
void blank_surround(PIX *even, PIX *page, int lightest)
{
    PIX *dark = pixThresholdToBinary(page, static_cast<int>(std::ceil(surround_share * lightest)));
    PIX *surround = dark ? pixDilateBrick(nullptr, dark, 3, 3) : nullptr;
    pixDestroy(&dark);
    if (!surround)
        return;
    int width = pixGetWidth(even), height = pixGetHeight(even), wpl = pixGetWpl(even);
    int map_width = pixGetWidth(surround), map_height = pixGetHeight(surround), map_wpl = pixGetWpl(surround);
    for (int y = 0; y < height; y++) {
        l_uint32 *row = pixGetData(even) + static_cast<ptrdiff_t>(y) * wpl;
        const l_uint32 *blocks =
            pixGetData(surround) + static_cast<ptrdiff_t>(std::min(y / light_reduction, map_height - 1)) * map_wpl;
        for (int x = 0; x < width; x++)
            if (GET_DATA_BIT(blocks, std::min(x / light_reduction, map_width - 1)))
                SET_DATA_BYTE(row, x, evened_level);
    }
    pixDestroy(&surround);
}

void even_light(PIX **gray, page_levels *levels)
{
    PIX *page = nullptr;
    if (pixGetBackgroundGrayMapMorph(*gray, nullptr, light_reduction, light_closing, &page) != 0 || !page)
        return;
    l_int32 counts[256];
    long total = gray_counts(page, counts);
    int lightest = percentile(counts, total, 0.98);
    PIX *even = nullptr;
    if (lightest > uneven_light * percentile(counts, total, 0.02)) {
        PIX *inverse = pixGetInvBackgroundMap(page, evened_level, 0, 0);
        even = inverse ? pixApplyInvBackgroundGrayMap(*gray, inverse, light_reduction, light_reduction) : nullptr;
        pixDestroy(&inverse);
        if (even)
            blank_surround(even, page, lightest);
    }
    pixDestroy(&page);
    if (!even)
        return;
    pixDestroy(gray);
    *gray = even;
    *levels = levels_of(*gray);
}

// The ink of each pixel, 0 to 255: how far it stands from the background toward the text.
PIX *ink_image(PIX *gray, const page_levels *levels)
{
    bool light_text = levels->light_text;
    int background = levels->background;
    double span = std::max(8, std::abs(levels->text - background));
    PIX *ink = pixCreate(pixGetWidth(gray), pixGetHeight(gray), 8);
    if (!ink)
        return nullptr;
    int width = pixGetWidth(gray), height = pixGetHeight(gray);
    for (int y = 0; y < height; y++) {
        const l_uint32 *from = pixGetData(gray) + static_cast<ptrdiff_t>(y) * pixGetWpl(gray);
        l_uint32 *to = pixGetData(ink) + static_cast<ptrdiff_t>(y) * pixGetWpl(ink);
        for (int x = 0; x < width; x++) {
            int level = GET_DATA_BYTE(from, x);
            double value = (light_text ? level - background : background - level) / span;
            SET_DATA_BYTE(to, x, static_cast<int>(std::lround(255 * std::max(0.0, std::min(1.0, value)))));
        }
    }
    return ink;
}

} // namespace

float ink_between(const ink_view *ink, double x, double y)
{
    int width = ink->width, height = ink->height;
    x -= 0.5;
    y -= 0.5;
    int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    double fx = x - x0, fy = y - y0, sum = 0;
    for (int dy = 0; dy <= 1; dy++)
        for (int dx = 0; dx <= 1; dx++) {
            int px = x0 + dx, py = y0 + dy;
            if (px < 0 || py < 0 || px >= width || py >= height)
                continue;
            sum += ink_at(ink, px, py) * (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
        }
    return static_cast<float>(sum / 255);
}

namespace {

// Whether pixel line k (a column when across, else a row) equals the one before it throughout.
bool repeats_line(const ink_view *ink, bool across, int k)
{
    int length = across ? ink->height : ink->width;
    for (int j = 0; j < length; j++)
        if (across ? ink_at(ink, k, j) != ink_at(ink, k - 1, j) : ink_at(ink, j, k) != ink_at(ink, j, k - 1))
            return false;
    return true;
}

// Whether pixel line k holds a pixel inked as a glyph's are.
bool inked_line(const ink_view *ink, bool across, int k)
{
    int length = across ? ink->height : ink->width;
    for (int j = 0; j < length; j++)
        if ((across ? ink_at(ink, k, j) : ink_at(ink, j, k)) >= glyph_ink)
            return true;
    return false;
}

// The scale by which a capture repeated the screen's pixel lines along one side, and where:
// line k shows line floor((k - offset) / scale) of the screen. Each line that differs from the
// one before begins a line of the screen, n of them on, at offset + n scale rounded up; runs of
// equal inked lines (a screen never repeats a line of glyphs throughout; blank lines it does)
// are as long as the scale, which numbers those places. The scale is the one that leaves the
// widest room for an offset that puts every such place where it is seen; 1 where the lines do
// not repeat, or no scale puts them all.
double repeat_scale(const ink_view *ink, bool across, double *offset)
{
    static thread_local int begins[largest_side], runs[largest_side];
    static thread_local double numbers[largest_side];
    int count = std::min(largest_side, across ? ink->width : ink->height), places = 0, run_count = 0;
    bool inked_before = count > 0 && inked_line(ink, across, 0);
    int run = inked_before ? 1 : 0;
    for (int k = 1; k < count; k++) {
        bool inked_here = inked_line(ink, across, k);
        if (repeats_line(ink, across, k)) {
            run += inked_here;
            continue;
        }
        if (inked_before)
            runs[run_count++] = run;
        run = inked_here ? 1 : 0;
        begins[places++] = k;
        inked_before = inked_here;
    }
    *offset = 0;
    if (run_count < 16)
        return 1;
    // Two lines of the screen alike make a run twice as long: the mean is of those shorter.
    std::nth_element(runs, runs + run_count / 2, runs + run_count);
    int median = runs[run_count / 2];
    double single = 0, singles = 0;
    for (int r = 0; r < run_count; r++)
        if (runs[r] < 2 * median) {
            single += runs[r];
            singles++;
        }
    double mean = single / singles;
    if (mean < 1.4)
        return 1;
    numbers[0] = 0;
    for (int m = 1; m < places; m++)
        numbers[m] = numbers[m - 1] + std::max(1.0, std::round((begins[m] - begins[m - 1]) / mean));
    double found = 1, widest = 0;
    for (int step = -2000; step <= 2000; step++) {
        double scale = mean * (1 + step * 0.00002), lowest = -1e30, highest = 1e30;
        for (int m = 0; m < places && lowest < highest; m++) {
            lowest = std::max(lowest, begins[m] - 1 - numbers[m] * scale);
            highest = std::min(highest, begins[m] - numbers[m] * scale);
        }
        if (highest - lowest > widest) {
            widest = highest - lowest;
            found = scale;
            *offset = (lowest + highest) / 2;
        }
    }
    return found;
}

// Each line of the screen once: the first of the lines that show it.
PIX *first_of_each(PIX *ink, double across_scale, double across_offset, double down_scale, double down_offset)
{
    ink_view view = view_of(ink);
    auto shows = [](int k, double scale, double offset) { return std::floor((k - offset) / scale); };
    int width = 0, height = 0;
    static thread_local int columns[largest_side], rows[largest_side];
    for (int x = 0; x < std::min(view.width, largest_side); x++)
        if (x == 0 || shows(x, across_scale, across_offset) != shows(x - 1, across_scale, across_offset))
            columns[width++] = x;
    for (int y = 0; y < std::min(view.height, largest_side); y++)
        if (y == 0 || shows(y, down_scale, down_offset) != shows(y - 1, down_scale, down_offset))
            rows[height++] = y;
    PIX *native = pixCreate(width, height, 8);
    if (!native)
        return nullptr;
    for (int y = 0; y < height; y++) {
        l_uint32 *line = pixGetData(native) + static_cast<ptrdiff_t>(y) * pixGetWpl(native);
        for (int x = 0; x < width; x++)
            SET_DATA_BYTE(line, x, ink_at(&view, columns[x], rows[y]));
    }
    return native;
}

// A capture that repeated the screen's pixels (scaled 2x or 3x, widened to 8:7 by repeating
// a column in seven) taken back to one pixel of each, across and down: each glyph is then
// drawn by the same pixels wherever it stands, as the console drew it. The ink as it is
// where its lines do not repeat so along both sides.
PIX *native_pixels(PIX *ink)
{
    ink_view view = view_of(ink);
    double across_offset, down_offset;
    double across = repeat_scale(&view, true, &across_offset), down = repeat_scale(&view, false, &down_offset);
    if (across <= 1 || down <= 1)
        return pixClone(ink);
    PIX *native = first_of_each(ink, across, across_offset, down, down_offset);
    return native ? native : pixClone(ink);
}

} // namespace

PIX *ink_map(PIX *pix)
{
    PIX *gray = gray_image(pix);
    if (!gray)
        return nullptr;
    lift_scanlines(gray);
    page_levels levels = levels_of(gray);
    if (!levels.light_text)
        even_light(&gray, &levels);
    PIX *ink = ink_image(gray, &levels);
    pixDestroy(&gray);
    if (!ink)
        return nullptr;
    PIX *native = native_pixels(ink);
    pixDestroy(&ink);
    return native;
}
