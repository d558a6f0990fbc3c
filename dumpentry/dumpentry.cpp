#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "dumpentry.h"
#include "line_editor.h"
#include "mend.h"
#include "plain.h"
#include "reader.h"
#include "transcript.h"

const decoder parse_intermediate_form[] = {parse_plain};
const int decoder_count = sizeof parse_intermediate_form / sizeof parse_intermediate_form[0];

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s <output filename> [<input filename>]\n"
           "  If no file where to read data is given, standard input is used\n",
           exe_name);
}

decode_result transcribe(dump_file *dump, int *encoding)
{
    dump->length = dump->position = 0;
    dump->answered.mistyped = 0;
    dump->size_field_warned = dump->header_again_due = false;
    decode_result result =
        read_header("Enter the header of the dump (available on all page) :\n", &dump->answered, decoder_count,
                    encoding, nullptr);
    if (result != decode_complete)
        return result;
    snprintf(dump->answered.header, sizeof dump->answered.header, "%s", transformed_buffer);
    dump->header_source = dump->answered.text_line;
    if (dump->keeper.keep)
        dump->header_source =
            dump->keeper.keep(dump->keeper.kept_in, transformed_buffer, typed_header, dump->answered.text_line);
    // The decoder rereads the header from transformed_buffer: no line may be read in between.
    return parse_intermediate_form[*encoding](dump);
}

// At a terminal, the end of input ends on a line of its own, and says where the typing is kept.
static void fail_unless_complete(decode_result result, const char *output_name, int encoding, const transcript *kept)
{
    switch (result) {
    case decode_complete:
        return;
    case decode_end_of_input:
        if (editor_active())
            fputs("\n", dialogue());
        fail(status_input_ended, "Unexpected end of input\n%s", where_typing_is_kept(kept));
    case decode_read_error:
        fail(status_input_ended, "Couldn't read input\n");
    case decode_write_error:
        fail_to_write(status_output_failed, output_name);
    case decode_no_encoding:
        fail(status_no_encoding, "No encoding in the header\n");
    case decode_unknown_encoding:
        fail(status_no_encoding, "Unknown encoding (%d)\n", encoding);
    case decode_header_unread:
        fail(status_no_encoding, "The header holds digits not read ('?'): type it as the screen shows it\n");
    }
}

// Opens the input file when one is named, and the dump file, without changing a file of the
// user's that the dump file would overwrite by mistake: the input itself, a file that standard
// input, output or error go to, a typed dump named first by a slip of the hand, or a file with
// a second hard link. The dump file is written beside the old one and replaces it only when the
// run completes.
static bool holds_what_is_kept(const char *path, const file_facts *facts, char *words, size_t size)
{
    char kind[48];
    if (holds_only_text(path))
        snprintf(words, size, "holds text; it may be a typed dump, so it is left as it is");
    else if (is_kept_kind(path, facts, kind, sizeof kind))
        snprintf(words, size, "is %s, so it is left as it is", kind);
    else
        return false;
    return true;
}

static pending_output *open_files(const char *output_name, const char *input_name)
{
    // Why the input cannot be read, kept for after the output is looked at.
    int input_fault = input_name && !switch_input(input_name) ? errno : text_is_directory() ? EISDIR : 0;
    char *inputs[] = {const_cast<char *>(input_name)};
    output_guard guard = {status_output_failed, inputs, input_name ? 1 : 0, "the input file", true, holds_what_is_kept};
    refuse_output(output_name, &guard);
    pending_output *out = start_output_or_fail(output_name, status_output_failed);
    if (input_fault) {
        errno = input_fault;
        fail_to_open_for_input(status_input_failed, input_name);
    }
    return out;
}

// The warnings of a complete dump; true when the save's own check fails.
static bool warn_about_the_dump(const dump_file *dump)
{
    if (reading_a_text() && input_goes_on())
        warn("Warning: the input goes on after the end of the dump\n");
    bram_tally tally;
    tally_whole(&tally, dump->bytes, dump->length);
    char mismatch[160];
    bool said_at_line_0 = dump->size_field_warned && !size_field_holds(&tally);
    bool check_fails = describe_save_mismatch(&tally, mismatch, sizeof mismatch);
    if (check_fails && !said_at_line_0)
        warn("%s", mismatch);
    check_fails = check_fails || said_at_line_0; // a header kept against the size field: it may be mended
    if (dump->answered.mistyped > 0) {
        char names[640];
        describe_mistyped_lines(&dump->answered, names, sizeof names);
        warn("%s\n", names);
    }
    return check_fails;
}

// A first argument that reads like an option is none of the output's names.
static void refuse_unknown_option(int argc, char **argv)
{
    if (argc < 2 || argv[1][0] != '-' || strcmp(argv[1], "-") == 0)
        return;
    static const char *const known[] = {"--help", "-h", "--version"};
    for (const char *option : known)
        if (strcmp(argv[1], option) == 0)
            return;
    fail_unknown_option(status_output_failed, argv[1]);
}

int main(int argc, char **argv)
{
    static dump_file dump;
    static transcript kept;
    static mend mending;
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "dumpentry", print_usage, status_output_failed);
    refuse_unknown_option(argc, argv);
    if (argc != 2 && argc != 3)
        exit_with_usage(argv[0], print_usage, status_output_failed);
    const char *output_name = argv[1];
    const char *input_name = argc == 3 ? argv[2] : nullptr;
    pending_output *dump_output = open_files(output_name, input_name);
    dump.out = dump_output->stream;
    dump.encodings_known = decoder_count;
    choose_dialogue();
    if (editor_start(dialogue()))
        say_where_typing_is_kept_on_ending();
    if (input_name) {
        snprintf(mending.text_path, sizeof mending.text_path, "%s", input_name);
    } else {
        start_transcript(&kept, output_name);
        dump.keeper = {keep_typed, &kept};
        snprintf(mending.text_path, sizeof mending.text_path, "%s", kept.stream ? kept.name : "");
    }

    int encoding = 0;
    decode_result result = transcribe(&dump, &encoding);
    fail_unless_complete(result, output_name, encoding, &kept);
    end_going_on();

    bool check_fails = warn_about_the_dump(&dump);
    if (check_fails && standard_input_is_terminal() && seek_dump(&dump, 0)) {
        switch_input(nullptr);
        stop_keeping(&kept);
        check_fails = !mend_at_terminal(&dump, &mending);
    }
    finish_output_or_fail(dump_output, status_output_failed, output_name);
    switch_input(nullptr);
    puts(" ** DONE **");
    print_contact();
    finish_report(status_output_failed);
    commit_output_or_fail(dump_output, status_output_failed, output_name);
    return check_fails || unread_digits(&dump) > 0 ? status_check_fails : status_done;
}
