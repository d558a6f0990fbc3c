// How well dumpscan reads saves it was never shown: sets of pages drawn in many fonts and taken
// as captures and photos are, each read by dumpscan and judged against the save drawn.
// Usage: scan_eval DUMPSCAN [SETS] [FIRST] [KEEP]   (default 300 sets from set 0; a folder
// given as KEEP keeps the pictures and dumpscan's text and messages of the last set there)
//
// A set is exact (status 0, every digit right), marked (every digit written is right and the
// others are '?', status 5), failed (no text, or a text of another shape) or silent-wrong (a
// digit written as sure and wrong: the one outcome that must never happen). The fonts the tests
// draw with are the tuned ones; the others are kept out of all tuning and reported apart. Each
// set is one whole save in order, so a message of a set's fault (a page repeated, missing, of
// another save) misleads, and is counted. A set marked is read once more at a terminal of its
// own, each question answered with the digit the pictures show: "answered" counts the sets
// exact then (the exact ones too), "asked" the questions. With SCAN_EVAL_TUNING set, only the
// tuned fonts are read, and only once: what tuning may look at, sooner.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../tests/draw_page.h"

namespace {

const int tuned_fonts = font_liberation_mono_bold + 1;

struct capture_kind {
    const char *name;
    int scale;
    bool smooth;
    double widen, blur, noise, angle;
    int jpeg_quality;
    bool scanlines, photo;
    double tilt = 0, barrel = 0, light_falloff = 0, moire = 0; // see page_drawing; a tilt is drawn
    int surround = 0;                                           // from 2 degrees to this
};

const capture_kind kinds[] = {
    {"native", 1, false, 1, 0, 0, 0, 0, false, false},
    {"x2 nearest", 2, false, 1, 0, 0, 0, 0, false, false},
    {"x3 nearest", 3, false, 1, 0, 0, 0, 0, false, false},
    {"4:3 smoothed", 2, true, 7.0 / 6, 0, 0, 0, 0, false, false},
    {"8:7 nearest", 3, false, 8.0 / 7, 0, 0, 0, 0, false, false},
    {"scanlines", 3, false, 1, 0, 0, 0, 0, true, false},
    {"composite blur", 2, true, 7.0 / 6, 1.2, 3, 0, 0, false, false},
    {"JPEG", 2, false, 1, 0, 2, 0, 70, false, false},
    {"photo, turned 2 degrees", 4, true, 1, 1.0, 5, 2, 75, false, true},
    {"photo, soft and noisy", 4, true, 1.1, 1.6, 8, -1, 60, false, true},
    {"photo, perspective", 4, true, 1, 1.0, 5, 0.5, 75, false, true, 8, 0, 0, 0, 40},
    {"photo, barrel distortion", 4, true, 1, 1.0, 5, 0, 75, false, true, 0, 0.03, 0, 0, 40},
    {"photo, uneven light", 4, true, 1, 1.2, 5, -0.5, 75, false, true, 0, 0, 0.6, 0, 0},
    {"photo, moire", 4, true, 1, 1.0, 4, 0, 75, false, true, 0, 0, 0, 0.25, 0},
    {"photo, 12 megapixels", 12, true, 1, 3.0, 6, 1, 85, false, true, 3, 0.01, 0.3, 0, 300},
};
const int kind_count = sizeof kinds / sizeof kinds[0];

std::string bram_save(const std::string &name, const std::string &data)
{
    std::string file = std::string(6, '\0') + (name + "          ").substr(0, 10) + data;
    unsigned sum = 0;
    for (size_t k = 4; k < file.size(); k++)
        sum += static_cast<unsigned char>(file[k]);
    unsigned checksum = (0x10000 - (sum & 0xFFFF)) & 0xFFFF;
    file[0] = static_cast<char>(file.size() & 0xFF);
    file[1] = static_cast<char>(file.size() >> 8);
    file[2] = static_cast<char>(checksum & 0xFF);
    file[3] = static_cast<char>(checksum >> 8);
    return file;
}

// A save of random bytes, or one shaped as saves are: runs of 00 and FF, a few values between.
std::string save_of(std::mt19937 *random)
{
    static const int page_counts[] = {1, 1, 2, 3, 4, 6, 8, 11, 16};
    bool random_bytes = (*random)() % 2 == 0;
    int pages = page_counts[(*random)() % 9];
    size_t size = static_cast<size_t>(pages * 128 - static_cast<int>((*random)() % 100));
    size = std::max<size_t>(size, 24);
    std::string data(size - 16, '\0');
    for (size_t k = 0; k < data.size(); k++) {
        unsigned draw = (*random)();
        if (random_bytes)
            data[k] = static_cast<char>(draw & 0xFF);
        else if (k > 0 && draw % 100 < 85)
            data[k] = data[k - 1];
        else
            data[k] = static_cast<char>(draw % 3 == 0 ? 0xFF : draw % 3 == 1 ? 0 : draw >> 8 & 0xFF);
    }
    return bram_save(random_bytes ? "RANDOM" : "RPG DATA 1", data);
}

std::string read_all(const std::string &path)
{
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char chunk[4096];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, count);
    fclose(file);
    return text;
}

