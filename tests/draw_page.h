#ifndef BRAMTOOLS_TESTS_DRAW_PAGE_H
#define BRAMTOOLS_TESTS_DRAW_PAGE_H

// Pages of a dump as the console's screen shows them, drawn for dumpscan's tests: text on a
// fixed grid of 8-pixel cells of a 256-pixel-wide screen, in a font Debian ships, then taken
// as a capture or a photo is: scaled, blurred, compressed, noisy, tinted, turned.

#include <string>
#include <vector>

// The fonts drawn with, each in 8 x 8 cells without smoothing. The tests draw with the first
// five; the others are for an evaluation that keeps them out of all tuning.
enum page_font {
    font_vga8,
    font_dejavu_mono,
    font_dejavu_mono_bold,
    font_liberation_mono,
    font_liberation_mono_bold,
    font_vga8_bold,               // the console font with every stroke a pixel wider: pairs touch
    font_dejavu_mono_oblique,
    font_dejavu_mono_bold_oblique,
    font_liberation_mono_italic,
    font_liberation_mono_bold_italic,
};
const int page_fonts = font_liberation_mono_bold_italic + 1;

struct page_drawing {
    std::vector<std::string> rows; // the screen's text rows, top to bottom
    page_font font = font_vga8;
    int row_pitch = 8;             // pixels from one text row to the next: 8 to 10
    int left = 16, top = 16;       // where the first row starts, in the screen's pixels
    unsigned background = 0x000000, ink = 0xFFFFFF; // RGB
    int scale = 1;                 // pixels of the capture for one of the screen
    double widen = 1;              // then widened across by this (4:3 of a 256 x 224 screen: 7/6),
                                   // smoothly or by repeating pixels as the scale was
    bool scanlines = false;        // every other line of the capture darkened, as a CRT shows it
    bool smooth = false;           // scaled smoothly rather than by repeating pixels
    double blur = 0;               // Gaussian blur, in the capture's pixels
    double noise = 0;              // the deviation of random noise added, from 0 to 255
    double angle = 0;              // degrees the picture is turned by
    double tilt = 0;               // degrees the camera looks up at the screen: rows narrower upward
    double barrel = 0;             // a lens's barrel distortion: a corner moves out by this share
    double light_falloff = 0;      // uneven light: darker by this share from one corner to the other
    double moire = 0;              // bands of a screen's grid against a camera's: their depth, 0 to 1
    int surround = 0;              // pixels of a dark room added on every side, as a photo of the TV
    int cut_bottom = 0;            // rows of the capture cut off at its bottom, as a crop does
    int jpeg_quality = 0;          // 0: written as PNG
    unsigned seed = 1;
};

// Draws the page and writes it at path (PNG, or JPEG with a quality); false on a failure.
bool draw_page(const page_drawing &drawing, const std::string &path);

// The text rows of page page (from 0) of a dump of these bytes: the header, then its lines.
std::vector<std::string> dump_page_rows(const std::string &bytes, size_t page);

#endif
