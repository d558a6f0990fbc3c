#ifndef DUMPSCAN_H
#define DUMPSCAN_H

// The driver of dumpscan (dumpscan.cpp): it reads each image into a page of glyph samples
// (page.cpp), groups the samples of all pages by shape and names the groups (glyphs.cpp),
// settles the names left by what the dump itself must hold (settle.cpp), asks a person at the
// terminal for what is left (ask.cpp), and writes the text dumpentry reads, saying what it
// found (report.cpp). What the stages share stands below it, in stages.h.

#include "../common/system.h"
#include "glyph_book.h"
#include "glyphs.h"
#include "settle.h"
#include "stages.h"

// The exit statuses of dumpscan.
enum dumpscan_status {
    status_done = 0,
    status_output_failed = 1, // the text cannot be made or written, or is refused
    status_no_page = 2,       // an image holds no dump page
    status_unreadable = 3,    // an image cannot be read
    status_no_tesseract = 4,  // tesseract cannot read its English data
    status_unsure = 5,        // written, with digits not read for sure or a check that fails
};

// The command line: the options and the pictures.
struct command_line {
    const char *output;              // null: standard output
    int header[header_digits];       // given with --header, or unsure
    const char *glyphs;              // --glyphs, or null: the book's usual place
    bool no_glyphs;
    char **images;
    int image_count;
};

// The run's state: each picture's page, the glyph samples of all, their groups and what
// tesseract read of them, the digits settled, and the glyph book.
extern glyph_sample samples[most_samples];
extern int sample_count;
extern page_read pages[most_pages];
extern glyph_groups groups;
extern float votes[most_groups][16];
extern settled result;
extern glyph_book book;
extern char book_path[longest_path];
extern bool book_in_use; // read, or to be made: neither damaged nor left out

// A digit as written: its hex digit, or '?' when unsure.
char digit_char(int digit);
// A header's six digits as the screen shows them, "00 01 3B", into text of 9 characters.
void header_text(const int *digits, char *text);
// What settling needs to know of the pages read and their glyphs.
reading reading_of(int page_count, const command_line *line);
// "page 3" for a full page, "last page" for the one after the full pages.
void name_page(int page_count, int p, char *name, size_t size);

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

// Asking at the terminal (ask.cpp): each group no check could name, once; true when one was
// named. Each answer is kept in the glyph book at once, as keep_names keeps sure names.
bool ask_names(int page_count, const command_line *line, const int *guesses, int *given, int *shown_at);
void keep_names(const int *names, const bool *keep);

// What is said of the pages read (report.cpp): a line for each page; what about the set keeps
// the checks from holding; the lines with digits not read for sure (returns how many digits);
// the dump's own checks where every digit was read (true when they hold).
void report_pages(int page_count);
void report_set(int page_count, const command_line *line);
int report_unsure(int page_count);
bool dump_holds(int page_count, const command_line *line);

#endif
