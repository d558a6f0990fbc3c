// An image of the screen is read as a person reads it: the text stands on a grid of cells, so
// the rows and the cells are found first, from where the ink is; then the rows of pairs. The
// picture is bounded before it is decoded, then each stage works on what the one before made.
#include <algorithm>
#include <cstdio>
#include <leptonica/allheaders.h>

#include "cells.h"
#include "page.h"

namespace {

const double most_pixels = 64e6; // larger ones are not read: a photo has 50 million at the most

// The picture in bytes decoded, with the image libraries' own complaints about a damaged file
// (which say what the run then says in its own words) kept off standard error; one picture
// is decoded at a time.
PIX *quietly_decode(const unsigned char *bytes, size_t length)
{
    quiet_standard_error();
    PIX *pix = pixReadMem(bytes, length);
    give_back_standard_error();
    return pix;
}

unsigned little_16(const unsigned char *bytes)
{
    return bytes[0] | static_cast<unsigned>(bytes[1]) << 8;
}

// The sub-blocks of GIF data from at: where they end (after their empty block), or 0.
size_t gif_blocks_end(const unsigned char *bytes, size_t length, size_t at)
{
    while (at < length && bytes[at] != 0)
        at += 1 + bytes[at];
    return at < length ? at + 1 : 0;
}

// A GIF bounded before it is decoded: its logical screen and every frame's descriptor give its
// size (the library would decode every frame to say it); *first_frame_end is where its first
// frame ends, at which it is cut so that only that frame is decoded.
bool bound_gif(const unsigned char *bytes, size_t length, long *width, long *height, size_t *first_frame_end)
{
    static const size_t screen = 13;
    if (length < screen)
        return false;
    *width = little_16(bytes + 6);
    *height = little_16(bytes + 8);
    *first_frame_end = 0;
    size_t at = screen + (bytes[10] & 0x80 ? 3u << ((bytes[10] & 7) + 1) : 0);
    while (at < length && bytes[at] != 0x3B) {
        if (bytes[at] == 0x21 && at + 2 <= length) { // an extension
            at = gif_blocks_end(bytes, length, at + 2);
        } else if (bytes[at] == 0x2C && at + 10 <= length) { // a frame
            *width = std::max(*width, static_cast<long>(little_16(bytes + at + 1) + little_16(bytes + at + 5)));
            *height = std::max(*height, static_cast<long>(little_16(bytes + at + 3) + little_16(bytes + at + 7)));
            size_t table = bytes[at + 9] & 0x80 ? 3u << ((bytes[at + 9] & 7) + 1) : 0;
            at = gif_blocks_end(bytes, length, at + 10 + table + 1);
            if (*first_frame_end == 0)
                *first_frame_end = at;
        } else {
            return false;
        }
        if (at == 0)
            return false;
    }
    return *first_frame_end != 0;
}

const int most_jpeg_scans = 64; // a progressive JPEG has about ten; each costs a decoding pass

// Reads the size of any picture from its header without decoding it; false for bytes of no
// format read, or a JPEG of more scans than any camera writes. *decoded is how many bytes to
// decode: a GIF's up to the end of its first frame.
bool bounded_before_decoding(const unsigned char *bytes, size_t length, long *width, long *height, size_t *decoded,
                             bool *gif)
{
    l_int32 format = IFF_UNKNOWN;
    *decoded = length;
    *gif = false;
    if (length < 12 || findFileFormatBuffer(bytes, &format) != 0)
        return false;
    if (format == IFF_GIF) {
        *gif = true;
        return bound_gif(bytes, length, width, height, decoded);
    }
    if (format == IFF_JFIF_JPEG) {
        int scans = 0;
        for (size_t k = 0; k + 1 < length; k++)
            scans += bytes[k] == 0xFF && bytes[k + 1] == 0xDA;
        if (scans > most_jpeg_scans)
            return false;
    }
    l_int32 w = 0, h = 0;
    if (pixReadHeaderMem(bytes, length, nullptr, &w, &h, nullptr, nullptr, nullptr) != 0)
        return false;
    *width = w;
    *height = h;
    return true;
}

// The first frame of a GIF alone, with a trailer after it, in bytes the library owns. The frame
// may end the bytes: the copy's zeroed bytes after its end (four) take the trailer.
PIX *decode_first_frame(const unsigned char *bytes, size_t first_frame_end)
{
    l_uint8 *frame = l_binaryCopy(bytes, first_frame_end);
    if (!frame)
        return nullptr;
    frame[first_frame_end] = 0x3B;
    PIX *pix = quietly_decode(frame, first_frame_end + 1);
    lept_free(frame);
    return pix;
}

// The digits a page read holds, those of lines its picture cut off counted as read.
int digits_read(const page_read *page)
{
    return (page->lines + page->lines_cut - 1) * digits_per_line + page->last_line_digits;
}

// Reads the page on pix, which it takes and destroys.
page_outcome read_page_image(PIX *pix, const char *name, page_read *page, glyph_sample *samples, int *sample_count,
                             char *why, size_t size)
{
    PIX *raw_ink = ink_map(pix);
    pixDestroy(&pix);
    if (!raw_ink)
        return page_unreadable;
    // Each thread reading pages has room of its own for the stages.
    static thread_local grid_room room;
    static thread_local cell_grid grid;
    static thread_local cell_inks cells;
    PIX *ink = straightened(raw_ink, &room);
    pixDestroy(&raw_ink);
    PIX *upright = squared_up(ink, &room);
    if (upright) {
        pixDestroy(&ink);
        ink = upright;
    }
    ink_view view = view_of(ink);
    // A pitch within the glyphs may set rows apart as well as the rows' own: each pitch the
    // rows suggest, best first, is tried until one shows a full page, with cells as wide as
    // usual, then widened (a capture widened to 4:3 has cells as wide as rows 4/3 as far apart
    // are usually: rows of the next pitch would show a page there, of a part of the lines). A
    // page that is not full may be a part of the page read on a grid of a wrong pitch: of the
    // pages the grids show, the one of the most digits is taken, read again only where a page
    // read after it took its place.
    row_choice choices[row_choices_tried];
    int choice_count = choose_rows(&view, &room, choices, row_choices_tried);
    int best = -1, most_digits = 0, first_sample = *sample_count, best_end = first_sample;
    bool best_in_place = false;
    // The page on the grid of choice k (of a choice's rows, cells as usual or widened).
    auto read_on_grid = [&](int k) {
        if (!find_grid(&view, &choices[k / 2], k % 2 == 1, &room, &grid))
            return false;
        measure_cells(&view, &grid, &cells);
        page->image = name;
        *sample_count = first_sample;
        return read_rows(&view, &grid, &cells, page, samples, sample_count, why, size);
    };
    snprintf(why, size, "no text on a grid of cells");
    for (int k = 0; k < 2 * choice_count && most_digits < page_lines * digits_per_line; k++) {
        if (!read_on_grid(k))
            continue;
        best_in_place = digits_read(page) > most_digits;
        if (best_in_place) {
            best = k;
            most_digits = digits_read(page);
            best_end = *sample_count;
        }
    }
    *sample_count = best_in_place ? best_end : first_sample;
    if (best >= 0 && !best_in_place)
        read_on_grid(best);
    pixDestroy(&ink);
    return best >= 0 ? page_found : page_missing;
}

} // namespace

