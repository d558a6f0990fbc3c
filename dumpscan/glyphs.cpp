// Samples of one glyph differ by noise, blur and where the pixels fell; samples of two glyphs
// differ by their shape. Many samples of each make both plain: many small groups first, then
// each two groups whose means differ no more than their samples' scatter explains merged.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>
#include <leptonica/allheaders.h>
#include <tesseract/capi.h>
#include <thread>

#include "glyphs.h"

// OpenMP's, resolved from the runtime tesseract loads where it was built with one.
extern "C" void omp_set_max_active_levels(int levels) __attribute__((weak));

namespace {

const int first_groups = 48;         // the small groups the samples start in
const int rounds = 8;                // of moving each sample to its nearest group
const int most_grouped_first = 1200; // samples the small groups are found among
const int settling_rounds = 4;       // of every sample, once the groups are merged
const double doubtful_margin = 0.25; // relatively this near the runner-up: either may be the glyph
const double scatter_times = 3;        // two groups' scatter, within which they are one shape
const double least_same_shape = 0.002; // the same shape's limit, however tight the groups
const double twin_apart = 0.02;        // two groups this near may be one glyph split in two,
const double twin_scatters = 8;        // or this many times the samples' scatter apart
// Members of the zero's group that stand apart from the headers' zeros are another digit where
// their mean stands this many times the zeros' own scatter from the zeros' mean, and this far
// at the least: the headers' zeros all stand at the same columns, and on a capture widened by a
// part of a pixel a zero of another column stands up to 0.011 from them.
const double apart_from_zeros = 3;
const double least_apart_from_zeros = 0.012;
const int splitting_rounds = 6;

float lengths[most_samples];
double sums[most_groups][glyph_size];
double sum_lengths[most_groups]; // of each group's sum

double length_of(const glyph_sample *sample)
{
    double sum = 0;
    for (int k = 0; k < glyph_size; k++)
        sum += static_cast<double>(sample->ink[k]) * sample->ink[k];
    return std::sqrt(sum);
}

// 1 - the cosine between a sample and a mean of length 1: 0 for the same shape.
double distance(const glyph_sample *sample, float length, const float *mean)
{
    if (length <= 0)
        return 1;
    // In lanes of eight, which the compiler turns into vector sums: most of the grouping's time.
    float lanes[8] = {};
    for (int k = 0; k < glyph_size; k += 8)
        for (int lane = 0; lane < 8; lane++)
            lanes[lane] += static_cast<float>(sample->ink[k + lane]) * mean[k + lane];
    return 1 - std::accumulate(lanes, lanes + 8, 0.0) / length;
}

// Scales sum to length 1 into mean; the length it had.
double scale_to_one(const double *sum, float *mean)
{
    double length = 0;
    for (int k = 0; k < glyph_size; k++)
        length += sum[k] * sum[k];
    length = std::sqrt(length);
    for (int k = 0; k < glyph_size; k++)
        mean[k] = length > 0 ? static_cast<float>(sum[k] / length) : 0;
    return length;
}

void nearest_two(const glyph_groups *groups, const glyph_sample *sample, float length, int *best, int *second,
                 double *best_distance, double *second_distance)
{
    *best = *second = -1;
    *best_distance = *second_distance = 2;
    for (int g = 0; g < groups->count; g++) {
        if (groups->members[g] == 0)
            continue;
        double d = distance(sample, length, groups->mean[g]);
        if (d < *best_distance) {
            *second = *best;
            *second_distance = *best_distance;
            *best = g;
            *best_distance = d;
        } else if (d < *second_distance) {
            *second = g;
            *second_distance = d;
        }
    }
}

// Recomputes each group's mean from its members.
void recompute_means(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups)
{
    memset(sums, 0, sizeof sums);
    std::fill(groups->members, groups->members + groups->count, 0);
    for (int s = 0; s < sample_count; s += stride) {
        int g = groups->group_of[s];
        if (g < 0)
            continue;
        groups->members[g]++;
        for (int k = 0; k < glyph_size; k++)
            sums[g][k] += samples[s].ink[k] / static_cast<double>(lengths[s]);
    }
    for (int g = 0; g < groups->count; g++)
        sum_lengths[g] = scale_to_one(sums[g], groups->mean[g]);
}

// Starts the groups on samples far apart: each next one the sample farthest from those taken.
void seed_groups(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups)
{
    static double nearest[most_samples];
    groups->count = 0;
    int next = -1;
    for (int s = 0; s < sample_count && next < 0; s += stride)
        if (lengths[s] > 0)
            next = s;
    std::fill(nearest, nearest + sample_count, 2.0);
    while (next >= 0 && groups->count < first_groups) {
        float *mean = groups->mean[groups->count++];
        double ink[glyph_size];
        for (int k = 0; k < glyph_size; k++)
            ink[k] = samples[next].ink[k];
        scale_to_one(ink, mean);
        next = -1;
        double farthest = 1e-4;
        for (int s = 0; s < sample_count; s += stride) {
            if (lengths[s] <= 0)
                continue;
            nearest[s] = std::min(nearest[s], distance(&samples[s], lengths[s], mean));
            if (nearest[s] > farthest) {
                farthest = nearest[s];
                next = s;
            }
        }
    }
    std::fill(groups->members, groups->members + groups->count, 1);
}

void assign_nearest(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups)
{
    for (int s = 0; s < sample_count; s += stride) {
        int second;
        double d1, d2;
        nearest_two(groups, &samples[s], lengths[s], &groups->group_of[s], &second, &d1, &d2);
        if (lengths[s] <= 0)
            groups->group_of[s] = -1;
    }
}

// How far a group's members stand from their mean, on average (1 - the cosine): the members
// less the length of their sum, each scaled to length 1, over the members.
double scatter_of(const glyph_groups *groups, int g)
{
    return groups->members[g] ? std::max(0.0, (groups->members[g] - sum_lengths[g]) / groups->members[g]) : 0;
}

// How near two groups' means stand to be taken for one shape: within a few times the scatter of
// their members (on a capture the samples of a glyph stand a thousandth apart and two bold
// glyphs blurred a hundredth), never farther than same_shape.
double same_shape_limit(const glyph_groups *groups, int a, int b)
{
    double scattered = scatter_times * (scatter_of(groups, a) + scatter_of(groups, b));
    return std::min(same_shape, std::max(least_same_shape, scattered));
}

// The two groups with members whose means stand nearest, against the limit of their shape
// where within_shape (below 1 then), nearer than limit; false when no two are.
bool cheapest_pair(const glyph_groups *groups, bool within_shape, double limit, int *a, int *b)
{
    double best = limit;
    *a = *b = -1;
    for (int g = 0; g < groups->count; g++)
        for (int h = g + 1; h < groups->count; h++) {
            if (!groups->members[g] || !groups->members[h])
                continue;
            double d = distance_between(groups->mean[g], groups->mean[h]);
            if (within_shape)
                d /= same_shape_limit(groups, g, h);
            if (d < best) {
                best = d;
                *a = g;
                *b = h;
            }
        }
    return *a >= 0;
}

// The samples of group b join group a.
void merge_pair(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups, int a, int b)
{
    for (int s = 0; s < sample_count; s += stride)
        if (groups->group_of[s] == b)
            groups->group_of[s] = a;
    recompute_means(samples, sample_count, stride, groups);
}

// Merges the two groups whose means stand nearest, whatever their members: the pieces of a
// glyph that touches its neighbours, or that a widened capture draws two ways, stand nearer
// each other than two digits do, though each piece is seen many times.
void merge_nearest(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups)
{
    int a, b;
    if (cheapest_pair(groups, false, 1e30, &a, &b))
        merge_pair(samples, sample_count, stride, groups, a, b);
}

int groups_with_members(const glyph_groups *groups)
{
    auto has_members = [](int members) { return members > 0; };
    return static_cast<int>(std::count_if(groups->members, groups->members + groups->count, has_members));
}

// Drops the groups left with no member, keeping the order of the others.
void compact(const glyph_sample *samples, int sample_count, glyph_groups *groups)
{
    static int renumbered[most_groups];
    int kept = 0;
    for (int g = 0; g < groups->count; g++)
        renumbered[g] = groups->members[g] ? kept++ : -1;
    for (int s = 0; s < sample_count; s++)
        if (groups->group_of[s] >= 0)
            groups->group_of[s] = renumbered[groups->group_of[s]];
    groups->count = kept;
    recompute_means(samples, sample_count, 1, groups);
}

// Merges the groups of one shape: while two means stand within the limit of their shape.
void merge_same_shapes(const glyph_sample *samples, int sample_count, int stride, glyph_groups *groups)
{
    int a, b;
    while (cheapest_pair(groups, true, 1, &a, &b))
        merge_pair(samples, sample_count, stride, groups, a, b);
}

// The mean of the samples given, scaled to length 1, into mean.
void mean_of(const glyph_sample *samples, const int *indexes, int count, float *mean)
{
    double sum[glyph_size] = {};
    for (int k = 0; k < count; k++)
        for (int i = 0; i < glyph_size; i++)
            sum[i] += samples[indexes[k]].ink[i] / static_cast<double>(lengths[indexes[k]]);
    scale_to_one(sum, mean);
}

// The samples of the headers' zeros that stand in group, into in_group; how many.
int zeros_in(const glyph_groups *groups, int group, const int *zeros, int zero_count, int *in_group)
{
    int count = 0;
    for (int k = 0; k < zero_count; k++)
        if (groups->group_of[zeros[k]] == group && lengths[zeros[k]] > 0)
            in_group[count++] = zeros[k];
    return count;
}

// Of the candidates, each standing to_zero from the zeros' mean, those nearer other, into
// members, with other moved to their mean a few times over; how many (0: none).
int nearer_other(const glyph_sample *samples, const int *candidates, const double *to_zero, int candidate_count,
                 float *other, int *members)
{
    int count = 0;
    for (int round = 0; round < splitting_rounds; round++) {
        count = 0;
        for (int k = 0; k < candidate_count; k++)
            if (distance(&samples[candidates[k]], lengths[candidates[k]], other) < to_zero[k])
                members[count++] = candidates[k];
        if (count == 0)
            return 0;
        mean_of(samples, members, count, other);
    }
    return count;
}

// The zeros of the headers (the encoding 00 of every page) show the zero's shape as no group
// mean can: blurred by composite video or a photo's lens, an 8 and a B stand so near a 0 that
// the zero's group takes them in when no more groups than digits are kept. Its members that
// stand nearer a mean of their own than the zeros' mean, starting from the farthest member,
// split off into a group of their own where that mean stands clearly apart.
void split_from_zeros(const glyph_sample *samples, int sample_count, const int *zeros, int zero_count,
                      glyph_groups *groups)
{
    static int candidates[most_samples], members[most_samples], zeros_in_group[most_zeros];
    static double to_zero[most_samples];
    int group = zero_count > 0 ? groups->group_of[zeros[0]] : -1;
    int anchors = group >= 0 ? zeros_in(groups, group, zeros, zero_count, zeros_in_group) : 0;
    if (anchors < 2 || groups->count >= most_groups)
        return;
    float zero[glyph_size], other[glyph_size];
    mean_of(samples, zeros_in_group, anchors, zero);
    double scatter = 0;
    for (int k = 0; k < anchors; k++)
        scatter += distance(&samples[zeros_in_group[k]], lengths[zeros_in_group[k]], zero) / anchors;
    int candidate_count = 0, farthest = -1;
    for (int s = 0; s < sample_count; s++)
        if (groups->group_of[s] == group) {
            to_zero[candidate_count] = distance(&samples[s], lengths[s], zero);
            if (to_zero[candidate_count] > (farthest < 0 ? 0 : to_zero[farthest]))
                farthest = candidate_count;
            candidates[candidate_count++] = s;
        }
    if (farthest < 0)
        return;
    mean_of(samples, &candidates[farthest], 1, other);
    int count = nearer_other(samples, candidates, to_zero, candidate_count, other, members);
    double apart = distance_between(zero, other);
    if (count == 0 || apart < least_apart_from_zeros || apart < apart_from_zeros * scatter)
        return;
    for (int k = 0; k < count; k++)
        groups->group_of[members[k]] = groups->count;
    groups->count++;
    recompute_means(samples, sample_count, 1, groups);
}

} // namespace

