#include <cstdio>

#include "dump_text.h"

void lay_out(page_layout *layout, unsigned size)
{
    layout->size = size;
    layout->page_max = static_cast<int>(size / bytes_per_page);
    layout->remaining_lines = static_cast<int>(size % bytes_per_page / bytes_per_line);
    layout->remaining_bytes = static_cast<int>(size % bytes_per_line);
}

size_t line_offset(const page_layout *layout, int page, int line)
{
    size_t page_start = static_cast<size_t>(page == last_page ? layout->page_max : page) * bytes_per_page;
    return page_start + static_cast<size_t>(line) * bytes_per_line;
}

int hex_digit_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char hex_digit_char(int value)
{
    return "0123456789ABCDEF"[value & 0xF];
}

void format_pairs(const char *digits, char *text, size_t size)
{
    size_t used = 0;
    for (size_t k = 0; digits[k]; k++) {
        bool space = k > 0 && k % 2 == 0;
        if (used + space + 1 >= size)
            break;
        if (space)
            text[used++] = ' ';
        char c = digits[k];
        text[used++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    text[used] = '\0';
}
