#include <cstdio>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "../common/text_encoding.h"
#include "line_editor.h"
#include "reader.h"

FILE *in = nullptr;
char transformed_buffer[256];

// Where in is, and how it is read; the terminal's side of the dialogue.
static struct {
    const char *name;            // the input text's name, for the warnings
    text_encoding encoding;      // how its characters are read
    unsigned long line;          // the line that the last read began on
    unsigned long next_line;     // the line that the next read begins on
    FILE *dialogue;
} input = {nullptr, text_utf8, 0, 1, stdout};

// A text read quietly before the prompts go on at the terminal.
static struct {
    bool active;
    unsigned long lines;  // lines of the dump taken from it
    char last_line[384];  // the last of them, after its prompt
    char heading[32];     // the page heading shown after it
} quiet;

static const size_t header_digits = header_digit_count;
static const size_t line_digits = 2 * static_cast<size_t>(bytes_per_line);
static const int named_mistyped_most = sizeof answers{}.mistyped_names / sizeof answers{}.mistyped_names[0];

bool switch_input(const char *path)
{
    if (in)
        fclose(in);
    in = nullptr;
    input.name = path;
    input.encoding = text_utf8;
    input.next_line = 1;
    quiet.active = false;
    if (!path)
        return true;
    in = open_file(path, "rb");
    if (!in)
        return false;
    file_facts facts;
    if (facts_of_stream(in, &facts) && facts.regular) {
        text_encoding encoding = text_encoding_of(in);
        input.encoding = encoding == no_text ? text_utf8 : encoding;
        rewind(in);
    }
    return true;
}

void go_on_from(const char *path)
{
    quiet = {};
    quiet.active = switch_input(path);
}

bool going_on()
{
    return quiet.active;
}

bool at_terminal()
{
    return !in && standard_input_is_terminal();
}

bool reading_a_text()
{
    return in != nullptr;
}

bool text_is_directory()
{
    return in && is_directory(in);
}

void choose_dialogue()
{
    if (standard_input_is_terminal() && !standard_output_is_terminal())
        input.dialogue = stderr;
}

FILE *dialogue()
{
    return input.dialogue;
}

// Letters, digits and the '?' of a digit not read only, whatever the locale; bytes from 0x80
// up never pass.
char char_accepted(int c)
{
    signed char s = static_cast<signed char>(c);
    bool letter_or_digit = (s >= 'A' && s <= 'Z') || (s >= 'a' && s <= 'z') || (s >= '0' && s <= '9');
    return letter_or_digit || s == unread_digit ? 1 : 0;
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

// One character of the input: of the text in its encoding, or a byte typed.
static int read_character(FILE *source)
{
    return read_text_unit(source, source == in ? input.encoding : text_utf8);
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
            input.next_line++;
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
    input.line = input.next_line;
    size_t length = read_raw_line(source, read_buffer, 254);
    if (in && !quiet.active)
        puts("read from file");
    filter_line(read_buffer, length, transformed_buffer);
    return length > 0 ? transformed_buffer : nullptr;
}

char *ask(const char *prompt)
{
    if (in || !editor_active()) {
        if (!quiet.active)
            fputs(prompt, in ? stdout : input.dialogue);
        return readline();
    }
    char raw[256];
    input.line = 0;
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
        fputs(prompt, input.dialogue);
        fflush(input.dialogue);
        length = read_raw_line(stdin, raw, size - 1);
    }
    raw[length] = '\0';
    return length;
}

decode_result why_input_ended()
{
    return ferror(in ? in : stdin) ? decode_read_error : decode_end_of_input;
}

bool input_goes_on()
{
    int c;
    while ((c = read_character(in)) != EOF)
        if (c < 0x100 && char_accepted(c))
            return true;
    return false;
}

void show_heading(const char *heading)
{
    if (quiet.active)
        snprintf(quiet.heading, sizeof quiet.heading, "%s", heading);
    else
        fputs(heading, stdout);
}

size_t unread_in(const char *filtered)
{
    size_t unread = 0;
    for (; *filtered; filtered++)
        unread += *filtered == unread_digit;
    return unread;
}

