#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string bramarray = BRAMARRAY_PATH;
const std::string dumpentry = DUMPENTRY_PATH;
const std::string head = "const char bram_data[] = {\n";
const std::string tail = "\n0X00, 0X00\n};\n";
const std::string usage =
    "---[ USAGE ]------------------------------------------------------------------\n"
    "  " + std::string(BRAMARRAY_NAME) + " [-compile] <input filename 1> [<input filename ...>]\n"
    "  Produces a file 'filedata.dat' suitable to produce a file restoration cd\n"
    "  Each file passed as argument must have been produced by 'dumpentry'\n"
    "  -compile is accepted as first arg and changes nothing: the restoration\n"
    "  cd is built from 'filedata.dat' elsewhere\n";
const std::string old_array = "the array of an earlier run\n";

struct bramarray_case {
    const char *name;
    std::vector<std::string> args;
    std::map<std::string, std::string> files; // made in the folder before the run
    std::string out;
    std::string err;
    int status;
    std::optional<std::string> array; // filedata.dat afterwards; nullopt: it must not exist
};

const std::string eight = "\x01\x23\x45\x67\x89\xAB\xCD\xEF";
const std::string eight_elements = "0X01, 0X23, 0X45, 0X67, 0X89, 0XAB, 0XCD, 0XEF, \n";

std::string too_short(const std::string &name)
{
    return "Warning: '" + name + "' is shorter than 16 bytes\n";
}

// worked_save with another ID, and its checksum mended to match.
const std::string other_save = worked_save.substr(0, 2) + std::string("\x06\xFE\x01\x00", 4) + worked_save.substr(6);

// A file of zeros but its size field, ID and checksum, which holds.
std::string file_of(size_t size, unsigned char id)
{
    std::string file(size, '\0');
    file[0] = static_cast<char>(size & 0xFF);
    file[1] = static_cast<char>(size >> 8);
    file[2] = static_cast<char>(-id & 0xFF);
    file[3] = static_cast<char>(id ? 0xFF : 0);
    file[4] = static_cast<char>(id);
    return file;
}

