#include <map>
#include <optional>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string bramimage = BRAMIMAGE_PATH;

// A well-formed backup memory file: its size field and checksum filled in.
std::string bram_file(const std::string &name, const std::string &data, char id = '\0')
{
    std::string file = std::string(4, '\0') + id + '\0' + (name + "          ").substr(0, 10) + data;
    unsigned sum = 0;
    for (size_t k = 4; k < file.size(); k++)
        sum += static_cast<unsigned char>(file[k]);
    unsigned checksum = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    std::string size_and_checksum = {static_cast<char>(file.size() & 0xFF), static_cast<char>(file.size() >> 8),
                                     static_cast<char>(checksum & 0xFF), static_cast<char>(checksum >> 8)};
    return size_and_checksum + file.substr(4);
}

// A 2 KiB image holding these files, then as many bytes as given past the memory.
std::string image_of(const std::vector<std::string> &files, const std::string &past_end = "")
{
    std::string body;
    for (const std::string &file : files)
        body += file;
    unsigned first_free = 0x8010 + static_cast<unsigned>(body.size());
    std::string image = std::string("HUBM\x00\x88", 6) + static_cast<char>(first_free & 0xFF) +
                        static_cast<char>(first_free >> 8) + std::string(8, '\0') + body;
    return image + std::string(2048 - image.size(), '\0') + past_end;
}

const std::string a = bram_file("ALPHA", "\x01\x02\x03");
const std::string b = bram_file("BETA", std::string(100, '\x7F'));
const std::string c = bram_file("ALPHA", "\x05", '\x01'); // same name, other ID
const std::string fresh = image_of({});
const std::string alpha_line = "  1  ALPHA       ID 00 00     19 bytes  checksum holds\n";
const std::string beta_line = "  2  BETA        ID 00 00    116 bytes  checksum holds\n";

std::string with_byte(std::string bytes, size_t at, char value)
{
    bytes[at] = value;
    return bytes;
}

struct bramimage_case {
    const char *name;
    std::vector<std::string> args;
    std::map<std::string, std::string> files; // made before the run; unchanged unless in after
    std::string out;
    std::string err;
    int status;
    std::map<std::string, std::optional<std::string>> after; // nullopt: must not exist
};

