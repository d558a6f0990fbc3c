#include <algorithm>
#include <optional>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string dumpentry = DUMPENTRY_PATH;
const std::string echo = "read from file\n";
const std::string done = " ** DONE **\n" + contact_banner;
const std::string usage = "---[ USAGE ]------------------------------------------------------------------\n"
                          "  " + std::string(DUMPENTRY_NAME) + " <output filename> [<input filename>]\n"
                          "  If no file where to read data is given, standard input is used\n";

std::string summary(int size, int pages, int lines, int bytes)
{
    return "Encoding: 0\nSize of data: " + std::to_string(size) + " bytes\nFull pages: " +
           std::to_string(pages) + "\nRemaining full lines: " + std::to_string(lines) +
           "\nRemaining bytes: " + std::to_string(bytes) + "\n";
}

// The prompts of the first lines of a page, each followed by after.
std::string prompts_of_lines(int lines, const std::string &after)
{
    std::string text;
    for (int line = 0; line < lines; line++)
        text += line_prompt(line) + after;
    return text;
}

// The heading and the prompts of a full page, each prompt followed by after.
std::string page_of_prompts(int page, const std::string &after = "")
{
    return " -- Page " + std::to_string(page) + " --\n" + prompts_of_lines(16, after);
}

// The closing warning that names the lines kept with a warning.
std::string mistyped(const std::vector<std::string> &names, int more = 0)
{
    size_t lines = names.size() + static_cast<size_t>(more);
    std::string text = "Warning: " + std::to_string(lines) + (lines == 1 ? " line" : " lines") + " looked mistyped:";
    for (size_t k = 0; k < names.size(); k++)
        text += (k ? "; " : " ") + names[k];
    return text + (more ? "; and " + std::to_string(more) + " more" : "") + "\n";
}

std::string lines_of(const std::string &text, int count)
{
    std::string all;
    for (int k = 0; k < count; k++)
        all += text;
    return all;
}

// A row: args naming "in.txt" get the input in that file, else it is typed on standard input;
// out.bin afterwards holds dump (nullopt: there is none). Each row runs twice: with no dump file
// yet, and over an earlier one (mode 0640), which a completed run replaces and any other run
// leaves byte for byte.
run_case row(const char *name, const std::vector<std::string> &args, const std::string &input, const std::string &out,
             const std::string &err, int status, const std::optional<std::string> &dump)
{
    bool from_file = std::find(args.begin(), args.end(), "in.txt") != args.end();
    run_case made{name, DUMPENTRY_PATH, args, {}, from_file ? "" : input, out, err, status, {{"out.bin", dump}}};
    if (from_file)
        made.files["in.txt"] = input;
    made.earlier = earlier_file{"out.bin", worked_save, 0640};
    return made;
}

const std::string &sound_save = worked_save;
const std::string text_refused = "Output file 'in.txt' holds text; it may be a typed dump, so it is left as it is\n";
const std::string no_input = "Couldn't open file 'nosuch.txt' for input: No such file or directory\n";
const std::string save_prompts = header_prompt + " -- Last page --\nLine  0: Line  1: Last line (4 bytes) : ";

const std::string typed_one = "00 0001\nAA\n";

std::string typed_save(const std::string &last_line)
{
    return "00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n" + last_line + "\n";
}

// Twelve lines of seven bytes from in.txt, each warned as it is read, then named at the end:
// the first ten by name, the rest counted.
std::string twelve_short_lines_warned()
{
    std::string text = summary(96, 0, 12, 0);
    std::vector<std::string> names;
    for (int line = 0; line < 12; line++) {
        std::string name = "last page, line " + std::to_string(line);
        text += "Warning: " + name + ": 14 hex digits found, 16 expected (in.txt, line " + std::to_string(line + 2) + ")\n";
        if (line == 0)
            text += "Warning: the size field says 0 bytes, the header of the dump says 96\n";
        if (line < 10)
            names.push_back(name);
    }
    return text + mistyped(names, 2);
}

const std::string eight_lines_0_to_7 = lines_of("00 01 02 03 04 05 06 07\n", 16);
const std::string page_bytes = lines_of(bytes("\x00\x01\x02\x03\x04\x05\x06\x07"), 16);

