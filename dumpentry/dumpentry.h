#ifndef DUMPENTRY_H
#define DUMPENTRY_H

#include <cstddef>
#include <cstdio>

#include "../common/bram_file.h"

extern FILE *in;                     // the input file; null means standard input
extern const char *in_name;          // its name, for the warnings
extern char transformed_buffer[256]; // filtered text of the most recent line

enum decode_result {
    decode_complete,
    decode_end_of_input,
    decode_read_error,
    decode_write_error,
    decode_no_encoding,
    decode_unknown_encoding,
};

typedef decode_result (*decoder)(FILE *out);

extern const decoder parse_intermediate_form[]; // decoders, indexed by encoding number
extern const int decoder_count;

void print_usage(const char *exe_name);
decode_result transcribe(FILE *out, int *encoding);

char char_accepted(int c);
size_t filter_line(const char *raw, size_t length, char *filtered);
char *readline();
decode_result why_input_ended();

// Asks until an answer is accepted; a mistyped one is warned about with where in front and,
// at a terminal, asked again. Blank lines, and a repeated header at the first line of a page,
// are passed over. Leaves the answer in transformed_buffer.
decode_result read_answer(const char *prompt, size_t expected_digits, const char *where, bool first_of_page);

// Writes the low 8 bits of each value, tallying them for the check of the whole save.
decode_result write_dump_bytes(FILE *out, const unsigned *values, int count);
// The warning for a dump whose size field or checksum, but not both, disagrees; false if none.
bool describe_save_mismatch(const bram_tally *tally, char *text, size_t size);
// The closing warning that names the lines kept although they drew a warning.
void describe_mistyped_lines(char *text, size_t size);

int hex_digit_value(char c);
int parse_hex_field(const char *text, int max_digits, unsigned *value);
int parse_hex_fields(const char *text, unsigned *values, int count);
bool describe_line_fault(const char *text, size_t expected_digits, char *fault, size_t size);
bool input_goes_on(FILE *stream);

#endif
