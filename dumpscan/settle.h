#ifndef DUMPSCAN_SETTLE_H
#define DUMPSCAN_SETTLE_H

// Settling the names of the glyph groups, and the digits of the dump, by what the dump itself
// must hold: the same header on every page, a header whose size the pages bear out, a size
// field equal to that size, and a checksum that holds. Pure logic, on plain numbers.

#include "stages.h"

const int most_named = 256; // groups

// What is known of the dump read: where each digit stands, which group its glyph fell in and
// which it was nearly, and what tesseract made of each group.
struct reading {
    int pages;
    const page_read *page;
    int samples;
    const int *group_of;      // by sample
    const int *runner_up;     // by sample, -1: none
    const bool *doubtful;     // by sample
    int groups;
    const float (*votes)[16]; // by group
    const bool *twinned;      // by group: another group's glyphs stand near, one glyph split in two?
    int given_header[header_digits]; // --header, or unsure throughout
};

// What was settled: each group's digit (or unsure), each sample's digit (or unsure).
struct settled {
    int name[most_named];
    bool sure[most_named];
    int digit[most_samples];
    bool checks_hold;    // size field and checksum, headers alike and as the pages bear out
    double risked;       // of the run's budget: the chance that a wrong reading was taken by luck
};

// The size the pages bear out: full pages of 16 lines of 8 bytes before the last one, whose
// last line may be shorter; -1 when they bear out none.
long size_shown(const reading *read);

// Names the groups and settles each digit; names already given (by a person) hold. What the
// readings tried against the checks risk is added to result->risked, which a run starts at 0.
void settle(const reading *read, const int *given_names, settled *result);

// The one digit that, taken by the samples of part, the others named so, makes every check
// hold; unsure where none does, or more than one. It proves nothing (the parts of all groups
// tried find one by luck about once in a hundred): a guess to show a person.
int digit_that_holds(const reading *read, const int *name, const int *part, int count);

// The bytes of the dump as settled, and whether every digit of it is sure.
bool dump_bytes(const reading *read, const settled *result, unsigned char *bytes, long *length);

#endif
