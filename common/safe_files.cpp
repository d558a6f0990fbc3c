#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bramtools.h"
#include "safe_files.h"

// The outputs being written through a temporary file (the dump, and a text being mended): a
// failed or interrupted run removes their temporary files, so the files they would replace
// stay as they were.
struct pending_output {
    volatile sig_atomic_t live;
    FILE *stream;
    char temporary[longest_path + 32];
    char target[longest_path];
    file_facts old;
    bool existed;
};
static pending_output pending[2];
static void (*restore_on_signal)();

static void remove_unfinished_outputs()
{
    for (pending_output &output : pending)
        if (output.live) {
            output.live = 0;
            remove_file(output.temporary);
        }
}

static void end_now()
{
    remove_unfinished_outputs();
    if (restore_on_signal)
        restore_on_signal();
}

void on_ending_signal(void (*restore)())
{
    restore_on_signal = restore;
}

void start_safely(int *argc, char ***argv)
{
    start_system(argc, argv, end_now);
    atexit(remove_unfinished_outputs);
}

bool same_file(const file_facts *a, const file_facts *b)
{
    bool volumes_agree = a->volume == b->volume || !a->volume_known || !b->volume_known;
    return a->index == b->index && volumes_agree;
}

bool same_file_as_stream(const file_facts *facts, FILE *stream)
{
    file_facts other;
    return facts_of_stream(stream, &other) && same_file(facts, &other);
}

bool is_standard_stream(const file_facts *facts, int stream)
{
    file_facts other;
    return facts_of_standard_stream(stream, &other) && other.regular && same_file(facts, &other);
}

