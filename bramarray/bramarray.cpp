#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/bramtools.h"
#include "bramarray.h"

static const char output_name[] = "filedata.dat";
static const char input_is_output[] = "Input file '%s' is also the output file 'filedata.dat'\n";
static const char head[] = "const char bram_data[] = {\n";
static const char tail[] = "\n0X00, 0X00\n};\n";

// "0XAB, " for every byte value, padded to 8 characters so that one word-sized copy moves it.
static char element_text[256][8];
static const size_t element_length = 6;

static bool build_element_text()
{
    for (int value = 0; value < 256; value++)
        snprintf(element_text[value], sizeof element_text[value], "0X%02X, ", value);
    return true;
}

static const bool element_text_built = build_element_text(); // filled before main runs

// Elements are gathered here and handed to the stream a block at a time.
static char element_block[1 << 16];
static size_t element_block_used;

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s [%s] <input filename 1> [<input filename ...>]\n"
           "  Produces a file 'filedata.dat' suitable to produce a file restoration cd\n"
           "  Each file passed as argument must have been produced by 'dumpentry'\n"
           "  if %s is given as first arg, an iso is also created to restore\n"
           "  the given files\n",
           exe_name, "-compile", "-compile");
}

void flush_elements(FILE *out)
{
    fwrite(element_block, 1, element_block_used, out);
    element_block_used = 0;
}

// Writes "0X%02X, " for the low 8 bits of c, and a line end after every eighth element.
void output_c(FILE *out, int c)
{
    static unsigned char column = 0; // elements on the current line, over all inputs
    if (element_block_used + sizeof element_text[0] + 1 > sizeof element_block)
        flush_elements(out);
    memcpy(element_block + element_block_used, element_text[c & 0xFF], sizeof element_text[0]);
    element_block_used += element_length;
    column = (column + 1) % 8;
    if (column == 0)
        element_block[element_block_used++] = '\n';
}

[[noreturn]] static void fail_to_write()
{
    fail(2, "Couldn't write file '%s'\n", output_name);
}

// Keeps what has been written so far when the run ends on a failure.
[[noreturn]] static void fail_keeping_output(FILE *out, const char *message, const char *input_name)
{
    flush_elements(out);
    fail(1, message, input_name);
}

static void output_file(FILE *out, const char *name)
{
    FILE *in = fopen(name, "rb");
    if (!in || is_directory(in))
        fail_keeping_output(out, "Couldn't open file '%s' for input\n", name);
    // A name that reaches filedata.dat only once it exists (./filedata.dat before the first
    // run) would read back the elements being written.
    if (same_open_file(in, out))
        fail_keeping_output(out, input_is_output, name);
    printf("Processing %s ...\n", name);

    static unsigned char bytes[1 << 16];
    size_t count;
    while ((count = fread(bytes, 1, sizeof bytes, in)) > 0)
        for (size_t k = 0; k < count; k++)
            output_c(out, bytes[k]);
    if (ferror(in))
        fail_keeping_output(out, "Couldn't read file '%s'\n", name);
    fclose(in);

    flush_elements(out);
    if (ferror(out))
        fail_to_write();
}

int main(int argc, char **argv)
{
    if (handle_help_or_version(argc, argv, "bramarray", print_usage))
        return EXIT_SUCCESS;
    int first_input = argc > 1 && strcmp(argv[1], "-compile") == 0 ? 2 : 1;
    if (first_input >= argc) {
        print_usage(argv[0]);
        print_contact();
        return EXIT_SUCCESS;
    }
    // Opening filedata.dat truncates it, so an input that is that same file must be refused first.
    for (int k = first_input; k < argc; k++)
        if (same_file(argv[k], output_name))
            fail(1, input_is_output, argv[k]);

    FILE *out = fopen(output_name, "wb");
    if (!out)
        fail(2, "Couldn't open file '%s' for output\n", output_name);
    setvbuf(out, nullptr, _IONBF, 0); // elements are gathered in element_block already
    fputs(head, out);
    for (int k = first_input; k < argc; k++)
        output_file(out, argv[k]);
    fputs(tail, out);

    bool write_failed = ferror(out) != 0;
    if (fclose(out) != 0 || write_failed)
        fail_to_write();
    print_contact();
    return EXIT_SUCCESS;
}
