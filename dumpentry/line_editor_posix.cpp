// At a POSIX terminal, lines are edited with libedit.
#include <cerrno>
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

// Reads one byte of standard input, waiting at most wait_ms (-1: for as long as it takes):
// 1, or 0 at the end of input, -1 on an error, -2 when none came in time.
static int read_byte(unsigned char *byte, int wait_ms)
{
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (wait_ms >= 0 && poll(&ready, 1, wait_ms) <= 0)
        return -2;
    ssize_t got;
    do
        got = read(STDIN_FILENO, byte, 1);
    while (got < 0 && errno == EINTR);
    return got > 0 ? 1 : got == 0 ? 0 : -1;
}

// The control keys the emacs keys of libedit edit with, and one bound below for Delete.
const wchar_t key_left = 0x02, key_right = 0x06, key_home = 0x01, key_end = 0x05, key_delete = 0x1F;

// The rest of an escape sequence, read whole: an editing key as the control key that does
// its work, any other key (F1-F12, Insert, Page Up/Down, Alt with a key) as 0: dropped. A
// sequence ends at its final byte (CSI: 0x40-0x7E after parameters; SS3: the byte after O).
static wchar_t read_sequence()
{
    unsigned char c;
    if (read_byte(&c, 50) != 1 || (c != '[' && c != 'O'))
        return 0; // Escape alone, or Alt with a key
    bool csi = c == '[';
    int number = 0;
    unsigned char final = 0;
    while (read_byte(&c, 50) == 1) {
        if (c >= 0x40 && c <= 0x7E) {
            final = c;
            break;
        }
        if (!csi || c < 0x20 || c > 0x3F)
            return 0; // no sequence a key sends
        if (c >= '0' && c <= '9' && number < 1000)
            number = number * 10 + (c - '0');
        else if (c == ';')
            number = number == 0 ? 0 : number + 10000; // a modifier follows: the key is the number before
    }
    number %= 10000;
    switch (final) {
    case 'D':
        return key_left;
    case 'C':
        return key_right;
    case 'H':
        return key_home;
    case 'F':
        return key_end;
    case '~':
        return number == 1 || number == 7 ? key_home : number == 4 || number == 8 ? key_end
                                                     : number == 3                 ? key_delete
                                                                                   : 0;
    default:
        return 0;
    }
}

// How many bytes follow a UTF-8 lead byte.
static int continuation_bytes(unsigned char lead)
{
    return lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
}

// libedit's reading of keys, done here so that every escape sequence a terminal sends is read
// whole, whatever TERM says: libedit knows only the sequences of TERM's description and puts
// the rest of any other into the line (F9, ESC [ 2 0 ~, left "0~", a digit).
static int read_key(EditLine *, wchar_t *key)
{
    for (;;) {
        unsigned char c;
        int got = read_byte(&c, -1);
        if (got != 1)
            return got == 0 ? 0 : -1;
        if (c == 0x1B) {
            wchar_t edit = read_sequence();
            if (!edit)
                continue;
            *key = edit;
            return 1;
        }
        wchar_t character = c < 0x80 ? c : c & (0x3F >> continuation_bytes(c));
        for (int k = continuation_bytes(c); k > 0 && read_byte(&c, 50) == 1; k--)
            character = character << 6 | (c & 0x3F);
        *key = character;
        return 1;
    }
}

bool open_line_editor(FILE *shown)
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &terminal_before) != 0)
        return false;
    editor = el_init("dumpentry", stdin, shown, stderr);
    if (!editor)
        return false;
    el_set(editor, EL_EDITOR, "emacs");
    el_set(editor, EL_PROMPT, current_prompt);
    el_set(editor, EL_GETCFN, read_key);
    el_set(editor, EL_BIND, "^_", "ed-delete-next-char", nullptr);
    add_ending_hook(restore_terminal);
    return true;
}

// The editor redraws its prompt, so it is given only the last line of it.
size_t read_edited_line(const char *prompt, const char *preset, char *line, size_t size)
{
    const char *last_line = strrchr(prompt, '\n');
    if (last_line) {
        fwrite(prompt, 1, static_cast<size_t>(last_line + 1 - prompt), editor_shown_on());
        fflush(editor_shown_on());
        prompt = last_line + 1;
    }
    snprintf(editor_prompt, sizeof editor_prompt, "%s", prompt);
    if (preset[0])
        el_push(editor, preset);
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

