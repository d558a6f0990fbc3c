#ifndef BRAMTOOLS_SAFE_FILES_H
#define BRAMTOOLS_SAFE_FILES_H

// Writing files so that nothing the user already has is lost or left half-written.

#include <csignal>
#include <cstddef>
#include <cstdio>

#include "system.h"

// Comes first in main: makes the process safe to start (see start_system), and has a failed
// or interrupted run remove the unfinished outputs, so that the files they would replace stay
// as they were.
void start_safely(int *argc, char ***argv);

// What is at path: true when there is a file, false when there is none. Any other failure to
// look ends the run with status 1 and the system's reason: taken for "none", it would let a
// new file replace the one that is there.
bool look_at(const char *path, file_facts *facts);

// True when the two are the same file.
bool same_file(const file_facts *a, const file_facts *b);
// The same for the file described and the stream opened as name; a stream that cannot be
// looked at ends the run as look_at does.
bool same_file_as_stream(const file_facts *facts, FILE *stream, const char *name);
// The same for a standard stream that is a regular file.
bool is_standard_stream(const file_facts *facts, int stream);
// True when both paths name one file, or would once made: an input that does not exist yet
// is the output if it names the same place.
bool same_place(const char *path, const char *other_path);

// Fail with status 1 when the existing output is a regular file that standard output or error
// goes to (writing it would mix the two), or one with a second hard link (a new file would
// split them).
void refuse_standard_streams(const file_facts *output, const char *name);
void refuse_split_links(const file_facts *output, const char *name);

// True when the file at path holds only text (see text_encoding.h). An empty file holds none;
// a file that cannot be read ends the run as look_at does.
bool holds_only_text(const char *path);

// What the regular file at path is, written into kind, when it is no dump file and no text
// but a file of the user's of another kind: "a backup memory image", "a picture (PNG)".
// False for any other; a file that cannot be read ends the run as look_at does.
bool is_kept_kind(const char *path, const file_facts *facts, char *kind, size_t size);

// An output under way, from start_output to its commit (or to the end of a run that fails or
// is interrupted, which removes it):
//   started: stream open on a new file beside the target (or on the target itself when that is
//            a device, named pipe or terminal, written straight through);
//   finished: finish_output has flushed, synced and closed it, with the old file's permission
//            bits, owner and group;
//   committed: commit_output has put it in place of the target in one step.
struct pending_output {
    volatile sig_atomic_t live; // a new file beside the target exists and is not committed
    bool in_use;
    bool straight_through;
    FILE *stream;
    char temporary[longest_path + 32];
    char target[longest_path];
    file_facts old;
    bool existed;
};

// Opens the output at path for writing; null (errno saying why) when it cannot be opened, or
// when it is a file the user may not write or write-protected for everyone.
pending_output *start_output(const char *path);
// Flushes, syncs and closes it; true when every byte reached the new file. On false the new
// file is removed and the target left as it was.
bool finish_output(pending_output *output);
// Puts the finished output in place of the target: the one step that changes the user's file.
// The ending signals are held from just before it to the end of the run, so that a run that
// replaced its file ends as one that succeeded; print and flush what the run says of its change
// before it. On false the target is left as it was.
bool commit_output(pending_output *output);
// The same in the middle of a run (a text mended while the dump goes on): the ending signals
// are let through again after it.
bool commit_output_and_go_on(pending_output *output);
// The same for a new file that may take no other's place: false (EEXIST) where a file of its
// name has come meanwhile, which stays as it is, and the new file is removed.
bool commit_new_output_and_go_on(pending_output *output);

// Removes the new file of an output that will not be committed; the target stays as it was.
void discard_output(pending_output *output);

// finish_output and commit_output, ending the run with status and "Couldn't write file" when
// either fails.
void finish_output_or_fail(pending_output *output, int status, const char *name);
void commit_output_or_fail(pending_output *output, int status, const char *name);

// What an output a program writes must not be: the files it reads, and, when it is there
// already, what the guard refuses of what it holds.
struct output_guard {
    int status;                // the run fails with it when the output is refused
    char *const *inputs;       // the files read, by any name, also those not made yet
    int input_count;
    const char *inputs_are;    // their name in the refusal: "the input file", "an image to read"
    bool reads_standard_input; // standard input is an input too
    // The words of a refusal of what the existing regular file at path holds ("holds text; it
    // may be a typed dump, so it is left as it is"), or false when it may be replaced.
    bool (*holds_refused)(const char *path, const file_facts *facts, char *words, size_t size);
};

// Fails the run, nothing changed, when the output at path may not be replaced: "Output file
// 'x' is also " one of the inputs, standard input, output or error, what the guard refuses,
// or a file with a second hard link.
void refuse_output(const char *path, const output_guard *guard);
// start_output, or the run fails with status and the system's reason.
pending_output *start_output_or_fail(const char *path, int status);

// Waits for, then holds until the run ends, the lock of the folder that holds the file at
// path (or the file a link at path leads to): runs that change files there take turns.
bool lock_folder_of(const char *path);

// Makes the folder at path unless it is one already; false (errno says why) when it cannot.
bool make_folder_if_missing(const char *path);

// Fails with status 1, saying why, when the existing file at path may not be replaced: it is
// no regular file, it has more than one hard link (a new file would split them), or it is
// write-protected.
void refuse_unreplaceable(const char *path);

// Flushes and closes a stream that was written to; false if any write to it failed.
bool close_written(FILE *stream);

#endif
