// A dump page stands on the grid as words of two glyphs: three in the header, eight in each
// line under it, three cells apart; each digit's glyph is sampled from its cell alone.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cells.h"

namespace {

const int pairs_per_line = digits_per_line / 2;
const int cells_per_pair = 3; // two digits and a space
const double flat_stray = 0.2;  // of its mean, the mean stray of a flat box's pixels
const int faintest_stroke = 77; // of 255, the ink of a stroke's most inked pixel at the least

// The mean ink of a box of the image, 0 to 1; *plain when no glyph can stand in it: its pixels
// stray little from that mean (a screen's surround, or the dark about it) or none is inked as
// a stroke is (the edge of a grey surround).
float box_ink(const ink_view *ink, double left, double top, double right, double bottom, bool *plain)
{
    int x0 = std::max(0, static_cast<int>(std::lround(left))), y0 = std::max(0, static_cast<int>(std::lround(top)));
    int x1 = std::min(ink->width, static_cast<int>(std::lround(right)));
    int y1 = std::min(ink->height, static_cast<int>(std::lround(bottom)));
    long sum = 0, count = 0;
    int most = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++, count++) {
            sum += ink_at(ink, x, y);
            most = std::max(most, ink_at(ink, x, y));
        }
    double mean = count ? static_cast<double>(sum) / static_cast<double>(count) : 0, strayed = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++)
            strayed += std::fabs(ink_at(ink, x, y) - mean);
    *plain = most < faintest_stroke || strayed < flat_stray * mean * static_cast<double>(count);
    return static_cast<float>(mean / 255);
}

// The columns where each row's words of two glyphs start.
bool starts_pair(const cell_inks *cells, int row, int column, int columns)
{
    return cells->glyph[row][column] && column + 1 < columns && cells->glyph[row][column + 1] &&
           (column == 0 || !cells->glyph[row][column - 1]) &&
           (column + 2 >= columns || !cells->glyph[row][column + 2]);
}

// The first column of the eight pairs of a line, three cells apart: the column from which the
// most words of two glyphs start at the places of pairs, over all rows.
int first_pair_column(const cell_inks *cells, const cell_grid *grid)
{
    int best = -1, best_count = 0;
    for (int first = 0; first + cells_per_pair * (pairs_per_line - 1) + 1 < grid->columns; first++) {
        int count = 0;
        for (int row = 0; row < grid->rows; row++)
            for (int pair = 0; pair < pairs_per_line; pair++)
                count += starts_pair(cells, row, first + cells_per_pair * pair, grid->columns);
        if (count > best_count || (count == best_count && count > 0)) {
            best = first;
            best_count = count;
        }
    }
    return best;
}

// How many pairs from the first column on a row holds in a row, at the places of pairs.
int pairs_in_row(const cell_inks *cells, int row, int first, int columns)
{
    int pairs = 0;
    while (pairs < pairs_per_line && first + cells_per_pair * pairs + 1 < columns &&
           cells->glyph[row][first + cells_per_pair * pairs] && cells->glyph[row][first + cells_per_pair * pairs + 1])
        pairs++;
    return pairs;
}

// The words of two glyphs in a row, wherever they stand over the lines' columns: the edges of
// a screen's surround may stand as words to either side of them.
int words_of_two(const cell_inks *cells, int row, int first, int columns, int *starts)
{
    int count = 0;
    for (int column = first; column < std::min(columns, first + cells_per_pair * pairs_per_line); column++)
        if (starts_pair(cells, row, column, columns) && count < pairs_per_line + 1)
            starts[count++] = column;
    return count;
}

// Where the glyphs stand: the middles of the cells that hold them, fitted as one straight
// grid to where the ink of each row and each column centres. A pitch measured a little off
// would otherwise drift from row to row; the fit holds every glyph of one shape in the same
// place of its sample.
struct glyph_places {
    double row_first, row_step;       // the middle of row k: row_first + k row_step
    double column_first, column_step; // likewise across
};

