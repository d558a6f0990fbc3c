// What dumpscan says of the pages it read: each page, what about the set keeps the checks from
// holding, the digits not read for sure, and the dump's own checks.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/bram_file.h"
#include "../common/bramtools.h"
#include "dumpscan.h"

namespace {

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
    int digits[header_digits];
    for (int k = 0; k < header_digits; k++) {
        int g = groups.group_of[page->header[k]];
        const float *read = g < 0 ? nullptr : votes[g];
        bool any = read && *std::max_element(read, read + 16) > 0;
        digits[k] = any ? static_cast<int>(std::max_element(read, read + 16) - read) : unsure;
    }
    header_text(digits, text);
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

// A page whose picture's bottom edge cut off its last lines: which, as they are numbered.
void report_lines_cut(const page_read *page)
{
    int first = page->lines, last = page_lines - 1;
    char lines[32];
    if (first == last)
        snprintf(lines, sizeof lines, "line %d is", first);
    else
        snprintf(lines, sizeof lines, "lines %d %s %d are", first, first + 1 == last ? "and" : "to", last);
    warn("%s shows %d lines, not %d: %s cut off at the bottom of the picture\n", page->image, page->lines, page_lines,
         lines);
}

} // namespace

void report_pages(int page_count)
{
    for (int p = 0; p < page_count; p++) {
        char page_name[32], header[9];
        name_page(page_count, p, page_name, sizeof page_name);
        int digits[header_digits];
        for (int k = 0; k < header_digits; k++)
            digits[k] = result.digit[pages[p].header[k]];
        header_text(digits, header);
        warn("%s: %s, %d line%s, header %s\n", pages[p].image, page_name, pages[p].lines,
             pages[p].lines == 1 ? "" : "s", header);
    }
}

// What about the set of pictures leaves the checks unable to hold, said in words: a picture
// given twice, a page not full before the last, pages of two saves or too few or too many, a
// header given that the pages do not bear out.
void report_set(int page_count, const command_line *line)
{
    // Pages alike to the pixel may be two pages of a save of runs, which the checks then bear out.
    for (int p = 1; p < page_count && !result.checks_hold; p++)
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
        else if (pages[p].lines_cut > 0)
            report_lines_cut(&pages[p]);
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
    char header[9];
    header_text(line->header, header);
    if (shown >= 0 && shown != given)
        warn("--header %s: the pages show 00 %02lX %02lX\n", header, shown >> 8, shown & 0xFF);
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
        for (int line = -1; line < pages[p].lines + pages[p].lines_cut; line++) {
            bool cut = line >= pages[p].lines;
            const int *indexes = line < 0 ? pages[p].header : cut ? nullptr : pages[p].digits[line];
            int count = line < 0 ? header_digits : cut ? digits_per_line : digits_on(&pages[p], line), here = 0;
            for (int k = 0; k < count; k++)
                here += !indexes || result.digit[indexes[k]] == unsure;
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
