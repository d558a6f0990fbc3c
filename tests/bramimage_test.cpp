#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string bramimage = BRAMIMAGE_PATH;
const std::string usage = "---[ USAGE ]------------------------------------------------------------------\n"
                          "  " + std::string(BRAMIMAGE_NAME) + " list <image or dump file>\n"
                          "  " + std::string(BRAMIMAGE_NAME) + " extract <image> [<folder>]\n"
                          "  " + std::string(BRAMIMAGE_NAME) + " add <image> <dump filename> [<dump filename ...>]\n"
                          "  " + std::string(BRAMIMAGE_NAME) + " copy <from image> <to image> [<number> ...]\n"
                          "  " + std::string(BRAMIMAGE_NAME) + " remove <image> <number> [<number ...>]\n"
                          "  Moves files between a backup memory image, as emulators and flash carts\n"
                          "  keep it, and dump files such as 'dumpentry' writes and 'bramarray' reads\n";

// An image of a memory of 2 KiB (or memory bytes) holding these files, then as many bytes as
// given past the memory.
std::string image_of(const std::vector<std::string> &files, const std::string &past_end = "", unsigned memory = 2048)
{
    std::string body;
    for (const std::string &file : files)
        body += file;
    unsigned end = 0x8000 + memory, first_free = 0x8010 + static_cast<unsigned>(body.size());
    std::string image = std::string("HUBM", 4) + static_cast<char>(end & 0xFF) + static_cast<char>(end >> 8) +
                        static_cast<char>(first_free & 0xFF) + static_cast<char>(first_free >> 8) +
                        std::string(8, '\0') + body;
    return image + std::string(memory - image.size(), '\0') + past_end;
}

const std::string a = bram_file("ALPHA", "\x01\x02\x03");
const std::string b = bram_file("BETA", std::string(100, '\x7F'));
const std::string c = bram_file("ALPHA", "\x05", '\x01'); // same name, other ID
const std::string fresh = image_of({});
// What a command line that names no command, or too little, draws: the commands.
const std::string commands_said = "Cannot read the command line; the commands are:\n"
                                  "  " + std::string(BRAMIMAGE_NAME) + " list <image or dump file>\n"
                                  "  " + std::string(BRAMIMAGE_NAME) + " extract <image> [<folder>]\n"
                                  "  " + std::string(BRAMIMAGE_NAME) + " add <image> <dump filename> [<dump filename ...>]\n"
                                  "  " + std::string(BRAMIMAGE_NAME) + " copy <from image> <to image> [<number> ...]\n"
                                  "  " + std::string(BRAMIMAGE_NAME) + " remove <image> <number> [<number ...>]\n";
const std::string alpha_line = "  1  ALPHA       ID 00 00     19 bytes  checksum holds\n";
const std::string beta_line = "  2  BETA        ID 00 00    116 bytes  checksum holds\n";

std::string with_byte(std::string bytes, size_t at, char value)
{
    bytes[at] = value;
    return bytes;
}

// The image with the bytes from offset on left over from earlier files, as a console leaves them.
std::string with_old_bytes(std::string image, size_t offset)
{
    for (size_t k = offset; k < image.size(); k++)
        image[k] = static_cast<char>(0xE0 + k % 16);
    return image;
}

run_case row(const char *name, const std::vector<std::string> &args, const std::map<std::string, std::string> &files,
             const std::string &out, const std::string &err, int status,
             const std::map<std::string, std::optional<std::string>> &after)
{
    return {name, BRAMIMAGE_PATH, args, files, "", out, err, status, after};
}

