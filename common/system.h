#ifndef BRAMTOOLS_SYSTEM_H
#define BRAMTOOLS_SYSTEM_H

// What the programs need of the operating system, in one place: files by their UTF-8 names,
// what a file is and whether two names reach one file, the standard streams, and the steps of
// putting a new file in place of an old one. system_posix.cpp and system_windows.cpp each
// give all of it; nothing else in the programs asks the system directly.

#include <cstddef>
#include <cstdio>

// Formats as the printf in use reads them: on Windows MinGW's own C99 printf, not msvcrt's.
#ifdef __MINGW32__
#define BRAMTOOLS_PRINTF gnu_printf
#else
#define BRAMTOOLS_PRINTF printf
#endif

const size_t longest_path = 4096; // bytes of a UTF-8 path name

struct file_facts {
    bool regular, directory;
    bool write_protected;             // no write permission bit (read-only on Windows): for every user
    unsigned long long volume, index; // the same pair: the same file
    bool volume_known;                // false where the system did not say which volume
    unsigned long links;              // names the file has
    unsigned long long size;          // bytes, of a regular file
    unsigned long mode, owner, group; // permission bits and owners, where the system has them
};

// Makes the process safe to start: a closed standard stream is opened on the null device, a
// broken pipe fails a write, standard streams carry bytes as they are, the command line is
// UTF-8; every catchable signal that would end the process (or the console's Ctrl-C and close)
// calls the ending hooks first, then ends it as that signal does. A signal ignored when the
// process starts (SIGHUP under nohup) stays ignored.
void start_system(int *argc, char ***argv);
// Adds a hook for an ending signal, called after those added before it. A hook may only do
// what is safe in a signal handler: remove files, put the terminal back, write() a message.
void add_ending_hook(void (*hook)());

// Opens path in binary mode ("rb", "wb", "a+b").
FILE *open_file(const char *path, const char *mode);
// Makes a new file at path for writing; null when something is there already.
FILE *open_new_file(const char *path);
void remove_file(const char *path); // may be called from an ending hook

// What path (following links), an open stream, or standard stream 0, 1 or 2 is; false when it
// cannot be looked at, errno saying why: ENOENT or ENOTDIR when there is none.
bool facts_of(const char *path, file_facts *facts);
bool facts_of_stream(FILE *stream, file_facts *facts);
bool facts_of_standard_stream(int stream, file_facts *facts);
bool may_write(const char *path);
bool standard_input_is_terminal();
bool standard_output_is_terminal();
// Drops the keys typed ahead at the terminal on standard input, and what goes on arriving of a
// paste, so that only what is typed after a question answers it.
void drop_keys_typed_ahead();
// Writes to standard stream 1 or 2 at once, past any buffer: safe in an ending hook.
void write_at_once(int stream, const char *text, size_t length);
// True where file names that differ only in case name one file.
bool names_ignore_case();
// True for a character that separates folders in a path: '/', and '\\' on Windows.
bool is_folder_separator(char c);
// True for a name (before its extension) that the system keeps for a device: CON, NUL, ...
bool reserved_file_name(const char *base);

// The file a link at path leads to, or path itself; false when the link leads nowhere or
// cannot be looked at.
bool link_target(const char *path, char *target, size_t size);
// Makes a new file from a name ending in "XXXXXX", which it fills in.
FILE *create_temporary(char *name_template);
// Gives the stream's file the old file's permission bits and owners (those a new file gets
// when old is null): the owner only where the process may give files away, the group wherever
// the caller is one of it; *group_kept is false where not even the group could be kept.
bool keep_metadata(FILE *stream, const file_facts *old, bool *group_kept);
bool sync_to_disk(FILE *stream);
// Cuts the file open for writing as stream to size bytes, after what is buffered.
bool truncate_stream(FILE *stream, unsigned long long size);
// Puts the closed file temporary in place of target, in one step.
bool replace_with(const char *temporary, const char *target);
// Gives the closed file temporary the name target, where there is no file of that name yet;
// false (EEXIST) where there is one, which stays as it is.
bool place_as_new(const char *temporary, const char *target);
void sync_folder(const char *folder);
// Waits for, then holds until the process ends, the lock of the folder.
bool lock_folder(const char *folder);
bool make_folder(const char *path);
// Holds the ending signals back from the calling thread (true) or lets them through again
// (false); a thread started while they are held keeps them held.
void hold_ending_signals(bool hold);
// Sends what a library writes to standard error nowhere, until standard error is given back;
// one thread at a time holds it quiet, the others wait. For the complaints of the image and
// glyph libraries, which the programs say in their own words.
void quiet_standard_error();
void give_back_standard_error();

#endif
