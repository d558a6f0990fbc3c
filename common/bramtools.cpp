#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bramtools.h"
#include "system.h"

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

// Writes the message; one that ends with ':' gets the system's reason after it.
static void report(const char *message, int reason)
{
    fflush(stdout);
    size_t length = strlen(message);
    if (length > 0 && message[length - 1] == ':')
        fprintf(stderr, "%s %s\n", message, strerror(reason));
    else
        fputs(message, stderr);
    fflush(stderr); // Windows buffers standard error when it goes to a file or pipe
}

void fail(int status, const char *format, ...)
{
    int reason = errno;
    char message[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    report(message, reason);
    exit(status);
}

void warn(const char *format, ...)
{
    int reason = errno;
    char message[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    report(message, reason);
}

[[noreturn]] static void fail_on_file(int status, const char *verb, const char *name, const char *purpose, bool because)
{
    fail(status, "Couldn't %s file '%s'%s%s", verb, name, purpose, because ? ":" : "\n");
}

void fail_to_open_for_input(int status, const char *name, bool because)
{
    fail_on_file(status, "open", name, " for input", because);
}

void fail_to_open_for_output(int status, const char *name, bool because)
{
    fail_on_file(status, "open", name, " for output", because);
}

void fail_to_read(int status, const char *name, bool because)
{
    fail_on_file(status, "read", name, "", because);
}

void fail_to_write(int status, const char *name, bool because)
{
    fail_on_file(status, "write", name, "", because);
}

bool is_directory(FILE *stream)
{
    file_facts facts;
    return facts_of_stream(stream, &facts) && facts.directory;
}

void finish_standard_output(int status)
{
    if (fflush(stdout) != 0 || ferror(stdout))
        fail(status, "Couldn't write to standard output\n");
}

void finish_report(int status)
{
    if (fflush(stdout) != 0 && errno != EPIPE)
        fail(status, "Couldn't write to standard output\n");
}

void fail_unknown_option(int status, const char *option)
{
    fail(status, "Unknown option '%s'; to name a file that begins with '-', write './%s'\n", option, option);
}

void exit_with_usage(const char *exe_name, void (*print_usage)(const char *), int failure_status)
{
    print_usage(exe_name);
    print_contact();
    finish_standard_output(failure_status);
    exit(EXIT_SUCCESS);
}

void exit_if_help_or_version(int argc, char **argv, const char *program, void (*print_usage)(const char *),
                             int failure_status)
{
    if (argc != 2)
        return;
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)
        exit_with_usage(argv[0], print_usage, failure_status);
    if (strcmp(argv[1], "--version") == 0) {
        printf("%s %s\n", program, BRAMTOOLS_VERSION);
        finish_standard_output(failure_status);
        exit(EXIT_SUCCESS);
    }
}
