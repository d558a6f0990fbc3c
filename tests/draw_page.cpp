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

// Each channel of every pixel, row by row, made change(x, y, its level), within 0 to 255.
template <typename Change> void change_channels(PIX *pix, Change change)
{
    int width = pixGetWidth(pix), height = pixGetHeight(pix);
    for (int y = 0; y < height; y++) {
        l_uint32 *line = pixGetData(pix) + static_cast<ptrdiff_t>(y) * pixGetWpl(pix);
        for (int x = 0; x < width; x++) {
            l_int32 rgb[3];
            extractRGBValues(line[x], &rgb[0], &rgb[1], &rgb[2]);
            for (int &channel : rgb)
                channel = std::max(0, std::min(255, static_cast<int>(std::lround(change(x, y, channel)))));
            composeRGBPixel(rgb[0], rgb[1], rgb[2], &line[x]);
        }
    }
}

// Noise of the deviation given on every channel.
void add_noise(PIX *pix, double deviation, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, deviation);
    change_channels(pix, [&](int, int, int level) { return level + noise(random); });
}

// Each channel of every pixel times factor(x, y).
template <typename Factor> void shade(PIX *pix, Factor factor)
{
    change_channels(pix, [&](int x, int y, int level) { return level * factor(x, y); });
}

// The camera looking up at the screen by degrees: the top edge narrower than the bottom.
PIX *tilted(PIX *pix, double degrees)
{
    float width = static_cast<float>(pixGetWidth(pix)), height = static_cast<float>(pixGetHeight(pix));
    float inset = static_cast<float>(0.25 * std::tan(degrees * M_PI / 180)) * width;
    PTA *from = ptaCreate(4), *to = ptaCreate(4);
    const float corners[4][2] = {{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}};
    for (int k = 0; k < 4; k++) {
        ptaAddPt(from, corners[k][0], corners[k][1]);
        ptaAddPt(to, corners[k][0] + (k < 2 ? (k == 0 ? inset : -inset) : 0), corners[k][1]);
    }
    PIX *leaning = pixProjectivePta(pix, to, from, L_BRING_IN_BLACK);
    ptaDestroy(&from);
    ptaDestroy(&to);
    return leaning;
}

// Barrel distortion: each point moved out from the middle by share times the square of its
// distance, a corner's by share.
PIX *barrel_distorted(PIX *pix, double share)
{
    int width = pixGetWidth(pix), height = pixGetHeight(pix);
    PIX *bent = pixCreate(width, height, 32);
    double cx = width / 2.0, cy = height / 2.0, corner = cx * cx + cy * cy;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            // The source point whose image lands here, found by inverting r' = r (1 + share r^2) once.
            double dx = x - cx, dy = y - cy, r2 = (dx * dx + dy * dy) / corner;
            double back = 1 / (1 + share * r2 / (1 + share));
            int sx = static_cast<int>(std::lround(cx + dx * back)), sy = static_cast<int>(std::lround(cy + dy * back));
            bool inside = sx >= 0 && sy >= 0 && sx < width && sy < height;
            l_uint32 *to = pixGetData(bent) + static_cast<ptrdiff_t>(y) * pixGetWpl(bent);
            to[x] = inside ? pixGetData(pix)[static_cast<ptrdiff_t>(sy) * pixGetWpl(pix) + sx] : 0;
        }
    return bent;
}

// A Gaussian blur; from 2 pixels on, as two box blurs of the same deviation, far faster on the
// large pictures that take such blurs.
PIX *gaussian_blur(PIX *pix, double sigma)
{
    if (sigma >= 2) {
        int half = static_cast<int>(std::lround(std::sqrt(1.5 * sigma * sigma + 0.25) - 0.5));
        PIX *once = pixBlockconv(pix, half, half);
        PIX *twice = once ? pixBlockconv(once, half, half) : nullptr;
        pixDestroy(&once);
        return twice;
    }
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
    if (drawing.surround > 0) {
        PIX *room = pixAddBorderGeneral(pix, drawing.surround, drawing.surround, drawing.surround, drawing.surround,
                                        0x18181800);
        pixDestroy(&pix);
        pix = room;
    }
    if (drawing.tilt != 0) {
        PIX *leaning = tilted(pix, drawing.tilt);
        pixDestroy(&pix);
        pix = leaning;
    }
    if (drawing.barrel != 0) {
        PIX *bent = barrel_distorted(pix, drawing.barrel);
        pixDestroy(&pix);
        pix = bent;
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
    double width = pixGetWidth(pix), height = pixGetHeight(pix);
    if (drawing.light_falloff > 0)
        shade(pix, [&](int x, int y) { return 1 - drawing.light_falloff * (x / width + y / height) / 2; });
    if (drawing.moire > 0) // bands about 40 pixels apart, slanted
        shade(pix, [&](int x, int y) { return 1 - drawing.moire * (0.5 + 0.5 * std::sin((x * 0.9 + y * 0.45) * 2 * M_PI / 40)); });
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
