#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "../common/bram_file.h"
#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "bramimage.h"

static const unsigned char magic[4] = {'H', 'U', 'B', 'M'};
static const size_t end_address_at = 4;
static const size_t free_address_at = 6;
static const size_t largest_image = 1 << 20; // larger files are not taken for images
static const size_t largest_dump = 0xFFFF;   // what a size field can say

static unsigned char image[largest_image + 1];
static size_t image_length;
static size_t file_offsets[most_files]; // where the image's files start, as it was read
static size_t file_count;

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s list <image>\n"
           "  %s extract <image> [<folder>]\n"
           "  %s add <image> <dump filename> [<dump filename ...>]\n"
           "  %s remove <image> <number> [<number ...>]\n"
           "  Moves files between a backup memory image, as emulators and flash carts\n"
           "  keep it, and dump files such as 'dumpentry' writes and 'bramarray' reads\n",
           exe_name, exe_name, exe_name, exe_name);
}

size_t memory_size(const unsigned char *image)
{
    return get_le16(image + end_address_at) - memory_address;
}

size_t free_offset(const unsigned char *image)
{
    return get_le16(image + free_address_at) - memory_address;
}

static const char *describe_memory_fault(const unsigned char *image, size_t length, char *text, size_t size)
{
    unsigned end = get_le16(image + end_address_at);
    if (end < memory_address + image_header_size + 2) {
        snprintf(text, size, "the end address 0x%04X at byte %zu leaves no room for files", end, end_address_at);
        return text;
    }
    if (length < memory_size(image)) {
        snprintf(text, size, "it is %zu bytes long, shorter than the %zu bytes its header says at byte %zu", length,
                 memory_size(image), end_address_at);
        return text;
    }
    unsigned first_free = get_le16(image + free_address_at);
    if (first_free < memory_address + image_header_size || first_free - memory_address + 2 > memory_size(image)) {
        snprintf(text, size, "the first-free address 0x%04X at byte %zu is outside the memory", first_free,
                 free_address_at);
        return text;
    }
    return nullptr;
}

bool describe_image_fault(const unsigned char *image, size_t length, char *text, size_t size)
{
    if (length < image_header_size || memcmp(image, magic, sizeof magic) != 0) {
        snprintf(text, size, "no \"HUBM\" at byte 0");
        return true;
    }
    if (describe_memory_fault(image, length, text, size))
        return true;
    size_t first_free = free_offset(image);
    for (size_t at = image_header_size; at < first_free;) {
        unsigned file_size = get_le16(image + at);
        if (file_size < bram_header_size) {
            snprintf(text, size, "the file at byte %zu has a size of %u, under 16", at, file_size);
            return true;
        }
        if (at + file_size > first_free) {
            snprintf(text, size, "the file at byte %zu runs past the first free byte, %zu", at, first_free);
            return true;
        }
        at += file_size;
    }
    if (image[first_free] != 0 || image[first_free + 1] != 0) {
        snprintf(text, size, "no two zero bytes at the first free byte, %zu", first_free);
        return true;
    }
    return false;
}

size_t find_files(const unsigned char *image, size_t *offsets)
{
    size_t count = 0;
    for (size_t at = image_header_size; at < free_offset(image); at += get_le16(image + at))
        offsets[count++] = at;
    return count;
}

void format_image(unsigned char *image)
{
    memset(image, 0, fresh_memory_size);
    memcpy(image, magic, sizeof magic);
    put_le16(image + end_address_at, static_cast<unsigned>(memory_address + fresh_memory_size));
    put_le16(image + free_address_at, static_cast<unsigned>(memory_address + image_header_size));
}

void list_image(const unsigned char *image, FILE *out)
{
    static size_t offsets[most_files];
    size_t count = find_files(image, offsets);
    for (size_t k = 0; k < count; k++) {
        const unsigned char *file = image + offsets[k];
        bram_tally tally;
        tally_whole(&tally, file, get_le16(file));
        char name[64];
        printable_name(file, name, sizeof name);
        fprintf(out, "%3zu  %-10s  ID %02X %02X  %5u bytes  checksum %s\n", k + 1, name, file[bram_id_at],
                file[bram_id_at + 1], get_le16(file), checksum_holds(&tally) ? "holds" : "does not hold");
    }
    size_t used = free_offset(image) - image_header_size;
    fprintf(out, "%zu file%s, %zu bytes used, %zu bytes free\n", count, count == 1 ? "" : "s", used,
            memory_size(image) - free_offset(image) - 2);
}

