#ifndef LINE_EDITOR_H
#define LINE_EDITOR_H

// Lines typed at a terminal, edited with the keys of any shell (Left, Right, Home, End,
// Backspace, Delete); standard input as it comes everywhere else.

#include <cstddef>
#include <cstdio>

// Starts the editor when standard input is a terminal, showing prompts and what is typed on
// shown; false otherwise.
bool editor_start(FILE *shown);
bool editor_active();

// Shows prompt and reads one line of at most limit bytes into raw, its line end included;
// returns its length, 0 at the end of input. The rest of a longer line is the next line.
size_t editor_read(const char *prompt, char *raw, size_t limit);

// Text that the next line read at the terminal starts with, to be edited as if typed.
void editor_preset(const char *text);

// True when more typed or pasted input is waiting already.
bool input_waiting();

// Drops what was typed or pasted ahead, and what goes on arriving of a paste, so that only
// what is typed after a question answers it.
void discard_typed_ahead();

// Where the prompts and what is typed are shown, as editor_start was given it.
FILE *editor_shown_on();

// What each system's side gives (line_editor_posix.cpp, line_editor_windows.cpp): the editor
// started at a terminal; one line edited there after the prompt (starting with preset where
// the system's editor can), its line end included, as UTF-8 (0 at the end of input); whether keys wait to be read.
bool open_line_editor(FILE *shown);
size_t read_edited_line(const char *prompt, const char *preset, char *line, size_t size);
bool keys_waiting();

#endif
