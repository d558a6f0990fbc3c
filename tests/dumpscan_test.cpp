#include <map>
#include <optional>
#include <sstream>

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

#include "draw_page.h"
#include "harness.h"

namespace {

const std::string dumpscan = DUMPSCAN_PATH;
const std::string usage = "---[ USAGE ]------------------------------------------------------------------\n"
                          "  " + std::string(DUMPSCAN_NAME) +
                          " [-o <text file>] [--header 'EE SS SS'] [--glyphs <book> | --no-glyphs]\n"
                          "      <image> [<image ...>]\n"
                          "  Reads the pages of a dump from captures or photos of the console's screen,\n"
                          "  one page an image, and writes the text that 'dumpentry' reads\n";
const std::string old_text = "00 00 14\n";

// A well-formed save of size bytes, from a fixed seed.
std::string save_of(size_t size, unsigned seed)
{
    return bram_file("SCAN", random_bytes(size - 16, seed));
}

// The text dumpscan writes for these bytes: each page's rows, a blank line between pages.
std::string text_of(const std::string &bytes)
{
    std::string text;
    for (size_t page = 0; page * 128 < bytes.size(); page++) {
        text += page ? "\n" : "";
        for (const std::string &row : dump_page_rows(bytes, page))
            text += row + "\n";
    }
    return text;
}

// The line dumpscan says of each page: "page-0.png: page 0, 16 lines, header 00 08 00".
std::string pages_said(const std::string &bytes, const std::string &extension)
{
    std::string said;
    size_t pages = (bytes.size() + 127) / 128;
    for (size_t page = 0; page < pages; page++) {
        size_t lines = dump_page_rows(bytes, page).size() - 1;
        bool last = page + 1 == pages && bytes.size() % 128 != 0;
        said += "page-" + std::to_string(page) + "." + extension + ": " +
                (last ? "last page" : "page " + std::to_string(page)) + ", " + std::to_string(lines) + " line" +
                (lines == 1 ? "" : "s") + ", header " + dump_page_rows(bytes, page)[0] + "\n";
    }
    return said;
}

// A row of pictures: a save of size bytes drawn page by page as the screen shows it, then
// taken as a capture or a photo is. A capture is read exactly (status 0, the text of the
// save); a photo exactly or with every digit it doubts written '?' (status 5).
struct picture_row {
    const char *name;
    size_t size;
    page_drawing drawing;
    bool title = false; // a title and a blank row above the header
    bool photo = false;
    bool runs = false;  // a save as saves are: runs of 00 and FF, some digits only on its last line
    const char *save = nullptr; // the save's bytes, size of them, where not drawn at random
    int left = 8, top = 6;      // where the first page's first row starts
};

page_drawing capture(page_font font, int scale, bool smooth, int row_pitch, unsigned background = 0x000000,
                     unsigned ink = 0xFFFFFF)
{
    page_drawing drawing;
    drawing.font = font;
    drawing.scale = scale;
    drawing.smooth = smooth;
    drawing.row_pitch = row_pitch;
    drawing.background = background;
    drawing.ink = ink;
    return drawing;
}

page_drawing degraded(page_drawing drawing, double blur, int jpeg_quality, double noise, double angle = 0)
{
    drawing.blur = blur;
    drawing.jpeg_quality = jpeg_quality;
    drawing.noise = noise;
    drawing.angle = angle;
    return drawing;
}

page_drawing widened(page_drawing drawing, double factor)
{
    drawing.widen = factor;
    return drawing;
}

page_drawing scanlined(page_drawing drawing)
{
    drawing.scanlines = true;
    return drawing;
}

// Taken from below the screen, in a dark room: the page narrower at its top.
page_drawing in_perspective(page_drawing drawing, double tilt)
{
    drawing.tilt = tilt;
    drawing.surround = 40;
    return drawing;
}

// In a room lit from one side: the far corner of the screen a good deal darker.
page_drawing unevenly_lit(page_drawing drawing, double falloff)
{
    drawing.light_falloff = falloff;
    return drawing;
}

const picture_row pictures[] = {
    {"a 2 KiB save of 16 pages captured at scale 1", 2048, capture(font_vga8, 1, false, 8)},
    {"the console font at scale 2, rows 9 apart, under a title", 315, capture(font_vga8, 2, false, 9), true},
    {"DejaVu smoothed to scale 3, rows 10 apart", 700, capture(font_dejavu_mono, 3, true, 10)},
    {"Liberation at scale 4, dark on light", 512, capture(font_liberation_mono, 4, false, 8, 0xF0F0E0, 0x202020)},
    {"bold DejaVu at scale 5, yellow on blue", 600, capture(font_dejavu_mono_bold, 5, true, 9, 0x0000A0, 0xFFFF40)},
    {"blurred by 1.5 pixels", 1024, degraded(capture(font_vga8, 3, true, 9), 1.5, 0, 0), true},
    {"JPEG of quality 50 with noise", 640, degraded(capture(font_liberation_mono_bold, 2, false, 10), 0, 50, 6)},
    {"blurred, noisy JPEG at scale 4", 900,
     degraded(capture(font_dejavu_mono, 4, true, 8, 0x102040, 0xE0F0C0), 1, 60, 5)},
    {"the console font at scale 1 as JPEG of quality 80", 512, degraded(capture(font_vga8, 1, false, 9), 0, 80, 2)},
    {"Liberation smoothed to scale 2, rows 8 apart, with noise", 1024,
     degraded(capture(font_liberation_mono, 2, true, 8), 0, 0, 8)},
    {"bold DejaVu at scale 3 as JPEG of quality 50, blurred and noisy, dark on light", 640,
     degraded(capture(font_dejavu_mono_bold, 3, false, 10, 0xE0E0D0, 0x303030), 1.5, 50, 8)},
    {"Liberation bold at scale 1, under a title", 1024, capture(font_liberation_mono_bold, 1, false, 10), true},
    {"a picture larger than any capture, at scale 9, scaled down first", 200, capture(font_dejavu_mono, 9, true, 9)},
    {"a photo turned by 2 degrees", 512, degraded(capture(font_vga8, 4, true, 9), 1, 70, 4, 2), false, true},
    {"a photo from below, in perspective, its surround about it", 512,
     in_perspective(degraded(capture(font_vga8, 4, true, 9), 1, 75, 5), 6)},
    {"a photo of a light page from below, the dark room about it", 900,
     in_perspective(degraded(capture(font_liberation_mono_bold, 4, true, 9, 0xE8E8D8, 0x202020), 1, 75, 5), 8), false,
     true},
    {"a photo of a light page in uneven light, rows 8 apart", 600,
     unevenly_lit(degraded(capture(font_dejavu_mono, 4, true, 8, 0xE8E8D8, 0x202020), 1.2, 75, 5, -0.5), 0.6), false,
     true},
    {"the console font at scale 2, rows 8 apart, widened to 4:3 and smoothed", 400,
     widened(capture(font_vga8, 2, true, 8), 7.0 / 6)},
    {"the console font at scale 3 under scanlines", 600, scanlined(capture(font_vga8, 3, false, 9))},
    {"Liberation at scale 3 under scanlines, dark on light", 500,
     scanlined(capture(font_liberation_mono, 3, false, 10, 0xE8E8D8, 0x202020))},
    {"Liberation widened to 4:3 and blurred as composite video is", 700,
     degraded(widened(capture(font_liberation_mono, 2, true, 9), 7.0 / 6), 1.2, 0, 3)},
    // Blurred so that the holes of a 0, a D or a B fill nearly as their strokes do.
    {"bold Liberation widened to 4:3 and blurred as composite video is", 700,
     degraded(widened(capture(font_liberation_mono_bold, 2, true, 9), 7.0 / 6), 1.2, 0, 3)},
    {"DejaVu at scale 2, rows 8 apart, widened to 4:3 and smoothed", 1500,
     widened(capture(font_dejavu_mono, 2, true, 8), 7.0 / 6)},
    {"Liberation at scale 3, widened to 8:7 without smoothing", 1500,
     widened(capture(font_liberation_mono, 3, false, 10), 8.0 / 7)},
    {"bold Liberation at scale 3, rows 8 apart, widened to 8:7 without smoothing", 900,
     widened(capture(font_liberation_mono_bold, 3, false, 8), 8.0 / 7)},
    // A last page whose bold glyphs, widened, stand as a header and one short line on a grid of
    // cells too wide: the grids after it read more of the page.
    {"a page of bold Liberation widened to 4:3 and smoothed, read on the grid that reads most", 57,
     widened(capture(font_liberation_mono_bold, 2, true, 9), 7.0 / 6), false, false, false,
     "\x39\x00\xE9\xEE\x00\x00\x52\x50\x47\x20\x44\x41\x54\x41\x20\x31"
     "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x00\x00\x00\x00\x00\x00"
     "\x00\x00\x00\x00\x00\x00\x3F\x3F\x3F\x3F\x3F\x3F\x3F\x3F\x3F\x3F"
     "\x3F\x3F\x3F\x3F\x3F\x3F\x3F\x3F\x3F", 29, 16},
    // Seen once each, the digits of its last line move the checksum's sum by a few units: the
    // checksum cannot tell them from other digits that tesseract read nearly as likely.
    {"a save of runs of 00 and FF, digits first shown on its last line", 700, capture(font_vga8, 2, false, 9), false,
     true, true},
};

// A save of size bytes that is mostly 00 and FF, with every digit on its last line.
std::string save_of_runs(size_t size)
{
    std::string data(size - 16 - 8, '\0');
    for (size_t k = data.size() / 3; k < data.size() / 2; k++)
        data[k] = '\xFF';
    return bram_file("", data + bytes("\x01\x23\x45\x67\x89\xAB\xCD\xEF"));
}

void draw_save(const std::string &bytes, page_drawing drawing, bool title, const scratch_dir &dir,
               std::vector<std::string> *names, int left = 8, int top = 6)
{
    for (size_t page = 0; page * 128 < bytes.size(); page++) {
        drawing.rows = dump_page_rows(bytes, page);
        if (title)
            drawing.rows.insert(drawing.rows.begin(), {"SAVE DUMP   PAGE " + std::to_string(page + 1), ""});
        drawing.left = left + static_cast<int>(page * 13 % 40);
        drawing.top = top + static_cast<int>(page * 7 % 20);
        drawing.seed = static_cast<unsigned>(page + 1);
        std::string name = "page-" + std::to_string(page) + (drawing.jpeg_quality ? ".jpg" : ".png");
        ASSERT_TRUE(draw_page(drawing, dir / name));
        names->push_back(name);
    }
}

TABLE_TEST(picture_runs, read_as_typed, picture_row, pictures)
{
    SKIP_UNDER_WINE_IF(true);
    const picture_row &row = GetParam();
    scratch_dir dir;
    std::string bytes = row.save   ? std::string(row.save, row.size)
                        : row.runs ? save_of_runs(row.size)
                                   : save_of(row.size, static_cast<unsigned>(row.size));
    std::vector<std::string> names;
    draw_save(bytes, row.drawing, row.title, dir, &names, row.left, row.top);
    run_result result = run_program(dumpscan, names, "", dir.path.string());
    std::string expected = text_of(bytes), extension = row.drawing.jpeg_quality ? "jpg" : "png";
    if (!row.photo) {
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, pages_said(bytes, extension));
        EXPECT_EQ(result.status, 0);
        return;
    }
    // Every digit written is right, and every one doubted is said.
    ASSERT_EQ(result.out.size(), expected.size()) << result.out;
    size_t doubted = 0;
    for (size_t k = 0; k < expected.size(); k++) {
        doubted += result.out[k] == '?';
        if (result.out[k] != '?') {
            EXPECT_EQ(result.out[k], expected[k]) << "at " << k << " of\n" << result.out;
        }
    }
    EXPECT_EQ(result.status, doubted ? 5 : 0);
    if (doubted) {
        EXPECT_NE(result.err.find("Warning: " + std::to_string(doubted) + " digit"), std::string::npos) << result.err;
    }
}

