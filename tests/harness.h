#ifndef BRAMTOOLS_TESTS_HARNESS_H
#define BRAMTOOLS_TESTS_HARNESS_H

#include <filesystem>
#include <map>
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

// Runs program in folder cwd with the given arguments and standard input, as a user would.
// A run that takes more than a minute is killed, so a hang fails the test instead of CI.
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

// True when the programs under test are Windows .exe files run by wine: the cases that need a
// POSIX terminal, /dev files or POSIX owners and signals are skipped there.
#ifdef UNDER_WINE
const bool under_wine = true;
#else
const bool under_wine = false;
#endif
// Under wine, a command line that names a /dev file.
bool needs_posix(const std::vector<std::string> &args);
#define SKIP_UNDER_WINE_IF(condition)                                                                             \
    if (under_wine && (condition))                                                                                \
    GTEST_SKIP() << "needs a POSIX terminal, /dev files or POSIX owners and signals"

extern const std::string contact_banner;

// The worked example of a backup memory file: 20 bytes named "SAVE", its checksum holding.
extern const std::string worked_save;

#endif
