#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <leptonica/allheaders.h>

#include "../common/bram_file.h"
#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "dumpscan.h"
#include "glyph_book.h"
#include "glyphs.h"
#include "page.h"
#include "settle.h"

namespace {

glyph_sample samples[most_samples];
page_read pages[most_pages];
glyph_groups groups;
float votes[most_groups][16];
settled result;
int sample_count;
glyph_book book;
char book_path[longest_path];
bool book_in_use; // read, or to be made: neither damaged nor left out
const int most_threads = 4;     // reading images
const int most_read_lines = 12; // lines of 16 pairs read by tesseract: enough to name every glyph
const int most_lone_lines = 16; // and lines of one glyph alone, for glyphs those show seldom

char digit_char(int digit)
{
    return digit == unsure ? '?' : hex_digit_char(digit);
}

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s [-o <text file>] [--header 'EE SS SS'] [--glyphs <book> | --no-glyphs]\n"
           "      <image> [<image ...>]\n"
           "  Reads the pages of a dump from captures or photos of the console's screen,\n"
           "  one page an image, and writes the text that 'dumpentry' reads\n",
           exe_name);
}

struct command_line {
    const char *output;              // null: standard output
    int header[header_digits];       // given with --header, or unsure
    const char *glyphs;              // --glyphs, or null: the book's usual place
    bool no_glyphs;
    char **images;
    int image_count;
};

// Six hex digits, with anything but letters and digits between them.
bool parse_header(const char *text, int *header)
{
    int count = 0;
    for (const char *c = text; *c; c++) {
        bool digit = hex_digit_value(*c) >= 0;
        bool letter = (*c >= 'G' && *c <= 'Z') || (*c >= 'g' && *c <= 'z');
        if (letter || (digit && count == header_digits))
            return false;
        if (digit)
            header[count++] = hex_digit_value(*c);
    }
    return count == header_digits;
}

// Two hex digits and nothing else: one of three words of a header typed as the screen shows it.
bool is_pair(const char *word)
{
    return hex_digit_value(word[0]) >= 0 && hex_digit_value(word[1]) >= 0 && !word[2];
}

// The words of --header: one ('00 08 00', 000800) or, as the screen shows it, three pairs.
int header_words(int argc, char **argv, int first, char *joined, size_t size)
{
    if (first >= argc)
        return 0;
    if (first + 2 < argc && is_pair(argv[first]) && is_pair(argv[first + 1]) && is_pair(argv[first + 2])) {
        snprintf(joined, size, "%s %s %s", argv[first], argv[first + 1], argv[first + 2]);
        return 3;
    }
    snprintf(joined, size, "%s", argv[first]);
    return 1;
}

void take_header(const char *text, int *header)
{
    if (!parse_header(text, header))
        fail(status_output_failed, "The header '%s' is not six hex digits, such as '00 08 00'\n", text);
}

// The options stand anywhere among the pictures, until "--"; the pictures keep their order.
command_line read_command_line(int argc, char **argv)
{
    command_line line = {nullptr, {unsure, unsure, unsure, unsure, unsure, unsure}, nullptr, false, argv + 1, 0};
    bool options = true;
    for (int k = 1; k < argc; k++) {
        const char *word = argv[k];
        char joined[256];
        if (!options || word[0] != '-' || !word[1]) {
            line.images[line.image_count++] = argv[k];
        } else if (strcmp(word, "--") == 0) {
            options = false;
        } else if (strcmp(word, "-o") == 0) {
            if (k + 1 >= argc || !argv[k + 1][0])
                fail(status_output_failed, "-o needs the name of the text file to write\n");
            line.output = argv[++k];
        } else if (strcmp(word, "--glyphs") == 0 || strncmp(word, "--glyphs=", 9) == 0) {
            line.glyphs = word[8] == '=' ? word + 9 : k + 1 < argc ? argv[++k] : "";
            if (!line.glyphs[0])
                fail(status_output_failed, "--glyphs needs the name of the glyph book\n");
        } else if (strcmp(word, "--no-glyphs") == 0) {
            line.no_glyphs = true;
        } else if (strncmp(word, "--header=", 9) == 0) {
            take_header(word + 9, line.header);
        } else if (strcmp(word, "--header") == 0) {
            int taken = header_words(argc, argv, k + 1, joined, sizeof joined);
            if (taken == 0)
                fail(status_output_failed, "--header needs the header, such as '00 08 00'\n");
            take_header(joined, line.header);
            k += taken;
        } else {
            fail_unknown_option(status_output_failed, word);
        }
    }
    return line;
}

