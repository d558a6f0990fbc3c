#ifndef DUMPSCAN_CELLS_H
#define DUMPSCAN_CELLS_H

// The cells of the grid that hold glyphs, the rows of pairs among them that make a dump page,
// and a sample of each digit's glyph, cut from its own cell.

#include "grid.h"
#include "stages.h"

// How much ink each cell of the grid holds, 0 to 1, and whether it holds a glyph.
struct cell_inks {
    float ink[most_cells][most_cells];
    bool plain[most_cells][most_cells]; // its ink as even, or as faint, as no glyph's is
    bool glyph[most_cells][most_cells];
    float sorted[most_cells * most_cells]; // room for measuring them
};

// A cell holds a glyph when it holds a good part of the ink a well-inked cell holds, in strokes.
void measure_cells(const ink_view *ink, const cell_grid *grid, cell_inks *cells);

// Finds the header (the first row of three words of two glyphs with lines of pairs below it)
// and the lines under it; samples their digits into samples from *sample_count on. False, and
// why, when the cells show no page.
bool read_rows(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, page_read *page,
               glyph_sample *samples, int *sample_count, char *why, size_t size);

#endif
