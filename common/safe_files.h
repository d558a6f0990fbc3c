#ifndef BRAMTOOLS_SAFE_FILES_H
#define BRAMTOOLS_SAFE_FILES_H

// Writing files so that nothing the user already has is lost or left half-written.

#include <cstddef>
#include <cstdio>

// Opens /dev/null on any of the descriptors 0, 1 and 2 that is closed, so that no file the
// program opens takes a standard stream's place, and lets a broken pipe fail a write instead
// of ending the program. Comes first in main.
void start_safely();

// Opens path for writing without truncating it, creating it if need be (*created says so);
// for reading too where it may, so that what it holds can be looked at. -1 on failure.
int open_output(const char *path, bool *created);

// True when both descriptors, or the descriptor and the file at path, are the same file.
bool same_file(int fd, int other_fd);
bool same_file_as_path(int fd, const char *path);

// The standard stream (0, 1 or 2) that is a regular file and the same file as fd; -1 if none.
int standard_stream_of(int fd);

// Refuses an output before it is changed: removes it if this run created it, so that the
// refusal leaves nothing behind, and ends the run with status 1 and the message.
[[noreturn]] void refuse_output(bool created, const char *path, const char *format, const char *name);

// Empties an output that passed its checks (a regular file; a device is left as it is) and
// opens a stream on it.
FILE *truncate_output(int fd);

// True when the file holds only text: printable ASCII, tabs and line ends, as UTF-8 (a byte
// order mark allowed) or UTF-16 of either byte order. An empty file holds none.
bool holds_only_text(int fd);

// Flushes and closes a stream that was written to; false if any write to it failed.
bool close_written(FILE *stream);

// The same, ending the run with status when a write failed.
void close_or_fail(FILE *stream, int status, const char *name);

// Puts bytes in place of the file at path (or of the file a link at path leads to): writes
// them to a new file in the same folder, syncs it, gives it the old file's permission bits and
// renames it over the old one. On failure the new file is removed, the old one left as it was,
// and false is returned.
bool replace_file(const char *path, const unsigned char *bytes, size_t length);

#endif