// A name cut at its runs of digits: the parts between them, and the runs' values.
bool same_but_numbers(const char *a, const char *b)
{
    while (*a && *b) {
        bool digits_a = *a >= '0' && *a <= '9', digits_b = *b >= '0' && *b <= '9';
        if (digits_a != digits_b)
            return false;
        if (digits_a) {
            while (*a >= '0' && *a <= '9')
                a++;
            while (*b >= '0' && *b <= '9')
                b++;
        } else if (*a++ != *b++) {
            return false;
        }
    }
    return !*a && !*b;
}

// Compares two names of the same shape by their numbers, the first that differs deciding.
bool numbered_before(const char *a, const char *b)
{
    while (*a && *b) {
        if (*a >= '0' && *a <= '9') {
            unsigned long long x = strtoull(a, const_cast<char **>(&a), 10), y = strtoull(b, const_cast<char **>(&b), 10);
            if (x != y)
                return x < y;
        } else {
            a++;
            b++;
        }
    }
    return false;
}

// Pictures named alike but for a number are read in the order of their numbers, as a shell
// does not sort them (page-10 before page-2); said in one line when that changes the order.
void order_by_numbers(command_line *line)
{
    for (int k = 1; k < line->image_count; k++)
        if (!same_but_numbers(line->images[0], line->images[k]))
            return;
    char **images = line->images;
    int out_of_order = 1;
    while (out_of_order < line->image_count && !numbered_before(images[out_of_order], images[out_of_order - 1]))
        out_of_order++;
    if (out_of_order == line->image_count)
        return;
    warn("The pictures are read in the order of the numbers in their names: %s before %s\n", images[out_of_order],
         images[out_of_order - 1]);
    std::stable_sort(images, images + line->image_count, numbered_before);
}

// A file that holds something but no text: a dump file, say.
bool holds_no_text(const char *path, const file_facts *facts, char *words, size_t size)
{
    snprintf(words, size, "holds no text, so it is left as it is");
    return facts->size > 0 && !holds_only_text(path);
}

// The text is replaced whole, and never written over an image given, a file that holds no text,
// or a file of other names: refused before any work.
void refuse_text_output(const command_line *line)
{
    output_guard guard = {status_output_failed, line->images, line->image_count, "an image to read", false,
                          holds_no_text};
    refuse_output(line->output, &guard);
}

// The glyph book read before any work: --glyphs names it, or it is in its usual place; a book
// that cannot be used is said, and left as it is.
void open_book(const command_line *line)
{
    if (line->no_glyphs)
        return;
    if (line->glyphs)
        snprintf(book_path, sizeof book_path, "%s", line->glyphs);
    else if (!default_book_path(book_path, sizeof book_path))
        return;
    if (line->output && same_place(line->output, book_path))
        fail(status_output_failed, "The glyph book '%s' is also the text to write\n", book_path);
    book_in_use = load_book(book_path, &book);
}



// What reading one image came to, said once every image is read.
enum image_outcome { image_read, image_unopened, image_unreadable, image_too_large, image_without_page };

struct image_readings {
    const command_line *line;
    std::atomic<int> next;
    image_outcome outcome[most_pages];
    int open_error[most_pages]; // why an image could not be opened (errno is each thread's own)
    char why[most_pages][160];
};

const int samples_per_page = header_digits + page_lines * digits_per_line;

