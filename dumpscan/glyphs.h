#ifndef DUMPSCAN_GLYPHS_H
#define DUMPSCAN_GLYPHS_H

// The glyphs of all pages grouped by shape (one font draws them all), and the groups named:
// from their cleaned mean by tesseract, or at a terminal by the person who sees them.

#include <cstdio>

#include "stages.h"

const int most_groups = 256;

struct glyph_groups {
    int count;
    int group_of[most_samples];     // the group nearest each sample
    int runner_up[most_samples];    // the next nearest, or -1
    bool doubtful[most_samples];    // about as near the runner-up: either may be its glyph
    int members[most_groups];
    float mean[most_groups][glyph_size]; // of the members, each scaled to length 1
    bool twinned[most_groups];           // another group's glyphs stand near: one glyph split in two?
};

// Glyphs whose means stand farther apart than this are never one shape: the same glyph drawn
// by the same pixels stands 0.0001 to 0.005 apart. Two digits stand farther apart, mostly, but
// bold ones blurred as composite video is stand 0.005 to 0.009 apart: groups are one shape
// only within a few times their own scatter as well. The glyph book matches within this.
const double same_shape = 0.008;

// 1 - the cosine between two means of length 1: 0 for the same shape.
double distance_between(const float *a, const float *b);

// Groups the samples by shape; zeros are the samples of the headers' encoding, 00 on every page.
const int most_zeros = 2 * most_pages;
void group_glyphs(const glyph_sample *samples, int sample_count, const int *zeros, int zero_count,
                  glyph_groups *groups);

// A group that holds two glyphs (blurred, an 8 and a B stand as near as two 8s): the members
// that stand apart from the rest, leaving the rest with sample kept (kept -1: the part grown from
// the members farthest from the group's mean), into part; how many (0: the group does not part).
// Such a part then made a group of its own; its number, or -1.
int part_apart(const glyph_sample *samples, int sample_count, const glyph_groups *groups, int group, int kept,
               int *part);
int group_apart(const glyph_sample *samples, int sample_count, glyph_groups *groups, const int *part, int count);

// Lines of the dump drawn with the groups' mean glyphs: each the groups of its cells, -1 for a
// space between pairs.
const int most_line = 48;

// Where tesseract's English data is: in the folder TESSDATA_PREFIX names, or Debian's.
const char *english_data_path();
// Whether it is there, a file that holds something (looked at without waiting on a pipe);
// else why not.
bool english_data_found(char *why, size_t size);

// What tesseract makes of each group's mean glyph, read in the lines given, as they stand in
// the dump: for each group and digit, how strongly it was read as that digit, 0 to 1. False
// when tesseract cannot start with its data.
bool read_groups(const glyph_groups *groups, const int (*lines)[most_line], int line_count, float (*votes)[16]);

// Shows a group's mean glyph in block characters, for a person to name.
void show_group(const glyph_groups *groups, int group, FILE *shown);

#endif
