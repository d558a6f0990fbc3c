#include <cstdio>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "dumpentry.h"
#include "plain.h"

const unsigned bytes_per_line = 8;
const unsigned lines_per_page = 16;
static const unsigned bytes_per_page = bytes_per_line * lines_per_page;

// The header starts with the encoding (two hex digits) and the size (four); a field the
// header does not supply is 0.
void parse_plain_header(const char *text, unsigned *encoding, unsigned *size)
{
    int digits = parse_hex_field(text, 2, encoding);
    parse_hex_field(text + digits, 4, size);
}

// Each byte of the last line has its own fixed place, two characters per byte; a byte
// whose place lies past the end of the text is 0.
void parse_last_line(const char *text, unsigned *values, int count)
{
    size_t length = strlen(text);
    for (int k = 0; k < count; k++) {
        size_t place = 2 * static_cast<size_t>(k);
        values[k] = 0;
        if (place < length)
            parse_hex_field(text + place, 2, &values[k]);
    }
}

// The page structure of the dump being read, for asking a line again.
static unsigned dump_size;
static int page_max, remaining_lines, remaining_bytes;

// Works out the page structure from the size, and reports it with the encoding.
static void report_layout(unsigned encoding, unsigned size)
{
    warn("Encoding: %d\nSize of data: %d bytes\n", static_cast<int>(encoding), static_cast<int>(size));
    dump_size = size;
    page_max = static_cast<int>(size >> 7);
    remaining_lines = static_cast<int>(size % bytes_per_page / bytes_per_line);
    remaining_bytes = static_cast<int>(size % bytes_per_line);
    warn("Full pages: %d\nRemaining full lines: %d\nRemaining bytes: %d\n", page_max, remaining_lines,
         remaining_bytes);
}

static int page_at(size_t offset)
{
    int page = static_cast<int>(offset / bytes_per_page);
    return page < page_max ? page : last_page;
}

static int line_at(size_t offset)
{
    return static_cast<int>(offset % bytes_per_page / bytes_per_line);
}

static void show_page_heading(int page)
{
    char heading[32];
    if (page == last_page)
        snprintf(heading, sizeof heading, " -- Last page --\n");
    else
        snprintf(heading, sizeof heading, " -- Page %d --\n", page);
    show_heading(heading);
}

// One line: asked until an answer is kept, then its count bytes written, each read by parse;
// while mending, Enter leaves it as it was.
static decode_result ask_one_line(FILE *out, const char *prompt, const char *where, int count, bool first_of_page,
                                  void (*parse)(const char *, unsigned *, int))
{
    bool kept_as_before = false;
    decode_result result =
        read_answer(prompt, 2 * static_cast<size_t>(count), where, first_of_page, &kept_as_before);
    if (result != decode_complete || kept_as_before)
        return result;
    unsigned values[bytes_per_line];
    parse(transformed_buffer, values, count);
    return write_dump_bytes(out, values, count);
}

static void parse_full_line(const char *text, unsigned *values, int count)
{
    parse_hex_fields(text, values, count);
}

decode_result ask_line(FILE *out, int page, int line)
{
    char prompt[24], where[48];
    snprintf(prompt, sizeof prompt, "Line %2d: ", line);
    if (page == last_page)
        snprintf(where, sizeof where, "last page, line %d: ", line);
    else
        snprintf(where, sizeof where, "page %d, line %d: ", page, line);
    return ask_one_line(out, prompt, where, bytes_per_line, line == 0, parse_full_line);
}

static decode_result ask_last_line(FILE *out)
{
    char prompt[32];
    snprintf(prompt, sizeof prompt, "Last line (%d byte%s) : ", remaining_bytes, "s");
    return ask_one_line(out, prompt, "last line: ", remaining_bytes, remaining_lines == 0, parse_last_line);
}

// How many of the four hex digits of two sizes differ.
static int digits_apart(unsigned a, unsigned b)
{
    int apart = 0;
    for (int shift = 0; shift < 16; shift += 4)
        apart += (a >> shift & 0xF) != (b >> shift & 0xF);
    return apart;
}

// The size field (bytes 0-1 of line 0) is known as soon as line 0 is typed. One hex digit off
// the header's size is a typo in one of them: said at once, and at a terminal the header may
// be typed again; its new page structure then holds for the lines to come.
static decode_result check_size_field()
{
    unsigned field = dump_bytes[0] | static_cast<unsigned>(dump_bytes[1]) << 8;
    if (digits_apart(field, dump_size) != 1)
        return decode_complete;
    warn("Warning: the size field says %u bytes, the header of the dump says %u\n", field, dump_size);
    size_field_warned = true;
    while (at_terminal()) {
        bool kept = false;
        int encoding = 0;
        decode_result result =
            read_header_again("Type the header again, or Enter to keep the header: ", &encoding, &kept);
        if (result != decode_complete || kept)
            return result;
        unsigned header_encoding = 0, size = 0;
        parse_plain_header(transformed_buffer, &header_encoding, &size);
        if (size < bytes_per_line) {
            fprintf(dialogue, "A header of %u bytes leaves no room for line 0, typed already\n", size);
            continue;
        }
        take_header(transformed_buffer);
        retake_typed_header(transformed_buffer);
        report_layout(header_encoding, size);
        size_field_warned = false;
        show_page_heading(page_at(0));
        return check_size_field();
    }
    return decode_complete;
}