// Adds the ink of the pixels whose middles stand from left, top to right, bottom to *weight,
// and to *moment_x and *moment_y weighed by where they stand, across and down.
void add_box_ink(const ink_view *ink, double left, double top, double right, double bottom, double *weight,
                 double *moment_x, double *moment_y)
{
    int x0 = std::max(0, static_cast<int>(std::ceil(left - 0.5)));
    int y0 = std::max(0, static_cast<int>(std::ceil(top - 0.5)));
    int x1 = std::min(ink->width, static_cast<int>(std::ceil(right - 0.5)));
    int y1 = std::min(ink->height, static_cast<int>(std::ceil(bottom - 0.5)));
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++) {
            int value = ink_at(ink, x, y);
            *weight += value;
            *moment_x += value * (x + 0.5);
            *moment_y += value * (y + 0.5);
        }
}

// Adds the ink of the cell at row, column to *weight, and to *moment weighed by where it
// stands: across the cell (x) when across, else down it (y).
void add_cell_ink(const ink_view *ink, const cell_grid *grid, int row, int column, bool across, double *weight,
                  double *moment)
{
    double left = grid->column_phase + column * grid->column_pitch;
    double top = grid->row_phase + row * grid->row_pitch, moment_x = 0, moment_y = 0;
    add_box_ink(ink, left, top, left + grid->column_pitch, top + grid->row_pitch, weight, &moment_x, &moment_y);
    *moment += across ? moment_x : moment_y;
}

// The centres of the ink of each row of cells (of each column, across) fitted to a line.
void fit_centres(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, bool across, double *first,
                 double *step)
{
    double centres[most_cells], weights[most_cells];
    int count = across ? grid->columns : grid->rows, others = across ? grid->rows : grid->columns;
    for (int k = 0; k < count; k++) {
        double weight = 0, moment = 0;
        for (int j = 0; j < others; j++) {
            int row = across ? j : k, column = across ? k : j;
            if (cells->glyph[row][column])
                add_cell_ink(ink, grid, row, column, across, &weight, &moment);
        }
        weights[k] = weight;
        centres[k] = weight > 0 ? moment / weight : 0;
    }
    fit_line(centres, weights, count, first, step);
}

void place_glyphs(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, glyph_places *places)
{
    places->row_first = grid->row_phase + grid->row_pitch / 2;
    places->row_step = grid->row_pitch;
    places->column_first = grid->column_phase + grid->column_pitch / 2;
    places->column_step = grid->column_pitch;
    fit_centres(ink, grid, cells, false, &places->row_first, &places->row_step);
    fit_centres(ink, grid, cells, true, &places->column_first, &places->column_step);
}

// The part of the picture a cell covers: the ink of the cells around it (glyphs of touching rows
// and pairs) left out of its glyph's sample.
struct cell_box {
    double left, top, right, bottom;
};

// glyph_side x glyph_side points over a cell from left, top, each the mean of points x points
// points between pixels over twice what it covers, where they fall within the cell's box: a
// capture scaled by a part of a pixel (8:7 nearest) draws a stroke a pixel wider in some
// places than in others, which a point a little blurred sees alike.
void sample_box(const ink_view *ink, const cell_box *cell, double left, double top, double step_x, double step_y,
                int points, glyph_sample *sample)
{
    const double spread = 2;
    for (int j = 0; j < glyph_side; j++)
        for (int i = 0; i < glyph_side; i++) {
            double sum = 0;
            for (int b = 0; b < points; b++)
                for (int a = 0; a < points; a++) {
                    double x = left + (i + 0.5 + ((a + 0.5) / points - 0.5) * spread) * step_x;
                    double y = top + (j + 0.5 + ((b + 0.5) / points - 0.5) * spread) * step_y;
                    if (x >= cell->left && x < cell->right && y >= cell->top && y < cell->bottom)
                        sum += ink_between(ink, x, y);
                }
            sample->ink[j * glyph_side + i] = static_cast<unsigned char>(std::lround(255 * sum / (points * points)));
        }
}

