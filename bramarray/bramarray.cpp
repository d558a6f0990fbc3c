#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/bram_file.h"
#include "../common/bram_image.h"
#include "../common/bramtools.h"
#include "../common/file_kinds.h"
#include "../common/safe_files.h"
#include "../common/text_encoding.h"
#include "bramarray.h"

// The exit statuses of bramarray.
enum bramarray_status {
    status_done = 0,
    status_input_failed = 1, // an input cannot be read, or filedata.dat is refused
    status_output_failed = 2, // filedata.dat cannot be written
    status_no_dump = 3,       // an input is no dump file: an image, a picture, a typed text, or too large
};

static const char output_name[] = "filedata.dat";
static const char head[] = "const char bram_data[] = {\n";
static const char tail[] = "\n0X00, 0X00\n};\n";

// "0XAB, " for every byte value, padded to 8 characters so that one word-sized copy moves it.
struct element_table {
    char text[256][8];
};
static const size_t element_length = 6;

static constexpr element_table make_element_table()
{
    element_table table{};
    const char digits[] = "0123456789ABCDEF";
    for (int value = 0; value < 256; value++) {
        char *text = table.text[value];
        text[0] = '0';
        text[1] = 'X';
        text[2] = digits[value >> 4];
        text[3] = digits[value & 15];
        text[4] = ',';
        text[5] = ' ';
    }
    return table;
}

static constexpr element_table elements = make_element_table();

// Elements are gathered here and handed to the stream a block at a time.
static const size_t input_block_size = 1 << 16;
static char element_block[input_block_size * element_length + input_block_size / 8 + 8];
static size_t element_block_used;
static const size_t element_room = sizeof elements.text[0] + 1; // one copy, and a line end

// The ID and name of every input seen so far, so that a second file of the same name is
// noticed: at most this many files of 16 bytes or more fit in a 2 KiB memory.
struct packed_file {
    unsigned char header[bram_header_size];
    const char *input_name;
    file_facts facts; // which file it is, where the system said so
    bool known, named_again;
};
static packed_file packed_files[fresh_memory_room / bram_header_size];
static size_t packed_count;
static unsigned long packed_bytes; // all inputs together

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s [%s] <input filename 1> [<input filename ...>]\n"
           "  Produces a file 'filedata.dat' suitable to produce a file restoration cd\n"
           "  Each file passed as argument must have been produced by 'dumpentry'\n"
           "  %s is accepted as first arg and changes nothing: the restoration\n"
           "  cd is built from 'filedata.dat' elsewhere\n",
           exe_name, "-compile", "-compile");
}

void flush_elements(FILE *out)
{
    fwrite(element_block, 1, element_block_used, out);
    element_block_used = 0;
}

// Writes "0X%02X, " for the low 8 bits of c, and a line end after every eighth element,
// through the element block, which goes to out whenever it is full (and at the end).
void output_c(FILE *out, int c)
{
    static unsigned char column = 0; // elements on the current line, over all inputs
    if (element_block_used + element_room > sizeof element_block)
        flush_elements(out);
    memcpy(element_block + element_block_used, elements.text[c & 0xFF], sizeof elements.text[0]);
    element_block_used += element_length;
    column = (column + 1) % 8;
    if (column == 0)
        element_block[element_block_used++] = '\n';
}

// The earlier input that is the same file as this one, if any.
static packed_file *same_input(const file_facts *facts)
{
    for (size_t k = 0; k < packed_count; k++)
        if (packed_files[k].known && same_file(&packed_files[k].facts, facts))
            return &packed_files[k];
    return nullptr;
}

// A restoration CD walks the files by their size fields: say which inputs would lead it astray.
static void check_packed_file(const bram_tally *tally, const char *name, FILE *in)
{
    char fault[160];
    if (describe_file_fault(tally, fault, sizeof fault))
        warn("Warning: '%s' %s\n", name, fault);
    packed_bytes += tally->length;
    if (!tally_has_header(tally))
        return;
    file_facts facts;
    bool known = facts_of_stream(in, &facts);
    packed_file *earlier = known ? same_input(&facts) : nullptr;
    if (earlier) {
        if (!earlier->named_again)
            warn("Warning: '%s' is named twice: the console keeps one copy\n", name);
        earlier->named_again = true;
        return;
    }
    for (size_t k = 0; k < packed_count; k++)
        if (same_key(packed_files[k].header, tally->header))
            warn("Warning: '%s' and '%s' have the same ID and name; the console keeps only one\n",
                 packed_files[k].input_name, name);
    if (packed_count < sizeof packed_files / sizeof packed_files[0]) {
        packed_file &packed = packed_files[packed_count++];
        memcpy(packed.header, tally->header, bram_header_size);
        packed.input_name = name;
        packed.facts = facts;
        packed.known = known;
    }
}

