#include <cstdio>
#include <cstring>
#include <histedit.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "../common/safe_files.h"
#include "line_editor.h"

static EditLine *editor;
static struct termios terminal_before; // put back when a signal ends the run mid-line
static char editor_prompt[256];
static char typed[4096]; // the line typed, handed out limit bytes at a time
static size_t typed_length, typed_used;

static char *current_prompt(EditLine *)
{
    return editor_prompt;
}

static void restore_terminal()
{
    tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before);
}

bool editor_start()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal_before) != 0)
        return false;
    editor = el_init("dumpentry", stdin, stdout, stderr);
    if (!editor)
        return false;
    el_set(editor, EL_EDITOR, "emacs");
    el_set(editor, EL_PROMPT, current_prompt);
    on_ending_signal(restore_terminal);
    return true;
}

bool editor_active()
{
    return editor != nullptr;
}

// The editor redraws its prompt, so it is given only the last line of it.
static void show_prompt(const char *prompt)
{
    const char *last_line = strrchr(prompt, '\n');
    if (last_line) {
        fwrite(prompt, 1, static_cast<size_t>(last_line + 1 - prompt), stdout);
        prompt = last_line + 1;
    }
    snprintf(editor_prompt, sizeof editor_prompt, "%s", prompt);
}

size_t editor_read(const char *prompt, char *raw, size_t limit)
{
    if (typed_used == typed_length) {
        show_prompt(prompt);
        fflush(stdout);
        int count = 0;
        const char *line = el_gets(editor, &count);
        if (!line || count <= 0)
            return 0;
        typed_length = snprintf(typed, sizeof typed, "%s", line) < static_cast<int>(sizeof typed)
                           ? static_cast<size_t>(count) : sizeof typed - 1;
        typed_used = 0;
    } else {
        fputs(prompt, stdout); // the rest of a long line answers this prompt at once
    }
    size_t length = typed_length - typed_used < limit ? typed_length - typed_used : limit;
    memcpy(raw, typed + typed_used, length);
    typed_used += length;
    return length;
}

bool input_waiting()
{
    if (typed_used < typed_length)
        return true;
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}
