#ifndef BRAMTOOLS_SAFE_FILES_H
#define BRAMTOOLS_SAFE_FILES_H

// Writing files so that nothing the user already has is lost or left half-written.

#include <cstddef>
#include <cstdio>

#include "system.h"

// Comes first in main: makes the process safe to start (see start_system), and has a failed
// or interrupted run remove the unfinished outputs, so that the files they would replace stay
// as they were.
void start_safely(int *argc, char ***argv);

// Has an ending signal also call restore (it may only put the terminal back).
void on_ending_signal(void (*restore)());

// True when the two are the same file, or the file described and the stream.
bool same_file(const file_facts *a, const file_facts *b);
bool same_file_as_stream(const file_facts *facts, FILE *stream);
// The same for a standard stream that is a regular file.
bool is_standard_stream(const file_facts *facts, int stream);
// True when both paths name one file, or would once made: an input that does not exist yet
// is the output if it names the same place.
bool same_place(const char *path, const char *other_path);

// Fails with status 1 when the existing output is a regular file that standard output or
// error goes to: writing the output would mix the two.
void refuse_standard_streams(const file_facts *output, const char *name);

// Reading a file's bytes as text, a block at a time: UTF-8, or UTF-16 of either byte order
// with or without a byte order mark, whose characters are printable or tab, CR, LF, form feed
// or vertical tab.
struct text_reading {
    unsigned long length;
    bool utf8, little, big;        // each reading still possible
    unsigned utf8_pending;         // continuation bytes still due
    unsigned long utf8_code;       // the character they build
    unsigned long utf8_least;      // the least character of that many bytes (no overlong forms)
    unsigned char unit[2];         // a UTF-16 code unit being gathered
    unsigned little_high, big_high; // a high surrogate waiting for its low half (0: none)
    unsigned long little_ascii, big_ascii, units;
};
void text_start(text_reading *reading);
void text_add(text_reading *reading, const unsigned char *bytes, size_t count);
bool text_verdict(const text_reading *reading);

// True when the file at path holds only text (see text_reading). An empty file holds none.
bool holds_only_text(const char *path);

// Opens the output at path for writing. A device, named pipe or terminal is written straight
// through; a regular file (or none yet) is written to a new file beside it, which
// finish_output puts in its place and which a failed or interrupted run removes. Null when
// it cannot be opened or is a file the user may not write.
FILE *start_output(const char *path);

// Flushes, syncs and closes the output and puts it in place of the old file, which keeps
// its permission bits, owner and group; true when every byte reached it. On false the old
// file is left as it was.
bool finish_output(FILE *stream);

// The same, ending the run with status when a write failed.
void finish_output_or_fail(FILE *stream, int status, const char *name);

// Waits for, then holds until the run ends, the lock of the folder that holds the file at
// path (or the file a link at path leads to): runs that change files there take turns.
bool lock_folder_of(const char *path);

// Makes the folder at path unless it is one already; false (errno says why) when it cannot.
bool make_folder_if_missing(const char *path);

// Says why the existing file at path may not be replaced: it is no regular file, it has more
// than one hard link (a new file would split them), or the caller may not write it. False
// when it may be, or does not exist.
bool describe_unreplaceable(const char *path, char *text, size_t size);

// Flushes and closes a stream that was written to; false if any write to it failed.
bool close_written(FILE *stream);

#endif