const bramarray_case cases[] = {
    {"no arguments", {}, {}, usage + contact_banner, "", 0, std::nullopt},
    {"compile alone", {"-compile"}, {}, usage + contact_banner, "", 0, std::nullopt},
    {"help", {"--help"}, {}, usage + contact_banner, "", 0, std::nullopt},
    {"short help", {"-h"}, {}, usage + contact_banner, "", 0, std::nullopt},
    {"version", {"--version"}, {}, "bramarray 1.0.0\n", "", 0, std::nullopt},
    {"eight bytes", {"a.bin"}, {{"a.bin", eight}}, "Processing a.bin ...\n" + contact_banner, too_short("a.bin"), 0,
     head + eight_elements + tail},
    {"empty inputs", {"a.bin", "b.bin"}, {{"a.bin", ""}, {"b.bin", ""}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, too_short("a.bin") + too_short("b.bin"), 0,
     head + tail},
    {"lines run on across inputs", {"-compile", "a.bin", "b.bin"},
     {{"a.bin", "\x01\x02\x03"}, {"b.bin", "\xAB\xCD\xEF\x7F\x80\xFF"}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, too_short("a.bin") + too_short("b.bin"), 0,
     head + "0X01, 0X02, 0X03, 0XAB, 0XCD, 0XEF, 0X7F, 0X80, \n0XFF, " + tail},
    {"a name that only begins with -compile", {"-compiled", "a.bin"},
     {{"-compiled", "\x10"}, {"a.bin", "\x20"}},
     "Processing -compiled ...\nProcessing a.bin ...\n" + contact_banner, too_short("-compiled") + too_short("a.bin"), 0,
     head + "0X10, 0X20, " + tail},
    {"bytes 0x1A and 0x0A are data", {"a.bin"}, {{"a.bin", std::string("\x1A\x0A\x0D\x1A\x00\x0A", 6)}},
     "Processing a.bin ...\n" + contact_banner, too_short("a.bin"), 0,
     head + "0X1A, 0X0A, 0X0D, 0X1A, 0X00, 0X0A, " + tail},
    {"well-formed saves are silent", {"a.bin", "b.bin"}, {{"a.bin", worked_save}, {"b.bin", other_save}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, "", 0,
     array_text(worked_save + other_save)},
    {"save with a wrong size field and checksum", {"a.bin"}, {{"a.bin", "\x15" + worked_save.substr(1, 18) + "\x05"}},
     "Processing a.bin ...\n" + contact_banner,
     "Warning: 'a.bin' has a size field of 21 bytes but holds 20 and has a checksum that does not hold "
     "(stored 0xFE07, computed 0xFE06)\n", 0,
     array_text("\x15" + worked_save.substr(1, 18) + "\x05")},
    {"two saves of the same name", {"a.bin", "b.bin", "c.bin"},
     {{"a.bin", worked_save}, {"b.bin", other_save}, {"c.bin", worked_save}},
     "Processing a.bin ...\nProcessing b.bin ...\nProcessing c.bin ...\n" + contact_banner,
     "Warning: 'a.bin' and 'c.bin' have the same ID and name; the console keeps only one\n", 0,
     array_text(worked_save + other_save + worked_save)},
    {"a file named three times is said once", {"a.bin", "./a.bin", "a.bin"}, {{"a.bin", worked_save}},
     "Processing a.bin ...\nProcessing ./a.bin ...\nProcessing a.bin ...\n" + contact_banner,
     "Warning: './a.bin' is named twice: the console keeps one copy\n", 0,
     array_text(worked_save + worked_save + worked_save)},
    {"saves that do not fit in 2 KiB", {"a.bin", "b.bin"}, {{"a.bin", file_of(2030, 0)}, {"b.bin", file_of(16, 1)}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner,
     "Warning: the files take 2046 bytes, more than the 2030 bytes of room of a 2 KiB backup memory\n", 0,
     array_text(file_of(2030, 0) + file_of(16, 1))},
    {"second of three missing", {"a.bin", "missing.bin", "c.bin"}, {{"a.bin", eight}, {"c.bin", "\x01"}},
     "Processing a.bin ...\n", too_short("a.bin") + "Couldn't open file 'missing.bin' for input\n", 1, std::nullopt},
    {"directory as input", {"a.bin", "folder"}, {{"a.bin", "\x01"}, {"folder/x", ""}},
     "Processing a.bin ...\n", too_short("a.bin") + "Couldn't open file 'folder' for input\n", 1, std::nullopt},
    {"filedata.dat as input", {"a.bin", "filedata.dat"}, {{"a.bin", "\x01"}, {"filedata.dat", old_array}},
     "", "Input file 'filedata.dat' is also the output file 'filedata.dat'\n", 1, old_array},
    {"filedata.dat by another path", {"-compile", "./filedata.dat"}, {{"filedata.dat", old_array}},
     "", "Input file './filedata.dat' is also the output file 'filedata.dat'\n", 1, old_array},
    {"filedata.dat as input before it exists", {"a.bin", "./filedata.dat"}, {{"a.bin", "\x01"}},
     "", "Input file './filedata.dat' is also the output file 'filedata.dat'\n", 1, std::nullopt},
    {"filedata.dat cannot be created", {"a.bin"}, {{"a.bin", "\x01"}, {"filedata.dat/x", ""}}, "",
     "Couldn't open file 'filedata.dat' for output\n", 2, ""},
};

// A row that makes no filedata.dat of its own runs a second time over an earlier one (mode
// 0604), which a completed run replaces and any other run leaves byte for byte.
TABLE_TEST(bramarray_runs, as_a_user_sees_it, bramarray_case, cases)
{
    const bramarray_case &row = GetParam();
    bool own_filedata = row.files.count("filedata.dat") || row.files.count("filedata.dat/x");
    for (bool earlier : {false, true}) {
        if (earlier && own_filedata)
            continue;
        SCOPED_TRACE(earlier ? "over an earlier filedata.dat" : "as the row has it");
        scratch_dir dir;
        write_files(dir, row.files);
        if (earlier) {
            write_file(dir / "filedata.dat", old_array);
            std::filesystem::permissions(dir / "filedata.dat", std::filesystem::perms(0604));
        }
        run_result result = run_program(bramarray, row.args, "", dir.path);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, row.err);
        EXPECT_EQ(result.status, row.status);
        if (earlier) {
            EXPECT_EQ(read_file(dir / "filedata.dat"), row.array && row.status == 0 ? *row.array : old_array);
            if (!under_wine) { // Windows has no permission bits
                EXPECT_EQ(std::filesystem::status(dir / "filedata.dat").permissions(), std::filesystem::perms(0604));
            }
        } else if (!row.array) {
            EXPECT_FALSE(file_exists(dir / "filedata.dat"));
        } else if (row.files.count("filedata.dat/x")) {
            EXPECT_TRUE(std::filesystem::is_directory(dir / "filedata.dat"));
        } else {
            EXPECT_EQ(read_file(dir / "filedata.dat"), *row.array);
        }
        size_t entries = static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path), {}));
        EXPECT_EQ(entries, row.files.size() + (file_exists(dir / "filedata.dat") && !own_filedata)) << "a file left behind";
    }
}


