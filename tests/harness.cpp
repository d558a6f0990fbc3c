#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/ioctl.h>
#include <zlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

const std::string contact_banner =
    "---[ CONTACT ]----------------------------------------------------------------\n"
    "  bramtools: carry PC Engine backup memory files out by hand\n"
    "  Maintainers: see the README.md that comes with bramtools for how to reach us\n"
    "  About the backup memory (BRAM): see the notes in that same README.md\n"
    "  Greetings to everyone who keeps their old saves alive!\n";

const std::string header_prompt = "Enter the header of the dump (available on all page) :\n";

std::string line_prompt(int line)
{
    return (line < 10 ? "Line  " : "Line ") + std::to_string(line) + ": ";
}

std::string bram_file(const std::string &name, const std::string &data, unsigned id)
{
    std::string file = std::string(4, '\0') + static_cast<char>(id & 0xFF) + static_cast<char>(id >> 8 & 0xFF) +
                       (name + "          ").substr(0, 10) + data;
    unsigned sum = 0;
    for (size_t k = 4; k < file.size(); k++)
        sum += static_cast<unsigned char>(file[k]);
    unsigned checksum = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    std::string size_and_checksum = {static_cast<char>(file.size() & 0xFF), static_cast<char>(file.size() >> 8),
                                     static_cast<char>(checksum & 0xFF), static_cast<char>(checksum >> 8)};
    return size_and_checksum + file.substr(4);
}

const std::string worked_save = bram_file("SAVE", "\x01\x02\x03\x04");

std::string pairs_of(const std::string &bytes, size_t from, size_t count)
{
    std::string text;
    for (size_t k = from; k < from + count; k++) {
        char pair[4];
        snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[k]));
        text += (k > from ? " " : "") + std::string(pair);
    }
    return text;
}

dialogue operator+(dialogue first, const dialogue &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

scratch_dir::scratch_dir()
{
    char name[] = "/tmp/bramtools-test-XXXXXX";
    if (!mkdtemp(name))
        abort();
    path = name;
}

scratch_dir::~scratch_dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream stream(path, std::ios::binary);
    stream << bytes;
}

void write_files(const scratch_dir &dir, const std::map<std::string, std::string> &files)
{
    for (const auto &[name, bytes] : files) {
        std::filesystem::create_directories(std::filesystem::path(dir / name).parent_path());
        write_file(dir / name, bytes);
    }
}

bool file_exists(const std::string &path)
{
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

// dumpscan's glyph book, in a folder of the test's own: never the user's, never another test's.
static const scratch_dir book_home;

pid_t start_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                    const int streams[3], bool own_session)
{
    pid_t child = fork();
    if (child != 0)
        return child;
    if (own_session)
        setsid();
    for (int fd = 0; fd < 3; fd++)
        if (dup2(streams[fd], fd) < 0)
            _exit(126);
    if (own_session && ioctl(0, TIOCSCTTY, 0) != 0) // the terminal on standard input becomes its own
        _exit(126);
    if (chdir(cwd.c_str()) != 0)
        _exit(126);
    setenv("TERM", "xterm", 1);
    setenv("XDG_DATA_HOME", book_home.path.c_str(), 1);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    alarm(60);
    execv(program.c_str(), argv.data());
    _exit(127);
}