const run_case cases[] = {
    row("no arguments", {}, "", usage + contact_banner, "", 0, std::nullopt),
    row("three arguments", {"out.bin", "a", "b"}, "", usage + contact_banner, "", 0, std::nullopt),
    row("help", {"--help"}, "", usage + contact_banner, "", 0, std::nullopt),
    row("short help", {"-h"}, "", usage + contact_banner, "", 0, std::nullopt),
    row("version", {"--version"}, "", "dumpentry 1.0.0\n", "", 0, std::nullopt),
    row("unknown encoding 1", {"out.bin"}, "01 00 10\n", header_prompt, "Unknown encoding (1)\n", 2, std::nullopt),
    row("encoding 80 is negative", {"out.bin"}, "80\n", header_prompt, "Unknown encoding (-128)\n", 2, std::nullopt),
    row("encoding FF is -1", {"out.bin"}, "ff 00 10\n", header_prompt, "Unknown encoding (-1)\n", 2, std::nullopt),
    row("header with a word first", {"out.bin"}, "Header: 00 01 23\n", header_prompt,
     "No encoding in the header\n", 2, std::nullopt),
    row("empty header", {"out.bin"}, "\n", header_prompt + header_prompt, "Unexpected end of input\n", 4, std::nullopt),
    row("nothing typed", {"out.bin"}, "", header_prompt, "Unexpected end of input\n", 4, std::nullopt),
    row("size 0", {"out.bin"}, "00 0000\n", header_prompt + done, summary(0, 0, 0, 0), 0, ""),
    row("size 16, separators, case, CR LF", {"out.bin"},
     "0 0 0 0 1 0\r\n12 34-56:78\t9a,BC.de/F0\r\n0a 0B 0c 0D 0e 0F 10 11\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: " + done, summary(16, 0, 2, 0), 0,
     "\x12\x34\x56\x78\x9A\xBC\xDE\xF0\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11"),
    row("size 128", {"out.bin"}, "00 0080\n" + eight_lines_0_to_7, header_prompt + page_of_prompts(0) + done,
     summary(128, 1, 0, 0), 0, page_bytes),
    row("size 129, last line without line end", {"out.bin"}, "00 0081\n" + eight_lines_0_to_7 + "fe",
     header_prompt + page_of_prompts(0) + " -- Last page --\nLast line (1 bytes) : " + done,
     summary(129, 1, 0, 1), 0, page_bytes + "\xFE"),
    row("last line too short", {"out.bin"}, "00 0002\nABC\n",
     header_prompt + " -- Last page --\nLast line (2 bytes) : " + done,
     summary(2, 0, 0, 2) + "Warning: last line: 3 hex digits found, 4 expected\n" + mistyped({"last line"}), 0, "\xAB\x0C"),
    row("blank lines are passed over", {"out.bin"}, "00 0003\n\n  \n-:\nAB CD EF\n",
     header_prompt + " -- Last page --\n" + lines_of("Last line (3 bytes) : ", 4) + done, summary(3, 0, 0, 3), 0,
     "\xAB\xCD\xEF"),
    row("blank lines up to the end", {"out.bin"}, "00 0003\n\n",
     header_prompt + " -- Last page --\n" + lines_of("Last line (3 bytes) : ", 2),
     summary(3, 0, 0, 3) + "Unexpected end of input\n", 4, std::nullopt),
    row("a line of digits not read keeps its place, written as zeros", {"out.bin"},
     "00 00 14\n14 00 07 FE 00 00 53 41\n?? ?? ?? ?? ?? ?? ?? ??\n01 02 03 04\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: Last line (4 bytes) : " + done,
     summary(20, 0, 2, 4) + "Warning: last page, line 1: 16 digits not read\n"
                            "Warning: the checksum does not hold: stored 0xFE07, computed 0xFF62; the typed bytes add "
                            "up -0x015B off\n" + mistyped({"last page, line 1"}),
     5, worked_save.substr(0, 8) + std::string(8, '\0') + worked_save.substr(16)),
    row("a digit not read that was a 0: the checksum holds, still status 5", {"out.bin"},
     "00 00 14\n14 ?0 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: Last line (4 bytes) : " + done,
     summary(20, 0, 2, 4) + "Warning: last page, line 0: 1 digit not read\n" + mistyped({"last page, line 0"}), 5,
     worked_save),
    row("a header with digits not read", {"out.bin"}, "?? ?? E6\n", header_prompt,
     "The header holds digits not read ('?'): type it as the screen shows it\n", 2, std::nullopt),
    row("a text of digits not read only", {"out.bin", "in.txt"}, "?? ?? ??\n?? ?? ?? ?? ?? ?? ?? ??\n",
     header_prompt + echo, "The header holds digits not read ('?'): type it as the screen shows it\n", 2,
     std::nullopt),
    row("header with a digit missing", {"out.bin"}, "00 00 1\nAB\n",
     header_prompt + " -- Last page --\nLast line (1 bytes) : " + done,
     "Warning: header: 5 hex digits found, 6 expected\n" + summary(1, 0, 0, 1) + mistyped({"header"}), 0, "\xAB"),
    row("header with a letter O", {"out.bin"}, "00 O0 13\n", header_prompt + done,
     "Warning: header: 'O' is not a hex digit\n" + summary(0, 0, 0, 0) + mistyped({"header"}), 0, ""),
    row("header with extra digits", {"out.bin"}, "00 00 01 00\nAB\n",
     header_prompt + " -- Last page --\nLast line (1 bytes) : " + done,
     "Warning: header: 8 hex digits found, 6 expected\n" + summary(1, 0, 0, 1) + mistyped({"header"}), 0, "\xAB"),
    row("arrow and function keys add nothing", {"out.bin"},
     "00 0010\n0\x1b[A1 23\x1b[B 45 67\x1b[C 89 AB CD EF\x1bOP\n01 23 45 67 89 AB DE F\x1b[D\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: " + done,
     summary(16, 0, 2, 0) + "Warning: last page, line 1: 15 hex digits found, 16 expected\n" + mistyped({"last page, line 1"}), 0,
     "\x01\x23\x45\x67\x89\xAB\xCD\xEF\x01\x23\x45\x67\x89\xAB\xDE\x0F"),
    row("keys that end in a tilde add nothing either", {"out.bin"},
     "00 0008\n01 23\x1b[15~ 45\x1b[3~67 89\x1b[2~AB\x1b[5~CD\x1b[6~EF\n",
     header_prompt + " -- Last page --\nLine  0: " + done, summary(8, 0, 1, 0), 0, "\x01\x23\x45\x67\x89\xAB\xCD\xEF"),
    row("screen layout from a file", {"out.bin", "in.txt"}, "00 0081\n" + eight_lines_0_to_7 + "\n00 00 81\nfe\n",
     header_prompt + echo + page_of_prompts(0, echo) + " -- Last page --\n" +
         lines_of("Last line (1 bytes) : " + echo, 3) + done,
     summary(129, 1, 0, 1), 0, page_bytes + "\xFE"),
    row("warnings point at the file's lines", {"out.bin", "in.txt"}, "00 0010\n\n0011\n\n0011223344556677\n",
     header_prompt + echo + " -- Last page --\nLine  0: " + echo + "Line  0: " + echo + "Line  1: " + echo +
         "Line  1: " + echo + done,
     summary(16, 0, 2, 0) + "Warning: last page, line 0: 4 hex digits found, 16 expected (in.txt, line 3)\n" +
         mistyped({"last page, line 0"}),
     0, bytes("\x00\x11\0\0\0\0\0\0\x00\x11\x22\x33\x44\x55\x66\x77")),
    row("short and long data lines", {"out.bin"}, "00 0018\n00 11\n0123456789abcdef01\nzz\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: Line  2: " + done,
     summary(24, 0, 3, 0) + "Warning: last page, line 0: 4 hex digits found, 16 expected\n"
                            "Warning: last page, line 1: 18 hex digits found, 16 expected\n"
                            "Warning: last page, line 2: 'z' is not a hex digit\n" + mistyped({"last page, line 0", "last page, line 1", "last page, line 2"}),
     0, bytes("\x00\x11\0\0\0\0\0\0\x01\x23\x45\x67\x89\xAB\xCD\xEF") + std::string(8, '\0')),
    row("letters beyond F", {"out.bin"}, "00 0010\n0123456789ABCDEG\nLine 1: 00 11 22 33 44 55 66 77\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: " + done,
     summary(16, 0, 2, 0) + "Warning: last page, line 0: 'G' is not a hex digit\n"
                            "Warning: last page, line 1: 'L' is not a hex digit\n" + mistyped({"last page, line 0", "last page, line 1"}),
     0, bytes("\x01\x23\x45\x67\x89\xAB\xCD\x0E") + std::string(8, '\0')),
    row("a line of 300 characters is two lines", {"out.bin"}, "00 0010\n" + std::string(300, '1') + "\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: " + done,
     summary(16, 0, 2, 0) + "Warning: last page, line 0: 254 hex digits found, 16 expected\n"
                            "Warning: last page, line 1: 46 hex digits found, 16 expected\n" + mistyped({"last page, line 0", "last page, line 1"}),
     0, std::string(16, '\x11')),
    row("mistake on a full page", {"out.bin"}, "00 0080\n" + lines_of("0001020304050607\n", 3) + "000102\n" +
         lines_of("0001020304050607\n", 12),
     header_prompt + page_of_prompts(0) + done,
     summary(128, 1, 0, 0) + "Warning: page 0, line 3: 6 hex digits found, 16 expected\n" + mistyped({"page 0, line 3"}), 0,
     page_bytes.substr(0, 27) + std::string(5, '\0') + page_bytes.substr(32)),
    row("a last line that reads like the header", {"out.bin", "in.txt"}, "00 00 03\n00 00 03\n",
     header_prompt + echo + " -- Last page --\nLast line (3 bytes) : " + echo + done, summary(3, 0, 0, 3), 0,
     bytes("\x00\x00\x03")),
    row("a last line like the header after a page", {"out.bin"}, "00 0083\n" + eight_lines_0_to_7 + "00 00 83\n",
     header_prompt + page_of_prompts(0) + " -- Last page --\nLast line (3 bytes) : " + done, summary(131, 1, 0, 3), 0,
     page_bytes + bytes("\x00\x00\x83")),
    row("blank lines before the header", {"out.bin", "in.txt"}, "\n \n00 0001\nAA\n",
     lines_of(header_prompt + echo, 3) + " -- Last page --\nLast line (1 bytes) : " + echo + done,
     summary(1, 0, 0, 1), 0, "\xAA"),
    row("more than ten lines mistyped", {"out.bin"}, "00 0060\n" + lines_of("11\n", 12),
     header_prompt + " -- Last page --\n" + "Line  0: Line  1: Line  2: Line  3: Line  4: Line  5: "
         "Line  6: Line  7: Line  8: Line  9: Line 10: Line 11: " + done,
     summary(96, 0, 12, 0) + [] {
         std::string warnings;
         for (int line = 0; line < 12; line++)
             warnings += "Warning: last page, line " + std::to_string(line) + ": 2 hex digits found, 16 expected\n";
         return warnings;
     }() + mistyped({"last page, line 0", "last page, line 1", "last page, line 2", "last page, line 3",
                     "last page, line 4", "last page, line 5", "last page, line 6", "last page, line 7",
                     "last page, line 8", "last page, line 9"}, 2),
     0, lines_of("\x11" + std::string(7, '\0'), 12)),
    row("input ends in the middle", {"out.bin"}, "00 0010\n0011223344556677\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: ",
     summary(16, 0, 2, 0) + "Unexpected end of input\n", 4, std::nullopt),
    row("from a file, blank lines after", {"out.bin", "in.txt"}, "00 0009\n0011223344556677\n88\n\n \n",
     header_prompt + echo + " -- Last page --\nLine  0: " + echo + "Last line (1 bytes) : " + echo + done,
     summary(9, 0, 1, 1), 0, bytes("\x00\x11\x22\x33\x44\x55\x66\x77\x88")),
    row("from a file that goes on", {"out.bin", "in.txt"}, "00 0001\n88\n\n99\n",
     header_prompt + echo + " -- Last page --\nLast line (1 bytes) : " + echo + done,
     summary(1, 0, 0, 1) + "Warning: the input goes on after the end of the dump\n", 0, "\x88"),
    row("from a file that ends early", {"out.bin", "in.txt"}, "00 0010\n",
     header_prompt + echo + " -- Last page --\nLine  0: " + echo,
     summary(16, 0, 2, 0) + "Unexpected end of input\n", 4, std::nullopt),
    row("a short last line leaves its missing bytes 0", {"out.bin", "in.txt"}, typed_save("01 02 03"),
     header_prompt + echo + " -- Last page --\nLine  0: " + echo + line_prompt(1) + echo + "Last line (4 bytes) : " +
         echo + done,
     summary(20, 0, 2, 4) + "Warning: last line: 6 hex digits found, 8 expected (in.txt, line 4)\n"
         "Warning: the checksum does not hold: stored 0xFE07, computed 0xFE0B; the typed bytes add up -0x0004 off\n"
         "Warning: 1 line looked mistyped: last line\n",
     5, sound_save.substr(0, 19) + std::string(1, '\0')),
    row("more mistyped lines than are named", {"out.bin", "in.txt"}, "00 0060\n" + lines_of("00 00 00 00 00 00 00\n", 12),
     header_prompt + echo + " -- Last page --\n" + prompts_of_lines(12, echo) + done,
     twelve_short_lines_warned(), 5, std::string(96, '\0')),
    row("missing input file", {"out.bin", "nosuch.txt"}, "", "",
     no_input, 3, std::nullopt),
    row("directory as input file", {"out.bin", "."}, "", "", "Couldn't open file '.' for input: Is a directory\n", 3,
        std::nullopt),
    row("output in a missing folder", {"nofolder/out.bin"}, "00 0000\n", "",
     "Couldn't open file 'nofolder/out.bin' for output: No such file or directory\n", 1, std::nullopt),
    row("well-formed save is silent", {"out.bin"}, typed_save("01 02 03 04"), save_prompts + done, summary(20, 0, 2, 4),
     0, sound_save),
    row("save with a data digit typed 5 too high", {"out.bin"}, typed_save("01 52 03 04"), save_prompts + done,
     summary(20, 0, 2, 4) + "Warning: the checksum does not hold: stored 0xFE07, computed 0xFDB7; "
                            "the typed bytes add up +0x0050 off\n",
     5, sound_save.substr(0, 17) + "\x52" + sound_save.substr(18)),
    row("save with a name digit typed 3 too low", {"out.bin"},
     "00 0014\n14 00 07 FE 00 00 53 3E\n56 45 20 20 20 20 20 20\n01 02 03 04\n", save_prompts + done,
     summary(20, 0, 2, 4) + "Warning: the checksum does not hold: stored 0xFE07, computed 0xFE0A; "
                            "the typed bytes add up -0x0003 off\n",
     5, sound_save.substr(0, 7) + "\x3E" + sound_save.substr(8)),
    row("save with its checksum mistyped", {"out.bin"},
     "00 0014\n14 00 07 FB 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n", save_prompts + done,
     summary(20, 0, 2, 4) + "Warning: the checksum does not hold: stored 0xFB07, computed 0xFE07; "
                            "the typed bytes add up -0x0300 off\n",
     5, sound_save.substr(0, 3) + "\xFB" + sound_save.substr(4)),
    row("save with its size field mistyped", {"out.bin"},
     "00 0014\n41 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n", save_prompts + done,
     summary(20, 0, 2, 4) + "Warning: the size field says 65 bytes, the header of the dump says 20\n", 5,
     "\x41" + sound_save.substr(1)),
    row("save with both fields wrong is not judged", {"out.bin"},
     "00 0014\n41 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 05\n", save_prompts + done,
     summary(20, 0, 2, 4), 0, "\x41" + sound_save.substr(1, 18) + "\x05"),
    row("arguments swapped", {"in.txt", "out.bin"}, "00 0001\nAA\n", "",
     "Output file 'in.txt' holds text; it may be a typed dump, so it is left as it is\n", 1, std::nullopt),
    row("an image named first", {"in.txt", "nosuch.txt"}, bare_image, "",
     "Output file 'in.txt' is a backup memory image, so it is left as it is\n", 1, std::nullopt),
    row("an image in gzip named first", {"in.txt", "nosuch.txt"}, gzipped(bare_image), "",
     "Output file 'in.txt' is a backup memory image, so it is left as it is\n", 1, std::nullopt),
    row("a picture named first", {"in.txt", "nosuch.txt"}, png_start, "",
     "Output file 'in.txt' is a picture (PNG), so it is left as it is\n", 1, std::nullopt),
    row("a PNM picture named first", {"in.txt", "nosuch.txt"}, bytes("P5\n2 2\n255\n\x01\x02\x03\x04"), "",
     "Output file 'in.txt' is a picture (PNM), so it is left as it is\n", 1, std::nullopt),
    {"a dump file that starts as a BMP would is replaced", "sh",
     {"D out.bin in.txt > /dev/null 2>&1 && D out.bin in.txt > /dev/null 2>&1"},
     {{"in.txt", "00 0008\n42 4D 00 00 00 00 00 01\n"}}, "", "", "", 0, {{"out.bin", bytes("BM\0\0\0\0\0\x01")}}},
    row("typed text named alone", {"in.txt"}, "00 0001\r\n\tAA\n", "",
     "Output file 'in.txt' holds text; it may be a typed dump, so it is left as it is\n", 1, std::nullopt),
    row("typed text in UTF-16 named first", {"in.txt", "nosuch.txt"}, bytes("\xFF\xFE" "0\0" "0\0" "\n\0"), "",
     "Output file 'in.txt' holds text; it may be a typed dump, so it is left as it is\n", 1, std::nullopt),
    row("UTF-8 text with an en dash named first", {"in.txt", "nosuch.txt"}, "00 0001 \xE2\x80\x93 AA\n", "", text_refused, 1,
     std::nullopt),
    row("a text of one digit named first", {"in.txt", "nosuch.txt"}, "7", "", text_refused, 1, std::nullopt),
    row("an overlong three-byte form is no text", {"in.txt", "nosuch.txt"}, "00 \xE0\x80\xB0\n", "", no_input, 3,
     std::nullopt),
    row("UTF-8 text with an e acute named first", {"in.txt", "nosuch.txt"}, "00 0001 \xC3\xA9\n", "", text_refused, 1,
     std::nullopt),
    row("UTF-8 text with a byte order mark named first", {"in.txt", "nosuch.txt"}, "\xEF\xBB\xBF" "00 0001\n", "",
     text_refused, 1, std::nullopt),
    row("text with form feeds and vertical tabs named first", {"in.txt", "nosuch.txt"}, "00 0001\n\f\vAA\n", "",
     text_refused, 1, std::nullopt),
    row("big-endian UTF-16 with a mark named first", {"in.txt", "nosuch.txt"}, bytes("\xFE\xFF\0" "0\0\xE9\0\n"), "",
     text_refused, 1, std::nullopt),
    row("unmarked big-endian UTF-16 named first", {"in.txt", "nosuch.txt"}, bytes("\0" "0\0" "0\0\n"), "", text_refused,
     1, std::nullopt),
    row("unmarked little-endian UTF-16 with an e acute named first", {"in.txt", "nosuch.txt"},
     bytes("0\0\xE9\0\n\0"), "", text_refused, 1, std::nullopt),
    row("UTF-16 with a pair of surrogates named first", {"in.txt", "nosuch.txt"},
     bytes("0\0" "0\0\x3D\xD8\x00\xDE\n\0"), "", text_refused, 1, std::nullopt),
    row("UTF-8 text with the first three-byte character named first", {"in.txt", "nosuch.txt"}, "00 \xE0\xA0\x80\n", "",
     text_refused, 1, std::nullopt),
    row("UTF-8 text with a four-byte character named first", {"in.txt", "nosuch.txt"}, "00 \xF0\x9F\x98\x80\n", "",
     text_refused, 1, std::nullopt),
    row("UTF-16 with the first pair of surrogates named first", {"in.txt", "nosuch.txt"},
     bytes("0\0" "0\0\x00\xD8\x00\xDC\n\0"), "", text_refused, 1, std::nullopt),
    row("UTF-16 with the last pair of surrogates before the noncharacters named first", {"in.txt", "nosuch.txt"},
     bytes("0\0" "0\0\xFF\xDB\xFD\xDF\n\0"), "", text_refused, 1, std::nullopt),
    row("U+10FFFF in UTF-16 is no text", {"in.txt", "nosuch.txt"}, bytes("0\0" "0\0\xFF\xDB\xFF\xDF\n\0"), "",
     no_input, 3, std::nullopt),
    row("UTF-8 text with the character before the noncharacters named first", {"in.txt", "nosuch.txt"},
     "00 \xEF\xB7\x8F\n", "", text_refused, 1, std::nullopt),
    row("the first noncharacter of UTF-8 is no text", {"in.txt", "nosuch.txt"}, "00 \xEF\xB7\x90\n", "", no_input, 3,
        std::nullopt),
    row("U+FFFE in UTF-8 is no text", {"in.txt", "nosuch.txt"}, "00 \xEF\xBF\xBE\n", "", no_input, 3, std::nullopt),
    row("U+FFFF in UTF-8 is no text", {"in.txt", "nosuch.txt"}, "00 \xEF\xBF\xBF\n", "", no_input, 3, std::nullopt),
    row("UTF-16 with the last low surrogate named first", {"in.txt", "nosuch.txt"},
     bytes("0\0" "0\0\x00\xD8\xFF\xDF\n\0"), "", text_refused, 1, std::nullopt),
    row("UTF-16 with a mark and half its characters ASCII named first", {"in.txt", "nosuch.txt"},
     bytes("\xFF\xFE" "0\0\xE9\0"), "", text_refused, 1, std::nullopt),
    row("a surrogate written as UTF-8 is no text", {"in.txt", "nosuch.txt"}, "00 \xED\xA0\x80\n", "", no_input, 3,
     std::nullopt),
    row("UTF-16 with too few ASCII characters is no text", {"in.txt", "nosuch.txt"}, bytes("\0" "0\0\xE9\0\xE9"), "",
     no_input, 3, std::nullopt),
    row("a save is no text", {"in.txt", "nosuch.txt"}, worked_save, "", no_input, 3, std::nullopt),
    row("random bytes are no text", {"in.txt", "nosuch.txt"}, random_bytes(315, 7), "", no_input, 3, std::nullopt),
    row("16 random bytes are no text", {"in.txt", "nosuch.txt"}, random_bytes(16, 8), "", no_input, 3, std::nullopt),
    row("UTF-16 of an odd length is no text", {"in.txt", "nosuch.txt"}, bytes("0\0" "0\0\n"), "", no_input, 3,
     std::nullopt),
    row("a lone surrogate is no text", {"in.txt", "nosuch.txt"}, bytes("0\0\x00\xD8" "0\0"), "", no_input, 3,
     std::nullopt),
    row("a control byte is no text", {"in.txt", "nosuch.txt"}, "00 0001\x01\n", "", no_input, 3, std::nullopt),
    row("an overlong UTF-8 form is no text", {"in.txt", "nosuch.txt"}, "00 \xC0\xB0\n", "", no_input, 3, std::nullopt),
    row("a UTF-8 sequence cut short is no text", {"in.txt", "nosuch.txt"}, "00 0001\n\xE2\x80", "", no_input, 3,
     std::nullopt),
    row("an unknown option is refused", {"--verbose"}, "", "",
     "Unknown option '--verbose'; to name a file that begins with '-', write './--verbose'\n", 1, std::nullopt),
    row("an unknown option before an input", {"-o", "in.txt"}, "00 0001\nAA\n", "",
     "Unknown option '-o'; to name a file that begins with '-', write './-o'\n", 1, std::nullopt),
    {"a dump file named '-' is a file like any other", DUMPENTRY_PATH, {"-"}, {}, typed_save("01 02 03 04"),
     save_prompts + done, summary(20, 0, 2, 4), 0, {{"-", sound_save}}},
    row("a header one digit off the size field is said at line 0, once", {"out.bin"},
     "00 0015\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04 00\n",
     header_prompt + " -- Last page --\nLine  0: Line  1: Last line (5 bytes) : " + done,
     summary(21, 0, 2, 5) + "Warning: the size field says 20 bytes, the header of the dump says 21\n", 5,
     sound_save + std::string(1, '\0')),
    row("a page's header unlike the first is a header, the first holds", {"out.bin", "in.txt"},
     "00 0088\n" + eight_lines_0_to_7 + "\n00 00 89\n08 09 0A 0B 0C 0D 0E 0F\n",
     header_prompt + echo + page_of_prompts(0, echo) + " -- Last page --\n" + lines_of("Line  0: " + echo, 3) + done,
     summary(136, 1, 1, 0) + "Warning: last page: its header 00 00 89 is not the first page's, 00 00 88, which holds "
                             "(in.txt, line 19)\n", 0, page_bytes + "\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F"),
    row("six digits far from the header where a page starts are a short line", {"out.bin", "in.txt"},
     "00 0088\n" + eight_lines_0_to_7 + "\n01 02 03\n",
     header_prompt + echo + page_of_prompts(0, echo) + " -- Last page --\n" + lines_of("Line  0: " + echo, 2) + done,
     summary(136, 1, 1, 0) + "Warning: last page, line 0: 6 hex digits found, 16 expected (in.txt, line 19)\n" +
         mistyped({"last page, line 0"}),
     0, page_bytes + bytes("\x01\x02\x03\0\0\0\0\0")),
    row("a UTF-16 text counts its lines by characters", {"out.bin", "in.txt"},
     utf16_bytes(u"00 0010\n01 23 \uFF0A 45 67 89 AB CD EF\n01 23\n"),
     header_prompt + echo + " -- Last page --\nLine  0: " + echo + "Line  1: " + echo + done,
     summary(16, 0, 2, 0) + "Warning: last page, line 1: 4 hex digits found, 16 expected (in.txt, line 3)\n" +
         mistyped({"last page, line 1"}),
     0, bytes("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x01\x23\0\0\0\0\0\0")),
    row("output to a full disk", {"/dev/full", "in.txt"}, "00 0001\nAA\n",
     header_prompt + echo + " -- Last page --\nLast line (1 bytes) : " + echo,
     summary(1, 0, 0, 1) + "Couldn't write file '/dev/full'\n", 1, std::nullopt),
    {"the input named twice", DUMPENTRY_PATH, {"x.txt", "x.txt"}, {{"x.txt", typed_one}}, "", "",
     "Output file 'x.txt' is also the input file\n", 1, {}},
    {"the input named twice by two names", DUMPENTRY_PATH, {"./x.txt", "x.txt"}, {{"x.txt", typed_one}}, "", "",
     "Output file './x.txt' is also the input file\n", 1, {}},
    {"the input by a second hard link", DUMPENTRY_PATH, {"link.txt", "x.txt"}, {{"x.txt", typed_one}}, "", "",
     "Output file 'link.txt' is also the input file\n", 1, {{"link.txt", typed_one}}, {}, "ln x.txt link.txt"},
};

