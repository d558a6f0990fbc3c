#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/bram_file.h"
#include "../common/bramtools.h"
#include "../common/file_kinds.h"
#include "../common/safe_files.h"
#include "bramimage.h"

// The exit statuses of bramimage.
enum bramimage_status {
    status_done = 0,
    status_file_failed = 1, // a file or folder cannot be looked at, read, made or written, or is refused
    status_no_image = 2,    // no well-formed image, or neither an image nor a dump
    status_refused = 3,     // a request refused: a damaged dump, a name already there, too little room, ...
};

static const size_t largest_dump = 0xFFFF; // what a size field can say

static bram_image image;                    // the one image a run reads, and changes
static char change_said[8192];              // what a change says before the new list
static unsigned char dump[largest_dump + 1];
static unsigned char added[0x8000];         // files to append: more than any memory holds

// The usage lines of the commands, one a line, each after indent.
static void print_commands(FILE *out, const char *exe_name)
{
    fprintf(out,
            "  %s list <image or dump file>\n"
            "  %s extract <image> [<folder>]\n"
            "  %s add <image> <dump filename> [<dump filename ...>]\n"
            "  %s copy <from image> <to image> [<number> ...]\n"
            "  %s remove <image> <number> [<number ...>]\n",
            exe_name, exe_name, exe_name, exe_name, exe_name);
}

void print_usage(const char *exe_name)
{
    fputs("---[ USAGE ]------------------------------------------------------------------\n", stdout);
    print_commands(stdout, exe_name);
    fputs("  Moves files between a backup memory image, as emulators and flash carts\n"
          "  keep it, and dump files such as 'dumpentry' writes and 'bramarray' reads\n",
          stdout);
}

// Standard error, then the commands, for a command line that names no command or too little.
[[noreturn]] static void fail_with_commands(const char *exe_name)
{
    fflush(stdout);
    fputs("Cannot read the command line; the commands are:\n", stderr);
    print_commands(stderr, exe_name);
    fflush(stderr);
    exit(status_refused);
}

// True when the file at path starts as an image does (plain or gzip); false for any other, and
// for one that cannot be read (which the command says when it reads it).
static bool file_is_image(const char *path)
{
    FILE *stream = open_file(path, "rb");
    if (!stream)
        return false;
    static unsigned char start[kind_bytes];
    size_t length = fread(start, 1, sizeof start, stream);
    fclose(stream);
    return starts_image(start, length);
}

// The image comes first: said when a later argument is one and the first is not.
static void refuse_image_not_first(const char *first, char **later, int later_count, const char *usage)
{
    if (file_is_image(first))
        return;
    for (int k = 0; k < later_count; k++)
        if (file_is_image(later[k]))
            fail(status_refused, "'%s' is an image: the image comes first: bramimage %s\n", later[k], usage);
}

// The characters a name takes on screen: its UTF-8 characters (a katakana takes one).
static size_t shown_width(const char *text)
{
    size_t width = 0;
    for (; *text; text++)
        width += (static_cast<unsigned char>(*text) & 0xC0) != 0x80;
    return width;
}

// The list line of one file, its name padded to name_width characters on screen.
static void list_file(const char *number, const unsigned char *file, size_t length, size_t name_width, FILE *out)
{
    bram_tally tally;
    tally_whole(&tally, file, length);
    char name[64];
    printable_name(file, name, sizeof name);
    fprintf(out, "%3s  %s%*s  ID %02X %02X  %5u bytes  checksum %s\n", number, name,
            static_cast<int>(name_width - shown_width(name)), "", file[bram_id_at], file[bram_id_at + 1],
            get_le16(file), checksum_holds(&tally) ? "holds" : "does not hold");
}

// The widest name of the files listed, so that the columns after the names line up whatever
// a name holds (\x01 takes four characters).
static size_t widest_name(const bram_image *shown)
{
    size_t widest = 0;
    for (size_t k = 0; k < shown->count; k++) {
        char name[64];
        printable_name(shown->bytes + shown->offsets[k], name, sizeof name);
        widest = std::max(widest, shown_width(name));
    }
    return widest;
}

