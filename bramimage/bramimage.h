#ifndef BRAMIMAGE_H
#define BRAMIMAGE_H

// The commands of bramimage over the image module of common/.

#include <cstddef>
#include <cstdio>

#include "../common/bram_image.h"

void print_usage(const char *exe_name);

// One line per file: number, name (katakana as such, in columns counted by characters), ID,
// size and whether the checksum holds; then the count, the bytes used and the bytes free.
void list_image(const bram_image *image, FILE *out);

// The name of the dump file for file number (from 1) with this header: the name without its
// trailing spaces, katakana as UTF-8, other characters than letters, digits, '-', '_' and '.'
// made '_', a dot at the start made '_'; "file-N" for an empty name.
void dump_file_base(const unsigned char *header, size_t number, char *name, size_t size);

#endif
