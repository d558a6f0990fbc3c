#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "../common/bramtools.h"
#include "../common/safe_files.h"
#include "glyph_book.h"
#include "glyphs.h"

namespace {

const char first_line[] = "bramtools glyph book 1\n";
const size_t most_book_bytes = sizeof first_line + static_cast<size_t>(most_book_shapes) * (3 + 2 * glyph_size);

// One shape's line without its line end: its digit, a space, two hex digits a point.
bool parse_shape(const char *line, size_t length, int *digit, float *mean)
{
    if (length != 2 + 2 * glyph_size || hex_digit_value(line[0]) < 0 || line[1] != ' ')
        return false;
    *digit = hex_digit_value(line[0]);
    double squares = 0;
    for (int k = 0; k < glyph_size; k++) {
        int high = hex_digit_value(line[2 + 2 * k]), low = hex_digit_value(line[3 + 2 * k]);
        if (high < 0 || low < 0)
            return false;
        mean[k] = static_cast<float>(high * 16 + low);
        squares += static_cast<double>(mean[k]) * mean[k];
    }
    if (squares <= 0)
        return false;
    for (int k = 0; k < glyph_size; k++)
        mean[k] = static_cast<float>(mean[k] / std::sqrt(squares));
    return true;
}

void forget_shape(glyph_book *book, int at)
{
    book->count--;
    std::copy(book->digit + at + 1, book->digit + book->count + 1, book->digit + at);
    std::copy(book->mean[at + 1], book->mean[book->count + 1], book->mean[at]);
}

} // namespace

bool default_book_path(char *path, size_t size)
{
    const char *data = getenv("XDG_DATA_HOME"), *home = getenv("HOME");
    int length;
    if (data && data[0] == '/') // a relative one is to be ignored
        length = snprintf(path, size, "%s/bramtools/glyphs", data);
    else if (home && home[0])
        length = snprintf(path, size, "%s/.local/share/bramtools/glyphs", home);
    else
        return false;
    return length > 0 && static_cast<size_t>(length) < size;
}

bool parse_book(const char *text, size_t length, glyph_book *book, int *bad_line)
{
    book->count = 0;
    *bad_line = 1;
    size_t first = strlen(first_line);
    if (length < first || memcmp(text, first_line, first) != 0)
        return false;
    for (size_t at = first; at < length;) {
        ++*bad_line;
        const char *end = static_cast<const char *>(memchr(text + at, '\n', length - at));
        if (!end || book->count == most_book_shapes ||
            !parse_shape(text + at, static_cast<size_t>(end - text) - at, &book->digit[book->count],
                         book->mean[book->count]))
            return false;
        book->count++;
        at = static_cast<size_t>(end - text) + 1;
    }
    return true;
}

void write_book(FILE *out, const glyph_book *book)
{
    fputs(first_line, out);
    for (int s = 0; s < book->count; s++) {
        const float *mean = book->mean[s];
        float most = std::max(*std::max_element(mean, mean + glyph_size), 1e-9f);
        fprintf(out, "%X ", book->digit[s]);
        for (int k = 0; k < glyph_size; k++)
            fprintf(out, "%02X", static_cast<unsigned>(std::lround(std::max(0.0f, mean[k]) / most * 255)));
        fputc('\n', out);
    }
}

int name_in_book(const glyph_book *book, const float *mean)
{
    double nearest[16];
    std::fill(nearest, nearest + 16, 2.0);
    for (int s = 0; s < book->count; s++)
        nearest[book->digit[s]] = std::min(nearest[book->digit[s]], distance_between(book->mean[s], mean));
    int best = static_cast<int>(std::min_element(nearest, nearest + 16) - nearest);
    if (nearest[best] > same_shape)
        return unsure;
    for (int d = 0; d < 16; d++)
        if (d != best && nearest[d] <= 2 * same_shape)
            return unsure; // two digits drawn alike: the book cannot tell them
    return best;
}

void keep_in_book(glyph_book *book, const float *mean, int digit)
{
    for (int s = book->count - 1; s >= 0; s--)
        if (distance_between(book->mean[s], mean) <= same_shape)
            forget_shape(book, s);
    if (book->count == most_book_shapes)
        forget_shape(book, 0);
    book->digit[book->count] = digit;
    std::copy(mean, mean + glyph_size, book->mean[book->count]);
    book->count++;
}

bool load_book(const char *path, glyph_book *book)
{
    book->count = 0;
    file_facts facts;
    if (!facts_of(path, &facts))
        return errno == ENOENT;
    if (!facts.regular) {
        warn("Warning: the glyph book '%s' is no file, so it is neither used nor written\n", path);
        return false;
    }
    static char text[most_book_bytes + 1];
    FILE *in = open_file(path, "rb");
    size_t length = in ? fread(text, 1, sizeof text, in) : 0;
    bool read = in && !ferror(in);
    int reason = errno;
    if (in)
        fclose(in);
    if (!read) {
        warn("Warning: the glyph book '%s' cannot be read (%s), so it is neither used nor written\n", path,
             strerror(reason));
        return false;
    }
    int bad_line;
    if (length > most_book_bytes || !parse_book(text, length, book, &bad_line)) {
        warn("Warning: the glyph book '%s' is damaged (line %d), so it is neither used nor written\n", path,
             length > most_book_bytes ? most_book_shapes + 2 : bad_line);
        book->count = 0;
        return false;
    }
    return true;
}

namespace {

// The folders that lead to the book, made where missing; false (errno saying why) when one
// cannot be.
bool make_folders_of(const char *path)
{
    char folder[longest_path];
    snprintf(folder, sizeof folder, "%s", path);
    for (char *at = folder + 1; *at; at++) {
        if (*at != '/')
            continue;
        *at = '\0';
        file_facts facts;
        bool there = facts_of(folder, &facts);
        if (!there && !make_folder(folder))
            return false;
        *at = '/';
    }
    return true;
}

} // namespace

void save_book(const char *path, const glyph_book *book)
{
    pending_output *out = make_folders_of(path) ? start_output(path) : nullptr;
    bool saved = out != nullptr;
    if (out) {
        write_book(out->stream, book);
        saved = finish_output(out) && commit_output_and_go_on(out);
    }
    if (!saved)
        warn("Warning: the glyph book '%s' cannot be written (%s)\n", path, strerror(errno));
}
