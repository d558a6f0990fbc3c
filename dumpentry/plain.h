#ifndef PLAIN_H
#define PLAIN_H

#include <cstdio>

#include "dumpentry.h"

const int last_page = -1; // the page number ask_line is given for the lines of the last page

void parse_plain_header(const char *text, unsigned *encoding, unsigned *size);
void parse_last_line(const char *text, unsigned *values, int count);
decode_result parse_plain(FILE *out);
decode_result ask_line(FILE *out, int page, int line);

#endif