double distance_between(const float *a, const float *b)
{
    double dot = 0;
    for (int k = 0; k < glyph_size; k++)
        dot += static_cast<double>(a[k]) * b[k];
    return 1 - dot;
}

// Groups whose glyphs may be one glyph split in two: their means stand within twin_apart, or
// within a few times the samples' scatter about their means (a photo's glyphs scatter so far
// that two digits stand no farther apart than two groups of one).
void mark_twins(glyph_groups *groups)
{
    double members = 0, scattered = 0;
    for (int g = 0; g < groups->count; g++) {
        members += groups->members[g];
        scattered += groups->members[g] * scatter_of(groups, g);
    }
    double near = std::max(twin_apart, twin_scatters * (members > 0 ? scattered / members : 0));
    std::fill(groups->twinned, groups->twinned + groups->count, false);
    for (int g = 0; g < groups->count; g++)
        for (int h = g + 1; h < groups->count; h++)
            if (distance_between(groups->mean[g], groups->mean[h]) < near)
                groups->twinned[g] = groups->twinned[h] = true;
}

void group_glyphs(const glyph_sample *samples, int sample_count, const int *zeros, int zero_count,
                  glyph_groups *groups)
{
    for (int s = 0; s < sample_count; s++)
        lengths[s] = static_cast<float>(length_of(&samples[s]));
    // The many small groups are found among a share of the samples, enough to hold every
    // glyph many times; the groups of every sample then settle from the merged ones.
    int stride = std::max(1, sample_count / most_grouped_first);
    seed_groups(samples, sample_count, stride, groups);
    for (int round = 0; round < rounds; round++) {
        assign_nearest(samples, sample_count, stride, groups);
        recompute_means(samples, sample_count, stride, groups);
    }
    // Groups of one shape are merged first, by how near their means stand against their scatter,
    // whatever their size; then no more groups than digits, but never fewer by their scatter:
    // merging two digits costs the digits of one.
    merge_same_shapes(samples, sample_count, stride, groups);
    while (groups_with_members(groups) > 16)
        merge_nearest(samples, sample_count, stride, groups);
    for (int round = 0; round < settling_rounds; round++) {
        assign_nearest(samples, sample_count, 1, groups);
        recompute_means(samples, sample_count, 1, groups);
    }
    merge_same_shapes(samples, sample_count, 1, groups);
    compact(samples, sample_count, groups);
    split_from_zeros(samples, sample_count, zeros, zero_count, groups);
    for (int s = 0; s < sample_count; s++) {
        double d1, d2;
        nearest_two(groups, &samples[s], lengths[s], &groups->group_of[s], &groups->runner_up[s], &d1, &d2);
        groups->doubtful[s] = lengths[s] <= 0 || (groups->runner_up[s] >= 0 && d2 - d1 < doubtful_margin * (d1 + d2));
        if (lengths[s] <= 0)
            groups->group_of[s] = -1;
    }
    mark_twins(groups);
}

