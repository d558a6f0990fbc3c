#include <cstdio>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "../common/text_encoding.h"
#include "line_editor.h"
#include "mend.h"

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

// The words the warnings name a line with are taken as well: "page 0, line 4", "last page,
// line 2", "page 3", "last page".
bool parse_line_choice(const char *answer, line_choice *choice)
{
    const int most_words = 4;
    const char *words[most_words];
    size_t lengths[most_words];
    int count = 0;
    const char *separators = " \t\r\n,";
    for (const char *at = answer + strspn(answer, separators); *at; at += strspn(at, separators)) {
        if (count == most_words)
            return false;
        words[count] = at;
        lengths[count] = strcspn(at, separators);
        at += lengths[count++];
    }
    *choice = {choice_keep, 0, 0};
    if (count == 0)
        return true;
    if (count == 2 && is_word(words[0], lengths[0], "last") && is_word(words[1], lengths[1], "line")) {
        choice->kind = choice_last_line;
        return true;
    }
    if (count == 1 && is_word(words[0], lengths[0], "header")) {
        choice->kind = choice_header;
        return true;
    }
    int at = 0;
    bool page_word = is_word(words[at], lengths[at], "page");
    at += page_word;
    if (at < count && !page_word && is_word(words[at], lengths[at], "last")) {
        choice->page = last_page;
        at++;
        at += at < count && is_word(words[at], lengths[at], "page");
    } else {
        choice->page = at < count ? line_number(words[at], lengths[at]) : -1;
        if (choice->page < 0)
            return false;
        at++;
    }
    if (at == count) {
        choice->kind = choice_page;
        return true;
    }
    at += is_word(words[at], lengths[at], "line");
    choice->kind = choice_line;
    choice->line = at < count ? line_number(words[at], lengths[at]) : -1;
    return at + 1 == count && choice->line >= 0;
}

static bool choice_exists(const page_layout *layout, const line_choice *choice)
{
    bool on_last_page = choice->page == last_page;
    int lines = on_last_page ? layout->remaining_lines : static_cast<int>(lines_per_page);
    bool page_exists = on_last_page ? layout->remaining_lines > 0 || layout->remaining_bytes > 0
                                    : choice->page < layout->page_max;
    switch (choice->kind) {
    case choice_page:
        return page_exists;
    case choice_line:
        return page_exists && choice->line < lines;
    case choice_last_line:
        return layout->remaining_bytes > 0;
    case choice_keep:
    case choice_header:
        break;
    }
    return true;
}

static const char *choice_name(const line_choice *choice)
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

static void write_unit(FILE *text, int unit, text_encoding encoding)
{
    if (encoding == text_utf16_big)
        fputc(unit >> 8 & 0xFF, text);
    fputc(unit & 0xFF, text);
    if (encoding == text_utf16_little)
        fputc(unit >> 8 & 0xFF, text);
}

static void write_units(FILE *text, const char *line_text, text_encoding encoding)
{
    for (const char *c = line_text; *c; c++)
        write_unit(text, static_cast<unsigned char>(*c), encoding);
}

