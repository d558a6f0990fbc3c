#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bramtools.h"
#include "file_kinds.h"
#include "safe_files.h"
#include "text_encoding.h"

// The outputs under way: at most one product and one text being rewritten at a time.
static pending_output pending[2];

// Removes the new files that were not committed: the files they would replace stay as they were.
static void remove_unfinished_outputs()
{
    for (pending_output &output : pending)
        if (output.live) {
            remove_file(output.temporary); // forgotten only once gone: a signal between may remove it again
            output.live = 0;
        }
}

void start_safely(int *argc, char ***argv)
{
    start_system(argc, argv);
    add_ending_hook(remove_unfinished_outputs);
    atexit(remove_unfinished_outputs);
}

[[noreturn]] static void fail_to_look_at(const char *name)
{
    fail(status_file_refused, "Couldn't look at file '%s':", name);
}

bool look_at(const char *path, file_facts *facts)
{
    if (facts_of(path, facts))
        return true;
    if (errno != ENOENT && errno != ENOTDIR)
        fail_to_look_at(path);
    return false;
}

bool same_file(const file_facts *a, const file_facts *b)
{
    bool volumes_agree = a->volume == b->volume || !a->volume_known || !b->volume_known;
    return a->index == b->index && volumes_agree;
}

bool same_file_as_stream(const file_facts *facts, FILE *stream, const char *name)
{
    file_facts other;
    if (!facts_of_stream(stream, &other))
        fail_to_look_at(name);
    return same_file(facts, &other);
}

bool is_standard_stream(const file_facts *facts, int stream)
{
    static const char *const names[] = {"standard input", "standard output", "standard error"};
    file_facts other;
    if (!facts_of_standard_stream(stream, &other))
        fail(status_file_refused, "Couldn't look at %s:", names[stream]);
    return other.regular && same_file(facts, &other);
}

