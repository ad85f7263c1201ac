// The listing of a compiled script image.
#include "dresser/DrsScriptDump.h"

#include "dresser/DrsToken.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// What the code uses a constant for.
enum : unsigned {
    USE_SINT = 1,
    USE_FLOAT = 2,
    USE_FIXED = 4,
    USE_TARGET = 8,
};

const char* const kOperatorNames[] = {"=",  "!",  "+", "-", "*", "/",  "%",  "neg", "++", "--", "<<",
                                      ">>", "&",  "|", "<", ">", "==", "!=", "<=",  ">=", "&&", "||"};

const char* const kJumpNames[] = {"?", "if-end", "loop-start", "loop-end", "switch-end"};

void Append(std::string* out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string* out, const char* fmt, ...)
{
    char line[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(line, sizeof line, fmt, args);
    va_end(args);
    *out += line;
}

std::string Quoted(const std::string& s)
{
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') q += '\\';
        if (c < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            q += hex;
        } else {
            q += char(c);
        }
    }
    return q + "\"";
}

float AsFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// Words an instruction occupies, its own included; 0 when it runs past the end.
size_t Length(const std::vector<uint16_t>& code, size_t at)
{
    const uint16_t w = code[at];
    size_t n = 1;
    if (w <= DRS_TOKEN_LOR || w == DRS_TOKEN_RETURN || w == DRS_TOKEN_SYNCH || w == DRS_TOKEN_LIST_START ||
        w == DRS_TOKEN_EXPR_START) {
        n = 1;
    } else if (w == DRS_TOKEN_IF || w == DRS_TOKEN_WHILE) {
        n = 3;
    } else if (w == DRS_TOKEN_SWITCH) {
        if (at + 3 >= code.size()) return 0;
        n = 4 + 2 * size_t(code[at + 3]) + 1;
    } else {
        n = 2;
    }
    return at + n <= code.size() ? n : 0;
}

class Dumper {
public:
    explicit Dumper(const DrsScriptView& view) : m_view(view), m_uses(view.constants.size(), 0) {}

    std::string Run()
    {
        _collectUses();
        _header();
        _modules();
        _constants();
        _strings();
        _initializers();
        _code();
        _debug();
        return m_out;
    }

private:
    void _use(uint16_t index, unsigned kind)
    {
        if (index < m_uses.size()) m_uses[index] |= kind;
    }

    void _collectUses()
    {
        const std::vector<uint16_t>& code = m_view.code;
        for (size_t at = 0; at < code.size();) {
            const size_t n = Length(code, at);
            if (n == 0) break;
            const uint16_t w = code[at];
            if (w == DRS_TOKEN_INT32) _use(code[at + 1], USE_SINT);
            if (w == DRS_TOKEN_FLOAT) _use(code[at + 1], USE_FLOAT);
            if (w == DRS_TOKEN_FIXED) _use(code[at + 1], USE_FIXED);
            if (w == DRS_TOKEN_IF || w == DRS_TOKEN_WHILE) {
                _use(code[at + 1], USE_TARGET);
                _use(code[at + 2], USE_TARGET);
            }
            if (w == DRS_TOKEN_LOOP || w == DRS_TOKEN_GOTO) _use(code[at + 1], USE_TARGET);
            if (w == DRS_TOKEN_SWITCH) {
                _use(code[at + 1], USE_TARGET);
                _use(code[at + 2], USE_TARGET);
                for (size_t i = 0; i < code[at + 3]; ++i) _use(code[at + 5 + 2 * i], USE_TARGET);
            }
            at += n;
        }
        const std::vector<uint16_t>& init = m_view.initializers;
        for (size_t i = 0; i + 2 < init.size(); i += 3) {
            if (init[i + 1] == DRS_TOKEN_INT32) _use(init[i + 2], USE_SINT);
            if (init[i + 1] == DRS_TOKEN_FLOAT) _use(init[i + 2], USE_FLOAT);
            if (init[i + 1] == DRS_TOKEN_FIXED) _use(init[i + 2], USE_FIXED);
        }
    }

