// Asking a person at the terminal for the glyphs no check could name, once each, and keeping
// the answers in the glyph book.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "../common/bramtools.h"
#include "dumpscan.h"

namespace {

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
        int name = !named ? unsure : given[g] != unsure ? given[g] : result.name[g];
        header[k] = line->header[0] != unsure ? line->header[k] : name;
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
        char place[96], shown[9];
        name_place(page_count, p, at_line, k, place, sizeof place);
        header_text(header, shown);
        warn("It stands at %s, where the %s must hold %c (%s %s): type %c again to keep it\n", place,
             at_line < 0 ? "header" : "size field", digit_char(known),
             line->header[0] != unsure ? "--header" : "the header reads", shown, digit_char(digit));
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

void keep_answer(int group, int digit)
{
    if (!book_in_use || name_in_book(&book, groups.mean[group]) == digit)
        return;
    keep_in_book(&book, groups.mean[group], digit);
    save_book(book_path, &book);
}

} // namespace

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

// At a terminal, each shape no check could name is shown once in a run, large, with the first
// place it stands (its sample kept in shown_at), and the person names it: Enter takes the guess,
// '?' leaves it unsure. Returns whether any was named (the names settled again may leave other
// shapes unsure, asked then).
bool ask_names(int page_count, const command_line *line, const int *guesses, int *given, int *shown_at)
{
    static bool asked[most_groups], ended = false;
    bool named = false;
    each_place(page_count, [&](int p, int at_line, int k, int s) {
        int g = groups.group_of[s];
        if (ended || g < 0 || asked[g] || result.sure[g] || given[g] != unsure)
            return;
        asked[g] = true;
        shown_at[g] = s;
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
