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

// The ink of each pixel, 0 to 255: how far it stands from the background toward the text. The
// background is the level of half the pixels or more; the text is made of the pixels that
// stand clearly apart from it (farther than its noise), light on it or dark on it, whichever
// there are more of; its level is where most of those reach. A page of a line or two has few
// of them.
PIX *ink_image(PIX *gray)
{
    NUMA *histogram = pixGetGrayHistogram(gray, 1);
    l_int32 counts[256];
    long total = 0;
    for (int level = 0; level < 256; level++) {
        numaGetIValue(histogram, level, &counts[level]);
        total += counts[level];
    }
    numaDestroy(&histogram);
    int background = percentile(counts, total, 0.5);
    // The noise: how far the background's peak spreads before it falls to half its height.
    int noise = 0;
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
    bool light_text = light_count >= dark_count;
    int text = light_text ? (light_count ? percentile(lighter, light_count, 0.95) : 255)
                          : (dark_count ? percentile(darker, dark_count, 0.05) : 0);
    double span = std::max(8, std::abs(text - background));
    PIX *ink = pixCreate(pixGetWidth(gray), pixGetHeight(gray), 8);
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


PIX *ink_map(PIX *pix)
{
    PIX *gray = gray_image(pix);
    if (!gray)
        return nullptr;
    lift_scanlines(gray);
    PIX *ink = ink_image(gray);
    pixDestroy(&gray);
    return ink;
}