// Reads the images not yet taken, each into a place of the samples of its own.
void read_images(image_readings *readings)
{
    for (int k = readings->next++; k < readings->line->image_count; k = readings->next++) {
        const char *path = readings->line->images[k];
        FILE *image = open_file(path, "rb");
        bool opened = image && !is_directory(image);
        readings->open_error[k] = !image ? errno : EISDIR;
        int count = k * samples_per_page;
        page_outcome outcome = opened ? read_page(image, path, &pages[k], samples, &count, readings->why[k],
                                                  sizeof readings->why[k])
                                      : page_unreadable;
        if (image)
            fclose(image);
        readings->outcome[k] = !opened                        ? image_unopened
                               : outcome == page_unreadable ? image_unreadable
                               : outcome == page_too_large  ? image_too_large
                               : outcome == page_missing    ? image_without_page
                                                            : image_read;
    }
}

// The samples closed up in the order of the images, as one reading after another leaves them.
void close_up_samples(int page_count)
{
    sample_count = 0;
    auto move = [](int *index) {
        samples[sample_count] = samples[*index];
        *index = sample_count++;
    };
    for (int p = 0; p < page_count; p++) {
        for (int k = 0; k < header_digits; k++)
            move(&pages[p].header[k]);
        for (int line = 0; line < pages[p].lines; line++)
            for (int k = 0; k < digits_on(&pages[p], line); k++)
                move(&pages[p].digits[line][k]);
    }
}

// The images are read on as many threads as the machine runs at once; the first that fails,
// in the order given, is said.
void read_pages(const command_line *line)
{
    if (line->image_count > most_pages)
        fail(status_no_page, "%d images are more pages than a dump has (%d at the most)\n", line->image_count,
             most_pages);
    setMsgSeverity(L_SEVERITY_NONE); // leptonica's messages; what fails is said below
    static image_readings readings;
    readings.line = line;
    readings.next = 0;
    int helpers = std::min(static_cast<int>(std::thread::hardware_concurrency()), most_threads) - 1;
    std::thread helping[most_threads];
    for (int t = 0; t < std::min(helpers, line->image_count - 1); t++)
        if (!start_helper(&helping[t], read_images, &readings))
            break; // the threads there are read them all
    read_images(&readings);
    for (std::thread &helper : helping)
        if (helper.joinable())
            helper.join();
    for (int k = 0; k < line->image_count; k++)
        switch (readings.outcome[k]) {
        case image_unopened:
            errno = readings.open_error[k];
            fail_to_open_for_input(status_unreadable, line->images[k]);
        case image_unreadable:
            fail(status_unreadable, "'%s' cannot be read as an image\n", line->images[k]);
        case image_too_large:
            fail(status_unreadable, "'%s' is too large a picture: %s, more than 64 million\n", line->images[k],
                 readings.why[k]);
        case image_without_page:
            fail(status_no_page, "'%s' holds no dump page: %s\n", line->images[k], readings.why[k]);
        case image_read:
            break;
        }
    close_up_samples(line->image_count);
}


// How much a dump line adds to what tesseract reads: each of its glyphs whose group has been
// drawn fewer than three times so far, the fewer the more.
int news_of_line(const page_read *page, int line, const int *times)
{
    int news = 0;
    for (int k = 0; k < digits_on(page, line); k++) {
        int g = groups.group_of[page->digits[line][k]];
        news += g >= 0 ? std::max(0, 3 - times[g]) : 0;
    }
    return news;
}

// The dump's lines that tesseract reads, two to a line of its own with a space between pairs:
// taken from the whole save, each next the one that adds most, so that a glyph that first
// appears late (a save of runs of 00 and FF shows some digits only once) is read as well.
int lines_to_read(int page_count, int (*lines)[most_line])
{
    static bool taken[most_pages][page_lines];
    int times[most_groups] = {};
    for (int p = 0; p < page_count; p++)
        std::fill(taken[p], taken[p] + page_lines, false);
    int count = 0, slot = 0;
    for (int pick = 0; pick < 2 * most_read_lines; pick++) {
        int best_page = -1, best_line = 0, best_news = -1;
        for (int p = 0; p < page_count; p++)
            for (int line = 0; line < pages[p].lines; line++) {
                int news = taken[p][line] ? -1 : news_of_line(&pages[p], line, times);
                if (news > best_news) {
                    best_page = p;
                    best_line = line;
                    best_news = news;
                }
            }
        if (best_page < 0 || best_news < 0)
            break;
        taken[best_page][best_line] = true;
        const page_read *page = &pages[best_page];
        if (slot == 0)
            std::fill(lines[count], lines[count] + most_line, -1);
        for (int k = 0; k < digits_on(page, best_line) && slot + 1 < most_line; k++) {
            int g = groups.group_of[page->digits[best_line][k]];
            lines[count][slot++] = g;
            if (g >= 0)
                times[g]++;
            if (k % 2)
                slot++;
        }
        if (slot + 24 > most_line) {
            count++;
            slot = 0;
        }
    }
    count += slot > 0;
    // A glyph drawn once or never among them is read again alone, in four pairs of its own.
    for (int g = 0; g < groups.count && count < most_read_lines + most_lone_lines; g++) {
        if (times[g] >= 2)
            continue;
        std::fill(lines[count], lines[count] + most_line, -1);
        for (int k = 0; k < 12; k++)
            lines[count][k] = k % 3 == 2 ? -1 : g;
        count++;
    }
    return count;
}