// dumpscan run with these options on the pages of bytes, captured from the font (the console's)
// at scale 2 (under a title when title says so).
run_result scan_drawn(const std::string &bytes, bool title, const scratch_dir &dir, std::vector<std::string> args,
                      page_font font = font_vga8)
{
    std::vector<std::string> names;
    draw_save(bytes, capture(font, 2, false, 9), title, dir, &names);
    args.insert(args.end(), names.begin(), names.end());
    return run_program(dumpscan, args, "", dir.path.string());
}

// The pictures of a save read into save.txt, which dumpentry then makes into the save.
TEST(picture_runs, dumpentry_makes_the_save_from_the_text)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    std::string bytes = save_of(315, 7);
    ASSERT_EQ(scan_drawn(bytes, true, dir, {"-o", "save.txt"}).status, 0);
    run_result typed = run_program(DUMPENTRY_PATH, {"save.bin", "save.txt"}, "", dir.path.string());
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_EQ(read_file(dir / "save.bin"), bytes);
}

// A save of one page, whose checksum is too small a check for tesseract's names alone, is read
// with the glyph book that an earlier save shown by the same console left; the book's names
// are still checked: a book of another console's glyphs confirms nothing.
TEST(picture_runs, a_second_save_reads_with_the_glyph_book_of_the_first)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir first, second;
    std::string small = save_of(24, 5);
    // A reading the checks do not confirm (the header given is one byte off) names nothing.
    EXPECT_EQ(scan_drawn(small, false, second, {"--glyphs", "book", "--header", "00 00 19"}, font_dejavu_mono).status,
              5);
    EXPECT_FALSE(file_exists(second / "book"));
    ASSERT_EQ(scan_drawn(save_of(600, 8), false, first, {"--glyphs", "book"}, font_dejavu_mono).status, 0);
    EXPECT_EQ(read_file(first / "book").substr(0, 23), "bramtools glyph book 1\n");
    // A page alone cannot hold the checks: with nobody to ask, the book's names are not sure.
    run_result alone = run_program(dumpscan, {"--glyphs", "book", "page-0.png"}, "", first.path.string());
    EXPECT_EQ(alone.out.find_first_of("0123456789ABCDEF"), std::string::npos) << alone.out;
    std::filesystem::copy(first / "book", second / "book");
    run_result result = scan_drawn(small, false, second, {"--glyphs", "book"}, font_dejavu_mono);
    EXPECT_EQ(result.out, text_of(small));
    EXPECT_EQ(result.status, 0) << result.err;
    // The console font's book names none of DejaVu's glyphs: its names fail the checks and are
    // left out, and tesseract's are confirmed (on a save large enough for its checksum to tell
    // them from the other names that tesseract read nearly as likely).
    scratch_dir other, third;
    ASSERT_EQ(scan_drawn(save_of(600, 8), false, other, {"--glyphs", "book"}).status, 0);
    std::filesystem::copy(other / "book", third / "book");
    std::string larger = save_of(300, 5);
    run_result foreign = scan_drawn(larger, false, third, {"--glyphs", "book"}, font_dejavu_mono);
    EXPECT_EQ(foreign.out, text_of(larger));
    EXPECT_EQ(foreign.status, 0) << foreign.err;
}

