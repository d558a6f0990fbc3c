#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "bramtools.h"
#include "system.h"

static void (*ending_hooks[4])();
static int ending_hook_count;

// The signals whose default is to end the process, with the real-time ones (added where they
// are used). Faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) are left to their default and to the
// sanitizers: they mean a bug, not a request to stop.
static const int ending_signals[] = {
    SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT,
    SIGTRAP, SIGSYS,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The real-time signals end a process too; their numbers are known only when it runs.
static void fill_ending_set(sigset_t *set)
{
    sigemptyset(set);
    for (int signal_number : ending_signals)
        sigaddset(set, signal_number);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++)
        sigaddset(set, signal_number);
}

void add_ending_hook(void (*hook)())
{
    if (ending_hook_count < static_cast<int>(sizeof ending_hooks / sizeof ending_hooks[0]))
        ending_hooks[ending_hook_count++] = hook;
}

static void end_on_signal(int signal_number)
{
    for (int k = 0; k < ending_hook_count; k++)
        ending_hooks[k]();
    signal(signal_number, SIG_DFL);
    raise(signal_number); // delivered when the handler returns: the process ends as that signal ends it
}

static void call_hooks_on(int signal_number)
{
    struct sigaction old;
    if (sigaction(signal_number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return; // run under nohup: the signal stays ignored
    struct sigaction action {};
    action.sa_handler = end_on_signal;
    fill_ending_set(&action.sa_mask); // one ending at a time
    sigaction(signal_number, &action, nullptr);
}

void start_system(int *, char ***)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int opened = open("/dev/null", O_RDWR);
        if (opened != fd)
            fail(1, "Couldn't open /dev/null for a closed standard stream\n"); // nothing sound to print on
    }
    signal(SIGPIPE, SIG_IGN);
    for (int signal_number : ending_signals)
        call_hooks_on(signal_number);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; signal_number++)
        call_hooks_on(signal_number);
}

FILE *open_file(const char *path, const char *mode)
{
    return fopen(path, mode);
}

FILE *open_new_file(const char *path)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
    FILE *stream = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !stream)
        close(fd);
    return stream;
}

void remove_file(const char *path)
{
    unlink(path);
}

static void note_facts(const struct stat &st, file_facts *facts)
{
    facts->regular = S_ISREG(st.st_mode);
    facts->directory = S_ISDIR(st.st_mode);
    facts->write_protected = (st.st_mode & 0222) == 0;
    facts->volume = st.st_dev;
    facts->volume_known = true;
    facts->index = st.st_ino;
    facts->links = st.st_nlink;
    facts->size = static_cast<unsigned long long>(st.st_size);
    facts->mode = st.st_mode & 07777;
    facts->owner = st.st_uid;
    facts->group = st.st_gid;
}

bool facts_of(const char *path, file_facts *facts)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return false;
    note_facts(st, facts);
    return true;
}

static bool facts_of_descriptor(int fd, file_facts *facts)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    note_facts(st, facts);
    return true;
}

bool facts_of_stream(FILE *stream, file_facts *facts)
{
    return facts_of_descriptor(fileno(stream), facts);
}

bool facts_of_standard_stream(int stream, file_facts *facts)
{
    return facts_of_descriptor(stream, facts);
}

bool may_write(const char *path)
{
    return access(path, W_OK) == 0;
}

bool standard_input_is_terminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool standard_output_is_terminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

// A paste goes on arriving for a moment: keys are dropped until none has come for 50 ms (for
// two seconds at the most).
void drop_keys_typed_ahead()
{
    for (int round = 0; round < 40; round++) {
        tcflush(STDIN_FILENO, TCIFLUSH);
        pollfd ready{STDIN_FILENO, POLLIN, 0};
        if (poll(&ready, 1, 50) <= 0)
            return;
    }
}

void write_at_once(int stream, const char *text, size_t length)
{
    while (length > 0) {
        ssize_t written = write(stream, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

bool names_ignore_case()
{
    return false;
}

bool is_folder_separator(char c)
{
    return c == '/';
}

bool reserved_file_name(const char *)
{
    return false;
}

bool link_target(const char *path, char *target, size_t size)
{
    struct stat link;
    if (lstat(path, &link) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false; // what could not be looked at must not be taken for a plain file
    } else if (S_ISLNK(link.st_mode)) {
        errno = ENAMETOOLONG;
        return size >= PATH_MAX && realpath(path, target) != nullptr;
    }
    errno = ENAMETOOLONG;
    return snprintf(target, size, "%s", path) < static_cast<int>(size);
}

FILE *create_temporary(char *name_template)
{
    int fd = mkstemp(name_template);
    FILE *stream = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (fd >= 0 && !stream) {
        close(fd);
        unlink(name_template);
    }
    return stream;
}

bool keep_metadata(FILE *stream, const file_facts *old, bool *group_kept)
{
    int fd = fileno(stream);
    *group_kept = true;
    if (!old) {
        mode_t mask = umask(0);
        umask(mask);
        return fchmod(fd, 0666 & ~mask) == 0;
    }
    // Only a privileged process may give a file away; a member of the file's group keeps it.
    auto group = static_cast<gid_t>(old->group);
    if (fchown(fd, static_cast<uid_t>(old->owner), group) != 0) {
        if (errno != EPERM)
            return false;
        if (fchown(fd, static_cast<uid_t>(-1), group) != 0) {
            if (errno != EPERM)
                return false;
            *group_kept = false;
        }
    }
    return fchmod(fd, static_cast<mode_t>(old->mode)) == 0;
}

bool truncate_stream(FILE *stream, unsigned long long size)
{
    return fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

bool sync_to_disk(FILE *stream)
{
    return fsync(fileno(stream)) == 0;
}

bool replace_with(const char *temporary, const char *target)
{
    return rename(temporary, target) == 0;
}

bool place_as_new(const char *temporary, const char *target)
{
    if (link(temporary, target) != 0)
        return false;
    unlink(temporary);
    return true;
}

void sync_folder(const char *folder)
{
    int fd = open(folder, O_RDONLY);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool lock_folder(const char *folder)
{
    int fd = open(folder, O_RDONLY);
    return fd >= 0 && flock(fd, LOCK_EX) == 0; // the descriptor stays open: the lock lasts the run
}

bool make_folder(const char *path)
{
    return mkdir(path, 0777) == 0;
}

void hold_ending_signals(bool hold)
{
    sigset_t set;
    fill_ending_set(&set);
    pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

static std::mutex quieting;
static int kept_standard_error = -1;

void quiet_standard_error()
{
    quieting.lock();
    fflush(stderr);
    int nothing = open("/dev/null", O_WRONLY | O_CLOEXEC);
    kept_standard_error = nothing >= 0 ? dup(STDERR_FILENO) : -1;
    if (kept_standard_error >= 0)
        dup2(nothing, STDERR_FILENO);
    if (nothing >= 0)
        close(nothing);
}

void give_back_standard_error()
{
    fflush(stderr);
    if (kept_standard_error >= 0) {
        dup2(kept_standard_error, STDERR_FILENO);
        close(kept_standard_error);
        kept_standard_error = -1;
    }
    quieting.unlock();
}
