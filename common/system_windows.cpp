// The system layer on Windows: file names are UTF-8 in the programs and UTF-16 for the system,
// streams carry bytes as they are, a file's identity is its volume serial number and file
// index, and a file is put in place of another by MoveFileExW.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "bramtools.h"
#include "system.h"

static void (*ending_hooks[4])();
static int ending_hook_count;

// A UTF-8 path as the system takes it; two at a time, for the calls that take two.
static const wchar_t *wide(const char *text, int which = 0)
{
    static wchar_t converted[2][longest_path];
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, converted[which], longest_path) == 0)
        converted[which][0] = 0;
    return converted[which];
}

// errno for the system's last error, so that messages read as on any other system.
static void note_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    default:
        errno = EIO;
    }
}

void add_ending_hook(void (*hook)())
{
    if (ending_hook_count < static_cast<int>(sizeof ending_hooks / sizeof ending_hooks[0]))
        ending_hooks[ending_hook_count++] = hook;
}

static volatile LONG ending_held;

// Runs in a thread of its own: while the main thread holds the ending back, this one waits, and
// a main thread that ends meanwhile ends the process with its own status.
static BOOL WINAPI end_on_control(DWORD)
{
    while (ending_held)
        Sleep(10);
    for (int k = 0; k < ending_hook_count; k++)
        ending_hooks[k]();
    return FALSE; // the default handler then ends the process
}

// The command line as UTF-8, kept for the whole run.
static void utf8_arguments(int *argc, char ***argv)
{
    static char pool[1 << 17];
    static char *arguments[1 << 13];
    int count = 0;
    wchar_t **wide_arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide_arguments)
        return;
    size_t used = 0;
    int kept = 0;
    for (; kept < count && kept + 1 < static_cast<int>(sizeof arguments / sizeof arguments[0]); kept++) {
        int length = WideCharToMultiByte(CP_UTF8, 0, wide_arguments[kept], -1, pool + used,
                                         static_cast<int>(sizeof pool - used), nullptr, nullptr);
        if (length <= 0)
            break;
        arguments[kept] = pool + used;
        used += static_cast<size_t>(length);
    }
    arguments[kept] = nullptr;
    LocalFree(wide_arguments);
    *argc = kept;
    *argv = arguments;
}

void start_system(int *argc, char ***argv)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (_get_osfhandle(fd) != -1)
            continue;
        int opened = _open("NUL", _O_RDWR | _O_BINARY);
        if (opened < 0 || (opened != fd && _dup2(opened, fd) != 0))
            fail(1, "Couldn't open NUL for a closed standard stream\n");
    }
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    utf8_arguments(argc, argv);
    SetConsoleCtrlHandler(end_on_control, TRUE);
}

static bool is_folder(const char *path)
{
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FILE *open_file(const char *path, const char *mode)
{
    wchar_t wide_mode[8];
    MultiByteToWideChar(CP_UTF8, 0, mode, -1, wide_mode, 8);
    FILE *stream = _wfopen(wide(path), wide_mode);
    if (!stream && is_folder(path))
        errno = EISDIR; // a folder cannot be opened here at all
    return stream;
}

static FILE *stream_on(HANDLE handle, const char *mode)
{
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE *stream = _fdopen(fd, mode);
    if (!stream)
        _close(fd);
    return stream;
}

// A file shared for deletion, so that the Ctrl-C handler may remove it while it is open.
static HANDLE create_new(const char *path)
{
    HANDLE handle = CreateFileW(wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        note_error();
    return handle;
}

FILE *open_new_file(const char *path)
{
    HANDLE handle = create_new(path);
    return handle == INVALID_HANDLE_VALUE ? nullptr : stream_on(handle, "wb");
}

void remove_file(const char *path)
{
    DeleteFileW(wide(path, 1));
}

// Files that are no files on disk (NUL, a console, a pipe) are never the same as another. A
// handle inherited as a standard stream may not say its volume (wine's do not): then the
// file index alone tells.
static bool facts_of_handle(HANDLE handle, file_facts *facts)
{
    static unsigned long long unshared;
    memset(facts, 0, sizeof *facts);
    facts->volume = ~0ULL;
    facts->volume_known = true;
    facts->index = ++unshared;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr)
        return false;
    FILE_ID_INFO identity{};
    FILE_STANDARD_INFO standard{};
    FILE_BASIC_INFO basic{};
    if (GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandleEx(handle, FileIdInfo, &identity, sizeof identity) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) ||
        !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
        return true;
    facts->directory = standard.Directory != 0;
    facts->write_protected = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    facts->regular = !facts->directory;
    facts->volume = identity.VolumeSerialNumber;
    facts->volume_known = identity.VolumeSerialNumber != 0;
    memcpy(&facts->index, identity.FileId.Identifier, sizeof facts->index);
    facts->links = standard.NumberOfLinks;
    facts->size = static_cast<unsigned long long>(standard.EndOfFile.QuadPart);
    return true;
}

bool facts_of(const char *path, file_facts *facts)
{
    HANDLE handle = CreateFileW(wide(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        note_error();
        return false;
    }
    bool known = facts_of_handle(handle, facts);
    CloseHandle(handle);
    return known;
}

bool facts_of_stream(FILE *stream, file_facts *facts)
{
    return facts_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), facts);
}

