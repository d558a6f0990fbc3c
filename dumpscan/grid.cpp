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

} // namespace

PIX *straightened(PIX *ink, grid_room *room)
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
    if (turned && row_separation(&after, room) < 0.9 * row_separation(&before, room))
        return turned;
    pixDestroy(&turned);
    return pixClone(ink);
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

