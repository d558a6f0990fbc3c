#include <cstring>
#include <zlib.h>

#include "bram_image.h"
#include "file_kinds.h"

bool starts_image(const unsigned char *start, size_t length)
{
    if (is_image(start, length))
        return true;
    if (length < 2 || start[0] != 0x1F || start[1] != 0x8B)
        return false;
    unsigned char unpacked[image_header_size];
    z_stream packed{};
    packed.next_in = const_cast<unsigned char *>(start);
    packed.avail_in = static_cast<uInt>(length);
    packed.next_out = unpacked;
    packed.avail_out = sizeof unpacked;
    if (inflateInit2(&packed, 16 + MAX_WBITS) != Z_OK)
        return false;
    inflate(&packed, Z_SYNC_FLUSH);
    size_t got = sizeof unpacked - packed.avail_out;
    inflateEnd(&packed);
    return is_image(unpacked, got);
}

static bool starts_with(const unsigned char *start, size_t length, const char *magic, size_t magic_length)
{
    return length >= magic_length && memcmp(start, magic, magic_length) == 0;
}

static unsigned long little_endian_32(const unsigned char *bytes)
{
    return bytes[0] | static_cast<unsigned long>(bytes[1]) << 8 | static_cast<unsigned long>(bytes[2]) << 16 |
           static_cast<unsigned long>(bytes[3]) << 24;
}

// A dump file starts with its size and checksum, which may spell "BM" or "P5": a BMP header
// also gives the file's size, and a PNM header its width after white space.
const char *picture_format(const unsigned char *start, size_t length, unsigned long long file_size)
{
    if (starts_with(start, length, "\x89PNG\r\n\x1A\n", 8))
        return "PNG";
    if (starts_with(start, length, "\xFF\xD8\xFF", 3))
        return "JPEG";
    if (starts_with(start, length, "GIF87a", 6) || starts_with(start, length, "GIF89a", 6))
        return "GIF";
    if (starts_with(start, length, "BM", 2) && length >= 6 && little_endian_32(start + 2) == file_size)
        return "BMP";
    if (starts_with(start, length, "II*\0", 4) || starts_with(start, length, "MM\0*", 4))
        return "TIFF";
    if (length >= 12 && starts_with(start, length, "RIFF", 4) && memcmp(start + 8, "WEBP", 4) == 0)
        return "WebP";
    auto space = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    bool pnm = length >= 4 && start[0] == 'P' && start[1] >= '1' && start[1] <= '7' && space(start[2]) &&
               (start[3] == '#' || (start[3] >= '0' && start[3] <= '9') || space(start[3]));
    return pnm ? "PNM" : nullptr;
}
