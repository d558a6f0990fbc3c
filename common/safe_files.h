#ifndef BRAMTOOLS_SAFE_FILES_H
#define BRAMTOOLS_SAFE_FILES_H

// Writing files so that nothing the user already has is lost or left half-written.

#include <cstddef>
#include <cstdio>

// Flushes and closes a stream that was written to; false if any write to it failed.
bool close_written(FILE *stream);

// Puts bytes in place of the file at path (or of the file a link at path leads to): writes
// them to a new file in the same folder, syncs it, gives it the old file's permission bits and
// renames it over the old one. On failure the new file is removed, the old one left as it was,
// and false is returned.
bool replace_file(const char *path, const unsigned char *bytes, size_t length);

#endif
