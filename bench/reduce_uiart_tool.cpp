// reduce_uiart_tool screen|flat OUT.png
// Draws synthetic menu artwork of the kind the reduction serves, the same
// bytes on every run:
//   screen  640 x 400: gradient background and title bar, panels with soft
//           shadows, gradient buttons, anti-aliased discs, rings and text-like
//           bars (several hundred colours);
//   flat    320 x 240: flat icons with anti-aliased edges on a flat ground
//           (fewer than a hundred colours).
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

Rgb Mix(Rgb a, Rgb b, int num, int den)
{
    auto m = [&](int x, int y) { return (x * (den - num) + y * num + den / 2) / den; };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

class Canvas {
public:
    Canvas(int w, int h) : m_w(w), m_h(h), m_px(size_t(w) * h * 3, 0) {}

    void Set(int x, int y, Rgb c)
    {
        if (x < 0 || y < 0 || x >= m_w || y >= m_h) return;
        uint8_t* p = &m_px[(size_t(y) * m_w + x) * 3];
        p[0] = uint8_t(c.r), p[1] = uint8_t(c.g), p[2] = uint8_t(c.b);
    }
    Rgb Get(int x, int y) const
    {
        const uint8_t* p = &m_px[(size_t(y) * m_w + x) * 3];
        return {p[0], p[1], p[2]};
    }

    // Vertical gradient from top to bottom colour over a rectangle.
    void Gradient(int x0, int y0, int x1, int y1, Rgb top, Rgb bottom)
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) Set(x, y, Mix(top, bottom, y - y0, std::max(1, y1 - y0 - 1)));
    }

    // A shape given by an inside test, blended by its coverage of 4 x 4
    // samples per pixel (`levels` sets how finely the coverage is kept).
    void Shape(int x0, int y0, int x1, int y1, const std::function<bool(double, double)>& inside,
               const std::function<Rgb(int, int)>& colour, int levels = 16)
    {
        for (int y = std::max(0, y0); y < std::min(m_h, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(m_w, x1); ++x) {
                int cover = 0;
                for (int sy = 0; sy < 4; ++sy)
                    for (int sx = 0; sx < 4; ++sx) cover += inside(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
                cover = cover * levels / 16;
                if (cover) Set(x, y, Mix(Get(x, y), colour(x, y), cover, levels));
            }
    }

    bool Write(const char* path) const
    {
        png_image png;
        std::memset(&png, 0, sizeof png);
        png.version = PNG_IMAGE_VERSION;
        png.width = uint32_t(m_w);
        png.height = uint32_t(m_h);
        png.format = PNG_FORMAT_RGB;
        return png_image_write_to_file(&png, path, 0, m_px.data(), 0, nullptr) != 0;
    }

private:
    int m_w, m_h;
    std::vector<uint8_t> m_px;
};

std::function<bool(double, double)> RoundRect(double x0, double y0, double x1, double y1, double radius)
{
    return [=](double x, double y) {
        double cx = std::clamp(x, x0 + radius, x1 - radius), cy = std::clamp(y, y0 + radius, y1 - radius);
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
    };
}

std::function<bool(double, double)> Disc(double cx, double cy, double r)
{
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

std::function<bool(double, double)> Ring(double cx, double cy, double r, double width)
{
    return [=](double x, double y) {
        double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
        return d <= r && d >= r - width;
    };
}

std::function<Rgb(int, int)> Flat(Rgb c)
{
    return [=](int, int) { return c; };
}

// A line of text-like bars: words of varying width with rounded ends.
void TextLine(Canvas& c, int x, int y, int width, Rgb ink, unsigned seed)
{
    int pos = x;
    while (pos < x + width) {
        seed = seed * 1103515245u + 12345u;
        int word = 12 + int((seed >> 16) % 40);
        if (pos + word > x + width) break;
        c.Shape(pos - 1, y - 1, pos + word + 1, y + 9, RoundRect(pos, y, pos + word, y + 7.5, 2.5), Flat(ink));
        pos += word + 6;
    }
}

void DrawScreen(Canvas& c)
{
    c.Gradient(0, 0, 640, 400, {16, 30, 62}, {44, 86, 150});
    c.Gradient(0, 0, 640, 36, {70, 74, 86}, {36, 38, 46});
    TextLine(c, 16, 14, 180, {230, 232, 236}, 7);
    const Rgb accents[] = {{226, 72, 64}, {64, 178, 96}, {250, 170, 40}, {140, 90, 210}, {40, 160, 220}};
    for (int p = 0; p < 3; ++p) {
        const int px = 20 + p * 208, py = 56, pw = 184, ph = 320;
        for (int s = 6; s >= 1; --s) // soft shadow: stacked translucent layers
            c.Shape(px - s + 3, py - s + 5, px + pw + s + 3, py + ph + s + 5,
                    RoundRect(px - s + 3, py - s + 5, px + pw + s + 3, py + ph + s + 5, 10 + s),
                    Flat({8, 14, 30}), 64 - 8 * s);
        c.Shape(px, py, px + pw + 1, py + ph + 1, RoundRect(px, py, px + pw, py + ph, 10), Flat({236, 239, 244}));
        c.Shape(px + 12, py + 12, px + 60, py + 60, Disc(px + 36, py + 36, 22), Flat(accents[p]));
        c.Shape(px + 12, py + 12, px + 60, py + 60, Ring(px + 36, py + 36, 22, 3), Flat(accents[p + 2]));
        TextLine(c, px + 70, py + 22, 100, {60, 64, 72}, 100u + p);
        TextLine(c, px + 70, py + 38, 90, {150, 154, 162}, 200u + p);
        for (int row = 0; row < 6; ++row) {
            const int ry = py + 80 + row * 30;
            c.Shape(px + 14, ry, px + 30, ry + 16, Disc(px + 22, ry + 8, 7), Flat(accents[(row + p) % 5]));
            TextLine(c, px + 38, ry + 4, 132, {80, 84, 92}, 300u + unsigned(p * 10 + row));
        }
        const int by = py + ph - 48;
        Rgb top = Mix(accents[p], {255, 255, 255}, 1, 4), bottom = Mix(accents[p], {0, 0, 0}, 1, 4);
        c.Shape(px + 16, by, px + pw - 15, by + 33, RoundRect(px + 16, by, px + pw - 16, by + 32, 8),
                [=](int, int y) { return Mix(top, bottom, std::clamp(y - by, 0, 32), 32); });
        TextLine(c, px + 60, by + 12, 70, {255, 255, 255}, 400u + p);
    }
}

void DrawFlat(Canvas& c)
{
    c.Gradient(0, 0, 320, 240, {242, 242, 246}, {242, 242, 246});
    const Rgb colours[] = {{220, 60, 60}, {60, 170, 90}, {250, 180, 30}, {70, 110, 220}, {150, 80, 200}, {40, 40, 48}};
    for (int i = 0; i < 12; ++i) {
        const int x = 16 + (i % 4) * 76, y = 16 + (i / 4) * 74;
        const Rgb fg = colours[i % 6], bg = colours[(i + 3) % 6];
        c.Shape(x, y, x + 61, y + 61, RoundRect(x, y, x + 60, y + 60, 12), Flat(bg));
        if (i % 3 == 0) c.Shape(x, y, x + 61, y + 61, Disc(x + 30, y + 30, 18), Flat(fg));
        else if (i % 3 == 1) c.Shape(x, y, x + 61, y + 61, Ring(x + 30, y + 30, 20, 6), Flat(fg));
        else c.Shape(x, y, x + 61, y + 61, RoundRect(x + 14, y + 22, x + 46, y + 38, 4), Flat(fg));
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::string kind = argc == 3 ? argv[1] : "";
    if (kind != "screen" && kind != "flat") {
        std::fprintf(stderr, "usage: reduce_uiart_tool screen|flat OUT.png\n");
        return 1;
    }
    Canvas c(kind == "screen" ? 640 : 320, kind == "screen" ? 400 : 240);
    if (kind == "screen") DrawScreen(c);
    else DrawFlat(c);
    if (!c.Write(argv[2])) {
        std::fprintf(stderr, "reduce_uiart_tool: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
