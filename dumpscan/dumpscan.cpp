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
#include "page.h"

// The run's state, which the driver's rooms share (see dumpscan.h).
glyph_sample samples[most_samples];
page_read pages[most_pages];
glyph_groups groups;
float votes[most_groups][16];
settled result;
int sample_count;
glyph_book book;
char book_path[longest_path];
bool book_in_use;

char digit_char(int digit)
{
    return digit == unsure ? '?' : hex_digit_char(digit);
}

void header_text(const int *digits, char *text)
{
    for (int k = 0; k < header_digits; k++)
        text[k + k / 2] = digit_char(digits[k]);
    text[2] = text[5] = ' ';
    text[8] = '\0';
}

// What settling needs to know of the pages read and their glyphs.
reading reading_of(int page_count, const command_line *line)
{
    reading read = {page_count, pages, sample_count, groups.group_of, groups.runner_up, groups.doubtful, groups.count,
                    votes, groups.twinned, {}};
    std::copy(line->header, line->header + header_digits, read.given_header);
    return read;
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

namespace {

const int most_threads = 4;     // reading images
const int most_read_lines = 12; // lines of 16 pairs read by tesseract: enough to name every glyph
const int most_lone_lines = 16; // and lines of one glyph alone, for glyphs those show seldom
const float barely_read = 0.5f; // a group's strongest vote below this: read again alone

void print_usage(const char *exe_name)
{
    printf("---[ USAGE ]------------------------------------------------------------------\n"
           "  %s [-o <text file>] [--header 'EE SS SS'] [--glyphs <book> | --no-glyphs]\n"
           "      <image> [<image ...>]\n"
           "  Reads the pages of a dump from captures or photos of the console's screen,\n"
           "  one page an image, and writes the text that 'dumpentry' reads\n",
           exe_name);
}

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

// The header from the first of its words: one ('00 08 00', 000800) or, as the screen shows it,
// three pairs (also after '=', where the shell split them); how many words after the first it took.
int header_words(const char *first, int argc, char **argv, int next, char *joined, size_t size)
{
    if (next + 1 < argc && is_pair(first) && is_pair(argv[next]) && is_pair(argv[next + 1])) {
        snprintf(joined, size, "%s %s %s", first, argv[next], argv[next + 1]);
        return 2;
    }
    snprintf(joined, size, "%s", first);
    return 0;
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
            k += header_words(word + 9, argc, argv, k + 1, joined, sizeof joined);
            take_header(joined, line.header);
        } else if (strcmp(word, "--header") == 0) {
            if (k + 1 >= argc)
                fail(status_output_failed, "--header needs the header, such as '00 08 00'\n");
            k++;
            k += header_words(argv[k], argc, argv, k + 1, joined, sizeof joined);
            take_header(joined, line.header);
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
    pages[line->image_count - 1].lines_cut = 0; // the dump may end where the last picture does
    close_up_samples(line->image_count);
}


// The samples grouped by shape; the encoding 00 of every page's header shows the zero's.
void group_by_shape(int page_count)
{
    static int zeros[most_zeros];
    int count = 0;
    for (int p = 0; p < page_count; p++)
        for (int k = 0; k < 2; k++)
            zeros[count++] = pages[p].header[k];
    group_glyphs(samples, sample_count, zeros, count, &groups);
}

// A line of one group's glyph alone, in four pairs of its own.
void lay_out_alone(int group, int *line)
{
    std::fill(line, line + most_line, -1);
    for (int k = 0; k < 12; k++)
        line[k] = k % 3 == 2 ? -1 : group;
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
    // A glyph drawn once or never among them is read again alone.
    for (int g = 0; g < groups.count && count < most_read_lines + most_lone_lines; g++)
        if (times[g] < 2)
            lay_out_alone(g, lines[count++]);
    return count;
}

// Groups tesseract read barely or not at all among the others' glyphs, or that the checks left
// unsure, are read again alone, and what it read both ways counts: a glyph it cannot tell from
// its neighbours in a line of a small font it often reads alone, and some it reads alone as
// another digit, surely.
void read_again(const bool *again_wanted)
{
    static int lines[most_lone_lines][most_line];
    static float again[most_groups][16];
    static int chosen[most_lone_lines];
    int count = 0;
    for (int g = 0; g < groups.count && count < most_lone_lines; g++)
        if (again_wanted[g]) {
            chosen[count] = g;
            lay_out_alone(g, lines[count++]);
        }
    if (count == 0 || !read_groups(&groups, lines, count, again))
        return;
    for (int k = 0; k < count; k++)
        for (int digit = 0; digit < 16; digit++)
            votes[chosen[k]][digit] = (votes[chosen[k]][digit] + again[chosen[k]][digit]) / 2;
}

void read_barely_read_again()
{
    static bool barely[most_groups];
    for (int g = 0; g < groups.count; g++)
        barely[g] = *std::max_element(votes[g], votes[g] + 16) < barely_read;
    read_again(barely);
}

[[noreturn]] void fail_without_tesseract(const char *why)
{
    fail(status_no_tesseract, "tesseract cannot read its English data '%s' (%s): install tesseract-ocr-eng\n",
         english_data_path(), why);
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
        for (int line = 0; line < pages[p].lines_cut; line++)
            fputs("?? ?? ?? ?? ?? ?? ?? ??\n", out);
    }
}

// Where a person named every group and the checks still fail, a group may hold two glyphs that
// blur alike (an 8 and a B): the part of a named group that stands apart from the glyph the person
// was shown at (shown_at; a group the glyph book named, never shown, keeps the part nearer its
// mean), and under one digit makes every check hold, becomes a group of its own, that digit its
// guess, to be asked. Each named group is parted once at the most; false when none parts.
bool part_named_group(reading *read, int *shown_at, int *given, int *guesses)
{
    static bool parted[most_groups];
    static int part[most_samples], name[most_groups];
    for (int g = 0; g < groups.count; g++)
        name[g] = given[g] != unsure ? given[g] : result.name[g];
    for (int g = 0; g < groups.count; g++) {
        if (given[g] == unsure || parted[g])
            continue;
        parted[g] = true;
        int count = part_apart(samples, sample_count, &groups, g, shown_at[g], part);
        int digit = count > 0 ? digit_that_holds(read, name, part, count) : unsure;
        if (digit == unsure || digit == name[g])
            continue;
        int apart = group_apart(samples, sample_count, &groups, part, count);
        if (apart < 0)
            return false;
        std::copy(votes[g], votes[g] + 16, votes[apart]);
        given[apart] = unsure;
        guesses[apart] = digit;
        result.sure[apart] = false;
        read->groups = groups.count;
        return true;
    }
    return false;
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
    read_barely_read_again();
    reading read = reading_of(page_count, line);
    static int given[most_groups], guesses[most_groups];
    bool from_book = false;
    for (int g = 0; g < groups.count; g++) {
        given[g] = book_in_use ? name_in_book(&book, groups.mean[g]) : unsure;
        from_book = from_book || given[g] != unsure;
    }
    std::copy(given, given + groups.count, guesses);
    settle(&read, given, &result);
    // The groups the checks left unsure are read alone: more of tesseract's evidence where it is
    // wanted (the first settling's risk stays spent).
    static bool unsure_left[most_groups];
    for (int g = 0; g < groups.count; g++)
        unsure_left[g] = !result.sure[g] && given[g] == unsure;
    if (std::any_of(unsure_left, unsure_left + groups.count, [](bool left) { return left; })) {
        read_again(unsure_left);
        settle(&read, given, &result);
    }
    bool at_terminal = standard_input_is_terminal();
    bool all_sure = std::all_of(result.sure, result.sure + groups.count, [](bool sure) { return sure; });
    if (from_book && !result.checks_hold && (!at_terminal || all_sure)) {
        std::fill(given, given + groups.count, unsure);
        settle(&read, given, &result);
    }
    for (int g = 0; g < groups.count; g++)
        guesses[g] = guesses[g] != unsure ? guesses[g] : result.name[g];
    static int shown_at[most_groups];
    std::fill(shown_at, shown_at + most_groups, -1);
    do {
        while (at_terminal && ask_names(page_count, line, guesses, given, shown_at)) {
            settle(&read, given, &result);
            for (int g = 0; g < groups.count; g++)
                guesses[g] = given[g] != unsure ? given[g] : result.name[g];
        }
    } while (at_terminal && !result.checks_hold && part_named_group(&read, shown_at, given, guesses));
    if (result.checks_hold && book_in_use)
        keep_names(result.name, result.sure);
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
    group_by_shape(line.image_count);
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