// The folder that holds path, and its last name.
static bool split_path(const char *path, char *folder, size_t size, const char **base)
{
    const char *separator = nullptr;
    for (const char *c = path; *c; c++)
        if (is_folder_separator(*c))
            separator = c;
    *base = separator ? separator + 1 : path;
    int length = separator ? snprintf(folder, size, "%.*s", static_cast<int>(separator - path + 1), path)
                           : snprintf(folder, size, ".");
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool same_place(const char *path, const char *other_path)
{
    file_facts a, b;
    bool a_exists = look_at(path, &a), b_exists = look_at(other_path, &b);
    if (a_exists || b_exists)
        return a_exists && b_exists && same_file(&a, &b);
    char folder[longest_path], other_folder[longest_path];
    const char *base, *other_base;
    return split_path(path, folder, sizeof folder, &base) &&
           split_path(other_path, other_folder, sizeof other_folder, &other_base) && strcmp(base, other_base) == 0 &&
           look_at(folder, &a) && look_at(other_folder, &b) && same_file(&a, &b);
}

void refuse_standard_streams(const file_facts *output, const char *name)
{
    if (is_standard_stream(output, 1))
        fail(status_file_refused, "Output file '%s' is also standard output\n", name);
    if (is_standard_stream(output, 2))
        fail(status_file_refused, "Output file '%s' is also standard error\n", name);
}

static void describe_split_links(const file_facts *facts, char *text, size_t size)
{
    snprintf(text, size, "it has %lu hard links, which a new file would split", facts->links);
}

[[noreturn]] static void fail_to_change(const char *name, const char *why)
{
    fail(status_file_refused, "Couldn't change '%s': %s\n", name, why);
}

void refuse_split_links(const file_facts *output, const char *name)
{
    if (!output->regular || output->links <= 1)
        return;
    char why[96];
    describe_split_links(output, why, sizeof why);
    fail_to_change(name, why);
}

bool holds_only_text(const char *path)
{
    FILE *stream = open_file(path, "rb");
    if (!stream) {
        if (errno == ENOENT)
            return false;
        fail_to_look_at(path);
    }
    text_encoding encoding = text_encoding_of(stream);
    if (ferror(stream))
        fail_to_look_at(path);
    fclose(stream);
    return encoding != no_text;
}

bool is_kept_kind(const char *path, const file_facts *facts, char *kind, size_t size)
{
    FILE *stream = open_file(path, "rb");
    if (!stream) {
        if (errno == ENOENT)
            return false;
        fail_to_look_at(path);
    }
    static unsigned char start[kind_bytes];
    size_t length = fread(start, 1, sizeof start, stream);
    if (ferror(stream))
        fail_to_look_at(path);
    fclose(stream);
    unsigned long long file_size = facts->regular ? facts->size : 0;
    const char *picture = picture_format(start, length, file_size);
    if (starts_image(start, length))
        snprintf(kind, size, "a backup memory image");
    else if (picture)
        snprintf(kind, size, "a picture (%s)", picture);
    return starts_image(start, length) || picture;
}

static pending_output *free_slot()
{
    pending_output *slot = pending;
    const pending_output *end = pending + sizeof pending / sizeof pending[0];
    while (slot < end && slot->in_use)
        slot++;
    if (slot == end)
        return nullptr;
    memset(slot, 0, sizeof *slot);
    slot->in_use = true;
    return slot;
}

static pending_output *start_replacement(pending_output *output, const char *path)
{
    if (!link_target(path, output->target, sizeof output->target)) {
        bool nowhere = errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG;
        if (!nowhere)
            fail_to_look_at(path); // not to be taken for a plain file
        return nullptr;
    }
    output->existed = look_at(output->target, &output->old);
    // The new file's name must fit beside any name a file system takes (255 bytes): a long
    // name is cut, at a character's start, to leave room for the suffix.
    const char suffix[] = ".unfinished-XXXXXX";
    const size_t longest_name = 255;
    size_t length_kept = strlen(output->target), base_start = length_kept;
    while (base_start > 0 && !is_folder_separator(output->target[base_start - 1]))
        base_start--;
    if (length_kept - base_start + sizeof suffix - 1 > longest_name) {
        length_kept = base_start + longest_name - (sizeof suffix - 1);
        while (length_kept > base_start && (static_cast<unsigned char>(output->target[length_kept]) & 0xC0) == 0x80)
            length_kept--;
    }
    int length = snprintf(output->temporary, sizeof output->temporary, "%.*s%s", static_cast<int>(length_kept),
                          output->target, suffix);
    if (length < 0 || static_cast<size_t>(length) >= sizeof output->temporary) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    // No signal may come between making the file and noting it for removal.
    hold_ending_signals(true);
    output->stream = create_temporary(output->temporary);
    output->live = output->stream != nullptr;
    hold_ending_signals(false);
    return output->stream ? output : nullptr;
}

pending_output *start_output(const char *path)
{
    pending_output *output = free_slot();
    if (!output)
        return nullptr;
    file_facts facts;
    bool exists = look_at(path, &facts);
    if (exists && facts.directory) {
        errno = EISDIR; // said alike on every system
    } else if (exists && !facts.regular) { // a device, named pipe or terminal: written straight through
        output->straight_through = true;
        output->stream = open_file(path, "wb");
    } else if (exists && (facts.write_protected || !may_write(path))) {
        errno = EACCES; // the user meant to keep it
    } else if (start_replacement(output, path)) {
        return output;
    }
    if (output->stream)
        return output;
    discard_output(output);
    return nullptr;
}

// The new file is gone and the target as it was; errno still says why.
void discard_output(pending_output *output)
{
    int reason = errno;
    if (output->stream) {
        fclose(output->stream);
        output->stream = nullptr;
    }
    if (output->live) {
        remove_file(output->temporary);
        output->live = 0;
    }
    output->in_use = false;
    errno = reason;
}

bool finish_output(pending_output *output)
{
    FILE *stream = output->stream;
    output->stream = nullptr;
    if (!stream) {
        discard_output(output);
        return false;
    }
    if (output->straight_through) {
        output->in_use = false;
        return close_written(stream);
    }
    bool group_kept = true;
    bool written = fflush(stream) == 0 && ferror(stream) == 0;
    written = written && keep_metadata(stream, output->existed ? &output->old : nullptr, &group_kept) &&
              sync_to_disk(stream);
    written = fclose(stream) == 0 && written;
    if (!written) {
        discard_output(output);
        return false;
    }
    if (!group_kept)
        warn("Warning: Couldn't keep the group of '%s':", output->target);
    return true;
}

static bool replace_target(pending_output *output, bool only_new = false)
{
    if (!output->in_use)
        return true; // written straight through
    bool placed = only_new ? place_as_new(output->temporary, output->target)
                           : replace_with(output->temporary, output->target);
    if (!placed) {
        discard_output(output);
        return false;
    }
    output->live = 0;
    output->in_use = false;
    char folder[longest_path];
    const char *base;
    if (split_path(output->target, folder, sizeof folder, &base))
        sync_folder(folder);
    return true;
}

bool commit_output(pending_output *output)
{
    hold_ending_signals(true); // never let through again: the run ends as it succeeded
    bool replaced = replace_target(output);
    if (!replaced)
        hold_ending_signals(false);
    return replaced;
}

bool commit_output_and_go_on(pending_output *output)
{
    hold_ending_signals(true);
    bool replaced = replace_target(output);
    hold_ending_signals(false);
    return replaced;
}

bool commit_new_output_and_go_on(pending_output *output)
{
    hold_ending_signals(true);
    bool placed = replace_target(output, true);
    hold_ending_signals(false);
    return placed;
}

void finish_output_or_fail(pending_output *output, int status, const char *name)
{
    if (!finish_output(output))
        fail_to_write(status, name);
}

void commit_output_or_fail(pending_output *output, int status, const char *name)
{
    if (!commit_output(output))
        fail_to_write(status, name);
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
    if (look_at(path, &facts)) {
        errno = ENOTDIR;
        return facts.directory;
    }
    return make_folder(path);
}

void refuse_unreplaceable(const char *path)
{
    file_facts facts;
    if (!look_at(path, &facts))
        return;
    if (!facts.regular)
        fail_to_change(path, "it is no regular file");
    refuse_split_links(&facts, path);
    if (facts.write_protected || !may_write(path))
        fail_to_change(path, "it is write-protected");
}

bool close_written(FILE *stream)
{
    bool write_failed = fflush(stream) != 0 || ferror(stream) != 0;
    return fclose(stream) == 0 && !write_failed;
}

void refuse_output(const char *path, const output_guard *guard)
{
    for (int k = 0; k < guard->input_count; k++)
        if (same_place(path, guard->inputs[k]))
            fail(guard->status, "Output file '%s' is also %s\n", path, guard->inputs_are);
    file_facts facts;
    if (!look_at(path, &facts))
        return;
    if (guard->reads_standard_input && is_standard_stream(&facts, 0))
        fail(guard->status, "Output file '%s' is also %s\n", path, guard->inputs_are);
    refuse_standard_streams(&facts, path);
    char words[160];
    if (facts.regular && guard->holds_refused && guard->holds_refused(path, &facts, words, sizeof words))
        fail(guard->status, "Output file '%s' %s\n", path, words);
    refuse_split_links(&facts, path);
}

pending_output *start_output_or_fail(const char *path, int status)
{
    pending_output *out = start_output(path);
    if (!out)
        fail_to_open_for_output(status, path);
    return out;
}
