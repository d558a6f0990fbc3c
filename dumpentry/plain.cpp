#include <cstdio>
#include <cstring>

#include "../common/bramtools.h"
#include "dumpentry.h"
#include "plain.h"

const unsigned bytes_per_line = 8;
const unsigned lines_per_page = 16;
const size_t digits_per_line = 2 * static_cast<size_t>(bytes_per_line);

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

decode_result ask_line(FILE *out, int page, int line)
{
    char prompt[16], where[48];
    snprintf(prompt, sizeof prompt, "Line %2d: ", line);
    if (page == last_page)
        snprintf(where, sizeof where, "last page, line %d: ", line);
    else
        snprintf(where, sizeof where, "page %d, line %d: ", page, line);
    decode_result result = read_answer(prompt, digits_per_line, where, line == 0);
    if (result != decode_complete)
        return result;

    unsigned t[bytes_per_line];
    parse_hex_fields(transformed_buffer, t, bytes_per_line);
    return write_dump_bytes(out, t, bytes_per_line);
}

static decode_result ask_last_line(FILE *out, int count, bool first_of_page)
{
    char prompt[32];
    snprintf(prompt, sizeof prompt, "Last line (%d byte%s) : ", count, "s");
    decode_result result = read_answer(prompt, 2 * static_cast<size_t>(count), "last line: ", first_of_page);
    if (result != decode_complete)
        return result;

    unsigned values[bytes_per_line];
    parse_last_line(transformed_buffer, values, count);
    return write_dump_bytes(out, values, count);
}

static decode_result ask_lines(FILE *out, int page, int count)
{
    for (int line = 0; line < count; line++) {
        decode_result result = ask_line(out, page, line);
        if (result != decode_complete)
            return result;
    }
    return decode_complete;
}

decode_result parse_plain(FILE *out)
{
    unsigned encoding = 0, size = 0;
    parse_plain_header(transformed_buffer, &encoding, &size);
    warn("Encoding: %d\nSize of data: %d bytes\n", static_cast<int>(encoding), static_cast<int>(size));

    int page_max = static_cast<int>(size >> 7);
    int remaining_lines = static_cast<int>(size % (bytes_per_line * lines_per_page) / bytes_per_line);
    int remaining_bytes = static_cast<int>(size % bytes_per_line);
    warn("Full pages: %d\nRemaining full lines: %d\nRemaining bytes: %d\n", page_max, remaining_lines,
         remaining_bytes);

    for (int page = 0; page < page_max; page++) {
        printf(" -- Page %d --\n", page);
        decode_result result = ask_lines(out, page, lines_per_page);
        if (result != decode_complete)
            return result;
    }
    if (remaining_lines != 0 || remaining_bytes != 0)
        fputs(" -- Last page --\n", stdout);
    decode_result result = ask_lines(out, last_page, remaining_lines);
    if (result != decode_complete || remaining_bytes == 0)
        return result;
    return ask_last_line(out, remaining_bytes, remaining_lines == 0);
}