// The folder that holds path, and its last name.
static bool split_path(const char *path, char *folder, size_t size, const char **base)
{
    const char *slash = strrchr(path, '/');
    const char *backslash = names_ignore_case() ? strrchr(path, '\\') : nullptr;
    if (backslash && (!slash || backslash > slash))
        slash = backslash;
    *base = slash ? slash + 1 : path;
    int length = slash ? snprintf(folder, size, "%.*s", static_cast<int>(slash - path + 1), path)
                       : snprintf(folder, size, ".");
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool same_place(const char *path, const char *other_path)
{
    file_facts a, b;
    bool a_exists = facts_of(path, &a), b_exists = facts_of(other_path, &b);
    if (a_exists || b_exists)
        return a_exists && b_exists && same_file(&a, &b);
    char folder[longest_path], other_folder[longest_path];
    const char *base, *other_base;
    return split_path(path, folder, sizeof folder, &base) &&
           split_path(other_path, other_folder, sizeof other_folder, &other_base) && strcmp(base, other_base) == 0 &&
           facts_of(folder, &a) && facts_of(other_folder, &b) && same_file(&a, &b);
}

void refuse_standard_streams(const file_facts *output, const char *name)
{
    if (is_standard_stream(output, 1))
        fail(1, "Output file '%s' is also standard output\n", name);
    if (is_standard_stream(output, 2))
        fail(1, "Output file '%s' is also standard error\n", name);
}

void text_start(text_reading *reading)
{
    memset(reading, 0, sizeof *reading);
    reading->utf8 = reading->little = reading->big = true;
}

static bool printable(unsigned long code)
{
    if (code < 0x20)
        return code >= '\t' && code <= '\r'; // tab, LF, VT, FF, CR
    bool control = code >= 0x7F && code <= 0x9F;
    bool noncharacter = (code & 0xFFFE) == 0xFFFE || (code >= 0xFDD0 && code <= 0xFDEF);
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return !control && !noncharacter && !surrogate && code <= 0x10FFFF;
}

static void utf8_add(text_reading *reading, unsigned char c)
{
    if (reading->utf8_pending > 0) {
        reading->utf8 = (c & 0xC0) == 0x80;
        reading->utf8_code = reading->utf8_code << 6 | (c & 0x3F);
        if (--reading->utf8_pending == 0)
            reading->utf8 = reading->utf8_code >= reading->utf8_least && printable(reading->utf8_code);
        return;
    }
    static const struct {
        unsigned char first, last, continuations;
        unsigned long least;
    } leads[] = {{0x00, 0x7F, 0, 0}, {0xC2, 0xDF, 1, 0x80}, {0xE0, 0xEF, 2, 0x800}, {0xF0, 0xF4, 3, 0x10000}};
    for (const auto &lead : leads) {
        if (c < lead.first || c > lead.last)
            continue;
        reading->utf8_pending = lead.continuations;
        reading->utf8_least = lead.least;
        reading->utf8_code = c & (0x7F >> lead.continuations);
        if (lead.continuations == 0)
            reading->utf8 = printable(c);
        return;
    }
    reading->utf8 = false;
}

// One UTF-16 code unit of one byte order; the byte order mark is let through.
static bool utf16_add(unsigned unit, unsigned *high, unsigned long *ascii)
{
    if (*high) {
        unsigned long code = 0x10000 + ((*high - 0xD800UL) << 10) + (unit - 0xDC00UL);
        bool paired = unit >= 0xDC00 && unit <= 0xDFFF;
        *high = 0;
        return paired && printable(code);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        *high = unit;
        return true;
    }
    *ascii += unit < 0x80;
    return unit == 0xFEFF || printable(unit);
}

void text_add(text_reading *reading, const unsigned char *bytes, size_t count)
{
    for (size_t k = 0; k < count && (reading->utf8 || reading->little || reading->big); k++) {
        unsigned char c = bytes[k];
        if (reading->utf8)
            utf8_add(reading, c);
        reading->unit[reading->length % 2] = c;
        reading->length++;
        if (reading->length % 2 != 0)
            continue;
        unsigned little_unit = reading->unit[0] | static_cast<unsigned>(reading->unit[1]) << 8;
        unsigned big_unit = reading->unit[1] | static_cast<unsigned>(reading->unit[0]) << 8;
        bool mark = reading->length == 2 && (little_unit == 0xFEFF || big_unit == 0xFEFF);
        reading->units += !mark;
        reading->little = reading->little && utf16_add(little_unit, &reading->little_high, &reading->little_ascii);
        reading->big = reading->big && utf16_add(big_unit, &reading->big_high, &reading->big_ascii);
    }
}

// A typed dump is hex digits, spaces and line ends: in UTF-16 most of its characters are
// ASCII, which random bytes read as UTF-16 almost never are.
bool text_verdict(const text_reading *reading)
{
    if (reading->length == 0)
        return false;
    if (reading->utf8 && reading->utf8_pending == 0)
        return true;
    bool whole_units = reading->length % 2 == 0 && reading->units > 0;
    bool little = reading->little && !reading->little_high && reading->little_ascii * 2 >= reading->units;
    bool big = reading->big && !reading->big_high && reading->big_ascii * 2 >= reading->units;
    return whole_units && (little || big);
}

bool holds_only_text(const char *path)
{
    FILE *stream = open_file(path, "rb");
    if (!stream)
        return false;
    static unsigned char block[1 << 16];
    text_reading reading;
    text_start(&reading);
    size_t count;
    while ((count = fread(block, 1, sizeof block, stream)) > 0)
        text_add(&reading, block, count);
    bool read = !ferror(stream);
    fclose(stream);
    return read && text_verdict(&reading);
}

static FILE *start_replacement(const char *path)
{
    pending_output *output = nullptr;
    for (pending_output &free_slot : pending)
        if (!free_slot.live && !output)
            output = &free_slot;
    if (!output || !link_target(path, output->target, sizeof output->target))
        return nullptr;
    output->existed = facts_of(output->target, &output->old);
    int length = snprintf(output->temporary, sizeof output->temporary, "%s.unfinished-XXXXXX", output->target);
    if (length < 0 || static_cast<size_t>(length) >= sizeof output->temporary)
        return nullptr;
    // No signal may come between making the file and noting it for removal.
    hold_ending_signals(true);
    output->stream = create_temporary(output->temporary);
    output->live = output->stream != nullptr;
    hold_ending_signals(false);
    return output->stream;
}

FILE *start_output(const char *path)
{
    file_facts facts;
    bool exists = facts_of(path, &facts);
    if (exists && !facts.regular)
        return open_file(path, "wb"); // a device, named pipe or terminal: written straight through
    if (exists && !may_write(path))
        return nullptr; // write-protected: the user meant to keep it
    return start_replacement(path);
}

bool lock_folder_of(const char *path)
{
    char target[longest_path], folder[longest_path];
    const char *base;
    return link_target(path, target, sizeof target) && split_path(target, folder, sizeof folder, &base) &&
           lock_folder(folder);
}

bool make_folder_if_missing(const char *path)
{
    file_facts facts;
    if (facts_of(path, &facts)) {
        errno = ENOTDIR;
        return facts.directory;
    }
    return make_folder(path);
}

bool describe_unreplaceable(const char *path, char *text, size_t size)
{
    file_facts facts;
    if (!facts_of(path, &facts))
        return false;
    if (!facts.regular)
        snprintf(text, size, "it is no regular file");
    else if (facts.links > 1)
        snprintf(text, size, "it has %lu hard links, which a new file would split", facts.links);
    else if (!may_write(path))
        snprintf(text, size, "it is write-protected");
    else
        return false;
    return true;
}

bool finish_output(FILE *stream)
{
    pending_output *output = nullptr;
    for (pending_output &slot : pending)
        if (slot.live && slot.stream == stream)
            output = &slot;
    if (!output)
        return close_written(stream);
    bool written = fflush(stream) == 0 && ferror(stream) == 0;
    written = written && keep_metadata(stream, output->existed ? &output->old : nullptr) && sync_to_disk(stream);
    written = fclose(stream) == 0 && written;
    if (!written || !replace_with(output->temporary, output->target)) {
        int reason = errno;
        output->live = 0;
        remove_file(output->temporary);
        errno = reason;
        return false;
    }
    output->live = 0;
    char folder[longest_path];
    const char *base;
    if (split_path(output->target, folder, sizeof folder, &base))
        sync_folder(folder);
    return true;
}

void finish_output_or_fail(FILE *stream, int status, const char *name)
{
    if (!finish_output(stream))
        fail(status, "Couldn't write file '%s'\n", name);
}

bool close_written(FILE *stream)
{
    bool write_failed = fflush(stream) != 0 || ferror(stream) != 0;
    return fclose(stream) == 0 && !write_failed;
}
