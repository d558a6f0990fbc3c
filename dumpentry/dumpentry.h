#ifndef DUMPENTRY_H
#define DUMPENTRY_H

// What the rooms of dumpentry share. The driver (dumpentry.cpp) runs the decoder (plain.cpp),
// which asks the line reader (reader.cpp) for each line; the transcript (transcript.cpp) and
// mending (mend.cpp) use the reader and the decoder's page arithmetic. Calls go that way only:
// where a lower room hands something up (a line typed, to be kept), it calls through a pointer
// that the driver set.

#include <cstdio>

#include "../common/dump_text.h"


extern FILE *in;                     // the input text; null means standard input (reader.cpp)
extern char transformed_buffer[256]; // filtered text of the most recent line (reader.cpp)

// The exit statuses of dumpentry.
enum dumpentry_status {
    status_done = 0,
    status_output_failed = 1, // the dump file cannot be written, or is refused; or no going on
    status_no_encoding = 2,   // unknown encoding, or none in the header
    status_input_failed = 3,  // the input file cannot be opened
    status_input_ended = 4,   // the input ended or failed before the dump was complete
    status_check_fails = 5,   // written, but the save's own check fails, or digits were not read ('?')
};

enum decode_result {
    decode_complete,
    decode_end_of_input,
    decode_read_error,
    decode_write_error,
    decode_no_encoding,
    decode_unknown_encoding,
    decode_header_unread, // the header holds a '?': a digit a scan could not read
};

struct dump_file;
typedef decode_result (*decoder)(dump_file *dump);

extern const decoder parse_intermediate_form[]; // decoders, indexed by encoding number (dumpentry.cpp)
extern const int decoder_count;

void print_usage(const char *exe_name);
// Asks for the header and runs the decoder of its encoding, which *encoding receives.
decode_result transcribe(dump_file *dump, int *encoding);

#endif