// Reads up to max_digits hex digits, a digit not read as 0; returns how many were taken (0: no
// field).
int parse_hex_field(const char *text, int max_digits, unsigned *value)
{
    int digits = 0;
    *value = 0;
    while (digits < max_digits && (hex_digit_value(text[digits]) >= 0 || text[digits] == unread_digit)) {
        int digit = text[digits] == unread_digit ? 0 : hex_digit_value(text[digits]);
        *value = *value * 16 + static_cast<unsigned>(digit);
        digits++;
    }
    return digits;
}

// Two-digit fields read one after another, stopping at the first that has no digit; the
// fields not supplied are 0.
void parse_hex_fields(const char *text, unsigned *values, int count)
{
    for (int k = 0; k < count; k++)
        values[k] = 0;
    for (int k = 0; k < count; k++) {
        int digits = parse_hex_field(text, 2, &values[k]);
        if (digits == 0)
            return;
        text += digits;
    }
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
        if (hex_digit_value(text[k]) < 0 && text[k] != unread_digit) {
            snprintf(fault, size, "'%c' is not a hex digit", text[k]);
            return true;
        }
    }
    size_t unread = unread_in(text);
    if (unread > 0) {
        snprintf(fault, size, "%zu digit%s not read", unread, unread == 1 ? "" : "s");
        return true;
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
    return at_terminal() && !input_waiting();
}