void write_all(const std::string &path, const std::string &text)
{
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

enum outcome { exact, marked, failed, silent_wrong };
const char *const outcome_names[] = {"exact", "marked", "failed", "SILENT WRONG"};

outcome judge(const std::string &expected, const std::string &read, int status)
{
    if (read.size() != expected.size() || (status != 0 && status != 5))
        return failed;
    bool doubted = false;
    for (size_t k = 0; k < read.size(); k++) {
        if (read[k] == '?') {
            doubted = true;
        } else if (read[k] != expected[k]) {
            return silent_wrong;
        }
    }
    return doubted || status != 0 ? marked : exact;
}

// Each set is one whole save, in order: a message that says otherwise misleads.
bool misleads(const std::string &said)
{
    for (const char *fault : {" repeats ", "but is not the last page", "a page of another save?",
                              "pages given, the header says", "page given, the header says"})
        if (said.find(fault) != std::string::npos)
            return true;
    return false;
}

int misleading_sets;

// The digit the expected text holds at a place as dumpscan names it in a question: "page 2,
// line 5, byte 3, first digit", "last page, header, byte 0, second digit"; '?' when none.
char digit_at(const std::string &expected, const std::string &place)
{
    std::vector<std::vector<std::string>> pages(1);
    size_t start = 0;
    for (size_t end; (end = expected.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string row = expected.substr(start, end - start);
        if (row.empty())
            pages.emplace_back();
        else
            pages.back().push_back(row);
    }
    int page = 0, line = -1, byte = 0;
    if (place.rfind("last page", 0) == 0)
        page = static_cast<int>(pages.size()) - 1;
    else if (sscanf(place.c_str(), "page %d", &page) != 1)
        return '?';
    size_t at = place.find(", line ");
    if (at != std::string::npos)
        line = atoi(place.c_str() + at + 7);
    at = place.find(", byte ");
    if (at == std::string::npos || page < 0 || page >= static_cast<int>(pages.size()))
        return '?';
    byte = atoi(place.c_str() + at + 7);
    size_t row = static_cast<size_t>(line + 1), column = static_cast<size_t>(byte) * 3 +
                                                          (place.find("second digit") != std::string::npos);
    if (row >= pages[page].size() || column >= pages[page][row].size())
        return '?';
    return pages[page][row][column];
}

// dumpscan run at a terminal of its own, each question answered with the digit the pictures
// show; how many it asked.
int run_answering(const std::vector<std::string> &args, const std::string &expected)
{
    int terminal;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0)
        return -1;
    if (child == 0) {
        std::vector<char *> argv;
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string screen, place;
    size_t seen = 0;
    int questions = 0;
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 60000) <= 0)
            break;
        char chunk[4096];
        ssize_t count = read(terminal, chunk, sizeof chunk);
        if (count <= 0)
            break;
        screen.append(chunk, static_cast<size_t>(count));
        for (;;) {
            size_t stands = screen.find("it stands at ", seen), prompt = screen.find("Which hex digit is this? [", seen);
            if (prompt == std::string::npos)
                break;
            if (stands != std::string::npos && stands < prompt)
                place = screen.substr(stands + 13, screen.find(':', stands) - stands - 13);
            seen = prompt + 1;
            std::string answer = std::string(1, digit_at(expected, place)) + "\n";
            questions++;
            if (write(terminal, answer.data(), answer.size()) < 0)
                break;
        }
    }
    close(terminal);
    int status;
    waitpid(child, &status, 0);
    return questions;
}

