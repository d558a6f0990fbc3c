#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "line_editor.h"
#include "mend.h"
#include "transcript.h"

// What an ending signal at the terminal writes: a line end, and where the typing is kept.
static char ending_note[2 * longest_path + 128] = "\n";

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
static void offer_to_go_on(const transcript *kept)
{
    FILE *earlier = open_file(kept->name, "rb");
    if (!earlier)
        return;
    char last[256];
    unsigned long count = typed_lines(earlier, last, sizeof last);
    fclose(earlier);
    if (!last[0])
        return; // nothing typed in it: it counts as none
    if (count == 0)
        fprintf(dialogue(), "'%s' keeps what was typed before: the header '%s'\n", kept->name, last);
    else
        fprintf(dialogue(), "'%s' keeps what was typed before: %lu line%s, the last one '%s'\n", kept->name, count,
                count == 1 ? "" : "s", last);
    if (!ask_yes_or_no("Go on from there? [Y/n] "))
        fail(status_output_failed, "Nothing was changed. To start again, move '%s' away, then run dumpentry again\n",
             kept->name);
    go_on_from(kept->name);
}

static void write_ending_note()
{
    write_at_once(dialogue() == stderr ? 2 : 1, ending_note, strlen(ending_note));
}

void say_where_typing_is_kept_on_ending()
{
    add_ending_hook(write_ending_note);
}

const char *where_typing_is_kept(const transcript *kept)
{
    return kept->stream ? ending_note + 1 : "";
}

// Opens it to append to, after a line cut off when the last session ended.
static bool open_to_append(transcript *kept)
{
    kept->stream = open_file(kept->name, "a+b");
    if (!kept->stream)
        return false;
    rewind(kept->stream);
    kept->lines = lines_in(kept->stream);
    bool cut_off = ftell(kept->stream) > 0 && fseek(kept->stream, -1, SEEK_END) == 0 && getc(kept->stream) != '\n';
    fseek(kept->stream, 0, SEEK_END);
    if (cut_off) {
        fputc('\n', kept->stream);
        kept->lines++;
    }
    fflush(kept->stream);
    return true;
}

void start_transcript(transcript *kept, const char *output_name)
{
    file_facts facts;
    if (!standard_input_is_terminal() || (look_at(output_name, &facts) && !facts.regular))
        return;
    snprintf(kept->name, sizeof kept->name, "%s.txt", output_name);
    snprintf(kept->output_name, sizeof kept->output_name, "%s", output_name);
    if (look_at(kept->name, &facts)) {
        if (!facts.regular) {
            warn("Warning: Couldn't keep what you type in '%s': it is no regular file; the dump goes on without it\n",
                 kept->name);
            return;
        }
        offer_to_go_on(kept);
    }
    if (!open_to_append(kept)) {
        warn("Warning: Couldn't keep what you type in '%s': %s; the dump goes on without it\n", kept->name,
             strerror(errno));
        return;
    }
    snprintf(ending_note, sizeof ending_note, "\nThe lines typed are kept in '%s': run 'dumpentry %s' again to go on\n",
             kept->name, output_name);
    fprintf(dialogue(), "What you type is kept in '%s'\n", kept->name);
}

// Writes one line and flushes it, so that a killed process loses at most the line being typed;
// synced to disk too while the user types, not on every line of a paste.
static unsigned long keep_in_transcript(transcript *kept, const char *text)
{
    fprintf(kept->stream, "%s\n", text);
    fflush(kept->stream);
    if (!input_waiting())
        sync_to_disk(kept->stream);
    if (ferror(kept->stream)) {
        warn("Warning: Couldn't write '%s'; the dump goes on without it\n", kept->name);
        stop_keeping(kept);
        return 0;
    }
    return ++kept->lines;
}

// A header typed again takes the first one's place in the transcript, which is replaced whole
// and then appended to again.
static void retake_header(transcript *kept, const char *pairs)
{
    snprintf(kept->header_pairs, sizeof kept->header_pairs, "%s", pairs);
    if (!kept->stream)
        return;
    stop_keeping(kept);
    mend_text_line(kept->name, kept->header_line, pairs, &kept->links_warned);
    kept->stream = open_file(kept->name, "ab");
}

unsigned long keep_typed(transcript *kept, const char *answer, typed_kind kind, unsigned long text_line)
{
    char pairs[384];
    format_pairs(answer, pairs, sizeof pairs);
    if (kind == typed_header_again) {
        retake_header(kept, pairs);
        return 0;
    }
    if (kind == typed_header) {
        snprintf(kept->header_pairs, sizeof kept->header_pairs, "%s", pairs);
        kept->header_line = text_line;
    }
    if (reading_a_text() || !kept->stream)
        return text_line; // read from a text: it stands there already
    if (kind == typed_page_start && (!keep_in_transcript(kept, "") || !keep_in_transcript(kept, kept->header_pairs)))
        return 0;
    if (!kept->stream)
        return 0;
    unsigned long line = keep_in_transcript(kept, pairs);
    if (kind == typed_header)
        kept->header_line = line;
    return line;
}

void stop_keeping(transcript *kept)
{
    if (kept->stream)
        fclose(kept->stream);
    kept->stream = nullptr;
}
