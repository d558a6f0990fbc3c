// Any bytes as a picture of a page: the image libraries refuse them, or the page is found or
// not; a page found holds 1 to 16 lines, its last of 2 to 16 digits, each digit a sample taken.
#include <cstdint>

#include <leptonica/allheaders.h>

#include "../dumpscan/page.h"

static void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

static glyph_sample samples[header_digits + page_lines * digits_per_line];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    setMsgSeverity(L_SEVERITY_NONE);
    static page_read page;
    int count = 0;
    char why[160];
    page_outcome outcome = read_page_bytes(data, size, "fuzz", &page, samples, &count, why, sizeof why);
    if (outcome != page_found)
        return 0;
    check(page.lines >= 1 && page.lines <= page_lines);
    check(page.last_line_digits >= 2 && page.last_line_digits <= digits_per_line && page.last_line_digits % 2 == 0);
    check(count == header_digits + (page.lines - 1) * digits_per_line + page.last_line_digits);
    for (int k = 0; k < header_digits; k++)
        check(page.header[k] >= 0 && page.header[k] < count);
    return 0;
}