page_outcome read_page(FILE *stream, const char *name, page_read *page, glyph_sample *samples, int *sample_count,
                       char *why, size_t size)
{
    // Read once, whole: standard input and named pipes are pictures too.
    size_t length = 0;
    l_uint8 *bytes = l_binaryReadStream(stream, &length);
    if (!bytes)
        return page_unreadable;
    page_outcome outcome = read_page_bytes(bytes, length, name, page, samples, sample_count, why, size);
    lept_free(bytes);
    return outcome;
}

page_outcome read_page_bytes(const unsigned char *bytes, size_t length, const char *name, page_read *page,
                             glyph_sample *samples, int *sample_count, char *why, size_t size)
{
    size_t decoded = length;
    long width = 0, height = 0;
    bool gif = false;
    if (!bounded_before_decoding(bytes, length, &width, &height, &decoded, &gif))
        return page_unreadable;
    if (static_cast<double>(width) * static_cast<double>(height) > most_pixels) {
        snprintf(why, size, "%ld x %ld pixels", width, height);
        return page_too_large;
    }
    PIX *pix = gif ? decode_first_frame(bytes, decoded) : quietly_decode(bytes, length);
    if (!pix)
        return page_unreadable;
    return read_page_image(pix, name, page, samples, sample_count, why, size);
}