// The members of a group that stand apart from the rest: two means, the one started from its
// farthest quarter (a single far member may be noise), each member then taken by the nearer a
// few times over; the part without the sample kept, into part; how many.
int part_apart(const glyph_sample *samples, int sample_count, const glyph_groups *groups, int group, int kept,
               int *part)
{
    static int candidates[most_samples], members[most_samples], rest[most_samples], order[most_samples];
    static double to_mean[most_samples];
    static bool in_members[most_samples];
    int candidate_count = 0;
    for (int s = 0; s < sample_count; s++)
        if (groups->group_of[s] == group && lengths[s] > 0)
            candidates[candidate_count++] = s;
    if (candidate_count < 2)
        return 0;
    float whole[glyph_size], other[glyph_size];
    std::copy(groups->mean[group], groups->mean[group] + glyph_size, whole);
    for (int k = 0; k < candidate_count; k++) {
        to_mean[k] = distance(&samples[candidates[k]], lengths[candidates[k]], whole);
        order[k] = k;
    }
    int farthest = std::max(1, candidate_count / 4);
    std::nth_element(order, order + farthest - 1, order + candidate_count,
                     [](int a, int b) { return to_mean[a] > to_mean[b]; });
    for (int k = 0; k < farthest; k++)
        members[k] = candidates[order[k]];
    mean_of(samples, members, farthest, other);
    int count = 0;
    for (int round = 0; round < splitting_rounds; round++) {
        int rest_count = 0;
        count = 0;
        for (int k = 0; k < candidate_count; k++) {
            int s = candidates[k];
            if (distance(&samples[s], lengths[s], other) < distance(&samples[s], lengths[s], whole))
                members[count++] = s;
            else
                rest[rest_count++] = s;
        }
        if (count == 0 || rest_count == 0)
            return 0;
        mean_of(samples, members, count, other);
        mean_of(samples, rest, rest_count, whole);
    }
    for (int k = 0; k < count; k++)
        in_members[members[k]] = true;
    bool kept_in_part = kept >= 0 && in_members[kept];
    int parted = 0;
    for (int k = 0; k < candidate_count; k++)
        if (in_members[candidates[k]] != kept_in_part)
            part[parted++] = candidates[k];
    for (int k = 0; k < count; k++)
        in_members[members[k]] = false;
    return parted;
}

