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
#include "../common/text_encoding.h"
#include "dumpentry.h"
#include "line_editor.h"
#include "plain.h"

static char transcript_name[longest_path + 8];
static FILE *transcript;                 // appended to, a line at a time
static unsigned long transcript_lines;   // complete lines in it
static char header_pairs[256];           // the header as the transcript holds it
static unsigned long header_line;        // the transcript's line that holds it
static char text_path[longest_path + 8]; // the text the lines came from, mended in place
static char where_kept[2 * longest_path + 96]; // says where the typing is kept and how to go on
static char ending_note[sizeof where_kept + 1]; // the same on a fresh line, for an ending signal

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

// How many lines of the file hold a letter or digit, the first of them (the header) and its
// repeats not counted, and the last of them.
static unsigned long typed_lines(FILE *stream, char *last, size_t size)
{
    char raw[256], filtered[256], header[256] = "";
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
            if (!header[0])
                snprintf(header, sizeof header, "%s", filtered);
            else if (strcasecmp(filtered, header) != 0)
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
        discard_typed_ahead();
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
    if (!last[0])
        return; // nothing typed in it: it counts as none
    if (count == 0)
        fprintf(dialogue, "'%s' keeps what was typed before: the header '%s'\n", transcript_name, last);
    else
        fprintf(dialogue, "'%s' keeps what was typed before: %lu line%s, the last one '%s'\n", transcript_name,
                count, count == 1 ? "" : "s", last);
    if (!ask_yes_or_no("Go on from there? [Y/n] "))
        fail(1, "Nothing was changed. To start again, move '%s' away, then run dumpentry again\n", transcript_name);
    going_on = switch_input(transcript_name);
}

static void write_ending_note()
{
    write_at_once(dialogue == stderr ? 2 : 1, ending_note, strlen(ending_note));
}

void say_where_typing_is_kept_on_ending()
{
    snprintf(ending_note, sizeof ending_note, "\n");
    add_ending_hook(write_ending_note);
}

const char *where_typing_is_kept()
{
    return where_kept;
}

void start_transcript(const char *output_name)
{
    file_facts facts;
    if (!standard_input_is_terminal() || (look_at(output_name, &facts) && !facts.regular))
        return;
    snprintf(transcript_name, sizeof transcript_name, "%s.txt", output_name);
    if (look_at(transcript_name, &facts)) {
        if (!facts.regular) {
            warn("Warning: Couldn't keep what you type in '%s': it is no regular file; the dump goes on without it\n",
                 transcript_name);
            return;
        }
        offer_to_go_on();
    }
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
    snprintf(where_kept, sizeof where_kept, "The lines typed are kept in '%s': run 'dumpentry %s' again to go on\n",
             transcript_name, output_name);
    snprintf(ending_note, sizeof ending_note, "\n%s", where_kept);
    fprintf(dialogue, "What you type is kept in '%s'\n", transcript_name);
}

void note_input_text(const char *path)
{
    snprintf(text_path, sizeof text_path, "%s", path);
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

void keep_typed_header(const char *filtered, unsigned long text_line)
{
    format_pairs(filtered, header_pairs, sizeof header_pairs);
    header_line = text_line;
    if (transcript && !in)
        header_line = keep_in_transcript(header_pairs);
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

static int read_unit(FILE *text, text_encoding encoding)
{
    int low = getc(text);
    if (unit_width(encoding) == 1 || low == EOF)
        return low;
    int high = getc(text);
    if (high == EOF)
        return EOF;
    return encoding == text_utf16_big ? low << 8 | high : high << 8 | low;
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

// Puts line_text in place of line number (from 1) of the text at path, in the text's own
// encoding and keeping its line end; every other byte stays. The text is replaced whole.
static bool replace_text_line(const char *path, unsigned long number, const char *line_text)
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
    bool carriage_return = false;
    int unit;
    while ((unit = read_unit(text, encoding)) != EOF) {
        bool mark = unit == 0xFEFF && ftell(text) == width;
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

void retake_typed_header(const char *filtered)
{
    format_pairs(filtered, header_pairs, sizeof header_pairs);
    if (!transcript)
        return;
    fclose(transcript); // it is replaced whole, then appended to again
    mend_text_line(header_line, filtered);
    transcript = open_file(transcript_name, "ab");
}

// The check after a line was mended: true when both the size field and the checksum hold.
static bool save_check_holds()
{
    bram_tally tally;
    tally_whole(&tally, dump_bytes, dump_length);
    if (size_field_holds(&tally) && checksum_holds(&tally)) {
        fputs("The size field and the checksum hold now\n", dialogue);
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
    if (transcript) {
        fclose(transcript); // from now on it is mended in place, not appended to
        transcript = nullptr;
    }
    mending = true;
    fputs("To type a line again, name it as the prompts do: '3 12' is page 3, line 12;\n"
          "'last 2' is line 2 of the last page; 'last line' is the last line; a page\n"
          "alone ('3' or 'last') asks each of its lines in turn, and Enter there keeps\n"
          "a line as it was. The dump file and the text the line came from change with it.\n",
          dialogue);
    for (;;) {
        char answer[256];
        discard_typed_ahead();
        if (ask_raw("Line to type again, or Enter to keep the dump: ", answer, sizeof answer) == 0)
            return false;
        line_choice choice;
        if (!parse_line_choice(answer, &choice)) {
            fprintf(dialogue, "'%.*s' names no line: try '3 12', 'last 2', 'last line', '3' or 'last'\n",
                    static_cast<int>(strcspn(answer, "\r\n")), answer);
            continue;
        }
        if (choice.kind == choice_keep)
            return false;
        if (!choice_exists(&choice)) {
            fprintf(dialogue, "This dump has no %s\n", choice_name(&choice));
            continue;
        }
        decode_result result = ask_again(out, &choice);
        if (result != decode_complete)
            return false;
        if (save_check_holds())
            return true;
    }
}
