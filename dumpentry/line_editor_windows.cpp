// At the Windows console, lines are edited with the console's own line editing.
#include <cstdio>
#include <cstring>
#include <windows.h>

#include "line_editor.h"

static HANDLE console;
bool open_line_editor(FILE *)
{
    console = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(console, &mode))
        return false;
    SetConsoleMode(console, mode | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
    return true;
}

// The console's line editing starts empty: a preset is not offered.
size_t read_edited_line(const char *prompt, const char *, char *line, size_t size)
{
    fputs(prompt, editor_shown_on());
    fflush(editor_shown_on());
    static wchar_t typed[2048];
    DWORD count = 0;
    if (!ReadConsoleW(console, typed, sizeof typed / sizeof typed[0], &count, nullptr) || count == 0 ||
        typed[0] == 0x1A) // Ctrl-Z: the end of input
        return 0;
    int length = WideCharToMultiByte(CP_UTF8, 0, typed, static_cast<int>(count), line, static_cast<int>(size),
                                     nullptr, nullptr);
    return length > 0 ? static_cast<size_t>(length) : 0;
}

bool keys_waiting()
{
    DWORD events = 0;
    return GetNumberOfConsoleInputEvents(console, &events) && events > 0;
}