int wait_for_exit(pid_t child)
{
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &stdin_text, const std::string &cwd)
{
    scratch_dir io;
    write_file(io / "stdin", stdin_text);
    int streams[3] = {open((io / "stdin").c_str(), O_RDONLY),
                      open((io / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                      open((io / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)};
    int status = wait_for_exit(start_program(program, args, cwd, streams));
    for (int fd : streams)
        close(fd);
    return {read_file(io / "stdout"), read_file(io / "stderr"), status};
}

std::string random_bytes(size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string typed_dump(const std::string &bytes)
{
    static const char *const separators[] = {" ", "-", ":", "", "  ", "\t", ", "};
    static const char *const line_ends[] = {"\n", "\r\n", " \n"};
    char pair[8];
    std::string text;
    snprintf(pair, sizeof pair, "%04X", static_cast<unsigned>(bytes.size()));
    text += std::string("00 ") + pair + "\n";
    for (size_t k = 0; k < bytes.size(); k++) {
        if ((k / 8) % 2)
            snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(bytes[k]));
        else
            snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[k]));
        text += pair;
        bool line_ends_here = k % 8 == 7 || k + 1 == bytes.size();
        text += line_ends_here ? line_ends[(k / 8) % 3] : separators[(k + k / 8) % 7];
    }
    return text;
}

std::string utf16_bytes(const std::u16string &text, bool mark)
{
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::string array_text(const std::string &bytes)
{
    std::string text = "const char bram_data[] = {\n";
    for (size_t k = 0; k < bytes.size(); k++) {
        char element[8];
        snprintf(element, sizeof element, "0X%02X, ", static_cast<unsigned char>(bytes[k]));
        text += element;
        if (k % 8 == 7)
            text += "\n";
    }
    return text + "\n0X00, 0X00\n};\n";
}

std::string test_name(const char *row_name)
{
    std::string name = row_name;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

std::string with_programs(std::string command)
{
    const std::map<char, std::string> programs = {{'D', DUMPENTRY_PATH}, {'A', BRAMARRAY_PATH}, {'I', BRAMIMAGE_PATH},
                                                  {'S', DUMPSCAN_PATH},
                                                  // AddressSanitizer wants to be first; the library only wraps calls
                                                  {'L', "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" FAIL_CALL_LIBRARY}};
    for (size_t k = 0; k < command.size(); k++) {
        bool alone = (k == 0 || command[k - 1] == ' ') && (k + 1 == command.size() || command[k + 1] == ' ');
        if (alone && programs.count(command[k])) {
            const std::string &program = programs.at(command[k]);
            command.replace(k, 1, program);
            k += program.size();
        }
    }
    return command;
}

namespace {

// A program at a pseudo-terminal, and what it has shown so far.
struct terminal_session {
    int master = -1;
    pid_t child = -1;
    struct termios before; // the terminal's settings before the run
    std::string screen;
    size_t seen = 0; // how much of screen has been matched already
};

bool start_at_terminal(terminal_session &session, const run_case &row, const std::string &cwd)
{
    session.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (session.master < 0 || grantpt(session.master) != 0 || unlockpt(session.master) != 0)
        return false;
    int slave = open(ptsname(session.master), O_RDWR);
    tcgetattr(slave, &session.before);
    int log = row.log ? open((std::filesystem::path(cwd) / "log.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                      : slave;
    int streams[3] = {slave, slave, slave};
    streams[row.log] = log;
    session.child = start_program(row.program, row.args, cwd, streams, true);
    close(slave);
    if (row.log)
        close(log);
    return session.child > 0;
}

// Reads the screen until text appears after what was matched before; false after 10 s. The
// terminal shows a line end as CR LF.
bool wait_for(terminal_session &session, std::string text)
{
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
        text.insert(at, "\r");
    for (;;) {
        size_t found = session.screen.find(text, session.seen);
        if (found != std::string::npos) {
            session.seen = found + text.size();
            return true;
        }
        pollfd ready{session.master, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0)
            return false;
        char chunk[512];
        ssize_t count = read(session.master, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        session.screen.append(chunk, static_cast<size_t>(count));
    }
}

// Editing keys and Ctrl-D mean something only once the line editor has the terminal out of its
// line mode; typed before, the terminal itself would take them.
void wait_for_line_editor(const terminal_session &session)
{
    struct termios terminal;
    for (int tries = 0; tries < 200; tries++) {
        if (tcgetattr(session.master, &terminal) == 0 && !(terminal.c_lflag & ICANON))
            return;
        usleep(10000);
    }
}

// Follows the dialogue at the terminal: its status, and the terminal put back as it was.
int run_at_terminal(const run_case &row, const std::string &cwd)
{
    terminal_session session;
    EXPECT_TRUE(start_at_terminal(session, row, cwd));
    for (const auto &[shown, keys] : row.lines) {
        if (!wait_for(session, shown)) {
            ADD_FAILURE() << "no '" << shown << "' on:\n" << session.screen;
            break;
        }
        if (keys.find_first_of("\x1b\x7f\x04\x03") != std::string::npos)
            wait_for_line_editor(session);
        if (!keys.empty()) {
            EXPECT_EQ(write(session.master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        }
    }
    int status = wait_for_exit(session.child);
    struct termios terminal;
    EXPECT_EQ(tcgetattr(session.master, &terminal), 0);
    EXPECT_TRUE((terminal.c_lflag & ICANON) && (terminal.c_lflag & ECHO)) << "the terminal was left raw";
    EXPECT_TRUE(terminal.c_lflag == session.before.c_lflag && terminal.c_iflag == session.before.c_iflag &&
                terminal.c_oflag == session.before.c_oflag)
        << "the terminal's settings were not put back";
    EXPECT_EQ(session.screen.find("\n:"), std::string::npos) << "a stray line of a prompt:\n" << session.screen;
    EXPECT_EQ(status, row.status) << session.screen;
    close(session.master);
    return status;
}

bool needs_posix(const run_case &row)
{
    bool dev = false;
    for (const std::string &arg : row.args)
        dev = dev || arg.find("/dev/") != std::string::npos || (row.program == "sh" && arg.find("&-") != std::string::npos);
    return dev || !row.lines.empty() || !row.setup.empty();
}

// Every regular file and link under dir, by its name there.
std::vector<std::string> files_under(const scratch_dir &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path))
        if (!entry.is_directory() || entry.is_symlink())
            names.push_back(std::filesystem::relative(entry.path(), dir.path).string());
    return names;
}

// made_by_setup: what the setup command made, which may stay as it is.
void check_files_afterwards(const run_case &row, const scratch_dir &dir, bool over_earlier, int status,
                            const std::vector<std::string> &made_by_setup)
{
    std::map<std::string, std::optional<std::string>> expected;
    for (const auto &[name, bytes] : row.files)
        expected[name] = bytes;
    for (const auto &[name, bytes] : row.after)
        expected[name] = bytes;
    if (over_earlier) {
        bool written = row.after.count(row.earlier->name) && row.after.at(row.earlier->name) && (status == 0 || status == 5);
        if (!written)
            expected[row.earlier->name] = row.earlier->bytes;
        if (!under_wine) { // Windows has no permission bits
            EXPECT_EQ(std::filesystem::status(dir / row.earlier->name).permissions(),
                      std::filesystem::perms(row.earlier->mode));
        }
    }
    for (const auto &[name, bytes] : expected) {
        if (bytes) {
            EXPECT_EQ(read_file(dir / name), *bytes) << name;
        } else {
            EXPECT_FALSE(file_exists(dir / name)) << name;
        }
    }
    // A file the run made has the permission bits of any new file: 0666 less the umask.
    mode_t mask = umask(0);
    umask(mask);
    for (const auto &[name, bytes] : row.after) {
        bool made = bytes && !row.files.count(name) && name != "log.txt" && !(over_earlier && name == row.earlier->name) &&
                    std::find(made_by_setup.begin(), made_by_setup.end(), name) == made_by_setup.end();
        if (made && row.program != "sh" && !under_wine) {
            EXPECT_EQ(std::filesystem::status(dir / name).permissions(), std::filesystem::perms(0666 & ~mask)) << name;
        }
    }
    for (const std::string &name : files_under(dir)) {
        EXPECT_EQ(name.find(".unfinished-"), std::string::npos) << name << " left behind";
        bool known = expected.count(name) || name == "log.txt" ||
                     std::find(made_by_setup.begin(), made_by_setup.end(), name) != made_by_setup.end();
        EXPECT_TRUE(row.program == "sh" || known) << name << " left behind";
    }
}

void run_once(const run_case &row, bool over_earlier)
{
    scratch_dir dir;
    write_files(dir, row.files);
    if (over_earlier) {
        write_file(dir / row.earlier->name, row.earlier->bytes);
        std::filesystem::permissions(dir / row.earlier->name, std::filesystem::perms(row.earlier->mode));
    }
    if (!row.setup.empty()) {
        ASSERT_EQ(run_program("/bin/sh", {"-c", row.setup}, "", dir.path).status, 0);
    }
    std::vector<std::string> made_by_setup = files_under(dir);
    int status;
    if (!row.lines.empty()) {
        status = run_at_terminal(row, dir.path);
    } else {
        bool shell = row.program == "sh";
        run_result result = run_program(shell ? "/bin/bash" : row.program,
                                        shell ? std::vector<std::string>{"-c", with_programs(row.args[0])} : row.args,
                                        row.input, dir.path);
        if (row.out) {
            EXPECT_EQ(result.out, *row.out);
        }
        if (row.err) {
            EXPECT_EQ(result.err, *row.err);
        }
        EXPECT_EQ(result.status, row.status);
        status = result.status;
    }
    check_files_afterwards(row, dir, over_earlier, status, made_by_setup);
    // A transcript gives the same dump again when named as the input.
    if (status == 0 && row.after.count("save.bin.txt") && row.after.at("save.bin.txt") && !row.lines.empty()) {
        run_result again = run_program(DUMPENTRY_PATH, {"again.bin", "save.bin.txt"}, "", dir.path);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir / "again.bin"), read_file(dir / "save.bin"));
    }
}

} // namespace

void PrintTo(const run_case &row, std::ostream *os)
{
    *os << row.name;
}

void run_row(const run_case &row)
{
    SKIP_UNDER_WINE_IF(needs_posix(row) || row.program.empty()); // dumpscan has no Windows build: no path
    bool own_earlier = false;
    for (const auto &[name, bytes] : row.files)
        own_earlier = own_earlier || (row.earlier && name.rfind(row.earlier->name, 0) == 0);
    for (bool over_earlier : {false, true}) {
        if (over_earlier && (!row.earlier || own_earlier || !row.setup.empty()))
            continue;
        SCOPED_TRACE(over_earlier ? "over an earlier file" : "as the row has it");
        run_once(row, over_earlier);
    }
}

std::string gzipped(const std::string &bytes, int level)
{
    z_stream packed{};
    deflateInit2(&packed, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    gz_header header{};
    header.os = 3;
    if (level == Z_BEST_COMPRESSION)
        deflateSetHeader(&packed, &header);
    std::string out(deflateBound(&packed, bytes.size()) + 32, '\0');
    packed.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    packed.avail_in = static_cast<uInt>(bytes.size());
    packed.next_out = reinterpret_cast<Bytef *>(out.data());
    packed.avail_out = static_cast<uInt>(out.size());
    deflate(&packed, Z_FINISH);
    out.resize(packed.total_out);
    deflateEnd(&packed);
    return out;
}

const std::string bare_image = "HUBM" + std::string("\x00\x88\x10\x80", 4) + std::string(2040, '\0');
const std::string png_start = bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\1\0\0\0\0\xe0\x08\x02\0\0\0");
