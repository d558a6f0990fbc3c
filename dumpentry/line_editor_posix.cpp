// At a POSIX terminal, lines are edited with libedit.
#include <cstdio>
#include <cstring>
#include <histedit.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "../common/system.h"
#include "line_editor.h"

static EditLine *editor;
static struct termios terminal_before; // put back when a signal ends the run mid-line
static char editor_prompt[256];

static char *current_prompt(EditLine *)
{
    return editor_prompt;
}

static void restore_terminal()
{
    tcsetattr(STDIN_FILENO, TCSANOW, &terminal_before);
}

static FILE *shown_on;

bool open_line_editor(FILE *shown)
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal_before) != 0)
        return false;
    shown_on = shown;
    editor = el_init("dumpentry", stdin, shown, stderr);
    if (!editor)
        return false;
    el_set(editor, EL_EDITOR, "emacs");
    el_set(editor, EL_PROMPT, current_prompt);
    add_ending_hook(restore_terminal);
    return true;
}

// The editor redraws its prompt, so it is given only the last line of it.
size_t read_edited_line(const char *prompt, char *line, size_t size)
{
    const char *last_line = strrchr(prompt, '\n');
    if (last_line) {
        fwrite(prompt, 1, static_cast<size_t>(last_line + 1 - prompt), shown_on);
        fflush(shown_on);
        prompt = last_line + 1;
    }
    snprintf(editor_prompt, sizeof editor_prompt, "%s", prompt);
    int count = 0;
    const char *typed = el_gets(editor, &count);
    if (!typed || count <= 0)
        return 0;
    size_t length = static_cast<size_t>(count) < size ? static_cast<size_t>(count) : size - 1;
    memcpy(line, typed, length);
    return length;
}

bool keys_waiting()
{
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}

// A paste goes on arriving for a moment: keys are dropped until none has come for 50 ms (for
// two seconds at the most).
void drop_waiting_keys()
{
    for (int round = 0; round < 40; round++) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0)
            return;
    }
}