int group_apart(const glyph_sample *samples, int sample_count, glyph_groups *groups, const int *part, int count)
{
    if (groups->count >= most_groups || count == 0)
        return -1;
    int group = groups->count++, from = groups->group_of[part[0]];
    for (int k = 0; k < count; k++) {
        groups->group_of[part[k]] = group;
        groups->runner_up[part[k]] = from;
        groups->doubtful[part[k]] = false;
    }
    groups->twinned[group] = groups->twinned[from];
    recompute_means(samples, sample_count, 1, groups);
    return group;
}

namespace {

const int drawn_side = 48;      // pixels of a mean glyph drawn for tesseract
const int alternatives_kept = 2; // of the digits tesseract ranks next to the one it reads
// Of the vote, what the digits ranked next get, the first and the second (the first is now and
// then the glyph's digit, the second seldom): weighed over the tuned sets.
const float alternative_shares[alternatives_kept] = {0.13f, 0.04f};
const int margin = 24;
const double sharpening = 3; // times a point's difference from its neighbours' mean, added

// A mean glyph sharpened against the mean of each point's neighbours: a glyph blurred (by
// composite video, by a photo's lens) fills the holes of a 0 or a D nearly as its strokes.
// Within a crisp glyph's strokes and without them, the points stay as they were.
void sharpen(const float *mean, float *sharpened)
{
    for (int y = 0; y < glyph_side; y++)
        for (int x = 0; x < glyph_side; x++) {
            double around = 0;
            int points = 0;
            for (int j = std::max(0, y - 1); j <= std::min(glyph_side - 1, y + 1); j++)
                for (int i = std::max(0, x - 1); i <= std::min(glyph_side - 1, x + 1); i++) {
                    around += mean[j * glyph_side + i];
                    points++;
                }
            double point = mean[y * glyph_side + x];
            sharpened[y * glyph_side + x] = static_cast<float>(std::max(0.0, point + sharpening * (point - around / points)));
        }
}

// A line of mean glyphs, dark on light, one cell after another (a group of -1: a space),
// sharpened, and thresholded at a part of each glyph's most before it was sharpened (the most
// of a sharpened glyph stands at its corners).
PIX *draw_line(const glyph_groups *groups, const int *line, int count, double threshold)
{
    PIX *drawn = pixCreate(2 * margin + count * drawn_side, 2 * margin + drawn_side, 8);
    pixSetAll(drawn);
    for (int slot = 0; slot < count; slot++) {
        if (line[slot] < 0)
            continue;
        const float *unsharpened = groups->mean[line[slot]];
        float most = *std::max_element(unsharpened, unsharpened + glyph_size);
        float mean[glyph_size];
        sharpen(unsharpened, mean);
        for (int y = 0; y < drawn_side; y++)
            for (int x = 0; x < drawn_side; x++) {
                double gx = (x + 0.5) * glyph_side / drawn_side - 0.5, gy = (y + 0.5) * glyph_side / drawn_side - 0.5;
                int x0 = std::max(0, std::min(glyph_side - 2, static_cast<int>(std::floor(gx))));
                int y0 = std::max(0, std::min(glyph_side - 2, static_cast<int>(std::floor(gy))));
                double fx = std::max(0.0, std::min(1.0, gx - x0)), fy = std::max(0.0, std::min(1.0, gy - y0));
                double value = mean[y0 * glyph_side + x0] * (1 - fx) * (1 - fy) +
                               mean[y0 * glyph_side + x0 + 1] * fx * (1 - fy) +
                               mean[(y0 + 1) * glyph_side + x0] * (1 - fx) * fy +
                               mean[(y0 + 1) * glyph_side + x0 + 1] * fx * fy;
                if (value > threshold * most)
                    pixSetPixel(drawn, margin + slot * drawn_side + x, margin + y, 0);
            }
    }
    return drawn;
}

int digit_value(const char *text)
{
    if (!text || !text[0] || text[1])
        return -1;
    if (text[0] >= '0' && text[0] <= '9')
        return text[0] - '0';
    if (text[0] >= 'A' && text[0] <= 'F')
        return text[0] - 'A' + 10;
    return -1;
}

// The digits tesseract ranked next to the one it read for a symbol, best first; -1 after them.
void rank_alternatives(TessResultIterator *symbols, int read, int *alternatives)
{
    std::fill(alternatives, alternatives + alternatives_kept, -1);
    TessChoiceIterator *choices = TessResultIteratorGetChoiceIterator(symbols);
    int kept = 0;
    for (bool more = choices != nullptr; more && kept < alternatives_kept; more = TessChoiceIteratorNext(choices)) {
        int digit = digit_value(TessChoiceIteratorGetUTF8Text(choices));
        if (digit >= 0 && digit != read && std::find(alternatives, alternatives + kept, digit) == alternatives + kept)
            alternatives[kept++] = digit;
    }
    TessChoiceIteratorDelete(choices);
}

// Reads one line; each symbol read alone in a slot votes for that slot's group, and, a part of
// that, for the digits ranked next to it.
void vote_line(TessBaseAPI *api, const glyph_groups *groups, const int *line, int count, double threshold,
               float (*votes)[16])
{
    PIX *drawn = draw_line(groups, line, count, threshold);
    TessBaseAPISetImage2(api, drawn);
    if (TessBaseAPIRecognize(api, nullptr) != 0) {
        pixDestroy(&drawn);
        return;
    }
    static thread_local int read_in_slot[most_line], digit_in_slot[most_line];
    static thread_local float confidence_in_slot[most_line];
    static thread_local int alternatives_in_slot[most_line][alternatives_kept];
    std::fill(read_in_slot, read_in_slot + count, 0);
    TessResultIterator *symbols = TessBaseAPIGetIterator(api);
    TessPageIterator *places = symbols ? TessResultIteratorGetPageIterator(symbols) : nullptr;
    bool more = places != nullptr;
    while (more) {
        char *text = TessResultIteratorGetUTF8Text(symbols, tesseract::RIL_SYMBOL);
        int left, top, right, bottom;
        if (text && TessPageIteratorBoundingBox(places, tesseract::RIL_SYMBOL, &left, &top, &right, &bottom)) {
            int slot = ((left + right) / 2 - margin) / drawn_side;
            if (slot >= 0 && slot < count) {
                read_in_slot[slot]++;
                digit_in_slot[slot] = digit_value(text);
                confidence_in_slot[slot] = TessResultIteratorConfidence(symbols, tesseract::RIL_SYMBOL) / 100;
                rank_alternatives(symbols, digit_in_slot[slot], alternatives_in_slot[slot]);
            }
        }
        TessDeleteText(text);
        more = TessPageIteratorNext(places, tesseract::RIL_SYMBOL);
    }
    TessResultIteratorDelete(symbols);
    for (int slot = 0; slot < count; slot++) {
        if (line[slot] < 0 || read_in_slot[slot] != 1 || digit_in_slot[slot] < 0)
            continue;
        float vote = std::max(0.0f, confidence_in_slot[slot]);
        votes[line[slot]][digit_in_slot[slot]] += vote;
        for (int rank = 0; rank < alternatives_kept && alternatives_in_slot[slot][rank] >= 0; rank++) {
            votes[line[slot]][alternatives_in_slot[slot][rank]] += vote * alternative_shares[rank];
        }
    }
    pixDestroy(&drawn);
}

const char *data_folder()
{
    const char *named = getenv("TESSDATA_PREFIX");
    return named && *named ? named : "/usr/share/tesseract-ocr/5/tessdata";
}

// Tesseract made ready to name one hex digit at a time, or nullptr.
TessBaseAPI *start_tesseract()
{
    // Tesseract runs each line's network on a team of threads that spin while they wait; on
    // two cores they cost more than they save. With no active level, every team is of one.
    if (omp_set_max_active_levels)
        omp_set_max_active_levels(0);
    TessBaseAPI *api = TessBaseAPICreate();
    // The line network alone, with no word lists to load.
    static char settings[][20] = {"load_system_dawg", "load_freq_dawg", "load_punc_dawg", "load_number_dawg",
                                  "load_unambig_dawg", "load_bigram_dawg"};
    static char off[] = "0";
    const int setting_count = sizeof settings / sizeof settings[0];
    char *names[setting_count], *values[setting_count];
    for (int k = 0; k < setting_count; k++) {
        names[k] = settings[k];
        values[k] = off;
    }
    quiet_standard_error();
    bool started = api && TessBaseAPIInit4(api, data_folder(), "eng", tesseract::OEM_LSTM_ONLY, nullptr, 0, names,
                                           values, setting_count, false) == 0;
    give_back_standard_error();
    if (!started) {
        TessBaseAPIDelete(api);
        return nullptr;
    }
    TessBaseAPISetPageSegMode(api, tesseract::PSM_SINGLE_LINE);
    // The space too: without it, the first digit of every pair comes with a confidence of 0
    // (its gap, which cannot be read as a space, counts against it), and its vote is lost.
    TessBaseAPISetVariable(api, "tessedit_char_whitelist", "0123456789ABCDEF ");
    TessBaseAPISetVariable(api, "user_defined_dpi", "300");
    TessBaseAPISetVariable(api, "lstm_choice_mode", "2"); // the alternatives of each symbol, ranked
    return api;
}

// Every other line from first on, read on a tesseract of its own.
struct line_share {
    const glyph_groups *groups;
    const int (*lines)[most_line];
    int line_count;
    int first;
    bool started;
    float votes[most_groups][16];
};

void read_share(line_share *share)
{
    for (int g = 0; g < share->groups->count; g++)
        std::fill(share->votes[g], share->votes[g] + 16, 0.0f);
    TessBaseAPI *api = start_tesseract();
    share->started = api != nullptr;
    if (!api)
        return;
    for (int k = share->first; k < share->line_count; k += 2)
        vote_line(api, share->groups, share->lines[k], most_line, k % 2 ? 0.6 : 0.45, share->votes);
    TessBaseAPIEnd(api);
    TessBaseAPIDelete(api);
}

} // namespace

