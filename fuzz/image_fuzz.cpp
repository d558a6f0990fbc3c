// Any bytes as a backup memory image, plain or gzip-compressed: the reader either finds a
// fault or lists the image, and removing a file from a well-formed image, or adding one to it,
// leaves a well-formed image that reads back the same.
#include <cstdint>
#include <cstring>

#include "../bramimage/bramimage.h"

static void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

static bram_image image, again;

// Writes the image and reads it back: the same bytes, whether compressed or not.
static void check_round_trip()
{
    static unsigned char written[largest_image + 4096];
    FILE *out = fmemopen(written, sizeof written, "wb");
    check(out && write_image(out, &image));
    long length = ftell(out);
    fclose(out);
    FILE *in = fmemopen(written, static_cast<size_t>(length), "rb");
    check(in && read_image(in, &again));
    fclose(in);
    check(again.length == image.length && memcmp(again.bytes, image.bytes, image.length) == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > (1 << 16))
        return 0; // an empty memory stream cannot be opened
    FILE *in = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    check(in && read_image(in, &image));
    fclose(in);
    char fault[128];
    if (describe_image_fault(&image, fault, sizeof fault)) {
        check(strlen(fault) > 0 && strlen(fault) < sizeof fault);
        return 0;
    }
    read_index(&image);
    FILE *out = fopen("/dev/null", "w");
    check(out != nullptr);
    list_image(&image, out);
    fclose(out);
    if (!image.formatted)
        format_image(&image);

    size_t count = image.count;
    if (count > 0) {
        static bool removed[most_files];
        memset(removed, 0, sizeof removed);
        removed[0] = true;
        remove_files(&image, removed);
        check(!describe_image_fault(&image, fault, sizeof fault) && image.count == count - 1);
    }
    static const unsigned char file[16] = {16, 0, 0xFF, 0xFF, 1, 0, 'F', 'U', 'Z', 'Z', ' ', ' ', ' ', ' ', ' ', ' '};
    bool fits = image_room(&image) >= sizeof file;
    check(append_files(&image, file, sizeof file) == fits);
    check(!describe_image_fault(&image, fault, sizeof fault));
    check_round_trip();
    return 0;
}
