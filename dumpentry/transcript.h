#ifndef TRANSCRIPT_H
#define TRANSCRIPT_H

// The transcript: at a terminal, every line kept is written at once to OUTPUT.txt beside the
// dump file, laid out like the screen, so that a session that stopped goes on from it.

#include <cstdio>

#include "../common/system.h"
#include "plain.h"

struct transcript {
    char name[longest_path + 8];
    char output_name[longest_path];
    FILE *stream;             // appended to, a line at a time; null when none is kept
    unsigned long lines;      // complete lines in it
    char header_pairs[384];   // the header as it holds it, for each new page
    unsigned long header_line; // its line that holds the header
    bool links_warned;        // its second hard link was said once already
};

// At a terminal: offers to go on from what the transcript of the output holds (ending the run
// when the user says no), then keeps what is typed in it. Anything there that is no regular
// file is warned about, and no transcript kept.
void start_transcript(transcript *kept, const char *output_name);
// Keeps an answer typed (see typing_keeper); an answer read from a text is not written again.
unsigned long keep_typed(transcript *kept, const char *answer, typed_kind kind, unsigned long text_line);
// From now on the transcript is mended in place, not appended to.
void stop_keeping(transcript *kept);
// "The lines typed are kept in ..." with how to go on, on a line of its own ("" when none is
// kept); an ending signal at the terminal says it on a fresh line.
const char *where_typing_is_kept(const transcript *kept);
void say_where_typing_is_kept_on_ending();

#endif
