#ifndef BRAMTOOLS_FILE_KINDS_H
#define BRAMTOOLS_FILE_KINDS_H

// Files of the user's that are no dump file, told by their first bytes: a backup memory image
// (plain or gzip) and a picture of a format dumpscan reads. A dump file would never replace
// one, nor be packed from one.

#include <cstddef>

// How many bytes of a file's start tell its kind.
const size_t kind_bytes = 4096;

// True when the bytes start a backup memory image, plain ("HUBM") or compressed with gzip.
bool starts_image(const unsigned char *start, size_t length);
// The picture format the bytes start ("PNG", "JPEG", "GIF", "BMP", "TIFF", "PNM", "WebP"), or
// null; file_size is the whole file's, which a BMP header repeats.
const char *picture_format(const unsigned char *start, size_t length, unsigned long long file_size);

#endif
