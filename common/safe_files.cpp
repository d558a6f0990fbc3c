#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "safe_files.h"

bool close_written(FILE *stream)
{
    bool write_failed = fflush(stream) != 0 || ferror(stream) != 0;
    return fclose(stream) == 0 && !write_failed;
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
