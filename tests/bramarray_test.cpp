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

// A row: filedata.dat afterwards holds array (nullopt: there is none). A row that makes no
// filedata.dat of its own runs a second time over an earlier one (mode 0604), which a
// completed run replaces and any other run leaves byte for byte.
run_case row(const char *name, const std::vector<std::string> &args, const std::map<std::string, std::string> &files,
             const std::string &out, const std::string &err, int status, const std::optional<std::string> &array)
{
    run_case made{name, BRAMARRAY_PATH, args, files, "", out, err, status, {}};
    if (!files.count("filedata.dat/x"))
        made.after["filedata.dat"] = array;
    made.earlier = earlier_file{"filedata.dat", old_array, 0604};
    return made;
}

const std::string eight = "\x01\x23\x45\x67\x89\xAB\xCD\xEF";
const std::string eight_elements = "0X01, 0X23, 0X45, 0X67, 0X89, 0XAB, 0XCD, 0XEF, \n";

std::string too_short(const std::string &name)
{
    return "Warning: '" + name + "' is shorter than 16 bytes\n";
}

// worked_save with another ID.
const std::string other_save = bram_file("SAVE", "\x01\x02\x03\x04", 1);

// A file of zeros but its size field, ID and checksum, which holds.
std::string file_of(size_t size, unsigned id)
{
    return bram_file(std::string(10, '\0'), std::string(size - 16, '\0'), id);
}


// An input that is no dump file: refused before anything is written.
run_case no_dump(const char *name, const std::string &bytes, const std::string &said)
{
    return row(name, {"a.bin", "in"}, {{"a.bin", worked_save}, {"in", bytes}}, "", "'in' " + said + "\n", 3,
               std::nullopt);
}

