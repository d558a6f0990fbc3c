#ifndef BRAMTOOLS_TESTS_HARNESS_H
#define BRAMTOOLS_TESTS_HARNESS_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct run_result {
    std::string out;
    std::string err;
    int status; // exit status, or 128 + signal number
};

// A fresh folder for one test, removed with everything in it at the end.
struct scratch_dir {
    std::filesystem::path path;
    scratch_dir();
    ~scratch_dir();
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

// Starts program in folder cwd with the given arguments, its standard streams on the three
// descriptors given, in a session of its own when asked (to own a terminal). A run that takes
// more than a minute is killed, so a hang fails the test instead of CI.
pid_t start_program(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
                    const int streams[3], bool own_session = false);
// Waits for it: its exit status, or 128 + the number of the signal that ended it.
int wait_for_exit(pid_t child);

// Runs program in folder cwd with the given arguments and standard input, as a user would.
run_result run_program(const std::string &program, const std::vector<std::string> &args,
                       const std::string &stdin_text, const std::string &cwd);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes);
bool file_exists(const std::string &path);
// Makes each file, and the folders its name leads through, in dir.
void write_files(const scratch_dir &dir, const std::map<std::string, std::string> &files);

// Random bytes from a fixed seed, so that a failure can be replayed.
std::string random_bytes(size_t count, unsigned seed);

// The bytes written out as a person types a plain dump: the header, pages of 8-byte lines
// and the last line, with separators and letter case that vary from line to line.
std::string typed_dump(const std::string &bytes);

// A text as UTF-16 little-endian bytes, with its byte order mark or without.
std::string utf16_bytes(const std::u16string &text, bool mark = true);

// filedata.dat as it must be for these bytes, written out plainly as a reference.
std::string array_text(const std::string &bytes);

// Bytes from a literal that may hold NULs.
template <size_t n> std::string bytes(const char (&literal)[n])
{
    return std::string(literal, n - 1);
}

// A well-formed backup memory file: its size field and checksum filled in, the name padded
// with spaces to 10 bytes.
std::string bram_file(const std::string &name, const std::string &data, unsigned id = 0);
// The worked example of one: 20 bytes named "SAVE", its data 01 02 03 04.
extern const std::string worked_save;
// The bytes from..from+count as the screen shows them: upper-case pairs, one space apart.
std::string pairs_of(const std::string &bytes, size_t from, size_t count);

// gzip's bytes for these, at a level of compression (zlib's); at the best, with a header that
// names Unix, as gzip -9 of a stream writes them.
std::string gzipped(const std::string &bytes, int level = -1);
// An image of an empty 2 KiB memory, and the start of a PNG: files that are no dump file.
extern const std::string bare_image, png_start;

extern const std::string contact_banner;
extern const std::string header_prompt; // dumpentry's, with its line end
std::string line_prompt(int line); // "Line  3: ", "Line 12: "

// What a terminal shows, and the keys typed once it is on screen, sent at once ("": none).
using dialogue = std::vector<std::pair<std::string, std::string>>;
dialogue operator+(dialogue first, const dialogue &second);

// The same name, given for files made before a run, that a run writes, and what else it may
// be run over: a file of that name made earlier, with its permission bits.
struct earlier_file {
    const char *name;
    std::string bytes;
    unsigned mode;
};

// One case of any table. The program runs in a fresh folder holding the files; its standard
// output and error, status, and every file afterwards are checked: a file made before stays
// as it was unless after names it, a file after names is there with those bytes (nullopt:
// not there), and nothing else is left (no file at all beyond these, when the program is not
// the shell). With lines, the program runs at a terminal and the dialogue is followed. With
// earlier, the run is made a second time over that file, which a run that writes (status 0 or
// 5) replaces as after says, and any other run leaves byte for byte, its mode kept.
struct run_case {
    const char *name;
    std::string program; // a program's path, or "sh": args[0] is a bash command (see with_programs)
    std::vector<std::string> args;
    std::map<std::string, std::string> files;
    std::string input; // standard input
    std::optional<std::string> out, err; // nullopt: not looked at
    int status;
    std::map<std::string, std::optional<std::string>> after;
    dialogue lines = {};
    std::string setup = ""; // a shell command run in the folder once the files are made
    int log = 0;            // at the terminal, this stream (1 or 2) goes to log.txt
    std::optional<earlier_file> earlier = std::nullopt;
};
void run_row(const run_case &row);

// A bash command with D, A, I standing alone for the programs and L for the preload library
// that fails one named call.
std::string with_programs(std::string command);

// A table row's name as a test name: letters and digits, the rest turned to '_'.
std::string test_name(const char *row_name);

// Names a table's test after its row: letters and digits, the rest turned to '_'.
struct row_namer {
    template <class row> std::string operator()(const testing::TestParamInfo<row> &row_info) const
    {
        return test_name(row_info.param.name);
    }
};

// The block every table test starts with: rows of row_type, printed by their name in a
// failure, the suite instantiated over all rows, then the body of the test, which reads its
// row with GetParam().
#define TABLE_TEST(suite, test, row_type, rows)                                                                     \
    [[maybe_unused]] void PrintTo(const row_type &row, std::ostream *os)                                          \
    {                                                                                                              \
        *os << row.name;                                                                                           \
    }                                                                                                              \
    class suite : public testing::TestWithParam<row_type> {};                                                      \
    INSTANTIATE_TEST_SUITE_P(table, suite, testing::ValuesIn(rows), row_namer());                                  \
    TEST_P(suite, test)

// A table of run_case rows, each run by run_row.
void PrintTo(const run_case &row, std::ostream *os);
#define RUN_TABLE(suite, rows)                                                                                     \
    class suite : public testing::TestWithParam<run_case> {};                                                      \
    INSTANTIATE_TEST_SUITE_P(table, suite, testing::ValuesIn(rows), row_namer());                                  \
    TEST_P(suite, as_a_user_sees_it)                                                                               \
    {                                                                                                              \
        run_row(GetParam());                                                                                       \
    }

// True when the programs under test are Windows .exe files run by wine: the cases that need a
// POSIX terminal, /dev files or POSIX owners and signals are skipped there.
#ifdef UNDER_WINE
const bool under_wine = true;
#else
const bool under_wine = false;
#endif
#define SKIP_UNDER_WINE_IF(condition)                                                                             \
    if (under_wine && (condition))                                                                                \
    GTEST_SKIP() << "needs a POSIX terminal, /dev files or POSIX owners and signals"

#endif