void list_image(const bram_image *shown, FILE *out)
{
    if (!shown->formatted) {
        fputs("0 files: not formatted yet ('add' and 'copy' format it)\n", out);
        return;
    }
    size_t name_width = widest_name(shown);
    for (size_t k = 0; k < shown->count; k++) {
        char number[24];
        snprintf(number, sizeof number, "%zu", k + 1);
        const unsigned char *file = shown->bytes + shown->offsets[k];
        list_file(number, file, get_le16(file), name_width, out);
    }
    fprintf(out, "%zu file%s, %zu bytes used, %zu bytes free\n", shown->count, shown->count == 1 ? "" : "s",
            first_free(shown) - image_header_size, image_room(shown));
}

static bool is_name_character(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
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
    size_t used = 0;
    for (size_t k = 0; k < length && used + 4 <= size; k++) {
        unsigned char c = header[bram_name_at + k];
        if (is_katakana(c))
            used += katakana_utf8(c, name + used);
        else
            name[used++] = is_name_character(c) && !(k == 0 && c == '.') ? static_cast<char>(c) : '_';
    }
    name[used] = '\0';
}

// Opens a file to read; a directory opens but cannot be read.
static FILE *open_to_read(const char *path)
{
    FILE *stream = open_file(path, "rb");
    if (!stream)
        fail_to_open_for_input(status_file_failed, path, true);
    if (is_directory(stream)) {
        errno = EISDIR;
        fail_to_open_for_input(status_file_failed, path, true);
    }
    return stream;
}

static void read_whole_image(const char *path)
{
    FILE *stream = open_to_read(path);
    if (!read_image(stream, &image))
        fail_to_read(status_file_failed, path, true);
    fclose(stream);
}

[[noreturn]] static void fail_no_image(const char *path, const char *fault)
{
    fail(status_no_image, "'%s' is not a backup memory image: %s\n", path, fault);
}

// Reads the image at path, and its index; ends the run when it is no well-formed one.
static void load_image(const char *path)
{
    read_whole_image(path);
    char fault[128];
    if (describe_image_fault(&image, fault, sizeof fault))
        fail_no_image(path, fault);
    read_index(&image);
}

// Before an image is changed: it must be one that may be replaced, and no other run may
// change it meanwhile. A missing image is made where may_make says so (true is returned then),
// an unformatted one formatted.
static bool load_image_to_change(const char *path, bool may_make)
{
    if (!lock_folder_of(path))
        fail_to_write(status_file_failed, path, true);
    refuse_unreplaceable(path);
    file_facts facts;
    bool made = may_make && !look_at(path, &facts);
    if (made) {
        image.length = 0;
        image.compressed = false;
        image.formatted = false;
    } else {
        load_image(path);
    }
    if (!image.formatted)
        format_image(&image);
    return made;
}

// Writes the image changed beside the old one, says what it holds now, and only then puts it
// in place of the old one: a run that cannot say so changes nothing, and one that replaced it
// ends there, as it succeeded.
[[noreturn]] static void replace_image_and_end(const char *path, bool made)
{
    pending_output *out = start_output(path);
    if (!out)
        fail_to_write(status_file_failed, path, true);
    errno = 0;
    if (!write_image(out->stream, &image) || !finish_output(out)) {
        if (errno == 0)
            errno = EIO;
        fail_to_write(status_file_failed, path, true);
    }
    if (made)
        printf("New image '%s'\n", path);
    fputs(change_said, stdout);
    list_image(&image, stdout);
    finish_standard_output(1);
    if (!commit_output(out))
        fail_to_write(status_file_failed, path, true);
    exit(status_done);
}

static size_t read_dump_file(const char *path)
{
    FILE *stream = open_to_read(path);
    size_t length = fread(dump, 1, sizeof dump, stream);
    if (ferror(stream))
        fail_to_read(status_file_failed, path, true);
    fclose(stream);
    return length;
}