[[noreturn]] void fail_without_tesseract(const char *why)
{
    fail(status_no_tesseract, "tesseract cannot read its English data '%s' (%s): install tesseract-ocr-eng\n",
         english_data_path(), why);
}

// What settling needs to know of the pages read and their glyphs.
reading reading_of(int page_count, const command_line *line)
{
    reading read = {page_count, pages, sample_count, groups.group_of, groups.runner_up, groups.doubtful, groups.count,
                    votes, {}};
    std::copy(line->header, line->header + header_digits, read.given_header);
    return read;
}

void write_pairs(FILE *out, const int *indexes, int count)
{
    for (int k = 0; k < count; k++) {
        if (k > 0 && k % 2 == 0)
            fputc(' ', out);
        fputc(digit_char(result.digit[indexes[k]]), out);
    }
    fputc('\n', out);
}

// Each page as dumpentry reads a prepared text: its header, its lines, a blank line between.
void write_text(FILE *out, int page_count)
{
    for (int p = 0; p < page_count; p++) {
        if (p > 0)
            fputc('\n', out);
        write_pairs(out, pages[p].header, header_digits);
        for (int line = 0; line < pages[p].lines; line++)
            write_pairs(out, pages[p].digits[line], digits_on(&pages[p], line));
    }
}

// "page 3" for a full page, "last page" for the one after the full pages.
void name_page(int page_count, int p, char *name, size_t size)
{
    bool last = p + 1 == page_count && (pages[p].lines < page_lines || pages[p].last_line_digits < digits_per_line);
    if (last)
        snprintf(name, size, "last page");
    else
        snprintf(name, size, "page %d", p);
}

// Each place of the dump in the order of the pages: its page, line (-1: the header), digit
// there and sample.
template <typename Visit> void each_place(int page_count, Visit visit)
{
    for (int p = 0; p < page_count; p++) {
        for (int k = 0; k < header_digits; k++)
            visit(p, -1, k, pages[p].header[k]);
        for (int line = 0; line < pages[p].lines; line++)
            for (int k = 0; k < digits_on(&pages[p], line); k++)
                visit(p, line, k, pages[p].digits[line][k]);
    }
}

// "page 2, line 5, byte 3, first digit", as the warnings name places.
void name_place(int page_count, int p, int line, int k, char *text, size_t size)
{
    char page_name[32], line_name[16] = "header";
    name_page(page_count, p, page_name, sizeof page_name);
    if (line >= 0)
        snprintf(line_name, sizeof line_name, "line %d", line);
    snprintf(text, size, "%s, %s, byte %d, %s digit", page_name, line_name, k / 2, k % 2 ? "second" : "first");
}

// The header as known: given with --header, or each digit of the first page's header whose
// glyph is named (for sure or by the person); unsure where it is not.
void known_header(const command_line *line, const int *given, int *header)
{
    for (int k = 0; k < header_digits; k++) {
        int s = pages[0].header[k], g = groups.group_of[s];
        bool named = g >= 0 && !groups.doubtful[s] && (given[g] != unsure || result.sure[g]);
        header[k] = line->header[0] != unsure ? line->header[k] : !named ? unsure : given[g] != unsure ? given[g] : result.name[g];
    }
}

