/* Loaded into the programs by the tests only (LD_PRELOAD): makes the call that FAIL_CALL names
 * (fflush, fsync, fchmod, fclose, rename or mkstemp) fail on an unfinished output, the new file
 * written beside the one it would replace, as a full disk or a failing device would.
 * FAIL_CALL=stat makes the FAIL_AT-th look at any file (stat, lstat and fstat counted together,
 * from 1) fail with FAIL_ERRNO (EIO, ESTALE or EACCES), as a network folder may.
 * FAIL_CALL=pthread_create makes every thread fail to start (EAGAIN), as under ulimit -u. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int failing(const char *call)
{
    const char *chosen = getenv("FAIL_CALL");
    return chosen && strcmp(chosen, call) == 0;
}

static int unfinished_descriptor(int fd)
{
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, path, sizeof path - 1);
    if (length < 0)
        return 0;
    path[length] = '\0';
    return strstr(path, ".unfinished-") != NULL;
}

static int unfinished_stream(FILE *stream)
{
    return stream && unfinished_descriptor(fileno(stream));
}

#define NEXT(type, name, ...) ((type(*)(__VA_ARGS__))dlsym(RTLD_NEXT, name))

int fflush(FILE *stream)
{
    if (failing("fflush") && unfinished_stream(stream)) {
        errno = ENOSPC;
        return EOF;
    }
    return NEXT(int, "fflush", FILE *)(stream);
}

int fsync(int fd)
{
    if (failing("fsync") && unfinished_descriptor(fd)) {
        errno = EIO;
        return -1;
    }
    return NEXT(int, "fsync", int)(fd);
}

int fchmod(int fd, mode_t mode)
{
    if (failing("fchmod") && unfinished_descriptor(fd)) {
        errno = EPERM;
        return -1;
    }
    return NEXT(int, "fchmod", int, mode_t)(fd, mode);
}

int fclose(FILE *stream)
{
    int unfinished = failing("fclose") && unfinished_stream(stream);
    int closed = NEXT(int, "fclose", FILE *)(stream);
    if (unfinished) {
        errno = EIO;
        return EOF;
    }
    return closed;
}

int rename(const char *from, const char *to)
{
    if (failing("rename") && strstr(from, ".unfinished-")) {
        errno = EXDEV;
        return -1;
    }
    return NEXT(int, "rename", const char *, const char *)(from, to);
}

int mkstemp(char *name_template)
{
    if (failing("mkstemp") && strstr(name_template, ".unfinished-")) {
        errno = EACCES;
        return -1;
    }
    return NEXT(int, "mkstemp", char *)(name_template);
}

static int failing_look(void)
{
    static int looks;
    const char *at = getenv("FAIL_AT");
    return failing("stat") && at && ++looks == atoi(at);
}

static int chosen_errno(void)
{
    const char *name = getenv("FAIL_ERRNO");
    if (name && strcmp(name, "ESTALE") == 0)
        return ESTALE;
    if (name && strcmp(name, "EACCES") == 0)
        return EACCES;
    return EIO;
}

int stat(const char *path, struct stat *st)
{
    if (failing_look()) {
        errno = chosen_errno();
        return -1;
    }
    return NEXT(int, "stat", const char *, struct stat *)(path, st);
}

int lstat(const char *path, struct stat *st)
{
    if (failing_look()) {
        errno = chosen_errno();
        return -1;
    }
    return NEXT(int, "lstat", const char *, struct stat *)(path, st);
}

int fstat(int fd, struct stat *st)
{
    if (failing_look()) {
        errno = chosen_errno();
        return -1;
    }
    return NEXT(int, "fstat", int, struct stat *)(fd, st);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *), void *argument)
{
    if (failing("pthread_create"))
        return EAGAIN;
    return NEXT(int, "pthread_create", pthread_t *, const pthread_attr_t *, void *(*)(void *),
                void *)(thread, attributes, start, argument);
}