const run_case cases[] = {
    no_dump("a backup memory image", bare_image, "is a backup memory image: run 'bramimage extract' first"),
    no_dump("a backup memory image in gzip", gzipped(bare_image), "is a backup memory image: run 'bramimage extract' first"),
    no_dump("a typed text", "00 00 14\n14 00 07 FE 00 00 53 41\n", "is a typed text: run 'dumpentry' first"),
    no_dump("a picture", png_start, "is a picture (PNG): run 'dumpscan', then 'dumpentry' first"),
    no_dump("more bytes than a size field can say", std::string(65536, '\x01'),
            "holds more than 65535 bytes, more than a dump file can"),
    row("an endless input", {"a.bin", "/dev/zero"}, {{"a.bin", worked_save}},
        "Processing a.bin ...\nProcessing /dev/zero ...\n", "'/dev/zero' holds more than 65535 bytes, more than a dump "
        "file can\n", 3, std::nullopt),
    row("no arguments", {}, {}, usage + contact_banner, "", 0, std::nullopt),
    row("compile alone", {"-compile"}, {}, usage + contact_banner, "", 0, std::nullopt),
    row("help", {"--help"}, {}, usage + contact_banner, "", 0, std::nullopt),
    row("short help", {"-h"}, {}, usage + contact_banner, "", 0, std::nullopt),
    row("version", {"--version"}, {}, "bramarray 1.0.0\n", "", 0, std::nullopt),
    row("eight bytes", {"a.bin"}, {{"a.bin", eight}}, "Processing a.bin ...\n" + contact_banner, too_short("a.bin"), 0,
     head + eight_elements + tail),
    row("empty inputs", {"a.bin", "b.bin"}, {{"a.bin", ""}, {"b.bin", ""}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, too_short("a.bin") + too_short("b.bin"), 0,
     head + tail),
    row("lines run on across inputs", {"-compile", "a.bin", "b.bin"},
     {{"a.bin", "\x01\x02\x03"}, {"b.bin", "\xAB\xCD\xEF\x7F\x80\xFF"}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, too_short("a.bin") + too_short("b.bin"), 0,
     head + "0X01, 0X02, 0X03, 0XAB, 0XCD, 0XEF, 0X7F, 0X80, \n0XFF, " + tail),
    row("a name that only begins with -compile", {"-compiled", "a.bin"},
     {{"-compiled", "\x10"}, {"a.bin", "\x20"}},
     "Processing -compiled ...\nProcessing a.bin ...\n" + contact_banner, too_short("-compiled") + too_short("a.bin"), 0,
     head + "0X10, 0X20, " + tail),
    row("bytes 0x1A and 0x0A are data", {"a.bin"}, {{"a.bin", std::string("\x1A\x0A\x0D\x1A\x00\x0A", 6)}},
     "Processing a.bin ...\n" + contact_banner, too_short("a.bin"), 0,
     head + "0X1A, 0X0A, 0X0D, 0X1A, 0X00, 0X0A, " + tail),
    row("well-formed saves are silent", {"a.bin", "b.bin"}, {{"a.bin", worked_save}, {"b.bin", other_save}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner, "", 0,
     array_text(worked_save + other_save)),
    row("save with a wrong size field and checksum", {"a.bin"}, {{"a.bin", "\x15" + worked_save.substr(1, 18) + "\x05"}},
     "Processing a.bin ...\n" + contact_banner,
     "Warning: 'a.bin' has a size field of 21 bytes but holds 20 and has a checksum that does not hold "
     "(stored 0xFE07, computed 0xFE06)\n", 0,
     array_text("\x15" + worked_save.substr(1, 18) + "\x05")),
    row("two saves of the same name", {"a.bin", "b.bin", "c.bin"},
     {{"a.bin", worked_save}, {"b.bin", other_save}, {"c.bin", worked_save}},
     "Processing a.bin ...\nProcessing b.bin ...\nProcessing c.bin ...\n" + contact_banner,
     "Warning: 'a.bin' and 'c.bin' have the same ID and name; the console keeps only one\n", 0,
     array_text(worked_save + other_save + worked_save)),
    row("a file named three times is said once", {"a.bin", "./a.bin", "a.bin"}, {{"a.bin", worked_save}},
     "Processing a.bin ...\nProcessing ./a.bin ...\nProcessing a.bin ...\n" + contact_banner,
     "Warning: './a.bin' is named twice: the console keeps one copy\n", 0,
     array_text(worked_save + worked_save + worked_save)),
    row("saves that do not fit in 2 KiB", {"a.bin", "b.bin"}, {{"a.bin", file_of(2030, 0)}, {"b.bin", file_of(16, 1)}},
     "Processing a.bin ...\nProcessing b.bin ...\n" + contact_banner,
     "Warning: the files take 2046 bytes, more than the 2030 bytes of room of a 2 KiB backup memory\n", 0,
     array_text(file_of(2030, 0) + file_of(16, 1))),
    row("second of three missing", {"a.bin", "missing.bin", "c.bin"}, {{"a.bin", eight}, {"c.bin", "\x01"}},
     "Processing a.bin ...\n", too_short("a.bin") + "Couldn't open file 'missing.bin' for input: No such file or directory\n", 1, std::nullopt),
    row("directory as input", {"a.bin", "folder"}, {{"a.bin", "\x01"}, {"folder/x", ""}},
     "Processing a.bin ...\n", too_short("a.bin") + "Couldn't open file 'folder' for input: Is a directory\n", 1, std::nullopt),
    row("filedata.dat as input", {"a.bin", "filedata.dat"}, {{"a.bin", "\x01"}, {"filedata.dat", old_array}},
     "", "Input file 'filedata.dat' is also the output file 'filedata.dat'\n", 1, old_array),
    row("filedata.dat by another path", {"-compile", "./filedata.dat"}, {{"filedata.dat", old_array}},
     "", "Input file './filedata.dat' is also the output file 'filedata.dat'\n", 1, old_array),
    row("filedata.dat as input before it exists", {"a.bin", "./filedata.dat"}, {{"a.bin", "\x01"}},
     "", "Input file './filedata.dat' is also the output file 'filedata.dat'\n", 1, std::nullopt),
    row("filedata.dat cannot be created", {"a.bin"}, {{"a.bin", "\x01"}, {"filedata.dat/x", ""}}, "",
     "Couldn't open file 'filedata.dat' for output: Is a directory\n", 2, ""),
    {"a link to filedata.dat as input", BRAMARRAY_PATH, {"link.bin"}, {{"filedata.dat", old_array}}, "", "",
     "Input file 'link.bin' is also the output file 'filedata.dat'\n", 1, {}, {}, "ln -s filedata.dat link.bin"},
    {"filedata.dat on a full disk", BRAMARRAY_PATH, {"a.bin"}, {{"a.bin", random_bytes(65535, 2)}}, "",
     "Processing a.bin ...\n", "Couldn't write file 'filedata.dat'\n", 2, {}, {}, "ln -s /dev/full filedata.dat"},
};

RUN_TABLE(bramarray_runs, cases)

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
