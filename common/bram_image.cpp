#include <cstring>
#include <zlib.h>

#include "bram_file.h"
#include "bram_image.h"

static const unsigned char magic[4] = {'H', 'U', 'B', 'M'};
static const size_t end_address_at = 4;
static const size_t free_address_at = 6;
static const unsigned char gzip_magic[2] = {0x1F, 0x8B};
static unsigned char chunk[1 << 14]; // compressed bytes on their way in or out

// Moves the compressed bytes not yet taken to the start of chunk and reads more after them.
static void refill(FILE *stream, z_stream *packed)
{
    memmove(chunk, packed->next_in, packed->avail_in);
    packed->next_in = chunk;
    packed->avail_in += static_cast<uInt>(fread(chunk + packed->avail_in, 1, sizeof chunk - packed->avail_in, stream));
}

// Uncompresses what follows the two bytes already read into the image: every gzip member, one
// after another, as gzip -d reads them.
static bool read_compressed(FILE *stream, bram_image *image)
{
    z_stream packed{};
    if (inflateInit2(&packed, 15 + 16) != Z_OK)
        return false;
    memcpy(chunk, gzip_magic, sizeof gzip_magic);
    packed.next_in = chunk;
    packed.avail_in = static_cast<uInt>(sizeof gzip_magic + fread(chunk + 2, 1, sizeof chunk - 2, stream));
    packed.next_out = image->bytes;
    packed.avail_out = sizeof image->bytes;
    int result = Z_OK;
    for (;;) {
        if (packed.avail_in < sizeof gzip_magic)
            refill(stream, &packed);
        if (result == Z_STREAM_END) {
            if (packed.avail_in == 0)
                break; // the last member
            if (packed.avail_in < sizeof gzip_magic || memcmp(packed.next_in, gzip_magic, sizeof gzip_magic) != 0) {
                image->trailing = true;
                break;
            }
            inflateReset(&packed);
        }
        if (packed.avail_out == 0)
            break; // larger than any image
        result = inflate(&packed, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            break;
    }
    image->length = static_cast<size_t>(packed.next_out - image->bytes);
    image->unpacked = result == Z_STREAM_END || packed.avail_out == 0;
    inflateEnd(&packed);
    return !ferror(stream);
}

bool read_image(FILE *stream, bram_image *image)
{
    image->length = fread(image->bytes, 1, sizeof gzip_magic, stream);
    image->compressed = image->length == sizeof gzip_magic && memcmp(image->bytes, gzip_magic, sizeof gzip_magic) == 0;
    image->unpacked = true;
    image->trailing = false;
    if (image->compressed)
        return read_compressed(stream, image);
    image->length += fread(image->bytes + image->length, 1, sizeof image->bytes - image->length, stream);
    return !ferror(stream);
}

static bool write_compressed(FILE *stream, const bram_image *image)
{
    z_stream packed{};
    if (deflateInit2(&packed, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    gz_header header{};
    header.os = 3; // the same bytes whatever system writes them
    deflateSetHeader(&packed, &header);
    packed.next_in = const_cast<unsigned char *>(image->bytes);
    packed.avail_in = static_cast<uInt>(image->length);
    int result = Z_OK;
    while (result == Z_OK) {
        packed.next_out = chunk;
        packed.avail_out = sizeof chunk;
        result = deflate(&packed, Z_FINISH);
        fwrite(chunk, 1, sizeof chunk - packed.avail_out, stream);
    }
    deflateEnd(&packed);
    return result == Z_STREAM_END && !ferror(stream);
}

bool write_image(FILE *stream, const bram_image *image)
{
    if (image->compressed)
        return write_compressed(stream, image);
    fwrite(image->bytes, 1, image->length, stream);
    return !ferror(stream);
}

static bool all_zero(const unsigned char *bytes, size_t length)
{
    for (size_t k = 0; k < length; k++)
        if (bytes[k] != 0)
            return false;
    return true;
}

size_t first_free(const bram_image *image)
{
    return get_le16(image->bytes + free_address_at) - memory_address;
}

size_t image_room(const bram_image *image)
{
    return image->memory_end - first_free(image) - end_mark_size;
}

static void find_files(bram_image *image)
{
    image->count = 0;
    for (size_t at = image_header_size; at < first_free(image); at += get_le16(image->bytes + at))
        image->offsets[image->count++] = at;
}

// An empty file, or one of zeros only, that no game has formatted yet.
static bool is_formatted(const bram_image *image)
{
    return image->length > 0 && !(image->length >= fresh_memory_size && all_zero(image->bytes, image->length));
}

// Where the memory ends: at its end address, or at the end of a file that is shorter.
static size_t memory_end_of(const bram_image *image)
{
    size_t end = get_le16(image->bytes + end_address_at) - memory_address;
    return image->length < end ? image->length : end;
}

bool is_image(const unsigned char *bytes, size_t length)
{
    return length >= sizeof magic && memcmp(bytes, magic, sizeof magic) == 0;
}

// The end address against the file's length: a memory that would end past the file ends with
// it, where the file holds 2 KiB at least.
static bool describe_memory_fault(const bram_image *image, char *text, size_t size)
{
    unsigned end = get_le16(image->bytes + end_address_at);
    if (end < memory_address + image_header_size + end_mark_size) {
        snprintf(text, size, "the end address 0x%04X at byte %zu leaves no room for files", end, end_address_at);
        return true;
    }
    size_t said_end = end - memory_address;
    if (image->length < said_end && image->length < fresh_memory_size) {
        snprintf(text, size, "it is %zu bytes long, shorter than the %zu bytes its header says at byte %zu",
                 image->length, said_end, end_address_at);
        return true;
    }
    unsigned free_address = get_le16(image->bytes + free_address_at);
    if (free_address < memory_address + image_header_size ||
        free_address - memory_address + end_mark_size > memory_end_of(image)) {
        snprintf(text, size, "the first-free address 0x%04X at byte %zu is outside the memory", free_address,
                 free_address_at);
        return true;
    }
    return false;
}

// Says which file of the memory runs astray, or that its end mark is missing.
static bool describe_files_fault(const bram_image *image, char *text, size_t size)
{
    size_t free_at = first_free(image);
    for (size_t at = image_header_size; at < free_at;) {
        unsigned file_size = get_le16(image->bytes + at);
        if (file_size < bram_header_size) {
            snprintf(text, size, "the file at byte %zu has a size of %u, under 16", at, file_size);
            return true;
        }
        if (at + file_size > free_at) {
            snprintf(text, size, "the file at byte %zu runs past the first free byte, %zu", at, free_at);
            return true;
        }
        at += file_size;
    }
    if (image->bytes[free_at] != 0 || image->bytes[free_at + 1] != 0) {
        snprintf(text, size, "no two zero bytes at the first free byte, %zu", free_at);
        return true;
    }
    return false;
}

bool describe_image_fault(const bram_image *image, char *text, size_t size)
{
    if (image->compressed && !image->unpacked) {
        snprintf(text, size, "its gzip compression is damaged");
        return true;
    }
    if (image->trailing) {
        snprintf(text, size, "bytes that begin no gzip member follow its last one");
        return true;
    }
    if (image->length > largest_image) {
        snprintf(text, size, "it is larger than %zu bytes", largest_image);
        return true;
    }
    if (!is_formatted(image))
        return false;
    if (image->length < image_header_size || !is_image(image->bytes, image->length)) {
        snprintf(text, size, "no \"HUBM\" at byte 0");
        return true;
    }
    return describe_memory_fault(image, text, size) || describe_files_fault(image, text, size);
}

void read_index(bram_image *image)
{
    image->formatted = is_formatted(image);
    image->count = 0;
    if (!image->formatted) {
        image->memory_end = image->length;
        return;
    }
    image->memory_end = memory_end_of(image);
    find_files(image);
}

static void set_first_free(bram_image *image, size_t offset)
{
    put_le16(image->bytes + free_address_at, static_cast<unsigned>(memory_address + offset));
    image->bytes[offset] = 0;
    image->bytes[offset + 1] = 0;
}

void format_image(bram_image *image)
{
    if (image->length < fresh_memory_size) {
        memset(image->bytes, 0, fresh_memory_size);
        image->length = fresh_memory_size;
    }
    memcpy(image->bytes, magic, sizeof magic);
    put_le16(image->bytes + end_address_at, static_cast<unsigned>(memory_address + fresh_memory_size));
    set_first_free(image, image_header_size);
    image->memory_end = fresh_memory_size;
    image->formatted = true;
    image->count = 0;
}

bool append_files(bram_image *image, const unsigned char *files, size_t length)
{
    if (length > image_room(image))
        return false;
    size_t at = first_free(image);
    memcpy(image->bytes + at, files, length);
    set_first_free(image, at + length);
    find_files(image);
    return true;
}

void remove_files(bram_image *image, const bool *removed)
{
    size_t old_end = first_free(image) + end_mark_size;
    size_t kept_end = image_header_size;
    for (size_t k = 0; k < image->count; k++) {
        size_t length = get_le16(image->bytes + image->offsets[k]);
        if (removed[k])
            continue;
        memmove(image->bytes + kept_end, image->bytes + image->offsets[k], length);
        kept_end += length;
    }
    memset(image->bytes + kept_end, 0, old_end - kept_end);
    set_first_free(image, kept_end);
    find_files(image);
}
