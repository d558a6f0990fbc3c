#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bramtools.h"
#include "safe_files.h"

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
}

int open_output(const char *path, bool *created)
{
    int fd = open(path, O_RDWR | O_CREAT | O_EXCL, 0666);
    *created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = open(path, O_RDWR);
    if (fd < 0 && errno == EACCES)
        fd = open(path, O_WRONLY); // a file one may write but not read
    return fd;
}

static bool same_inode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(int fd, int other_fd)
{
    struct stat a, b;
    return fstat(fd, &a) == 0 && fstat(other_fd, &b) == 0 && same_inode(a, b);
}

bool same_file_as_path(int fd, const char *path)
{
    struct stat a, b;
    return fstat(fd, &a) == 0 && stat(path, &b) == 0 && same_inode(a, b);
}

int standard_stream_of(int fd)
{
    for (int stream = 0; stream <= 2; stream++) {
        struct stat st;
        if (fstat(stream, &st) == 0 && S_ISREG(st.st_mode) && same_file(fd, stream))
            return stream;
    }
    return -1;
}

void refuse_output(bool created, const char *path, const char *format, const char *name)
{
    if (created)
        unlink(path);
    fail(1, format, name);
}

FILE *truncate_output(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0))
        return nullptr;
    return fdopen(fd, "wb");
}

static bool is_text_byte(unsigned char c)
{
    return (c >= 0x20 && c <= 0x7E) || c == '\t' || c == '\n' || c == '\r';
}

// Reads the file from its start; each of the three readings stays possible while every byte
// fits it, a byte order mark at the start included.
bool holds_only_text(int fd)
{
    static const unsigned char utf8_mark[] = {0xEF, 0xBB, 0xBF}, little_mark[] = {0xFF, 0xFE},
                               big_mark[] = {0xFE, 0xFF};
    static unsigned char block[1 << 16];
    bool utf8 = true, little = true, big = true;
    size_t start8 = 0, start16 = 0, position = 0;
    ssize_t count = 0;
    while ((utf8 || little || big) && (count = pread(fd, block, sizeof block, static_cast<off_t>(position))) > 0) {
        for (ssize_t k = 0; k < count; k++, position++) {
            unsigned char c = block[k];
            if (position == 0) {
                start8 = c == utf8_mark[0] ? sizeof utf8_mark : 0;
                start16 = c == little_mark[0] || c == big_mark[0] ? sizeof little_mark : 0;
            }
            utf8 = utf8 && (position < start8 ? c == utf8_mark[position] : is_text_byte(c));
            if (position < start16) {
                little = little && c == little_mark[position];
                big = big && c == big_mark[position];
                continue;
            }
            bool low_half = (position - start16) % 2 == 0;
            little = little && (low_half ? is_text_byte(c) : c == 0);
            big = big && (low_half ? c == 0 : is_text_byte(c));
        }
    }
    if (count < 0 || position == 0)
        return false;
    bool whole_units = (position - start16) % 2 == 0;
    return utf8 || ((little || big) && whole_units);
}

bool close_written(FILE *stream)
{
    bool write_failed = fflush(stream) != 0 || ferror(stream) != 0;
    return fclose(stream) == 0 && !write_failed;
}

void close_or_fail(FILE *stream, int status, const char *name)
{
    if (!close_written(stream))
        fail(status, "Couldn't write file '%s'\n", name);
}

static bool write_all(int fd, const unsigned char *bytes, size_t length)
{
    while (length > 0) {
        ssize_t written = write(fd, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// The permission bits the file at path has, or those a new file would get.
static mode_t permission_bits(const char *path)
{
    struct stat old;
    if (stat(path, &old) == 0)
        return old.st_mode & 07777;
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool replace_file(const char *path, const unsigned char *bytes, size_t length)
{
    // Replacing a link would cut it from the file it leads to: replace that file instead.
    char target[PATH_MAX];
    struct stat link;
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
        if (!realpath(path, target))
            return false;
    } else if (snprintf(target, sizeof target, "%s", path) >= static_cast<int>(sizeof target)) {
        return false;
    }
    char temporary[PATH_MAX + 8];
    if (snprintf(temporary, sizeof temporary, "%s.XXXXXX", target) >= static_cast<int>(sizeof temporary))
        return false;
    int fd = mkstemp(temporary);
    if (fd < 0)
        return false;
    bool written = write_all(fd, bytes, length) && fsync(fd) == 0 &&
                   fchmod(fd, permission_bits(target)) == 0;
    if (close(fd) != 0 || !written || rename(temporary, target) != 0) {
        unlink(temporary);
        return false;
    }
    return true;
}