// Says why the dump file just read is no well-formed backup memory file; false when it is one.
static bool describe_dump_fault(size_t length, char *fault, size_t size)
{
    if (length > largest_dump) {
        snprintf(fault, size, "is longer than %zu bytes", largest_dump);
        return true;
    }
    bram_tally tally;
    tally_whole(&tally, dump, length);
    return describe_file_fault(&tally, fault, size);
}

// A file that is no image, shown as a dump file when its size field says its length: status 0
// when its checksum holds too, else 3. Any other file is neither: status 2, with both reasons.
[[noreturn]] static void list_dump(const char *path, const char *image_fault)
{
    size_t length = read_dump_file(path);
    char fault[160];
    bool faulty = describe_dump_fault(length, fault, sizeof fault);
    bram_tally tally;
    tally_whole(&tally, dump, length);
    if (faulty && (length > largest_dump || !size_field_holds(&tally)))
        fail(status_no_image, "'%s' is neither a backup memory image (%s) nor a dump file (it %s)\n", path, image_fault,
             fault);
    char name[64];
    printable_name(dump, name, sizeof name);
    list_file("-", dump, length, shown_width(name), stdout);
    if (faulty)
        printf("'%s' is a dump file, not an image, and it %s\n", path, fault);
    else
        printf("'%s' is a dump file, not an image: its size field and checksum hold\n", path);
    finish_standard_output(status_file_failed);
    exit(faulty ? status_refused : status_done);
}

static void list_command(const char *path)
{
    read_whole_image(path);
    char fault[128];
    if (describe_image_fault(&image, fault, sizeof fault)) {
        bool dump_file = !image.compressed && image.length >= 4 && !is_image(image.bytes, image.length);
        if (dump_file)
            list_dump(path, fault);
        fail_no_image(path, fault);
    }
    read_index(&image);
    list_image(&image, stdout);
}

// The dump file names chosen, and what they were chosen from. A plain scan of the names chosen
// before finds a name taken: quick enough for the most files a memory holds (2 046 of one name
// in a few milliseconds).
static char dump_names[most_files][48];
static char bases[most_files][40];
static unsigned next_suffix[most_files]; // for the first file of each base: the suffix to try next

// Where names differ only in case they are one file (Windows), letters are compared folded.
static unsigned char folded(char c, bool ignore_case)
{
    return ignore_case && c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : static_cast<unsigned char>(c);
}

static bool same_name(const char *a, const char *b)
{
    static const bool ignore_case = names_ignore_case();
    for (; *a && folded(*a, ignore_case) == folded(*b, ignore_case); a++, b++) {
    }
    return folded(*a, ignore_case) == folded(*b, ignore_case);
}

static bool name_taken(const char *name, size_t chosen)
{
    for (size_t k = 0; k < chosen; k++)
        if (same_name(dump_names[k], name))
            return true;
    return false;
}

// The first file whose base is the base of file k.
static size_t first_of_base(size_t k)
{
    size_t first = 0;
    while (!same_name(bases[first], bases[k]))
        first++;
    return first;
}

// The dump file names of all files, "-2", "-3", ... added where two would meet.
static void choose_dump_names()
{
    for (size_t k = 0; k < image.count; k++) {
        char *base = bases[k];
        dump_file_base(image.bytes + image.offsets[k], k + 1, base + 1, sizeof bases[k] - 1);
        base[0] = '_'; // before a name the system keeps for a device
        if (!reserved_file_name(base + 1))
            memmove(base, base + 1, strlen(base));
        size_t family = first_of_base(k);
        if (family == k)
            next_suffix[k] = 2;
        snprintf(dump_names[k], sizeof dump_names[k], "%s.bin", base);
        while (name_taken(dump_names[k], k))
            snprintf(dump_names[k], sizeof dump_names[k], "%s-%u.bin", base, next_suffix[family]++);
    }
}

// A folder to extract into that is no folder cannot be opened; a missing one not made.
[[noreturn]] static void fail_on_folder(const char *folder, bool making)
{
    fail(status_file_failed, making && errno != ENOTDIR ? "Couldn't make folder '%s':" : "Couldn't open folder '%s':",
         folder);
}

