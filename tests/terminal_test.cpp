// dumpentry at a real terminal, through a pseudo-terminal: each prompt must be on screen before
// the program waits for the answer, so the test types a line only once it has seen the prompt
// for it, as a person does.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

const std::string left = "\x1b[D", backspace = "\x7f", ctrl_c = "\x03";
const std::string right = "\x1b[C", home = "\x1b[H", end = "\x1bOF", delete_key = "\x1b[3~";
// Keys that must add nothing to a line: F1 (SS3), F5 to F12, Insert, Page Up and Down, Alt+1,
// Ctrl+Up.
const std::string keys_adding_nothing = "\x1bOP\x1b[15~\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~"
                                        "\x1b[2~\x1b[5~\x1b[6~\x1b" "1\x1b[1;5A";
const std::string mend_prompt = "Line to type again, or Enter to keep the dump: ";
const std::string holds_now = "The size field and the checksum hold now";
const std::string kept_note = "The lines typed are kept in 'save.bin.txt': run 'dumpentry save.bin' again to go on";
const std::string header_again = "Type the header again, or Enter to keep the header: ";

// worked_save typed, with the last line as given; and its transcript.
dialogue typing_save(const std::string &last_line)
{
    return {{header_prompt, "00 00 14\n"},
            {"Line  0: ", "14 00 07 FE 00 00 53 41\n"},
            {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
            {"Last line (4 bytes) : ", last_line + "\n"}};
}

std::string save_transcript(const std::string &last_line)
{
    return "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n" + last_line + "\n";
}

// The same typed by hand into a text file.
std::string typed_save_text(const std::string &last_line)
{
    return "00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n" + last_line + "\n";
}

// A backup memory file of 136 bytes (a full page, then one line), or of size, its checksum
// holding.
std::string long_save(size_t size = 136)
{
    std::string pattern(size, '\0');
    for (size_t k = 0; k < size; k++)
        pattern[k] = static_cast<char>(k * 7);
    return bram_file(pattern.substr(6, 10), pattern.substr(16));
}

// Lines first to 15 of page 0 of long_save, each typed at its prompt.
dialogue long_save_lines(int first)
{
    dialogue lines;
    for (int line = first; line < 16; line++)
        lines.push_back({line_prompt(line), pairs_of(long_save(), static_cast<size_t>(line) * 8, 8) + "\n"});
    return lines;
}

// long_save typed, line 3 of page 0 with its first byte given instead.
dialogue typing_long_save(const std::string &line_3)
{
    std::string save = long_save();
    dialogue lines = dialogue{{header_prompt, "00 00 88\n"}} + long_save_lines(0);
    lines[4].second = line_3 + "\n";
    lines.push_back({" -- Last page --", ""});
    lines.push_back({"Line  0: ", pairs_of(save, 128, 8) + "\n"});
    return lines;
}

std::string long_transcript(const std::string &line_3)
{
    std::string save = long_save(), text = "00 00 88\n";
    for (size_t line = 0; line < 16; line++)
        text += (line == 3 ? line_3 : pairs_of(save, line * 8, 8)) + "\n";
    return text + "\n00 00 88\n" + pairs_of(save, 128, 8) + "\n";
}

// long_save(size) typed into a text, line 3 of page 0 as zeros where zeroed says so.
std::string long_text(size_t size, bool zeroed)
{
    std::string save = long_save(size), text = "00 00 " + pairs_of(std::string(1, static_cast<char>(size)), 0, 1) + "\n";
    for (size_t line = 0; line < 16; line++)
        text += (line == 3 && zeroed ? "00 00 00 00 00 00 00 00" : pairs_of(save, line * 8, 8)) + "\n";
    return text + (size > 128 ? pairs_of(save, 128, size - 128) + "\n" : "");
}

const std::string earlier_dump = "an earlier dump\x01";

// bytes with line 3 of page 0 as typed in pairs.
std::string with_line_3(std::string bytes, const std::string &pairs)
{
    for (size_t k = 0; k < 8; k++)
        bytes[24 + k] = static_cast<char>(std::stoi(pairs.substr(3 * k, 2), nullptr, 16));
    return bytes;
}

// UTF-16 little-endian text with each pair of bytes swapped: big-endian, its mark too.
std::string big_endian(std::string text)
{
    for (size_t k = 0; k + 1 < text.size(); k += 2)
        std::swap(text[k], text[k + 1]);
    return text;
}

const std::string wrong_line_3 = "FF" + pairs_of(long_save(), 25, 7).insert(0, " ");

// A row: dumpentry at a terminal, the keys typed as the dialogue says, once the text before
// them is on screen. After the dialogue: the status, the files, the terminal put back as it
// was, and a transcript that gives the same dump again when named as the input.
run_case row(const char *name, const std::vector<std::string> &args, const std::map<std::string, std::string> &files,
             const dialogue &lines, int status, const std::map<std::string, std::optional<std::string>> &after,
             const char *setup = "", int log = 0)
{
    return {name, DUMPENTRY_PATH, args, files, "", std::nullopt, std::nullopt, status, after, lines, setup, log};
}

const run_case cases[] = {
    row("prompts show before each answer", {"save.bin"}, {},
     {{"What you type is kept in 'save.bin.txt'", ""}, {header_prompt, "00 00 12\n"}, {" -- Last page --", ""},
      {"Line  0: ", "\n"}, {"Line  0: ", "01 23 45 67 89 ab CD ef\n"}, {"Line  1: ", "fe-dc-ba-98-76-54-32-10\n"},
      {"Last line (2 bytes) : ", "A5 5a\n"}, {" ** DONE **", ""}},
     0,
     {{"save.bin", "\x01\x23\x45\x67\x89\xAB\xCD\xEF\xFE\xDC\xBA\x98\x76\x54\x32\x10\xA5\x5A"},
      {"save.bin.txt", "00 00 12\n01 23 45 67 89 AB CD EF\nFE DC BA 98 76 54 32 10\nA5 5A\n"}}),
    row("a mistyped line is asked again: the right answer or the same again stands", {"save.bin"}, {},
     {{header_prompt, "00 00 9\n"}, {"Warning: header: 5 hex digits found, 6 expected", ""},
      {header_prompt, "00 00 09\n"}, {"Line  0: ", "01 23 45 67 89 ab CD e\n"},
      {"Warning: last page, line 0: 15 hex digits found, 16 expected", ""}, {"Line  0: ", "01 23 45 6\n"},
      {"Warning: last page, line 0: 7 hex digits found, 16 expected", ""}, {"Line  0: ", "01 23 45 67 89 ab CD ef\n"},
      {"Last line (1 bytes) : ", "Z1\n"}, {"Warning: last line: 'Z' is not a hex digit", ""},
      {"Last line (1 bytes) : ", "z 1\n"}, {"Warning: 1 line looked mistyped: last line", ""}, {" ** DONE **", ""}},
     0, {{"save.bin", std::string("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x00", 9)},
         {"save.bin.txt", "00 00 09\n01 23 45 67 89 AB CD EF\nZ1\n"}}),
    row("the editing keys mend a digit where it stands", {"save.bin"}, {},
     {{header_prompt, "00 00 08\n"}, {"Line  0: ", "12 34 56 78 9A BC DE F0" + left + left + left + left + backspace + "7\n"},
      {" ** DONE **", ""}},
     0, {{"save.bin", "\x12\x34\x56\x78\x9A\xBC\x7E\xF0"}, {"save.bin.txt", "00 00 08\n12 34 56 78 9A BC 7E F0\n"}}),
    row("no function key types a digit; Home, End and Delete edit", {"save.bin"}, {},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 4" + keys_adding_nothing + "\n"},
      {"Warning: last page, line 0: 15 hex digits found, 16 expected", ""},
      {"Line  0: ", "X4 00 07 FE 00 00 53 41" + home + delete_key + "1" + end + "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a digit not read is asked again at once, what was read ready to mend", {"save.bin"}, {},
     {{header_prompt, "?? ?? 14\n"}, {"Warning: header: 4 digits not read", ""}, {header_prompt, "00 00 14\n"},
      {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 ?2 03 04\n"}, {"Warning: last line: 1 digit not read", ""},
      {"Last line (4 bytes) : 01 ?2 03 04", home + right + right + right + delete_key + "0\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a line of digits not read kept as it was read: zeros, status 5", {"save.bin"}, {},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"},
      {"Line  1: ", "?? ?? ?? ?? ?? ?? ?? ??\n"}, {"Warning: last page, line 1: 16 digits not read", ""},
      {"Line  1: ?? ?? ?? ?? ?? ?? ?? ??", "\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {"Warning: 1 line looked mistyped: last page, line 1", ""}, {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 8) + std::string(8, '\0') + worked_save.substr(16)},
         {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n?? ?? ?? ?? ?? ?? ?? ??\n01 02 03 04\n"}}),
    row("a new page in the transcript starts with the header again", {"save.bin"}, {},
     typing_long_save(pairs_of(long_save(), 24, 8)) + dialogue{{" ** DONE **", ""}}, 0,
     {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}),
    row("Ctrl-C keeps the earlier dump and every line typed", {"save.bin"}, {{"save.bin", earlier_dump}},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {"Line  1: ", "56 45" + ctrl_c},
      {"\n" + kept_note, ""}}, 128 + 2,
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}}),
    row("going on from where a session stopped", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}},
     {{"'save.bin.txt' keeps what was typed before: 1 line, the last one '14 00 07 FE 00 00 53 41'", ""},
      {"Go on from there? [Y/n] ", "\n"},
      {"1 line kept; going on at last page, line 1\nLine  0: 14 00 07 FE 00 00 53 41\nLine  1: ",
       "56 45 20 20 20 20 20 20\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a line typed after going on is mended in the transcript", {"save.bin"},
     {{"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}},
     {{"Go on from there? [Y/n] ", "\n"}, {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 52 03 04\n"}, {mend_prompt, "last line\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("going on from a transcript cut off after a line end was lost", {"save.bin"},
     {{"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41"}},
     {{"Go on from there? [Y/n] ", "y\n"}, {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("no: nothing changes", {"save.bin"}, {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}},
     {{"Go on from there? [Y/n] ", "No\n"},
      {"Nothing was changed. To start again, move 'save.bin.txt' away, then run dumpentry again", ""}},
     1, {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}}),
    row("a whole transcript gives the dump with no line asked", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 02 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {" ** DONE **", ""}}, 0,
     {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("an empty transcript counts as none", {"save.bin"}, {{"save.bin.txt", "\n \n"}},
     typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}}, 0,
     {{"save.bin", worked_save}, {"save.bin.txt", "\n \n" + save_transcript("01 02 03 04")}}),
    row("no transcript where none can be written", {"save.bin"}, {},
     dialogue{{"Warning: Couldn't keep what you type in 'save.bin.txt': No such file or directory; the dump goes on "
               "without it", ""}} + typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}},
     0, {{"save.bin", worked_save}}, "ln -s nofolder/x save.bin.txt"),
    row("no transcript in a folder or a named pipe", {"save.bin"}, {},
     dialogue{{"Warning: Couldn't keep what you type in 'save.bin.txt': it is no regular file; the dump goes on "
               "without it", ""}} + typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}},
     0, {{"save.bin", worked_save}}, "mkfifo save.bin.txt"),
    row("mending the last line", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{"the typed bytes add up +0x0050 off", ""}, {mend_prompt, "last line\n"},
                  {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""},
                  {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("mending by the words the warnings print, shown as it was typed", {"save.bin"}, {},
     typing_save("01 52 03 4") +
         dialogue{{"Warning: last line: 7 hex digits found, 8 expected", ""}, {"Last line (4 bytes) : ", "01 52 03 4\n"},
                  {mend_prompt, "Last page, line 0\n"}, {"Typed before: 14 00 07 FE 00 00 53 41", ""},
                  {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {mend_prompt, "page 0 line 0\n"},
                  {"This dump has no page 0, line 0", ""}, {mend_prompt, "last linen\n"}, {"names no line", ""},
                  {mend_prompt, "last line\n"}, {"Typed before: 01 52 03 4", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""},
                  {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a line that is not there, then Enter keeps the dump", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{mend_prompt, "9 9\n"}, {"This dump has no page 9, line 9", ""}, {mend_prompt, "12345\n"},
                  {"This dump has no page 12345", ""}, {mend_prompt, "last 2\n"},
                  {"This dump has no last page, line 2", ""}, {mend_prompt, "line 2\n"}, {"names no line", ""},
                  {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}),
    row("mending a line by page and line, then by last page and line", {"save.bin"}, {},
     typing_long_save(wrong_line_3) +
         dialogue{{mend_prompt, "last 0\n"}, {"Line  0: ", pairs_of(long_save(), 128, 8) + "\n"},
                  {"Warning: the checksum does not hold", ""}, {mend_prompt, "0 3\n"},
                  {"Typed before: " + wrong_line_3, ""}, {"Line  3: ", pairs_of(long_save(), 24, 8) + "\n"},
                  {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}),
    row("mending a whole page", {"save.bin"}, {},
     typing_long_save(wrong_line_3) + [] {
         return dialogue{{mend_prompt, "0\n"}} + long_save_lines(0) + dialogue{{holds_now, ""}, {" ** DONE **", ""}};
     }(),
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}),
    row("a named text with CRLF is mended at its line", {"save.bin", "in.txt"},
     {{"in.txt", "00 0014\r\n14 00 07 FE 00 00 53 41\r\n\r\n56 45 20 20 20 20 20 20\r\n01 52 03 04\r\n"}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", std::nullopt},
         {"in.txt", "00 0014\r\n14 00 07 FE 00 00 53 41\r\n\r\n56 45 20 20 20 20 20 20\r\n01 02 03 04\r\n"}}),
    row("a UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"00 0014\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n01 52 03 04\r\n")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"00 0014\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n01 02 03 04\r\n")}}),
    row("an unmarked UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n").substr(2)}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n").substr(2)}}),
    row("a big-endian UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", big_endian(utf16_bytes(u"00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n"))}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", big_endian(utf16_bytes(u"00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n"))}}),
    row("a text with a second hard link is not mended", {"save.bin", "in.txt"},
     {{"in.txt", typed_save_text("01 52 03 04")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {"Warning: 'in.txt' is left as it was: it has 2 hard links, which a new file would split", ""},
      {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"in.txt", typed_save_text("01 52 03 04")},
         {"second.txt", typed_save_text("01 52 03 04")}}, "ln in.txt second.txt"),
    row("a text that cannot be written is left as it was", {"save.bin", "in.txt"},
        {{"in.txt", typed_save_text("01 52 03 04")}},
        {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
         {"Warning: Couldn't write the line again into 'in.txt'", ""}, {holds_now, ""}, {" ** DONE **", ""}},
        0, {{"save.bin", worked_save}}, "chmod 444 in.txt"),
    row("a dump of full pages has no last page to mend", {"save.bin", "in.txt"},
     {{"in.txt", long_text(128, true)}},
     {{mend_prompt, "last\n"}, {"This dump has no last page", ""}, {mend_prompt, "1\n"},
      {"This dump has no page 1", ""}, {mend_prompt, "0 3\n"},
      {"Line  3: ", pairs_of(long_save(128), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save(128)}, {"in.txt", long_text(128, false)}}),
    row("a last page of one byte is mended as a page", {"save.bin", "in.txt"},
     {{"in.txt", long_text(129, true)}},
     {{mend_prompt, "last\n"}, {"Typed before: " + pairs_of(long_save(129), 128, 1), ""},
      {"Last line (1 bytes) : ", pairs_of(long_save(129), 128, 1) + "\n"}, {mend_prompt, "0 3\n"},
      {"Line  3: ", pairs_of(long_save(129), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save(129)}, {"in.txt", long_text(129, false)}}),
    row("Ctrl-D while a line is mended keeps the dump", {"save.bin"}, {},
     typing_save("01 52 03 04") + dialogue{{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "\x04"},
                                           {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}),
    row("Ctrl-D while a page is mended keeps the dump", {"save.bin"}, {},
     typing_long_save(wrong_line_3) +
         dialogue{{mend_prompt, "0\n"}, {" -- Page 0 --\nTyped before: ", ""},
                  {"Line  0: ", pairs_of(long_save(), 0, 8) + "\n"}, {"Line  1: ", "\x04"}, {" ** DONE **", ""}},
     5, {{"save.bin", with_line_3(long_save(), wrong_line_3)}, {"save.bin.txt", long_transcript(wrong_line_3)}}),
    row("Ctrl-D at a prompt ends the input", {"save.bin"}, {{"save.bin", earlier_dump}},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "\x04"},
      {"\nUnexpected end of input\n" + kept_note, ""}}, 4,
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}}),
    row("the rest of a line too long for one prompt answers the next", {"save.bin"}, {},
     {{header_prompt, "00 00 14\n"},
      {"Line  0: ", "14 00 07 FE 00 00 53 41" + std::string(240, ' ') + "56 45 20 20 20 20 20 20\n"},
      {"Line  1: ", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a transcript of one digit is what was typed before", {"save.bin"}, {{"save.bin.txt", "0\n"}},
     {{"'save.bin.txt' keeps what was typed before: the header '0'", ""}, {"Go on from there? [Y/n] ", "n\n"}}, 1,
     {{"save.bin.txt", "0\n"}, {"save.bin", std::nullopt}}),
    row("an answer longer than a line", {"save.bin"}, {{"save.bin.txt", "00 00 14\n"}},
     {{"Go on from there? [Y/n] ", std::string(300, 'x') + "\n"}, {"Go on from there? [Y/n] ", "n\n"}}, 1,
     {{"save.bin.txt", "00 00 14\n"}, {"save.bin", std::nullopt}}),
    row("a line number of six digits, or three numbers, name no line", {"save.bin"}, {},
     typing_save("01 52 03 04") + dialogue{{mend_prompt, "0 000001\n"}, {"'0 000001' names no line", ""},
                                           {mend_prompt, "0 1 2\n"}, {"'0 1 2' names no line", ""},
                                           {mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
                                           {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("line names of two digits, spaces around", {"save.bin"}, {},
     typing_long_save(wrong_line_3) +
         dialogue{{mend_prompt, "0 13\n"}, {"Line 13: ", pairs_of(long_save(), 104, 8) + "\n"},
                  {"Warning: the checksum does not hold", ""}, {mend_prompt, "  0   3 \n"},
                  {"Line  3: ", pairs_of(long_save(), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}),
    row("going on from a whole transcript, then mending a line", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {"3 lines kept; the dump is complete", ""}, {mend_prompt, "0 3\n"},
      {"This dump has no page 0, line 3", ""}, {mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("going on, then a page mended, Enter keeping its lines as they were", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, "last\n"}, {"Line  0: ", "\n"}, {"Line  1: ", "\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("going on, then Ctrl-D at the question keeps the dump", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, "\x04"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}),
    row("going on, then Ctrl-C at the question changes nothing", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, ctrl_c}, {"\n" + kept_note, ""}},
     128 + 2, {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}}),
    row("what a paste leaves does not answer the question", {"save.bin"}, {},
     {{header_prompt, typed_save_text("01 52 03 04") + "\nlast line\n\n"}, {mend_prompt, "last line\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("with standard output in a log the questions stay on screen", {"save.bin", "in.txt"},
     {{"in.txt", typed_save_text("01 52 03 04")}},
     {{mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {holds_now, ""}},
     0, {{"save.bin", worked_save}, {"in.txt", typed_save_text("01 02 03 04")},
         {"log.txt", header_prompt + "read from file\n -- Last page --\nLine  0: read from file\nLine  1: read from "
                     "file\nLast line (4 bytes) : read from file\n ** DONE **\n" + contact_banner}}, "", 1),
    row("with standard error in a log the questions stay on screen", {"save.bin", "in.txt"},
     {{"in.txt", typed_save_text("01 52 03 04")}},
     {{mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {holds_now, ""}},
     0, {{"save.bin", worked_save}, {"in.txt", typed_save_text("01 02 03 04")},
         {"log.txt", "Encoding: 0\nSize of data: 20 bytes\nFull pages: 0\nRemaining full lines: 2\nRemaining bytes: "
                     "4\nWarning: the checksum does not hold: stored 0xFE07, computed 0xFDB7; the typed bytes add up "
                     "+0x0050 off\n"}}, "", 2),
    row("a header one digit off the size field is typed again at line 0", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"},
      {"Warning: the size field says 20 bytes, the header of the dump says 21", ""}, {header_again, "00 00 14\n"},
      {"Size of data: 20 bytes", ""}, {" -- Last page --\nLine  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a header typed again at line 0 is asked again when mistyped", {"save.bin"}, {},
     {{header_prompt, "00 01 14\n"}, {" -- Page 0 --\nLine  0: ", "14 00 07 FE 00 00 53 41\n"},
      {header_again, "00 00 4\n"},
      {"Warning: header: 5 hex digits found, 6 expected", ""}, {header_again, "00 00 14\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a header typed again still one digit off is asked again, then page 0 goes on", {"save.bin"}, {},
     [] {
         dialogue lines = {{header_prompt, "00 00 89\n"}, {"Line  0: ", pairs_of(long_save(), 0, 8) + "\n"},
                           {"the header of the dump says 137", ""}, {header_again, "00 00 98\n"},
                           {"Size of data: 152 bytes", ""}, {"the header of the dump says 152", ""},
                           {header_again, "00 00 88\n"}, {"Size of data: 136 bytes", ""}};
         dialogue page_0 = long_save_lines(1);
         page_0[0].first = " -- Page 0 --\n" + page_0[0].first;
         return lines + page_0 + dialogue{{" -- Last page --\nLine  0: ", pairs_of(long_save(), 128, 8) + "\n"},
                                 {" ** DONE **", ""}};
     }(),
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}),
    row("a header typed again that the size field is far from is warned of at the end", {"save.bin"}, {},
     [] {
         dialogue lines = {{header_prompt, "00 00 89\n"}, {"Line  0: ", pairs_of(long_save(), 0, 8) + "\n"},
                           {header_again, "00 00 99\n"}};
         lines = lines + long_save_lines(1);
         lines.push_back({" -- Last page --\nLine  0: ", pairs_of(long_save(), 128, 8) + "\n"});
         for (const char *prompt : {"Line  1: ", "Line  2: "})
             lines.push_back({prompt, "00 00 00 00 00 00 00 00\n"});
         return lines + dialogue{{"Last line (1 bytes) : ", "00\n"},
                                 {"the size field says 136 bytes, the header of the dump says 153", ""},
                                 {mend_prompt, "\n"}, {" ** DONE **", ""}};
     }(),
     5, {{"save.bin", long_save() + std::string(17, '\0')},
         {"save.bin.txt", [] {
              std::string text = long_transcript(pairs_of(long_save(), 24, 8));
              for (size_t at = text.find("00 00 88"); at != std::string::npos; at = text.find("00 00 88", at))
                  text.replace(at, 8, "00 00 99");
              return text + "00 00 00 00 00 00 00 00\n00 00 00 00 00 00 00 00\n00\n";
          }()}}),
    row("a header kept one digit off is mended at the end, the last line cut to it", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {header_again, "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (5 bytes) : ", "01 02 03 04 00\n"},
      {mend_prompt, "header\n"}, {header_again, "\n"}, {mend_prompt, "Header\n"}, {header_again, "00 00 14\n"},
      {"Size of data: 20 bytes", ""}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a header kept one digit off is mended at the end, the line missing asked", {"save.bin"}, {},
     {{header_prompt, "00 00 10\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"},
      {"Warning: the size field says 20 bytes, the header of the dump says 16", ""}, {header_again, "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {mend_prompt, "header\n"}, {header_again, "00 00 14\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("a header of a text mended at the end", {"save.bin", "in.txt"},
     {{"in.txt", "00 0015\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04 00\n"}},
     {{mend_prompt, "header\n"}, {header_again, "00 00 14\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n"}}),
    row("a header of a marked UTF-16 text with CRLF mended at the end, the line missing added, then mended",
     {"save.bin", "in.txt"}, {{"in.txt", utf16_bytes(u"00 0010\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n")}},
     {{mend_prompt, "header\n"}, {header_again, "00 00 14\n"}, {"Last line (4 bytes) : ", "01 52 03 04\n"},
      {mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"00 00 14\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n01 02 03 04\r\n")}}),
    row("an unknown encoding typed at the end ends the run", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {header_again, "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (5 bytes) : ", "01 02 03 04 00\n"},
      {mend_prompt, "header\n"}, {header_again, "01 00 14\n"}, {"Unknown encoding (1)", ""}},
     2, {{"save.bin", std::nullopt},
         {"save.bin.txt", "00 00 15\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04 00\n"}}),
    row("going on from a header kept one digit off, it is asked again at the terminal", {"save.bin"},
     {{"save.bin.txt", "00 00 15\n14 00 07 FE 00 00 53 41\n"}},
     {{"Go on from there? [Y/n] ", "\n"}, {"Warning: the size field says 20 bytes, the header of the dump says 21", ""},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Warning: the size field says 20 bytes, the header of the dump says 21", ""}, {header_again, "00 00 14\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}),
    row("Enter keeps a header one digit off", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {header_again, "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (5 bytes) : ", "01 02 03 04 00\n"}, {mend_prompt, "\n"},
      {" ** DONE **", ""}},
     5, {{"save.bin", worked_save + std::string(1, '\0')},
         {"save.bin.txt", "00 00 15\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04 00\n"}}),
    row("a UTF-16 text counts its lines by characters when a line is mended", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE \uFF0A 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE \uFF0A 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n")}}),
    row("an unmarked UTF-16 text that starts beyond ASCII is mended in its encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"\u3042 00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n", false)}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"\u3042 00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n",
                                false)}}),
    row("the mending help fits 80 columns", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{"To type a line again, name it as the prompts do: '3 12' is page 3, line 12;\n"
                   "'last 2' is line 2 of the last page; 'last line' is the last line; a page\n"
                   "alone ('3' or 'last') asks each of its lines in turn, and Enter there keeps\n"
                   "a line as it was. The dump file and the text the line came from change with it.\n"
                   "'header' asks the header again, and the dump is made again under it.\n", ""},
                  {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}),
    row("a pasted block with a short line stays in step", {"save.bin"}, {},
     {{header_prompt, "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20\n01 02 03 04\n"},
      {"Warning: last page, line 1: 8 hex digits found, 16 expected", ""},
      {"Warning: 1 line looked mistyped: last page, line 1", ""}, {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 12) + std::string(4, '\0') + worked_save.substr(16)},
         {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20\n01 02 03 04\n"}}),
};

RUN_TABLE(terminal_runs, cases)

} // namespace
