#ifndef MEND_H
#define MEND_H

// Mending: when the save's own check fails at a terminal, the lines the user names are typed
// again where they stand, in the dump and in the text they came from.

#include "../common/system.h"
#include "plain.h"

struct mend {
    char text_path[longest_path + 8]; // the text the lines came from: the transcript, or the input
    bool links_warned;                // its second hard link was said once already
};

// Asks for lines to type again until the save's check holds (true) or the user keeps the dump.
bool mend_at_terminal(dump_file *dump, mend *mending);

// Puts a line typed again in place of line number (from 1) of the text at path, in the text's
// own encoding and keeping its line end; every other byte stays, and the text is replaced
// whole. A text with a second hard link is left as it is, which *links_warned has said once.
void mend_text_line(const char *path, unsigned long number, const char *pairs, bool *links_warned);

// Adds a line at the end of the text at path, as mend_text_line changes one; returns its line
// number (0 where it could not be added).
unsigned long add_text_line(const char *path, const char *pairs, bool *links_warned);

// A line to type again, named as the prompts name it: "3 12", "last 2", "last line", or a
// page alone, "3" or "last"; "header" asks the header again; nothing keeps the dump.
enum choice_kind { choice_keep, choice_line, choice_last_line, choice_page, choice_header };
struct line_choice {
    choice_kind kind;
    int page; // last_page for the last page
    int line;
};
bool parse_line_choice(const char *answer, line_choice *choice);

#endif
