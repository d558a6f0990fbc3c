#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bramtools.h"
#include "safe_files.h"

// The outputs being written through a temporary file (the dump, and a text being mended): a
// failed or interrupted run removes their temporary files, so the files they would replace
// stay as they were.
struct pending_output {
    volatile sig_atomic_t live;
    FILE *stream;
    char temporary[PATH_MAX + 32];
    char target[PATH_MAX];
    struct stat old;
    bool existed;
};
static pending_output pending[2];
static void (*restore_on_signal)();

static void remove_unfinished_outputs()
{
    for (pending_output &output : pending)
        if (output.live) {
            unlink(output.temporary);
            output.live = 0;
        }
}

static void end_on_signal(int signal_number)
{
    for (const pending_output &output : pending)
        if (output.live)
            unlink(output.temporary);
    if (restore_on_signal)
        restore_on_signal();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void on_ending_signal(void (*restore)())
{
    restore_on_signal = restore;
}

static void remove_output_on(int signal_number)
{
    struct sigaction old;
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return; // run under nohup: the signal stays ignored
    struct sigaction action {};
    action.sa_handler = end_on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

void start_safely()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int opened = open("/dev/null", O_RDWR);
        if (opened != fd)
            fail(1, "Couldn't open /dev/null for a closed standard stream\n"); // nothing sound to print on
    }
    signal(SIGPIPE, SIG_IGN);
    remove_output_on(SIGINT);
    remove_output_on(SIGTERM);
    remove_output_on(SIGHUP);
    atexit(remove_unfinished_outputs);
}

bool look_at(const char *path, struct stat *st)
{
    return stat(path, st) == 0;
}

bool same_file(const struct stat *a, const struct stat *b)
{
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino;
}

bool same_file_as_descriptor(const struct stat *st, int fd)
{
    struct stat other;
    return fstat(fd, &other) == 0 && same_file(st, &other);
}

// The folder that holds path, and its last name.
static bool split_path(const char *path, char *folder, size_t size, const char **base)
{
    const char *slash = strrchr(path, '/');
    *base = slash ? slash + 1 : path;
    int length = slash ? snprintf(folder, size, "%.*s", static_cast<int>(slash - path + 1), path)
                       : snprintf(folder, size, ".");
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool same_place(const char *path, const char *other_path)
{
    struct stat a, b;
    bool a_exists = look_at(path, &a), b_exists = look_at(other_path, &b);
    if (a_exists || b_exists)
        return a_exists && b_exists && same_file(&a, &b);
    char folder[PATH_MAX], other_folder[PATH_MAX];
    const char *base, *other_base;
    return split_path(path, folder, sizeof folder, &base) &&
           split_path(other_path, other_folder, sizeof other_folder, &other_base) && strcmp(base, other_base) == 0 &&
           look_at(folder, &a) && look_at(other_folder, &b) && same_file(&a, &b);
}

void refuse_standard_streams(const struct stat *output, const char *name)
{
    static const char *const streams[] = {nullptr, "standard output", "standard error"};
    for (int stream = 1; stream <= 2; stream++) {
        struct stat st;
        if (fstat(stream, &st) == 0 && S_ISREG(st.st_mode) && same_file(output, &st))
            fail(1, "Output file '%s' is also %s\n", name, streams[stream]);
    }
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

// One UTF-16 code unit of one byte order; the byte order mark is let through and not counted.
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
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    static unsigned char block[1 << 16];
    text_reading reading;
    text_start(&reading);
    ssize_t count;
    while ((count = read(fd, block, sizeof block)) > 0)
        text_add(&reading, block, static_cast<size_t>(count));
    close(fd);
    return count == 0 && text_verdict(&reading);
}

// The file that path names, through a link: replacing the link would cut it from its file.
static bool link_target(const char *path, char *target, size_t size)
{
    struct stat link;
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode))
        return realpath(path, target) != nullptr;
    return snprintf(target, size, "%s", path) < static_cast<int>(size);
}

static FILE *start_replacement(const char *path)
{
    pending_output *output = nullptr;
    for (pending_output &free_slot : pending)
        if (!free_slot.live && !output)
            output = &free_slot;
    if (!output || !link_target(path, output->target, sizeof output->target))
        return nullptr;
    output->existed = look_at(output->target, &output->old);
    int length = snprintf(output->temporary, sizeof output->temporary, "%s.unfinished-XXXXXX", output->target);
    if (length < 0 || static_cast<size_t>(length) >= sizeof output->temporary)
        return nullptr;
    // No signal may come between making the file and noting it for removal.
    sigset_t ending, old;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    sigprocmask(SIG_BLOCK, &ending, &old);
    int fd = mkstemp(output->temporary);
    output->live = fd >= 0;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (fd < 0)
        return nullptr;
    output->stream = fdopen(fd, "wb");
    if (!output->stream) {
        close(fd);
        unlink(output->temporary);
        output->live = 0;
    }
    return output->stream;
}

FILE *start_output(const char *path)
{
    struct stat st;
    bool exists = look_at(path, &st);
    if (exists && !S_ISREG(st.st_mode)) {
        int fd = open(path, O_WRONLY);
        return fd < 0 ? nullptr : fdopen(fd, "wb");
    }
    if (exists && access(path, W_OK) != 0)
        return nullptr; // write-protected: the user meant to keep it
    return start_replacement(path);
}

// The permission bits the new file gets: the old file's, or those a new file would get.
static mode_t new_permission_bits(const pending_output *output)
{
    if (output->existed)
        return output->old.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// A rename is only lasting once the folder that holds it is on disk too.
static void sync_folder(const char *path)
{
    char folder[PATH_MAX];
    const char *base;
    if (!split_path(path, folder, sizeof folder, &base))
        return;
    int fd = open(folder, O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool lock_folder_of(const char *path)
{
    char target[PATH_MAX], folder[PATH_MAX];
    const char *base;
    if (!link_target(path, target, sizeof target) || !split_path(target, folder, sizeof folder, &base))
        return false;
    int fd = open(folder, O_RDONLY);
    return fd >= 0 && flock(fd, LOCK_EX) == 0; // the descriptor stays open: the lock lasts the run
}

bool describe_unreplaceable(const char *path, char *text, size_t size)
{
    struct stat st;
    if (!look_at(path, &st))
        return false;
    if (!S_ISREG(st.st_mode))
        snprintf(text, size, "it is no regular file");
    else if (st.st_nlink > 1)
        snprintf(text, size, "it has %lu hard links, which a new file would split",
                 static_cast<unsigned long>(st.st_nlink));
    else if (access(path, W_OK) != 0)
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
    int fd = fileno(stream);
    bool written = fflush(stream) == 0 && ferror(stream) == 0;
    // Only a privileged process may give a file away; otherwise it stays the caller's.
    bool owned = !output->existed || fchown(fd, output->old.st_uid, output->old.st_gid) == 0 || errno == EPERM;
    written = written && owned && fchmod(fd, new_permission_bits(output)) == 0 && fsync(fd) == 0;
    written = fclose(stream) == 0 && written;
    if (!written || rename(output->temporary, output->target) != 0) {
        unlink(output->temporary);
        output->live = 0;
        return false;
    }
    output->live = 0;
    sync_folder(output->target);
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

bool replace_file(const char *path, const unsigned char *bytes, size_t length)
{
    FILE *stream = start_output(path);
    if (!stream)
        return false;
    fwrite(bytes, 1, length, stream);
    return finish_output(stream);
}