RUN_TABLE(dumpentry_runs, cases)

// The largest dump, typed with mixed separators and case, gives what xxd gives for its digits.
TEST(dumpentry, largest_dump_matches_xxd)
{
    scratch_dir dir;
    std::string bytes = random_bytes(65535, 1);
    std::string typed = typed_dump(bytes);
    write_file(dir / "in.txt", typed);
    std::string digits;
    for (char c : typed.substr(typed.find('\n') + 1))
        if (isxdigit(static_cast<unsigned char>(c)))
            digits += c;
    write_file(dir / "digits.txt", digits);

    run_result result = run_program(dumpentry, {"out.bin", "in.txt"}, "", dir.path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, summary(65535, 511, 15, 7));
    ASSERT_EQ(system(("cd " + dir.path.string() + " && xxd -r -p digits.txt xxd.bin").c_str()), 0);
    EXPECT_EQ(read_file(dir / "xxd.bin"), bytes);
    EXPECT_EQ(read_file(dir / "out.bin"), bytes);
}

} // namespace

namespace {

// The shipped example transcribes cleanly to the dump file shipped beside it, saved as UTF-8
// or as UTF-16 of either byte order, with or without a byte order mark.
TEST(dumpentry, shipped_example)
{
    scratch_dir dir;
    std::string text = read_file(EXAMPLES_DIR "/save.txt");
    std::string little = "\xFF\xFE", big;
    for (char c : text) {
        little += std::string{c, '\0'};
        big += std::string{'\0', c};
    }
    write_file(dir / "utf8.txt", text);
    write_file(dir / "little.txt", little);
    write_file(dir / "big.txt", big);
    for (const char *name : {"utf8.txt", "little.txt", "big.txt"}) {
        run_result result = run_program(dumpentry, {"save.bin", name}, "", dir.path);
        EXPECT_EQ(result.status, 0) << name;
        EXPECT_EQ(result.err, summary(315, 2, 7, 3)) << name;
        EXPECT_EQ(read_file(dir / "save.bin"), read_file(EXAMPLES_DIR "/save.bin")) << name;
    }
}

// With both streams in one log, each line stands where it happened.
TEST(dumpentry, piped_log_keeps_the_order)
{
    scratch_dir dir;
    write_file(dir / "in.txt", "00 0009\n0011\n88\n");
    std::string command = "cd " + dir.path.string() + " && " + dumpentry + " out.bin in.txt 2>&1 | cat > log";
    ASSERT_EQ(system(command.c_str()), 0);
    EXPECT_EQ(read_file(dir / "log"),
              header_prompt + echo + summary(9, 0, 1, 1) + " -- Last page --\nLine  0: " + echo +
                  "Warning: last page, line 0: 4 hex digits found, 16 expected (in.txt, line 2)\n"
                  "Last line (1 bytes) : " + echo + mistyped({"last page, line 0"}) + done);
}

} // namespace