static void set_first_free(unsigned char *image, size_t offset)
{
    put_le16(image + free_address_at, static_cast<unsigned>(memory_address + offset));
    image[offset] = 0;
    image[offset + 1] = 0;
}

void append_files(unsigned char *image, const unsigned char *files, size_t length)
{
    size_t at = free_offset(image);
    memcpy(image + at, files, length);
    set_first_free(image, at + length);
}

void remove_files(unsigned char *image, const bool *removed)
{
    static size_t offsets[most_files];
    size_t count = find_files(image, offsets);
    size_t old_end = free_offset(image) + 2;
    size_t kept_end = image_header_size;
    for (size_t k = 0; k < count; k++) {
        size_t length = get_le16(image + offsets[k]);
        if (removed[k])
            continue;
        memmove(image + kept_end, image + offsets[k], length);
        kept_end += length;
    }
    memset(image + kept_end, 0, old_end - kept_end);
    set_first_free(image, kept_end);
}

void dump_file_base(const unsigned char *header, size_t number, char *name, size_t size)
{
    size_t length = bram_name_length;
    while (length > 0 && header[bram_name_at + length - 1] == ' ')
        length--;
    if (length == 0) {
        snprintf(name, size, "file-%zu", number);
        return;
    }
    size_t k = 0;
    for (; k < length && k + 1 < size; k++) {
        char c = static_cast<char>(header[bram_name_at + k]);
        bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.';
        name[k] = kept ? c : '_';
    }
    name[k] = '\0';
}

// Reads the whole file at path into buffer; ends the run when it cannot be read, or when it
// holds more than capacity bytes (then the return value is capacity + 1).
static size_t read_whole_file(const char *path, unsigned char *buffer, size_t capacity)
{
    FILE *stream = fopen(path, "rb");
    if (!stream || is_directory(stream))
        fail(1, "Couldn't open file '%s' for input\n", path);
    size_t length = fread(buffer, 1, capacity + 1, stream);
    if (ferror(stream))
        fail(1, "Couldn't read file '%s'\n", path);
    fclose(stream);
    return length;
}

static void load_image(const char *path)
{
    image_length = read_whole_file(path, image, largest_image);
    char fault[128];
    if (image_length > largest_image)
        fail(2, "'%s' is not a backup memory image: it is larger than %zu bytes\n", path, largest_image);
    if (describe_image_fault(image, image_length, fault, sizeof fault))
        fail(2, "'%s' is not a backup memory image: %s\n", path, fault);
    file_count = find_files(image, file_offsets);
}

static void save_image(const char *path)
{
    if (!replace_file(path, image, image_length))
        fail(1, "Couldn't write file '%s'\n", path);
}

static void list_command(const char *path)
{
    load_image(path);
    list_image(image, stdout);
}

// The dump file names of all files, "-2", "-3", ... added where two would meet.
static void choose_dump_names(char (*names)[32])
{
    for (size_t k = 0; k < file_count; k++) {
        char base[16];
        dump_file_base(image + file_offsets[k], k + 1, base, sizeof base);
        snprintf(names[k], sizeof names[k], "%s.bin", base);
        for (unsigned suffix = 2; suffix < 2 + most_files; suffix++) {
            bool taken = false;
            for (size_t earlier = 0; earlier < k && !taken; earlier++)
                taken = strcmp(names[earlier], names[k]) == 0;
            if (!taken)
                break;
            snprintf(names[k], sizeof names[k], "%s-%u.bin", base, suffix);
        }
    }
}

// Writes every file as a dump file into folder (null: the current folder), none over another.
static void extract_command(const char *path, const char *folder)
{
    load_image(path);
    struct stat st;
    if (folder && (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)))
        fail(1, "Couldn't open folder '%s'\n", folder);
    static char names[most_files][32];
    static char paths[most_files][4096 + 32];
    choose_dump_names(names);
    for (size_t k = 0; k < file_count; k++) {
        int length = folder ? snprintf(paths[k], sizeof paths[k], "%s/%s", folder, names[k])
                            : snprintf(paths[k], sizeof paths[k], "%s", names[k]);
        if (length < 0 || static_cast<size_t>(length) >= sizeof paths[k])
            fail(1, "Couldn't open folder '%s'\n", folder);
        if (lstat(paths[k], &st) == 0)
            fail(3, "'%s' exists already: nothing was extracted\n", paths[k]);
    }
    for (size_t k = 0; k < file_count; k++) {
        FILE *out = fopen(paths[k], "wbx");
        if (!out)
            fail(1, "Couldn't open file '%s' for output\n", paths[k]);
        fwrite(image + file_offsets[k], 1, get_le16(image + file_offsets[k]), out);
        if (!close_written(out)) {
            remove(paths[k]);
            fail(1, "Couldn't write file '%s'\n", paths[k]);
        }
        puts(paths[k]);
    }
}