// The digit the header or the size field must hold at a place, by the header known; unsure
// where it does not say.
int digit_known_at(int p, int line, int k, const int *header)
{
    if (line < 0)
        return header[k];
    if (p != 0 || line != 0 || k >= 4 || std::count(header + 2, header + header_digits, unsure) > 0)
        return unsure;
    long size = 0;
    for (int at = 2; at < header_digits; at++)
        size = size * 16 + header[at];
    long byte = size >> (8 * (k / 2)) & 0xFF; // the size field: its low byte first
    return static_cast<int>(k % 2 ? byte & 0xF : byte >> 4);
}

// Whether naming the group this digit contradicts the header or the size field where one of
// its glyphs stands (doubtful glyphs aside: they may be another group's); said when it does.
// The pages given may not be the whole save, so the same answer twice is taken.
bool contradicts_known(int page_count, const command_line *line, const int *given, int group, int digit)
{
    int header[header_digits];
    known_header(line, given, header);
    bool contradicted = false;
    each_place(page_count, [&](int p, int at_line, int k, int s) {
        int known = digit_known_at(p, at_line, k, header);
        if (contradicted || groups.group_of[s] != group || groups.doubtful[s] || known == unsure || known == digit)
            return;
        contradicted = true;
        char place[96];
        name_place(page_count, p, at_line, k, place, sizeof place);
        warn("It stands at %s, where the %s must hold %c (%s %c%c %c%c %c%c): type %c again to keep it\n",
             place, at_line < 0 ? "header" : "size field", digit_char(known),
             line->header[0] != unsure ? "--header" : "the header reads", digit_char(header[0]),
             digit_char(header[1]), digit_char(header[2]), digit_char(header[3]), digit_char(header[4]),
             digit_char(header[5]), digit_char(digit));
    });
    return contradicted;
}

const int input_ended = -2;

// One answer at the terminal: a hex digit, unsure for '?', the guess for Enter alone, or
// input_ended; anything else is asked again.
int read_answer(int guess)
{
    for (;;) {
        fprintf(stderr, "Which hex digit is this? [%c] ", digit_char(guess));
        fflush(stderr);
        char answer[64];
        if (!fgets(answer, sizeof answer, stdin))
            return input_ended;
        bool whole = strchr(answer, '\n') != nullptr;
        for (int c = 0; !whole && c != EOF && c != '\n';)
            c = getchar(); // the rest of a long line
        char *word = answer + strspn(answer, " \t");
        size_t length = strcspn(word, " \t\r\n");
        bool alone = word[length + strspn(word + length, " \t\r\n")] == '\0';
        if (whole && alone && length == 0)
            return guess;
        if (whole && alone && length == 1 && (hex_digit_value(word[0]) >= 0 || word[0] == '?'))
            return word[0] == '?' ? unsure : hex_digit_value(word[0]);
        fputs("Type one hex digit, 0 to 9 or A to F, or '?' for a glyph you cannot tell\n", stderr);
    }
}

// A name that holds for sure, kept in the glyph book (written at once, so that a run ended by
// Ctrl-C keeps the answers given so far).
void keep_names(const int *names, const bool *keep)
{
    bool changed = false;
    for (int g = 0; g < groups.count; g++)
        if (keep[g] && name_in_book(&book, groups.mean[g]) != names[g]) {
            keep_in_book(&book, groups.mean[g], names[g]);
            changed = true;
        }
    if (changed)
        save_book(book_path, &book);
}

void keep_answer(int group, int digit)
{
    static int names[most_groups];
    static bool keep[most_groups];
    std::fill(keep, keep + groups.count, false);
    names[group] = digit;
    keep[group] = true;
    if (book_in_use)
        keep_names(names, keep);
}

