// A dump carries checks of its own: its header on every page, the size the pages bear out, the
// size field of its first line, the checksum of its bytes. Names read by tesseract are tried
// against them; a name the checks do not back stays unsure, and so does every digit of it. The
// checks confirm a reading and never choose one: what every reading tried risks is counted.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "../common/bram_file.h"
#include "settle.h"

namespace {

const int digits = 16;
const int most_tried = 400;        // ways of naming the groups tried against the checks, at the most
// The chance, at the most, that a run takes a wrong reading as sure: the checks hold for a wrong
// reading by luck (chance_of_holding), so each reading tried that could be taken spends that
// chance, and the reading taken what its rivals weigh (doubt_by_rivals), summed over the whole
// run, and a reading is sure only within this budget.
const double most_risked = 1e-4;
const float rival_margin = 3;      // other names this much less likely than those found rival them
const int most_moving = 40;        // groups whose names may change, in the search for rivals
// How often a group bears the digit that another group is read as surely, as a cost: counted
// over the tuned sets, where the two groups' glyphs stand near (twinned: one glyph split in two)
// about half of the times that tesseract says; where they stand apart, a group of a few glyphs
// one time in four (a glyph drawn otherwise a few times), a larger one one time in forty. Rivals
// that give two groups one digit are counted as likely as that (the search tries such ways
// later still, at shared_digit_near or _far).
const float sharing_twinned = 0.5f;
const float sharing_few = 3;
const float sharing_apart = 5;
const int few_glyphs = 3;
const int most_doubtful_tried = 6; // doubtful digits whose two readings are tried together
const int most_partials = 1 << 20; // names of the first groups kept in the search
const float unread = 0.01f;        // what tesseract's silence counts as, against its votes
const float sharpness = 2;         // its votes are a few readings of one glyph, not many
// A digit of two groups: a glyph split in two, seldom, and only where the two stand near.
const float shared_digit_near = 5;
const float shared_digit_far = 9;
// Round glyphs told apart by a straight left side, which tesseract reads as each other surely
// in many fonts (a D as 0, a B as 8, and back): a reading of one lends this part of its vote to
// the other, so that where the one read is taken (the zero, by the header), its look-alike
// comes among the first ways tried rather than after every other digit.
struct look_alike {
    int one, other;
};
const look_alike look_alikes[] = {{0x0, 0xD}, {0x8, 0xB}};
const float look_alike_share = 0.3f;

// Where a digit stands in the dump: its byte, and its nibble (0: the high one).
struct place {
    long byte;
    int nibble;
};

place place_of(int page, int line, int digit)
{
    return {static_cast<long>(page) * bytes_per_page + static_cast<long>(line) * bytes_per_line + digit / 2, digit % 2};
}

// The value each sample reads as under these names: its group's, or unsure.
void read_digits(const reading *read, const int *name, int *digit_of)
{
    for (int p = 0; p < read->pages; p++) {
        const page_read &page = read->page[p];
        for (int k = 0; k < header_digits; k++) {
            int g = read->group_of[page.header[k]];
            digit_of[page.header[k]] = g >= 0 ? name[g] : unsure;
        }
        for (int line = 0; line < page.lines; line++)
            for (int k = 0; k < digits_on(&page, line); k++) {
                int sample = page.digits[line][k], g = read->group_of[sample];
                digit_of[sample] = g >= 0 ? name[g] : unsure;
            }
    }
}

// The header's digits on every page are alike, and as expected where one is expected.
bool headers_hold(const reading *read, const int *digit_of, const int *expected)
{
    for (int p = 0; p < read->pages; p++)
        for (int k = 0; k < header_digits; k++) {
            int value = digit_of[read->page[p].header[k]];
            int first = digit_of[read->page[0].header[k]];
            if (value == unsure || value != first || (expected[k] != unsure && value != expected[k]))
                return false;
        }
    return true;
}

// The dump's bytes under these digits; false when one of them is unsure.
bool bytes_of(const reading *read, const int *digit_of, unsigned char *bytes, long *length)
{
    *length = 0;
    bool all_sure = true;
    for (int p = 0; p < read->pages; p++) {
        const page_read &page = read->page[p];
        all_sure = all_sure && page.lines_cut == 0;
        for (int line = 0; line < page.lines; line++)
            for (int k = 0; k < digits_on(&page, line); k++) {
                place at = place_of(p, line, k);
                int value = digit_of[page.digits[line][k]];
                all_sure = all_sure && value != unsure;
                int nibble = value == unsure ? 0 : value;
                if (at.nibble == 0)
                    bytes[at.byte] = static_cast<unsigned char>(nibble << 4);
                else
                    bytes[at.byte] = static_cast<unsigned char>(bytes[at.byte] | nibble);
                *length = std::max(*length, at.byte + 1);
            }
    }
    return all_sure;
}

long header_size(const reading *read, const int *digit_of)
{
    long size = 0;
    for (int k = 2; k < header_digits; k++)
        size = size * 16 + digit_of[read->page[0].header[k]];
    return size;
}

// Every check of the dump holds under these digits.
bool checks_hold(const reading *read, const int *digit_of, const int *expected)
{
    static unsigned char bytes[most_pages * bytes_per_page];
    long length;
    if (!headers_hold(read, digit_of, expected) || !bytes_of(read, digit_of, bytes, &length))
        return false;
    if (header_size(read, digit_of) != length)
        return false;
    bram_tally tally;
    tally_whole(&tally, bytes, static_cast<size_t>(length));
    return size_field_holds(&tally) && checksum_holds(&tally);
}

// The header as the pages bear it out, or as given: encoding 0, then the size.
void expected_header(const reading *read, int *expected)
{
    long size = size_shown(read);
    for (int k = 0; k < header_digits; k++) {
        int from_size = size < 0 ? unsure : k < 2 ? 0 : static_cast<int>(size >> (4 * (header_digits - 1 - k)) & 0xF);
        expected[k] = read->given_header[k] != unsure ? read->given_header[k] : from_size;
    }
}

// Groups whose glyphs stand in the header take the header's digits there; false when one
// group would take two (then the header forces nothing).
bool force_from_header(const reading *read, const int *expected, int *forced)
{
    for (int p = 0; p < read->pages; p++)
        for (int k = 0; k < header_digits; k++) {
            int g = read->group_of[read->page[p].header[k]];
            if (g < 0 || expected[k] == unsure)
                continue;
            if (forced[g] != unsure && forced[g] != expected[k])
                return false;
            forced[g] = expected[k];
        }
    return true;
}

// What each group adds, per unit of its digit, to the sum that the checksum makes 0 modulo
// 65536: the bytes from the fifth on, and the stored checksum (bytes 2 and 3) itself.
void checksum_weights(const reading *read, unsigned *weight)
{
    std::fill(weight, weight + read->groups, 0u);
    for (int p = 0; p < read->pages; p++) {
        const page_read &page = read->page[p];
        for (int line = 0; line < page.lines; line++)
            for (int k = 0; k < digits_on(&page, line); k++) {
                place at = place_of(p, line, k);
                unsigned per_byte = at.byte >= 4 ? 1 : at.byte == 2 ? 1 : at.byte == 3 ? 256 : 0;
                int g = read->group_of[page.digits[line][k]];
                if (g >= 0)
                    weight[g] += per_byte * (at.nibble == 0 ? 16 : 1);
            }
    }
}

// A group's votes with each look-alike's lent.
void lend_to_look_alikes(const float *read, float *votes)
{
    std::copy(read, read + digits, votes);
    for (const look_alike &pair : look_alikes) {
        votes[pair.one] = std::max(votes[pair.one], look_alike_share * read[pair.other]);
        votes[pair.other] = std::max(votes[pair.other], look_alike_share * read[pair.one]);
    }
}

// The cost of naming a group each digit: what tesseract read, as the minus log of a chance
// (a name a person gave, or the header forces, costs nothing; any other name is not tried).
void name_costs(const reading *read, const int *forced, float (*cost)[digits])
{
    for (int g = 0; g < read->groups; g++) {
        float votes[digits], total = 0;
        lend_to_look_alikes(read->votes[g], votes);
        for (int d = 0; d < digits; d++)
            total += std::pow(votes[d] + unread, sharpness);
        for (int d = 0; d < digits; d++) {
            if (forced[g] != unsure)
                cost[g][d] = d == forced[g] ? 0 : HUGE_VALF;
            else
                cost[g][d] = -std::log(std::pow(votes[d] + unread, sharpness) / total);
        }
    }
}

// What bearing a digit that another group bears costs each group, as ways are counted.
float sharing_counted[most_named];

void count_sharing(const reading *read)
{
    static int members[most_named];
    std::fill(members, members + read->groups, 0);
    for (int s = 0; s < read->samples; s++)
        if (read->group_of[s] >= 0)
            members[read->group_of[s]]++;
    for (int g = 0; g < read->groups; g++)
        sharing_counted[g] = read->twinned[g] ? sharing_twinned : members[g] <= few_glyphs ? sharing_few : sharing_apart;
}

// The costs as ways are counted against the checks: two groups seldom share a digit, so a
// digit that another group is read as more surely, and more likely than not, costs a group its
// sharing_counted more, each group's chances then summing to 1 again. Counted over the tuned
// sets, these chances are as often right as they say, or more. cheapest: each group's cheapest
// digit.
void costs_as_counted(const reading *read, const float (*cost)[digits], const int *cheapest,
                      float (*counted)[digits])
{
    int owner[digits]; // the group read as each digit most surely, more likely than not
    float surest[digits];
    std::fill(owner, owner + digits, unsure);
    std::fill(surest, surest + digits, std::log(2.0f));
    for (int g = 0; g < read->groups; g++) {
        int best = cheapest[g];
        if (cost[g][best] <= surest[best]) {
            owner[best] = g;
            surest[best] = cost[g][best];
        }
    }
    for (int g = 0; g < read->groups; g++) {
        bool one_name = std::count_if(cost[g], cost[g] + digits, [](float c) { return !std::isinf(c); }) == 1;
        double total = 0;
        for (int d = 0; d < digits; d++) {
            bool other_is = owner[d] != unsure && owner[d] != g;
            counted[g][d] = cost[g][d] + (!one_name && other_is ? sharing_counted[g] : 0);
            total += std::exp(-static_cast<double>(counted[g][d]));
        }
        for (int d = 0; d < digits; d++)
            counted[g][d] += static_cast<float>(std::log(total));
    }
}

// What naming a group a digit that a group before it bears costs more: little where another
// group's glyphs stand near its own (a glyph split in two), much where none does.
float sharing_cost(const reading *read, int g)
{
    return read->twinned[g] ? shared_digit_near : shared_digit_far;
}

// Ways of naming the groups are tried cheapest first: a best-first search over the names of
// the groups one after another, each partial way's cost bounded below by the cheapest names of
// the groups left.
struct partial {
    int parent;
    unsigned short taken; // the digits named so far
    unsigned char digit; // of the group at depth - 1
    unsigned char depth;
    float cost;
};

struct ways {
    const reading *read;
    const float (*cost)[digits];
    int order[most_named];     // the groups, surest first
    float rest[most_named + 1]; // the least the groups from depth on can cost
    partial pool[most_partials];
    int pool_used;
    int heap[most_partials];
    int heap_size;
    bool overflow; // partial ways were dropped: the order of the ways no longer holds
};

float bound_of(const ways *search, int index)
{
    const partial &way = search->pool[index];
    return way.cost + search->rest[way.depth];
}

void push_way(ways *search, const partial &way)
{
    if (search->pool_used == most_partials) {
        search->overflow = true;
        return;
    }
    int index = search->pool_used++;
    search->pool[index] = way;
    int at = search->heap_size++;
    while (at > 0 && bound_of(search, search->heap[(at - 1) / 2]) > bound_of(search, index)) {
        search->heap[at] = search->heap[(at - 1) / 2];
        at = (at - 1) / 2;
    }
    search->heap[at] = index;
}

int pop_way(ways *search)
{
    int top = search->heap[0], last = search->heap[--search->heap_size], at = 0;
    for (;;) {
        int child = 2 * at + 1;
        if (child >= search->heap_size)
            break;
        if (child + 1 < search->heap_size &&
            bound_of(search, search->heap[child + 1]) < bound_of(search, search->heap[child]))
            child++;
        if (bound_of(search, search->heap[child]) >= bound_of(search, last))
            break;
        search->heap[at] = search->heap[child];
        at = child;
    }
    if (search->heap_size > 0)
        search->heap[at] = last;
    return top;
}

void start_ways(ways *search, const reading *read, const float (*cost)[digits])
{
    search->read = read;
    search->cost = cost;
    float least[most_named] = {};
    for (int g = 0; g < read->groups; g++) {
        search->order[g] = g;
        least[g] = *std::min_element(cost[g], cost[g] + digits);
    }
    // The surest groups first, so that the ways part late and few partial ways are kept.
    std::sort(search->order, search->order + read->groups, [&](int a, int b) {
        float spread_a = 0, spread_b = 0;
        for (int d = 0; d < digits; d++) {
            spread_a += std::min(cost[a][d], 30.0f) - least[a];
            spread_b += std::min(cost[b][d], 30.0f) - least[b];
        }
        return spread_a > spread_b;
    });
    search->rest[read->groups] = 0;
    for (int k = read->groups - 1; k >= 0; k--)
        search->rest[k] = search->rest[k + 1] + least[search->order[k]];
    search->pool_used = search->heap_size = 0;
    search->overflow = false;
    push_way(search, {-1, 0, 0, 0, 0});
}

// The next cheapest way of naming every group, in name, and its cost; false when none is left.
bool next_way(ways *search, int *name, float *cost_of_way)
{
    while (search->heap_size > 0) {
        int index = pop_way(search);
        partial way = search->pool[index];
        if (way.depth == search->read->groups) {
            *cost_of_way = way.cost;
            for (int at = index; search->pool[at].parent >= 0; at = search->pool[at].parent)
                name[search->order[search->pool[at].depth - 1]] = search->pool[at].digit;
            return true;
        }
        int g = search->order[way.depth];
        for (int d = 0; d < digits; d++) {
            if (std::isinf(search->cost[g][d]))
                continue;
            bool shared = way.taken >> d & 1;
            float cost = way.cost + search->cost[g][d] + (shared ? sharing_cost(search->read, g) : 0);
            push_way(search, {index, static_cast<unsigned short>(way.taken | 1u << d), static_cast<unsigned char>(d),
                              static_cast<unsigned char>(way.depth + 1), cost});
        }
    }
    return false;
}

// How likely the checksum's sum is to come to each value modulo 65536, every way of naming the
// groups counted: each group takes each digit as likely as tesseract read it (its cost), apart
// from the other groups. The sum of a dump read rightly is 0; that of a way tried comes to 0 by
// luck as often as these chances say.
const int sums = 65536;

void chances_of_sums(const reading *read, const unsigned *weight, const float (*cost)[digits], double *of_sum)
{
    static double next[sums];
    std::fill(of_sum, of_sum + sums, 0.0);
    of_sum[0] = 1;
    for (int g = 0; g < read->groups; g++) {
        if (weight[g] % sums == 0)
            continue; // its name moves no sum
        std::fill(next, next + sums, 0.0);
        for (int d = 0; d < digits; d++) {
            double likely = std::exp(-static_cast<double>(cost[g][d]));
            unsigned shift = weight[g] * static_cast<unsigned>(d) % sums;
            if (likely < 1e-15)
                continue;
            // Two runs rather than a remainder in the loop, so that the compiler makes vector sums of them.
            for (unsigned sum = 0; sum < sums - shift; sum++)
                next[sum + shift] += likely * of_sum[sum];
            for (unsigned sum = sums - shift; sum < sums; sum++)
                next[sum + shift - sums] += likely * of_sum[sum];
        }
        std::copy(next, next + sums, of_sum);
    }
}

// How likely the names a way gives the groups that move the checksum's sum are, by tesseract's
// readings alone (the names of the others the header and the size field check).
double likelihood_of(const reading *read, const unsigned *weight, const float (*cost)[digits], const int *name)
{
    double total = 0;
    for (int g = 0; g < read->groups; g++)
        if (weight[g] % sums != 0)
            total += cost[g][name[g]];
    return std::exp(-total);
}

// A way so likely that no other way weighs in the count: every name given (by a glyph book).
bool all_but_certain(double likelihood)
{
    return likelihood >= 1 - 1e-9;
}

// The chance that a way of naming the groups, were it wrong, holds the checksum by luck: the
// share, among every other way weighted as tesseract read it, of those whose sum comes to its
// own. Small groups that tesseract reads unsurely move the sum little, and so hold often. Where
// every group's name is given (by a glyph book), no other way is likely by the readings: the one
// way is wrong where any name is, and then moves the sum by about the groups' weights times the
// difference of two digits.
double chance_of_holding(const reading *read, const unsigned *weight, const double *of_sum, unsigned sum,
                         double likelihood)
{
    if (!all_but_certain(likelihood))
        return std::max(0.0, of_sum[sum % sums] - likelihood) / (1 - likelihood);
    double squares = 0;
    for (int g = 0; g < read->groups; g++)
        squares += static_cast<double>(weight[g]) * weight[g];
    return 1 / std::min(65536.0, 2.5 * 6.5 * std::sqrt(squares) + 1);
}

// Where a group holds the glyphs of two digits (merged in a blurred photo), no way of naming is
// right, and whatever tesseract read, each way tried holds the checksum by luck one time in
// 65 536: each spends at least that, so that after a few ways tried the checks cannot choose
// one that holds by luck.
const double luck_alone = 1.0 / sums;

// The checksum's sum under a way of naming the groups.
unsigned sum_of(const reading *read, const unsigned *weight, const int *name)
{
    unsigned sum = 0;
    for (int g = 0; g < read->groups; g++)
        sum += weight[g] * static_cast<unsigned>(name[g]);
    return sum;
}

// A name the header forces away, or that tesseract all but rules out, is not counted.
bool may_be(float cost)
{
    return cost < 34;
}

// How unlikely a way is, as rivals are counted: its names' costs, and its digits shared. Of the
// groups that bear one digit, each but the one read as it most surely pays its sharing_counted.
double counted_cost(const reading *read, const float (*cost)[digits], const int *name)
{
    double total = 0, shared[digits] = {}, surest_shares[digits] = {};
    float surest[digits];
    std::fill(surest, surest + digits, HUGE_VALF);
    for (int g = 0; g < read->groups; g++) {
        int d = name[g];
        total += cost[g][d];
        shared[d] += sharing_counted[g];
        if (cost[g][d] < surest[d]) {
            surest[d] = cost[g][d];
            surest_shares[d] = sharing_counted[g];
        }
    }
    for (int d = 0; d < digits; d++)
        total += shared[d] - surest_shares[d];
    return total;
}

// A way that holds the checksum as the way found does, with up to three groups' names changed,
// and what it weighs against the way found, as likely as tesseract read the glyphs: as rivals
// are weighed, and as ways are counted against the checks.
struct rival {
    int group[3];
    int changed;
    double weight;
    double counted;
};

const int most_rivals = 4096;
rival rivals[most_rivals];

// The rivals of the way found: the ways that change up to three groups' names and hold the
// checksum too. Two misreadings that make up for each other in the sum are such a rival; the
// ways tried cheapest first reach few of them where several groups were read unsurely. Their
// count, or -1 where there are too many to keep.
int rivals_of(const reading *read, const unsigned *weight, const float (*cost)[digits], const float (*counted)[digits],
              const int *name)
{
    static int moving[most_named], other[most_named], changed[3];
    int count = 0, found = 0;
    for (int g = 0; g < read->groups; g++)
        if (weight[g] % sums != 0 && std::count_if(cost[g], cost[g] + digits, may_be) > 1)
            moving[count++] = g;
    if (count > most_moving)
        return -1;
    double found_cost = counted_cost(read, cost, name);
    for (int g = 0; g < read->groups; g++)
        other[g] = name[g];
    // Each group moving[k] changed to each other digit, then the groups after it, up to three,
    // with what the changes move the sum by.
    auto change = [&](int depth, int k, unsigned moved, auto &&then) {
        int g = moving[k];
        changed[depth] = g;
        for (int d = 0; d < digits; d++)
            if (d != name[g] && may_be(cost[g][d])) {
                other[g] = d;
                then(moved + weight[g] * static_cast<unsigned>(d) - weight[g] * static_cast<unsigned>(name[g]));
            }
        other[g] = name[g];
    };
    auto weigh = [&](int depth) {
        return [&, depth](unsigned moved) {
            if (moved % sums != 0 || found < 0)
                return;
            if (found == most_rivals) {
                found = -1;
                return;
            }
            double against_found = std::exp(found_cost - counted_cost(read, cost, other));
            double as_counted = 1;
            for (int c = 0; c < depth; c++)
                as_counted *= std::exp(counted[changed[c]][name[changed[c]]] - counted[changed[c]][other[changed[c]]]);
            rivals[found++] = {{changed[0], changed[1], changed[2]}, depth, against_found, as_counted};
        };
    };
    for (int a = 0; a < count; a++) {
        change(0, a, 0, weigh(1));
        for (int b = a + 1; b < count; b++) {
            change(0, a, 0, [&](unsigned moved) { change(1, b, moved, weigh(2)); });
            for (int c = b + 1; c < count; c++)
                change(0, a, 0, [&](unsigned moved) {
                    change(1, b, moved, [&](unsigned more) { change(2, c, more, weigh(3)); });
                });
        }
    }
    return found;
}

// The chance that a way holds by luck were it wrong, its rivals apart: they are weighed, and
// leave their groups in doubt, on their own (doubt_by_rivals).
double chance_beyond_rivals(double chance, double likelihood, int count)
{
    if (all_but_certain(likelihood))
        return chance; // not counted over other ways
    double rivals_counted = 0;
    for (int k = 0; k < count; k++)
        rivals_counted += rivals[k].counted;
    return std::max(0.0, chance - likelihood * rivals_counted / (1 - likelihood));
}

// The groups left in doubt by the rivals of the way found, the weightiest rival's first, until
// what the rivals that change any other group weigh fits the budget; that weight is spent.
void doubt_by_rivals(const reading *read, int count, double *risked, bool *sure)
{
    std::fill(sure, sure + read->groups, true);
    std::sort(rivals, rivals + count, [](const rival &a, const rival &b) { return a.weight > b.weight; });
    auto threatens = [&](const rival &other) {
        return std::any_of(other.group, other.group + other.changed, [&](int g) { return sure[g]; });
    };
    double left = 0;
    for (int k = 0; k < count; k++)
        left += rivals[k].weight;
    for (int k = 0; k < count && *risked + left > most_risked; k++) {
        if (!threatens(rivals[k]))
            continue;
        for (int at = k; at < count; at++)
            if (threatens(rivals[at]))
                left -= rivals[at].weight;
        for (int c = 0; c < rivals[k].changed; c++)
            sure[rivals[k].group[c]] = false;
        for (int at = k; at < count; at++)
            if (threatens(rivals[at]))
                left += rivals[at].weight;
    }
    *risked += std::max(0.0, left);
}

// Names every group so that every check holds: the cheapest way under which they hold, when
// the budget could take it; sure are the names its rivals, and the other ways nearly as likely
// that hold too, do not leave in doubt (doubt_by_rivals). Each way tried while the budget lasts
// could be taken, so each that fails spends the chance that it holds by luck were it wrong; the
// way that holds spends that chance apart from its rivals', which are weighed on their own. The
// ways tried after one holds, or after the budget is spent, only look for a rival and spend
// nothing: they can only take sureness away.
enum naming { names_confirmed, none_held, names_rivalled };

naming names_hold(const reading *read, const int *expected, const unsigned *weight, const float (*cost)[digits],
                  const float (*counted)[digits], const double *of_sum, double *risked, int *name, bool *sure)
{
    static ways search;
    static int tried_name[most_named], found[most_named], digit_of[most_samples];
    static bool rivalled[most_named];
    std::fill(rivalled, rivalled + read->groups, false);
    start_ways(&search, read, cost);
    int tried = 0, rival_count = 0;
    bool held = false; // a way held, and is the one found
    float way_cost = 0, found_cost = 0;
    while (tried < most_tried && next_way(&search, tried_name, &way_cost)) {
        if (held && way_cost > found_cost + rival_margin)
            break; // the ways left are too unlikely to rival the one found
        tried++;
        unsigned sum = sum_of(read, weight, tried_name);
        bool holds = sum % sums == 0;
        if (holds) {
            read_digits(read, tried_name, digit_of);
            holds = checks_hold(read, digit_of, expected);
        }
        if (held) {
            // Holding too, nearly as likely as the way found: the checks cannot tell the names
            // it changes.
            if (holds)
                for (int g = 0; g < read->groups; g++)
                    rivalled[g] = rivalled[g] || tried_name[g] != found[g];
            continue;
        }
        double likelihood = likelihood_of(read, weight, counted, tried_name);
        double chance = std::max(chance_of_holding(read, weight, of_sum, sum, likelihood), luck_alone);
        if (!holds) {
            if (*risked + chance <= most_risked)
                *risked += chance;
            continue;
        }
        held = true;
        rival_count = rivals_of(read, weight, cost, counted, tried_name);
        if (rival_count < 0)
            return names_rivalled;
        chance = std::max(chance_beyond_rivals(chance, likelihood, rival_count), luck_alone);
        if (*risked + chance > most_risked)
            return names_rivalled;
        *risked += chance;
        found_cost = way_cost;
        std::copy(tried_name, tried_name + read->groups, found);
    }
    if (!held)
        return none_held;
    if (search.overflow)
        return names_rivalled;
    doubt_by_rivals(read, rival_count, risked, sure);
    for (int g = 0; g < read->groups; g++)
        sure[g] = sure[g] && !rivalled[g];
    std::copy(found, found + read->groups, name);
    return names_confirmed;
}

// When the names fail the checks, the digits whose glyphs stood about as near another group
// are tried as that group's too, all ways together; exactly one way under which every check
// holds settles them, and none is tried where no digit is doubtful. digit_of, the digits under
// the names on the way in, holds the digits as settled.
bool settle_doubtful(const reading *read, const int *expected, const int *name, double chance, double *risked,
                     int *digit_of)
{
    static int doubtful[most_doubtful_tried];
    int count = 0;
    for (int s = 0; s < read->samples; s++) {
        int g = read->group_of[s], r = read->runner_up[s];
        if (!read->doubtful[s] || g < 0 || r < 0 || name[g] == unsure || name[r] == unsure || name[r] == name[g])
            continue;
        if (count == most_doubtful_tried)
            return false;
        doubtful[count++] = s;
    }
    if (count == 0)
        return false;
    // Every way of flipping them could be taken: each spends the chance of a wrong one holding.
    double spent = (1 << count) * chance;
    if (*risked + spent > most_risked)
        return false;
    *risked += spent;
    int holding = 0, found = 0;
    for (int way = 0; way < 1 << count && holding < 2; way++) {
        for (int k = 0; k < count; k++) {
            int s = doubtful[k];
            digit_of[s] = name[way >> k & 1 ? read->runner_up[s] : read->group_of[s]];
        }
        if (checks_hold(read, digit_of, expected) && holding++ == 0)
            found = way;
    }
    for (int k = 0; k < count; k++) {
        int s = doubtful[k];
        digit_of[s] = name[found >> k & 1 ? read->runner_up[s] : read->group_of[s]];
    }
    return holding == 1;
}

} // namespace