// A dump that may go into the image: well-formed, and of a name that neither the image nor
// an earlier dump of the same run holds.
static size_t read_dump(char **dump_paths, int k, const char *image_path, unsigned char *dump)
{
    static unsigned char given[most_files][bram_header_size]; // the headers of earlier dumps
    size_t length = read_whole_file(dump_paths[k], dump, largest_dump);
    bram_tally tally;
    tally_whole(&tally, dump, length);
    char fault[160];
    if (length > largest_dump)
        fail(3, "'%s' is not a well-formed backup memory file: it is longer than %zu bytes\n", dump_paths[k],
             largest_dump);
    if (describe_file_fault(&tally, fault, sizeof fault))
        fail(3, "'%s' is not a well-formed backup memory file: it %s\n", dump_paths[k], fault);
    for (size_t file = 0; file < file_count; file++)
        if (same_key(image + file_offsets[file], dump))
            fail(3, "'%s' has the same ID and name as file %zu of '%s'\n", dump_paths[k], file + 1, image_path);
    for (int earlier = 0; earlier < k && earlier < static_cast<int>(most_files); earlier++)
        if (same_key(given[earlier], dump))
            fail(3, "'%s' and '%s' have the same ID and name\n", dump_paths[earlier], dump_paths[k]);
    if (k < static_cast<int>(most_files))
        memcpy(given[k], dump, bram_header_size);
    return length;
}

static void add_command(const char *path, char **dump_paths, int dump_count)
{
    struct stat st;
    if (stat(path, &st) != 0 && errno == ENOENT) {
        format_image(image);
        image_length = fresh_memory_size;
        file_count = 0;
    } else {
        load_image(path);
    }
    static unsigned char dump[largest_dump + 1];
    static unsigned char added[fresh_memory_size * 16]; // more than any memory holds
    size_t room = memory_size(image) - free_offset(image) - 2;
    size_t needed = 0;
    for (int k = 0; k < dump_count; k++) {
        size_t length = read_dump(dump_paths, k, path, dump);
        if (needed + length <= room)
            memcpy(added + needed, dump, length);
        needed += length;
    }
    if (needed > room)
        fail(3, "Too little room in '%s': the files take %zu bytes, %zu are free: %zu bytes missing\n", path,
             needed, room, needed - room);
    append_files(image, added, needed);
    save_image(path);
    list_image(image, stdout);
}

// A number as list shows it: digits only, from 1 to count; 0 when it is not one.
static size_t file_number(const char *text, size_t count)
{
    size_t number = 0;
    for (const char *c = text; *c; c++) {
        if (*c < '0' || *c > '9' || number > count)
            return 0;
        number = number * 10 + static_cast<size_t>(*c - '0');
    }
    return number <= count ? number : 0;
}

static void remove_command(const char *path, char **numbers, int number_count)
{
    load_image(path);
    static bool removed[most_files];
    for (int k = 0; k < number_count; k++) {
        size_t number = file_number(numbers[k], file_count);
        if (number == 0)
            fail(3, "No file number '%s' in '%s': it holds %zu file%s\n", numbers[k], path, file_count,
                 file_count == 1 ? "" : "s");
        removed[number - 1] = true;
    }
    remove_files(image, removed);
    save_image(path);
    list_image(image, stdout);
}

int main(int argc, char **argv)
{
    start_safely();
    exit_if_help_or_version(argc, argv, "bramimage", print_usage, 1);
    if (argc < 2)
        exit_with_usage(argv[0], print_usage, 1);
    const char *command = argv[1];
    if (strcmp(command, "list") == 0 && argc == 3)
        list_command(argv[2]);
    else if (strcmp(command, "extract") == 0 && (argc == 3 || argc == 4))
        extract_command(argv[2], argc == 4 ? argv[3] : nullptr);
    else if (strcmp(command, "add") == 0 && argc >= 4)
        add_command(argv[2], argv + 3, argc - 3);
    else if (strcmp(command, "remove") == 0 && argc >= 4)
        remove_command(argv[2], argv + 3, argc - 3);
    else
        fail(3, "Cannot read the command line: '%s --help' shows how it goes\n", argv[0]);
    return EXIT_SUCCESS;
}
