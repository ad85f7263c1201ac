// Writes one generated menu tree in two formats for the bundle yardstick:
// our instance text and template (menu.atr, menu_template.atr) and, with the
// same fields, a flatbuffers schema and JSON document (menu.fbs, menu.json).
// Usage: bundle_treegen_tool MEGABYTES DIRECTORY
// Prints the element count and the size of each text.
#include "bench/bundle_MenuTextGen.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The template's layout as a schema: a frame written in place becomes a
// struct, pointer lists and their counts become vectors, the key map's byte
// block a byte vector, the item's four weights a byte vector.
const char kSchema[] = "struct Rect { x:short; y:short; w:short; h:short; }\n"
                       "table Item { label:string; help:string; color:uint; action:int; weights:[byte]; }\n"
                       "table Screen { name:string; id:short; layer:short; rotation:float; items:[Item]; "
                       "frame:Rect; }\n"
                       "table Menu { title:string; background:uint; screens:[Screen]; keymap:[ubyte]; }\n"
                       "root_type Menu;\n";

void AppendJsonScreen(const BundleMenuScreen& screen, std::string* s)
{
    char line[512];
    std::snprintf(line, sizeof line,
                  "\t\t{\"name\": \"Screen %d\", \"id\": %d, \"layer\": %d, \"rotation\": %d.0,\n"
                  "\t\t\t\"frame\": {\"x\": %d, \"y\": %d, \"w\": 1280, \"h\": 720},\n"
                  "\t\t\t\"items\": [\n",
                  screen.index, screen.id, screen.layer, screen.rotation, screen.x, screen.y);
    *s += line;
    for (size_t i = 0; i < screen.items.size(); ++i) {
        const BundleMenuItem& item = screen.items[i];
        std::snprintf(line, sizeof line,
                      "\t\t\t\t{\"label\": \"Item %d.%d\", \"help\": \"Help text %u\", \"color\": %u, \"action\": %d,\n"
                      "\t\t\t\t\t\"weights\": [%u, %u, %u, %u]}%s\n",
                      screen.index, item.index, item.help, item.color, item.action, item.weights[0], item.weights[1],
                      item.weights[2], item.weights[3], i + 1 < screen.items.size() ? "," : "");
        *s += line;
    }
    *s += "\t\t\t]}";
}

std::string Json(const BundleMenuTree& tree, size_t reserve)
{
    std::string s;
    s.reserve(reserve);
    char head[128];
    std::snprintf(head, sizeof head, "{\"title\": \"%s\", \"background\": %u, \"keymap\": [", BundleMenuTitle(),
                  unsigned(BundleMenuBackground()));
    s += head;
    for (const char* k = BundleMenuKeymap(); *k != '\0'; ++k) {
        s += std::to_string(unsigned(uint8_t(*k)));
        if (k[1] != '\0') s += ", ";
    }
    s += "],\n\t\"screens\": [\n";
    for (size_t i = 0; i < tree.screens.size(); ++i) {
        AppendJsonScreen(tree.screens[i], &s);
        s += i + 1 < tree.screens.size() ? ",\n" : "\n";
    }
    s += "\t]\n}\n";
    return s;
}

bool Write(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bundle_treegen_tool MEGABYTES DIRECTORY\n");
        return 2;
    }
    const size_t bytes = size_t(std::strtod(argv[1], nullptr) * 1048576.0);
    const std::string dir = argv[2];
    BundleMenuTree tree;
    const std::string instance = BundleMenuInstance(bytes, &tree);
    const std::string json = Json(tree, instance.size() + instance.size() / 4);
    const struct
    {
        const char* name;
        std::string text;
    } files[] = {{"menu.atr", instance},
                 {"menu_template.atr", BundleMenuTemplate()},
                 {"menu.fbs", kSchema},
                 {"menu.json", json}};
    for (const auto& file : files) {
        if (!Write(dir + "/" + file.name, file.text)) {
            std::fprintf(stderr, "bundle_treegen_tool: cannot write %s/%s\n", dir.c_str(), file.name);
            return 1;
        }
    }
    std::printf("elements %zu screens %zu instance_bytes %zu json_bytes %zu\n", tree.Elements(), tree.screens.size(),
                instance.size(), json.size());
    return 0;
}
