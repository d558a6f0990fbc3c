#include "draw_page.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <leptonica/allheaders.h>
#include <random>
#include <zlib.h>

namespace {

const int screen_width = 256, screen_height = 224, cell = 8;

// The 8 x 8 bitmap of a character: row by row, bit 7 leftmost.
using glyph = unsigned char[cell];

// The console's own VGA font of console-setup, a PSF1 or PSF2 file.
bool vga8_glyph(unsigned char c, glyph bits)
{
    static std::vector<unsigned char> font;
    static size_t header = 0, height = 8;
    if (font.empty()) {
        gzFile file = gzopen("/usr/share/consolefonts/Lat15-VGA8.psf.gz", "rb");
        if (!file)
            return false;
        unsigned char chunk[8192];
        int count;
        while ((count = gzread(file, chunk, sizeof chunk)) > 0)
            font.insert(font.end(), chunk, chunk + count);
        gzclose(file);
        bool psf2 = font.size() > 32 && font[0] == 0x72 && font[1] == 0xB5;
        header = psf2 ? font[8] | font[9] << 8 : 4;
        height = psf2 ? font[24] : font[3];
    }
    if (font.size() < header + (c + 1) * height || height != cell)
        return false;
    memcpy(bits, &font[header + c * height], cell);
    return true;
}

// A TrueType monospaced font drawn at 8 pixels with no smoothing, on the baseline of row 7.
bool freetype_glyph(const char *path, unsigned char c, glyph bits)
{
    static FT_Library library;
    static FT_Face faces[8];
    static const char *paths[8];
    if (!library && FT_Init_FreeType(&library) != 0)
        return false;
    FT_Face face = nullptr;
    for (int k = 0; k < 8 && !face; k++) {
        if (paths[k] == path)
            face = faces[k];
        else if (!paths[k] && FT_New_Face(library, path, 0, &faces[k]) == 0) {
            paths[k] = path;
            face = faces[k];
            FT_Set_Pixel_Sizes(face, 0, 9);
        }
    }
    if (!face || FT_Load_Char(face, c, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME) != 0)
        return false;
    memset(bits, 0, cell);
    const FT_Bitmap &bitmap = face->glyph->bitmap;
    int left = face->glyph->bitmap_left + (cell - static_cast<int>(face->glyph->advance.x >> 6)) / 2;
    int top = 7 - face->glyph->bitmap_top;
    for (int y = 0; y < static_cast<int>(bitmap.rows); y++)
        for (int x = 0; x < static_cast<int>(bitmap.width); x++) {
            bool on = bitmap.buffer[y * bitmap.pitch + x / 8] & (0x80 >> (x % 8));
            int row = top + y, column = left + x;
            if (on && row >= 0 && row < cell && column >= 0 && column < cell)
                bits[row] |= static_cast<unsigned char>(0x80 >> column);
        }
    return true;
}

// The TrueType file of each font that is not the console's own, by page_font.
const char *const truetype_files[page_fonts] = {
    nullptr,
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Bold.ttf",
    nullptr,
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Oblique.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-BoldOblique.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Italic.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-BoldItalic.ttf",
};

bool glyph_of(page_font font, unsigned char c, glyph bits)
{
    if (truetype_files[font])
        return freetype_glyph(truetype_files[font], c, bits);
    if (!vga8_glyph(c, bits))
        return false;
    for (int y = 0; font == font_vga8_bold && y < cell; y++) // every stroke a pixel wider
        bits[y] = static_cast<unsigned char>(bits[y] | bits[y] >> 1);
    return true;
}

PIX *draw_screen(const page_drawing &drawing)
{
    PIX *screen = pixCreate(screen_width, screen_height, 32);
    pixSetAllArbitrary(screen, drawing.background << 8);
    for (size_t row = 0; row < drawing.rows.size(); row++) {
        const std::string &text = drawing.rows[row];
        for (size_t k = 0; k < text.size(); k++) {
            glyph bits;
            if (text[k] == ' ' || !glyph_of(drawing.font, static_cast<unsigned char>(text[k]), bits))
                continue;
            for (int y = 0; y < cell; y++)
                for (int x = 0; x < cell; x++) {
                    int px = drawing.left + static_cast<int>(k) * cell + x;
                    int py = drawing.top + static_cast<int>(row) * drawing.row_pitch + y;
                    if ((bits[y] & (0x80 >> x)) && px < screen_width && py < screen_height)
                        pixSetPixel(screen, px, py, drawing.ink << 8);
                }
        }
    }
    return screen;
}

// Noise of the deviation given on every channel.
void add_noise(PIX *pix, double deviation, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, deviation);
    int width = pixGetWidth(pix), height = pixGetHeight(pix);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            l_int32 rgb[3];
            pixGetRGBPixel(pix, x, y, &rgb[0], &rgb[1], &rgb[2]);
            for (int &channel : rgb)
                channel = std::max(0, std::min(255, static_cast<int>(std::lround(channel + noise(random)))));
            pixSetRGBPixel(pix, x, y, rgb[0], rgb[1], rgb[2]);
        }
}

