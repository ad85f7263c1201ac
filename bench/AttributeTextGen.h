#pragma once
// Deterministic generator of attribute instance texts shaped like UI menus:
// screens of items with 3 to 8 attributes (integers, reals, colours, texts),
// data lists, nested sub-items and the odd comment. The same size and seed
// always give the same text. GenerateXml writes the same document (same
// seed, same number of screens) as XML, for yardsticks that read XML.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace attribute_bench {

class MenuTextGen {
public:
    explicit MenuTextGen(uint32_t seed) : state(seed) {}

    // A text of at least `bytes` bytes (whole screens).
    std::string Generate(size_t bytes)
    {
        std::string out;
        out.reserve(bytes + 4096);
        out += "<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n";
        screens = 0;
        while (out.size() < bytes) {
            Screen(out, screens++);
        }
        return out;
    }

    // Screens of the last text generated.
    int Screens() const { return screens; }

    // The document of `count` screens as XML: attribute values quoted, no
    // commas between attributes, the data lists as element text, and one
    // root element around the screens. Call on a generator of the same seed
    // as the one whose text it mirrors.
    std::string GenerateXml(int count)
    {
        xml = true;
        std::string out = "<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n<Menu>\n";
        for (screens = 0; screens < count; ++screens) {
            Screen(out, screens);
        }
        out += "</Menu>\n";
        xml = false;
        return out;
    }

private:
    uint32_t Next()
    {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    int Range(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<uint32_t>(hi - lo + 1)); }

    static void Indent(std::string& out, int depth) { out.append(static_cast<size_t>(depth), '\t'); }

    void Printf(std::string& out, const char* fmt, ...) __attribute__((format(printf, 3, 4)))
    {
        char buffer[256];
        va_list args;
        va_start(args, fmt);
        const int n = vsnprintf(buffer, sizeof buffer, fmt, args);
        va_end(args);
        if (n > 0) {
            out.append(buffer, static_cast<size_t>(n < static_cast<int>(sizeof buffer) ? n : sizeof buffer - 1));
        }
    }

    void Attribute(std::string& out, int which, int id)
    {
        static const char* const labels[] = {"Start", "Options", "Sound", "Picture", "Channel list", "Back",
                                             "Recordings", "Network", "Parental lock", "Timer"};
        switch (which) {
        case 0:
            Printf(out, xml ? " id=\"%d\"" : " id = %d", id);
            break;
        case 1:
            Printf(out, xml ? " label=\"%s %d\"" : " label = \"%s %d\"", labels[Next() % 10], Range(1, 99));
            break;
        case 2:
            Printf(out, xml ? " x=\"%d\" y=\"%d\"" : " x = %d, y = %d", Range(0, 1920), Range(0, 1080));
            break;
        case 3:
            Printf(out, xml ? " color=\"0x%08X\"" : " color = 0x%08X", Next() | 0xFF000000u);
            break;
        case 4:
            Printf(out, xml ? " alpha=\"%d.%02d\"" : " alpha = %d.%02d", Range(0, 1), Range(0, 99));
            break;
        case 5:
            Printf(out, xml ? " key=\"KEY_%c\"" : " key = \"KEY_%c\"", 'A' + static_cast<char>(Range(0, 25)));
            break;
        case 6:
            Printf(out, xml ? " angle=\"%d.0\"" : " angle = %d.0", Range(0, 359));
            break;
        default:
            Printf(out, xml ? " next=\"%d\"" : " next = %d", Range(0, 4000));
            break;
        }
    }

    void Item(std::string& out, int depth, int id)
    {
        Indent(out, depth);
        out += depth > 2 ? "<SubItem" : "<Item";
        const int count = Range(3, 8);
        const int first = Range(0, 7);
        for (int i = 0; i < count; ++i) {
            Attribute(out, (first + i) % 8, id);
            if (i + 1 < count && !xml) {
                out += ',';
            }
        }
        const int values = Range(0, 5);
        const bool children = depth < 4 && Range(0, 3) == 0;
        if (values == 0 && !children) {
            out += " />\n";
            return;
        }
        out += ">\n";
        if (values > 0) {
            Indent(out, depth + 1);
            for (int v = 0; v < values; ++v) {
                switch (Next() % 3) {
                case 0:
                    Printf(out, "%d, ", Range(-1000, 100000));
                    break;
                case 1:
                    Printf(out, "%d.%d, ", Range(0, 500), Range(0, 9));
                    break;
                default:
                    Printf(out, "\"frame_%03d.png\", ", Range(0, 999));
                    break;
                }
            }
            out += '\n';
        }
        if (children) {
            const int n = Range(1, 4);
            for (int c = 0; c < n; ++c) {
                Item(out, depth + 1, id * 10 + c);
            }
        }
        Indent(out, depth);
        out += depth > 2 ? "</SubItem>\n" : "</Item>\n";
    }

    void Screen(std::string& out, int screen)
    {
        Printf(out, "<!-- screen %d -->\n", screen);
        Printf(out,
               xml ? "<Screen id=\"%d\" name=\"screen_%d\" width=\"1280\" height=\"720\" bg=\"0x%08X\">\n"
                   : "<Screen id = %d, name = \"screen_%d\", width = 1280, height = 720, bg = 0x%08X>\n",
               screen, screen, Next());
        const int items = Range(4, 12);
        for (int i = 0; i < items; ++i) {
            Item(out, 1, screen * 100 + i);
        }
        out += "</Screen>\n";
    }

    uint32_t state;
    int screens = 0;
    bool xml = false;
};

} // namespace attribute_bench
