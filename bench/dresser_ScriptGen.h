#pragma once
// A generated Dresser script of realistic menu modules (key handling with a
// switch over remote-control keys, loops with synch, arrays, instruction and
// module calls, strings, reals, comments), and a Lua text of the same shape
// and about the same size for comparison with the Lua compiler.

#include <algorithm>
#include <string>

// About `lines` lines of modules of about 40 lines.
inline std::string DresserBenchScript(int lines)
{
    std::string s;
    s.reserve(static_cast<size_t>(lines) * 52);
    s += "// generated menu script\n"
         "#define MENU_ITEMS 8\n"
         "#define ITEM_STEP 16\n"
         "enum { STATE_IDLE, STATE_OPEN = 4, STATE_CLOSE };\n"
         "variant g_menu_cursor = 0;\n"
         "variant g_menu_items[8];\n";
    int written = 6;
    for (int m = 0; written + 42 <= lines; ++m) {
        const std::string n = std::to_string(m);
        const size_t start = s.size();
        s += "\n// menu_" + n + ": reacts to the remote control keys and lays out the items of the menu screen\nmodule menu_" + n + "(key, count)\n{\n"
             "    variant item_index;             // the item being laid out\n"
             "    variant item_position[4];       // x, y, width, height\n"
             "    /* move the menu cursor with the keys of the remote control */\n"
             "    item_index = 0;\n"
             "    switch (key)                           // the key pressed in this frame\n"
             "    {\n"
             "    case DRS_VKEY_UP:                      // cursor up, one item at a time\n"
             "        g_menu_cursor = g_menu_cursor - 1;   // wraps at the top\n"
             "        break;                             // handled\n"
             "    case DRS_VKEY_DOWN:                    // cursor down, one item at a time\n"
             "        g_menu_cursor = g_menu_cursor + 1;   // wraps at the bottom\n"
             "        break;\n"
             "    case DRS_VKEY_ENTER:                   // open the item under the cursor\n"
             "        Print(\"menu " + n + ": item selected\", g_menu_cursor, count);\n"
             "        break;\n"
             "    default:                               // every other key is ignored here\n"
             "        break;\n"
             "    }\n"
             "    while (item_index < count && item_index < MENU_ITEMS)\n"
             "    {\n"
             "        item_position[0] = item_index * ITEM_STEP + 2;\n"
             "        item_position[1] = (item_position[0] << 1) - 0x10;\n"
             "        SetPosition(item_index, item_position[0], item_position[1] * 1.5);\n"
             "        g_menu_items[item_index] = STATE_OPEN;\n"
             "        item_index = item_index + 1;\n"
             "    }\n"
             "    loop                                   // until the menu is closed\n"
             "    {\n"
             "        if (IsKeyPush(DRS_VKEY_BACK) == 1 || key == STATE_CLOSE || g_menu_cursor < 0)\n"
             "        {\n"
             "            return;                        // back to the calling screen\n"
             "        }\n"
             "        synch(1); // wait for the next frame of the menu animation\n"
             "    }\n"
             "}\n";
        written += static_cast<int>(std::count(s.begin() + static_cast<std::ptrdiff_t>(start), s.end(), '\n'));
    }
    return s;
}

// The Lua counterpart of DresserBenchScript, module for module.
inline std::string LuaBenchScript(int lines)
{
    std::string s;
    s.reserve(static_cast<size_t>(lines) * 52);
    s += "-- generated menu script\n"
         "local MENU_ITEMS = 8\n"
         "local ITEM_STEP = 16\n"
         "local STATE_IDLE, STATE_OPEN, STATE_CLOSE = 0, 4, 5\n"
         "local g_menu_cursor = 0\n"
         "local g_menu_items = {}\n";
    int written = 6;
    for (int m = 0; written + 42 <= lines; ++m) {
        const std::string n = std::to_string(m);
        const size_t start = s.size();
        s += "\n-- menu_" + n + ": reacts to the remote control keys and lays out the items of the menu screen\nfunction menu_" + n + "(key, count)\n"
             "    local item_index                -- the item being laid out\n"
             "    local item_position = {}        -- x, y, width, height\n"
             "    --[[ move the menu cursor with the keys of the remote control ]]\n"
             "    item_index = 0\n"
             "    if key == VKEY_UP then                 -- cursor up, one item at a time\n"
             "        g_menu_cursor = g_menu_cursor - 1   -- wraps at the top\n"
             "\n"
             "\n"
             "    elseif key == VKEY_DOWN then           -- cursor down, one item at a time\n"
             "        g_menu_cursor = g_menu_cursor + 1   -- wraps at the bottom\n"
             "\n"
             "\n"
             "    elseif key == VKEY_ENTER then          -- open the item under the cursor\n"
             "        Print(\"menu " + n + ": item selected\", g_menu_cursor, count)\n"
             "\n"
             "    else                                   -- every other key is ignored here\n"
             "\n"
             "    end\n"
             "    while item_index < count and item_index < MENU_ITEMS\n"
             "    do\n"
             "        item_position[1] = item_index * ITEM_STEP + 2\n"
             "        item_position[2] = (item_position[1] << 1) - 0x10\n"
             "        SetPosition(item_index, item_position[1], item_position[2] * 1.5)\n"
             "        g_menu_items[item_index] = STATE_OPEN\n"
             "        item_index = item_index + 1\n"
             "    end\n"
             "    while true                             -- until the menu is closed\n"
             "    do\n"
             "        if IsKeyPush(VKEY_BACK) == 1 or key == STATE_CLOSE or g_menu_cursor < 0\n"
             "        then\n"
             "            return                         -- back to the calling screen\n"
             "        end\n"
             "        synch(1) -- wait for the next frame of the menu animation\n"
             "    end\n"
             "end\n"
             "\n";
        written += static_cast<int>(std::count(s.begin() + static_cast<std::ptrdiff_t>(start), s.end(), '\n'));
    }
    return s;
}
