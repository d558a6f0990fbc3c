#ifndef BRAMTOOLS_DUMP_TEXT_H
#define BRAMTOOLS_DUMP_TEXT_H

// The screen's page layout of a dump, as the console program shows it and as dumpentry reads
// it typed and dumpscan reads it in pictures: a header of six hex digits (the encoding, then
// the size) on every page, and sixteen lines a page of eight bytes each, the last line of the
// dump as short as the size leaves it.

const unsigned bytes_per_line = 8;
const unsigned lines_per_page = 16;
const unsigned bytes_per_page = bytes_per_line * lines_per_page;
const unsigned header_digit_count = 6;

#endif