// Where a warning about the line just read points in the input file; empty at a terminal.
static const char *text_position()
{
    static char position[64 + longest_path];
    if (!in)
        return "";
    snprintf(position, sizeof position, " (%s, line %lu)", input.name ? input.name : "input", input.line);
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
static void note_mistyped(answers *answered, const char *where)
{
    if (answered->mistyped < named_mistyped_most)
        name_without_colon(where, answered->mistyped_names[answered->mistyped], sizeof answered->mistyped_names[0]);
    answered->mistyped++;
}

void describe_mistyped_lines(const answers *answered, char *text, size_t size)
{
    int count = answered->mistyped;
    int used = snprintf(text, size, "Warning: %d line%s looked mistyped:", count, count == 1 ? "" : "s");
    for (int k = 0; k < count && k < named_mistyped_most && used >= 0 && static_cast<size_t>(used) < size; k++)
        used += snprintf(text + used, size - static_cast<size_t>(used), "%s %s", k ? ";" : "",
                         answered->mistyped_names[k]);
    if (count > named_mistyped_most && used >= 0 && static_cast<size_t>(used) < size)
        snprintf(text + used, size - static_cast<size_t>(used), "; and %d more", count - named_mistyped_most);
}

// Takes the answer in transformed_buffer, or, at a terminal, asks for it again after a warning.
// rejected holds the answer warned about before, empty at first: a warned answer is never
// empty, since an empty header has no encoding and an empty line is passed over.
static bool take_answer(answers *answered, char *rejected, size_t rejected_size, size_t expected_digits,
                        const char *where)
{
    char fault[64];
    if (!describe_line_fault(transformed_buffer, expected_digits, fault, sizeof fault))
        return true;
    if (rejected[0] && strcasecmp(rejected, transformed_buffer) == 0) {
        note_mistyped(answered, where); // typed the same again (in either case): the user stands by it
        return true;
    }
    warn("Warning: %s%s%s\n", where, fault, text_position());
    if (!second_chance_possible()) {
        note_mistyped(answered, where);
        return true;
    }
    snprintf(rejected, rejected_size, "%s", transformed_buffer);
    if (unread_in(transformed_buffer) > 0) {
        char pairs[384];
        format_pairs(transformed_buffer, pairs, sizeof pairs);
        editor_preset(pairs); // what was read stands ready to be mended where the '?' are
    }
    return false;
}

// How many hex digits two texts of one length differ in, either case alike.
static size_t digits_apart(const char *a, const char *b)
{
    size_t apart = 0;
    for (; *a && *b; a++, b++)
        apart += hex_digit_value(*a) != hex_digit_value(*b);
    return apart + strlen(a) + strlen(b);
}

// A header where a page of the screen shows it again: the first header, or six hex digits one
// digit off it where a full line is expected (the first header holds; a warning says so), or
// the first header itself where the line expected has other than six digits. Six digits
// further off are a short data line.
static bool is_header_again(const answers *answered, const char *where, size_t expected_digits)
{
    bool six_digits = strlen(transformed_buffer) == header_digits && all_hex_digits(transformed_buffer);
    bool same = strcasecmp(transformed_buffer, answered->header) == 0;
    bool near = digits_apart(transformed_buffer, answered->header) <= 1;
    if (expected_digits == line_digits && six_digits && near) {
        if (!same) {
            char page[48], typed[16], first[16];
            name_without_colon(where, page, sizeof page);
            char *comma = strrchr(page, ',');
            if (comma)
                *comma = '\0';
            format_pairs(transformed_buffer, typed, sizeof typed);
            format_pairs(answered->header, first, sizeof first);
            warn("Warning: %s: its header %s is not the first page's, %s, which holds%s\n", page, typed, first,
                 text_position());
        }
        return true;
    }
    return expected_digits != strlen(answered->header) && same;
}

// A blank line never stands for data, nor does the header where a page of the screen shows it.
static bool is_layout(const answers *answered, const question *asked)
{
    return !transformed_buffer[0] || (asked->first_of_page && is_header_again(answered, asked->where, asked->digits));
}

// The quiet text has been read to its end: the prompts go on at the terminal, after one line
// that says where, and the last line kept as it was typed.
static void go_on_at_terminal(const char *where)
{
    char place[48];
    name_without_colon(where, place, sizeof place);
    unsigned long kept = quiet.lines;
    switch_input(nullptr);
    fprintf(input.dialogue, "%lu line%s kept; going on at %s\n", kept, kept == 1 ? "" : "s", place);
    if (quiet.last_line[0])
        fprintf(input.dialogue, "%s\n", quiet.last_line);
    if (quiet.heading[0])
        fputs(quiet.heading, stdout);
    fflush(stdout);
}

void end_going_on()
{
    if (!quiet.active)
        return;
    fprintf(input.dialogue, "%lu line%s kept; the dump is complete\n", quiet.lines, quiet.lines == 1 ? "" : "s");
    quiet.active = false;
}

// Notes the line just taken from the quiet text, with its prompt, for when the prompts go on.
static void note_quiet_line(const char *prompt)
{
    char pairs[384];
    format_pairs(transformed_buffer, pairs, sizeof pairs);
    snprintf(quiet.last_line, sizeof quiet.last_line, "%s%s", prompt, pairs);
    quiet.heading[0] = '\0';
    quiet.lines++;
}

decode_result read_answer(const question *asked, answers *answered, bool enter_keeps, bool *kept)
{
    char rejected[256] = "";
    for (;;) {
        if (!ask(asked->prompt)) {
            if (!quiet.active)
                return why_input_ended();
            go_on_at_terminal(asked->where);
            continue;
        }
        if (enter_keeps && !transformed_buffer[0]) {
            *kept = true; // Enter: the line stays as it was
            return decode_complete;
        }
        if (is_layout(answered, asked) || !take_answer(answered, rejected, sizeof rejected, asked->digits, asked->where))
            continue;
        if (quiet.active)
            note_quiet_line(asked->prompt);
        answered->text_line = in ? input.line : 0;
        return decode_complete;
    }
}

decode_result read_header(const char *prompt, answers *answered, int encodings_known, int *encoding, bool *kept)
{
    char rejected[256] = "";
    bool asked_again = kept != nullptr;
    if (asked_again)
        discard_typed_ahead();
    for (;;) {
        if (!ask(prompt)) {
            if (!asked_again)
                return why_input_ended();
            transformed_buffer[0] = '\0'; // the end of input keeps it, as Enter does
        }
        if (!transformed_buffer[0]) {
            if (!asked_again)
                continue; // a blank line before the header, or Enter at its prompt
            *kept = true;
            return decode_complete;
        }
        if (unread_in(transformed_buffer) > 0) {
            if (!at_terminal())
                return decode_header_unread;
            size_t unread = unread_in(transformed_buffer);
            warn("Warning: header: %zu digit%s not read\n", unread, unread == 1 ? "" : "s");
            continue;
        }
        unsigned value;
        if (parse_hex_field(transformed_buffer, 2, &value) == 0)
            return decode_no_encoding;
        // The two digits are read as a signed 8-bit number: 80 to FF are -128 to -1.
        *encoding = value & 0x80 ? static_cast<int>(value) - 0x100 : static_cast<int>(value);
        if (*encoding < 0 || *encoding >= encodings_known)
            return decode_unknown_encoding;
        if (take_answer(answered, rejected, sizeof rejected, header_digits, "header: ")) {
            answered->text_line = in ? input.line : 0;
            return decode_complete;
        }
    }
}
