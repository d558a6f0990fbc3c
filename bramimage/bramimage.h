#ifndef BRAMIMAGE_H
#define BRAMIMAGE_H

// An image of the console's backup memory, as emulators and flash carts keep it: a 16-byte
// header ("HUBM", the address just past the memory, the address of the first free byte),
// the files one after another, two zero bytes, then unused room. The console sees the memory
// at 0x8000; bytes of the image past the memory's end are someone else's and are kept.

#include <cstddef>
#include <cstdio>

const size_t image_header_size = 16;
const unsigned memory_address = 0x8000;
const size_t fresh_memory_size = 2048;
const size_t most_files = 0x8000 / 16; // more than any memory the header can describe holds

void print_usage(const char *exe_name);

// Says what makes bytes no well-formed image, and at which byte; false when they are one.
bool describe_image_fault(const unsigned char *image, size_t length, char *text, size_t size);

// For a well-formed image: where its memory ends, where the first free byte is, and the
// offset of each file; returns how many files there are.
size_t memory_size(const unsigned char *image);
size_t free_offset(const unsigned char *image);
size_t find_files(const unsigned char *image, size_t *offsets);

void format_image(unsigned char *image);
void list_image(const unsigned char *image, FILE *out);
// Appends files, held one after another, after the image's last one; the caller has made
// sure that they fit.
void append_files(unsigned char *image, const unsigned char *files, size_t length);
// Removes the files marked in removed (indexed from 0), moves the later ones down and
// zeroes the room freed.
void remove_files(unsigned char *image, const bool *removed);

// The name of the dump file for file number (from 1) with this header: the name without
// its trailing spaces, other characters than letters, digits, '-', '_' and '.' made '_'.
void dump_file_base(const unsigned char *header, size_t number, char *name, size_t size);

#endif
