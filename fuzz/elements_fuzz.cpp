// bramarray's elements against a plain printf of each byte, the line ends counted across calls.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "../bramarray/bramarray.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char written[8 * 70000];
    static char expected[8 * 70000];
    static unsigned long elements_so_far; // output_c's column lives across inputs too
    if (size > 65536)
        return 0;

    FILE *out = fmemopen(written, sizeof written, "wb");
    if (!out)
        __builtin_trap();
    size_t expected_length = 0;
    for (size_t k = 0; k < size; k++) {
        output_c(out, data[k]);
        expected_length += static_cast<size_t>(snprintf(expected + expected_length, 8, "0X%02X, ", data[k]));
        if (++elements_so_far % 8 == 0)
            expected[expected_length++] = '\n';
    }
    flush_elements(out);
    long length = ftell(out);
    fclose(out);
    if (length != static_cast<long>(expected_length) || memcmp(written, expected, expected_length) != 0)
        __builtin_trap();
    return 0;
}
