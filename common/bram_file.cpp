#include <cstdio>
#include <cstring>

#include "bram_file.h"

void tally_start(bram_tally *tally)
{
    memset(tally, 0, sizeof *tally);
}

void tally_add(bram_tally *tally, const unsigned char *bytes, size_t count)
{
    size_t k = 0;
    for (; k < count && tally->length < bram_header_size; k++, tally->length++) {
        tally->header[tally->length] = bytes[k];
        if (tally->length >= bram_summed_from)
            tally->sum += bytes[k];
    }
    unsigned sum = tally->sum;
    for (size_t rest = k; rest < count; rest++)
        sum += bytes[rest];
    tally->sum = sum & 0xFFFF;
    tally->length += count - k;
}

void tally_whole(bram_tally *tally, const unsigned char *bytes, size_t length)
{
    tally_start(tally);
    tally_add(tally, bytes, length);
}

unsigned get_le16(const unsigned char *bytes)
{
    return bytes[0] | static_cast<unsigned>(bytes[1]) << 8;
}

void put_le16(unsigned char *bytes, unsigned value)
{
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>(value >> 8 & 0xFF);
}

bool tally_has_header(const bram_tally *tally)
{
    return tally->length >= bram_header_size;
}

unsigned size_field(const bram_tally *tally)
{
    return get_le16(tally->header + bram_size_at);
}

unsigned stored_checksum(const bram_tally *tally)
{
    return get_le16(tally->header + bram_checksum_at);
}

unsigned computed_checksum(const bram_tally *tally)
{
    return (0x10000 - (tally->sum & 0xFFFF)) & 0xFFFF;
}

bool size_field_holds(const bram_tally *tally)
{
    return tally_has_header(tally) && size_field(tally) == tally->length;
}

bool checksum_holds(const bram_tally *tally)
{
    return tally_has_header(tally) && stored_checksum(tally) == computed_checksum(tally);
}

int checksum_offset(const bram_tally *tally)
{
    int offset = static_cast<int>((tally->sum + stored_checksum(tally)) & 0xFFFF);
    return offset >= 0x8000 ? offset - 0x10000 : offset;
}

bool describe_file_fault(const bram_tally *tally, char *text, size_t size)
{
    if (!tally_has_header(tally)) {
        snprintf(text, size, "is shorter than %zu bytes", bram_header_size);
        return true;
    }
    char size_fault[96] = "", checksum_fault[96] = "";
    if (!size_field_holds(tally))
        snprintf(size_fault, sizeof size_fault, "has a size field of %u bytes but holds %lu",
                 size_field(tally), tally->length);
    if (!checksum_holds(tally))
        snprintf(checksum_fault, sizeof checksum_fault,
                 "has a checksum that does not hold (stored 0x%04X, computed 0x%04X)",
                 stored_checksum(tally), computed_checksum(tally));
    if (!size_fault[0] && !checksum_fault[0])
        return false;
    const char *joint = size_fault[0] && checksum_fault[0] ? " and " : "";
    snprintf(text, size, "%s%s%s", size_fault, joint, checksum_fault);
    return true;
}

bool same_key(const unsigned char *header_a, const unsigned char *header_b)
{
    return memcmp(header_a + bram_id_at, header_b + bram_id_at, bram_key_length) == 0;
}

bool is_katakana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
}

// Half-width katakana 0xA1-0xDF are U+FF61-U+FF9F, three bytes of UTF-8 each.
size_t katakana_utf8(unsigned char c, char *text)
{
    unsigned code = 0xFF61 + (c - 0xA1u);
    text[0] = static_cast<char>(0xE0 | code >> 12);
    text[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    text[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
}

void printable_name(const unsigned char *header, char *text, size_t size)
{
    size_t used = 0;
    text[0] = '\0';
    for (size_t k = 0; k < bram_name_length; k++) {
        unsigned char c = header[bram_name_at + k];
        char piece[8];
        size_t length;
        if (is_katakana(c)) {
            length = katakana_utf8(c, piece);
        } else if (c >= 0x20 && c <= 0x7E && c != '\\') {
            piece[0] = static_cast<char>(c);
            length = 1;
        } else {
            length = static_cast<size_t>(snprintf(piece, sizeof piece, "\\x%02X", c));
        }
        if (used + length >= size)
            break;
        memcpy(text + used, piece, length);
        used += length;
        text[used] = '\0';
    }
}
