// Hundreds of bad inputs at the real programs: every run ends, with a documented status and
// its one documented message, and leaves the files the user had as they were.
#include <algorithm>
#include <random>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

std::string garbage_text(std::mt19937 &random, int kind)
{
    std::string dump = typed_dump(random_bytes(random() % 300, static_cast<unsigned>(random())));
    switch (kind) {
    case 0: // random bytes
        return random_bytes(random() % 3000, static_cast<unsigned>(random()));
    case 1: // NUL bytes in a dump
        for (int k = 0; k < 5 && !dump.empty(); k++)
            dump[random() % dump.size()] = '\0';
        return dump;
    case 2: // a line of thousands of characters
        return "00 0100\n" + std::string(1000 + random() % 5000, "0a:"[random() % 3]) + "\n";
    case 3: // no line ends at all
        for (char &c : dump)
            if (c == '\n')
                c = ' ';
        return dump;
    case 4: // a header announcing the largest dump, then little or nothing
        return "00 FF FF\n" + dump.substr(0, random() % (dump.size() + 1));
    case 5: // carriage returns only
        for (char &c : dump)
            if (c == '\n')
                c = '\r';
        return dump;
    default: // a dump with characters dropped and inserted
        for (int k = 0; k < 4 && !dump.empty(); k++) {
            size_t place = random() % dump.size();
            dump.erase(place, 1);
            dump.insert(place, 1, static_cast<char>(random() % 256));
        }
        return dump;
    }
}

// What a program may say on standard error: lines of report and warning, then, when it fails,
// the one message of its status.
struct messages {
    std::regex report;               // a line that may come before the end
    std::vector<std::regex> failure; // the last line of a failure, by status
};

const messages dumpentry_says = {
    std::regex("(Encoding|Full pages|Remaining full lines|Remaining bytes): [0-9]+|Size of data: [0-9]+ bytes|"
               "Warning: (header|page [0-9]+, line [0-9]+|last page, line [0-9]+|last line): "
               "([0-9]+ hex digits found, [0-9]+ expected|'[A-Za-z0-9]' is not a hex digit|[0-9]+ digits? not read)"
               "( \\(in\\.txt, line [0-9]+\\))?|"
               "Warning: [0-9]+ lines? looked mistyped: .*|"
               "Warning: (page [0-9]+|last page): its header [0-9A-F ]+ is not the first page's, [0-9A-F ]+, which holds"
               "( \\(in\\.txt, line [0-9]+\\))?|"
               "Warning: the (checksum|size field) .*|"
               "Warning: the input goes on after the end of the dump"),
    {std::regex(""), std::regex("Couldn't (open file '.*' for output: .*|write file '.*')|Output file '.*' is also the input file"),
     std::regex("Unknown encoding \\(-?[0-9]+\\)|No encoding in the header|"
                "The header holds digits not read \\('\\?'\\): type it as the screen shows it"), std::regex("Couldn't open file '.*' for input: .*"),
     std::regex("Unexpected end of input|Couldn't read input")},
};

const messages bramarray_says = {
    std::regex("Warning: ('.*' (is shorter than 16 bytes|has a .*)|'.*' and '.*' have the same ID and name; .*|"
               "the files take [0-9]+ bytes, more than .*)"),
    {std::regex(""), std::regex("Couldn't (open file '.*' for input: .*|read file '.*')|Input file '.*' is also the output file 'filedata.dat'"),
     std::regex("Couldn't (open file 'filedata.dat' for output: .*|write file 'filedata.dat')"),
     std::regex("'.*' is a typed text: run 'dumpentry' first")},
};

// Every line a report but the last of a failure, which is a message of its status; a run that
// wrote its file (one of the statuses written) ends with no failure.
void check_messages(const run_result &result, const messages &said, std::initializer_list<int> written_statuses)
{
    bool written = std::find(written_statuses.begin(), written_statuses.end(), result.status) != written_statuses.end();
    ASSERT_TRUE(written || (result.status > 0 && static_cast<size_t>(result.status) < said.failure.size()))
        << result.status << ": " << result.err;
    std::istringstream lines(result.err);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    size_t reports = all.size() - (written || all.empty() ? 0 : 1);
    for (size_t k = 0; k < reports; k++)
        EXPECT_TRUE(std::regex_match(all[k], said.report)) << all[k];
    if (!written) {
        ASSERT_FALSE(all.empty()) << "status " << result.status << ", standard output: " << result.out;
        EXPECT_TRUE(std::regex_match(all.back(), said.failure[static_cast<size_t>(result.status)])) << all.back();
    }
}

