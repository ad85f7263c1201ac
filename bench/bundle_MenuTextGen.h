#pragma once
// Deterministic menu-shaped attribute documents for the compiler benchmarks:
// a menu of screens, each with a frame written in place and a list of items
// (strings, colours, angles, a small scalar array), and the template for it.
#include <cstdint>
#include <cstdio>
#include <string>

inline const char* BundleMenuTemplate()
{
    return "<MenuTemplate>\n"
           "<Menu><f type = \"STRING\", name = \"title\" />"
           "<f type = \"UINT\", name = \"background\", size = 4, convert = \"CVK_COLOR_SWAP\" />"
           "<f type = \"ARRAY_SIZE\", array = \"screens\", size = 4 />"
           "<f type = \"POINTER\", link = \"Screen\", name = \"screens\", array = 3 />"
           "<f type = \"POINTER\", link = \"DATA\", name = \"keymap\" />"
           "<f type = \"DATA_SIZE\", target = \"keymap\", size = 4 /></Menu>\n"
           "<Screen><f type = \"STRING\", name = \"name\" /><f type = \"SINT\", name = \"id\", size = 2 />"
           "<f type = \"SINT\", name = \"layer\", size = 2 />"
           "<f type = \"FLOAT\", name = \"rotation\", size = 4, convert = \"CVK_DEG_ANG\" />"
           "<f type = \"ARRAY_SIZE\", array = \"items\", size = 4 />"
           "<f type = \"POINTER\", link = \"Item\", name = \"items\", array = 8 />"
           "<f type = \"Rect\", name = \"frame\" /></Screen>\n"
           "<Rect><f type = \"SINT\", name = \"x\", size = 2 /><f type = \"SINT\", name = \"y\", size = 2 />"
           "<f type = \"SINT\", name = \"w\", size = 2 /><f type = \"SINT\", name = \"h\", size = 2 /></Rect>\n"
           "<Item><f type = \"STRING\", name = \"label\" /><f type = \"STRING\", name = \"help\", default = \"\" />"
           "<f type = \"COLOR_ARGB\", name = \"color\", size = 4 /><f type = \"SINT\", name = \"action\", size = 4 />"
           "<f type = \"SINT\", name = \"weights\", size = 1, array = 4 /></Item>\n"
           "</MenuTemplate>\n";
}

// An instance text of about `bytes` bytes.
inline std::string BundleMenuInstance(size_t bytes)
{
    std::string s;
    s.reserve(bytes + 4096);
    s += "<Menu title = \"Main\", background = 0x203040FF, keymap = \"UDLR-OK-BACK\">\n"
         "\t<screens ATRC_LIST_BLOCK = 1>\n";
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    char line[512];
    for (int screen = 0; s.size() < bytes; ++screen) {
        std::snprintf(line, sizeof line,
                      "\t\t<Screen name = \"Screen %d\", id = %d, layer = %d, rotation = %d.0>\n"
                      "\t\t\t<Rect ATRC_NAME = \"frame\", x = %d, y = %d, w = 1280, h = 720 />\n"
                      "\t\t\t<items ATRC_LIST_BLOCK = 1>\n",
                      screen, screen & 0x7FFF, screen % 4, int(next() % 720), int(next() % 100), int(next() % 100));
        s += line;
        const int items = 3 + int(next() % 6);
        for (int i = 0; i < items; ++i) {
            std::snprintf(line, sizeof line,
                          "\t\t\t\t<Item label = \"Item %d.%d\", help = \"Help text %u\", color = 0x%06X, action = %d>\n"
                          "\t\t\t\t\t<weights>%u, %u, %u, %u</weights>\n\t\t\t\t</Item>\n",
                          screen, i, next() % 512, next() & 0xFFFFFF, screen * 10 + i, next() % 8, next() % 8,
                          next() % 8, next() % 8);
            s += line;
        }
        s += "\t\t\t</items>\n\t\t</Screen>\n";
    }
    s += "\t</screens>\n</Menu>\n";
    return s;
}