bool facts_of_standard_stream(int stream, file_facts *facts)
{
    return facts_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(stream)), facts);
}

bool may_write(const char *path)
{
    DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

bool standard_input_is_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool standard_output_is_terminal()
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void drop_keys_typed_ahead()
{
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

void write_at_once(int stream, const char *text, size_t length)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), text, static_cast<DWORD>(length),
              &written, nullptr);
}

bool names_ignore_case()
{
    return true;
}

bool is_folder_separator(char c)
{
    return c == '/' || c == '\\';
}

bool reserved_file_name(const char *base)
{
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *device : devices)
        if (_stricmp(base, device) == 0)
            return true;
    bool numbered = (_strnicmp(base, "COM", 3) == 0 || _strnicmp(base, "LPT", 3) == 0) && base[3] >= '1' &&
                    base[3] <= '9' && base[4] == '\0';
    return numbered;
}

bool link_target(const char *path, char *target, size_t size)
{
    errno = ENAMETOOLONG;
    return snprintf(target, size, "%s", path) < static_cast<int>(size);
}

FILE *create_temporary(char *name_template)
{
    char *letters = name_template + strlen(name_template) - 6;
    static unsigned long long seed;
    seed += GetTickCount64() ^ (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
    for (int tries = 0; tries < 100; tries++) {
        unsigned long long value = seed + static_cast<unsigned long long>(tries) * 7919;
        for (int k = 0; k < 6; k++, value /= 36)
            letters[k] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
        HANDLE handle = create_new(name_template);
        if (handle != INVALID_HANDLE_VALUE)
            return stream_on(handle, "wb");
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool keep_metadata(FILE *, const file_facts *, bool *group_kept)
{
    *group_kept = true;
    return true; // a new file gets the folder's permissions, as the old one had
}

bool truncate_stream(FILE *stream, unsigned long long size)
{
    return fflush(stream) == 0 && _chsize_s(_fileno(stream), static_cast<long long>(size)) == 0;
}

bool sync_to_disk(FILE *stream)
{
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

// A file that another program holds open for a moment (a second run looking at it, a virus
// scanner) cannot be replaced: try again for a second before giving up.
bool place_as_new(const char *temporary, const char *target)
{
    if (MoveFileExW(wide(temporary, 0), wide(target, 1), MOVEFILE_WRITE_THROUGH))
        return true;
    note_error();
    return false;
}

bool replace_with(const char *temporary, const char *target)
{
    for (int tries = 0; tries < 50; tries++) {
        if (MoveFileExW(wide(temporary, 0), wide(target, 1), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            break;
        Sleep(20);
    }
    note_error();
    return false;
}

void sync_folder(const char *)
{
    // MOVEFILE_WRITE_THROUGH has put the rename on disk already.
}

// A folder cannot be locked here: a mutex named after its identity stands for its lock.
bool lock_folder(const char *folder)
{
    file_facts facts;
    if (!facts_of(folder, &facts))
        return false;
    wchar_t name[96];
    _snwprintf(name, sizeof name / sizeof name[0], L"Local\\bramtools-%llx-%llx", facts.volume, facts.index);
    HANDLE lock = CreateMutexW(nullptr, FALSE, name);
    if (!lock)
        return false;
    DWORD waited = WaitForSingleObject(lock, INFINITE); // held until the process ends
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

bool make_folder(const char *path)
{
    if (CreateDirectoryW(wide(path), nullptr))
        return true;
    note_error();
    return false;
}

void hold_ending_signals(bool hold)
{
    InterlockedExchange(&ending_held, hold ? 1 : 0);
}

// The Windows programs read no pictures and start no threads.
static int kept_standard_error = -1;

void quiet_standard_error()
{
    fflush(stderr);
    int nothing = _open("NUL", _O_WRONLY);
    kept_standard_error = nothing >= 0 ? _dup(2) : -1;
    if (kept_standard_error >= 0)
        _dup2(nothing, 2);
    if (nothing >= 0)
        _close(nothing);
}

void give_back_standard_error()
{
    fflush(stderr);
    if (kept_standard_error >= 0) {
        _dup2(kept_standard_error, 2);
        _close(kept_standard_error);
        kept_standard_error = -1;
    }
}