TEST(bramarray, refuses_a_link_to_filedata_dat)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_file(dir / "filedata.dat", old_array);
    std::filesystem::create_symlink("filedata.dat", dir / "link.bin");
    run_result result = run_program(bramarray, {"link.bin"}, "", dir.path);
    EXPECT_EQ(result.err, "Input file 'link.bin' is also the output file 'filedata.dat'\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file(dir / "filedata.dat"), old_array);
}

TEST(bramarray, reports_a_full_disk)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_file(dir / "a.bin", random_bytes(100000, 2));
    std::filesystem::create_symlink("/dev/full", dir / "filedata.dat");
    run_result result = run_program(bramarray, {"a.bin"}, "", dir.path);
    EXPECT_EQ(result.err, "Couldn't write file 'filedata.dat'\n");
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out.find("CONTACT"), std::string::npos);
}

// filedata.dat is C source: compile it as its consumer does and print the array's bytes.
std::string array_as_compiled(const scratch_dir &dir)
{
    write_file(dir / "print.c", "#include <stdio.h>\n#include \"filedata.dat\"\n"
                                "int main(void) { fwrite(bram_data, 1, sizeof bram_data, stdout); return 0; }\n");
    std::string folder = dir.path.string();
    std::string build = "cd " + folder + " && cc -std=c99 -Wall -Werror -o print print.c && ./print > bytes";
    EXPECT_EQ(system(build.c_str()), 0);
    return read_file(dir / "bytes");
}

TEST(bramarray, array_compiles_to_the_input_bytes)
{
    scratch_dir dir;
    std::vector<std::string> names;
    std::string all;
    size_t sizes[] = {7, 0, 8, 300, 1};
    for (size_t k = 0; k < 5; k++) {
        names.push_back("file" + std::to_string(k) + ".bin");
        std::string bytes = random_bytes(sizes[k], static_cast<unsigned>(k + 10));
        write_file(dir / names.back(), bytes);
        all += bytes;
    }
    ASSERT_EQ(run_program(bramarray, names, "", dir.path).status, 0);
    EXPECT_EQ(array_as_compiled(dir), all + std::string(2, '\0'));
}

TEST(bramarray, round_trip_from_typed_text)
{
    scratch_dir dir;
    std::string all;
    std::vector<std::string> dumps;
    for (size_t size : {1, 129, 1000, 65535}) {
        std::string bytes = random_bytes(size, static_cast<unsigned>(size));
        std::string name = "dump" + std::to_string(size);
        write_file(dir / (name + ".txt"), typed_dump(bytes));
        ASSERT_EQ(run_program(dumpentry, {name + ".bin", name + ".txt"}, "", dir.path).status, 0);
        dumps.push_back(name + ".bin");
        all += bytes;
    }
    ASSERT_EQ(run_program(bramarray, dumps, "", dir.path).status, 0);
    EXPECT_EQ(array_as_compiled(dir), all + std::string(2, '\0'));
}

} // namespace
