#pragma once
// Deterministic menu-shaped attribute documents for the compiler benchmarks:
// a menu of screens, each with a frame written in place and a list of items
// (strings, colours, angles, a small scalar array), and the template for it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

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

// One logical menu tree, drawn from a fixed seed: a menu of screens, each
// with a frame and a list of items. The instance text is written while the
// tree is drawn (its size decides when to stop); the same tree can then be
// written in other formats for yardsticks.
struct BundleMenuItem
{
    int index = 0;
    unsigned help = 0;
    unsigned color = 0;
    int action = 0;
    unsigned weights[4] = {};
};

struct BundleMenuScreen
{
    int index = 0;
    int id = 0;
    int layer = 0;
    int rotation = 0;
    int x = 0;
    int y = 0;
    std::vector<BundleMenuItem> items;
};

struct BundleMenuTree
{
    std::vector<BundleMenuScreen> screens;
    size_t Elements() const
    {
        size_t n = 2; // Menu, screens
        for (const BundleMenuScreen& s : screens) n += 3 + 2 * s.items.size();
        return n;
    }
};

inline const char* BundleMenuTitle() { return "Main"; }
inline uint32_t BundleMenuBackground() { return 0x203040FF; }
inline const char* BundleMenuKeymap() { return "UDLR-OK-BACK"; }

class BundleMenuDraw
{
public:
    BundleMenuScreen Screen(int index)
    {
        BundleMenuScreen s;
        s.index = index;
        s.id = index & 0x7FFF;
        s.layer = index % 4;
        s.rotation = int(Next() % 720);
        s.x = int(Next() % 100);
        s.y = int(Next() % 100);
        const int items = 3 + int(Next() % 6);
        for (int i = 0; i < items; ++i) {
            BundleMenuItem item;
            item.index = i;
            item.help = Next() % 512;
            item.color = Next() & 0xFFFFFF;
            item.action = index * 10 + i;
            for (unsigned& w : item.weights) w = Next() % 8;
            s.items.push_back(item);
        }
        return s;
    }

private:
    uint32_t Next() { return m_seed = m_seed * 1103515245u + 12345u; }
    uint32_t m_seed = 12345;
};

inline void BundleMenuAppendScreen(const BundleMenuScreen& screen, std::string* s)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "\t\t<Screen name = \"Screen %d\", id = %d, layer = %d, rotation = %d.0>\n"
                  "\t\t\t<Rect ATRC_NAME = \"frame\", x = %d, y = %d, w = 1280, h = 720 />\n"
                  "\t\t\t<items ATRC_LIST_BLOCK = 1>\n",
                  screen.index, screen.id, screen.layer, screen.rotation, screen.x, screen.y);
    *s += line;
    for (const BundleMenuItem& item : screen.items) {
        std::snprintf(line, sizeof line,
                      "\t\t\t\t<Item label = \"Item %d.%d\", help = \"Help text %u\", color = 0x%06X, action = %d>\n"
                      "\t\t\t\t\t<weights>%u, %u, %u, %u</weights>\n\t\t\t\t</Item>\n",
                      screen.index, item.index, item.help, item.color, item.action, item.weights[0],
                      item.weights[1], item.weights[2], item.weights[3]);
        *s += line;
    }
    *s += "\t\t\t</items>\n\t\t</Screen>\n";
}

// An instance text of about `bytes` bytes; `tree`, when given, receives the
// screens it holds.
inline std::string BundleMenuInstance(size_t bytes, BundleMenuTree* tree = nullptr)
{
    std::string s;
    s.reserve(bytes + 4096);
    char head[128];
    std::snprintf(head, sizeof head, "<Menu title = \"%s\", background = 0x%08X, keymap = \"%s\">\n",
                  BundleMenuTitle(), unsigned(BundleMenuBackground()), BundleMenuKeymap());
    s += head;
    s += "\t<screens ATRC_LIST_BLOCK = 1>\n";
    BundleMenuDraw draw;
    for (int index = 0; s.size() < bytes; ++index) {
        BundleMenuScreen screen = draw.Screen(index);
        BundleMenuAppendScreen(screen, &s);
        if (tree != nullptr) tree->screens.push_back(std::move(screen));
    }
    s += "\t</screens>\n</Menu>\n";
    return s;
}
