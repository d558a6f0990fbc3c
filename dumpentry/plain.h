#ifndef PLAIN_H
#define PLAIN_H

// The plain decoder (encoding 0), the page arithmetic of a dump, and the dump as written.

#include <cstddef>
#include <cstdio>

#include "../common/bram_file.h"
#include "dumpentry.h"
#include "reader.h"

struct transcript;
enum typed_kind { typed_header, typed_line, typed_page_start, typed_header_again };
// Where the lines typed at the terminal are kept, set by the driver: keep takes each answer
// the dump keeps, and gives its line in the text that keeps it (text_line when it was read
// from a text, 0 when it is kept nowhere).
struct typing_keeper {
    unsigned long (*keep)(transcript *kept_in, const char *answer, typed_kind kind, unsigned long text_line);
    transcript *kept_in;
};

// The dump being read: the bytes as written, where each line of it came from, its layout.
struct dump_file {
    FILE *out;
    unsigned char bytes[0x10000];
    size_t length;   // written so far
    size_t position; // where the next bytes go: the end, but where a line is asked again
    unsigned long line_sources[0x10000 / bytes_per_line + 1]; // each line's line in its text (0: none)
    unsigned char line_unread[0x10000 / bytes_per_line + 1];  // each line's digits not read ('?'), written 0
    char line_typed[0x10000 / bytes_per_line + 1][36];        // each line's digits as typed (filtered)
    unsigned long header_source; // the header's line in its text (0: none)
    page_layout layout;
    answers answered;
    bool size_field_warned; // the size field was found one digit off the header at line 0
    bool header_again_due;  // ...while going on from a text: the header is asked again at the terminal
    int encodings_known;    // the encodings the driver has decoders for: 0 up to it
    typing_keeper keeper;
};

void parse_plain_header(const char *text, unsigned *encoding, unsigned *size);
void parse_last_line(const char *text, unsigned *values, int count);
decode_result parse_plain(dump_file *dump);

// Puts the place where the next bytes go at offset; false when the output cannot seek.
bool seek_dump(dump_file *dump, size_t offset);
// Lays the dump out again under a header of size bytes typed at the end: the bytes typed are
// kept up to it, but for a partial last line that no longer ends the dump; says the layout and
// returns how many are kept. The lines past them are forgotten.
size_t lay_out_again(dump_file *dump, unsigned size, unsigned encoding);
// Asks the line where the dump ends (after the page's heading where a page starts) and writes
// it there.
decode_result ask_next_line(dump_file *dump);
// Asks line (or, past the remaining lines of the last page, the last line) of page again
// where it stands, its earlier bytes shown; Enter leaves it as it was (*kept).
decode_result ask_line_again(dump_file *dump, int page, int line, bool *kept);
// The digits not read ('?') in the lines as they stand, each written as 0.
unsigned long unread_digits(const dump_file *dump);
// The warning for a dump whose size field or checksum, but not both, disagrees; false if none.
bool describe_save_mismatch(const bram_tally *tally, char *text, size_t size);

#endif
