// dumpentry at a real terminal, through a pseudo-terminal: each prompt must be on screen before
// the program waits for the answer, so the test types a line only once it has seen the prompt
// for it, as a person does.
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "harness.h"

namespace {

struct terminal_session {
    int master = -1;
    pid_t child = -1;
    std::string screen;
    size_t seen = 0; // how much of screen has been matched already
};

bool start_at_terminal(terminal_session &session, const std::vector<std::string> &args, const std::string &cwd,
                       bool log)
{
    session.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (session.master < 0 || grantpt(session.master) != 0 || unlockpt(session.master) != 0)
        return false;
    std::string slave_name = ptsname(session.master);
    session.child = fork();
    if (session.child == 0) {
        setsid();
        int slave = open(slave_name.c_str(), O_RDWR);
        if (slave < 0 || chdir(cwd.c_str()) != 0)
            _exit(126);
        dup2(slave, 0);
        dup2(slave, 1);
        dup2(slave, 2);
        close(slave);
        if (log) {
            int file = open("log.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(file, 1);
            close(file);
        }
        close(session.master);
        setenv("TERM", "xterm", 1);
        std::vector<char *> argv{const_cast<char *>(DUMPENTRY_PATH)};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        alarm(60);
        execv(DUMPENTRY_PATH, argv.data());
        _exit(127);
    }
    return session.child > 0;
}

// Reads the screen until text appears after what was matched before; false after 10 s.
bool wait_for(terminal_session &session, const std::string &text)
{
    for (;;) {
        size_t found = session.screen.find(text, session.seen);
        if (found != std::string::npos) {
            session.seen = found + text.size();
            return true;
        }
        pollfd ready{session.master, POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0)
            return false;
        char chunk[512];
        ssize_t count = read(session.master, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        session.screen.append(chunk, static_cast<size_t>(count));
    }
}

// Editing keys and Ctrl-D mean something only once the line editor has the terminal out of its line
// mode; typed before, the terminal itself would take them.
void wait_for_line_editor(const terminal_session &session)
{
    struct termios terminal;
    for (int tries = 0; tries < 200; tries++) {
        if (tcgetattr(session.master, &terminal) == 0 && !(terminal.c_lflag & ICANON))
            return;
        usleep(10000);
    }
}

// What the program shows, and the keys typed once it is on screen, sent at once ("": none).
using dialogue = std::vector<std::pair<std::string, std::string>>;

const std::string header_prompt = "Enter the header of the dump (available on all page) :";
const std::string left = "\x1b[D", backspace = "\x7f", ctrl_c = "\x03";
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

dialogue operator+(dialogue first, const dialogue &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A backup memory file of 136 bytes (a full page, then one line), or of size, its checksum
// holding.
std::string long_save(size_t size = 136)
{
    std::string file(size, '\0');
    file[0] = static_cast<char>(size);
    for (size_t k = 6; k < size; k++)
        file[k] = static_cast<char>(k * 7);
    unsigned sum = 0;
    for (size_t k = 4; k < size; k++)
        sum += static_cast<unsigned char>(file[k]);
    unsigned checksum = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    file[2] = static_cast<char>(checksum & 0xFF);
    file[3] = static_cast<char>(checksum >> 8);
    return file;
}

std::string pairs_of(const std::string &bytes, size_t from, size_t count)
{
    std::string text;
    for (size_t k = from; k < from + count; k++) {
        char pair[4];
        snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bytes[k]));
        text += (k > from ? " " : "") + std::string(pair);
    }
    return text;
}

// long_save typed, line 3 of page 0 with its first byte given instead.
dialogue typing_long_save(const std::string &line_3)
{
    std::string save = long_save();
    dialogue lines = {{header_prompt, "00 00 88\n"}};
    for (size_t line = 0; line < 16; line++) {
        std::string prompt = (line < 10 ? "Line  " : "Line ") + std::to_string(line) + ": ";
        lines.push_back({prompt, (line == 3 ? line_3 : pairs_of(save, line * 8, 8)) + "\n"});
    }
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

const std::string earlier_dump = "an earlier dump\x01";

// UTF-16 little-endian text with each pair of bytes swapped: big-endian, its mark too.
std::string big_endian(std::string text)
{
    for (size_t k = 0; k + 1 < text.size(); k += 2)
        std::swap(text[k], text[k + 1]);
    return text;
}

// The text as UTF-16, little-endian, with its byte order mark.
std::string utf16(const std::string &text)
{
    std::string wide = "\xFF\xFE";
    for (char c : text)
        wide += std::string{c, '\0'};
    return wide;
}
const std::string wrong_line_3 = "FF" + pairs_of(long_save(), 25, 7).insert(0, " ");

struct terminal_case {
    const char *name;
    std::vector<std::string> args;
    std::map<std::string, std::string> files; // made before the run
    dialogue lines;
    int status; // exit status, or 128 + signal number
    std::map<std::string, std::optional<std::string>> after; // nullopt: must not exist
    const char *setup = ""; // a shell command run in the folder once the files are made
    bool log = false;       // standard output goes to log.txt, not to the terminal
};

const terminal_case cases[] = {
    {"prompts show before each answer", {"save.bin"}, {},
     {{"What you type is kept in 'save.bin.txt'", ""}, {header_prompt, "00 00 12\n"}, {" -- Last page --", ""},
      {"Line  0: ", "\n"}, {"Line  0: ", "01 23 45 67 89 ab CD ef\n"}, {"Line  1: ", "fe-dc-ba-98-76-54-32-10\n"},
      {"Last line (2 bytes) : ", "A5 5a\n"}, {" ** DONE **", ""}},
     0,
     {{"save.bin", "\x01\x23\x45\x67\x89\xAB\xCD\xEF\xFE\xDC\xBA\x98\x76\x54\x32\x10\xA5\x5A"},
      {"save.bin.txt", "00 00 12\n01 23 45 67 89 AB CD EF\nFE DC BA 98 76 54 32 10\nA5 5A\n"}}},
    {"a mistyped line is asked again: the right answer or the same again stands", {"save.bin"}, {},
     {{header_prompt, "00 00 9\n"}, {"Warning: header: 5 hex digits found, 6 expected", ""},
      {header_prompt, "00 00 09\n"}, {"Line  0: ", "01 23 45 67 89 ab CD e\n"},
      {"Warning: last page, line 0: 15 hex digits found, 16 expected", ""}, {"Line  0: ", "01 23 45 6\n"},
      {"Warning: last page, line 0: 7 hex digits found, 16 expected", ""}, {"Line  0: ", "01 23 45 67 89 ab CD ef\n"},
      {"Last line (1 bytes) : ", "Z1\n"}, {"Warning: last line: 'Z' is not a hex digit", ""},
      {"Last line (1 bytes) : ", "z 1\n"}, {"Warning: 1 line looked mistyped: last line", ""}, {" ** DONE **", ""}},
     0, {{"save.bin", std::string("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x00", 9)},
         {"save.bin.txt", "00 00 09\n01 23 45 67 89 AB CD EF\nZ1\n"}}},
    {"the editing keys mend a digit where it stands", {"save.bin"}, {},
     {{header_prompt, "00 00 08\n"}, {"Line  0: ", "12 34 56 78 9A BC DE F0" + left + left + left + left + backspace + "7\n"},
      {" ** DONE **", ""}},
     0, {{"save.bin", "\x12\x34\x56\x78\x9A\xBC\x7E\xF0"}, {"save.bin.txt", "00 00 08\n12 34 56 78 9A BC 7E F0\n"}}},
    {"a new page in the transcript starts with the header again", {"save.bin"}, {},
     typing_long_save(pairs_of(long_save(), 24, 8)) + dialogue{{" ** DONE **", ""}}, 0,
     {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}},
    {"Ctrl-C keeps the earlier dump and every line typed", {"save.bin"}, {{"save.bin", earlier_dump}},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {"Line  1: ", "56 45" + ctrl_c},
      {"\r\n" + kept_note, ""}}, 128 + 2,
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}}},
    {"going on from where a session stopped", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}},
     {{"'save.bin.txt' keeps what was typed before: 1 line, the last one '14 00 07 FE 00 00 53 41'", ""},
      {"Go on from there? [Y/n] ", "\n"},
      {"1 line kept; going on at last page, line 1\r\nLine  0: 14 00 07 FE 00 00 53 41\r\nLine  1: ",
       "56 45 20 20 20 20 20 20\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"a line typed after going on is mended in the transcript", {"save.bin"},
     {{"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n"}},
     {{"Go on from there? [Y/n] ", "\n"}, {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 52 03 04\n"}, {mend_prompt, "last line\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"going on from a transcript cut off after a line end was lost", {"save.bin"},
     {{"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41"}},
     {{"Go on from there? [Y/n] ", "y\n"}, {"Line  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"no: nothing changes", {"save.bin"}, {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}},
     {{"Go on from there? [Y/n] ", "No\n"},
      {"Nothing was changed. To start again, move 'save.bin.txt' away, then run dumpentry again", ""}},
     1, {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}}},
    {"a whole transcript gives the dump with no line asked", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 02 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {" ** DONE **", ""}}, 0,
     {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"an empty transcript counts as none", {"save.bin"}, {{"save.bin.txt", "\n \n"}},
     typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}}, 0,
     {{"save.bin", worked_save}, {"save.bin.txt", "\n \n" + save_transcript("01 02 03 04")}}},
    {"no transcript where none can be written", {"save.bin"}, {},
     dialogue{{"Warning: Couldn't keep what you type in 'save.bin.txt': No such file or directory; the dump goes on "
               "without it", ""}} + typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}},
     0, {{"save.bin", worked_save}}, "ln -s nofolder/x save.bin.txt"},
    {"no transcript in a folder or a named pipe", {"save.bin"}, {},
     dialogue{{"Warning: Couldn't keep what you type in 'save.bin.txt': it is no regular file; the dump goes on "
               "without it", ""}} + typing_save("01 02 03 04") + dialogue{{" ** DONE **", ""}},
     0, {{"save.bin", worked_save}}, "mkfifo save.bin.txt"},
    {"mending the last line", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{"the typed bytes add up +0x0050 off", ""}, {mend_prompt, "last line\n"},
                  {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""},
                  {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"a line that is not there, then Enter keeps the dump", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{mend_prompt, "9 9\n"}, {"This dump has no page 9, line 9", ""}, {mend_prompt, "12345\n"},
                  {"This dump has no page 12345", ""}, {mend_prompt, "last 2\n"},
                  {"This dump has no last page, line 2", ""}, {mend_prompt, "line 2\n"}, {"names no line", ""},
                  {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}},
    {"mending a line by page and line, then by last page and line", {"save.bin"}, {},
     typing_long_save(wrong_line_3) +
         dialogue{{mend_prompt, "last 0\n"}, {"Line  0: ", pairs_of(long_save(), 128, 8) + "\n"},
                  {"Warning: the checksum does not hold", ""}, {mend_prompt, "0 3\n"},
                  {"Typed before: " + wrong_line_3, ""}, {"Line  3: ", pairs_of(long_save(), 24, 8) + "\n"},
                  {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}},
    {"mending a whole page", {"save.bin"}, {},
     typing_long_save(wrong_line_3) + [] {
         dialogue lines = {{mend_prompt, "0\n"}};
         for (size_t line = 0; line < 16; line++)
             lines.push_back({(line < 10 ? "Line  " : "Line ") + std::to_string(line) + ": ",
                              pairs_of(long_save(), line * 8, 8) + "\n"});
         return lines + dialogue{{holds_now, ""}, {" ** DONE **", ""}};
     }(),
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}},
    {"a named text with CRLF is mended at its line", {"save.bin", "in.txt"},
     {{"in.txt", "00 0014\r\n14 00 07 FE 00 00 53 41\r\n\r\n56 45 20 20 20 20 20 20\r\n01 52 03 04\r\n"}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", std::nullopt},
         {"in.txt", "00 0014\r\n14 00 07 FE 00 00 53 41\r\n\r\n56 45 20 20 20 20 20 20\r\n01 02 03 04\r\n"}}},
    {"a UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16("00 0014\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n01 52 03 04\r\n")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16("00 0014\r\n14 00 07 FE 00 00 53 41\r\n56 45 20 20 20 20 20 20\r\n01 02 03 04\r\n")}}},
    {"an unmarked UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16("00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n").substr(2)}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16("00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n").substr(2)}}},
    {"a big-endian UTF-16 text is mended in its own encoding", {"save.bin", "in.txt"},
     {{"in.txt", big_endian(utf16("00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n"))}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", big_endian(utf16("00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n"))}}},
    {"a text with a second hard link is not mended", {"save.bin", "in.txt"},
     {{"in.txt", typed_save_text("01 52 03 04")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {"Warning: 'in.txt' is left as it was: it has 2 hard links, which a new file would split", ""},
      {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"in.txt", typed_save_text("01 52 03 04")},
         {"second.txt", typed_save_text("01 52 03 04")}}, "ln in.txt second.txt"},
    {"a dump of full pages has no last page to mend", {"save.bin", "in.txt"},
     {{"in.txt", [] {
           std::string save = long_save(128), text = "00 00 80\n";
           for (size_t line = 0; line < 16; line++)
               text += (line == 3 ? "00 00 00 00 00 00 00 00" : pairs_of(save, line * 8, 8)) + "\n";
           return text;
       }()}},
     {{mend_prompt, "last\n"}, {"This dump has no last page", ""}, {mend_prompt, "1\n"},
      {"This dump has no page 1", ""}, {mend_prompt, "0 3\n"},
      {"Line  3: ", pairs_of(long_save(128), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save(128)}}},
    {"a last page of one byte is mended as a page", {"save.bin", "in.txt"},
     {{"in.txt", [] {
           std::string save = long_save(129), text = "00 00 81\n";
           for (size_t line = 0; line < 16; line++)
               text += (line == 3 ? "00 00 00 00 00 00 00 00" : pairs_of(save, line * 8, 8)) + "\n";
           return text + pairs_of(save, 128, 1) + "\n";
       }()}},
     {{mend_prompt, "last\n"}, {"Typed before: " + pairs_of(long_save(129), 128, 1), ""},
      {"Last line (1 bytes) : ", pairs_of(long_save(129), 128, 1) + "\n"}, {mend_prompt, "0 3\n"},
      {"Line  3: ", pairs_of(long_save(129), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save(129)}}},
    {"Ctrl-D while a line is mended keeps the dump", {"save.bin"}, {},
     typing_save("01 52 03 04") + dialogue{{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "\x04"},
                                           {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}},
    {"Ctrl-D at a prompt ends the input", {"save.bin"}, {{"save.bin", earlier_dump}},
     {{header_prompt, "00 00 14\n"}, {"Line  0: ", "\x04"},
      {"\r\nUnexpected end of input\r\n" + kept_note, ""}}, 4,
     {{"save.bin", earlier_dump}, {"save.bin.txt", "00 00 14\n"}}},
    {"an answer longer than a line", {"save.bin"}, {{"save.bin.txt", "00 00 14\n"}},
     {{"Go on from there? [Y/n] ", std::string(300, 'x') + "\n"}, {"Go on from there? [Y/n] ", "n\n"}}, 1,
     {{"save.bin.txt", "00 00 14\n"}, {"save.bin", std::nullopt}}},
    {"line names of two digits, spaces around", {"save.bin"}, {},
     typing_long_save(wrong_line_3) +
         dialogue{{mend_prompt, "0 13\n"}, {"Line 13: ", pairs_of(long_save(), 104, 8) + "\n"},
                  {"Warning: the checksum does not hold", ""}, {mend_prompt, "  0   3 \n"},
                  {"Line  3: ", pairs_of(long_save(), 24, 8) + "\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", long_save()}, {"save.bin.txt", long_transcript(pairs_of(long_save(), 24, 8))}}},
    {"going on from a whole transcript, then mending a line", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {"3 lines kept; the dump is complete", ""}, {mend_prompt, "0 3\n"},
      {"This dump has no page 0, line 3", ""}, {mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"going on, then a page mended, Enter keeping its lines as they were", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, "last\n"}, {"Line  0: ", "\n"}, {"Line  1: ", "\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"going on, then Ctrl-D at the question keeps the dump", {"save.bin"},
     {{"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, "\x04"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 17) + "\x52" + worked_save.substr(18)},
         {"save.bin.txt", save_transcript("01 52 03 04")}}},
    {"going on, then Ctrl-C at the question changes nothing", {"save.bin"},
     {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}},
     {{"Go on from there? [Y/n] ", "\n"}, {mend_prompt, ctrl_c}, {"\r\n" + kept_note, ""}},
     128 + 2, {{"save.bin", earlier_dump}, {"save.bin.txt", save_transcript("01 52 03 04")}}},
    {"what a paste leaves does not answer the question", {"save.bin"}, {},
     {{header_prompt, typed_save_text("01 52 03 04") + "\nlast line\n\n"}, {mend_prompt, "last line\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}}},
    {"with standard output in a log the questions stay on screen", {"save.bin", "in.txt"},
     {{"in.txt", typed_save_text("01 52 03 04")}},
     {{mend_prompt, "last line\n"}, {"Typed before: 01 52 03 04", ""}, {"Last line (4 bytes) : ", "01 02 03 04\n"},
      {holds_now, ""}},
     0, {{"save.bin", worked_save}, {"in.txt", typed_save_text("01 02 03 04")},
         {"log.txt", header_prompt + "\nread from file\n -- Last page --\nLine  0: read from file\nLine  1: read from "
                     "file\nLast line (4 bytes) : read from file\n ** DONE **\n" + contact_banner}}, "", true},
    {"a header one digit off the size field is typed again at line 0", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"},
      {"Warning: the size field says 20 bytes, the header of the dump says 21", ""}, {header_again, "00 00 14\n"},
      {"Size of data: 20 bytes", ""}, {" -- Last page --\r\nLine  1: ", "56 45 20 20 20 20 20 20\n"},
      {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"a header typed again at line 0 is asked again when mistyped", {"save.bin"}, {},
     {{header_prompt, "00 01 14\n"}, {" -- Page 0 --\r\nLine  0: ", "14 00 07 FE 00 00 53 41\n"},
      {header_again, "00 00 4\n"},
      {"Warning: header: 5 hex digits found, 6 expected", ""}, {header_again, "00 00 14\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save}, {"save.bin.txt", save_transcript("01 02 03 04")}}},
    {"Enter keeps a header one digit off", {"save.bin"}, {},
     {{header_prompt, "00 00 15\n"}, {"Line  0: ", "14 00 07 FE 00 00 53 41\n"}, {header_again, "\n"},
      {"Line  1: ", "56 45 20 20 20 20 20 20\n"}, {"Last line (5 bytes) : ", "01 02 03 04 00\n"}, {mend_prompt, "\n"},
      {" ** DONE **", ""}},
     5, {{"save.bin", worked_save + std::string(1, '\0')}}},
    {"a UTF-16 text counts its lines by characters when a line is mended", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE \uFF0A 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n")}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"00 0014\n14 00 07 FE \uFF0A 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n")}}},
    {"an unmarked UTF-16 text that starts beyond ASCII is mended in its encoding", {"save.bin", "in.txt"},
     {{"in.txt", utf16_bytes(u"\u3042 00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 52 03 04\n", false)}},
     {{mend_prompt, "last line\n"}, {"Last line (4 bytes) : ", "01 02 03 04\n"}, {holds_now, ""}, {" ** DONE **", ""}},
     0, {{"save.bin", worked_save},
         {"in.txt", utf16_bytes(u"\u3042 00 0014\n14 00 07 FE 00 00 53 41\n56 45 20 20 20 20 20 20\n01 02 03 04\n",
                                false)}}},
    {"the mending help fits 80 columns", {"save.bin"}, {},
     typing_save("01 52 03 04") +
         dialogue{{"To type a line again, name it as the prompts do: '3 12' is page 3, line 12;\r\n"
                   "'last 2' is line 2 of the last page; 'last line' is the last line; a page\r\n"
                   "alone ('3' or 'last') asks each of its lines in turn, and Enter there keeps\r\n"
                   "a line as it was. The dump file and the text the line came from change with it.\r\n", ""},
                  {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {}},
    {"a pasted block with a short line stays in step", {"save.bin"}, {},
     {{header_prompt, "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20\n01 02 03 04\n"},
      {"Warning: last page, line 1: 8 hex digits found, 16 expected", ""},
      {"Warning: 1 line looked mistyped: last page, line 1", ""}, {mend_prompt, "\n"}, {" ** DONE **", ""}},
     5, {{"save.bin", worked_save.substr(0, 12) + std::string(4, '\0') + worked_save.substr(16)},
         {"save.bin.txt", "00 00 14\n14 00 07 FE 00 00 53 41\n56 45 20 20\n01 02 03 04\n"}}},
};

// After the dialogue: the status, the files, the terminal put back as it was, and a transcript
// that gives the same dump again when named as the input.
TABLE_TEST(terminal_runs, as_a_user_types, terminal_case, cases)
{
    const terminal_case &row = GetParam();
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_files(dir, row.files);
    if (row.setup[0]) {
        ASSERT_EQ(run_program("/bin/sh", {"-c", row.setup}, "", dir.path).status, 0);
    }
    terminal_session session;
    ASSERT_TRUE(start_at_terminal(session, row.args, dir.path, row.log));
    for (const auto &[shown, keys] : row.lines) {
        ASSERT_TRUE(wait_for(session, shown)) << "no '" << shown << "' on:\n" << session.screen;
        if (keys.find_first_of("\x1b\x7f\x04") != std::string::npos)
            wait_for_line_editor(session);
        if (!keys.empty()) {
            ASSERT_EQ(write(session.master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        }
    }
    int status = -1;
    waitpid(session.child, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), row.status) << session.screen;
    struct termios terminal;
    ASSERT_EQ(tcgetattr(session.master, &terminal), 0);
    EXPECT_TRUE((terminal.c_lflag & ICANON) && (terminal.c_lflag & ECHO)) << "the terminal was left raw";
    EXPECT_EQ(session.screen.find("\n:"), std::string::npos) << "a stray line of a prompt:\n" << session.screen;
    close(session.master);
    for (const auto &[name, bytes] : row.after) {
        if (bytes) {
            EXPECT_EQ(read_file(dir / name), *bytes) << name;
        } else {
            EXPECT_FALSE(file_exists(dir / name)) << name;
        }
    }
    if (row.status == 0 && row.after.count("save.bin.txt") && row.after.at("save.bin.txt")) {
        run_result again = run_program(DUMPENTRY_PATH, {"again.bin", "save.bin.txt"}, "", dir.path);
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(read_file(dir / "again.bin"), read_file(dir / "save.bin"));
    }
}


} // namespace
