#ifndef PLAIN_H
#define PLAIN_H

#include <cstdio>

#include "dumpentry.h"

const int last_page = -1; // the page number ask_line is given for the lines of the last page

void parse_plain_header(const char *text, unsigned *encoding, unsigned *size);
void parse_last_line(const char *text, unsigned *values, int count);
decode_result parse_plain(FILE *out);
decode_result ask_line(FILE *out, int page, int line);

// A line to type again, named as the prompts name it: "3 12", "last 2", "last line", or a
// page alone, "3" or "last"; nothing keeps the dump.
enum choice_kind { choice_keep, choice_line, choice_last_line, choice_page };
struct line_choice {
    choice_kind kind;
    int page; // last_page for the last page
    int line;
};
bool parse_line_choice(const char *answer, line_choice *choice);
bool choice_exists(const line_choice *choice);
const char *choice_name(const line_choice *choice);
// Shows each line chosen as it was kept, and asks it again in its place.
decode_result ask_again(FILE *out, const line_choice *choice);

#endif
