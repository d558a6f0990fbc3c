#include <cstdio>
#include <cstring>

#include "../common/bramtools.h"
#include "plain.h"

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

static int page_at(const page_layout *layout, size_t offset)
{
    int page = static_cast<int>(offset / bytes_per_page);
    return page < layout->page_max ? page : last_page;
}

static void report_layout(const page_layout *layout, unsigned encoding)
{
    warn("Encoding: %d\nSize of data: %d bytes\n", static_cast<int>(encoding), static_cast<int>(layout->size));
    warn("Full pages: %d\nRemaining full lines: %d\nRemaining bytes: %d\n", layout->page_max, layout->remaining_lines,
         layout->remaining_bytes);
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

// Writes the low 8 bits of each value where the dump stands: at its end, but where a line is
// asked again.
static decode_result write_dump_bytes(dump_file *dump, const unsigned *values, int count)
{
    size_t start = dump->position;
    for (int k = 0; k < count && dump->position < sizeof dump->bytes; k++)
        dump->bytes[dump->position++] = static_cast<unsigned char>(values[k] & 0xFF);
    if (dump->position > dump->length)
        dump->length = dump->position;
    fwrite(dump->bytes + start, 1, static_cast<size_t>(count), dump->out);
    return ferror(dump->out) ? decode_write_error : decode_complete;
}

// Hands the answer on to where typing is kept; returns the line of the text it stands on.
static unsigned long keep_answer(dump_file *dump, typed_kind kind)
{
    unsigned long text_line = dump->answered.text_line;
    if (!dump->keeper.keep)
        return text_line;
    return dump->keeper.keep(dump->keeper.kept_in, transformed_buffer, kind, text_line);
}

// One line at page and line: asked until an answer is taken, then written, each byte read by
// parse. Asked again, Enter leaves it as it was (*kept), and its place in its text stays.
static decode_result ask_line(dump_file *dump, int page, int line, bool again, bool *kept)
{
    const page_layout *layout = &dump->layout;
    bool last_line = page == last_page && line == layout->remaining_lines;
    int count = last_line ? layout->remaining_bytes : static_cast<int>(bytes_per_line);
    char prompt[32], where[48];
    if (last_line) {
        snprintf(prompt, sizeof prompt, "Last line (%d byte%s) : ", count, "s");
        snprintf(where, sizeof where, "last line: ");
    } else {
        snprintf(prompt, sizeof prompt, "Line %2d: ", line);
        if (page == last_page)
            snprintf(where, sizeof where, "last page, line %d: ", line);
        else
            snprintf(where, sizeof where, "page %d, line %d: ", page, line);
    }
    question asked = {prompt, where, 2 * static_cast<size_t>(count), line == 0};
    decode_result result = read_answer(&asked, &dump->answered, again, kept);
    if (result != decode_complete || *kept)
        return result;
    unsigned values[bytes_per_line];
    if (last_line)
        parse_last_line(transformed_buffer, values, count);
    else
        parse_hex_fields(transformed_buffer, values, count);
    size_t dump_line = dump->position / bytes_per_line;
    dump->line_unread[dump_line] = static_cast<unsigned char>(unread_in(transformed_buffer));
    snprintf(dump->line_typed[dump_line], sizeof dump->line_typed[0], "%.35s", transformed_buffer);
    if (!again) {
        bool page_break = line == 0 && dump->position > 0 && asked.digits != strlen(dump->answered.header);
        dump->line_sources[dump_line] = keep_answer(dump, page_break ? typed_page_start : typed_line);
    }
    return write_dump_bytes(dump, values, count);
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
// be typed again; its new page structure then holds for the lines to come. Going on from a
// text, the header is asked once the prompts go on at the terminal.
static decode_result check_size_field(dump_file *dump)
{
    unsigned field = get_le16(dump->bytes);
    if (digits_apart(field, dump->layout.size) != 1)
        return decode_complete;
    warn("Warning: the size field says %u bytes, the header of the dump says %u\n", field, dump->layout.size);
    dump->size_field_warned = true;
    dump->header_again_due = going_on();
    while (at_terminal()) {
        bool kept = false;
        int encoding = 0;
        decode_result result =
            read_header("Type the header again, or Enter to keep the header: ", &dump->answered, dump->encodings_known,
                        &encoding, &kept);
        if (result != decode_complete || kept)
            return result;
        unsigned header_encoding = 0, size = 0;
        parse_plain_header(transformed_buffer, &header_encoding, &size);
        if (size < bytes_per_line) {
            fprintf(dialogue(), "A header of %u bytes leaves no room for line 0, typed already\n", size);
            continue;
        }
        if (size < dump->position) {
            fprintf(dialogue(), "A header of %u bytes leaves no room for the %zu bytes typed already\n", size,
                    dump->position);
            continue;
        }
        snprintf(dump->answered.header, sizeof dump->answered.header, "%s", transformed_buffer);
        keep_answer(dump, typed_header_again);
        lay_out(&dump->layout, size);
        report_layout(&dump->layout, header_encoding);
        dump->size_field_warned = false;
        if (dump->position % bytes_per_page != 0) // else the next line's heading says it
            show_page_heading(page_at(&dump->layout, dump->position));
        return check_size_field(dump);
    }
    return decode_complete;
}

decode_result parse_plain(dump_file *dump)
{
    unsigned encoding = 0, size = 0;
    parse_plain_header(transformed_buffer, &encoding, &size);
    lay_out(&dump->layout, size);
    report_layout(&dump->layout, encoding);
    while (dump->position < dump->layout.size) {
        size_t before = dump->position;
        decode_result result = ask_next_line(dump);
        bool line_0 = before == 0 && dump->position == bytes_per_line;
        if (result == decode_complete && (line_0 || (dump->header_again_due && at_terminal()))) {
            dump->header_again_due = false;
            result = check_size_field(dump);
        }
        if (result != decode_complete)
            return result;
    }
    return decode_complete;
}

decode_result ask_next_line(dump_file *dump)
{
    int page = page_at(&dump->layout, dump->position);
    int line = static_cast<int>(dump->position % bytes_per_page / bytes_per_line);
    if (line == 0)
        show_page_heading(page);
    bool kept = false;
    return ask_line(dump, page, line, false, &kept);
}

size_t lay_out_again(dump_file *dump, unsigned size, unsigned encoding)
{
    size_t typed = dump->length, partial = static_cast<size_t>(dump->layout.remaining_bytes);
    size_t kept = size > typed ? typed - partial : size;
    for (size_t line = kept / bytes_per_line; line * bytes_per_line < typed; line++) {
        size_t digits_kept = line == kept / bytes_per_line ? 2 * (kept % bytes_per_line) : 0;
        dump->line_typed[line][digits_kept] = '\0';
        dump->line_unread[line] = static_cast<unsigned char>(unread_in(dump->line_typed[line]));
    }
    dump->length = kept;
    lay_out(&dump->layout, size);
    report_layout(&dump->layout, encoding);
    return kept;
}

bool seek_dump(dump_file *dump, size_t offset)
{
    if (offset > dump->length || fseek(dump->out, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    dump->position = offset;
    return true;
}

decode_result ask_line_again(dump_file *dump, int page, int line, bool *kept)
{
    const page_layout *layout = &dump->layout;
    bool last_line = page == last_page && line == layout->remaining_lines;
    size_t offset = line_offset(layout, page, line);
    int count = last_line ? layout->remaining_bytes : static_cast<int>(bytes_per_line);
    // As it was typed ("93 9", "01 ?0"), or, for a line kept from before, as its bytes.
    const char *typed = dump->line_typed[offset / bytes_per_line];
    char digits[sizeof dump->line_typed[0]] = "", pairs[2 * sizeof dump->line_typed[0]];
    for (size_t k = 0; !typed[0] && k < static_cast<size_t>(count); k++)
        snprintf(digits + 2 * k, 3, "%02X", dump->bytes[offset + k]);
    format_pairs(typed[0] ? typed : digits, pairs, sizeof pairs);
    fprintf(dialogue(), "Typed before: %s\n", pairs);
    if (!seek_dump(dump, offset))
        return decode_write_error;
    return ask_line(dump, page, line, true, kept);
}

unsigned long unread_digits(const dump_file *dump)
{
    unsigned long unread = 0;
    for (size_t line = 0; line * bytes_per_line < dump->length; line++)
        unread += dump->line_unread[line];
    return unread;
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
