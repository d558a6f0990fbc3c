#ifndef BRAMTOOLS_BRAM_IMAGE_H
#define BRAMTOOLS_BRAM_IMAGE_H

// An image of the console's backup memory, as emulators and flash carts keep it: a 16-byte
// header ("HUBM", the address just past the memory, the address of the first free byte),
// the files one after another, two zero bytes, then unused room. The console sees the memory
// at 0x8000. Bytes of the file past the memory's end are someone else's and are kept; a file
// shorter than its end address says, but of 2 KiB at least, holds a memory that ends where
// the file does (several emulators write 0xA000 on a 2 KiB file).

#include <cstddef>
#include <cstdio>

const size_t image_header_size = 16;
const unsigned memory_address = 0x8000;
const size_t fresh_memory_size = 2048;
const size_t end_mark_size = 2;
// What the files of a 2 KiB memory may take: all of it but the header and the end mark.
const unsigned long fresh_memory_room = fresh_memory_size - image_header_size - end_mark_size;
const size_t most_files = 0x8000 / 16; // more than any memory the header can describe holds
const size_t largest_image = 1 << 20;  // larger files are not taken for images

struct bram_image {
    unsigned char bytes[largest_image + 1];
    size_t length;     // of the file, uncompressed
    size_t memory_end; // where the memory ends: at its end address, or at the file's end
    size_t offsets[most_files];
    size_t count;      // files in it
    bool compressed;   // read from gzip, so written back as gzip
    bool unpacked;     // the gzip stream was whole
    bool trailing;     // bytes that begin no gzip member follow the last one
    bool formatted;    // false: an empty or zero-filled file that no game has formatted yet
};

// Reads the whole file from stream, uncompressing it when it is gzip (every member, one after
// another); false when it cannot be read (errno says why). A file larger than largest_image, a
// damaged gzip stream, or bytes after its last member, read, and describe_image_fault says so.
bool read_image(FILE *stream, bram_image *image);
// Writes it as it was read: compressed again when it was.
bool write_image(FILE *stream, const bram_image *image);

// True when the bytes begin as an image does ("HUBM").
bool is_image(const unsigned char *bytes, size_t length);
// Says what makes the bytes read no well-formed image, and at which byte; false for a
// well-formed one. An unformatted file is well-formed and holds none.
bool describe_image_fault(const bram_image *image, char *text, size_t size);
// Reads the index of a well-formed image: whether it is formatted, where its memory ends,
// where each of its files starts.
void read_index(bram_image *image);

// Formats an unformatted image: a 2 KiB memory, the length of a 2 KiB file kept, an empty
// file made 2 KiB.
void format_image(bram_image *image);

size_t first_free(const bram_image *image);
size_t image_room(const bram_image *image); // what more files may take
// Appends files, held one after another, after the image's last one; false when they do not
// fit, and the image is left as it was.
bool append_files(bram_image *image, const unsigned char *files, size_t length);
// Removes the files marked in removed (indexed from 0), moves the later ones down and zeroes
// the room freed.
void remove_files(bram_image *image, const bool *removed);

#endif