long size_shown(const reading *read)
{
    if (read->pages < 1)
        return -1;
    for (int p = 0; p + 1 < read->pages; p++)
        if (read->page[p].lines + read->page[p].lines_cut != page_lines ||
            read->page[p].last_line_digits != digits_per_line)
            return -1;
    const page_read &last = read->page[read->pages - 1];
    long size = static_cast<long>(read->pages - 1) * bytes_per_page + static_cast<long>(last.lines - 1) * bytes_per_line +
                last.last_line_digits / 2;
    return size <= 0xFFFF ? size : -1;
}

void settle(const reading *read, const int *given_names, settled *result)
{
    static int forced[most_named], digit_of[most_samples];
    static unsigned weight[most_named];
    static double of_sum[sums];
    static bool not_in_doubt[most_named];
    static float cost[most_named][digits], counted[most_named][digits];
    int expected[header_digits];
    expected_header(read, expected);
    std::copy(given_names, given_names + read->groups, forced);
    if (!force_from_header(read, expected, forced))
        std::copy(given_names, given_names + read->groups, forced);
    checksum_weights(read, weight);
    count_sharing(read);
    name_costs(read, forced, cost);
    for (int g = 0; g < read->groups; g++)
        result->name[g] = static_cast<int>(std::min_element(cost[g], cost[g] + digits) - cost[g]);
    costs_as_counted(read, cost, result->name, counted);
    chances_of_sums(read, weight, counted, of_sum);
    // Lines cut off leave the checksum nothing to confirm: no naming is tried against it.
    bool whole = std::none_of(read->page, read->page + read->pages,
                              [](const page_read &page) { return page.lines_cut > 0; });
    naming named = none_held;
    result->checks_hold = false;
    read_digits(read, result->name, digit_of);
    if (whole && !checks_hold(read, digit_of, expected)) {
        // A glyph that fell in the group it stood nearly as near as its own fails every way of
        // naming the groups: its two readings are tried first, before the search spends the
        // budget on ways that cannot hold. Each way of flipping the doubtful digits spends what
        // a way of naming the groups does.
        double chance = chance_of_holding(read, weight, of_sum, sum_of(read, weight, result->name),
                                          likelihood_of(read, weight, counted, result->name));
        result->checks_hold = settle_doubtful(read, expected, result->name, chance, &result->risked, digit_of);
    }
    if (whole && !result->checks_hold) {
        named = names_hold(read, expected, weight, cost, counted, of_sum, &result->risked, result->name, not_in_doubt);
        result->checks_hold = named == names_confirmed;
        read_digits(read, result->name, digit_of);
    }
    // Where the checks fail, only a name a person gave is sure: tesseract reads some glyphs
    // wrongly and surely, and a group of a photo may hold two glyphs. Where they hold, the names
    // of the groups that rivals leave in doubt are not sure either.
    bool every_name_sure = true;
    for (int g = 0; g < read->groups; g++) {
        result->sure[g] = (result->checks_hold && (named != names_confirmed || not_in_doubt[g])) ||
                          given_names[g] != unsure;
        every_name_sure = every_name_sure && result->sure[g];
    }
    // Each digit: its group's name where that is sure; a doubtful one only where the checks
    // back every name, or where its runner-up bears the same name.
    std::copy(digit_of, digit_of + most_samples, result->digit);
    for (int p = 0; p < read->pages; p++) {
        const page_read &page = read->page[p];
        auto judge = [&](int s) {
            int g = read->group_of[s], r = read->runner_up[s];
            bool doubt = read->doubtful[s] && r >= 0 && result->name[r] != result->name[g];
            if (g < 0 || !result->sure[g] || (doubt && !(result->checks_hold && every_name_sure)))
                result->digit[s] = unsure;
        };
        for (int k = 0; k < header_digits; k++)
            judge(page.header[k]);
        for (int line = 0; line < page.lines; line++)
            for (int k = 0; k < digits_on(&page, line); k++)
                judge(page.digits[line][k]);
    }
}

int digit_that_holds(const reading *read, const int *name, const int *part, int count)
{
    static int digit_of[most_samples];
    int expected[header_digits], holding = unsure, held = 0;
    expected_header(read, expected);
    read_digits(read, name, digit_of);
    for (int digit = 0; digit < digits; digit++) {
        for (int k = 0; k < count; k++)
            digit_of[part[k]] = digit;
        if (checks_hold(read, digit_of, expected)) {
            holding = digit;
            held++;
        }
    }
    return held == 1 ? holding : unsure;
}

bool dump_bytes(const reading *read, const settled *result, unsigned char *bytes, long *length)
{
    return bytes_of(read, result->digit, bytes, length);
}
