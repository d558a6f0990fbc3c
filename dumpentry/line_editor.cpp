#include <cstdio>
#include <cstring>

#include "../common/system.h"
#include "line_editor.h"

static bool active;
static FILE *shown_on;   // where prompts and typing are shown
static char typed[4096]; // the line typed, handed out limit bytes at a time
static size_t typed_length, typed_used;
static char preset[256];

bool editor_start(FILE *shown)
{
    shown_on = shown;
    active = open_line_editor(shown);
    return active;
}

FILE *editor_shown_on()
{
    return shown_on;
}

bool editor_active()
{
    return active;
}

size_t editor_read(const char *prompt, char *raw, size_t limit)
{
    if (typed_used == typed_length) {
        fflush(stdout);
        fflush(shown_on);
        typed_length = read_edited_line(prompt, preset, typed, sizeof typed);
        preset[0] = '\0';
        typed_used = 0;
        if (typed_length == 0)
            return 0;
    } else {
        fputs(prompt, shown_on); // the rest of a long line answers this prompt at once
    }
    size_t length = typed_length - typed_used < limit ? typed_length - typed_used : limit;
    memcpy(raw, typed + typed_used, length);
    typed_used += length;
    return length;
}

void editor_preset(const char *text)
{
    snprintf(preset, sizeof preset, "%s", text);
}

bool input_waiting()
{
    return typed_used < typed_length || keys_waiting();
}

void discard_typed_ahead()
{
    typed_used = typed_length;
    if (active)
        drop_keys_typed_ahead();
}
