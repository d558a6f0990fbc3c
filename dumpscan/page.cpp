// An image of the screen is read as a person reads it: the text stands on a grid of cells, so
// the rows and the cells are found first, from where the ink is; then the rows of pairs.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <leptonica/allheaders.h>

#include "page.h"

namespace {

const int largest_side = 2048; // larger images are scaled down to this first
const double most_pixels = 64e6; // larger ones are not read: a photo has 50 million at the most
const int most_cells = 160;    // rows, and columns, of the grid
const int pairs_per_line = digits_per_line / 2;
const int cells_per_pair = 3;  // two digits and a space
const int most_row_choices = 16; // row pitches the profile suggests
const int row_choices_tried = 8;

// The grid of cells: rows [row_phase + k row_pitch, ...), likewise columns.
struct cell_grid {
    double row_pitch, row_phase;
    double column_pitch, column_phase;
    int rows, columns;         // cells of the grid over the image
};

// How much ink each cell of the grid holds, 0 to 1, and whether it holds a glyph.
struct cell_inks {
    float ink[most_cells][most_cells];
    bool glyph[most_cells][most_cells];
};

// Each thread reading pages keeps its own working buffers.
thread_local float profile[largest_side + 1], scores[4 * largest_side];

// The image in 8-bit gray, scaled down when it is larger than any capture needs.
PIX *gray_image(PIX *pix)
{
    PIX *gray = pixGetDepth(pix) == 32 ? pixConvertRGBToLuminance(pix) : pixConvertTo8(pix, 0);
    if (!gray)
        return nullptr;
    int width = pixGetWidth(gray), height = pixGetHeight(gray);
    int side = std::max(width, height);
    if (side <= largest_side)
        return gray;
    // A picture far taller than wide (or wider than tall) keeps a pixel across at the least.
    double factor = static_cast<double>(largest_side) / side;
    PIX *smaller = pixScaleToSize(gray, std::max(1, static_cast<int>(std::lround(width * factor))),
                                  std::max(1, static_cast<int>(std::lround(height * factor))));
    pixDestroy(&gray);
    return smaller;
}

// Scanlines: one row of every period (2 to 4) drawn darker than the rows about it, as CRT
// filters draw them. Each row is judged by its points that stand between two lit neighbours of
// about one level: on a scanline they stand well below them, elsewhere about as bright (a gap
// within a glyph now and then). The share of its level a row of each phase keeps, the median
// of those points; 1 where no scanline is found.
const int longest_period = 4;

double kept_share(PIX *gray, int period, int phase)
{
    int width = pixGetWidth(gray), height = pixGetHeight(gray), wpl = pixGetWpl(gray);
    const l_uint32 *data = pixGetData(gray);
    long counts[64] = {}, total = 0; // the share kept, in 32nds up to 2
    for (int y = phase > 0 ? phase : period; y + 1 < height; y += period) {
        const l_uint32 *above = data + static_cast<ptrdiff_t>(y - 1) * wpl, *row = above + wpl, *below = row + wpl;
        for (int x = 0; x < width; x += 2) {
            int up = GET_DATA_BYTE(above, x), down = GET_DATA_BYTE(below, x);
            if (std::min(up, down) < 48 || std::abs(up - down) > 16)
                continue;
            int share = GET_DATA_BYTE(row, x) * 64 / (up + down);
            counts[std::min(63, share)]++;
            total++;
        }
    }
    if (total < 256)
        return 1;
    long seen = 0;
    for (int k = 0; k < 64; k++)
        if ((seen += counts[k]) * 2 >= total)
            return (k + 0.5) / 32;
    return 2;
}

// Scanlines lifted back to the level of the rows about them: the cells would otherwise sample
// each glyph with a stripe where its cell falls on the scanlines, a different one in each place.
void lift_scanlines(PIX *gray)
{
    for (int period = 2; period <= longest_period; period++) {
        double shares[longest_period];
        int darker = 0, dark_phase = 0;
        for (int phase = 0; phase < period; phase++) {
            shares[phase] = kept_share(gray, period, phase);
            if (shares[phase] < 0.8) {
                darker++;
                dark_phase = phase;
            }
        }
        if (darker != 1)
            continue;
        int width = pixGetWidth(gray), height = pixGetHeight(gray), wpl = pixGetWpl(gray);
        for (int y = dark_phase; y < height; y += period) {
            l_uint32 *row = pixGetData(gray) + static_cast<ptrdiff_t>(y) * wpl;
            for (int x = 0; x < width; x++)
                SET_DATA_BYTE(row, x, std::min(255L, std::lround(GET_DATA_BYTE(row, x) / shares[dark_phase])));
        }
        return;
    }
}

// The gray level at a fraction of the pixels, darkest first.
int percentile(const l_int32 *counts, long total, double fraction)
{
    long seen = 0;
    for (int level = 0; level < 256; level++) {
        seen += counts[level];
        if (seen >= static_cast<long>(fraction * static_cast<double>(total)))
            return level;
    }
    return 255;
}

// The ink of each pixel, 0 to 255: how far it stands from the background toward the text. The
// background is the level of half the pixels or more; the text is made of the pixels that
// stand clearly apart from it (farther than its noise), light on it or dark on it, whichever
// there are more of; its level is where most of those reach. A page of a line or two has few
// of them.
PIX *ink_image(PIX *gray)
{
    NUMA *histogram = pixGetGrayHistogram(gray, 1);
    l_int32 counts[256];
    long total = 0;
    for (int level = 0; level < 256; level++) {
        numaGetIValue(histogram, level, &counts[level]);
        total += counts[level];
    }
    numaDestroy(&histogram);
    int background = percentile(counts, total, 0.5);
    // The noise: how far the background's peak spreads before it falls to half its height.
    int noise = 0;
    while (noise < 64 && counts[std::max(0, background - noise)] > counts[background] / 2 &&
           counts[std::min(255, background + noise)] > counts[background] / 2)
        noise++;
    int apart = 3 * noise + 8;
    l_int32 lighter[256] = {}, darker[256] = {};
    long light_count = 0, dark_count = 0;
    for (int level = 0; level < 256; level++) {
        if (level >= background + apart) {
            lighter[level] = counts[level];
            light_count += counts[level];
        } else if (level <= background - apart) {
            darker[level] = counts[level];
            dark_count += counts[level];
        }
    }
    bool light_text = light_count >= dark_count;
    int text = light_text ? (light_count ? percentile(lighter, light_count, 0.95) : 255)
                          : (dark_count ? percentile(darker, dark_count, 0.05) : 0);
    double span = std::max(8, std::abs(text - background));
    PIX *ink = pixCreate(pixGetWidth(gray), pixGetHeight(gray), 8);
    int width = pixGetWidth(gray), height = pixGetHeight(gray);
    for (int y = 0; y < height; y++) {
        const l_uint32 *from = pixGetData(gray) + static_cast<ptrdiff_t>(y) * pixGetWpl(gray);
        l_uint32 *to = pixGetData(ink) + static_cast<ptrdiff_t>(y) * pixGetWpl(ink);
        for (int x = 0; x < width; x++) {
            int level = GET_DATA_BYTE(from, x);
            double value = (light_text ? level - background : background - level) / span;
            SET_DATA_BYTE(to, x, static_cast<int>(std::lround(255 * std::max(0.0, std::min(1.0, value)))));
        }
    }
    return ink;
}

// The ink image as its pixels are read, again and again.
struct ink_view {
    const l_uint32 *data;
    int words_per_line, width, height;
};

ink_view view_of(PIX *pix)
{
    return {pixGetData(pix), pixGetWpl(pix), pixGetWidth(pix), pixGetHeight(pix)};
}

int ink_at(const ink_view *ink, int x, int y)
{
    return GET_DATA_BYTE(ink->data + static_cast<ptrdiff_t>(y) * ink->words_per_line, x);
}

double profile_at(const float *values, int length, double at)
{
    if (at <= 0)
        return values[0];
    if (at >= length - 1)
        return values[length - 1];
    int below = static_cast<int>(at);
    double part = at - below;
    return values[below] * (1 - part) + values[below + 1] * part;
}

// Where the profile holds ink: from the first to the last place above a tenth of its most.
void ink_span(const float *values, int length, int *start, int *end)
{
    float most = 0;
    for (int k = 0; k < length; k++)
        most = std::max(most, values[k]);
    *start = 0;
    *end = length - 1;
    while (*start < length - 1 && values[*start] <= most / 10)
        (*start)++;
    while (*end > *start && values[*end] <= most / 10)
        (*end)--;
}

// How much ink the lines of a comb meet on average between start and end.
double comb_score(const float *values, int length, int start, int end, double pitch, double offset)
{
    double sum = 0;
    int lines = 0;
    for (; start + offset + lines * pitch <= end; lines++)
        sum += profile_at(values, length, start + offset + lines * pitch);
    return lines ? sum / lines : 1e30;
}

// The best comb over pitches from smallest to largest by pitch_step, phases by phase_step;
// where several phases meet as little, the middle one.
double search_comb(const float *values, int length, int start, int end, double smallest, double largest,
                   double pitch_step, double phase_step, double *pitch, double *phase)
{
    double best = 1e30;
    int candidates = static_cast<int>(std::floor((largest - smallest) / pitch_step + 1e-9));
    for (int step = 0; step <= candidates; step++) {
        double candidate = smallest + step * pitch_step;
        int phases = 0;
        for (double offset = 0; offset < candidate && phases < 4 * largest_side; offset += phase_step)
            scores[phases++] = static_cast<float>(comb_score(values, length, start, end, candidate, offset));
        for (int k = 0; k < phases; k++) {
            if (scores[k] >= best)
                continue;
            best = scores[k];
            *pitch = candidate;
            int run_end = k;
            while (run_end + 1 < phases && scores[run_end + 1] <= best + best * 0.02 + 1e-6)
                run_end++;
            *phase = start + phase_step * (k + run_end) / 2;
        }
    }
    return best;
}

// The pitch and phase of the gaps between cells along a profile: the comb of lines, pitch
// apart, that meets the least ink between start and end, for a pitch from smallest to largest:
// found coarsely, then finely around the coarse one.
bool fit_comb(const float *values, int length, double smallest, double largest, double *pitch, double *phase)
{
    int start, end;
    ink_span(values, length, &start, &end);
    double coarse_pitch = smallest, coarse_phase = 0;
    if (search_comb(values, length, start, end, smallest, largest, 0.1, 1.0, &coarse_pitch, &coarse_phase) >= 1e29)
        return false;
    double low = std::max(smallest, coarse_pitch - 0.12), high = std::min(largest, coarse_pitch + 0.12);
    return search_comb(values, length, start, end, low, high, 0.02, 0.25, pitch, phase) < 1e29;
}

// Where the difference of the row profile matches itself at a lag: the lags of its peaks, in
// order, that reach a good part of the best match. The row pitch is among them, and so are its
// multiples and the periods within glyphs.
int row_pitch_candidates(const float *values, int length, int *lags, int most)
{
    static thread_local double difference[largest_side], match[largest_side];
    for (int k = 0; k + 1 < length; k++)
        difference[k] = values[k + 1] - values[k];
    int count = length - 1;
    int longest = std::min(count / 3, 240);
    double best = 0;
    for (int lag = 5; lag <= longest + 1; lag++) {
        double sum = 0;
        for (int k = 0; k + lag < count; k++)
            sum += difference[k] * difference[k + lag];
        match[lag] = sum / (count - lag);
        if (lag >= 6 && lag <= longest)
            best = std::max(best, match[lag]);
    }
    int found = 0;
    for (int lag = 6; lag <= longest && found < most; lag++)
        if (match[lag] >= match[lag - 1] && match[lag] >= match[lag + 1] && match[lag] > 0.4 * best)
            lags[found++] = lag;
    return found;
}

// How much ink the gaps of a comb meet against what the middles between them meet: well under 1
// for the rows' own pitch; near 1 for a pitch within the glyphs, or for a multiple of the
// pitch, whose middles fall in gaps too.
double comb_ratio(const float *values, int length, double pitch, double phase)
{
    int start, end;
    ink_span(values, length, &start, &end);
    double gaps = 0, middles = 0;
    for (double at = phase; at + pitch <= end + pitch; at += pitch)
        if (at + pitch / 2 >= start && at + pitch / 2 <= end) {
            gaps += profile_at(values, length, at) + profile_at(values, length, at + pitch);
            middles += 2 * profile_at(values, length, at + pitch / 2);
        }
    return middles > 0 ? gaps / middles : 1e30;
}

// The row pitches and phases to try, best first: of the pitches the profile suggests, the
// smallest whose gaps meet about as little ink as the best; then, smallest first, the others
// whose gaps meet less ink than their middles (a page of a line or two, whose rows touch,
// sets its rows apart little).
struct row_choice {
    double pitch, phase, ratio;
};

int row_choices(const float *values, int length, row_choice *choices, int most)
{
    int lags[most_row_choices];
    int count = row_pitch_candidates(values, length, lags, most_row_choices);
    static thread_local row_choice found[most_row_choices];
    for (int k = 0; k < count; k++) {
        found[k] = {0, 0, 1e30};
        if (fit_comb(values, length, lags[k] - 1.5, lags[k] + 1.5, &found[k].pitch, &found[k].phase))
            found[k].ratio = comb_ratio(values, length, found[k].pitch, found[k].phase);
    }
    int first = -1;
    for (int k = 0; k < count && first < 0; k++) {
        double near_best = 1e30; // among the pitches up to a few times this one
        for (int other = 0; other < count; other++)
            if (lags[other] <= 6 * lags[k])
                near_best = std::min(near_best, found[other].ratio);
        if (found[k].ratio < 1 && found[k].ratio <= 1.3 * near_best + 0.06)
            first = k;
    }
    if (first < 0)
        return 0;
    int chosen = 0;
    choices[chosen++] = found[first];
    found[first].ratio = 1e30;
    for (int k = 0; k < count && chosen < most; k++)
        if (found[k].ratio < 1)
            choices[chosen++] = found[k];
    return chosen;
}

// The column pitch and phase. Glyphs may fill their cells, so that a comb drifting through
// the spaces between pairs meets less ink than the cells' own gaps do: of the pitches from
// smallest to largest, the one whose gaps meet least against the middles between them.
bool fit_columns(const float *values, int length, double smallest, double largest, double *pitch, double *phase)
{
    int start, end;
    ink_span(values, length, &start, &end);
    double best = 1e30;
    // Coarsely, then finely around the coarse best.
    for (int pass = 0; pass < 2; pass++) {
        double step = pass == 0 ? 0.1 : 0.02, phase_step = pass == 0 ? 0.5 : 0.25;
        double low = pass == 0 ? smallest : std::max(smallest, *pitch - 0.15);
        double high = pass == 0 ? largest : std::min(largest, *pitch + 0.15);
        int candidates = static_cast<int>(std::floor((high - low) / step + 1e-9));
        for (int k = 0; k <= candidates; k++) {
            double candidate = low + k * step, offset = 0, ignored;
            if (search_comb(values, length, start, end, candidate, candidate, 1, phase_step, &ignored, &offset) >= 1e29)
                continue;
            double ratio = comb_ratio(values, length, candidate, offset);
            if (ratio < best) {
                best = ratio;
                *pitch = candidate;
                *phase = offset;
            }
        }
        if (best >= 1e29)
            return false;
    }
    return true;
}

void profile_rows(const ink_view *ink)
{
    for (int y = 0; y < ink->height; y++) {
        profile[y] = 0;
        for (int x = 0; x < ink->width; x++)
            profile[y] += static_cast<float>(ink_at(ink, x, y));
    }
}

// How well the rows stand apart: the ink in the gaps against that in the rows (see comb_ratio).
double row_separation(const ink_view *ink)
{
    row_choice best;
    profile_rows(ink);
    return row_choices(profile, ink->height, &best, 1) ? best.ratio : 1e30;
}

// The text turned level, as a photo taken a little askew needs: by the angle the text lines
// show, when that sets the rows better apart than they stand.
PIX *straightened(PIX *ink)
{
    PIX *inverse = pixInvert(nullptr, ink);
    PIX *binary = pixThresholdToBinary(inverse, 128);
    pixDestroy(&inverse);
    l_float32 angle = 0, confidence = 0;
    bool found = binary && pixFindSkew(binary, &angle, &confidence) == 0;
    pixDestroy(&binary);
    if (!found || confidence < 2 || std::fabs(angle) < 0.05)
        return pixClone(ink);
    PIX *turned = pixRotate(ink, static_cast<float>(angle * M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_BLACK,
                            pixGetWidth(ink), pixGetHeight(ink));
    ink_view before = view_of(ink), after = turned ? view_of(turned) : before;
    if (turned && row_separation(&after) < 0.9 * row_separation(&before))
        return turned;
    pixDestroy(&turned);
    return pixClone(ink);
}

// The cells along a side, the last counted when most of it stands in the picture: a glyph may
// end a little short of its cell's end, and the picture with it.
int whole_cells(double length, double pitch)
{
    return static_cast<int>(length / pitch + 0.3);
}

// The grid of cells on rows of this pitch and phase.
bool find_grid(const ink_view *ink, const row_choice *rows, bool widened, cell_grid *grid)
{
    int width = ink->width, height = ink->height;
    grid->row_pitch = rows->pitch;
    grid->row_phase = rows->phase;
    while (grid->row_phase > grid->row_pitch)
        grid->row_phase -= grid->row_pitch;
    grid->rows = std::min(most_cells, whole_cells(height - grid->row_phase, grid->row_pitch));
    for (int x = 0; x < width; x++) {
        profile[x] = 0;
        for (int y = 0; y < height; y++)
            profile[x] += static_cast<float>(ink_at(ink, x, y));
    }
    // Cells are 8 pixels of the screen wide, rows 8 to 10 high; a capture widened to 4:3 (7/6)
    // or to the console's pixel aspect (8/7) makes them up to 7/6 as wide as rows 8 apart. The
    // two ranges are searched apart: half the width of a pair and its space, 1.5 cells, fits
    // the gaps between pairs about as well, and at rows 10 apart it lies within the wider range.
    double smallest = widened ? 1.02 : 0.76, largest = widened ? 1.2 : 1.02;
    if (!fit_columns(profile, width, smallest * grid->row_pitch, largest * grid->row_pitch, &grid->column_pitch,
                     &grid->column_phase))
        return false;
    while (grid->column_phase > grid->column_pitch)
        grid->column_phase -= grid->column_pitch;
    grid->columns = std::min(most_cells, whole_cells(width - grid->column_phase, grid->column_pitch));
    return grid->rows > 0 && grid->columns > 0;
}

// The mean ink of a box of the image, 0 to 1.
float box_ink(const ink_view *ink, double left, double top, double right, double bottom)
{
    int x0 = std::max(0, static_cast<int>(std::lround(left))), y0 = std::max(0, static_cast<int>(std::lround(top)));
    int x1 = std::min(ink->width, static_cast<int>(std::lround(right)));
    int y1 = std::min(ink->height, static_cast<int>(std::lround(bottom)));
    long sum = 0, count = 0;
    for (int y = y0; y < y1; y++)
        for (int x = x0; x < x1; x++, count++)
            sum += ink_at(ink, x, y);
    return count ? static_cast<float>(sum) / (255.0f * static_cast<float>(count)) : 0;
}

// A cell holds a glyph when it holds a good part of the ink a well-inked cell holds.
void measure_cells(const ink_view *ink, const cell_grid *grid, cell_inks *cells)
{
    static thread_local float sorted[most_cells * most_cells];
    int count = 0;
    for (int row = 0; row < grid->rows; row++)
        for (int column = 0; column < grid->columns; column++) {
            double left = grid->column_phase + column * grid->column_pitch;
            double top = grid->row_phase + row * grid->row_pitch;
            float value = box_ink(ink, left, top, left + grid->column_pitch, top + grid->row_pitch);
            cells->ink[row][column] = value;
            sorted[count++] = value;
        }
    // A page holds the header's six glyphs at the least: the fifth most inked cell is a glyph's.
    std::sort(sorted, sorted + count);
    float well_inked = sorted[std::max(0, count - 5)];
    for (int row = 0; row < grid->rows; row++)
        for (int column = 0; column < grid->columns; column++)
            cells->glyph[row][column] = cells->ink[row][column] > 0.2f * well_inked && well_inked > 0.02f;
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

// The words of two glyphs in a row, wherever they stand.
int words_of_two(const cell_inks *cells, int row, int columns, int *starts)
{
    int count = 0;
    for (int column = 0; column < columns; column++)
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

// The least-squares line through points (k, value) weighted by weight. Through fewer than
// four points, only where it starts: the centres of a row or two differ by their glyphs'
// shapes more than the step the grid found is off.
void fit_line(const double *values, const double *weights, int count, double *first, double *step)
{
    double w = 0, wk = 0, wv = 0, wkk = 0, wkv = 0;
    int points = 0;
    for (int k = 0; k < count; k++) {
        w += weights[k];
        wk += weights[k] * k;
        wv += weights[k] * values[k];
        wkk += weights[k] * k * k;
        wkv += weights[k] * k * values[k];
        points += weights[k] > 0;
    }
    double spread = w * wkk - wk * wk;
    if (w <= 0)
        return; // nothing to fit: the grid stands as found
    if (points >= 4 && spread > 1e-9)
        *step = (w * wkv - wk * wv) / spread;
    *first = (wv - *step * wk) / w;
}

// Adds the ink of the cell at row, column to *weight, and to *moment weighed by where it
// stands: across the cell (x) when across, else down it (y).
void add_cell_ink(const ink_view *ink, const cell_grid *grid, int row, int column, bool across, double *weight,
                  double *moment)
{
    double left = grid->column_phase + column * grid->column_pitch, right = left + grid->column_pitch;
    double top = grid->row_phase + row * grid->row_pitch, bottom = top + grid->row_pitch;
    for (int y = static_cast<int>(std::ceil(top - 0.5)); y < std::ceil(bottom - 0.5); y++)
        for (int x = static_cast<int>(std::ceil(left - 0.5)); x < std::ceil(right - 0.5); x++)
            if (x >= 0 && y >= 0 && x < ink->width && y < ink->height) {
                *weight += ink_at(ink, x, y);
                *moment += ink_at(ink, x, y) * ((across ? x : y) + 0.5);
            }
}

// The centres of the ink of each row of cells (of each column, across) fitted to a line.
void fit_centres(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, bool across, double *first,
                 double *step)
{
    static thread_local double centres[most_cells], weights[most_cells];
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

// The ink at a point between pixels, drawn from the four around it.
float ink_between(const ink_view *ink, double x, double y)
{
    int width = ink->width, height = ink->height;
    x -= 0.5;
    y -= 0.5;
    int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    double fx = x - x0, fy = y - y0, sum = 0;
    for (int dy = 0; dy <= 1; dy++)
        for (int dx = 0; dx <= 1; dx++) {
            int px = x0 + dx, py = y0 + dy;
            if (px < 0 || py < 0 || px >= width || py >= height)
                continue;
            sum += ink_at(ink, px, py) * (dx ? fx : 1 - fx) * (dy ? fy : 1 - fy);
        }
    return static_cast<float>(sum / 255);
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
        sample_box(ink, &cell, left, top, step_x, step_y, 1, sample);
        double weight = 0, moment_x = 0, moment_y = 0;
        for (int j = 0; j < glyph_side; j++)
            for (int i = 0; i < glyph_side; i++) {
                weight += sample->ink[j * glyph_side + i];
                moment_x += sample->ink[j * glyph_side + i] * (i + 0.5);
                moment_y += sample->ink[j * glyph_side + i] * (j + 0.5);
            }
        if (weight <= 0)
            return;
        left += (moment_x / weight - glyph_side / 2.0) * step_x;
        top += (moment_y / weight - glyph_side / 2.0) * step_y;
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

// Finds the header (the first row of three words of two glyphs with lines of pairs below it)
// and the lines under it; samples their digits.
bool read_rows(const ink_view *ink, const cell_grid *grid, const cell_inks *cells, page_read *page,
               glyph_sample *samples, int *sample_count, char *why, size_t size)
{
    static thread_local glyph_places places;
    place_glyphs(ink, grid, cells, &places);
    int first = first_pair_column(cells, grid);
    if (first < 0) {
        snprintf(why, size, "no row of pairs of hex digits");
        return false;
    }
    for (int row = 0; row + 1 < grid->rows; row++) {
        int starts[pairs_per_line + 1];
        if (words_of_two(cells, row, grid->columns, starts) != header_digits / 2)
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
        for (int line = below; line < grid->rows && page->lines < page_lines; line++) {
            int pairs = pairs_in_row(cells, line, first, grid->columns);
            if (pairs == 0)
                break;
            sample_row(ink, &places, line, first, 2 * pairs, page->digits[page->lines], samples, sample_count);
            page->last_line_digits = 2 * pairs;
            page->lines++;
            if (pairs < pairs_per_line)
                break; // the last line of the dump
        }
        return true;
    }
    snprintf(why, size, "no header of three pairs above lines of pairs");
    return false;
}

// The picture in bytes decoded, with the image libraries' own complaints about a damaged file
// (which say what the run then says in its own words) kept off standard error; one picture
// is decoded at a time.
PIX *quietly_decode(const unsigned char *bytes, size_t length)
{
    quiet_standard_error();
    PIX *pix = pixReadMem(bytes, length);
    give_back_standard_error();
    return pix;
}

unsigned little_16(const unsigned char *bytes)
{
    return bytes[0] | static_cast<unsigned>(bytes[1]) << 8;
}

// The sub-blocks of GIF data from at: where they end (after their empty block), or 0.
size_t gif_blocks_end(const unsigned char *bytes, size_t length, size_t at)
{
    while (at < length && bytes[at] != 0)
        at += 1 + bytes[at];
    return at < length ? at + 1 : 0;
}

// A GIF bounded before it is decoded: its logical screen and every frame's descriptor give its
// size (the library would decode every frame to say it); *first_frame_end is where its first
// frame ends, at which it is cut so that only that frame is decoded.
bool bound_gif(const unsigned char *bytes, size_t length, long *width, long *height, size_t *first_frame_end)
{
    static const size_t screen = 13;
    if (length < screen)
        return false;
    *width = little_16(bytes + 6);
    *height = little_16(bytes + 8);
    *first_frame_end = 0;
    size_t at = screen + (bytes[10] & 0x80 ? 3u << ((bytes[10] & 7) + 1) : 0);
    while (at < length && bytes[at] != 0x3B) {
        if (bytes[at] == 0x21 && at + 2 <= length) { // an extension
            at = gif_blocks_end(bytes, length, at + 2);
        } else if (bytes[at] == 0x2C && at + 10 <= length) { // a frame
            *width = std::max(*width, static_cast<long>(little_16(bytes + at + 1) + little_16(bytes + at + 5)));
            *height = std::max(*height, static_cast<long>(little_16(bytes + at + 3) + little_16(bytes + at + 7)));
            size_t table = bytes[at + 9] & 0x80 ? 3u << ((bytes[at + 9] & 7) + 1) : 0;
            at = gif_blocks_end(bytes, length, at + 10 + table + 1);
            if (*first_frame_end == 0)
                *first_frame_end = at;
        } else {
            return false;
        }
        if (at == 0)
            return false;
    }
    return *first_frame_end != 0;
}

const int most_jpeg_scans = 64; // a progressive JPEG has about ten; each costs a decoding pass

// Reads the size of any picture from its header without decoding it; false for bytes of no
// format read, or a JPEG of more scans than any camera writes. *decoded is how many bytes to
// decode: a GIF's up to the end of its first frame.
bool bounded_before_decoding(const unsigned char *bytes, size_t length, long *width, long *height, size_t *decoded,
                             bool *gif)
{
    l_int32 format = IFF_UNKNOWN;
    *decoded = length;
    *gif = false;
    if (length < 12 || findFileFormatBuffer(bytes, &format) != 0)
        return false;
    if (format == IFF_GIF) {
        *gif = true;
        return bound_gif(bytes, length, width, height, decoded);
    }
    if (format == IFF_JFIF_JPEG) {
        int scans = 0;
        for (size_t k = 0; k + 1 < length; k++)
            scans += bytes[k] == 0xFF && bytes[k + 1] == 0xDA;
        if (scans > most_jpeg_scans)
            return false;
    }
    l_int32 w = 0, h = 0;
    if (pixReadHeaderMem(bytes, length, nullptr, &w, &h, nullptr, nullptr, nullptr) != 0)
        return false;
    *width = w;
    *height = h;
    return true;
}

// The first frame of a GIF alone, with a trailer after it, in bytes the library owns.
PIX *decode_first_frame(const unsigned char *bytes, size_t first_frame_end)
{
    l_uint8 *frame = l_binaryCopy(bytes, first_frame_end + 1);
    if (!frame)
        return nullptr;
    frame[first_frame_end] = 0x3B;
    PIX *pix = quietly_decode(frame, first_frame_end + 1);
    lept_free(frame);
    return pix;
}

// Reads the page on pix, which it takes and destroys.
page_outcome read_page_image(PIX *pix, const char *name, page_read *page, glyph_sample *samples, int *sample_count,
                             char *why, size_t size)
{
    PIX *gray = gray_image(pix);
    pixDestroy(&pix);
    if (!gray)
        return page_unreadable;
    lift_scanlines(gray);
    PIX *raw_ink = ink_image(gray);
    pixDestroy(&gray);
    PIX *ink = straightened(raw_ink);
    pixDestroy(&raw_ink);
    static thread_local cell_grid grid;
    static thread_local cell_inks cells;
    ink_view view = view_of(ink);
    // A pitch within the glyphs may set rows apart as well as the rows' own: each pitch the
    // rows suggest, best first, is tried until one shows a page, with cells as wide as usual,
    // then widened (a capture widened to 4:3 has cells as wide as rows 4/3 as far apart are
    // usually: rows of the next pitch would show a page there, of a part of the lines).
    row_choice choices[row_choices_tried];
    profile_rows(&view);
    int choice_count = row_choices(profile, view.height, choices, row_choices_tried);
    bool found = false;
    snprintf(why, size, "no text on a grid of cells");
    for (int k = 0; k < 2 * choice_count && !found; k++) {
        if (!find_grid(&view, &choices[k / 2], k % 2 == 1, &grid))
            continue;
        measure_cells(&view, &grid, &cells);
        page->image = name;
        int first_sample = *sample_count;
        found = read_rows(&view, &grid, &cells, page, samples, sample_count, why, size);
        if (!found)
            *sample_count = first_sample;
    }
    pixDestroy(&ink);
    return found ? page_found : page_missing;
}

} // namespace

page_outcome read_page(FILE *stream, const char *name, page_read *page, glyph_sample *samples, int *sample_count,
                       char *why, size_t size)
{
    // Read once, whole: standard input and named pipes are pictures too.
    size_t length = 0;
    l_uint8 *bytes = l_binaryReadStream(stream, &length);
    if (!bytes)
        return page_unreadable;
    page_outcome outcome = read_page_bytes(bytes, length, name, page, samples, sample_count, why, size);
    lept_free(bytes);
    return outcome;
}

page_outcome read_page_bytes(const unsigned char *bytes, size_t length, const char *name, page_read *page,
                             glyph_sample *samples, int *sample_count, char *why, size_t size)
{
    size_t decoded = length;
    long width = 0, height = 0;
    bool gif = false;
    if (!bounded_before_decoding(bytes, length, &width, &height, &decoded, &gif))
        return page_unreadable;
    if (static_cast<double>(width) * static_cast<double>(height) > most_pixels) {
        snprintf(why, size, "%ld x %ld pixels", width, height);
        return page_too_large;
    }
    PIX *pix = gif ? decode_first_frame(bytes, decoded) : quietly_decode(bytes, length);
    if (!pix)
        return page_unreadable;
    return read_page_image(pix, name, page, samples, sample_count, why, size);
}
