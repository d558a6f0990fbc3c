#ifndef BRAMTOOLS_TEXT_ENCODING_H
#define BRAMTOOLS_TEXT_ENCODING_H

// Telling text from other bytes, and its encoding: UTF-8, or UTF-16 of either byte order with
// or without a byte order mark, whose characters are printable or tab, CR, LF, form feed or
// vertical tab. One verdict serves whatever reads, guards or rewrites a text.

#include <cstddef>
#include <cstdio>

enum text_encoding { no_text, text_utf8, text_utf16_little, text_utf16_big };

// The bytes seen so far, a block at a time.
struct text_reading {
    unsigned long length;
    bool utf8, little, big;         // each reading still possible
    unsigned utf8_pending;          // continuation bytes still due
    unsigned long utf8_code;        // the character they build
    unsigned long utf8_least;       // the least character of that many bytes (no overlong forms)
    unsigned char unit[2];          // a UTF-16 code unit being gathered
    unsigned little_high, big_high; // a high surrogate waiting for its low half (0: none)
    unsigned long little_ascii, big_ascii, units;
};
void text_start(text_reading *reading);
void text_add(text_reading *reading, const unsigned char *bytes, size_t count);
// UTF-8 where the bytes read as that, else the UTF-16 order they read in; no_text for none
// (an empty file included).
text_encoding text_verdict(const text_reading *reading);

// The verdict on what stream holds from where it stands to its end, which it reads; no_text
// also when a read fails (ferror says so).
text_encoding text_encoding_of(FILE *stream);

// Bytes per character unit of an encoding: 2 for UTF-16, else 1.
int unit_width(text_encoding encoding);
// The next character unit of a text: a byte, or a UTF-16 unit in the encoding's byte order, so
// that a character holding a 0x0A byte never ends a line; EOF at the end (a lone last byte too).
int read_text_unit(FILE *stream, text_encoding encoding);

#endif