PIX *gaussian_blur(PIX *pix, double sigma)
{
    int half = static_cast<int>(std::ceil(3 * sigma));
    L_KERNEL *kernel = makeGaussianKernel(half, half, static_cast<float>(sigma), 1.0);
    PIX *blurred = pixConvolveRGBSep(pix, kernel, kernel);
    kernelDestroy(&kernel);
    return blurred;
}

} // namespace

bool draw_page(const page_drawing &drawing, const std::string &path)
{
    PIX *pix = draw_screen(drawing);
    PIX *scaled = drawing.smooth ? pixScale(pix, static_cast<float>(drawing.scale), static_cast<float>(drawing.scale))
                                 : pixExpandReplicate(pix, drawing.scale);
    pixDestroy(&pix);
    pix = scaled;
    if (drawing.widen != 1) {
        float across = static_cast<float>(drawing.widen);
        PIX *wide = drawing.smooth ? pixScale(pix, across, 1.0f) : pixScaleBySampling(pix, across, 1.0f);
        pixDestroy(&pix);
        pix = wide;
    }
    if (drawing.scanlines)
        for (int y = 1; y < static_cast<int>(pixGetHeight(pix)); y += 2)
            for (int x = 0; x < static_cast<int>(pixGetWidth(pix)); x++) {
                l_int32 r, g, b;
                pixGetRGBPixel(pix, x, y, &r, &g, &b);
                pixSetRGBPixel(pix, x, y, r / 3, g / 3, b / 3);
            }
    if (drawing.angle != 0) {
        float angle = static_cast<float>(drawing.angle * M_PI / 180);
        PIX *turned = pixRotate(pix, angle, L_ROTATE_AREA_MAP, L_BRING_IN_BLACK, 0, 0);
        pixDestroy(&pix);
        pix = turned;
    }
    if (drawing.blur > 0) {
        PIX *blurred = gaussian_blur(pix, drawing.blur);
        pixDestroy(&pix);
        pix = blurred;
    }
    if (drawing.noise > 0)
        add_noise(pix, drawing.noise, drawing.seed);
    if (drawing.cut_bottom > 0) {
        BOX *kept = boxCreate(0, 0, pixGetWidth(pix), pixGetHeight(pix) - drawing.cut_bottom);
        PIX *cropped = pixClipRectangle(pix, kept, nullptr);
        boxDestroy(&kept);
        pixDestroy(&pix);
        pix = cropped;
    }
    int failed = drawing.jpeg_quality ? pixWriteJpeg(path.c_str(), pix, drawing.jpeg_quality, 0)
                                      : pixWrite(path.c_str(), pix, IFF_PNG);
    pixDestroy(&pix);
    return failed == 0;
}

std::vector<std::string> dump_page_rows(const std::string &bytes, size_t page)
{
    char text[32];
    snprintf(text, sizeof text, "00 %02X %02X", static_cast<unsigned>(bytes.size() >> 8 & 0xFF),
             static_cast<unsigned>(bytes.size() & 0xFF));
    std::vector<std::string> rows = {text};
    for (size_t at = page * 128; at < bytes.size() && at < page * 128 + 128; at += 8) {
        std::string line;
        for (size_t k = at; k < at + 8 && k < bytes.size(); k++) {
            snprintf(text, sizeof text, "%s%02X", k > at ? " " : "", static_cast<unsigned char>(bytes[k]));
            line += text;
        }
        rows.push_back(line);
    }
    return rows;
}
