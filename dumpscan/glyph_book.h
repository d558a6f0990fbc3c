#ifndef DUMPSCAN_GLYPH_BOOK_H
#define DUMPSCAN_GLYPH_BOOK_H

// The glyph book: the shapes one console draws, each with the digit it was named for sure (by
// the checks of a dump, or by a person), kept from run to run so that the next save shown by
// the same console needs no question. A small text file: a first line, then one line a shape,
// its digit and its 256 points of ink as hex.

#include <cstddef>
#include <cstdio>

#include "stages.h"

const int most_book_shapes = 1024; // the oldest go first

struct glyph_book {
    int count;
    int digit[most_book_shapes];
    float mean[most_book_shapes][glyph_size]; // of length 1, as the groups' means
};

// Where the book is kept when --glyphs names none: bramtools/glyphs under $XDG_DATA_HOME, or
// under ~/.local/share; false when neither is set.
bool default_book_path(char *path, size_t size);

// The book held in text; false, with the line where it goes wrong, when it is damaged.
bool parse_book(const char *text, size_t length, glyph_book *book, int *bad_line);
void write_book(FILE *out, const glyph_book *book);

// The digit the book names this shape for, or unsure: no shape of it stands this near, or
// shapes of two digits do.
int name_in_book(const glyph_book *book, const float *mean);
// Keeps the shape with its digit, in place of any kept for it before.
void keep_in_book(glyph_book *book, const float *mean, int digit);

// Reads the book at path: false, with a warning, when it is there but cannot be used (damaged,
// no file, unreadable), and is then neither used nor written. No book yet is an empty one.
bool load_book(const char *path, glyph_book *book);
// Puts the book in place of the one at path, whole, making the folders that lead to it;
// a warning when it cannot: the run goes on without it.
void save_book(const char *path, const glyph_book *book);

#endif
