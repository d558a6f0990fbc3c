#ifndef BRAMTOOLS_BRAM_FILE_H
#define BRAMTOOLS_BRAM_FILE_H

// The files of the console's backup memory: a 16-byte header (length, checksum, ID, name),
// then the game's data. Two-byte numbers are little-endian.

#include <cstddef>

const size_t bram_header_size = 16;
const size_t largest_bram_file = 0xFFFF; // the most a size field (and a dump's header) can say
const size_t bram_size_at = 0;      // the file's length, header included
const size_t bram_checksum_at = 2;  // makes the bytes from bram_summed_from on add up to 0
const size_t bram_summed_from = 4;
const size_t bram_id_at = 4;        // two bytes, then the name
const size_t bram_name_at = 6;
const size_t bram_name_length = 10; // ASCII, padded with spaces
const size_t bram_key_length = 12;  // ID and name: what tells two files apart on the console

// What the checks need of a file, gathered while its bytes go by: its first 16 bytes, its
// length and the 16-bit sum of its bytes from the fifth on.
struct bram_tally {
    unsigned char header[bram_header_size];
    unsigned long length;
    unsigned sum;
};

void tally_start(bram_tally *tally);
void tally_add(bram_tally *tally, const unsigned char *bytes, size_t count);
// The tally of a file held whole in memory.
void tally_whole(bram_tally *tally, const unsigned char *bytes, size_t length);

unsigned get_le16(const unsigned char *bytes);
void put_le16(unsigned char *bytes, unsigned value);

bool tally_has_header(const bram_tally *tally);
unsigned size_field(const bram_tally *tally);
unsigned stored_checksum(const bram_tally *tally);
unsigned computed_checksum(const bram_tally *tally);
bool size_field_holds(const bram_tally *tally);
bool checksum_holds(const bram_tally *tally);
// How far the bytes add up off what the stored checksum expects, from -0x8000 to 0x7FFF:
// one mistyped byte is off by exactly its error.
int checksum_offset(const bram_tally *tally);

// Says why a file is not a well-formed backup memory file ("is shorter than 16 bytes", ...);
// false when it is one.
bool describe_file_fault(const bram_tally *tally, char *text, size_t size);

bool same_key(const unsigned char *header_a, const unsigned char *header_b);
// The name as UTF-8, half-width katakana as such, every other byte outside printable ASCII
// (and the backslash) written as \xNN: ten characters on screen at the least.
void printable_name(const unsigned char *header, char *text, size_t size);
bool is_katakana(unsigned char c);
// Writes the katakana c as its three bytes of UTF-8; returns 3.
size_t katakana_utf8(unsigned char c, char *text);

#endif
