#ifndef BRAMTOOLS_COMMON_H
#define BRAMTOOLS_COMMON_H

// Helpers shared by the programs: banners, and one home for failure.

#include <cstdio>

#include "system.h"

// The status every program ends with when a file cannot be looked at or may not be replaced.
const int status_file_refused = 1;

void print_contact();

// Prints the formatted message to standard error and ends the process with status. A message
// that ends with ':' gets the system's reason (errno's) after it, and the line end.
[[noreturn]] void fail(int status, const char *format, ...) __attribute__((format(BRAMTOOLS_PRINTF, 2, 3)));

// Prints the formatted message to standard error, after what standard output holds so far,
// so that a log of both reads in the order things happened; the system's reason as fail adds it.
void warn(const char *format, ...) __attribute__((format(BRAMTOOLS_PRINTF, 1, 2)));

// The failures every program reports alike, each worded in one place: the file's name, and,
// with because, the system's reason.
[[noreturn]] void fail_to_open_for_input(int status, const char *name, bool because = true);
[[noreturn]] void fail_to_open_for_output(int status, const char *name, bool because = true);
[[noreturn]] void fail_to_read(int status, const char *name, bool because = false);
[[noreturn]] void fail_to_write(int status, const char *name, bool because = false);

// True when the stream is open on a directory, which opens but cannot be read.
bool is_directory(FILE *stream);

// Where standard output is the product, a failed write to it ends the run with status.
void finish_standard_output(int status);

// Where standard output only tells of the work, before the work takes its place: a full disk
// or a failing device under it ends the run with status; a reader that went away (a broken
// pipe, as `| head` leaves) does not.
void finish_report(int status);

// Prints the usage and contact banners and ends the run: with status 0, or with
// failure_status when they could not be written.
// An argument that reads like an option but is none of the program's.
[[noreturn]] void fail_unknown_option(int status, const char *option);
[[noreturn]] void exit_with_usage(const char *exe_name, void (*print_usage)(const char *), int failure_status);

// Ends the run after the lone argument --help, -h or --version; any other command line returns.
void exit_if_help_or_version(int argc, char **argv, const char *program, void (*print_usage)(const char *),
                             int failure_status);

#endif