// At a terminal, each shape no check could name is shown once, large, with the first place it
// stands, and the person names it: Enter takes the guess, '?' leaves it unsure. Returns
// whether any was named.
bool ask_names(int page_count, const command_line *line, const int *guesses, int *given)
{
    static bool asked[most_groups];
    std::fill(asked, asked + groups.count, false);
    bool named = false, ended = false;
    each_place(page_count, [&](int p, int at_line, int k, int s) {
        int g = groups.group_of[s];
        if (ended || g < 0 || asked[g] || result.sure[g] || given[g] != unsure)
            return;
        asked[g] = true;
        char place[96];
        name_place(page_count, p, at_line, k, place, sizeof place);
        warn("This glyph could not be read for sure; it stands at %s:\n", place);
        show_group(&groups, g, stderr);
        for (int refused = input_ended;;) {
            drop_keys_typed_ahead();
            int answer = read_answer(guesses[g]);
            ended = answer == input_ended;
            if (ended)
                fputc('\n', stderr);
            if (ended || answer == unsure)
                return;
            if (answer == refused || !contradicts_known(page_count, line, given, g, answer)) {
                given[g] = answer;
                named = true;
                keep_answer(g, answer);
                return;
            }
            refused = answer;
        }
    });
    return named;
}

// The groups are named by tesseract's readings and the glyph book's names, which the checks
// confirm; where they cannot, a person at the terminal names what is left. Without a person,
// names of the book the checks do not bear out are left out: another console may draw a glyph
// like one of the book's.
void name_digits(int page_count, const command_line *line)
{
    static int lines[most_read_lines + most_lone_lines][most_line];
    if (!read_groups(&groups, lines, lines_to_read(page_count, lines), votes))
        fail_without_tesseract("it cannot be loaded");
    reading read = reading_of(page_count, line);
    static int given[most_groups], guesses[most_groups];
    bool from_book = false;
    for (int g = 0; g < groups.count; g++) {
        given[g] = book_in_use ? name_in_book(&book, groups.mean[g]) : unsure;
        from_book = from_book || given[g] != unsure;
    }
    std::copy(given, given + groups.count, guesses);
    settle(&read, given, &result);
    bool at_terminal = standard_input_is_terminal();
    bool all_sure = std::all_of(result.sure, result.sure + groups.count, [](bool sure) { return sure; });
    if (from_book && !result.checks_hold && (!at_terminal || all_sure)) {
        std::fill(given, given + groups.count, unsure);
        settle(&read, given, &result);
    }
    for (int g = 0; g < groups.count; g++)
        guesses[g] = guesses[g] != unsure ? guesses[g] : result.name[g];
    if (at_terminal && ask_names(page_count, line, guesses, given))
        settle(&read, given, &result);
    if (result.checks_hold && book_in_use)
        keep_names(result.name, result.sure);
}

void report_pages(int page_count)
{
    for (int p = 0; p < page_count; p++) {
        char page_name[32], header[16];
        name_page(page_count, p, page_name, sizeof page_name);
        for (int k = 0; k < header_digits; k++)
            header[k + k / 2] = digit_char(result.digit[pages[p].header[k]]);
        header[2] = header[5] = ' ';
        header[8] = '\0';
        warn("%s: %s, %d line%s, header %s\n", pages[p].image, page_name, pages[p].lines,
             pages[p].lines == 1 ? "" : "s", header);
    }
}

bool same_glyphs(const int *a, const int *b, int count)
{
    for (int k = 0; k < count; k++)
        if (memcmp(&samples[a[k]], &samples[b[k]], sizeof samples[0]) != 0)
            return false;
    return true;
}

// A page whose every glyph is drawn by the same pixels as another's: the same picture twice.
bool same_page(const page_read *a, const page_read *b)
{
    if (a->lines != b->lines || a->last_line_digits != b->last_line_digits ||
        !same_glyphs(a->header, b->header, header_digits))
        return false;
    for (int line = 0; line < a->lines; line++)
        if (!same_glyphs(a->digits[line], b->digits[line], digits_on(a, line)))
            return false;
    return true;
}

// The header a page shows as tesseract read its glyphs, sure or not: "00 01 3B" (the names
// settled may be the header the pages' layout expects, which a set of pages not whole belies).
void header_named(const page_read *page, char *text)
{
    for (int k = 0; k < header_digits; k++) {
        int g = groups.group_of[page->header[k]];
        const float *read = g < 0 ? nullptr : votes[g];
        bool any = read && *std::max_element(read, read + 16) > 0;
        text[k + k / 2] = any ? digit_char(static_cast<int>(std::max_element(read, read + 16) - read)) : '?';
    }
    text[2] = text[5] = ' ';
    text[8] = '\0';
}