// Pictures named by their page numbers as a shell sorts them (page-10 before page-8), with
// -o after them and the header typed as the screen shows it, in three words, between them.
TEST(picture_runs, pictures_are_read_in_the_order_of_their_numbers_with_options_anywhere)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    std::string bytes = save_of(300, 11);
    std::vector<std::string> names;
    draw_save(bytes, capture(font_vga8, 2, false, 9), false, dir, &names);
    for (size_t page = 0; page < names.size(); page++)
        std::filesystem::rename(dir / names[page], dir / ("page-" + std::to_string(page + 8) + ".png"));
    run_result result = run_program(dumpscan, {"page-10.png", "--header", "00", "01", "2C", "page-8.png",
                                               "page-9.png", "-o", "save.txt"}, "", dir.path.string());
    EXPECT_EQ(result.err, "The pictures are read in the order of the numbers in their names: page-8.png before "
                          "page-10.png\n"
                          "page-8.png: page 0, 16 lines, header 00 01 2C\n"
                          "page-9.png: page 1, 16 lines, header 00 01 2C\n"
                          "page-10.png: last page, 6 lines, header 00 01 2C\n");
    EXPECT_EQ(read_file(dir / "save.txt"), text_of(bytes));
    EXPECT_EQ(result.status, 0);
}