void check_dumpentry_stderr(const run_result &result, const std::string &dump)
{
    check_messages(result, dumpentry_says, {0, 5}); // 5: written, but the save's check fails
    // The size field may be warned about at line 0 already, whatever the end finds.
    bool check_warned = result.err.find("Warning: the checksum") != std::string::npos;
    EXPECT_TRUE(!check_warned || result.status == 5) << result.err;
    EXPECT_TRUE(result.status != 5 || check_warned || result.err.find("Warning: the size field") != std::string::npos)
        << result.err;
    if (result.status == 0 || result.status == 5) {
        std::smatch size;
        ASSERT_TRUE(std::regex_search(result.err, size, std::regex("Size of data: ([0-9]+) bytes")));
        EXPECT_EQ(dump.size(), std::stoul(size[1]));
    }
}

TEST(garbage, dumpentry_always_ends_as_documented)
{
    std::mt19937 random(2026);
    scratch_dir dir;
    write_file(dir / "keep.txt", "a file of the user's\n");
    for (int run = 0; run < 240; run++) {
        std::string text = garbage_text(random, run % 7);
        write_file(dir / "in.txt", text);
        std::vector<std::string> args{"out.bin"};
        if (under_wine && run % 11 == 0)
            continue; // /dev/full
        switch (run % 11) {
        case 0: args = {"/dev/full", "in.txt"}; break;
        case 1: args.push_back("missing.txt"); break;
        case 2: args.push_back("."); break;
        case 3: args = {"keep.txt", "./keep.txt"}; break;
        case 4: case 5: case 6: break; // typed on standard input
        default: args.push_back("in.txt");
        }
        run_result result = run_program(DUMPENTRY_PATH, args, args.size() == 1 ? text : "", dir.path);
        SCOPED_TRACE("run " + std::to_string(run));
        check_dumpentry_stderr(result, read_file(dir / "out.bin"));
        EXPECT_EQ(read_file(dir / "in.txt"), text);
        EXPECT_EQ(read_file(dir / "keep.txt"), "a file of the user's\n");
        bool written = result.status == 0 || result.status == 5;
        EXPECT_EQ(file_exists(dir / "out.bin"), written && args[0] == "out.bin");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2 + file_exists(dir / "out.bin"));
        std::filesystem::remove(dir / "out.bin");
    }
}

TEST(garbage, bramarray_always_ends_as_documented)
{
    std::mt19937 random(1987);
    for (int run = 0; run < 120; run++) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (under_wine && run % 5 == 0)
            continue; // filedata.dat linked to /dev/full
        scratch_dir dir;
        std::filesystem::create_directory(dir / "folder");
        std::string earlier = "an earlier filedata.dat\n";
        bool had_earlier = run % 5 != 0 && run % 2;
        if (run % 5 == 0)
            std::filesystem::create_symlink("/dev/full", dir / "filedata.dat");
        else if (had_earlier)
            write_file(dir / "filedata.dat", earlier);
        std::vector<std::string> args;
        std::map<std::string, std::string> inputs;
        std::string all;
        for (size_t count = 1 + random() % 4, k = 0; k < count; k++) {
            std::string name = "in" + std::to_string(k) + ".bin";
            switch (random() % 8) {
            case 0: name = "missing.bin"; break;
            case 1: name = "folder"; break;
            case 2: name = "./filedata.dat"; break;
            default:
                inputs[name] = random_bytes(random() % 2000, static_cast<unsigned>(random()));
                write_file(dir / name, inputs[name]);
                all += inputs[name];
            }
            args.push_back(name);
        }
        run_result result = run_program(BRAMARRAY_PATH, args, "", dir.path);
        check_messages(result, bramarray_says, {0});
        for (const auto &[name, bytes] : inputs)
            EXPECT_EQ(read_file(dir / name), bytes);
        if (result.status == 0) {
            EXPECT_EQ(read_file(dir / "filedata.dat"), array_text(all));
        }
        bool refused = result.err.find("is also the output file") != std::string::npos;
        if (refused && had_earlier) {
            EXPECT_EQ(read_file(dir / "filedata.dat"), earlier);
        }
    }
}

} // namespace