outcome run_set(const char *dumpscan, int set, const std::string &folder, bool keep, int *font_out, int *kind_out,
                int *asked_out, bool *answered_out)
{
    std::mt19937 random(static_cast<unsigned>(set * 7919 + 13));
    std::string bytes = save_of(&random);
    int font = set % page_fonts, kind = set / page_fonts % kind_count;
    *font_out = font;
    *kind_out = kind;
    const capture_kind &how = kinds[kind];
    page_drawing drawing;
    drawing.font = static_cast<page_font>(font);
    drawing.scale = how.scale;
    drawing.smooth = how.smooth;
    drawing.widen = how.widen;
    drawing.blur = how.blur;
    drawing.noise = how.noise;
    drawing.angle = how.angle;
    drawing.jpeg_quality = how.jpeg_quality;
    drawing.scanlines = how.scanlines;
    drawing.barrel = how.barrel;
    drawing.light_falloff = how.light_falloff;
    drawing.moire = how.moire;
    drawing.surround = how.surround;
    if (how.tilt > 0) // drawn only for the kinds that tilt: the other kinds' sets stay as they were
        drawing.tilt = 2 + (how.tilt - 2) * static_cast<double>(random() % 101) / 100;
    drawing.row_pitch = 8 + static_cast<int>(random() % 3);
    if (random() % 4 == 0) {
        drawing.background = 0xE8E8D8;
        drawing.ink = 0x202020;
    }
    std::string expected, command = std::string(dumpscan) + " --no-glyphs -o " + folder + "/read.txt";
    std::vector<std::string> asked = {dumpscan, "--no-glyphs", "-o", folder + "/asked.txt"};
    for (size_t page = 0; page * 128 < bytes.size(); page++) {
        drawing.rows = dump_page_rows(bytes, page);
        drawing.left = 8 + static_cast<int>(random() % 40);
        drawing.top = 6 + static_cast<int>(random() % 20);
        drawing.seed = static_cast<unsigned>(set * 100 + static_cast<int>(page));
        char name[64];
        snprintf(name, sizeof name, "/page-%02zu.%s", page, how.jpeg_quality ? "jpg" : "png");
        if (!draw_page(drawing, folder + name))
            return failed;
        command += " " + folder + name;
        asked.push_back(folder + name);
        expected += page ? "\n" : "";
        for (const std::string &row : drawing.rows)
            expected += row + "\n";
    }
    command += " </dev/null 2>" + folder + "/said.txt";
    int status = system(command.c_str());
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome judged = judge(expected, read_all(folder + "/read.txt"), status);
    if (judged == silent_wrong)
        fprintf(stderr, "set %d: font %d, %s: a digit written as sure is wrong\n", set, font, how.name);
    // With a person who answers each question rightly.
    *asked_out = 0;
    *answered_out = judged == exact;
    if (judged == marked && !getenv("SCAN_EVAL_TUNING")) {
        *asked_out = run_answering(asked, expected);
        *answered_out = read_all(folder + "/asked.txt") == expected;
    }
    if (misleads(read_all(folder + "/said.txt"))) {
        fprintf(stderr, "set %d: font %d, %s: told of a fault the set does not have\n", set, font, how.name);
        misleading_sets++;
    }
    write_all(folder + "/expected.txt", expected);
    if (!keep && system(("rm -f " + folder + "/*").c_str()) != 0)
        return judged;
    return judged;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: scan_eval DUMPSCAN [SETS] [FIRST]\n");
        return 2;
    }
    int sets = argc > 2 ? atoi(argv[2]) : 300, first = argc > 3 ? atoi(argv[3]) : 0;
    char temporary[] = "/tmp/scan-eval-XXXXXX";
    const char *folder = argc > 4 ? argv[4] : mkdtemp(temporary);
    if (!folder)
        return 1;
    // [held out][photo][outcome]
    int counts[2][2][4] = {};
    int by_kind[kind_count][4] = {};
    int answered_counts[2][2][2] = {}; // [held out][photo]: exact once answered, questions asked
    auto start = std::chrono::steady_clock::now();
    for (int set = first; set < first + sets; set++) {
        if (getenv("SCAN_EVAL_TUNING") && set % page_fonts >= tuned_fonts)
            continue;
        int font, kind, asked;
        bool answered;
        outcome judged = run_set(argv[1], set, folder, argc > 4, &font, &kind, &asked, &answered);
        if (argc > 4)
            printf("set %d: font %d, %s: %s, %d asked, %s\n", set, font, kinds[kind].name, outcome_names[judged], asked,
                   answered ? "exact answered" : "not exact answered");
        counts[font >= tuned_fonts][kinds[kind].photo][judged]++;
        by_kind[kind][judged]++;
        int *row = answered_counts[font >= tuned_fonts][kinds[kind].photo];
        row[0] += answered;
        row[1] += asked;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (argc <= 4)
        rmdir(folder);
    printf("%-28s %6s %6s %6s %6s %6s %9s %6s\n", "", "sets", outcome_names[0], outcome_names[1], outcome_names[2],
           "wrong", "answered", "asked");
    for (int held = 0; held < 2; held++)
        for (int photo = 0; photo < 2; photo++) {
            const int *c = counts[held][photo], *a = answered_counts[held][photo];
            printf("%-28s %6d %6d %6d %6d %6d %9d %6d\n",
                   (std::string(held ? "held-out fonts, " : "tuned fonts, ") + (photo ? "photos" : "captures")).c_str(),
                   c[0] + c[1] + c[2] + c[3], c[0], c[1], c[2], c[3], a[0], a[1]);
        }
    for (int kind = 0; kind < kind_count; kind++) {
        const int *c = by_kind[kind];
        printf("  %-26s %6d %6d %6d %6d %6d\n", kinds[kind].name, c[0] + c[1] + c[2] + c[3], c[0], c[1], c[2], c[3]);
    }
    printf("sets told of a fault they do not have: %d\n", misleading_sets);
    printf("%.0f seconds\n", seconds);
    int wrong = 0;
    for (auto &held : counts)
        for (auto &photo : held)
            wrong += photo[silent_wrong];
    return wrong ? 1 : 0;
}