// Sets of pictures that cannot hold the checks: the run says why, writes every digit it
// cannot be sure of as '?', and ends with status 5.
struct set_row {
    const char *name;
    size_t size;
    std::vector<std::string> args; // the pictures are page-0.png ..., last.png a copy of the last,
                                   // other.png the first page of a save of 256 bytes, cut.png the
                                   // first page drawn lower, its last line below the picture, and
                                   // cropped.png the first page cropped through its last line
    std::string said;
    int first_page_rows = 0; // the text's rows for the first page (0: not counted)
};

const set_row set_rows[] = {
    {"a picture given twice", 300, {"page-0.png", "page-1.png", "page-1.png"}, "page-1.png repeats page-1.png\n"},
    {"the last page given first", 300, {"last.png", "page-0.png", "page-1.png"},
     "last.png has 6 lines but is not the last page\n"},
    {"a last page of whole lines given first", 296, {"last.png", "page-0.png", "page-1.png"},
     "last.png shows 5 lines, not 16: lines not found on it, or the last page out of order\n"},
    {"a page of another save", 300, {"page-0.png", "other.png", "page-2.png"},
     "other.png shows the header 00 01 00, the others 00 01 2C: a page of another save?\n"},
    {"a page missing", 300, {"page-0.png", "page-1.png"}, "2 pages given, the header says 3\n"},
    {"a page whose last line the picture cut off", 300, {"cut.png", "page-1.png", "page-2.png"},
     "cut.png shows 15 lines, not 16: line 15 is cut off at the bottom of the picture\n", 17},
    {"a page cropped through its last line", 300, {"cropped.png", "page-1.png", "page-2.png"},
     "cropped.png shows 15 lines, not 16: line 15 is cut off at the bottom of the picture\n", 17},
    {"a header one digit off", 300, {"--header", "00 01 2D", "page-0.png", "page-1.png", "page-2.png"},
     "--header 00 01 2D: the pages show 00 01 2C\n"},
};

TABLE_TEST(set_runs, say_why_the_checks_cannot_hold, set_row, set_rows)
{
    SKIP_UNDER_WINE_IF(true);
    const set_row &row = GetParam();
    scratch_dir dir;
    std::vector<std::string> names;
    draw_save(save_of(row.size, 5), capture(font_vga8, 2, false, 9), false, dir, &names);
    std::filesystem::copy(dir / names.back(), dir / "last.png");
    scratch_dir other;
    std::vector<std::string> other_names;
    draw_save(save_of(256, 6), capture(font_vga8, 2, false, 9), false, other, &other_names);
    std::filesystem::copy(other / other_names[0], dir / "other.png");
    page_drawing cut = capture(font_vga8, 2, false, 9);
    cut.rows = dump_page_rows(save_of(row.size, 5), 0);
    cut.top = 224 - 16 * 9; // the header's row and fifteen lines, the sixteenth just below
    ASSERT_TRUE(draw_page(cut, dir / "cut.png"));
    cut.top = 16;
    cut.cut_bottom = 116; // the last line's glyphs lose a pixel of the screen
    ASSERT_TRUE(draw_page(cut, dir / "cropped.png"));
    run_result result = run_program(dumpscan, row.args, "", dir.path.string());
    EXPECT_NE(result.err.find(row.said), std::string::npos) << result.err << result.out;
    EXPECT_EQ(result.status, 5);
    if (row.first_page_rows > 0) { // nothing read for sure: every digit '?'
        std::string first_page = "?? ?? ??\n";
        for (int line = 1; line < row.first_page_rows; line++)
            first_page += "?? ?? ?? ?? ?? ?? ?? ??\n";
        EXPECT_EQ(result.out.substr(0, result.out.find("\n\n") + 1), first_page);
    }
}

// The whole road, from the example's pictures to filedata.dat and an image, with one digit of
// the text not read: dumpentry writes it as 0, names its line and ends with status 5;
// bramarray packs it with a warning; bramimage keeps it out of the image.
TEST(picture_runs, the_road_from_pictures_to_an_image_with_a_digit_not_read)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    for (const char *page : {"page-1.png", "page-2.png", "page-3.png"})
        write_file(dir / page, read_file(std::string(EXAMPLES_DIR) + "/" + page));
    std::string road = with_programs("S -o save.txt page-*.png 2>/dev/null && sed -i '4s/^4/?/' save.txt && "
                                     "{ D save.bin save.txt >/dev/null 2>entry.txt; test $? = 5; } && "
                                     "A save.bin >/dev/null 2>array.txt && { I add game.sav save.bin; test $? = 3; }");
    run_result result = run_program("/bin/bash", {"-c", road}, "", dir.path.string());
    EXPECT_EQ(result.status, 0) << result.err;
    std::string save = read_file(std::string(EXAMPLES_DIR) + "/save.bin");
    save[16] = '\x01'; // 41 read as ?1
    EXPECT_EQ(read_file(dir / "save.bin"), save);
    std::string entry = read_file(dir / "entry.txt");
    EXPECT_NE(entry.find("Warning: page 0, line 2: 1 digit not read (save.txt, line 4)\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Warning: 1 line looked mistyped: page 0, line 2\n"), std::string::npos) << entry;
    EXPECT_EQ(read_file(dir / "array.txt"),
              "Warning: 'save.bin' has a checksum that does not hold (stored 0xBD68, computed 0xBDA8)\n");
    EXPECT_NE(read_file(dir / "filedata.dat").find("0X20, 0X20, \n0X01, 0X52, 0X4C"),
              std::string::npos);
    EXPECT_EQ(result.err, "'save.bin' is not a well-formed backup memory file: it has a checksum that does not hold "
                          "(stored 0xBD68, computed 0xBDA8)\n");
    EXPECT_FALSE(file_exists(dir / "game.sav"));
}

