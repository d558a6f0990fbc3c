// Any bytes as a backup memory image: the reader either finds a fault or lists the image, and
// removing a file from a well-formed image leaves a well-formed image.
#include <cstdint>
#include <cstring>

#include "../bramimage/bramimage.h"

static void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static unsigned char image[1 << 16];
    if (size > sizeof image)
        return 0;
    memcpy(image, data, size);
    char fault[128];
    if (describe_image_fault(image, size, fault, sizeof fault)) {
        check(strlen(fault) > 0 && strlen(fault) < sizeof fault);
        return 0;
    }
    FILE *out = fopen("/dev/null", "w");
    check(out != nullptr);
    list_image(image, out);
    fclose(out);

    static size_t offsets[most_files];
    size_t count = find_files(image, offsets);
    check(count <= most_files);
    if (count > 0) {
        static bool removed[most_files];
        memset(removed, 0, sizeof removed);
        removed[0] = true;
        remove_files(image, removed);
        check(!describe_image_fault(image, size, fault, sizeof fault));
        check(find_files(image, offsets) == count - 1);
    }
    return 0;
}