// Where the ink of the pixels within the window from left, top to right, bottom, and within the
// cell's box, centres; false when it holds none. Pixels, not points between them: points as
// far apart as a sample's alias the strokes of a scaled capture, each glyph its own way.
bool ink_centre(const ink_view *ink, const cell_box *cell, double left, double top, double right, double bottom,
                double *x, double *y)
{
    double weight = 0, moment_x = 0, moment_y = 0;
    add_box_ink(ink, std::max(left, cell->left), std::max(top, cell->top), std::min(right, cell->right),
                std::min(bottom, cell->bottom), &weight, &moment_x, &moment_y);
    if (weight <= 0)
        return false;
    *x = moment_x / weight;
    *y = moment_y / weight;
    return true;
}

// The glyph of a cell as a sample, centred on its ink: a grid fitted a little off, or a capture
// scaled by a part of a pixel, sets the same glyph at other places of its cells, which would
// part its samples more than two glyphs' shapes do.
void sample_cell(const ink_view *ink, const glyph_places *places, int row, int column, glyph_sample *sample)
{
    double left = places->column_first + column * places->column_step - places->column_step / 2;
    double top = places->row_first + row * places->row_step - places->row_step / 2;
    cell_box cell = {left, top, left + places->column_step, top + places->row_step};
    double step_x = places->column_step / glyph_side, step_y = places->row_step / glyph_side;
    // A box that cuts off part of the glyph finds its centre short of where it is: twice.
    for (int pass = 0; pass < 2; pass++) {
        double x, y;
        if (!ink_centre(ink, &cell, left, top, left + places->column_step, top + places->row_step, &x, &y))
            break;
        left = x - places->column_step / 2;
        top = y - places->row_step / 2;
    }
    sample_box(ink, &cell, left, top, step_x, step_y, 3, sample);
}

// Samples the digits of row from column first on, count of them, into indexes.
void sample_row(const ink_view *ink, const glyph_places *places, int row, int first, int count, int *indexes,
                glyph_sample *samples, int *sample_count)
{
    for (int digit = 0; digit < count; digit++) {
        int column = first + digit / 2 * cells_per_pair + digit % 2;
        indexes[digit] = (*sample_count)++;
        sample_cell(ink, places, row, column, &samples[indexes[digit]]);
    }
}

// How far below its middle the ink of the row of glyphs about middle reaches, in pixels: to
// the last pixel row that holds a quarter of the ink of the row's most inked.
double ink_reach_below(const ink_view *ink, double middle, double pitch)
{
    middle = std::min(std::max(middle, 0.0), static_cast<double>(ink->height - 1));
    int top = std::max(0, static_cast<int>(middle - pitch / 2)), centre = static_cast<int>(middle);
    int bottom = std::min(ink->height - 1, static_cast<int>(middle + pitch / 2));
    long most = 0;
    for (int y = top; y <= bottom; y++)
        most = std::max(most, ink_across(ink, y));
    int last = centre;
    for (int y = centre; y <= bottom; y++)
        if (4 * ink_across(ink, y) >= most && most > 0)
            last = y;
    return last + 0.5 - middle;
}

// Whether the picture's bottom edge cuts through the glyphs of row: they would reach as far
// below their middle as those of the row above do.
bool cut_by_bottom_edge(const ink_view *ink, const glyph_places *places, int row)
{
    double middle = places->row_first + row * places->row_step;
    return middle + ink_reach_below(ink, middle - places->row_step, places->row_step) > ink->height;
}

// Whether a column of cells is the edge of a screen's surround: inked alike in every row from
// the picture's top to its bottom (where the surround may run across, or end). A column of
// glyphs has blank rows above or below the page, or other glyphs in some row.
bool surround_band(const cell_inks *cells, int rows, int column)
{
    float least = 1, most = 0;
    for (int row = 1; row + 1 < rows; row++) {
        if (!cells->glyph[row][column])
            return false;
        least = std::min(least, cells->ink[row][column]);
        most = std::max(most, cells->ink[row][column]);
    }
    return rows > 4 && most <= 1.15f * least;
}