// A picture read once, whole: from a pipe on standard input, or from a named pipe.
TEST(picture_runs, a_picture_from_a_pipe_is_read)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    write_file(dir / "page-3.png", read_file(std::string(EXAMPLES_DIR) + "/page-3.png"));
    for (const char *command : {"cat page-3.png | S /dev/stdin", "mkfifo p.png && { cat page-3.png > p.png & } && S p.png"}) {
        run_result result = run_program("/bin/bash", {"-c", with_programs(command)}, "", dir.path.string());
        EXPECT_EQ(result.err.substr(0, result.err.find(", header")), std::string(command[0] == 'c' ? "/dev/stdin" : "p.png") +
                                                                       ": last page, 8 lines")
            << result.err;
        EXPECT_EQ(result.status, 5);
    }
}

// A header given that the pages contradict: no name is sure, every digit is '?', and with no
// terminal to ask at, nothing is asked.
TEST(picture_runs, a_header_the_pages_contradict_leaves_every_digit_unsure)
{
    SKIP_UNDER_WINE_IF(true);
    scratch_dir dir;
    std::string bytes = save_of(256, 3);
    run_result result = scan_drawn(bytes, false, dir, {"--header", "00 01 01"});
    std::string unsure = text_of(bytes);
    for (char &c : unsure)
        c = isxdigit(static_cast<unsigned char>(c)) ? '?' : c;
    EXPECT_EQ(result.out, unsure);
    EXPECT_EQ(result.err, "page-0.png: page 0, 16 lines, header ?? ?? ??\n"
                          "page-1.png: page 1, 16 lines, header ?? ?? ??\n"
                          "--header 00 01 01: the pages show 00 01 00\n"
                          "Warning: 524 digits not read for sure, written '?': page 0, header; page 0, line 0; "
                          "page 0, line 1; page 0, line 2; page 0, line 3; page 0, line 4; page 0, line 5; "
                          "page 0, line 6; page 0, line 7; page 0, line 8; and more\n");
    EXPECT_EQ(result.status, 5);
}

// A damaged PNG: its signature and header, then bytes that are no image data.
const std::string damaged_png = bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\1\0\0\0\0\xe0\x08\x02\0\0\0") + "not an image";
// A grey picture in PNM, with nothing on it.
const std::string blank_pnm = "P5\n64 48\n255\n" + std::string(64 * 48, '\x20');
// A picture of one stroke, which stands on no grid of cells with pairs.
std::string stroke_pnm()
{
    std::string pixels(64 * 48, '\0');
    for (int x = 8; x < 56; x++)
        pixels[20 * 64 + x] = pixels[21 * 64 + x] = '\xff';
    return "P5\n64 48\n255\n" + pixels;
}

// A GIF of a logical screen of this size and one frame of that size, its pixels (a few read,
// the rest cut short) never decoded when the size is too large.
std::string gif_of(unsigned screen_width, unsigned screen_height, unsigned frame_width, unsigned frame_height)
{
    auto le16 = [](unsigned value) { return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; };
    return "GIF89a" + le16(screen_width) + le16(screen_height) + bytes("\x80\0\0\xff\xff\xff\0\0\0") + "," +
           le16(0) + le16(0) + le16(frame_width) + le16(frame_height) + bytes("\0\x02\x02\x44\x01\0;");
}

// The example's last page as a progressive JPEG whose last scan is repeated until it has more
// scans than any camera writes: each repeat would cost a decoding pass.
std::string jpeg_of_many_scans()
{
    PIX *pix = pixRead((std::string(EXAMPLES_DIR) + "/page-3.png").c_str());
    l_uint8 *data = nullptr;
    size_t size = 0;
    pixWriteMemJpeg(&data, &size, pix, 75, 1);
    pixDestroy(&pix);
    std::string jpeg(reinterpret_cast<char *>(data), size);
    lept_free(data);
    size_t last_scan = jpeg.rfind("\xFF\xDA"), end = jpeg.rfind("\xFF\xD9");
    std::string scan = jpeg.substr(last_scan, end - last_scan), repeated;
    for (int k = 0; k < 80; k++)
        repeated += scan;
    return jpeg.substr(0, last_scan) + repeated + jpeg.substr(end);
}

