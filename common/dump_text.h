#ifndef BRAMTOOLS_DUMP_TEXT_H
#define BRAMTOOLS_DUMP_TEXT_H

// The screen's page layout of a dump, as the console program shows it and as dumpentry reads
// it typed and dumpscan reads it in pictures: a header of six hex digits (the encoding, then
// the size) on every page, and sixteen lines a page of eight bytes each, the last line of the
// dump as short as the size leaves it.

#include <cstddef>

const unsigned bytes_per_line = 8;
const unsigned lines_per_page = 16;
const unsigned bytes_per_page = bytes_per_line * lines_per_page;
const unsigned header_digit_count = 6;

const int last_page = -1; // the page number of the lines after the last full page

// How a dump of size bytes falls into pages.
struct page_layout {
    unsigned size;
    int page_max;        // full pages
    int remaining_lines; // full lines on the last page
    int remaining_bytes; // bytes of the last, partial line
};
void lay_out(page_layout *layout, unsigned size);
// Where line (from 0) of page starts in the dump: of last_page, where the full pages end.
size_t line_offset(const page_layout *layout, int page, int line);

// A hex digit's value (either case), or -1; a value's digit, upper case.
int hex_digit_value(char c);
char hex_digit_char(int value);
// Hex digits in upper-case pairs, separated by single spaces.
void format_pairs(const char *digits, char *text, size_t size);

#endif