static void dump_path(const char *folder, size_t k, char *path, size_t size)
{
    int length = folder ? snprintf(path, size, "%s/%s", folder, dump_names[k]) : snprintf(path, size, "%s", dump_names[k]);
    if (length < 0 || static_cast<size_t>(length) >= size) {
        errno = ENAMETOOLONG;
        fail_on_folder(folder, false);
    }
}

// Writes every file as a dump file into folder (null: the current folder), none over another.
static void extract_command(const char *path, const char *folder)
{
    load_image(path);
    if (folder && !make_folder_if_missing(folder))
        fail_on_folder(folder, true);
    choose_dump_names();
    char file_path[longest_path + 64];
    file_facts facts;
    for (size_t k = 0; k < image.count; k++) {
        dump_path(folder, k, file_path, sizeof file_path);
        char leads_to[longest_path];
        if (look_at(file_path, &facts) || !link_target(file_path, leads_to, sizeof leads_to)) // a link to nowhere too
            fail(status_refused, "'%s' exists already: nothing was extracted\n", file_path);
    }
    // Each file is written as every output is: beside its place, synced, then given its name,
    // never over a file that came meanwhile; a failure names the files extracted whole.
    for (size_t k = 0; k < image.count; k++) {
        dump_path(folder, k, file_path, sizeof file_path);
        pending_output *out = start_output(file_path);
        bool written = out && fwrite(image.bytes + image.offsets[k], 1, get_le16(image.bytes + image.offsets[k]),
                                     out->stream) == get_le16(image.bytes + image.offsets[k]);
        if (out && !written)
            discard_output(out);
        bool placed = written && finish_output(out) && commit_new_output_and_go_on(out);
        if (!placed && k == 0)
            fail(status_file_failed, "Couldn't write file '%s': %s; nothing was extracted\n", file_path, strerror(errno));
        if (!placed)
            fail(status_file_failed, "Couldn't write file '%s': %s; the %zu file%s listed before it %s extracted whole\n",
                 file_path, strerror(errno), k, k == 1 ? "" : "s", k == 1 ? "was" : "were");
        puts(file_path);
    }
}

// The files to append, held one after another in added, each named for the messages: a dump
// file's name, or a file number of the image copied from. Files past the room are only counted.
static size_t added_length, added_count;
static size_t added_at[most_files];
static const char *added_names[most_files];
static const char *copied_from; // the image copied from; null for dump files

static void describe_added(size_t k, char *text, size_t size)
{
    if (copied_from)
        snprintf(text, size, "file %s of '%s'", added_names[k], copied_from);
    else
        snprintf(text, size, "'%s'", added_names[k]);
}

static void add_to_list(const unsigned char *file, size_t length, const char *name)
{
    if (added_count == most_files || added_length + length > sizeof added) {
        added_length += length; // too much for any memory: the room check says so
        return;
    }
    added_names[added_count] = name;
    char label[4160], earlier[4160];
    describe_added(added_count, label, sizeof label);
    for (size_t k = 0; k < added_count; k++)
        if (same_key(added + added_at[k], file)) {
            describe_added(k, earlier, sizeof earlier);
            fail(status_refused, "%s and %s have the same ID and name\n", earlier, label);
        }
    memcpy(added + added_length, file, length);
    added_at[added_count++] = added_length;
    added_length += length;
}

// Refuses files of the same ID and name as one the image holds, and files past its room.
static void append_added(const char *path)
{
    for (size_t k = 0; k < added_count; k++)
        for (size_t file = 0; file < image.count; file++)
            if (same_key(image.bytes + image.offsets[file], added + added_at[k])) {
                char label[4160];
                describe_added(k, label, sizeof label);
                fail(status_refused, "%s has the same ID and name as file %zu of '%s'\n", label, file + 1, path);
            }
    if (added_length > sizeof added || !append_files(&image, added, added_length)) {
        size_t room = image_room(&image);
        fail(status_refused, "Too little room in '%s': the files take %zu bytes, %zu are free: %zu bytes missing\n", path,
             added_length, room, added_length - room);
    }
}

