#ifndef DUMPSCAN_PAGE_H
#define DUMPSCAN_PAGE_H

// One image of the console's screen read into a page: the text on its grid of cells, the rows
// of pairs that make a dump page, and a sample of each digit's glyph.

#include <cstdio>

#include "stages.h"

enum page_outcome { page_found, page_unreadable, page_missing, page_too_large };

// Reads the image on stream, known by name, into page, adding the samples of its digits to samples from
// *sample_count on. With page_missing, why says what the image lacks; with page_too_large,
// its size. Each picture is read once, whole, and its size is known before it is decoded.
page_outcome read_page(FILE *stream, const char *name, page_read *page, glyph_sample *samples, int *sample_count,
                       char *why, size_t size);

// The same, for an image held in memory, known by name.
page_outcome read_page_bytes(const unsigned char *bytes, size_t length, const char *name, page_read *page,
                             glyph_sample *samples, int *sample_count, char *why, size_t size);

#endif
