#include <cstring>

#include "text_encoding.h"

void text_start(text_reading *reading)
{
    memset(reading, 0, sizeof *reading);
    reading->utf8 = reading->little = reading->big = true;
}

static bool printable(unsigned long code)
{
    if (code < 0x20)
        return code >= '\t' && code <= '\r'; // tab, LF, VT, FF, CR
    bool control = code >= 0x7F && code <= 0x9F;
    bool noncharacter = (code & 0xFFFE) == 0xFFFE || (code >= 0xFDD0 && code <= 0xFDEF);
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return !control && !noncharacter && !surrogate && code <= 0x10FFFF;
}

static void utf8_add(text_reading *reading, unsigned char c)
{
    if (reading->utf8_pending > 0) {
        reading->utf8 = (c & 0xC0) == 0x80;
        reading->utf8_code = reading->utf8_code << 6 | (c & 0x3F);
        if (--reading->utf8_pending == 0)
            reading->utf8 = reading->utf8_code >= reading->utf8_least && printable(reading->utf8_code);
        return;
    }
    static const struct {
        unsigned char first, last, continuations;
        unsigned long least;
    } leads[] = {{0x00, 0x7F, 0, 0}, {0xC2, 0xDF, 1, 0x80}, {0xE0, 0xEF, 2, 0x800}, {0xF0, 0xF4, 3, 0x10000}};
    for (const auto &lead : leads) {
        if (c < lead.first || c > lead.last)
            continue;
        reading->utf8_pending = lead.continuations;
        reading->utf8_least = lead.least;
        reading->utf8_code = c & (0x7F >> lead.continuations);
        if (lead.continuations == 0)
            reading->utf8 = printable(c);
        return;
    }
    reading->utf8 = false;
}

// One UTF-16 code unit of one byte order; the byte order mark is let through.
static bool utf16_add(unsigned unit, unsigned *high, unsigned long *ascii)
{
    if (*high) {
        unsigned long code = 0x10000 + ((*high - 0xD800UL) << 10) + (unit - 0xDC00UL);
        bool paired = unit >= 0xDC00 && unit <= 0xDFFF;
        *high = 0;
        return paired && printable(code);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        *high = unit;
        return true;
    }
    *ascii += unit < 0x80;
    return unit == 0xFEFF || printable(unit);
}

void text_add(text_reading *reading, const unsigned char *bytes, size_t count)
{
    for (size_t k = 0; k < count && (reading->utf8 || reading->little || reading->big); k++) {
        unsigned char c = bytes[k];
        if (reading->utf8)
            utf8_add(reading, c);
        reading->unit[reading->length % 2] = c;
        reading->length++;
        if (reading->length % 2 != 0)
            continue;
        unsigned little_unit = reading->unit[0] | static_cast<unsigned>(reading->unit[1]) << 8;
        unsigned big_unit = reading->unit[1] | static_cast<unsigned>(reading->unit[0]) << 8;
        bool mark = reading->length == 2 && (little_unit == 0xFEFF || big_unit == 0xFEFF);
        reading->units += !mark;
        reading->little = reading->little && utf16_add(little_unit, &reading->little_high, &reading->little_ascii);
        reading->big = reading->big && utf16_add(big_unit, &reading->big_high, &reading->big_ascii);
    }
}

// A typed dump is hex digits, spaces and line ends: in UTF-16 most of its characters are
// ASCII, which random bytes read as UTF-16 almost never are.
text_encoding text_verdict(const text_reading *reading)
{
    if (reading->length == 0)
        return no_text;
    if (reading->utf8 && reading->utf8_pending == 0)
        return text_utf8;
    if (reading->length % 2 != 0 || reading->units == 0)
        return no_text;
    bool little = reading->little && !reading->little_high && reading->little_ascii * 2 >= reading->units;
    bool big = reading->big && !reading->big_high && reading->big_ascii * 2 >= reading->units;
    if (little && big)
        return reading->big_ascii > reading->little_ascii ? text_utf16_big : text_utf16_little;
    return little ? text_utf16_little : big ? text_utf16_big : no_text;
}

text_encoding text_encoding_of(FILE *stream)
{
    static unsigned char block[1 << 16];
    text_reading reading;
    text_start(&reading);
    size_t count;
    while ((count = fread(block, 1, sizeof block, stream)) > 0)
        text_add(&reading, block, count);
    return ferror(stream) ? no_text : text_verdict(&reading);
}

int unit_width(text_encoding encoding)
{
    return encoding == text_utf16_little || encoding == text_utf16_big ? 2 : 1;
}

int read_text_unit(FILE *stream, text_encoding encoding)
{
    int first = getc(stream);
    if (unit_width(encoding) == 1 || first == EOF)
        return first;
    int second = getc(stream);
    if (second == EOF)
        return EOF;
    return encoding == text_utf16_big ? first << 8 | second : second << 8 | first;
}