decode_result parse_plain(FILE *out)
{
    unsigned encoding = 0, size = 0;
    parse_plain_header(transformed_buffer, &encoding, &size);
    report_layout(encoding, size);
    for (size_t offset = 0; offset < dump_size;) {
        int page = page_at(offset), line = line_at(offset);
        if (line == 0)
            show_page_heading(page);
        bool full_line = offset + bytes_per_line <= dump_size;
        decode_result result = full_line ? ask_line(out, page, line) : ask_last_line(out);
        if (result != decode_complete)
            return result;
        offset += full_line ? bytes_per_line : static_cast<size_t>(remaining_bytes);
        result = offset == bytes_per_line && full_line ? check_size_field() : decode_complete;
        if (result != decode_complete)
            return result;
    }
    return decode_complete;
}

// A whole number of at most five digits; -1 for anything else.
static int line_number(const char *word, size_t length)
{
    int number = 0;
    if (length == 0 || length > 5)
        return -1;
    for (size_t k = 0; k < length; k++) {
        if (word[k] < '0' || word[k] > '9')
            return -1;
        number = number * 10 + (word[k] - '0');
    }
    return number;
}

static bool is_word(const char *word, size_t length, const char *expected)
{
    return length == strlen(expected) && strncasecmp(word, expected, length) == 0;
}

bool parse_line_choice(const char *answer, line_choice *choice)
{
    const char *words[3];
    size_t lengths[3];
    int count = 0;
    const char *separators = " \t\r\n,";
    for (const char *at = answer + strspn(answer, separators); *at; at += strspn(at, separators)) {
        if (count == 3)
            return false;
        words[count] = at;
        lengths[count] = strcspn(at, separators);
        at += lengths[count++];
    }
    *choice = {choice_keep, 0, 0};
    if (count == 0)
        return true;
    bool last = is_word(words[0], lengths[0], "last");
    choice->page = last ? last_page : line_number(words[0], lengths[0]);
    if (choice->page == -1 && !last)
        return false;
    if (count == 1) {
        choice->kind = choice_page;
        return true;
    }
    if (count == 2 && last && is_word(words[1], lengths[1], "line")) {
        choice->kind = choice_last_line;
        return true;
    }
    choice->kind = choice_line;
    choice->line = line_number(words[1], lengths[1]);
    return count == 2 && choice->line >= 0;
}

bool choice_exists(const line_choice *choice)
{
    bool on_last_page = choice->page == last_page;
    int lines = on_last_page ? remaining_lines : static_cast<int>(lines_per_page);
    bool page_exists = on_last_page ? remaining_lines > 0 || remaining_bytes > 0 : choice->page < page_max;
    switch (choice->kind) {
    case choice_page:
        return page_exists;
    case choice_line:
        return page_exists && choice->line < lines;
    case choice_last_line:
        return remaining_bytes > 0;
    case choice_keep:
        break;
    }
    return true;
}

const char *choice_name(const line_choice *choice)
{
    static char name[48];
    char page[24];
    if (choice->page == last_page)
        snprintf(page, sizeof page, "last page");
    else
        snprintf(page, sizeof page, "page %d", choice->page);
    if (choice->kind == choice_last_line)
        snprintf(name, sizeof name, "last line");
    else if (choice->kind == choice_line)
        snprintf(name, sizeof name, "%s, line %d", page, choice->line);
    else
        snprintf(name, sizeof name, "%s", page);
    return name;
}

static size_t line_offset(int page, int line)
{
    size_t page_start = static_cast<size_t>(page == last_page ? page_max : page) * bytes_per_page;
    return page_start + static_cast<size_t>(line) * bytes_per_line;
}

static void show_typed_before(size_t offset, int count)
{
    char digits[2 * bytes_per_line + 1] = "", pairs[3 * bytes_per_line + 1];
    for (size_t k = 0; k < static_cast<size_t>(count); k++)
        snprintf(digits + 2 * k, 3, "%02X", dump_bytes[offset + k]);
    format_pairs(digits, pairs, sizeof pairs);
    fprintf(dialogue, "Typed before: %s\n", pairs);
}

static decode_result again(FILE *out, int page, int line)
{
    bool last_line = line == remaining_lines && page == last_page;
    size_t offset = line_offset(page, line);
    show_typed_before(offset, last_line ? remaining_bytes : static_cast<int>(bytes_per_line));
    if (!seek_dump(out, offset))
        return decode_write_error;
    return last_line ? ask_last_line(out) : ask_line(out, page, line);
}

decode_result ask_again(FILE *out, const line_choice *choice)
{
    if (choice->page == last_page)
        fputs(" -- Last page --\n", dialogue);
    else
        fprintf(dialogue, " -- Page %d --\n", choice->page);
    if (choice->kind == choice_line)
        return again(out, choice->page, choice->line);
    if (choice->kind == choice_last_line)
        return again(out, last_page, remaining_lines);
    int lines = choice->page == last_page ? remaining_lines + (remaining_bytes > 0) : static_cast<int>(lines_per_page);
    for (int line = 0; line < lines; line++) {
        decode_result result = again(out, choice->page, line);
        if (result != decode_complete)
            return result;
    }
    return decode_complete;
}