static void add_command(const char *path, char **dump_paths, int dump_count)
{
    refuse_image_not_first(path, dump_paths, dump_count, "add IMAGE DUMP");
    bool made = load_image_to_change(path, true);
    for (int k = 0; k < dump_count; k++) {
        size_t length = read_dump_file(dump_paths[k]);
        char fault[160];
        if (describe_dump_fault(length, fault, sizeof fault))
            fail(status_refused, "'%s' is not a well-formed backup memory file: it %s\n", dump_paths[k], fault);
        add_to_list(dump, length, dump_paths[k]);
    }
    append_added(path);
    replace_image_and_end(path, made);
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

// Marks the files numbered; ends the run when a number names none.
static void mark_numbered(char **numbers, int number_count, const char *path, bool *marked)
{
    for (int k = 0; k < number_count; k++) {
        size_t number = file_number(numbers[k], image.count);
        if (number == 0)
            fail(status_refused, "No file number '%s' in '%s': it holds %zu file%s\n", numbers[k], path, image.count,
                 image.count == 1 ? "" : "s");
        marked[number - 1] = true;
    }
}

static void remove_command(const char *path, char **numbers, int number_count)
{
    refuse_image_not_first(path, numbers, number_count, "remove IMAGE NUMBER");
    load_image_to_change(path, false);
    static bool removed[most_files];
    mark_numbered(numbers, number_count, path, removed);
    // Said with the new list, once the new image is written.
    size_t used = 0;
    for (size_t k = 0; k < image.count; k++) {
        if (!removed[k] || used >= sizeof change_said)
            continue;
        const unsigned char *file = image.bytes + image.offsets[k];
        char name[64];
        printable_name(file, name, sizeof name);
        size_t length = strlen(name);
        while (length > 0 && name[length - 1] == ' ')
            name[--length] = '\0';
        int said = snprintf(change_said + used, sizeof change_said - used, "Removed file %zu, '%s' (%u bytes)\n", k + 1,
                            name, get_le16(file));
        used += static_cast<size_t>(std::max(0, said));
    }
    remove_files(&image, removed);
    replace_image_and_end(path, false);
}

// Appends the files of one image, all or the numbered ones, to another; the first is only read.
static void copy_command(const char *from, const char *to, char **numbers, int number_count)
{
    if (same_place(from, to))
        fail(status_refused, "'%s' is both the image to copy from and the image to copy to\n", to);
    load_image(from);
    static bool chosen[most_files];
    if (number_count == 0)
        memset(chosen, 1, sizeof chosen);
    mark_numbered(numbers, number_count, from, chosen);
    static char numbers_shown[most_files][24];
    copied_from = from;
    for (size_t k = 0; k < image.count; k++) {
        if (!chosen[k])
            continue;
        snprintf(numbers_shown[k], sizeof numbers_shown[k], "%zu", k + 1);
        const unsigned char *file = image.bytes + image.offsets[k];
        add_to_list(file, get_le16(file), numbers_shown[k]);
    }
    bool made = load_image_to_change(to, true);
    append_added(to);
    replace_image_and_end(to, made);
}

int main(int argc, char **argv)
{
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "bramimage", print_usage, status_file_failed);
    if (argc < 2)
        exit_with_usage(argv[0], print_usage, status_file_failed);
    const char *command = argv[1];
    if (strcmp(command, "list") == 0 && argc == 3)
        list_command(argv[2]);
    else if (strcmp(command, "extract") == 0 && (argc == 3 || argc == 4))
        extract_command(argv[2], argc == 4 ? argv[3] : nullptr);
    else if (strcmp(command, "add") == 0 && argc >= 4)
        add_command(argv[2], argv + 3, argc - 3);
    else if (strcmp(command, "copy") == 0 && argc >= 4)
        copy_command(argv[2], argv[3], argv + 4, argc - 4);
    else if (strcmp(command, "remove") == 0 && argc >= 4)
        remove_command(argv[2], argv + 3, argc - 3);
    else
        fail_with_commands(argv[0]);
    finish_standard_output(status_file_failed);
    return status_done;
}
