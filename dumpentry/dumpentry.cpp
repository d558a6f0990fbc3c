#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "dumpentry.h"
#include "line_editor.h"
#include "plain.h"

FILE *in = nullptr;
const char *in_name = nullptr;
char transformed_buffer[256];
unsigned char dump_bytes[0x10000];
size_t dump_length;
static size_t dump_position;             // where the next bytes go: the end, but while mending
bool mending;                            // lines asked again after the dump was complete
static unsigned long answer_text_line;   // the line of its text the last answer stands on (0: none)
static unsigned long line_sources[sizeof dump_bytes / 8 + 1]; // the same for each line of the dump
static unsigned long text_line;          // the input's line that the last read began on
static unsigned long next_text_line = 1; // the input's line that the next read begins on
static char header_text[256];            // the header as typed, for the pages that repeat it
static int mistyped_lines;               // lines kept although they drew a warning
static const int named_mistyped_most = 10; // the closing warning names this many of them
static char mistyped_names[named_mistyped_most][48];
static const size_t header_digits = 6;   // the encoding and the size
static const int status_check_fails = 5; // written, but the save's own check fails

const decoder parse_intermediate_form[] = {parse_plain};
const int decoder_count = sizeof parse_intermediate_form / sizeof parse_intermediate_form[0];

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s <output filename> [<input filename>]\n"
           "  If no file where to read data is given, standard input is used\n",
           exe_name);
}

// Letters and digits only, whatever the locale; bytes from 0x80 up never pass.
char char_accepted(int c)
{
    signed char s = static_cast<signed char>(c);
    bool letter_or_digit = (s >= 'A' && s <= 'Z') || (s >= 'a' && s <= 'z') || (s >= '0' && s <= '9');
    return letter_or_digit ? 1 : 0;
}

// Keeps the letters and digits of length raw bytes. NUL bytes (of a UTF-16 text) are dropped
// like any separator, and so are escape sequences whole: the last letter of an arrow key's
// ESC [ D must not pass for a hex digit.
size_t filter_line(const char *raw, size_t length, char *filtered)
{
    size_t index_out = 0;
    for (size_t index_in = 0; index_in < length; index_in++) {
        bool sequence = raw[index_in] == '\x1B' && index_in + 1 < length &&
                        (raw[index_in + 1] == '[' || raw[index_in + 1] == 'O');
        if (sequence) {
            index_in += 2;
            while (index_in < length && (raw[index_in] < '@' || raw[index_in] > '~'))
                index_in++;
        } else if (char_accepted(raw[index_in])) {
            filtered[index_out++] = raw[index_in];
        }
    }
    filtered[index_out] = '\0';
    return index_out;
}

// Reads up to the line end, or up to limit bytes; returns how many bytes were read.
static size_t read_raw_line(FILE *source, char *raw, size_t limit)
{
    size_t length = 0;
    int c;
    while (length < limit && (c = getc(source)) != EOF) {
        raw[length++] = static_cast<char>(c);
        if (c == '\n') {
            next_text_line++;
            break;
        }
    }
    return length;
}

// Returns null when nothing could be read; transformed_buffer then holds the empty text.
char *readline()
{
    char read_buffer[256];
    FILE *source = in ? in : stdin;
    if (!in)
        fflush(stdout); // the prompt must be on screen before the program waits
    text_line = next_text_line;
    size_t length = read_raw_line(source, read_buffer, 254);
    if (in)
        puts("read from file");
    filter_line(read_buffer, length, transformed_buffer);
    return length > 0 ? transformed_buffer : nullptr;
}

char *ask(const char *prompt)
{
    go_on_at_terminal_after_transcript();
    if (in || !editor_active()) {
        fputs(prompt, stdout);
        return readline();
    }
    char raw[256];
    text_line = 0;
    size_t length = editor_read(prompt, raw, 254);
    filter_line(raw, length, transformed_buffer);
    return length > 0 ? transformed_buffer : nullptr;
}