// A row: -o save.txt, when named, afterwards holds text (nullopt: there is none); each row
// that does not write runs a second time over an earlier save.txt, left byte for byte.
run_case row(const char *name, const std::vector<std::string> &args, const std::map<std::string, std::string> &files,
             const std::string &out, const std::string &err, int status)
{
    run_case made{name, DUMPSCAN_PATH, args, files, "", out, err, status, {}};
    for (size_t k = 0; k + 1 < args.size(); k++)
        if (args[k] == "-o" && args[k + 1] == "save.txt" && !files.count("save.txt")) {
            made.after["save.txt"] = std::nullopt;
            made.earlier = earlier_file{"save.txt", old_text, 0640};
        }
    return made;
}

// A row where tesseract's data, in the folder TESSDATA_PREFIX names, is missing or unusable: the
// earlier text stays as it was.
run_case no_english_data(const char *name, std::map<std::string, std::string> files, const std::string &setup,
                         const std::string &why)
{
    files["save.txt"] = old_text;
    files["p.png"] = read_file(std::string(EXAMPLES_DIR) + "/page-3.png");
    run_case made{name, dumpscan.empty() ? "" : "sh", {"TESSDATA_PREFIX=. S -o save.txt p.png"}, files, "", "",
                  "tesseract cannot read its English data './eng.traineddata' (" + why +
                      "): install tesseract-ocr-eng\n",
                  4, {{"save.txt", old_text}}};
    made.setup = setup;
    return made;
}

// The example's pictures read where no thread can be started: read all the same, on one.
run_case no_threads(const char *name)
{
    std::map<std::string, std::string> files;
    for (const char *page : {"page-1.png", "page-2.png", "page-3.png"})
        files[page] = read_file(std::string(EXAMPLES_DIR) + "/" + page);
    std::string said = "page-1.png: page 0, 16 lines, header 00 01 3B\n"
                       "page-2.png: page 1, 16 lines, header 00 01 3B\n"
                       "page-3.png: last page, 8 lines, header 00 01 3B\n";
    std::string text = text_of(read_file(std::string(EXAMPLES_DIR) + "/save.bin"));
    return {name, dumpscan.empty() ? "" : "sh", {"FAIL_CALL=pthread_create L S -o save.txt page-?.png"}, files, "",
            "", said, 0, {{"save.txt", text}}};
}

// The example's pictures, and what dumpscan says of them.
std::map<std::string, std::string> example_pages(std::map<std::string, std::string> files = {})
{
    for (const char *page : {"page-1.png", "page-2.png", "page-3.png"})
        files[page] = read_file(std::string(EXAMPLES_DIR) + "/" + page);
    return files;
}
const std::string example_said = "page-1.png: page 0, 16 lines, header 00 01 3B\n"
                                 "page-2.png: page 1, 16 lines, header 00 01 3B\n"
                                 "page-3.png: last page, 8 lines, header 00 01 3B\n";

// The text of the example's pages from first on (0 to 2) with every digit but those named
// written '?'.
std::string example_text_naming(const std::string &named, size_t first = 0)
{
    std::string text = text_of(read_file(std::string(EXAMPLES_DIR) + "/save.bin"));
    for (size_t page = 0; page < first; page++)
        text = text.substr(text.find("\n\n") + 2);
    for (char &c : text)
        c = isxdigit(static_cast<unsigned char>(c)) && named.find(c) == std::string::npos ? '?' : c;
    return text;
}

// A row where the glyph book is in the way, the example's pictures read all the same.
run_case book_row(const char *name, std::vector<std::string> args, std::map<std::string, std::string> files,
                  const std::string &said)
{
    args.insert(args.end(), {"-o", "save.txt", "page-1.png", "page-2.png", "page-3.png"});
    return {name, DUMPSCAN_PATH, args, example_pages(files), "", "", said + example_said, 0,
            {{"save.txt", example_text_naming("0123456789ABCDEF")}}};
}

// At a terminal, asked shape by shape, the answers given as the questions show.
run_case asked_row(const char *name, const std::string &command, const dialogue &lines, int status,
                   const std::string &text)
{
    return {name, "/bin/bash", {"-c", with_programs(command)}, example_pages(), "", std::nullopt, std::nullopt, status,
            {{"t.txt", text}}, lines};
}

// The question for the glyph first seen at this place, with the guess.
dialogue question(const std::string &place, char guess, const std::string &keys)
{
    return {{"This glyph could not be read for sure; it stands at " + place + ":\n", ""},
            {std::string("Which hex digit is this? [") + guess + "] ", keys}};
}

// A glyph book of this many shapes, each a block of ink named 0, and then the line given.
std::string book_of(size_t shapes, const std::string &last = "")
{
    std::string book = "bramtools glyph book 1\n";
    for (size_t k = 0; k < shapes; k++)
        book += "0 " + std::string(512, 'F') + "\n";
    return book + last;
}

const std::string binary_save = bytes("\x14\0\xF6\xFF\0\0SAVE      \x01\x02\x03\x04");

