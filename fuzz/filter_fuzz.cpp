// One raw line through the filter and every parser of the filtered text.
#include <cstdint>
#include <cstring>

#include "../dumpentry/plain.h"

static void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

static bool is_ascii_alnum(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char raw[256];
    char filtered[256];
    size_t length = size < 254 ? size : 254; // what one read can take
    memcpy(raw, data, length);
    raw[length] = '\0';

    size_t kept = filter_line(raw, length, filtered);
    check(kept == strlen(filtered) && kept <= length);
    for (size_t k = 0; k < kept; k++)
        check(is_ascii_alnum(filtered[k]) || filtered[k] == unread_digit);

    unsigned t[8];
    parse_hex_fields(filtered, t, 8);
    // The fields of two digits, or of one before the first that is no hex digit; a digit not
    // read ('?') is a digit.
    auto digit = [&](size_t at) { return hex_digit_value(filtered[at]) >= 0 || filtered[at] == unread_digit; };
    int supplied = 0;
    for (size_t at = 0; supplied < 8 && at < kept && digit(at); supplied++)
        at += at + 1 < kept && digit(at + 1) ? 2 : 1;
    for (int k = 0; k < 8; k++) {
        unsigned value = t[k];
        check(value <= 0xFF && (k < supplied || value == 0));
    }

    unsigned last[7];
    parse_last_line(filtered, last, 7);
    for (unsigned value : last)
        check(value <= 0xFF);

    unsigned encoding = 0, dump_size = 0;
    parse_plain_header(filtered, &encoding, &dump_size);
    check(encoding <= 0xFF && dump_size <= 0xFFFF);

    char fault[64];
    bool clean = true;
    for (size_t k = 0; k < kept; k++)
        clean = clean && hex_digit_value(filtered[k]) >= 0;
    bool suspicious = describe_line_fault(filtered, 16, fault, sizeof fault);
    check(suspicious == !(clean && kept == 16));
    check(!suspicious || strlen(fault) < sizeof fault);
    return 0;
}
