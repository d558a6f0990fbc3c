#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "../common/text_encoding.h"
#include "dumpentry.h"
#include "line_editor.h"
#include "plain.h"

FILE *in = nullptr;
const char *in_name = nullptr;
char transformed_buffer[256];
FILE *dialogue = stdout;
unsigned char dump_bytes[0x10000];
size_t dump_length;
bool mending;                            // lines asked again after the dump was complete
bool going_on;                           // in is the transcript, read quietly before the prompts go on
bool size_field_warned;                  // the size field was found one digit off the header at line 0
static size_t dump_position;             // where the next bytes go: the end, but while mending
static text_encoding in_encoding = text_utf8; // how in's characters are read
static unsigned long answer_text_line;   // the line of its text the last answer stands on (0: none)
static unsigned long line_sources[sizeof dump_bytes / 8 + 1]; // the same for each line of the dump
static unsigned long text_line;          // the input's line that the last read began on
static unsigned long next_text_line = 1; // the input's line that the next read begins on
static char header_text[256];            // the header as typed, for the pages that repeat it
static int mistyped_lines;               // lines kept although they drew a warning
static const int named_mistyped_most = 10; // the closing warning names this many of them
static char mistyped_names[named_mistyped_most][48];
static unsigned long lines_gone_on;      // lines read from the transcript while going on
static char last_line_gone_on[384];      // the last of them, with its prompt
static char heading_gone_on[32];         // the page heading after it
static const size_t header_digits = 6;   // the encoding and the size
static const size_t line_digits = 16;    // a full line of eight bytes
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

bool switch_input(const char *path)
{
    if (in)
        fclose(in);
    in = nullptr;
    in_name = path;
    in_encoding = text_utf8;
    going_on = false;
    next_text_line = 1;
    if (!path)
        return true;
    in = open_file(path, "rb");
    if (!in)
        return false;
    file_facts facts;
    if (facts_of_stream(in, &facts) && facts.regular) {
        text_encoding encoding = text_encoding_of(in);
        in_encoding = encoding == no_text ? text_utf8 : encoding;
        rewind(in);
    }
    return true;
}

// One character of the input: a byte, or a UTF-16 unit in the text's byte order, so that a
// character holding a 0x0A byte never ends a line.
static int read_character(FILE *source)
{
    int first = getc(source);
    if (source != in || unit_width(in_encoding) == 1 || first == EOF)
        return first;
    int second = getc(source);
    if (second == EOF)
        return EOF;
    return in_encoding == text_utf16_big ? first << 8 | second : second << 8 | first;
}