const run_case cases[] = {
    row("add to a new image", {"add", "new.sav", "a.bin", "b.bin"}, {{"a.bin", a}, {"b.bin", b}},
     "New image 'new.sav'\n" + alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0, {{"new.sav", image_of({a, b})}}),
    row("add over old bytes past the end mark ends the files with two zeros", {"add", "x.sav", "b.bin"},
     {{"x.sav", with_old_bytes(image_of({a}), 16 + 19 + 2)}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0,
     {{"x.sav", with_old_bytes(image_of({a, b}), 16 + 135 + 2)}}),
    row("a memory with room for its end mark alone", {"list", "x.sav"}, {{"x.sav", image_of({}, "", 18)}},
     "0 files, 0 bytes used, 0 bytes free\n", "", 0, {}),
    row("add keeps the bytes past the memory", {"add", "x.sav", "b.bin"}, {{"x.sav", image_of({a}, "tail")}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0,
     {{"x.sav", image_of({a, b}, "tail")}}),
    row("list", {"list", "x.sav"}, {{"x.sav", image_of({a, b, with_byte(c, 16, 9)})}},
     alpha_line + beta_line + "  3  ALPHA       ID 01 00     17 bytes  checksum does not hold\n"
                              "3 files, 152 bytes used, 1878 bytes free\n", "", 0, {}),
    row("list a name outside printable ASCII", {"list", "x.sav"}, {{"x.sav", image_of({bram_file("\x82\\A\x7F", "")})}},
     "  1  \\x82\\x5CA\\x7F        ID 00 00     16 bytes  checksum holds\n1 file, 16 bytes used, 2014 bytes free\n",
     "", 0, {}),
    row("extract, names meeting and empty", {"extract", "x.sav"},
     {{"x.sav", image_of({a, c, bram_file("", "\x01"), bram_file("a/b*", "")})}},
     "ALPHA.bin\nALPHA-2.bin\nfile-3.bin\na_b_.bin\n", "", 0,
     {{"ALPHA.bin", a}, {"ALPHA-2.bin", c}, {"file-3.bin", bram_file("", "\x01")}, {"a_b_.bin", bram_file("a/b*", "")}}),
    row("extract into a folder", {"extract", "x.sav", "out"}, {{"x.sav", image_of({b})}, {"out/.keep", ""}},
     "out/BETA.bin\n", "", 0, {{"out/BETA.bin", b}}),
    row("extract refuses when the first name exists", {"extract", "x.sav"}, {{"x.sav", image_of({a, b})}, {"ALPHA.bin", "mine"}},
     "", "'ALPHA.bin' exists already: nothing was extracted\n", 3, {{"BETA.bin", std::nullopt}}),
    row("extract refuses a file that exists", {"extract", "x.sav"}, {{"x.sav", image_of({a, b})}, {"BETA.bin", "mine"}},
     "", "'BETA.bin' exists already: nothing was extracted\n", 3, {{"ALPHA.bin", std::nullopt}}),
    row("extract makes the folder it is given", {"extract", "x.sav", "new"}, {{"x.sav", image_of({a})}},
     "new/ALPHA.bin\n", "", 0, {{"new/ALPHA.bin", a}}),
    row("extract makes one folder, not two", {"extract", "x.sav", "no/new"}, {{"x.sav", image_of({a})}}, "",
     "Couldn't make folder 'no/new': No such file or directory\n", 1, {{"no", std::nullopt}}),
    row("extract into a file that is no folder", {"extract", "x.sav", "a.bin"}, {{"x.sav", image_of({a})}, {"a.bin", a}},
     "", "Couldn't open folder 'a.bin': Not a directory\n", 1, {}),
    row("remove moves the later files down, and says what it removed", {"remove", "x.sav", "1", "3", "1"},
     {{"x.sav", image_of({a, b, c})}},
     "Removed file 1, 'ALPHA' (19 bytes)\nRemoved file 3, 'ALPHA' (17 bytes)\n  1  BETA        ID 00 00    116 bytes  checksum holds\n1 file, 116 bytes used, 1914 bytes free\n", "", 0,
     {{"x.sav", image_of({b})}}),
    row("remove a number that names no file", {"remove", "x.sav", "1", "3"}, {{"x.sav", image_of({a, b})}}, "",
     "No file number '3' in 'x.sav': it holds 2 files\n", 3, {}),
    row("remove from a missing image", {"remove", "nosuch.sav", "1"}, {}, "",
     "Couldn't open file 'nosuch.sav' for input: No such file or directory\n", 1, {{"nosuch.sav", std::nullopt}}),
    row("remove a word", {"remove", "x.sav", "1x"}, {{"x.sav", image_of({a})}}, "",
     "No file number '1x' in 'x.sav': it holds 1 file\n", 3, {}),
    row("add a dump that is no file", {"add", "x.sav", "a.bin", "bad.bin"}, {{"x.sav", fresh}, {"a.bin", a},
     {"bad.bin", with_byte(a, 0, 20)}}, "",
     "'bad.bin' is not a well-formed backup memory file: it has a size field of 20 bytes but holds 19\n", 3, {}),
    row("add a name the image holds", {"add", "x.sav", "a.bin"}, {{"x.sav", image_of({b, a})}, {"a.bin", a}}, "",
     "'a.bin' has the same ID and name as file 2 of 'x.sav'\n", 3, {}),
    row("add a name twice", {"add", "x.sav", "a.bin", "b.bin", "a2.bin"}, {{"x.sav", fresh}, {"a.bin", a},
     {"b.bin", b}, {"a2.bin", a}}, "", "'a.bin' and 'a2.bin' have the same ID and name\n", 3, {}),
    row("add with too little room", {"add", "x.sav", "big.bin", "b.bin"}, {{"x.sav", image_of({a})},
     {"big.bin", bram_file("BIG", std::string(1900, 'x'))}, {"b.bin", b}}, "",
     "Too little room in 'x.sav': the files take 2032 bytes, 2011 are free: 21 bytes missing\n", 3, {}),
    row("add a missing dump", {"add", "new.sav", "a.bin", "nosuch.bin"}, {{"a.bin", a}}, "",
     "Couldn't open file 'nosuch.bin' for input: No such file or directory\n", 1, {{"new.sav", std::nullopt}}),
    row("add into a missing folder", {"add", "nofolder/x.sav", "a.bin"}, {{"a.bin", a}}, "",
     "Couldn't write file 'nofolder/x.sav': No such file or directory\n", 1, {}),
    row("no HUBM", {"add", "x.sav", "a.bin"}, {{"x.sav", "HUB"}, {"a.bin", a}}, "",
     "'x.sav' is not a backup memory image: no \"HUBM\" at byte 0\n", 2, {}),
    row("shorter than its header says", {"list", "x.sav"}, {{"x.sav", fresh.substr(0, 2047)}}, "",
     "'x.sav' is not a backup memory image: it is 2047 bytes long, shorter than the 2048 bytes its header "
     "says at byte 4\n", 2, {}),
    row("first-free address outside the memory", {"remove", "x.sav", "1"}, {{"x.sav", with_byte(fresh, 7, '\x88')}},
     "", "'x.sav' is not a backup memory image: the first-free address 0x8810 at byte 6 is outside the memory\n", 2,
     {}),
    row("a first-free address inside the header", {"list", "x.sav"}, {{"x.sav", with_byte(fresh, 6, '\x08')}}, "",
     "'x.sav' is not a backup memory image: the first-free address 0x8008 at byte 6 is outside the memory\n", 2, {}),
    row("a file of three bytes", {"list", "x.sav"}, {{"x.sav", "HUB"}}, "",
     "'x.sav' is not a backup memory image: no \"HUBM\" at byte 0\n", 2, {}),
    row("a file under 16 bytes", {"list", "x.sav"}, {{"x.sav", with_byte(image_of({a, b}), 16 + 19, 15)}}, "",
     "'x.sav' is not a backup memory image: the file at byte 35 has a size of 15, under 16\n", 2, {}),
    row("a file past the first free byte", {"list", "x.sav"}, {{"x.sav", with_byte(image_of({a, b}), 16, 20)}}, "",
     "'x.sav' is not a backup memory image: the file at byte 36 runs past the first free byte, 151\n", 2, {}),
    row("no end mark", {"extract", "x.sav"}, {{"x.sav", with_byte(image_of({a}), 36, 1)}}, "",
     "'x.sav' is not a backup memory image: no two zero bytes at the first free byte, 35\n", 2,
     {{"ALPHA.bin", std::nullopt}}),
    row("a directory as image", {"list", "."}, {}, "", "Couldn't open file '.' for input: Is a directory\n", 1, {}),
    row("version", {"--version"}, {}, "bramimage 1.0.0\n", "", 0, {}),
    row("no arguments", {}, {}, usage + contact_banner, "", 0, {}),
    row("help", {"--help"}, {}, usage + contact_banner, "", 0, {}),
    row("an end address past a 2 KiB file: the memory ends with the file", {"add", "x.sav", "b.bin"},
     {{"x.sav", with_byte(image_of({a}), 5, '\xA0')}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0,
     {{"x.sav", with_byte(image_of({a, b}), 5, '\xA0')}}),
    row("an end address past a 2 KiB file still bounds the room", {"add", "x.sav", "big.bin"},
     {{"x.sav", with_byte(image_of({a}), 5, '\xA0')}, {"big.bin", bram_file("BIG", std::string(1996, 'x'))}}, "",
     "Too little room in 'x.sav': the files take 2012 bytes, 2011 are free: 1 bytes missing\n", 3, {}),
    row("files that exactly fill the memory", {"add", "x.sav", "big.bin"},
     {{"x.sav", image_of({a})}, {"big.bin", bram_file("BIG", std::string(1995, 'x'))}},
     alpha_line + "  2  BIG         ID 00 00   2011 bytes  checksum holds\n2 files, 2030 bytes used, 0 bytes free\n", "", 0,
     {{"x.sav", image_of({a, bram_file("BIG", std::string(1995, 'x'))})}}),
    row("an 8 KiB image keeps its zeros", {"add", "x.sav", "b.bin"},
     {{"x.sav", image_of({a}, std::string(6144, '\0'))}, {"b.bin", b}},
     alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0,
     {{"x.sav", image_of({a, b}, std::string(6144, '\0'))}}),
    row("remove near a full memory keeps the bytes past it", {"remove", "x.sav", "1"},
     {{"x.sav", image_of({a, bram_file("BIG", std::string(1990, 'x'))}, random_bytes(4096, 12))}},
     "Removed file 1, 'ALPHA' (19 bytes)\n  1  BIG         ID 00 00   2006 bytes  checksum holds\n1 file, 2006 bytes used, 24 bytes free\n", "", 0,
     {{"x.sav", image_of({bram_file("BIG", std::string(1990, 'x'))}, random_bytes(4096, 12))}}),
    row("a 2 KiB memory and a 128 KiB one in one file", {"remove", "x.sav", "1"},
     {{"x.sav", image_of({a, b}, random_bytes(131072, 9))}},
     "Removed file 1, 'ALPHA' (19 bytes)\n  1  BETA        ID 00 00    116 bytes  checksum holds\n1 file, 116 bytes used, 1914 bytes free\n", "", 0,
     {{"x.sav", image_of({b}, random_bytes(131072, 9))}}),
    row("katakana names listed as such, in columns", {"list", "x.sav"},
     {{"x.sav", image_of({bram_file("SHE\xBD\xC1\xB0\xD1\xCA\xB0\xC2", ""), bram_file("\xB1", "")})}},
     "  1  SHE\xEF\xBD\xBD\xEF\xBE\x81\xEF\xBD\xB0\xEF\xBE\x91\xEF\xBE\x8A\xEF\xBD\xB0\xEF\xBE\x82  ID 00 00     16 bytes  "
     "checksum holds\n  2  \xEF\xBD\xB1           ID 00 00     16 bytes  checksum holds\n"
     "2 files, 32 bytes used, 1998 bytes free\n", "", 0, {}),
    row("the ends of half-width katakana, and the bytes just past them", {"list", "x.sav"},
        {{"x.sav", image_of({bram_file("\xA1\xDF\xA0\xE0", "")})}},
        "  1  \xEF\xBD\xA1\xEF\xBE\x9F\\xA0\\xE0        ID 00 00     16 bytes  checksum holds\n"
        "1 file, 16 bytes used, 2014 bytes free\n", "", 0, {}),
    row("extract names the ends of katakana as such and the bytes past them _", {"extract", "x.sav"},
        {{"x.sav", image_of({bram_file("\xA1\xDF\xA0\xE0", "")})}}, "\xEF\xBD\xA1\xEF\xBE\x9F__.bin\n", "", 0,
        {{"\xEF\xBD\xA1\xEF\xBE\x9F__.bin", bram_file("\xA1\xDF\xA0\xE0", "")}}),
    row("extract names katakana as UTF-8 and a leading dot as _", {"extract", "x.sav"},
     {{"x.sav", image_of({bram_file("\xB1\xDF", ""), bram_file(".HIDE", "")})}},
     "\xEF\xBD\xB1\xEF\xBE\x9F.bin\n_HIDE.bin\n", "", 0,
     {{"\xEF\xBD\xB1\xEF\xBE\x9F.bin", bram_file("\xB1\xDF", "")}, {"_HIDE.bin", bram_file(".HIDE", "")}}),
    row("extract names a file past one named like a second", {"extract", "x.sav"},
     {{"x.sav", image_of({a, c, bram_file("ALPHA-2", "")})}}, "ALPHA.bin\nALPHA-2.bin\nALPHA-2-2.bin\n", "", 0,
     {{"ALPHA.bin", a}, {"ALPHA-2.bin", c}, {"ALPHA-2-2.bin", bram_file("ALPHA-2", "")}}),
    row("extract of names that differ in case", {"extract", "x.sav"},
     {{"x.sav", image_of({bram_file("SAVE", ""), bram_file("Save", "", '\x01')})}},
     under_wine ? "SAVE.bin\nSave-2.bin\n" : "SAVE.bin\nSave.bin\n", "", 0,
     {{"SAVE.bin", bram_file("SAVE", "")}, {under_wine ? "Save-2.bin" : "Save.bin", bram_file("Save", "", '\x01')}}),
    row("extract of a name Windows keeps for a device", {"extract", "x.sav"}, {{"x.sav", image_of({bram_file("CON", "")})}},
     under_wine ? "_CON.bin\n" : "CON.bin\n", "", 0, {{under_wine ? "_CON.bin" : "CON.bin", bram_file("CON", "")}}),
    row("file names outside ASCII", {"add", "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.sav", "\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.bin"},
     {{"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.bin", a}},
     "New image '\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.sav'\n" + alpha_line + "1 file, 19 bytes used, 2011 bytes free\n", "", 0,
     {{"\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.sav", image_of({a})}}),
    row("extract keeps letters and digits at both ends of their ranges", {"extract", "x.sav"},
     {{"x.sav", image_of({bram_file("azAZ09-_.x", "")})}}, "azAZ09-_.x.bin\n", "", 0,
     {{"azAZ09-_.x.bin", bram_file("azAZ09-_.x", "")}}),
    row("an end address that leaves no room", {"list", "x.sav"}, {{"x.sav", with_byte(fresh, 5, '\x80')}}, "",
     "'x.sav' is not a backup memory image: the end address 0x8000 at byte 4 leaves no room for files\n", 2, {}),
    row("an image of its header alone", {"list", "x.sav"}, {{"x.sav", fresh.substr(0, 16)}}, "",
     "'x.sav' is not a backup memory image: it is 16 bytes long, shorter than the 2048 bytes its header says at "
     "byte 4\n", 2, {}),
    row("remove from an unformatted file", {"remove", "x.sav", "1"}, {{"x.sav", ""}}, "",
     "No file number '1' in 'x.sav': it holds 0 files\n", 3, {}),
    row("add a name twice, not the first", {"add", "x.sav", "b.bin", "a.bin", "a2.bin"}, {{"x.sav", fresh}, {"a.bin", a},
     {"b.bin", b}, {"a2.bin", a}}, "", "'a.bin' and 'a2.bin' have the same ID and name\n", 3, {}),
    row("list without an image", {"list"}, {}, "", commands_said, 3, {}),
    row("add without a dump", {"add", "x.sav"}, {}, "", commands_said, 3, {}),
    row("copy without a second image", {"copy", "x.sav"}, {}, "", commands_said, 3, {}),
    row("no command", {"x.sav"}, {}, "", commands_said, 3, {}),
    row("add with the image last", {"add", "a.bin", "x.sav"}, {{"x.sav", image_of({b})}, {"a.bin", a}}, "",
     "'x.sav' is an image: the image comes first: bramimage add IMAGE DUMP\n", 3, {}),
    row("remove with the image last", {"remove", "2", "x.sav"}, {{"x.sav", image_of({a, b})}}, "",
     "'x.sav' is an image: the image comes first: bramimage remove IMAGE NUMBER\n", 3, {}),
    row("copy an image onto itself", {"copy", "x.sav", "./x.sav", "1"}, {{"x.sav", image_of({a})}}, "",
     "'./x.sav' is both the image to copy from and the image to copy to\n", 3, {}),
    row("list keeps its columns whatever a name holds", {"list", "x.sav"},
     {{"x.sav", image_of({a, bram_file("\x01\x02OK", "")})}},
     "  1  ALPHA             ID 00 00     19 bytes  checksum holds\n"
     "  2  \\x01\\x02OK        ID 00 00     16 bytes  checksum holds\n2 files, 35 bytes used, 1995 bytes free\n", "", 0,
     {}),
    row("extract from an unformatted file", {"extract", "x.sav"}, {{"x.sav", ""}}, "", "", 0, {}),
    row("a file that starts like an image is neither", {"list", "h.bin"}, {{"h.bin", "HUBX" + std::string(16, ' ')}}, "",
     "'h.bin' is neither a backup memory image (no \"HUBM\" at byte 0) nor a dump file (it has a size field of 21832 "
     "bytes but holds 20 and has a checksum that does not hold (stored 0x5842, computed 0xFE00))\n", 2, {}),
    row("add a dump longer than a size field says", {"add", "x.sav", "big.bin"}, {{"big.bin", std::string(65536, '\0')}},
     "", "'big.bin' is not a well-formed backup memory file: it is longer than 65535 bytes\n", 3,
     {{"x.sav", std::nullopt}}),
    row("an empty file is not formatted", {"list", "x.sav"}, {{"x.sav", ""}},
     "0 files: not formatted yet ('add' and 'copy' format it)\n", "", 0, {}),
    row("add formats an empty file", {"add", "x.sav", "a.bin"}, {{"x.sav", ""}, {"a.bin", a}},
     alpha_line + "1 file, 19 bytes used, 2011 bytes free\n", "", 0, {{"x.sav", image_of({a})}}),
    row("add formats 2 KiB of zeros", {"add", "x.sav", "a.bin"}, {{"x.sav", std::string(2048, '\0')}, {"a.bin", a}},
     alpha_line + "1 file, 19 bytes used, 2011 bytes free\n", "", 0, {{"x.sav", image_of({a})}}),
    row("a dump file listed", {"list", "a.bin"}, {{"a.bin", a}},
     "  -  ALPHA       ID 00 00     19 bytes  checksum holds\n"
     "'a.bin' is a dump file, not an image: its size field and checksum hold\n", "", 0, {}),
    row("a dump file as long as a size field can say listed", {"list", "big.bin"},
     {{"big.bin", bram_file("BIG", std::string(65535 - 16, 'x'))}},
     "  -  BIG         ID 00 00  65535 bytes  checksum holds\n"
     "'big.bin' is a dump file, not an image: its size field and checksum hold\n", "", 0, {}),
    row("a file whose size field is not its length is neither", {"list", "bad.bin"}, {{"bad.bin", with_byte(a, 0, 20)}},
     "", "'bad.bin' is neither a backup memory image (no \"HUBM\" at byte 0) nor a dump file (it has a size field of "
     "20 bytes but holds 19)\n", 2, {}),
    row("a dump file whose checksum fails listed", {"list", "bad.bin"}, {{"bad.bin", with_byte(a, 18, 9)}},
     "  -  ALPHA       ID 00 00     19 bytes  checksum does not hold\n"
     "'bad.bin' is a dump file, not an image, and it has a checksum that does not hold (stored 0xFDF4, computed "
     "0xFDEE)\n", "", 3, {}),
    row("a short file is neither", {"list", "s.bin"}, {{"s.bin", "ABCDE"}}, "",
     "'s.bin' is neither a backup memory image (no \"HUBM\" at byte 0) nor a dump file (it is shorter than 16 "
     "bytes)\n", 2, {}),
    row("copy every file into a new image", {"copy", "from.sav", "to.sav"}, {{"from.sav", image_of({a, b})}},
     "New image 'to.sav'\n" + alpha_line + beta_line + "2 files, 135 bytes used, 1895 bytes free\n", "", 0, {{"to.sav", image_of({a, b})}}),
    row("copy the numbered files", {"copy", "from.sav", "to.sav", "2"}, {{"from.sav", image_of({a, b})},
     {"to.sav", image_of({c})}}, "  1  ALPHA       ID 01 00     17 bytes  checksum holds\n" + beta_line +
     "2 files, 133 bytes used, 1897 bytes free\n", "", 0, {{"to.sav", image_of({c, b})}}),
    row("copy a name the image holds", {"copy", "from.sav", "to.sav"}, {{"from.sav", image_of({a, b})},
     {"to.sav", image_of({b})}}, "", "file 2 of 'from.sav' has the same ID and name as file 1 of 'to.sav'\n", 3, {}),
    row("copy too much", {"copy", "from.sav", "to.sav", "1"},
     {{"from.sav", image_of({bram_file("BIG", std::string(1900, 'x'))})}, {"to.sav", image_of({b})}}, "",
     "Too little room in 'to.sav': the files take 1916 bytes, 1914 are free: 2 bytes missing\n", 3, {}),
    row("copy from a longer image into 2 KiB of zeros", {"copy", "from.sav", "to.sav"},
     {{"from.sav", image_of({a}, "tail")}, {"to.sav", std::string(2048, '\0')}},
     alpha_line + "1 file, 19 bytes used, 2011 bytes free\n", "", 0, {{"to.sav", image_of({a})}}),
    row("copy from a damaged image", {"copy", "from.sav", "to.sav"}, {{"from.sav", "HUBM"}}, "",
     "'from.sav' is not a backup memory image: no \"HUBM\" at byte 0\n", 2, {{"to.sav", std::nullopt}}),
    row("copy a number that names no file", {"copy", "from.sav", "to.sav", "9"}, {{"from.sav", image_of({a})}}, "",
     "No file number '9' in 'from.sav': it holds 1 file\n", 3, {{"to.sav", std::nullopt}}),
    row("remove file 10 of ten", {"remove", "x.sav", "10"}, {{"x.sav", image_of({a, a, a, a, a, a, a, a, a, b})}},
     [] {
         std::string lines = "Removed file 10, 'BETA' (116 bytes)\n";
         for (int number = 1; number <= 9; number++)
             lines += "  " + std::to_string(number) + alpha_line.substr(3);
         return lines;
     }() + "9 files, 171 bytes used, 1859 bytes free\n", "", 0,
     {{"x.sav", image_of({a, a, a, a, a, a, a, a, a})}}),
    row("a file that is no regular file is not changed", {"add", "/dev/null", "a.bin"}, {{"a.bin", a}}, "",
     "Couldn't change '/dev/null': it is no regular file\n", 1, {}),
    row("unknown command", {"lsit", "x.sav"}, {}, "", commands_said, 3, {}),
    {"an image with a second hard link is not changed", BRAMIMAGE_PATH, {"add", "linked.sav", "a.bin"},
     {{"linked.sav", fresh}, {"a.bin", a}}, "", "",
     "Couldn't change 'linked.sav': it has 2 hard links, which a new file would split\n", 1,
     {{"second.sav", fresh}}, {}, "ln linked.sav second.sav"},
    {"extract over a link that leads nowhere", BRAMIMAGE_PATH, {"extract", "x.sav"}, {{"x.sav", image_of({a})}}, "",
     "", "'ALPHA.bin' exists already: nothing was extracted\n", 3, {}, {}, "ln -s nowhere ALPHA.bin"},
};

RUN_TABLE(bramimage_runs, cases)

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
    std::string target = under_wine ? "old.sav" : "link.sav"; // links and permission bits are POSIX's
    run_result added = run_program(bramimage, {"add", target, "ALPHA.bin", "BETA.bin", "ALPHA-2.bin",
                                               "file-4.bin"}, "", dir.path);
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(read_file(dir / "old.sav"), image);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.sav"));
    if (under_wine)
        return;
    struct stat st;
    ASSERT_EQ(stat((dir / "old.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

} // namespace

namespace {

std::string gunzipped(const std::string &bytes)
{
    z_stream packed{};
    inflateInit2(&packed, 15 + 16);
    std::string out(1 << 20, '\0');
    packed.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
    packed.avail_in = static_cast<uInt>(bytes.size());
    packed.next_out = reinterpret_cast<Bytef *>(out.data());
    packed.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&packed, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(packed.avail_in, 0u) << "one member, nothing after it";
    out.resize(packed.total_out);
    inflateEnd(&packed);
    return out;
}

// A gzip-compressed image is read, and written back compressed; a damaged one is refused.
TEST(bramimage, gzip_images)
{
    scratch_dir dir;
    std::string repeated; // far matches: more than a small window, more than one read when compressed
    for (int k = 0; k < 6; k++)
        repeated += random_bytes(20000, 4);
    std::string large = image_of({a}, repeated);
    write_file(dir / "large.sav", gzipped(large));
    ASSERT_EQ(run_program(bramimage, {"remove", "large.sav", "1"}, "", dir.path).status, 0);
    EXPECT_EQ(gunzipped(read_file(dir / "large.sav")), image_of({}, repeated));
    write_file(dir / "x.sav", gzipped(image_of({a})));
    write_file(dir / "b.bin", b);
    run_result listed = run_program(bramimage, {"list", "x.sav"}, "", dir.path);
    EXPECT_EQ(listed.out, alpha_line + "1 file, 19 bytes used, 2011 bytes free\n");
    run_result added = run_program(bramimage, {"add", "x.sav", "b.bin"}, "", dir.path);
    EXPECT_EQ(added.status, 0) << added.err;
    std::string written = read_file(dir / "x.sav");
    EXPECT_EQ(written.substr(0, 2), "\x1F\x8B");
    EXPECT_EQ(written[9], '\x03') << "the gzip header names no other system";
    EXPECT_EQ(gunzipped(written), image_of({a, b}));
    write_file(dir / "huge.sav", gzipped(std::string((1 << 20) + 16, '\0')));
    run_result huge = run_program(bramimage, {"list", "huge.sav"}, "", dir.path);
    EXPECT_EQ(huge.err, "'huge.sav' is not a backup memory image: it is larger than 1048576 bytes\n");
    EXPECT_EQ(huge.status, 2);
    // A 2 KiB memory and a 128 KiB one in one file, with a pattern every 20 KiB: matches farther
    // apart than 16 KiB, read and written back exactly.
    std::string pattern = random_bytes(20480, 6);
    while (pattern.size() < 131072)
        pattern += pattern.substr(0, 20480);
    std::string whole = image_of({a}, pattern.substr(0, 131072));
    write_file(dir / "far.sav", gzipped(whole));
    ASSERT_EQ(run_program(bramimage, {"add", "far.sav", "b.bin"}, "", dir.path).status, 0);
    EXPECT_EQ(read_file(dir / "far.sav"), gzipped(image_of({a, b}, pattern.substr(0, 131072)), Z_BEST_COMPRESSION));
    // Two members, as gzip -c of the memory and of the external memory one after the other:
    // read whole, written back as one member.
    std::string external = random_bytes(131072, 5);
    write_file(dir / "two.sav", gzipped(image_of({a})) + gzipped(external));
    ASSERT_EQ(run_program(bramimage, {"remove", "two.sav", "1"}, "", dir.path).status, 0);
    std::string one = read_file(dir / "two.sav");
    EXPECT_EQ(gunzipped(one), image_of({}, external));
    write_file(dir / "tail.sav", gzipped(image_of({a})) + "tail");
    run_result trailing = run_program(bramimage, {"remove", "tail.sav", "1"}, "", dir.path);
    EXPECT_EQ(trailing.err, "'tail.sav' is not a backup memory image: bytes that begin no gzip member follow its "
                            "last one\n");
    EXPECT_EQ(trailing.status, 2);
    EXPECT_EQ(read_file(dir / "tail.sav"), gzipped(image_of({a})) + "tail");
    std::string damaged = gzipped(image_of({a}));
    write_file(dir / "damaged.sav", damaged.substr(0, damaged.size() - 12));
    run_result refused = run_program(bramimage, {"remove", "damaged.sav", "1"}, "", dir.path);
    EXPECT_EQ(refused.err, "'damaged.sav' is not a backup memory image: its gzip compression is damaged\n");
    EXPECT_EQ(refused.status, 2);
}

// The most files a memory holds, all of one name: each gets a name of its own, at once.
TEST(bramimage, extract_names_many_files_of_one_name)
{
    scratch_dir dir;
    std::vector<std::string> files;
    for (unsigned n = 0; n < 2046; n++)
        files.push_back(bram_file("SAME", "", n));
    write_file(dir / "x.sav", image_of(files, "", 0x7FFF));
    run_result result = run_program(bramimage, {"extract", "x.sav", "out"}, "", dir.path);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "out"), {}), 2046);
    EXPECT_EQ(read_file(dir / "out/SAME.bin"), files[0]);
    EXPECT_EQ(read_file(dir / "out/SAME-2046.bin"), files[2045]);
}

// Twenty runs adding to one image at once: each waits for the one before, none is lost.
TEST(bramimage, runs_at_once_lose_no_update)
{
    scratch_dir dir;
    std::string command = "for n in $(seq 1 20); do " + bramimage + " add x.sav d$n.bin > /dev/null & done; wait";
    for (int n = 1; n <= 20; n++)
        write_file(dir / ("d" + std::to_string(n) + ".bin"), bram_file("D", "", static_cast<unsigned>(n)));
    ASSERT_EQ(run_program("/bin/bash", {"-c", command}, "", dir.path).status, 0);
    run_result listed = run_program(bramimage, {"list", "x.sav"}, "", dir.path);
    EXPECT_NE(listed.out.find("20 files, 320 bytes used"), std::string::npos) << listed.out;
}

// What a new image must keep of the old one, and the images that are not replaced at all.
TEST(bramimage, keeps_owner_and_refuses_what_it_would_spoil)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_file(dir / "a.bin", a);
    write_file(dir / "x.sav", image_of({a}));
    ASSERT_EQ(run_program(bramimage, {"extract", "x.sav", "made"}, "", dir.path).status, 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(std::filesystem::status(dir / "made").permissions(), std::filesystem::perms(0777 & ~mask));
    EXPECT_EQ(std::filesystem::status(dir / "made/ALPHA.bin").permissions(), std::filesystem::perms(0666 & ~mask));
    write_file(dir / "x.sav", image_of({}));
    if (geteuid() != 0)
        GTEST_SKIP() << "owner and another user need root";
    ASSERT_EQ(chown((dir / "x.sav").c_str(), 65534, 65534), 0);
    ASSERT_EQ(run_program(bramimage, {"add", "x.sav", "a.bin"}, "", dir.path).status, 0);
    struct stat st;
    ASSERT_EQ(stat((dir / "x.sav").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    std::filesystem::permissions(dir.path, std::filesystem::perms::all);
    write_file(dir / "protected.sav", image_of({}));
    ASSERT_EQ(chown((dir / "protected.sav").c_str(), 65534, 65534), 0);
    std::filesystem::permissions(dir / "protected.sav", std::filesystem::perms(0444));
    run_result protected_run = run_program("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                               bramimage, "remove", "protected.sav", "1"}, "", dir.path);
    EXPECT_EQ(protected_run.err, "Couldn't change 'protected.sav': it is write-protected\n");
    EXPECT_EQ(protected_run.status, 1);
    EXPECT_EQ(read_file(dir / "protected.sav"), image_of({}));
}

} // namespace
