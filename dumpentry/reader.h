#ifndef READER_H
#define READER_H

// The line reader: every line dumpentry takes in, from the input text or typed at the
// prompts, filtered to its letters and digits, and the answers to the prompts and questions.

#include <cstddef>
#include <cstdio>

#include "../common/dump_text.h"
#include "../common/system.h"
#include "dumpentry.h"

// What is kept of the answers to one dump's prompts.
struct answers {
    char header[256];            // the first header as typed, which the pages repeat
    int mistyped;                // lines kept although they drew a warning
    char mistyped_names[10][48]; // the first of them, named as their warnings named them
    unsigned long text_line;     // the line of the input text the last answer stood on; 0: typed
};

// An answer asked for, and where it stands.
struct question {
    const char *prompt;
    const char *where;  // the place as the warnings name it: "page 2, line 5: "
    size_t digits;      // hex digits expected
    bool first_of_page; // a page of the screen starts there, which may repeat the header
};

// Opens path as the input text (closing the one before; its characters read in its own
// encoding), or, with null, goes back to standard input: the one place in is set. False when
// path cannot be opened.
bool switch_input(const char *path);
// Reads the text at path quietly (no prompt, no echo), then goes on at the terminal, saying
// in one line how many lines it kept and where the prompts go on.
void go_on_from(const char *path);
bool going_on();
// Once the text read quietly gave the whole dump: says so.
void end_going_on();
// True when the lines are typed at a terminal, not read from a text.
bool at_terminal();
// True while the lines are read from a text; whether that text is a folder.
bool reading_a_text();
bool text_is_directory();
// Where the questions to the person at the terminal, their help and the prompts typed at go:
// standard output, or standard error when standard input is a terminal and standard output
// is not (a log). Chosen once, at the start.
void choose_dialogue();
FILE *dialogue();

char char_accepted(int c);
size_t filter_line(const char *raw, size_t length, char *filtered);
char *readline();
// Shows the prompt and reads one line: from the input file, or typed, edited at a terminal.
char *ask(const char *prompt);
// The same, for a raw answer that is no line of the dump; returns its length.
size_t ask_raw(const char *prompt, char *raw, size_t size);
decode_result why_input_ended();
// True when the input still holds a letter or digit.
bool input_goes_on();
// A page heading on standard output; while going on, kept for when the prompts go on.
void show_heading(const char *heading);

// Asks until an answer is taken; a mistyped one is warned about with its place in front and,
// at a terminal, asked again. Blank lines, and a repeated header at the first line of a page,
// are passed over; with enter_keeps, Enter sets *kept instead. Leaves the answer in
// transformed_buffer, and its line in the text in answered->text_line.
decode_result read_answer(const question *asked, answers *answered, bool enter_keeps, bool *kept);
// Asks for a header until one is taken: blank lines passed over, or, with kept, an empty
// answer (or the end of input) taken for keeping the header there is. *encoding receives its
// encoding, one of the encodings known (0 up to it). With kept, what was typed ahead is
// dropped first.
decode_result read_header(const char *prompt, answers *answered, int encodings_known, int *encoding, bool *kept);
// The closing warning that names the lines kept although they drew a warning.
void describe_mistyped_lines(const answers *answered, char *text, size_t size);

// A '?' stands for one hex digit that a scan of the screen could not read: it is kept by the
// filter, counts as a digit of its line, and is read as 0.
const char unread_digit = '?';
size_t unread_in(const char *filtered);
int parse_hex_field(const char *text, int max_digits, unsigned *value);
void parse_hex_fields(const char *text, unsigned *values, int count);
bool describe_line_fault(const char *text, size_t expected_digits, char *fault, size_t size);

#endif