    void _header()
    {
        const DrsScriptHeader& h = m_view.header;
        Append(&m_out, "script image: %s-endian, version %u, script data %u bytes%s\n",
               m_view.swapped == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) ? "big" : "little", h.version,
               m_view.scriptDataSize, m_view.hasDebug ? ", debug chunk" : "");
        Append(&m_out,
               "  modules %u, global slots %u, constants %u, strings %u (%u bytes), initializers %u, alignment %u\n",
               h.moduleCount, h.globalSlotCount, h.constantCount, h.stringCount, h.stringDataSize,
               h.initializerCount, h.alignment);
    }

    void _modules()
    {
        Append(&m_out, "modules:\n");
        for (size_t i = 0; i < m_view.modules.size(); ++i) {
            const DrsScriptModuleView& m = m_view.modules[i];
            Append(&m_out, "  #%zu %-24s code @%04u  frame %u\n", i, m.name.c_str(), m.codePos, m.frameSize);
        }
    }

    std::string _constantText(uint32_t value, unsigned uses) const
    {
        std::string s;
        char part[64];
        if (uses & USE_SINT) {
            std::snprintf(part, sizeof part, " int %d", int32_t(value));
            s += part;
        }
        if (uses & USE_FLOAT) {
            std::snprintf(part, sizeof part, " float %g", double(AsFloat(value)));
            s += part;
        }
        if (uses & USE_FIXED) {
            std::snprintf(part, sizeof part, " fixed %d", int32_t(value));
            s += part;
        }
        if (uses & USE_TARGET) {
            std::snprintf(part, sizeof part, " target @%04u", value);
            s += part;
        }
        if (uses == 0) {
            std::snprintf(part, sizeof part, " 0x%08X", value);
            s += part;
        }
        return s;
    }

    void _constants()
    {
        Append(&m_out, "constants:\n");
        for (size_t i = 0; i < m_view.constants.size(); ++i)
            Append(&m_out, "  [%zu]%s\n", i, _constantText(m_view.constants[i], m_uses[i]).c_str());
    }

    void _strings()
    {
        Append(&m_out, "strings:\n");
        for (size_t i = 0; i < m_view.strings.size(); ++i)
            Append(&m_out, "  [%zu] %s\n", i, Quoted(m_view.strings[i]).c_str());
    }

    // Texts begin as std::string rather than a literal followed by a temporary
    // string: GCC 12 at -O3 warns falsely (-Wrestrict) inside the library's
    // insertion at the front of that temporary.
    std::string _constant(uint16_t index) const
    {
        if (index >= m_view.constants.size()) return std::string("[") + std::to_string(index) + "] (missing)";
        return std::string("[") + std::to_string(index) + "]" + _constantText(m_view.constants[index], m_uses[index]);
    }

    std::string _target(uint16_t index) const
    {
        if (index >= m_view.constants.size()) return "@? [" + std::to_string(index) + "]";
        char text[32];
        std::snprintf(text, sizeof text, "@%04u", m_view.constants[index]);
        return text;
    }

    std::string _string(uint16_t index) const
    {
        if (index >= m_view.strings.size()) return std::string("[") + std::to_string(index) + "] (missing)";
        return Quoted(m_view.strings[index]);
    }

    void _initializers()
    {
        Append(&m_out, "global initializers:\n");
        const std::vector<uint16_t>& init = m_view.initializers;
        for (size_t i = 0; i + 2 < init.size(); i += 3) {
            Append(&m_out, "  slot %u = %s\n", init[i], _value(init[i + 1], init[i + 2]).c_str());
        }
    }

    // A pushed value: kind word and operand.
    std::string _value(uint16_t kind, uint16_t operand) const
    {
        switch (kind) {
        case DRS_TOKEN_INT16: return std::to_string(int16_t(operand));
        case DRS_TOKEN_INT32:
        case DRS_TOKEN_FLOAT:
        case DRS_TOKEN_FIXED: return _constant(operand);
        case DRS_TOKEN_STRING: return _string(operand);
        default: return std::string("kind ") + std::to_string(kind) + " " + std::to_string(operand);
        }
    }

    std::string _moduleName(uint16_t number) const
    {
        return number < m_view.modules.size() ? m_view.modules[number].name : std::string("#") + std::to_string(number);
    }

    std::string _instruction(const std::vector<uint16_t>& code, size_t at) const
    {
        const uint16_t w = code[at];
        const uint16_t a = at + 1 < code.size() ? code[at + 1] : 0;
        char text[128];
        if (w <= DRS_TOKEN_LOR) return kOperatorNames[w];
        switch (w) {
        case DRS_TOKEN_IF: return "if        else " + _target(a) + "  end " + _target(code[at + 2]);
        case DRS_TOKEN_WHILE: return "while     start " + _target(a) + "  end " + _target(code[at + 2]);
        case DRS_TOKEN_LOOP: return "loop      end " + _target(a);
        case DRS_TOKEN_GOTO: return "goto      " + _target(a);
        case DRS_TOKEN_RETURN: return "return";
        case DRS_TOKEN_SYNCH: return "synch";
        case DRS_TOKEN_MODULE_CALL: return "call      " + _moduleName(a);
        case DRS_TOKEN_INST_CALL: return "inst      " + std::to_string(a);
        case DRS_TOKEN_INT16:
        case DRS_TOKEN_INT32:
        case DRS_TOKEN_FLOAT:
        case DRS_TOKEN_FIXED:
        case DRS_TOKEN_STRING: return "push      " + _value(w, a);
        case DRS_TOKEN_VAR: return "local     " + std::to_string(a);
        case DRS_TOKEN_ARRAY: return "local[]   " + std::to_string(a);
        case DRS_TOKEN_GLOBAL_VAR: return "global    " + std::to_string(a);
        case DRS_TOKEN_GLOBAL_ARRAY: return "global[]  " + std::to_string(a);
        case DRS_TOKEN_LIST_START: return "list";
        case DRS_TOKEN_CALL_START: return "frame     " + std::to_string(a);
        case DRS_TOKEN_ARG_END: return "arg       " + std::to_string(a);
        case DRS_TOKEN_EXPR_START: return "expr";
        case DRS_TOKEN_JUMP: return std::string("jump      ") + (a < 5 ? kJumpNames[a] : "?");
        case DRS_TOKEN_LINE: return "line      " + std::to_string(a);
        case DRS_TOKEN_SWITCH: {
            std::string s = "switch    end " + _target(a) + "  default " + _target(code[at + 2]);
            std::snprintf(text, sizeof text, "  cases %u", code[at + 3]);
            s += text;
            for (size_t i = 0; i < code[at + 3]; ++i) {
                std::snprintf(text, sizeof text, "\n              case %d -> ", int16_t(code[at + 4 + 2 * i]));
                s += text + _target(code[at + 5 + 2 * i]);
            }
            return s;
        }
        default: std::snprintf(text, sizeof text, "? %u", w); return text;
        }
    }

    void _code()
    {
        const std::vector<uint16_t>& code = m_view.code;
        // The code is padded to the alignment with zero words; words of
        // value 0 at the very end may be either.
        size_t end = code.size();
        size_t padding = 0;
        while (end > 0 && code[end - 1] == 0 && padding < DRS_SCRIPT_ALIGN / 2 - 1) {
            --end;
            ++padding;
        }
        Append(&m_out, "code: %zu words\n", code.size());
        size_t module = 0;
        for (size_t at = 0; at < end;) {
            while (module < m_view.modules.size() && m_view.modules[module].codePos <= at) {
                Append(&m_out, "module %s:\n", m_view.modules[module].name.c_str());
                ++module;
            }
            const size_t n = Length(code, at);
            if (n == 0) {
                Append(&m_out, "  %04zu  %u (truncated)\n", at, code[at]);
                break;
            }
            std::string words;
            for (size_t i = 0; i < n && i < 4; ++i) {
                if (i > 0) words += ' ';
                words += std::to_string(code[at + i]);
            }
            if (n > 4) words += " ...";
            Append(&m_out, "  %04zu  %-18s %s\n", at, words.c_str(), _instruction(code, at).c_str());
            at += n;
        }
        if (padding != 0) Append(&m_out, "  %04zu  %zu zero word(s): padding, or a final '='\n", end, padding);
    }

    void _variables(const char* title, const std::vector<DrsScriptVariableView>& vars)
    {
        Append(&m_out, "  %s:", title);
        if (vars.empty()) Append(&m_out, " (none)");
        for (const DrsScriptVariableView& v : vars) Append(&m_out, " %s[%u]", v.name.c_str(), v.size);
        Append(&m_out, "\n");
    }

    void _debug()
    {
        if (!m_view.hasDebug) return;
        Append(&m_out, "debug: name %s, path %s, %zu position(s)\n", Quoted(m_view.debugName).c_str(),
               Quoted(m_view.debugPath).c_str(), m_view.debugPositions.size());
        _variables("globals", m_view.debugGlobals);
        for (size_t i = 0; i < m_view.debugModules.size(); ++i)
            _variables(_moduleName(uint16_t(i)).c_str(), m_view.debugModules[i]);
    }

    const DrsScriptView& m_view;
    std::vector<unsigned> m_uses;
    std::string m_out;
};

} // namespace

std::string DrsDumpScript(const DrsScriptView& view)
{
    return Dumper(view).Run();
}