size_t ask_raw(const char *prompt, char *raw, size_t size)
{
    size_t length;
    if (editor_active()) {
        length = editor_read(prompt, raw, size - 1);
    } else {
        fputs(prompt, stdout);
        fflush(stdout);
        length = read_raw_line(stdin, raw, size - 1);
    }
    raw[length] = '\0';
    return length;
}

decode_result why_input_ended()
{
    return ferror(in ? in : stdin) ? decode_read_error : decode_end_of_input;
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads up to max_digits hex digits; returns how many were taken (0: no field).
int parse_hex_field(const char *text, int max_digits, unsigned *value)
{
    int digits = 0;
    *value = 0;
    while (digits < max_digits && hex_digit_value(text[digits]) >= 0) {
        *value = *value * 16 + static_cast<unsigned>(hex_digit_value(text[digits]));
        digits++;
    }
    return digits;
}

// Two-digit fields read one after another, stopping at the first that has no digit;
// the fields not supplied are 0. Returns how many were supplied.
int parse_hex_fields(const char *text, unsigned *values, int count)
{
    int supplied = 0;
    for (int k = 0; k < count; k++)
        values[k] = 0;
    while (supplied < count) {
        int digits = parse_hex_field(text, 2, &values[supplied]);
        if (digits == 0)
            break;
        text += digits;
        supplied++;
    }
    return supplied;
}

// Says in a few words why a filtered line is not exactly expected_digits hex digits.
bool describe_line_fault(const char *text, size_t expected_digits, char *fault, size_t size)
{
    size_t length = strlen(text);
    for (size_t k = 0; k < length; k++) {
        if (hex_digit_value(text[k]) < 0) {
            snprintf(fault, size, "'%c' is not a hex digit", text[k]);
            return true;
        }
    }
    if (length == expected_digits)
        return false;
    snprintf(fault, size, "%zu hex digits found, %zu expected", length, expected_digits);
    return true;
}

// Only someone typing at a terminal can be asked a line again; a file or a pipe is read once,
// and so is a pasted block: its next line must not be taken for the retry.
static bool second_chance_possible()
{
    return !in && standard_input_is_terminal() && !input_waiting();
}

// Where a warning about the line just read points in the input file; empty at a terminal.
static const char *text_position()
{
    static char position[64 + 4096];
    if (!in)
        return "";
    snprintf(position, sizeof position, " (%s, line %lu)", in_name ? in_name : "input", text_line);
    return position;
}

// Counts a line kept although it drew a warning; where names it as the warning did.
static void note_mistyped(const char *where)
{
    if (mistyped_lines < named_mistyped_most) {
        size_t length = strlen(where);
        while (length > 0 && (where[length - 1] == ' ' || where[length - 1] == ':'))
            length--;
        snprintf(mistyped_names[mistyped_lines], sizeof mistyped_names[0], "%.*s", static_cast<int>(length), where);
    }
    mistyped_lines++;
}

void describe_mistyped_lines(char *text, size_t size)
{
    int used = snprintf(text, size, "Warning: %d line%s looked mistyped:", mistyped_lines,
                        mistyped_lines == 1 ? "" : "s");
    for (int k = 0; k < mistyped_lines && k < named_mistyped_most && used >= 0 && static_cast<size_t>(used) < size; k++)
        used += snprintf(text + used, size - static_cast<size_t>(used), "%s %s", k ? ";" : "", mistyped_names[k]);
    if (mistyped_lines > named_mistyped_most && used >= 0 && static_cast<size_t>(used) < size)
        snprintf(text + used, size - static_cast<size_t>(used), "; and %d more", mistyped_lines - named_mistyped_most);
}

// Takes the answer in transformed_buffer, or, at a terminal, asks for it again after a warning.
// rejected holds the answer warned about before, empty at first: a warned answer is never
// empty, since an empty header has no encoding and an empty line is passed over.
static bool take_answer(char *rejected, size_t rejected_size, size_t expected_digits, const char *where)
{
    char fault[64];
    if (!describe_line_fault(transformed_buffer, expected_digits, fault, sizeof fault))
        return true;
    if (rejected[0] && strcasecmp(rejected, transformed_buffer) == 0) {
        note_mistyped(where); // typed the same again (in either case): the user stands by it
        return true;
    }
    warn("Warning: %s%s%s\n", where, fault, text_position());
    if (!second_chance_possible()) {
        note_mistyped(where);
        return true;
    }
    snprintf(rejected, rejected_size, "%s", transformed_buffer);
    return false;
}

// A blank line never stands for data, nor does the header where a page of the screen shows it,
// unless the line expected there has as many digits as the header: then it is that line.
static bool is_layout(bool first_of_page, size_t expected_digits)
{
    bool header_again = first_of_page && expected_digits != strlen(header_text) &&
                        strcasecmp(transformed_buffer, header_text) == 0;
    return !transformed_buffer[0] || header_again;
}

decode_result read_answer(const char *prompt, size_t expected_digits, const char *where, bool first_of_page)
{
    char rejected[256] = "";
    for (;;) {
        if (!ask(prompt))
            return why_input_ended();
        if (is_layout(first_of_page, expected_digits) || !take_answer(rejected, sizeof rejected, expected_digits, where))
            continue;
        bool page_break = first_of_page && dump_position > 0 && expected_digits != strlen(header_text);
        answer_text_line = in ? text_line : keep_typed_line(transformed_buffer, page_break);
        return decode_complete;
    }
}

decode_result write_dump_bytes(FILE *out, const unsigned *values, int count)
{
    size_t line = dump_position / 8;
    for (int k = 0; k < count && dump_position < sizeof dump_bytes; k++)
        dump_bytes[dump_position++] = static_cast<unsigned char>(values[k] & 0xFF);
    if (dump_position > dump_length)
        dump_length = dump_position;
    fwrite(dump_bytes + line * 8, 1, static_cast<size_t>(count), out);
    if (mending)
        mend_text_line(line_sources[line], transformed_buffer);
    else
        line_sources[line] = answer_text_line;
    return ferror(out) ? decode_write_error : decode_complete;
}

bool seek_dump(FILE *out, size_t offset)
{
    if (offset > dump_length || fseek(out, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    dump_position = offset;
    return true;
}

bool describe_save_mismatch(const bram_tally *tally, char *text, size_t size)
{
    if (!tally_has_header(tally) || size_field_holds(tally) == checksum_holds(tally))
        return false; // both hold, or neither: not such a file, or too damaged to judge
    if (!checksum_holds(tally)) {
        int offset = checksum_offset(tally);
        snprintf(text, size,
                 "Warning: the checksum does not hold: stored 0x%04X, computed 0x%04X; "
                 "the typed bytes add up %c0x%04X off\n",
                 stored_checksum(tally), computed_checksum(tally), offset < 0 ? '-' : '+',
                 static_cast<unsigned>(offset < 0 ? -offset : offset));
    } else {
        snprintf(text, size, "Warning: the size field says %u bytes, the header of the dump says %lu\n",
                 size_field(tally), tally->length);
    }
    return true;
}

bool input_goes_on(FILE *stream)
{
    int c;
    while ((c = getc(stream)) != EOF)
        if (char_accepted(c))
            return true;
    return false;
}

// Asks for the header and runs the decoder of its encoding, which *encoding receives.
decode_result transcribe(FILE *out, int *encoding)
{
    dump_length = dump_position = 0;
    mistyped_lines = 0;
    next_text_line = 1;
    char rejected[256] = "";
    for (;;) {
        if (!ask("Enter the header of the dump (available on all page) :\n"))
            return why_input_ended();
        if (!transformed_buffer[0])
            continue; // a blank line before the header, or Enter at its prompt
        unsigned value;
        if (parse_hex_field(transformed_buffer, 2, &value) == 0)
            return decode_no_encoding;
        // The two digits are read as a signed 8-bit number: 80 to FF are -128 to -1.
        int current_encoding = value & 0x80 ? static_cast<int>(value) - 0x100 : static_cast<int>(value);
        *encoding = current_encoding;
        if (current_encoding < 0 || current_encoding >= decoder_count)
            return decode_unknown_encoding;
        if (take_answer(rejected, sizeof rejected, header_digits, "header: "))
            break;
    }
    snprintf(header_text, sizeof header_text, "%s", transformed_buffer);
    keep_typed_header(transformed_buffer);
    // The decoder rereads the header from transformed_buffer: no line may be read in between.
    return parse_intermediate_form[*encoding](out);
}

static void fail_unless_complete(decode_result result, const char *output_name, int encoding)
{
    switch (result) {
    case decode_complete:
        return;
    case decode_end_of_input:
        fail(4, "Unexpected end of input\n");
    case decode_read_error:
        fail(4, "Couldn't read input\n");
    case decode_write_error:
        fail(1, "Couldn't write file '%s'\n", output_name);
    case decode_no_encoding:
        fail(2, "No encoding in the header\n");
    case decode_unknown_encoding:
        fail(2, "Unknown encoding (%d)\n", encoding);
    }
}

// Opens the input file when one is named, and the dump file, without changing a file of the
// user's that the dump file would overwrite by mistake: the input itself, a file that standard
// input, output or error go to, or a typed dump named first by a slip of the hand. The dump
// file is written beside the old one and replaces it only when the run completes.
static pending_output *open_files(const char *output_name, const char *input_name)
{
    if (input_name) {
        in_name = input_name;
        in = open_file(input_name, "rb");
    }
    file_facts output;
    if (look_at(output_name, &output)) {
        if ((in && same_file_as_stream(&output, in, input_name)) || is_standard_stream(&output, 0))
            fail(1, "Output file '%s' is also the input file\n", output_name);
        refuse_standard_streams(&output, output_name);
        if (output.regular && holds_only_text(output_name))
            fail(1, "Output file '%s' holds text; it may be a typed dump, so it is left as it is\n", output_name);
        refuse_split_links(&output, output_name);
    }
    pending_output *out = start_output(output_name);
    if (!out)
        fail(1, "Couldn't open file '%s' for output\n", output_name);
    if (input_name && (!in || is_directory(in)))
        fail(3, "Couldn't open file '%s' for input\n", input_name);
    return out;
}

// The warnings of a complete dump; true when the save's own check fails.
static bool warn_about_the_dump()
{
    if (in && input_goes_on(in))
        warn("Warning: the input goes on after the end of the dump\n");
    bram_tally tally;
    tally_whole(&tally, dump_bytes, dump_length);
    char mismatch[160];
    bool check_fails = describe_save_mismatch(&tally, mismatch, sizeof mismatch);
    if (check_fails)
        warn("%s", mismatch);
    if (mistyped_lines > 0) {
        char names[640];
        describe_mistyped_lines(names, sizeof names);
        warn("%s\n", names);
    }
    return check_fails;
}

int main(int argc, char **argv)
{
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "dumpentry", print_usage, 1);
    if (argc != 2 && argc != 3)
        exit_with_usage(argv[0], print_usage, 1);
    const char *output_name = argv[1];
    const char *input_name = argc == 3 ? argv[2] : nullptr;
    pending_output *dump_file = open_files(output_name, input_name);
    FILE *out = dump_file->stream;
    editor_start();
    if (input_name)
        note_input_text(input_name);
    else
        start_transcript(output_name);

    int encoding = 0;
    decode_result result = transcribe(out, &encoding);
    fail_unless_complete(result, output_name, encoding);

    bool check_fails = warn_about_the_dump();
    if (check_fails && standard_input_is_terminal() && seek_dump(out, 0))
        check_fails = !mend_at_terminal(out);
    finish_output_or_fail(dump_file, 1, output_name);
    if (in)
        fclose(in);
    puts(" ** DONE **");
    print_contact();
    fflush(stdout);
    commit_output_or_fail(dump_file, 1, output_name);
    return check_fails ? status_check_fails : EXIT_SUCCESS;
}
