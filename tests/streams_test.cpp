// The programs run with their standard streams closed, redirected onto the user's files,
// into a broken pipe, or onto a full disk: no file is lost, no dump is cut short.
#include <map>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string typed = "00 0001\nAA\n";
const std::string kept = "a dump of the user's\x01\x02";
const std::string write_failed = "Couldn't write to standard output\n";

struct stream_case {
    const char *name;
    std::string command; // for bash; D, A and I stand for dumpentry, bramarray and bramimage
    std::string err;     // what the command's standard error shows
    int status;
    std::map<std::string, std::string> after; // files and their bytes afterwards
};

const stream_case cases[] = {
    {"standard input is the output", "D kept.bin < kept.bin", "Output file 'kept.bin' is also the input file\n", 1,
     {{"kept.bin", kept}}},
    {"output is standard output", "D /dev/stdout in.txt >> kept.bin",
     "Output file '/dev/stdout' is also standard output\n", 1, {{"kept.bin", kept}}},
    {"output is standard error", "D kept.bin in.txt 2>> kept.bin", "", 1,
     {{"kept.bin", kept + "Output file 'kept.bin' is also standard error\n"}}},
    {"filedata.dat is standard output", "cp kept.bin filedata.dat && A kept.bin >> filedata.dat",
     "Output file 'filedata.dat' is also standard output\n", 1, {{"filedata.dat", kept}}},
    {"standard output closed", "D o.bin in.txt >&- 2>/dev/null", "", 0, {{"o.bin", "\xAA"}}},
    {"standard error closed", "D o.bin in.txt 2>&-", "", 0, {{"o.bin", "\xAA"}}},
    {"standard input closed", "D o.bin in.txt <&- 2>/dev/null", "", 0, {{"o.bin", "\xAA"}}},
    {"bramarray with standard output closed", "A kept.bin >&- 2>&-", "", 0,
     {{"filedata.dat", array_text(kept)}}},
    {"broken pipe", "D big.bin big.txt 2>/dev/null | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", "", 0, {}},
    {"bramarray into a broken pipe", "A kept.bin kept.bin kept.bin 2>/dev/null | true; exit ${PIPESTATUS[0]}", "", 0,
     {{"filedata.dat", array_text(kept + kept + kept)}}},
    {"help onto a full disk", "D --help > /dev/full", write_failed, 1, {}},
    {"version onto a full disk", "D --version > /dev/full", write_failed, 1, {}},
    {"usage onto a full disk", "D > /dev/full", write_failed, 1, {}},
    {"bramarray help onto a full disk", "A -h > /dev/full", write_failed, 2, {}},
    {"bramimage version onto a full disk", "I --version > /dev/full", write_failed, 1, {}},
};

void PrintTo(const stream_case &row, std::ostream *os)
{
    *os << row.name;
}

std::string with_programs(std::string command)
{
    const std::map<char, std::string> programs = {{'D', DUMPENTRY_PATH}, {'A', BRAMARRAY_PATH}, {'I', BRAMIMAGE_PATH}};
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

class stream_runs : public testing::TestWithParam<stream_case> {};

TEST_P(stream_runs, lose_nothing)
{
    const stream_case &row = GetParam();
    scratch_dir dir;
    write_file(dir / "in.txt", typed);
    write_file(dir / "kept.bin", kept);
    std::string big = random_bytes(65535, 3);
    write_file(dir / "big.txt", typed_dump(big));
    run_result result = run_program("/bin/bash", {"-c", with_programs(row.command)}, "", dir.path);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(read_file(dir / "in.txt"), typed);
    for (const auto &[name, bytes] : row.after)
        EXPECT_EQ(read_file(dir / name), bytes) << name;
    if (row.command.find("big.bin") != std::string::npos) {
        EXPECT_EQ(read_file(dir / "big.bin"), big);
    }
}

INSTANTIATE_TEST_SUITE_P(table, stream_runs, testing::ValuesIn(cases),
                         [](const auto &info) { return test_name(info.param.name); });

} // namespace