// Copies the text at path to a new file beside it with line_text in place of line number (or,
// with number 0, after its last line), and puts that in its place; *lines receives how many
// lines it then holds.
static bool replace_text_line(const char *path, unsigned long number, const char *line_text,
                              unsigned long *lines = nullptr)
{
    FILE *text = open_file(path, "rb");
    if (!text)
        return false;
    text_encoding encoding = text_encoding_of(text);
    rewind(text);
    if (encoding == no_text)
        encoding = text_utf8;
    pending_output *mended = start_output(path);
    if (!mended) {
        fclose(text);
        return false;
    }
    int width = unit_width(encoding);
    unsigned long line = 1;
    bool carriage_return = false, crlf = false;
    int unit, last_unit = EOF;
    while ((unit = read_text_unit(text, encoding)) != EOF) {
        bool mark = unit == 0xFEFF && ftell(text) == width;
        last_unit = mark ? last_unit : unit;
        crlf = crlf || (carriage_return && unit == '\n');
        if (line != number || mark) {
            write_unit(mended->stream, unit, encoding);
        } else if (unit == '\n') {
            write_units(mended->stream, line_text, encoding);
            if (carriage_return)
                write_unit(mended->stream, '\r', encoding);
            write_unit(mended->stream, '\n', encoding);
        }
        carriage_return = unit == '\r';
        line += unit == '\n';
    }
    if (line == number) // the last line, with no line end
        write_units(mended->stream, line_text, encoding);
    if (number == 0) { // after the last line, ended as the text ends its lines
        if (last_unit != EOF && last_unit != '\n') {
            write_unit(mended->stream, '\n', encoding);
            line++;
        }
        write_units(mended->stream, line_text, encoding);
        if (crlf)
            write_unit(mended->stream, '\r', encoding);
        write_unit(mended->stream, '\n', encoding);
    }
    if (lines)
        *lines = line;
    bool read = !ferror(text);
    fclose(text);
    if (!read) {
        discard_output(mended);
        return false;
    }
    return finish_output(mended) && commit_output_and_go_on(mended);
}

// A text with a second hard link is left as it is, said once.
static bool text_may_change(const char *path, bool *links_warned)
{
    file_facts facts;
    if (!look_at(path, &facts) || facts.links <= 1)
        return true;
    if (!*links_warned)
        warn("Warning: '%s' is left as it was: it has %lu hard links, which a new file would split\n", path,
             facts.links);
    *links_warned = true;
    return false;
}

void mend_text_line(const char *path, unsigned long number, const char *pairs, bool *links_warned)
{
    if (number == 0 || !path[0] || !text_may_change(path, links_warned))
        return;
    if (!replace_text_line(path, number, pairs))
        warn("Warning: Couldn't write the line again into '%s'\n", path);
}

unsigned long add_text_line(const char *path, const char *pairs, bool *links_warned)
{
    unsigned long lines = 0;
    if (!path[0] || !text_may_change(path, links_warned))
        return 0;
    if (!replace_text_line(path, 0, pairs, &lines)) {
        warn("Warning: Couldn't add the line to '%s'\n", path);
        return 0;
    }
    return lines;
}

// Asks a line again, and puts it in its text too unless Enter kept it.
static decode_result again(dump_file *dump, mend *mending, int page, int line)
{
    bool kept = false;
    decode_result result = ask_line_again(dump, page, line, &kept);
    if (result != decode_complete || kept)
        return result;
    char pairs[384];
    format_pairs(transformed_buffer, pairs, sizeof pairs);
    size_t dump_line = line_offset(&dump->layout, page, line) / bytes_per_line;
    mend_text_line(mending->text_path, dump->line_sources[dump_line], pairs, &mending->links_warned);
    return decode_complete;
}

// Shows the page of the lines chosen, and asks each of them again in its place.
static decode_result ask_again(dump_file *dump, mend *mending, const line_choice *choice)
{
    const page_layout *layout = &dump->layout;
    if (choice->page == last_page)
        fputs(" -- Last page --\n", dialogue());
    else
        fprintf(dialogue(), " -- Page %d --\n", choice->page);
    if (choice->kind == choice_line)
        return again(dump, mending, choice->page, choice->line);
    if (choice->kind == choice_last_line)
        return again(dump, mending, last_page, layout->remaining_lines);
    int lines = choice->page == last_page ? layout->remaining_lines + (layout->remaining_bytes > 0)
                                          : static_cast<int>(lines_per_page);
    for (int line = 0; line < lines; line++) {
        decode_result result = again(dump, mending, choice->page, line);
        if (result != decode_complete)
            return result;
    }
    return decode_complete;
}

