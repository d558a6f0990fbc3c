#ifndef BRAMARRAY_H
#define BRAMARRAY_H

#include <cstdio>

void print_usage(const char *exe_name);
void output_c(FILE *out, int c);
void flush_elements(FILE *out);

#endif