[[noreturn]] static void fail_too_large(const char *name)
{
    fail(status_no_dump, "'%s' holds more than %zu bytes, more than a dump file can\n", name, largest_bram_file);
}

// An input that is no dump file is refused before anything is written: an image of the whole
// memory, a picture, a typed text, or more bytes than a size field can say. A file that cannot be looked
// at is said when it is opened; what is no regular file (a pipe) is watched as it is read.
static void refuse_no_dump(const char *name)
{
    file_facts facts;
    if (!facts_of(name, &facts) || !facts.regular)
        return;
    if (facts.size > largest_bram_file)
        fail_too_large(name);
    FILE *in = open_file(name, "rb");
    if (!in)
        return;
    static unsigned char bytes[largest_bram_file + 1];
    size_t length = fread(bytes, 1, sizeof bytes, in);
    fclose(in);
    if (starts_image(bytes, length))
        fail(status_no_dump, "'%s' is a backup memory image: run 'bramimage extract' first\n", name);
    const char *picture = picture_format(bytes, length, facts.size);
    if (picture)
        fail(status_no_dump, "'%s' is a picture (%s): run 'dumpscan', then 'dumpentry' first\n", name, picture);
    // A typed text holds a header of six hex digits at least; a tiny dump may read as text.
    text_reading reading;
    text_start(&reading);
    text_add(&reading, bytes, length);
    size_t digits = 0;
    for (size_t k = 0; k < length; k++)
        digits += isxdigit(bytes[k]) != 0;
    if (text_verdict(&reading) != no_text && digits >= 6)
        fail(status_no_dump, "'%s' is a typed text: run 'dumpentry' first\n", name);
}

static void output_file(FILE *out, const char *name)
{
    FILE *in = open_file(name, "rb");
    if (in && is_directory(in)) {
        errno = EISDIR;
        fail_to_open_for_input(status_input_failed, name);
    }
    if (!in)
        fail_to_open_for_input(status_input_failed, name);
    printf("Processing %s ...\n", name);

    static unsigned char bytes[input_block_size];
    size_t count;
    bram_tally tally;
    tally_start(&tally);
    while ((count = fread(bytes, 1, sizeof bytes, in)) > 0) {
        if (tally.length == 0 && starts_image(bytes, count))
            fail(status_no_dump, "'%s' is a backup memory image: run 'bramimage extract' first\n", name);
        tally_add(&tally, bytes, count);
        if (tally.length > largest_bram_file)
            fail_too_large(name); // a pipe, or a file that grew: nothing has been committed
        for (size_t k = 0; k < count; k++)
            output_c(out, bytes[k]);
        if (ferror(out))
            fail_to_write(status_output_failed, output_name);
    }
    if (ferror(in))
        fail_to_read(status_input_failed, name);
    check_packed_file(&tally, name, in);
    fclose(in);
}

// Opens filedata.dat once it is known to be none of the inputs (by any name, also before it
// exists: ./filedata.dat) and not where standard output or error go. It is written beside
// the old one and replaces it only when the run completes.
static pending_output *open_filedata(char **inputs, int input_count)
{
    for (int k = 0; k < input_count; k++)
        if (same_place(output_name, inputs[k]))
            fail(status_input_failed, "Input file '%s' is also the output file 'filedata.dat'\n", inputs[k]);
    for (int k = 0; k < input_count; k++)
        refuse_no_dump(inputs[k]);
    output_guard guard = {status_output_failed, inputs, 0, "", false, nullptr};
    refuse_output(output_name, &guard);
    return start_output_or_fail(output_name, status_output_failed);
}

int main(int argc, char **argv)
{
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "bramarray", print_usage, status_output_failed);
    int first_input = argc > 1 && strcmp(argv[1], "-compile") == 0 ? 2 : 1;
    if (first_input >= argc)
        exit_with_usage(argv[0], print_usage, status_output_failed);

    pending_output *filedata = open_filedata(argv + first_input, argc - first_input);
    FILE *out = filedata->stream;
    setvbuf(out, nullptr, _IONBF, 0); // elements are gathered in element_block already
    fputs(head, out);
    for (int k = first_input; k < argc; k++)
        output_file(out, argv[k]);
    flush_elements(out);
    fputs(tail, out);
    if (packed_bytes > fresh_memory_room)
        warn("Warning: the files take %lu bytes, more than the %lu bytes of room of a 2 KiB backup memory\n",
             packed_bytes, fresh_memory_room);

    finish_output_or_fail(filedata, status_output_failed, output_name);
    print_contact();
    finish_report(status_output_failed);
    commit_output_or_fail(filedata, status_output_failed, output_name);
    return status_done;
}
