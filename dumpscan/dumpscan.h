#ifndef DUMPSCAN_H
#define DUMPSCAN_H

// The driver of dumpscan (dumpscan.cpp): it reads each image into a page of glyph samples
// (page.cpp), groups the samples of all pages by shape and names the groups (glyphs.cpp),
// settles the names left by what the dump itself must hold (settle.cpp), and writes the text
// dumpentry reads. What those stages share stands below it, in stages.h.

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

#endif
