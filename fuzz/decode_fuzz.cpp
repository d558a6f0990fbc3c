// Whole typed dumps through the line reader and the decoders, as dumpentry reads an input file.
#include <cstdint>
#include <cstring>

#include "../dumpentry/plain.h"

static void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

// The size the header announces: the header is the first line (of at most 254 characters a
// read) that holds a letter or a digit.
static unsigned announced_size(const uint8_t *data, size_t size)
{
    char raw[256], header[256] = "";
    for (size_t at = 0; at < size && !header[0];) {
        size_t length = 0;
        while (at < size && length < 254) {
            raw[length++] = static_cast<char>(data[at]);
            if (data[at++] == '\n')
                break;
        }
        filter_line(raw, length, header);
    }
    unsigned encoding = 0, dump_size = 0;
    parse_plain_header(header, &encoding, &dump_size);
    return dump_size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static char dump_bytes[0x10000 + 64];
    static dump_file dump;
    if (size == 0)
        return 0; // an empty memory stream cannot be opened
    in = fmemopen(const_cast<uint8_t *>(data), size, "r");
    FILE *out = fmemopen(dump_bytes, sizeof dump_bytes, "wb");
    check(in && out);
    dump.out = out;
    dump.encodings_known = decoder_count;

    int encoding = -1;
    decode_result result = transcribe(&dump, &encoding);
    check(strlen(transformed_buffer) <= 254);
    long written = ftell(out);
    if (result == decode_complete)
        check(encoding == 0 && written == static_cast<long>(announced_size(data, size)));
    else
        check(result != decode_write_error && result != decode_read_error);
    if (result == decode_unknown_encoding)
        check(encoding < 0 || encoding >= decoder_count);

    fclose(out);
    fclose(in);
    in = nullptr;
    return 0;
}
