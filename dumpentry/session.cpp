// A long session at the terminal: what is typed is kept in a transcript beside the dump file,
// a session that stopped goes on from it, and a line that spoils the save's check is typed
// again where it stands, in the dump and in the text it came from.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "../common/system.h"
#include "dumpentry.h"
#include "line_editor.h"
#include "plain.h"

static char transcript_name[longest_path + 8];
static FILE *transcript;                 // appended to, a line at a time
static unsigned long transcript_lines;   // complete lines in it
static bool reading_transcript;          // in is the transcript, read before the prompts go on
static char header_pairs[256];           // the header as the transcript holds it
static char text_path[longest_path + 8];     // the text the lines came from, mended in place

void format_pairs(const char *filtered, char *text, size_t size)
{
    size_t used = 0;
    for (size_t k = 0; filtered[k]; k++) {
        bool space = k > 0 && k % 2 == 0;
        if (used + space + 1 >= size)
            break;
        if (space)
            text[used++] = ' ';
        char c = filtered[k];
        text[used++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    text[used] = '\0';
}

// How many lines of the file hold a letter or digit, and the last of them.
static unsigned long typed_lines(FILE *stream, char *last, size_t size)
{
    char raw[256], filtered[256];
    unsigned long count = 0;
    size_t length = 0;
    last[0] = '\0';
    for (int c = getc(stream);; c = getc(stream)) {
        if (c != EOF && c != '\n') {
            if (length < sizeof raw - 1)
                raw[length++] = static_cast<char>(c);
            continue;
        }
        if (filter_line(raw, length, filtered) > 0) {
            count++;
            format_pairs(filtered, last, size);
        }
        length = 0;
        if (c == EOF)
            return count;
    }
}

static unsigned long lines_in(FILE *stream)
{
    unsigned long count = 0;
    int c;
    while ((c = getc(stream)) != EOF)
        count += c == '\n';
    return count;
}

// y, yes or Enter: true; n or no: false; asked again otherwise. The end of input is a no.
static bool ask_yes_or_no(const char *prompt)
{
    for (;;) {
        char raw[256], answer[256];
        if (ask_raw(prompt, raw, sizeof raw) == 0)
            return false;
        filter_line(raw, strlen(raw), answer);
        if (!answer[0] || strcasecmp(answer, "y") == 0 || strcasecmp(answer, "yes") == 0)
            return true;
        if (strcasecmp(answer, "n") == 0 || strcasecmp(answer, "no") == 0)
            return false;
    }
}

// Offers to go on from a transcript that holds what was typed before; ends the run when the
// user says no.
static void offer_to_go_on()
{
    FILE *earlier = open_file(transcript_name, "rb");
    if (!earlier)
        return;
    char last[256];
    unsigned long count = typed_lines(earlier, last, sizeof last);
    fclose(earlier);
    if (count == 0)
        return; // nothing typed in it: it counts as none
    printf("'%s' keeps what was typed before: %lu line%s, the last one '%s'\n", transcript_name, count,
           count == 1 ? "" : "s", last);
    if (!ask_yes_or_no("Go on from there? [Y/n] "))
        fail(1, "Nothing was changed. To start again, move '%s' away, then run dumpentry again\n", transcript_name);
    in = open_file(transcript_name, "rb");
    in_name = transcript_name;
    reading_transcript = in != nullptr;
}

void start_transcript(const char *output_name)
{
    file_facts facts;
    if (!standard_input_is_terminal() || (look_at(output_name, &facts) && !facts.regular))
        return;
    snprintf(transcript_name, sizeof transcript_name, "%s.txt", output_name);
    if (look_at(transcript_name, &facts) && facts.regular)
        offer_to_go_on();
    transcript = open_file(transcript_name, "a+b");
    if (!transcript) {
        warn("Warning: Couldn't keep what you type in '%s': %s; the dump goes on without it\n", transcript_name,
             strerror(errno));
        return;
    }
    rewind(transcript);
    transcript_lines = lines_in(transcript);
    bool cut_off = ftell(transcript) > 0 && fseek(transcript, -1, SEEK_END) == 0 && getc(transcript) != '\n';
    fseek(transcript, 0, SEEK_END);
    if (cut_off) {
        fputc('\n', transcript); // a line cut off when the last session ended
        transcript_lines++;
    }
    fflush(transcript);
    snprintf(text_path, sizeof text_path, "%s", transcript_name);
    printf("What you type is kept in '%s'\n", transcript_name);
}

void note_input_text(const char *path)
{
    snprintf(text_path, sizeof text_path, "%s", path);
}

void go_on_at_terminal_after_transcript()
{
    if (!reading_transcript)
        return;
    int c = getc(in);
    if (c != EOF) {
        ungetc(c, in);
        return;
    }
    fclose(in);
    in = nullptr;
    reading_transcript = false;
}

// Writes one line and flushes it, so that a killed process loses at most the line being typed;
// synced to disk too while the user types, not on every line of a paste.
static unsigned long keep_in_transcript(const char *text)
{
    fprintf(transcript, "%s\n", text);
    fflush(transcript);
    if (!input_waiting())
        sync_to_disk(transcript);
    if (ferror(transcript)) {
        warn("Warning: Couldn't write '%s'; the dump goes on without it\n", transcript_name);
        fclose(transcript);
        transcript = nullptr;
        return 0;
    }
    return ++transcript_lines;
}

void keep_typed_header(const char *filtered)
{
    format_pairs(filtered, header_pairs, sizeof header_pairs);
    if (transcript && !in)
        keep_in_transcript(header_pairs);
}

unsigned long keep_typed_line(const char *filtered, bool page_break)
{
    if (!transcript || mending)
        return 0;
    if (page_break && (!keep_in_transcript("") || !keep_in_transcript(header_pairs)))
        return 0;
    if (!transcript)
        return 0;
    char pairs[384];
    format_pairs(filtered, pairs, sizeof pairs);
    return keep_in_transcript(pairs);
}

// The width and byte order of the text's characters: UTF-16 when it starts with a byte order
// mark or with a NUL in one half of its first character.
static int text_unit_width(FILE *text, bool *big_endian)
{
    int first = getc(text), second = getc(text);
    rewind(text);
    *big_endian = (first == 0xFE && second == 0xFF) || (first == 0 && second > 0);
    bool little = (first == 0xFF && second == 0xFE) || (first > 0 && second == 0);
    return *big_endian || little ? 2 : 1;
}

static int read_unit(FILE *text, int width, bool big_endian)
{
    int low = getc(text);
    if (width == 1 || low == EOF)
        return low;
    int high = getc(text);
    if (high == EOF)
        return EOF;
    return big_endian ? low << 8 | high : high << 8 | low;
}

static void write_unit(FILE *text, int unit, int width, bool big_endian)
{
    if (width == 2 && big_endian)
        fputc(unit >> 8 & 0xFF, text);
    fputc(unit & 0xFF, text);
    if (width == 2 && !big_endian)
        fputc(unit >> 8 & 0xFF, text);
}

// Puts line_text in place of line number (from 1) of the text at path, in the text's own
// encoding and keeping its line end; every other byte stays. The text is replaced whole.
static bool replace_text_line(const char *path, unsigned long number, const char *line_text)
{
    FILE *text = open_file(path, "rb");
    if (!text)
        return false;
    pending_output *mended = start_output(path);
    if (!mended) {
        fclose(text);
        return false;
    }
    bool big_endian = false;
    int width = text_unit_width(text, &big_endian);
    unsigned long line = 1;
    bool carriage_return = false;
    int unit;
    while ((unit = read_unit(text, width, big_endian)) != EOF) {
        bool mark = unit == 0xFEFF && ftell(text) == width;
        if (line != number || mark) {
            write_unit(mended->stream, unit, width, big_endian);
        } else if (unit == '\n') {
            for (const char *c = line_text; *c; c++)
                write_unit(mended->stream, static_cast<unsigned char>(*c), width, big_endian);
            if (carriage_return)
                write_unit(mended->stream, '\r', width, big_endian);
            write_unit(mended->stream, '\n', width, big_endian);
        }
        carriage_return = unit == '\r';
        line += unit == '\n';
    }
    if (line == number) { // the last line, with no line end
        for (const char *c = line_text; *c; c++)
            write_unit(mended->stream, static_cast<unsigned char>(*c), width, big_endian);
    }
    bool read = !ferror(text);
    fclose(text);
    if (!read) {
        discard_output(mended);
        return false;
    }
    return finish_output(mended) && commit_output_and_go_on(mended);
}

// A text with a second hard link is left as it is: a new file would split the links.
static bool text_may_be_mended()
{
    static bool warned;
    file_facts facts;
    if (!look_at(text_path, &facts) || facts.links <= 1)
        return true;
    if (!warned)
        warn("Warning: '%s' is left as it was: it has %lu hard links, which a new file would split\n", text_path,
             facts.links);
    warned = true;
    return false;
}

void mend_text_line(unsigned long number, const char *filtered)
{
    if (number == 0 || !text_path[0] || !text_may_be_mended())
        return;
    char pairs[384];
    format_pairs(filtered, pairs, sizeof pairs);
    if (!replace_text_line(text_path, number, pairs))
        warn("Warning: Couldn't write the line again into '%s'\n", text_path);
}

// The check after a line was mended: true when both the size field and the checksum hold.
static bool save_check_holds()
{
    bram_tally tally;
    tally_whole(&tally, dump_bytes, dump_length);
    if (size_field_holds(&tally) && checksum_holds(&tally)) {
        puts("The size field and the checksum hold now");
        return true;
    }
    char text[192];
    if (describe_save_mismatch(&tally, text, sizeof text))
        warn("%s", text);
    else if (describe_file_fault(&tally, text, sizeof text))
        warn("Warning: the dump %s\n", text);
    return false;
}

bool mend_at_terminal(FILE *out)
{
    if (in) {
        fclose(in);
        in = nullptr;
    }
    if (transcript) {
        fclose(transcript); // from now on it is mended in place, not appended to
        transcript = nullptr;
    }
    mending = true;
    puts("To type a line again, name it as the prompts do: '3 12' is page 3, line 12; 'last 2' is line 2\n"
         "of the last page; 'last line' is the last line; a page alone ('3' or 'last') asks each of its\n"
         "lines in turn. The dump file and the text the line came from change with it.");
    for (;;) {
        char answer[256];
        if (ask_raw("Line to type again, or Enter to keep the dump: ", answer, sizeof answer) == 0)
            return false;
        line_choice choice;
        if (!parse_line_choice(answer, &choice)) {
            printf("'%.*s' names no line: try '3 12', 'last 2', 'last line', '3' or 'last'\n",
                   static_cast<int>(strcspn(answer, "\r\n")), answer);
            continue;
        }
        if (choice.kind == choice_keep)
            return false;
        if (!choice_exists(&choice)) {
            printf("This dump has no %s\n", choice_name(&choice));
            continue;
        }
        decode_result result = ask_again(out, &choice);
        if (result != decode_complete)
            return false;
        if (save_check_holds())
            return true;
    }
}
