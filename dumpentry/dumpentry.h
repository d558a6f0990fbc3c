#ifndef DUMPENTRY_H
#define DUMPENTRY_H

#include <cstddef>
#include <cstdio>

#include "../common/bram_file.h"

extern FILE *in;                     // the input file; null means standard input
extern const char *in_name;          // its name, for the warnings
extern char transformed_buffer[256]; // filtered text of the most recent line
extern FILE *dialogue;               // the questions to the person at the terminal, and their help
extern unsigned char dump_bytes[0x10000]; // the dump as written, for its check and for mending
extern size_t dump_length;
extern bool mending;                 // lines asked again after the dump was complete
extern bool going_on;                // in is the transcript, read quietly before the prompts go on
extern bool size_field_warned;       // the size field was found one digit off the header at line 0

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

// Opens path as the input, closing the one before, or goes back to standard input (null);
// false when it cannot be opened. A text's characters are read in its own encoding.
bool switch_input(const char *path);
// True when the lines are typed at a terminal, not read from a text.
bool at_terminal();

char char_accepted(int c);
size_t filter_line(const char *raw, size_t length, char *filtered);
char *readline();
// Shows the prompt and reads one line: from the input file, or typed, edited at a terminal.
char *ask(const char *prompt);
// The same, for a raw answer that is no line of the dump; returns its length.
size_t ask_raw(const char *prompt, char *raw, size_t size);
decode_result why_input_ended();
// A page heading on standard output; while going on, kept for when the prompts go on.
void show_heading(const char *heading);
// Once the transcript gave the whole dump: says so.
void end_going_on();

// Asks until an answer is accepted; a mistyped one is warned about with where in front and,
// at a terminal, asked again. Blank lines, and a repeated header at the first line of a page,
// are passed over; while mending, Enter sets *kept_as_before instead. Leaves the answer in
// transformed_buffer.
decode_result read_answer(const char *prompt, size_t expected_digits, const char *where, bool first_of_page,
                          bool *kept_as_before);
// Asks for a header (see read_header in dumpentry.cpp); read_header_again first drops what was
// typed ahead, and takes Enter for keeping the header there is.
decode_result read_header(const char *prompt, int *encoding, bool *kept);
decode_result read_header_again(const char *prompt, int *encoding, bool *kept);
// The header that the pages repeat.
void take_header(const char *filtered);

// Writes the low 8 bits of each value where the dump stands, at its end but while mending.
decode_result write_dump_bytes(FILE *out, const unsigned *values, int count);
// Puts the place where the next bytes go at offset; false when the output cannot seek.
bool seek_dump(FILE *out, size_t offset);
// The warning for a dump whose size field or checksum, but not both, disagrees; false if none.
bool describe_save_mismatch(const bram_tally *tally, char *text, size_t size);
// The closing warning that names the lines kept although they drew a warning.
void describe_mistyped_lines(char *text, size_t size);

int hex_digit_value(char c);
int parse_hex_field(const char *text, int max_digits, unsigned *value);
int parse_hex_fields(const char *text, unsigned *values, int count);
bool describe_line_fault(const char *text, size_t expected_digits, char *fault, size_t size);
bool input_goes_on(FILE *stream);

// The session at a terminal (session.cpp).
// Keeps what is typed in OUTPUT.txt, after offering to go on from what it holds.
void start_transcript(const char *output_name);
// The lines of a named text file are mended in that file.
void note_input_text(const char *path);
// Keeps the header typed, or notes the line of the text it was read from.
void keep_typed_header(const char *filtered, unsigned long text_line);
// A header typed again takes the first one's place in the transcript and on later pages.
void retake_typed_header(const char *filtered);
// Says where the lines typed are kept and how to go on ("" without a transcript); an ending
// signal at the terminal says it on a fresh line.
const char *where_typing_is_kept();
void say_where_typing_is_kept_on_ending();
// Keeps a line typed; returns its line in the transcript, 0 when there is none.
unsigned long keep_typed_line(const char *filtered, bool page_break);
// Puts a line typed again in place of line number of the text it came from.
void mend_text_line(unsigned long number, const char *filtered);
// Asks for lines to type again until the save's check holds (true) or the user keeps the dump.
bool mend_at_terminal(FILE *out);
// Hex digits in upper-case pairs, separated by single spaces.
void format_pairs(const char *filtered, char *text, size_t size);

#endif
