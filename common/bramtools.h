#ifndef BRAMTOOLS_COMMON_H
#define BRAMTOOLS_COMMON_H

// Helpers shared by dumpentry and bramarray.

void print_contact();

// Prints the formatted message to standard error and ends the process with status.
[[noreturn]] void fail(int status, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Prints the formatted message to standard error, after what standard output holds so far,
// so that a log of both reads in the order things happened.
void warn(const char *format, ...) __attribute__((format(printf, 1, 2)));

// True when both names exist and lead to the same file (through links or other paths).
bool same_file(const char *a, const char *b);

// True when both streams are open on the same file.
bool same_open_file(FILE *a, FILE *b);

// True when the stream is open on a directory, which opens but cannot be read.
bool is_directory(FILE *stream);

// Handles the lone arguments --help, -h and --version; returns false for any other command line.
bool handle_help_or_version(int argc, char **argv, const char *program,
                            void (*print_usage)(const char *));

#endif