const bramimage_case cases[] = {
    {"add to a new image", {"add", "new.sav", "a.bin", "b.bin"}, {{"a.bin", a}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0, {{"new.sav", image_of({a, b})}}},
    {"add keeps the bytes past the memory", {"add", "x.sav", "b.bin"}, {{"x.sav", image_of({a}, "tail")}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0,
     {{"x.sav", image_of({a, b}, "tail")}}},
    {"list", {"list", "x.sav"}, {{"x.sav", image_of({a, b, with_byte(c, 16, 9)})}},
     alpha_line + beta_line + "  3  ALPHA       ID 01 00     17 bytes  checksum does not hold\n"
                              "3 files, 152 bytes used, 1878 bytes free\n", "", 0, {}},
    {"list a name outside printable ASCII", {"list", "x.sav"}, {{"x.sav", image_of({bram_file("\x82\\A\x7F", "")})}},
     "  1  \\x82\\x5CA\\x7F        ID 00 00     16 bytes  checksum holds\n1 file, 16 bytes used, 2014 bytes free\n",
     "", 0, {}},
    {"extract, names meeting and empty", {"extract", "x.sav"},
     {{"x.sav", image_of({a, c, bram_file("", "\x01"), bram_file("a/b*", "")})}},
     "ALPHA.bin\nALPHA-2.bin\nfile-3.bin\na_b_.bin\n", "", 0,
     {{"ALPHA.bin", a}, {"ALPHA-2.bin", c}, {"file-3.bin", bram_file("", "\x01")}, {"a_b_.bin", bram_file("a/b*", "")}}},
    {"extract into a folder", {"extract", "x.sav", "out"}, {{"x.sav", image_of({b})}, {"out/.keep", ""}},
     "out/BETA.bin\n", "", 0, {{"out/BETA.bin", b}}},
    {"extract refuses a file that exists", {"extract", "x.sav"}, {{"x.sav", image_of({a, b})}, {"BETA.bin", "mine"}},
     "", "'BETA.bin' exists already: nothing was extracted\n", 3, {{"ALPHA.bin", std::nullopt}}},
    {"extract into a missing folder", {"extract", "x.sav", "nofolder"}, {{"x.sav", image_of({a})}}, "",
     "Couldn't open folder 'nofolder'\n", 1, {}},
    {"remove moves the later files down", {"remove", "x.sav", "1", "3", "1"}, {{"x.sav", image_of({a, b, c})}},
     "  1  BETA        ID 00 00    116 bytes  checksum holds\n1 file, 116 bytes used, 1914 bytes free\n", "", 0,
     {{"x.sav", image_of({b})}}},
    {"remove a number that names no file", {"remove", "x.sav", "1", "3"}, {{"x.sav", image_of({a, b})}}, "",
     "No file number '3' in 'x.sav': it holds 2 files\n", 3, {}},
    {"remove a word", {"remove", "x.sav", "1x"}, {{"x.sav", image_of({a})}}, "",
     "No file number '1x' in 'x.sav': it holds 1 file\n", 3, {}},
    {"add a dump that is no file", {"add", "x.sav", "a.bin", "bad.bin"}, {{"x.sav", fresh}, {"a.bin", a},
     {"bad.bin", with_byte(a, 0, 20)}}, "",
     "'bad.bin' is not a well-formed backup memory file: it has a size field of 20 bytes but holds 19\n", 3, {}},
    {"add a name the image holds", {"add", "x.sav", "a.bin"}, {{"x.sav", image_of({b, a})}, {"a.bin", a}}, "",
     "'a.bin' has the same ID and name as file 2 of 'x.sav'\n", 3, {}},
    {"add a name twice", {"add", "x.sav", "a.bin", "b.bin", "a2.bin"}, {{"x.sav", fresh}, {"a.bin", a},
     {"b.bin", b}, {"a2.bin", a}}, "", "'a.bin' and 'a2.bin' have the same ID and name\n", 3, {}},
    {"add with too little room", {"add", "x.sav", "big.bin", "b.bin"}, {{"x.sav", image_of({a})},
     {"big.bin", bram_file("BIG", std::string(1900, 'x'))}, {"b.bin", b}}, "",
     "Too little room in 'x.sav': the files take 2032 bytes, 2011 are free: 21 bytes missing\n", 3, {}},
    {"add a missing dump", {"add", "new.sav", "a.bin", "nosuch.bin"}, {{"a.bin", a}}, "",
     "Couldn't open file 'nosuch.bin' for input\n", 1, {{"new.sav", std::nullopt}}},
    {"add into a missing folder", {"add", "nofolder/x.sav", "a.bin"}, {{"a.bin", a}}, "",
     "Couldn't write file 'nofolder/x.sav'\n", 1, {}},
    {"no HUBM", {"add", "x.sav", "a.bin"}, {{"x.sav", "HUB"}, {"a.bin", a}}, "",
     "'x.sav' is not a backup memory image: no \"HUBM\" at byte 0\n", 2, {}},
    {"shorter than its header says", {"list", "x.sav"}, {{"x.sav", fresh.substr(0, 2047)}}, "",
     "'x.sav' is not a backup memory image: it is 2047 bytes long, shorter than the 2048 bytes its header "
     "says at byte 4\n", 2, {}},
    {"first-free address outside the memory", {"remove", "x.sav", "1"}, {{"x.sav", with_byte(fresh, 7, '\x88')}},
     "", "'x.sav' is not a backup memory image: the first-free address 0x8810 at byte 6 is outside the memory\n", 2,
     {}},
    {"a file under 16 bytes", {"list", "x.sav"}, {{"x.sav", with_byte(image_of({a, b}), 16 + 19, 15)}}, "",
     "'x.sav' is not a backup memory image: the file at byte 35 has a size of 15, under 16\n", 2, {}},
    {"a file past the first free byte", {"list", "x.sav"}, {{"x.sav", with_byte(image_of({a, b}), 16, 20)}}, "",
     "'x.sav' is not a backup memory image: the file at byte 36 runs past the first free byte, 151\n", 2, {}},
    {"no end mark", {"extract", "x.sav"}, {{"x.sav", with_byte(image_of({a}), 36, 1)}}, "",
     "'x.sav' is not a backup memory image: no two zero bytes at the first free byte, 35\n", 2,
     {{"ALPHA.bin", std::nullopt}}},
    {"a directory as image", {"list", "."}, {}, "", "Couldn't open file '.' for input\n", 1, {}},
    {"version", {"--version"}, {}, "bramimage 1.0.0\n", "", 0, {}},
    {"unknown command", {"lsit", "x.sav"}, {}, "",
     "Cannot read the command line: '" + bramimage + " --help' shows how it goes\n", 3, {}},
};

void PrintTo(const bramimage_case &row, std::ostream *os)
{
    *os << row.name;
}

class bramimage_runs : public testing::TestWithParam<bramimage_case> {};

TEST_P(bramimage_runs, as_a_user_sees_it)
{
    const bramimage_case &row = GetParam();
    scratch_dir dir;
    write_files(dir, row.files);
    run_result result = run_program(bramimage, row.args, "", dir.path);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.status, row.status);
    for (const auto &[name, bytes] : row.files)
        if (!row.after.count(name)) {
            EXPECT_EQ(read_file(dir / name), bytes) << name;
        }
    for (const auto &[name, bytes] : row.after) {
        if (bytes) {
            EXPECT_EQ(read_file(dir / name), *bytes) << name;
        } else {
            EXPECT_FALSE(file_exists(dir / name)) << name;
        }
    }
    size_t entries = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path))
        entries += entry.is_regular_file();
    size_t made = 0;
    for (const auto &[name, bytes] : row.after)
        made += bytes && !row.files.count(name);
    EXPECT_EQ(entries, row.files.size() + made) << "a file left behind";
}

INSTANTIATE_TEST_SUITE_P(table, bramimage_runs, testing::ValuesIn(cases),
                         [](const auto &info) { return test_name(info.param.name); });

// An image, extracted and added file by file into a new image, comes back byte for byte; the
// image replaced keeps its permission bits and the link that leads to it.
TEST(bramimage, round_trip_keeps_the_image)
{
    scratch_dir dir;
    const std::string image = image_of({a, b, c, bram_file("", std::string(300, '\xA5'))});
    write_file(dir / "x.sav", image);
    ASSERT_EQ(run_program(bramimage, {"extract", "x.sav"}, "", dir.path).status, 0);
    write_file(dir / "old.sav", fresh);
    chmod((dir / "old.sav").c_str(), 0640);
    std::filesystem::create_symlink("old.sav", dir / "link.sav");
    run_result added = run_program(bramimage, {"add", "link.sav", "ALPHA.bin", "BETA.bin", "ALPHA-2.bin",
                                               "file-4.bin"}, "", dir.path);
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(read_file(dir / "old.sav"), image);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.sav"));
    struct stat st;
    ASSERT_EQ(stat((dir / "old.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

} // namespace