const run_case cases[] = {
    row("no arguments", {}, {}, usage + contact_banner, "", 0),
    row("help", {"--help"}, {}, usage + contact_banner, "", 0),
    row("version", {"--version"}, {}, "dumpscan 1.0.0\n", "", 0),
    row("an unknown option", {"--verbose", "p.png"}, {}, "",
        "Unknown option '--verbose'; to name a file that begins with '-', write './--verbose'\n", 1),
    row("a header of five digits", {"--header", "00 08 0", "p.png"}, {}, "",
        "The header '00 08 0' is not six hex digits, such as '00 08 00'\n", 1),
    row("a header with a letter", {"--header", "00 08 0G", "p.png"}, {}, "",
        "The header '00 08 0G' is not six hex digits, such as '00 08 00'\n", 1),
    row("a header of seven digits after '='", {"p.png", "--header=00 08 001"}, {}, "",
        "The header '00 08 001' is not six hex digits, such as '00 08 00'\n", 1),
    row("a header of two words", {"--header", "00", "08", "p.png"}, {}, "",
        "The header '00' is not six hex digits, such as '00 08 00'\n", 1),
    row("a header after '=' and one pair more", {"--header=00", "08", "p.png"}, {}, "",
        "The header '00' is not six hex digits, such as '00 08 00'\n", 1),
    row("an empty header after '='", {"--header=", "p.png"}, {}, "",
        "The header '' is not six hex digits, such as '00 08 00'\n", 1),
    row("a header after '=' in three words, as the shell splits it", {"--header=00", "08", "00", "p.png"}, {}, "",
        "Couldn't open file 'p.png' for input: No such file or directory\n", 3),
    row("--header last, with nothing after it", {"p.png", "--header"}, {}, "",
        "--header needs the header, such as '00 08 00'\n", 1),
    row("-o last, with no name", {"p.png", "-o"}, {}, "", "-o needs the name of the text file to write\n", 1),
    row("-o with an empty name", {"-o", "", "p.png"}, {}, "", "-o needs the name of the text file to write\n", 1),
    row("options after the pictures", {"p.png", "-o", "save.txt", "--header=000800"}, {}, "",
        "Couldn't open file 'p.png' for input: No such file or directory\n", 3),
    row("the text named as an image to read", {"-o", "save.txt", "save.txt"}, {{"save.txt", old_text}}, "",
        "Output file 'save.txt' is also an image to read\n", 1),
    row("the text is a dump file", {"-o", "save.bin", "p.png"}, {{"save.bin", binary_save}}, "",
        "Output file 'save.bin' holds no text, so it is left as it is\n", 1),
    row("a missing picture", {"-o", "save.txt", "p.png"}, {}, "",
        "Couldn't open file 'p.png' for input: No such file or directory\n", 3),
    row("a folder for a picture", {"-o", "save.txt", "p"}, {{"p/x", ""}}, "",
        "Couldn't open file 'p' for input: Is a directory\n", 3),
    row("a damaged PNG", {"-o", "save.txt", "p.png"}, {{"p.png", damaged_png}}, "",
        "'p.png' cannot be read as an image\n", 3),
    row("a text for a picture", {"-o", "save.txt", "p.png"}, {{"p.png", old_text}}, "",
        "'p.png' cannot be read as an image\n", 3),
    row("a blank picture", {"-o", "save.txt", "p.pgm"}, {{"p.pgm", blank_pnm}}, "",
        "'p.pgm' holds no dump page: no text on a grid of cells\n", 2),
    row("a picture of no text", {"-o", "save.txt", "p.pgm"}, {{"p.pgm", stroke_pnm()}}, "",
        "'p.pgm' holds no dump page: no text on a grid of cells\n", 2),
    {"the text is standard output", dumpscan.empty() ? "" : "sh", {"S -o save.txt p.png >> save.txt"}, {{"save.txt", old_text}}, "", "",
     "Output file 'save.txt' is also standard output\n", 1, {{"save.txt", old_text}}},
    row("a picture after --", {"--", "-p.png"}, {{"-p.png", damaged_png}}, "", "'-p.png' cannot be read as an image\n",
        3),
    no_threads("no thread can be started"),
    {"a named pipe with no reader as the text, a picture missing: said at once", dumpscan.empty() ? "" : "sh",
     {"mkfifo t.txt && timeout 20 S -o t.txt p.png"}, {}, "", "",
     "Couldn't open file 'p.png' for input: No such file or directory\n", 3, {}},
    row("a JPEG of more scans than any camera writes", {"-o", "save.txt", "p.jpg"}, {{"p.jpg", jpeg_of_many_scans()}},
        "", "'p.jpg' cannot be read as an image\n", 3),
    row("a GIF whose screen is too large", {"-o", "save.txt", "p.gif"}, {{"p.gif", gif_of(20000, 20000, 1, 1)}}, "",
        "'p.gif' is too large a picture: 20000 x 20000 pixels, more than 64 million\n", 3),
    row("a GIF whose screen is 64 million pixels, no more, is read", {"-o", "save.txt", "p.gif"},
        {{"p.gif", gif_of(8000, 8000, 1, 1)}}, "", "'p.gif' holds no dump page: no text on a grid of cells\n", 2),
    row("a GIF whose frame is too large", {"-o", "save.txt", "p.gif"}, {{"p.gif", gif_of(1, 1, 9000, 9000)}}, "",
        "'p.gif' is too large a picture: 9000 x 9000 pixels, more than 64 million\n", 3),
    row("a GIF whose second frame, after one with colours of its own, is too large", {"-o", "save.txt", "p.gif"},
        {{"p.gif", bytes("GIF89a\x01\0\x01\0\0\0\0,\0\0\0\0\x01\0\x01\0\x82") + std::string(24, '\x7f') +
                       bytes("\x02\x02\x44\x01\0,\0\0\0\0\x28\x23\x28\x23\0\x02\x02\x44\x01\0;")}},
        "", "'p.gif' is too large a picture: 9000 x 9000 pixels, more than 64 million\n", 3),
    row("a picture 3 pixels wide and 100 000 tall", {"-o", "save.txt", "p.pgm"},
        {{"p.pgm", "P5\n3 100000\n255\n" + std::string(300000, '\0')}}, "",
        "'p.pgm' holds no dump page: no text on a grid of cells\n", 2),
    book_row("a damaged glyph book is said and left as it is", {"--glyphs", "book"},
             {{"book", "bramtools glyph book 1\nZ 00\n"}},
             "Warning: the glyph book 'book' is damaged (line 2), so it is neither used nor written\n"),
    book_row("a glyph book whose third line holds a letter that is no digit", {"--glyphs", "book"},
             {{"book", book_of(1, "G " + std::string(512, 'F') + "\n")}},
             "Warning: the glyph book 'book' is damaged (line 3), so it is neither used nor written\n"),
    book_row("a glyph book whose last line has no line end", {"--glyphs", "book"},
             {{"book", book_of(1, "1 " + std::string(512, 'F'))}},
             "Warning: the glyph book 'book' is damaged (line 3), so it is neither used nor written\n"),
    book_row("a glyph book of more shapes than a book keeps", {"--glyphs", "book"}, {{"book", book_of(1025)}},
             "Warning: the glyph book 'book' is damaged (line 1026), so it is neither used nor written\n"),
    book_row("a glyph book that is a folder", {"--glyphs=book"}, {{"book/x", ""}},
             "Warning: the glyph book 'book' is no file, so it is neither used nor written\n"),
    book_row("without the glyph book, a damaged one is not looked at", {"--no-glyphs", "--glyphs", "book"},
             {{"book", "bramtools glyph book 1\nZ 00\n"}}, ""),
    row("--glyphs last, with no name", {"p.png", "--glyphs"}, {}, "", "--glyphs needs the name of the glyph book\n",
        1),
    row("--glyphs= with no name", {"--glyphs=", "p.png"}, {}, "", "--glyphs needs the name of the glyph book\n", 1),
    row("the glyph book named as the text", {"--glyphs", "./save.txt", "-o", "save.txt", "p.png"}, {}, "",
        "The glyph book './save.txt' is also the text to write\n", 1),
    asked_row("each shape asked once where it first stands: Enter takes the guess, keys typed ahead are dropped, an "
              "answer against --header is said and taken when typed again, Ctrl-D ends the questions",
              "S --no-glyphs -o t.txt --header 00 01 3C page-?.png",
              question("page 0, header, byte 0, first digit", '0', "x\n") +
                  dialogue{{"Type one hex digit, 0 to 9 or A to F, or '?' for a glyph you cannot tell\n"
                            "Which hex digit is this? [0] ", "0\n"}} +
                  question("page 0, header, byte 1, second digit", '1', "\n") +
                  question("page 0, header, byte 2, first digit", '3', "3\n\n") +
                  question("page 0, header, byte 2, second digit", 'C', "B\n") +
                  dialogue{{"It stands at page 0, header, byte 2, second digit, where the header must hold C "
                            "(--header 00 01 3C): type B again to keep it\nWhich hex digit is this? [C] ", "B\n"}} +
                  question("page 0, line 0, byte 2, first digit", '6', "6\n") +
                  question("page 0, line 0, byte 2, second digit", '8', "\x04"),
              5, example_text_naming("013B6")),
    asked_row("the answers given before Ctrl-C are kept in the glyph book: the next run asks only what is left",
              "trap : INT; S --glyphs book -o t.txt page-3.png; S --glyphs book -o t.txt page-3.png; s=$?; "
              "test -s book && rm book && exit $s",
              question("last page, header, byte 0, first digit", '0', "0\n") +
                  question("last page, header, byte 1, second digit", '0', "1\n") +
                  question("last page, header, byte 2, first digit", '3', "\x03") +
                  question("last page, header, byte 2, first digit", '3', "\x04"),
              5, example_text_naming("01", 2)),
    no_english_data("no English data for tesseract", {}, "", "No such file or directory"),
    no_english_data("English data that is empty", {{"eng.traineddata", ""}}, "", "empty"),
    no_english_data("English data that is a folder", {{"eng.traineddata/x", ""}}, "", "not a file"),
    no_english_data("English data that is a pipe with no writer", {}, "mkfifo eng.traineddata", "not a file"),
    no_english_data("English data cut short", {},
                    "head -c 100000 /usr/share/tesseract-ocr/5/tessdata/eng.traineddata >eng.traineddata",
                    "it cannot be loaded"),
};

RUN_TABLE(scan_runs, cases)

} // namespace

namespace {

// Not a test: the 16 captures of a 2 KiB save that bench/run.sh times dumpscan on, drawn into
// the folder $BENCH_PAGES with the text they show as expected.txt.
TEST(picture_runs, DISABLED_draw_bench_pages)
{
    const char *folder = getenv("BENCH_PAGES");
    ASSERT_NE(folder, nullptr);
    std::string bytes = save_of(2048, 2048);
    page_drawing drawing = degraded(capture(font_vga8, 3, true, 9), 0.5, 75, 3);
    for (size_t page = 0; page < 16; page++) {
        drawing.rows = dump_page_rows(bytes, page);
        drawing.seed = static_cast<unsigned>(page + 1);
        char name[32];
        snprintf(name, sizeof name, "/page-%02zu.jpg", page);
        ASSERT_TRUE(draw_page(drawing, folder + std::string(name)));
    }
    write_file(folder + std::string("/expected.txt"), text_of(bytes));
}

} // namespace