// Reads up to the line end, or up to limit characters; returns how many were read. A character
// beyond ASCII is kept as a byte that no filter lets through.
static size_t read_raw_line(FILE *source, char *raw, size_t limit)
{
    size_t length = 0;
    int c;
    while (length < limit && (c = read_character(source)) != EOF) {
        raw[length++] = static_cast<char>(c < 0x100 ? c : 0x80);
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
    if (in && !going_on)
        puts("read from file");
    filter_line(read_buffer, length, transformed_buffer);
    return length > 0 ? transformed_buffer : nullptr;
}

char *ask(const char *prompt)
{
    if (in || !editor_active()) {
        if (!going_on)
            fputs(prompt, in ? stdout : dialogue);
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
        fputs(prompt, dialogue);
        fflush(dialogue);
        length = read_raw_line(stdin, raw, size - 1);
    }
    raw[length] = '\0';
    return length;
}

decode_result why_input_ended()
{
    return ferror(in ? in : stdin) ? decode_read_error : decode_end_of_input;
}

void show_heading(const char *heading)
{
    if (going_on)
        snprintf(heading_gone_on, sizeof heading_gone_on, "%s", heading);
    else
        fputs(heading, stdout);
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

static bool all_hex_digits(const char *text)
{
    for (; *text; text++)
        if (hex_digit_value(*text) < 0)
            return false;
    return true;
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

bool at_terminal()
{
    return !in && standard_input_is_terminal();
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

// A place as the warnings name it ("page 2, line 5: "), without its colon.
static void name_without_colon(const char *where, char *name, size_t size)
{
    size_t length = strlen(where);
    while (length > 0 && (where[length - 1] == ' ' || where[length - 1] == ':'))
        length--;
    snprintf(name, size, "%.*s", static_cast<int>(length), where);
}

// Counts a line kept although it drew a warning; where names it as the warning did.
static void note_mistyped(const char *where)
{
    if (mistyped_lines < named_mistyped_most)
        name_without_colon(where, mistyped_names[mistyped_lines], sizeof mistyped_names[0]);
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

// A header where a page of the screen shows it again: six hex digits where a full line is
// expected (the first header holds when it differs), or the first header itself where the
// line expected has other than six digits.
static bool is_header_again(const char *where, size_t expected_digits)
{
    bool six_digits = strlen(transformed_buffer) == header_digits && all_hex_digits(transformed_buffer);
    bool same = strcasecmp(transformed_buffer, header_text) == 0;
    if (expected_digits == line_digits && six_digits) {
        if (!same) {
            char page[48], typed[16], first[16];
            name_without_colon(where, page, sizeof page);
            char *comma = strrchr(page, ',');
            if (comma)
                *comma = '\0';
            format_pairs(transformed_buffer, typed, sizeof typed);
            format_pairs(header_text, first, sizeof first);
            warn("Warning: %s: its header %s is not the first page's, %s, which holds%s\n", page, typed, first,
                 text_position());
        }
        return true;
    }
    return expected_digits != strlen(header_text) && same;
}

// A blank line never stands for data, nor does the header where a page of the screen shows it.
static bool is_layout(const char *where, bool first_of_page, size_t expected_digits)
{
    return !transformed_buffer[0] || (first_of_page && is_header_again(where, expected_digits));
}

// The transcript has been read to its end: the prompts go on at the terminal, after one line
// that says where, and the last line kept as it was typed.
static void go_on_at_terminal(const char *where)
{
    char place[48];
    name_without_colon(where, place, sizeof place);
    unsigned long kept = lines_gone_on;
    switch_input(nullptr);
    fprintf(dialogue, "%lu line%s kept; going on at %s\n", kept, kept == 1 ? "" : "s", place);
    if (last_line_gone_on[0])
        fprintf(dialogue, "%s\n", last_line_gone_on);
    if (heading_gone_on[0])
        fputs(heading_gone_on, stdout);
    fflush(stdout);
}

void end_going_on()
{
    if (!going_on)
        return;
    fprintf(dialogue, "%lu line%s kept; the dump is complete\n", lines_gone_on, lines_gone_on == 1 ? "" : "s");
    going_on = false;
}

// Notes the line just kept from the transcript, with its prompt, for when the prompts go on.
static void note_line_gone_on(const char *prompt)
{
    char pairs[384];
    format_pairs(transformed_buffer, pairs, sizeof pairs);
    snprintf(last_line_gone_on, sizeof last_line_gone_on, "%s%s", prompt, pairs);
    heading_gone_on[0] = '\0';
    lines_gone_on++;
}

decode_result read_answer(const char *prompt, size_t expected_digits, const char *where, bool first_of_page,
                          bool *kept_as_before)
{
    char rejected[256] = "";
    for (;;) {
        if (!ask(prompt)) {
            if (!going_on)
                return why_input_ended();
            go_on_at_terminal(where);
            continue;
        }
        if (mending && !transformed_buffer[0] && kept_as_before) {
            *kept_as_before = true; // Enter while mending: the line stays as it was
            return decode_complete;
        }
        if (is_layout(where, first_of_page, expected_digits) ||
            !take_answer(rejected, sizeof rejected, expected_digits, where))
            continue;
        bool page_break = first_of_page && dump_position > 0 && expected_digits != strlen(header_text);
        if (going_on)
            note_line_gone_on(prompt);
        answer_text_line = in ? text_line : keep_typed_line(transformed_buffer, page_break);
        return decode_complete;
    }
}

// Asks for a header until one is taken, passing blank lines over, or, with kept, taking an
// empty answer for keeping the header there is; *encoding receives its encoding.
decode_result read_header(const char *prompt, int *encoding, bool *kept)
{
    char rejected[256] = "";
    for (;;) {
        if (!ask(prompt)) {
            if (!kept)
                return why_input_ended();
            transformed_buffer[0] = '\0'; // the end of input keeps it, as Enter does
        }
        if (!transformed_buffer[0]) {
            if (!kept)
                continue; // a blank line before the header, or Enter at its prompt
            *kept = true;
            return decode_complete;
        }
        unsigned value;
        if (parse_hex_field(transformed_buffer, 2, &value) == 0)
            return decode_no_encoding;
        // The two digits are read as a signed 8-bit number: 80 to FF are -128 to -1.
        *encoding = value & 0x80 ? static_cast<int>(value) - 0x100 : static_cast<int>(value);
        if (*encoding < 0 || *encoding >= decoder_count)
            return decode_unknown_encoding;
        if (take_answer(rejected, sizeof rejected, header_digits, "header: "))
            return decode_complete;
    }
}

decode_result read_header_again(const char *prompt, int *encoding, bool *kept)
{
    discard_typed_ahead();
    return read_header(prompt, encoding, kept);
}

void take_header(const char *filtered)
{
    snprintf(header_text, sizeof header_text, "%s", filtered);
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
    while ((c = read_character(stream)) != EOF)
        if (c < 0x100 && char_accepted(c))
            return true;
    return false;
}

// Asks for the header and runs the decoder of its encoding, which *encoding receives.
decode_result transcribe(FILE *out, int *encoding)
{
    dump_length = dump_position = 0;
    mistyped_lines = 0;
    next_text_line = 1;
    size_field_warned = false;
    decode_result result = read_header("Enter the header of the dump (available on all page) :\n", encoding, nullptr);
    if (result != decode_complete)
        return result;
    take_header(transformed_buffer);
    keep_typed_header(transformed_buffer, in ? text_line : 0);
    // The decoder rereads the header from transformed_buffer: no line may be read in between.
    return parse_intermediate_form[*encoding](out);
}

// At a terminal, what is typed stays where it is kept: said on a line of its own after the
// end of input, Ctrl-C, or a closed terminal.
static void end_terminal_line()
{
    if (editor_active())
        fputs("\n", dialogue);
}

static void fail_unless_complete(decode_result result, const char *output_name, int encoding)
{
    switch (result) {
    case decode_complete:
        return;
    case decode_end_of_input:
        end_terminal_line();
        fail(4, "Unexpected end of input\n%s", where_typing_is_kept());
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
// input, output or error go to, a typed dump named first by a slip of the hand, or a file with
// a second hard link. The dump file is written beside the old one and replaces it only when the
// run completes.
static pending_output *open_files(const char *output_name, const char *input_name)
{
    if (input_name)
        switch_input(input_name);
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
    bool said_at_line_0 = size_field_warned && !size_field_holds(&tally);
    if (check_fails && !said_at_line_0)
        warn("%s", mismatch);
    if (mistyped_lines > 0) {
        char names[640];
        describe_mistyped_lines(names, sizeof names);
        warn("%s\n", names);
    }
    return check_fails;
}

// A first argument that reads like an option is none of the output's names.
static void refuse_unknown_option(int argc, char **argv)
{
    if (argc < 2 || argv[1][0] != '-' || strcmp(argv[1], "-") == 0)
        return;
    static const char *const known[] = {"--help", "-h", "--version"};
    for (const char *option : known)
        if (strcmp(argv[1], option) == 0)
            return;
    fail(1, "Unknown option '%s'; to name a file that begins with '-', write './%s'\n", argv[1], argv[1]);
}

int main(int argc, char **argv)
{
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "dumpentry", print_usage, 1);
    refuse_unknown_option(argc, argv);
    if (argc != 2 && argc != 3)
        exit_with_usage(argv[0], print_usage, 1);
    const char *output_name = argv[1];
    const char *input_name = argc == 3 ? argv[2] : nullptr;
    pending_output *dump_file = open_files(output_name, input_name);
    FILE *out = dump_file->stream;
    if (standard_input_is_terminal() && !standard_output_is_terminal())
        dialogue = stderr; // standard output is a log: the questions stay on screen
    if (editor_start(dialogue))
        say_where_typing_is_kept_on_ending();
    if (input_name)
        note_input_text(input_name);
    else
        start_transcript(output_name);

    int encoding = 0;
    decode_result result = transcribe(out, &encoding);
    fail_unless_complete(result, output_name, encoding);
    end_going_on();

    bool check_fails = warn_about_the_dump();
    if (check_fails && standard_input_is_terminal() && seek_dump(out, 0)) {
        switch_input(nullptr);
        check_fails = !mend_at_terminal(out);
    }
    finish_output_or_fail(dump_file, 1, output_name);
    switch_input(nullptr);
    puts(" ** DONE **");
    print_contact();
    fflush(stdout);
    commit_output_or_fail(dump_file, 1, output_name);
    return check_fails ? status_check_fails : EXIT_SUCCESS;
}
