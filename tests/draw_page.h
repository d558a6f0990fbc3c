#ifndef BRAMTOOLS_TESTS_DRAW_PAGE_H
#define BRAMTOOLS_TESTS_DRAW_PAGE_H

// Pages of a dump as the console's screen shows them, drawn for dumpscan's tests: text on a
// fixed grid of 8-pixel cells of a 256-pixel-wide screen, in a font Debian ships, then taken
// as a capture or a photo is: scaled, blurred, compressed, noisy, tinted, turned.

#include <string>
#include <vector>

// The fonts drawn with, each in 8 x 8 cells without smoothing.
enum page_font { font_vga8, font_dejavu_mono, font_dejavu_mono_bold, font_liberation_mono, font_liberation_mono_bold };

struct page_drawing {
    std::vector<std::string> rows; // the screen's text rows, top to bottom
    page_font font = font_vga8;
    int row_pitch = 8;             // pixels from one text row to the next: 8 to 10
    int left = 16, top = 16;       // where the first row starts, in the screen's pixels
    unsigned background = 0x000000, ink = 0xFFFFFF; // RGB
    int scale = 1;                 // pixels of the capture for one of the screen
    bool smooth = false;           // scaled smoothly rather than by repeating pixels
    double blur = 0;               // Gaussian blur, in the capture's pixels
    double noise = 0;              // the deviation of random noise added, from 0 to 255
    double angle = 0;              // degrees the picture is turned by
    int jpeg_quality = 0;          // 0: written as PNG
    unsigned seed = 1;
};

// Draws the page and writes it at path (PNG, or JPEG with a quality); false on a failure.
bool draw_page(const page_drawing &drawing, const std::string &path);

// The text rows of page page (from 0) of a dump of these bytes: the header, then its lines.
std::vector<std::string> dump_page_rows(const std::string &bytes, size_t page);

#endif
