#ifndef DUMPSCAN_INK_H
#define DUMPSCAN_INK_H

// The picture as an ink map: how far each pixel stands from the background toward the text,
// 0 to 255, light text on dark or dark on light alike.

#include <cstddef>
#include <leptonica/allheaders.h>

const int largest_side = 2048; // larger pictures are scaled down to this first
const int glyph_ink = 128;      // a pixel this inked is of a glyph

// The ink map as its pixels are read, again and again.
struct ink_view {
    const l_uint32 *data;
    int words_per_line, width, height;
};

inline ink_view view_of(PIX *pix)
{
    return {pixGetData(pix), pixGetWpl(pix), pixGetWidth(pix), pixGetHeight(pix)};
}

inline int ink_at(const ink_view *ink, int x, int y)
{
    return GET_DATA_BYTE(ink->data + static_cast<ptrdiff_t>(y) * ink->words_per_line, x);
}

// The ink of pixel row y, summed across the picture.
inline long ink_across(const ink_view *ink, int y)
{
    long sum = 0;
    for (int x = 0; x < ink->width; x++)
        sum += ink_at(ink, x, y);
    return sum;
}

// The ink at a point between pixels, drawn from the four around it, 0 to 1.
float ink_between(const ink_view *ink, double x, double y);

// The ink map of a picture, in 8-bit gray, scaled down when larger than any capture needs,
// its scanlines lifted, and taken back to the screen's own pixels where a capture repeated
// them (scaled 2x or 3x, widened to 8:7 nearest); nullptr when it cannot be made.
PIX *ink_map(PIX *pix);

#endif
