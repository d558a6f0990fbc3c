#ifndef DUMPSCAN_STAGES_H
#define DUMPSCAN_STAGES_H

// What the stages of dumpscan share, below the driver that calls them: the page as read, the
// glyph samples, and how a stage starts a helper thread.

#include <cstddef>
#include <system_error>
#include <thread>

#include "../common/dump_text.h"
#include "../common/system.h"

// Starts a thread that runs work(argument), with the ending signals held in it, so that a
// signal lands on the main thread, which cleans up; false when the system cannot start one
// (the caller then does the work itself).
template <typename Argument> bool start_helper(std::thread *helper, void (*work)(Argument *), Argument *argument)
{
    hold_ending_signals(true);
    bool started = true;
    try {
        *helper = std::thread(work, argument);
    } catch (const std::system_error &) {
        started = false;
    }
    hold_ending_signals(false);
    return started;
}

const int most_pages = 513;            // a dump of 65535 bytes: 511 full pages, and the last
const int page_lines = lines_per_page; // as int, as the stages count
const int digits_per_line = 2 * bytes_per_line; // eight pairs
const int header_digits = header_digit_count;   // the encoding and the size
const int glyph_side = 16;             // a glyph's sample is glyph_side x glyph_side
const int glyph_size = glyph_side * glyph_side;
const int most_samples = most_pages * (header_digits + page_lines * digits_per_line);

// A glyph cut from its cell: how much ink each point of it holds, 0 to 255.
struct glyph_sample {
    unsigned char ink[glyph_size];
};

// A page as its image shows it: the header's digits and each line's, as the indexes of their
// glyph samples.
struct page_read {
    const char *image;                            // its file's name
    int lines;                                    // lines of the dump on it, 1 to 16
    int last_line_digits;                         // digits of its last line: 2 to 16, even
    int header[header_digits];
    int digits[page_lines][digits_per_line];
    int lines_cut; // lines after these that the picture's bottom edge cut off, on a page not last
};

// The digits on a line of the page: sixteen, but on its last line, which may be shorter.
inline int digits_on(const page_read *page, int line)
{
    return line + 1 == page->lines ? page->last_line_digits : digits_per_line;
}

// The value a digit stands for, 0 to 15; unsure: no value can be given for sure.
const int unsure = -1;

#endif