const char *english_data_path()
{
    static char path[longest_path];
    snprintf(path, sizeof path, "%s/eng.traineddata", data_folder());
    return path;
}

bool english_data_found(char *why, size_t size)
{
    int data = open(english_data_path(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (data < 0) {
        snprintf(why, size, "%s", strerror(errno));
        return false;
    }
    struct stat facts;
    bool looked = fstat(data, &facts) == 0;
    close(data);
    snprintf(why, size, "%s", !looked ? strerror(errno) : !S_ISREG(facts.st_mode) ? "not a file" : "empty");
    return looked && S_ISREG(facts.st_mode) && facts.st_size > 0;
}

// The lines are read in two shares at once, on two threads, or one after the other on this
// one when no other can be started.
bool read_groups(const glyph_groups *groups, const int (*lines)[most_line], int line_count, float (*votes)[16])
{
    static line_share shares[2];
    for (int k = 0; k < 2; k++)
        shares[k] = {groups, lines, line_count, k, false, {}};
    std::thread other;
    bool helped = start_helper(&other, read_share, &shares[1]);
    read_share(&shares[0]);
    if (helped)
        other.join();
    else
        read_share(&shares[1]);
    if (!shares[0].started || !shares[1].started)
        return false;
    int times[most_groups] = {};
    for (int k = 0; k < line_count; k++)
        for (int slot = 0; slot < most_line; slot++)
            if (lines[k][slot] >= 0)
                times[lines[k][slot]]++;
    for (int g = 0; g < groups->count; g++)
        for (int digit = 0; digit < 16; digit++)
            votes[g][digit] = (shares[0].votes[g][digit] + shares[1].votes[g][digit]) /
                              static_cast<float>(std::max(1, times[g]));
    return true;
}

void show_group(const glyph_groups *groups, int group, FILE *shown)
{
    const float *mean = groups->mean[group];
    float most = *std::max_element(mean, mean + glyph_size);
    for (int y = 0; y < glyph_side; y += 2) {
        fputs("    ", shown);
        for (int x = 0; x < glyph_side; x++) {
            bool upper = mean[y * glyph_side + x] > most / 2, lower = mean[(y + 1) * glyph_side + x] > most / 2;
            fputs(upper && lower ? "\u2588" : upper ? "\u2580" : lower ? "\u2584" : " ", shown);
        }
        fputc('\n', shown);
    }
}
