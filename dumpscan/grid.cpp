// The rows of text repeat down the picture, and the cells across it: a comb of lines a pitch
// apart that meets the least ink lies in the gaps between them, wherever the glyphs touch.
#include <algorithm>
#include <cmath>

#include "grid.h"

namespace {

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
                   double pitch_step, double phase_step, float *scores, double *pitch, double *phase)
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
bool fit_comb(const float *values, int length, double smallest, double largest, float *scores, double *pitch,
              double *phase)
{
    int start, end;
    ink_span(values, length, &start, &end);
    double coarse_pitch = smallest, coarse_phase = 0;
    if (search_comb(values, length, start, end, smallest, largest, 0.1, 1.0, scores, &coarse_pitch,
                    &coarse_phase) >= 1e29)
        return false;
    double low = std::max(smallest, coarse_pitch - 0.12), high = std::min(largest, coarse_pitch + 0.12);
    return search_comb(values, length, start, end, low, high, 0.02, 0.25, scores, pitch, phase) < 1e29;
}

// Where the difference of the row profile matches itself at a lag: the lags of its peaks, in
// order, that reach a good part of the best match. The row pitch is among them, and so are its
// multiples and the periods within glyphs.
int row_pitch_candidates(grid_room *room, int length, int *lags, int most)
{
    const float *values = room->profile;
    double *difference = room->difference, *match = room->match;
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
int row_choices(grid_room *room, int length, row_choice *choices, int most)
{
    const float *values = room->profile;
    int lags[most_row_choices];
    int count = row_pitch_candidates(room, length, lags, most_row_choices);
    row_choice found[most_row_choices];
    for (int k = 0; k < count; k++) {
        found[k] = {0, 0, 1e30};
        if (fit_comb(values, length, lags[k] - 1.5, lags[k] + 1.5, room->scores, &found[k].pitch, &found[k].phase))
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
bool fit_columns(const float *values, int length, double smallest, double largest, float *scores, double *pitch,
                 double *phase)
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
            if (search_comb(values, length, start, end, candidate, candidate, 1, phase_step, scores, &ignored,
                            &offset) >= 1e29)
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

void profile_rows(const ink_view *ink, float *profile)
{
    for (int y = 0; y < ink->height; y++)
        profile[y] = static_cast<float>(ink_across(ink, y));
}

// How well the rows stand apart: the ink in the gaps against that in the rows (see comb_ratio).
double row_separation(const ink_view *ink, grid_room *room)
{
    row_choice best;
    profile_rows(ink, room->profile);
    return row_choices(room, ink->height, &best, 1) ? best.ratio : 1e30;
}

// The cells along a side, the last counted when most of it stands in the picture: a glyph may
// end a little short of its cell's end, and the picture with it.
int whole_cells(double length, double pitch)
{
    return static_cast<int>(length / pitch + 0.3);
}

// A side of the text: x = at + slope (y - middle), and the pixel rows whose ink ends on it.
struct text_side {
    double at, slope;
    int rows_on, first_row, last_row;
};

const double checked_skew = 0.5; // degrees: a skew this small is turned only where the rows show it

// Where each pixel row's glyphs start, and where they end (past their last inked pixel); -1 in
// a row with none. A run of ink is of glyphs when it is no wider than a pair of cells and
// stands clear of the picture's edges: the screen's surround and the dark the camera saw
// about it are neither.
int find_row_ends(const ink_view *ink, double widest, int (*ends)[largest_side])
{
    int inked = 0;
    for (int y = 0; y < ink->height; y++) {
        ends[0][y] = ends[1][y] = -1;
        for (int x = 0; x < ink->width;) {
            int run = x;
            while (run < ink->width && ink_at(ink, run, y) >= glyph_ink)
                run++;
            if (run > x && x > 0 && run < ink->width && run - x <= widest) {
                if (ends[0][y] < 0)
                    ends[0][y] = x;
                ends[1][y] = run;
            }
            x = run + 1;
        }
        inked += ends[0][y] >= 0;
    }
    return inked;
}

// The farthest start and end of a row's glyphs near each pixel row (the nearest nearer than
// reach): a glyph's side is often its cell's side only in some of its pixel rows.
void outmost_ends(const int (*ends)[largest_side], int height, int reach, int (*outmost)[largest_side])
{
    for (int y = 0; y < height; y++) {
        outmost[0][y] = outmost[1][y] = -1;
        for (int near = std::max(0, y - reach); near <= std::min(height - 1, y + reach); near++) {
            if (ends[0][near] < 0)
                continue;
            if (outmost[0][y] < 0 || ends[0][near] < outmost[0][y])
                outmost[0][y] = ends[0][near];
            outmost[1][y] = std::max(outmost[1][y], ends[1][near]);
        }
    }
}

// The pixel rows that end within tolerance of the side at slope through the densest place: how
// many, and where that side crosses the middle.
int rows_on_side(const int *ends, int height, int width, double slope, double tolerance, int *bins, double *at)
{
    double middle = height / 2.0;
    const long places = 3L * width; // a side may cross the middle beyond the picture
    std::fill(bins, bins + places, 0);
    for (int y = 0; y < height; y++) {
        long bin = std::lround(ends[y] - slope * (y - middle)) + width;
        if (ends[y] >= 0 && bin >= 0 && bin < places)
            bins[bin]++;
    }
    int window = std::max(1, static_cast<int>(std::lround(2 * tolerance))), in_window = 0, most = 0;
    for (long bin = 0; bin < places; bin++) {
        in_window += bins[bin] - (bin >= window ? bins[bin - window] : 0);
        if (in_window > most) {
            most = in_window;
            *at = static_cast<double>(bin - width) - (window - 1) / 2.0;
        }
    }
    return most;
}

// The straight side most pixel rows' ink ends on: the slope that gathers the most of them within
// tolerance, then the line that fits those rows best.
void fit_side(const int *ends, int height, int width, double tolerance, grid_room *room, text_side *side)
{
    const double steepest = 0.15;
    const int slopes = 60; // each way
    side->rows_on = 0;
    for (int k = -slopes; k <= slopes; k++) {
        double slope = steepest * k / slopes, at = 0;
        int rows = rows_on_side(ends, height, width, slope, tolerance, room->intercepts, &at);
        if (rows > side->rows_on) {
            *side = {at, slope, rows, 0, 0};
        }
    }
    double middle = height / 2.0, *values = room->fit_values, *weights = room->fit_weights;
    side->first_row = height;
    side->last_row = -1;
    for (int y = 0; y < height; y++) {
        bool on = ends[y] >= 0 && std::fabs(ends[y] - side->at - side->slope * (y - middle)) <= tolerance;
        values[y] = on ? ends[y] : 0;
        weights[y] = on ? 1 : 0;
        if (on) {
            side->first_row = std::min(side->first_row, y);
            side->last_row = y;
        }
    }
    double first = side->at - side->slope * middle, step = side->slope;
    fit_line(values, weights, height, &first, &step);
    side->slope = step;
    side->at = first + step * middle;
}

} // namespace

// Through fewer than four points, only where it starts: the centres of a row or two differ by
// their glyphs' shapes more than the step the grid found is off.
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
        return; // nothing to fit: the line stands as given
    if (points >= 4 && spread > 1e-9)
        *step = (w * wkv - wk * wv) / spread;
    *first = (wv - *step * wk) / w;
}

namespace {

// The ink of each pixel row from column left to right, into profile; where it centres across.
double profile_part(const ink_view *ink, int left, int right, double *profile)
{
    double weight = 0, moment = 0;
    for (int y = 0; y < ink->height; y++) {
        profile[y] = 0;
        for (int x = left; x < right; x++) {
            profile[y] += ink_at(ink, x, y);
            moment += static_cast<double>(ink_at(ink, x, y)) * x;
        }
        weight += profile[y];
    }
    return weight > 0 ? moment / weight : (left + right) / 2.0;
}

// Whether the rows show the skew found: the right half's rows stand lower (or higher) than the
// left half's by at least half what the angle says, where the two halves' profiles match best.
// Leptonica finds a few tenths of a degree on many a straight capture, and a turn resamples
// every glyph, each at a phase of its own, which splits one shape in two.
bool rows_show_skew(const ink_view *ink, double angle, grid_room *room)
{
    double *left = room->difference, *right = room->match;
    double across = profile_part(ink, ink->width / 2, ink->width, right) - profile_part(ink, 0, ink->width / 2, left);
    double expected = -across * std::tan(angle * M_PI / 180), scores[64] = {};
    // As far as the largest skew checked shifts the rows, short of the next row's match.
    int reach = std::min(31, static_cast<int>(std::ceil(ink->width * std::tan(checked_skew * M_PI / 180))) + 2);
    for (int lag = -reach; lag <= reach; lag++) {
        double sum = 0;
        for (int y = std::max(0, -lag); y < std::min(ink->height, ink->height - lag); y++)
            sum += left[y] * right[y + lag];
        scores[lag + reach] = sum;
    }
    int lags = 2 * reach + 1;
    int best = static_cast<int>(std::max_element(scores, scores + lags) - scores);
    double shift = best - reach;
    if (best > 0 && best + 1 < lags) {
        double a = scores[best - 1], b = scores[best], c = scores[best + 1], bend = a - 2 * b + c;
        shift += bend < 0 ? 0.5 * (a - c) / bend : 0;
    }
    return shift * expected > 0 && std::fabs(shift) >= std::fabs(expected) / 2;
}

} // namespace

PIX *straightened(PIX *ink, grid_room *room)
{
    PIX *inverse = pixInvert(nullptr, ink);
    PIX *binary = pixThresholdToBinary(inverse, 128);
    pixDestroy(&inverse);
    l_float32 angle = 0, confidence = 0;
    bool found = binary && pixFindSkew(binary, &angle, &confidence) == 0;
    pixDestroy(&binary);
    ink_view before = view_of(ink);
    if (!found || confidence < 2 || std::fabs(angle) < 0.05 ||
        (std::fabs(angle) < checked_skew && !rows_show_skew(&before, angle, room)))
        return pixClone(ink);
    PIX *turned = pixRotate(ink, static_cast<float>(angle * M_PI / 180), L_ROTATE_AREA_MAP, L_BRING_IN_BLACK,
                            pixGetWidth(ink), pixGetHeight(ink));
    ink_view after = turned ? view_of(turned) : before;
    if (turned && row_separation(&after, room) < 0.9 * row_separation(&before, room))
        return turned;
    pixDestroy(&turned);
    return pixClone(ink);
}

PIX *squared_up(PIX *ink, grid_room *room)
{
    // A screen's cells are a 32nd of its width or less; the screen fills most of a picture.
    ink_view view = view_of(ink);
    double cell = view.width / 32.0;
    int inked = find_row_ends(&view, 2.5 * cell, room->ends);
    outmost_ends(room->ends, view.height, static_cast<int>(cell / 4), room->outmost);
    text_side sides[2];
    for (int k = 0; k < 2; k++) {
        fit_side(room->outmost[k], view.height, view.width, cell / 10, room, &sides[k]);
        if (sides[k].rows_on < std::max(2, inked / 4))
            return nullptr;
    }
    double middle = view.height / 2.0, narrowing = sides[1].slope - sides[0].slope;
    double width = sides[1].at - sides[0].at;
    auto width_at = [&](double y) { return width + narrowing * (y - middle); };
    // Upright enough: the width changes by less than a quarter of a cell from top to bottom. A
    // page of a few lines, whose short lines stand for much of its sides, shows no narrowing
    // that can be told from its glyphs' shapes.
    int top = std::max(sides[0].first_row, sides[1].first_row);
    int bottom = std::min(sides[0].last_row, sides[1].last_row);
    if (bottom - top < 8 * cell || std::fabs(narrowing) * (bottom - top) < cell / 4 || width_at(0) < width / 2 ||
        width_at(view.height) < width / 2)
        return nullptr;
    // A plane seen in perspective: where it is narrower, its rows stand closer by the square.
    double *reach = room->reach;
    reach[0] = 0;
    for (int y = 0; y < view.height; y++)
        reach[y + 1] = reach[y] + std::pow(width / width_at(y + 0.5), 2);
    int height = std::min(largest_side, static_cast<int>(reach[view.height]));
    PIX *upright = pixCreate(view.width, height, 8);
    if (!upright)
        return nullptr;
    int from = 0;
    for (int row = 0; row < height; row++) {
        while (from + 1 < view.height && reach[from + 1] < row + 0.5)
            from++;
        double y = std::min(view.height - 0.5, from + (row + 0.5 - reach[from]) / (reach[from + 1] - reach[from]));
        double left = sides[0].at + sides[0].slope * (y - middle), across = width_at(y) / width;
        l_uint32 *line = pixGetData(upright) + static_cast<ptrdiff_t>(row) * pixGetWpl(upright);
        for (int x = 0; x < view.width; x++) {
            // Beyond the picture, its edge goes on: a surround cut off short would stand as a stroke.
            double source = std::min(view.width - 0.5, std::max(0.5, left + (x + 0.5 - sides[0].at) * across));
            SET_DATA_BYTE(line, x, static_cast<int>(std::lround(255 * ink_between(&view, source, y))));
        }
    }
    return upright;
}

int choose_rows(const ink_view *ink, grid_room *room, row_choice *choices, int most)
{
    profile_rows(ink, room->profile);
    return row_choices(room, ink->height, choices, most);
}

bool find_grid(const ink_view *ink, const row_choice *rows, bool widened, grid_room *room, cell_grid *grid)
{
    float *profile = room->profile;
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
    if (!fit_columns(profile, width, smallest * grid->row_pitch, largest * grid->row_pitch, room->scores,
                     &grid->column_pitch, &grid->column_phase))
        return false;
    while (grid->column_phase > grid->column_pitch)
        grid->column_phase -= grid->column_pitch;
    grid->columns = std::min(most_cells, whole_cells(width - grid->column_phase, grid->column_pitch));
    return grid->rows > 0 && grid->columns > 0;
}

