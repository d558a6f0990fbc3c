#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "bramtools.h"

#ifndef BRAMTOOLS_VERSION
#define BRAMTOOLS_VERSION "0.0.0"
#endif

void print_contact()
{
    fputs("---[ CONTACT ]----------------------------------------------------------------\n"
          "  bramtools: carry PC Engine backup memory files out by hand\n"
          "  Maintainers: see the README.md that comes with bramtools for how to reach us\n"
          "  About the backup memory (BRAM): see the notes in that same README.md\n"
          "  Greetings to everyone who keeps their old saves alive!\n",
          stdout);
}

void fail(int status, const char *format, ...)
{
    va_list args;
    fflush(stdout);
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    exit(status);
}

void warn(const char *format, ...)
{
    va_list args;
    fflush(stdout);
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

static bool same_inode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && same_inode(sa, sb);
}

bool same_open_file(FILE *a, FILE *b)
{
    struct stat sa, sb;
    return fstat(fileno(a), &sa) == 0 && fstat(fileno(b), &sb) == 0 && same_inode(sa, sb);
}

bool is_directory(FILE *stream)
{
    struct stat st;
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

bool handle_help_or_version(int argc, char **argv, const char *program,
                            void (*print_usage)(const char *))
{
    if (argc != 2)
        return false;
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        print_usage(argv[0]);
        print_contact();
        exit(EXIT_SUCCESS);
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("%s %s\n", program, BRAMTOOLS_VERSION);
        exit(EXIT_SUCCESS);
    }
    return false;
}
