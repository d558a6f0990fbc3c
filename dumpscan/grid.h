#ifndef DUMPSCAN_GRID_H
#define DUMPSCAN_GRID_H

// The grid of cells the text stands on, found from the rhythm of the ink: the rows from where
// its rows' profile repeats, the columns from where a comb across it meets the least ink.

#include "ink.h"

const int most_cells = 160;       // rows, and columns, of the grid
const int most_row_choices = 16;  // row pitches the profile suggests
const int row_choices_tried = 8;

// The grid of cells: rows [row_phase + k row_pitch, ...), likewise columns.
struct cell_grid {
    double row_pitch, row_phase;
    double column_pitch, column_phase;
    int rows, columns;         // cells of the grid over the image
};

// A pitch of the rows, its phase, and how much ink its gaps meet against its middles.
struct row_choice {
    double pitch, phase, ratio;
};

// Room for the search, one for each thread that reads pages: the ink's profile along a side,
// the scores of a comb's phases, and the profile's differences matched at each lag.
struct grid_room {
    float profile[largest_side + 1];
    float scores[4 * largest_side];
    double difference[largest_side], match[largest_side];
    int ends[2][largest_side];     // where each pixel row's glyphs start and end
    int outmost[2][largest_side];  // the farthest of those within a part of a row
    int intercepts[3 * largest_side]; // pixel rows by where a side through them crosses the middle
    double reach[largest_side + 1];   // where each pixel row's top goes when the page is squared up
    double fit_values[largest_side], fit_weights[largest_side]; // the pixel rows on a side
};

// The least-squares line through points (k, value) weighted by weight: value = first + k step.
// Through fewer than four points, only where it starts (step stands as given).
void fit_line(const double *values, const double *weights, int count, double *first, double *step);

// The ink turned level, as a photo taken a little askew needs: by the angle the text lines
// show, when that sets the rows better apart than they stand. A new picture.
PIX *straightened(PIX *ink, grid_room *room);

// The ink with the page's sides made upright, as a photo taken from below or above the screen
// needs: its lines narrow toward the far end, and stand closer there. Judged by the straight
// sides that most pixel rows' glyphs start and end on; nullptr when the sides stand upright
// already.
PIX *squared_up(PIX *ink, grid_room *room);

// The row pitches to try on the ink, best first, into choices; how many.
int choose_rows(const ink_view *ink, grid_room *room, row_choice *choices, int most);

// The grid of cells on rows of this choice, with cells as wide as usual or widened (a
// capture widened to 4:3 or to the console's pixel aspect); false when no columns are found.
bool find_grid(const ink_view *ink, const row_choice *rows, bool widened, grid_room *room, cell_grid *grid);

#endif