// Whether a header's size, as tesseract read it, says pages are missing: the last page given
// is full and the size needs more. (Where the last page given ends short, a size misread in
// its high digits would give its shape all the same: nothing is said.)
bool pages_belie_size(int page_count, long needed)
{
    const page_read &last = pages[page_count - 1];
    return last.lines == page_lines && last.last_line_digits == digits_per_line && needed > page_count;
}

// How many of the digits of two headers as shown ("00 01 3B") differ.
int digits_differing(const char *a, const char *b)
{
    int differing = 0;
    for (; *a && *b; a++, b++)
        differing += *a != *b;
    return differing;
}

// A header read as a dump's can be: encoding 0 and no digit unread. One that is not was
// misread, and says nothing of the pages.
bool header_plausible(const char *shown)
{
    return strncmp(shown, "00 ", 3) == 0 && !strchr(shown, '?');
}

// The header most pages show, and each page that shows another in two digits or more: a page
// of another save; and the pages missing that the header's size needs.
void report_headers(int page_count)
{
    static char shown[most_pages][9];
    int most_shown = 0, common = 0;
    for (int p = 0; p < page_count; p++)
        header_named(&pages[p], shown[p]);
    for (int p = 0; p < page_count; p++) {
        int alike = static_cast<int>(std::count_if(shown, shown + page_count,
                                                   [&](const char *other) { return strcmp(other, shown[p]) == 0; }));
        if (alike > most_shown) {
            most_shown = alike;
            common = p;
        }
    }
    for (int p = 0; p < page_count; p++)
        if (digits_differing(shown[p], shown[common]) >= 2 && header_plausible(shown[p]) &&
            header_plausible(shown[common])) // one digit: as likely a glyph misread
            warn("%s shows the header %s, the other%s %s: a page of another save?\n", pages[p].image, shown[p],
                 page_count > 2 ? "s" : "", shown[common]);
    long size = strtol(shown[common] + 3, nullptr, 16) * 256 + strtol(shown[common] + 6, nullptr, 16);
    long needed = (size + bytes_per_page - 1) / bytes_per_page;
    if (header_plausible(shown[common]) && pages_belie_size(page_count, needed))
        warn("%d page%s given, the header says %ld\n", page_count, page_count == 1 ? "" : "s", needed);
}

// What about the set of pictures leaves the checks unable to hold, said in words: a picture
// given twice, a page not full before the last, pages of two saves or too few or too many, a
// header given that the pages do not bear out.
void report_set(int page_count, const command_line *line)
{
    for (int p = 1; p < page_count; p++)
        for (int q = 0; q < p; q++)
            if (same_page(&pages[p], &pages[q])) {
                warn("%s repeats %s\n", pages[p].image, pages[q].image);
                break;
            }
    // A short last line ends the dump; a page short of whole lines may as well have lines that
    // were not found.
    for (int p = 0; p + 1 < page_count; p++)
        if (pages[p].last_line_digits < digits_per_line)
            warn("%s has %d line%s but is not the last page\n", pages[p].image, pages[p].lines,
                 pages[p].lines == 1 ? "" : "s");
        else if (pages[p].lines < page_lines)
            warn("%s shows %d lines, not %d: lines not found on it, or the last page out of order\n", pages[p].image,
                 pages[p].lines, page_lines);
    if (!result.checks_hold && line->header[0] == unsure)
        report_headers(page_count);
    if (line->header[0] == unsure)
        return;
    reading read = reading_of(page_count, line);
    long shown = size_shown(&read), given = 0;
    for (int k = 2; k < header_digits; k++)
        given = given * 16 + line->header[k];
    if (shown >= 0 && shown != given)
        warn("--header %c%c %c%c %c%c: the pages show 00 %02lX %02lX\n", digit_char(line->header[0]),
             digit_char(line->header[1]), digit_char(line->header[2]), digit_char(line->header[3]),
             digit_char(line->header[4]), digit_char(line->header[5]), shown >> 8, shown & 0xFF);
}