bool on_edge(const cell_grid *grid, int row, int column)
{
    return row == 0 || column == 0 || row + 1 == grid->rows || column + 1 == grid->columns;
}

} // namespace

void measure_cells(const ink_view *ink, const cell_grid *grid, cell_inks *cells)
{
    float *sorted = cells->sorted;
    int count = 0;
    for (int row = 0; row < grid->rows; row++)
        for (int column = 0; column < grid->columns; column++) {
            double left = grid->column_phase + column * grid->column_pitch;
            double top = grid->row_phase + row * grid->row_pitch;
            bool *plain = &cells->plain[row][column];
            float value = box_ink(ink, left, top, left + grid->column_pitch, top + grid->row_pitch, plain);
            cells->ink[row][column] = value;
            if (!*plain && !on_edge(grid, row, column))
                sorted[count++] = value;
        }
    // A page holds the header's six glyphs at the least: the fifth most inked cell is a glyph's.
    // The cells on the grid's edges are left out where the page allows: a surround cut by them
    // is inked more than any glyph.
    if (count < 5)
        for (int row = 0; row < grid->rows; row++)
            for (int column = 0; column < grid->columns; column++)
                if (!cells->plain[row][column] && on_edge(grid, row, column))
                    sorted[count++] = cells->ink[row][column];
    std::sort(sorted, sorted + count);
    float well_inked = count ? sorted[std::max(0, count - 5)] : 0;
    for (int row = 0; row < grid->rows; row++)
        for (int column = 0; column < grid->columns; column++)
            cells->glyph[row][column] =
                !cells->plain[row][column] && cells->ink[row][column] > 0.2f * well_inked && well_inked > 0.02f;
    for (int column = 0; column < grid->columns; column++)
        if (surround_band(cells, grid->rows, column))
            for (int row = 0; row < grid->rows; row++)
                cells->glyph[row][column] = false;
}

bool read_rows(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, page_read *page,
               glyph_sample *samples, int *sample_count, char *why, size_t size)
{
    glyph_places places;
    place_glyphs(ink, grid, cells, &places);
    int first = first_pair_column(cells, grid);
    if (first < 0) {
        snprintf(why, size, "no row of pairs of hex digits");
        return false;
    }
    for (int row = 0; row + 1 < grid->rows; row++) {
        int starts[pairs_per_line + 1];
        if (words_of_two(cells, row, first, grid->columns, starts) != header_digits / 2)
            continue;
        int below = row + 1;
        while (below < grid->rows && pairs_in_row(cells, below, first, grid->columns) == 0 &&
               below - row <= 2) // a blank row may stand between the header and the lines
            below++;
        if (below >= grid->rows || pairs_in_row(cells, below, first, grid->columns) == 0)
            continue;
        int header_first = starts[0];
        bool evenly = starts[1] == header_first + cells_per_pair && starts[2] == header_first + 2 * cells_per_pair;
        if (!evenly)
            continue;
        sample_row(ink, &places, row, header_first, header_digits, page->header, samples, sample_count);
        page->lines = 0;
        int line = below;
        bool cut = false;
        for (; line < grid->rows && page->lines < page_lines; line++) {
            int pairs = pairs_in_row(cells, line, first, grid->columns);
            cut = pairs > 0 && line + 1 == grid->rows && line > below && cut_by_bottom_edge(ink, &places, line);
            if (pairs == 0 || cut)
                break;
            sample_row(ink, &places, line, first, 2 * pairs, page->digits[page->lines], samples, sample_count);
            page->last_line_digits = 2 * pairs;
            page->lines++;
            if (pairs < pairs_per_line)
                break; // the last line of the dump
        }
        // Whole lines that run to the picture's bottom edge: those a page lacks may stand below it.
        bool at_edge = (line == grid->rows || cut) && page->last_line_digits == digits_per_line;
        page->lines_cut = at_edge ? page_lines - page->lines : 0;
        return true;
    }
    snprintf(why, size, "no header of three pairs above lines of pairs");
    return false;
}