// The header typed again at the end: the dump is made again from the lines typed, under it,
// and the text changes with it: its header, the lines past the new end made blank (the last
// kept cut to its bytes), the lines missing asked and added. An unknown encoding ends the run.
static decode_result mend_header(dump_file *dump, mend *mending)
{
    bool kept = false;
    int encoding = 0;
    decode_result result = read_header("Type the header again, or Enter to keep the header: ", &dump->answered,
                                       dump->encodings_known, &encoding, &kept);
    if (result == decode_unknown_encoding)
        fail(status_no_encoding, "Unknown encoding (%d)\n", encoding);
    if (result != decode_complete || kept)
        return result;
    unsigned header_encoding = 0, size = 0;
    parse_plain_header(transformed_buffer, &header_encoding, &size);
    char pairs[384];
    format_pairs(transformed_buffer, pairs, sizeof pairs);
    snprintf(dump->answered.header, sizeof dump->answered.header, "%s", transformed_buffer);
    mend_text_line(mending->text_path, dump->header_source, pairs, &mending->links_warned);
    size_t typed = dump->length, kept_bytes = lay_out_again(dump, size, header_encoding);
    for (size_t line = kept_bytes / bytes_per_line; line * bytes_per_line < typed; line++) {
        format_pairs(dump->line_typed[line], pairs, sizeof pairs);
        mend_text_line(mending->text_path, dump->line_sources[line], pairs, &mending->links_warned);
        dump->line_sources[line] = pairs[0] ? dump->line_sources[line] : 0;
    }
    if ((kept_bytes < typed && !truncate_stream(dump->out, kept_bytes)) || !seek_dump(dump, kept_bytes))
        return decode_write_error;
    while (dump->length < size) {
        size_t line = dump->length / bytes_per_line;
        result = ask_next_line(dump);
        if (result != decode_complete)
            return result;
        format_pairs(transformed_buffer, pairs, sizeof pairs);
        dump->line_sources[line] = mending->text_path[0] ? add_text_line(mending->text_path, pairs,
                                                                          &mending->links_warned)
                                                         : 0;
    }
    return decode_complete;
}

// The check after a line was mended: true when both the size field and the checksum hold.
static bool save_check_holds(const dump_file *dump)
{
    bram_tally tally;
    tally_whole(&tally, dump->bytes, dump->length);
    if (size_field_holds(&tally) && checksum_holds(&tally)) {
        fputs("The size field and the checksum hold now\n", dialogue());
        return true;
    }
    char text[192];
    if (describe_save_mismatch(&tally, text, sizeof text))
        warn("%s", text);
    else if (describe_file_fault(&tally, text, sizeof text))
        warn("Warning: the dump %s\n", text);
    return false;
}

bool mend_at_terminal(dump_file *dump, mend *mending)
{
    fputs("To type a line again, name it as the prompts do: '3 12' is page 3, line 12;\n"
          "'last 2' is line 2 of the last page; 'last line' is the last line; a page\n"
          "alone ('3' or 'last') asks each of its lines in turn, and Enter there keeps\n"
          "a line as it was. The dump file and the text the line came from change with it.\n"
          "'header' asks the header again, and the dump is made again under it.\n",
          dialogue());
    for (;;) {
        char answer[256];
        discard_typed_ahead();
        if (ask_raw("Line to type again, or Enter to keep the dump: ", answer, sizeof answer) == 0)
            return false;
        line_choice choice;
        if (!parse_line_choice(answer, &choice)) {
            fprintf(dialogue(), "'%.*s' names no line: try '3 12', 'last 2', 'last line', '3', 'last' or 'header'\n",
                    static_cast<int>(strcspn(answer, "\r\n")), answer);
            continue;
        }
        if (choice.kind == choice_keep)
            return false;
        if (choice.kind == choice_header) {
            if (mend_header(dump, mending) != decode_complete)
                return false;
            if (save_check_holds(dump))
                return true;
            continue;
        }
        if (!choice_exists(&dump->layout, &choice)) {
            fprintf(dialogue(), "This dump has no %s\n", choice_name(&choice));
            continue;
        }
        decode_result result = ask_again(dump, mending, &choice);
        if (result != decode_complete)
            return false;
        if (save_check_holds(dump))
            return true;
    }
}