// Names the lines holding digits not read for sure, the first ten of them; returns how many
// digits are unsure.
int report_unsure(int page_count)
{
    char places[1024] = "";
    size_t used = 0;
    int digits = 0, lines = 0;
    for (int p = 0; p < page_count; p++) {
        char page_name[32];
        name_page(page_count, p, page_name, sizeof page_name);
        for (int line = -1; line < pages[p].lines; line++) {
            const int *indexes = line < 0 ? pages[p].header : pages[p].digits[line];
            int count = line < 0 ? header_digits : digits_on(&pages[p], line), here = 0;
            for (int k = 0; k < count; k++)
                here += result.digit[indexes[k]] == unsure;
            if (here == 0)
                continue;
            digits += here;
            if (lines++ < 10 && used < sizeof places) {
                const char *between = lines > 1 ? "; " : "";
                int length = line < 0 ? snprintf(places + used, sizeof places - used, "%s%s, header", between,
                                                 page_name)
                                      : snprintf(places + used, sizeof places - used, "%s%s, line %d", between,
                                                 page_name, line);
                used += static_cast<size_t>(std::max(0, length));
            }
        }
    }
    if (digits > 0)
        warn("Warning: %d digit%s not read for sure, written '?': %s%s\n", digits, digits == 1 ? "" : "s", places,
             lines > 10 ? "; and more" : "");
    return digits;
}

// The dump's own checks, said when they fail although every digit was read.
bool dump_holds(int page_count, const command_line *line)
{
    reading read = reading_of(page_count, line);
    static unsigned char bytes[most_pages * bytes_per_page];
    long length;
    if (!dump_bytes(&read, &result, bytes, &length))
        return false;
    bool headers_alike = true;
    for (int p = 1; p < page_count; p++)
        for (int k = 0; k < header_digits; k++)
            headers_alike = headers_alike && result.digit[pages[p].header[k]] == result.digit[pages[0].header[k]];
    if (!headers_alike)
        warn("Warning: the pages' headers differ\n");
    bram_tally tally;
    tally_whole(&tally, bytes, static_cast<size_t>(length));
    char fault[160];
    bool faulty = describe_file_fault(&tally, fault, sizeof fault);
    if (faulty)
        warn("Warning: the dump %s\n", fault);
    long shown = size_shown(&read), said = 0;
    for (int k = 2; k < header_digits; k++)
        said = said * 16 + result.digit[pages[0].header[k]];
    if (shown >= 0 && said != shown)
        warn("Warning: the header says %ld bytes, the pages show %ld\n", said, shown);
    return headers_alike && !faulty && said == length;
}

} // namespace

int main(int argc, char **argv)
{
    start_safely(&argc, &argv);
    exit_if_help_or_version(argc, argv, "dumpscan", print_usage, status_output_failed);
    command_line line = read_command_line(argc, argv);
    if (line.image_count == 0)
        exit_with_usage(argv[0], print_usage, status_output_failed);
    order_by_numbers(&line);
    char why[160];
    if (!english_data_found(why, sizeof why))
        fail_without_tesseract(why);
    if (line.output)
        refuse_text_output(&line);
    open_book(&line);
    read_pages(&line);
    group_glyphs(samples, sample_count, &groups);
    name_digits(line.image_count, &line);
    report_pages(line.image_count);
    report_set(line.image_count, &line);
    int unsure_digits = report_unsure(line.image_count);
    bool holds = unsure_digits == 0 && dump_holds(line.image_count, &line);
    // Opened once the work is done: a named pipe with no reader yet keeps no work waiting.
    pending_output *text = line.output ? start_output_or_fail(line.output, status_output_failed) : nullptr;
    write_text(text ? text->stream : stdout, line.image_count);
    if (text) {
        finish_output_or_fail(text, status_output_failed, line.output);
        commit_output_or_fail(text, status_output_failed, line.output);
    } else {
        finish_standard_output(status_output_failed);
    }
    return holds ? status_done : status_unsure;
}
