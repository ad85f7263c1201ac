// Writing attribute trees as text: AtrParser's WriteTree, WriteNode,
// WriteAttribute and OutputTree.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileName.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Builds the output text; remembers when a piece could not be appended.
// Pieces gather in a local buffer that goes to the string a block at a time.
struct TextSink {
    CvString out;
    int64_t expected = 0; // bytes put so far
    int64_t flushed = 0;  // bytes handed to `out`
    bool failed = false;
    bool indent = true; // lines begin with one TAB per level
    size_t used = 0;
    char block[16 * 1024];

    void Put(const char* s, size_t n)
    {
        if (failed || n == 0) {
            return;
        }
        if (expected + static_cast<int64_t>(n) > INT32_MAX - 1) {
            failed = true;
            return;
        }
        expected += static_cast<int64_t>(n);
        if (used + n > sizeof block) {
            Flush();
            if (n > sizeof block) {
                Append(s, n);
                return;
            }
        }
        memcpy(block + used, s, n);
        used += n;
    }
    // Hands the buffered bytes to `out`; call before using `out`.
    void Flush()
    {
        if (used != 0) {
            Append(block, used);
            used = 0;
        }
    }
    void Append(const char* s, size_t n)
    {
        if (failed) {
            return;
        }
        out.Append(s, s + n);
        flushed += static_cast<int64_t>(n);
        if (out.GetLength() != flushed) {
            failed = true;
        }
    }
    // A float with `decimals` (1 or 6) digits after the point, as "%.1f" and
    // "%f" write it: the exact binary value rounded to nearest, ties to even.
    // Values beyond 64-bit integers, infinities and NaNs go to printf.
    void PutFixed(float f, int decimals)
    {
        uint32_t bits;
        memcpy(&bits, &f, sizeof bits);
        const uint32_t exponent = (bits >> 23) & 0xFF;
        const uint64_t scale = decimals == 1 ? 10u : 1000000u;
        uint64_t m = bits & 0x7FFFFF;
        int32_t e;
        if (exponent == 0) {
            e = -149;
        } else {
            m |= 0x800000;
            e = static_cast<int32_t>(exponent) - 150;
        }
        if (exponent == 0xFF || e > 39) {
            Printf(decimals == 1 ? "%.1f" : "%f", static_cast<double>(f));
            return;
        }
        uint64_t whole;
        uint64_t fraction;
        if (e >= 0) {
            whole = m << e;
            fraction = 0;
        } else {
            const uint32_t k = static_cast<uint32_t>(-e);
            uint64_t n = 0; // m * scale / 2^k rounded; below a half when k > 44
            if (k <= 44) {
                const uint64_t product = m * scale; // < 2^44
                n = product >> k;
                const uint64_t rest = product - (n << k);
                const uint64_t half = 1ull << (k - 1);
                if (rest > half || (rest == half && (n & 1) != 0)) {
                    ++n;
                }
            }
            whole = n / scale;
            fraction = n % scale;
        }
        char digits[48];
        char* q = digits + sizeof digits;
        for (int i = 0; i < decimals; ++i) {
            *--q = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        *--q = '.';
        do {
            *--q = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole != 0);
        if ((bits >> 31) != 0) {
            *--q = '-';
        }
        Put(q, static_cast<size_t>(digits + sizeof digits - q));
    }
    // A signed decimal, as "%d" writes it.
    void PutInt(int32_t v)
    {
        char digits[12];
        char* q = digits + sizeof digits;
        uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        do {
            *--q = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (v < 0) {
            *--q = '-';
        }
        Put(q, static_cast<size_t>(digits + sizeof digits - q));
    }
    void Put(const char* s) { Put(s, s != nullptr ? strlen(s) : 0); }
    void Put(const CvString& s) { Put(s.GetBuffer(), static_cast<size_t>(s.GetLength())); }
    void Printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[512];
        va_list args;
        va_start(args, fmt);
        const int n = vsnprintf(buffer, sizeof buffer, fmt, args);
        va_end(args);
        if (n < 0 || static_cast<size_t>(n) >= sizeof buffer) {
            failed = true;
            return;
        }
        Put(buffer, static_cast<size_t>(n));
    }
    void Indent(int64_t depth)
    {
        static const char tabs[] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
        while (indent && depth > 0 && !failed) {
            const int64_t n = depth < 32 ? depth : 32;
            Put(tabs, static_cast<size_t>(n));
            depth -= n;
        }
    }
    // A text with every '"' written as "ATR_TEXT_DQ".
    void PutEscaped(const CvString& s)
    {
        const char* p = s.GetBuffer();
        const char* end = p + s.GetLength();
        while (p < end) {
            const void* q = memchr(p, '"', static_cast<size_t>(end - p));
            if (q == nullptr) {
                Put(p, static_cast<size_t>(end - p));
                return;
            }
            const char* quote = static_cast<const char*>(q);
            Put(p, static_cast<size_t>(quote - p));
            Put(ATR_TEXT_DQ_NAME, sizeof ATR_TEXT_DQ_NAME - 1);
            p = quote + 1;
        }
    }
};

bool IsWholeNumber(float v)
{
    double whole;
    const double fraction = std::modf(static_cast<double>(v), &whole);
    return std::fabs(fraction) < 1e-7;
}

// One attribute; false when its kind is not written.
bool WriteAttributeItem(TextSink& sink, AtrAttribute* a, int32_t quoted, bool withBuffer)
{
    AtrData* d = a->GetData();
    const CvString& name = a->GetName();
    switch (d->GetType()) {
    case CVK_VARIANT_TYPE_SINT:
    case CVK_VARIANT_TYPE_UINT:
        sink.Put(" ");
        sink.Put(name);
        sink.Put(quoted ? " = \"" : " = ");
        sink.PutInt(d->GetS32());
        if (quoted) {
            sink.Put("\"");
        }
        return true;
    case CVK_VARIANT_TYPE_FLOAT: {
        sink.Put(" ");
        sink.Put(name);
        if (quoted) {
            sink.Put(" = \"");
            sink.PutFixed(d->GetF32(), 6);
            sink.Put("\"");
        } else {
            sink.Put(" = ");
            sink.PutFixed(d->GetF32(), IsWholeNumber(d->GetF32()) ? 1 : 6);
        }
        return true;
    }
    case CVK_VARIANT_TYPE_STRING:
        sink.Put(" ");
        sink.Put(name);
        sink.Put(" = \"");
        sink.PutEscaped(d->GetCvString());
        sink.Put("\"");
        return true;
    case CVK_VARIANT_TYPE_BUF:
        if (!withBuffer) {
            return false;
        }
        sink.Put(" ");
        sink.Put(name);
        sink.Put(" = 0");
        return true;
    default: return false;
    }
}

void WriteAttributeList(TextSink& sink, AtrAttribute* first, int32_t quoted, bool withBuffer)
{
    for (AtrAttribute* a = first; a != nullptr; a = a->GetNext()) {
        if (WriteAttributeItem(sink, a, quoted, withBuffer) && !quoted && a->GetNext() != nullptr) {
            sink.Put(",");
        }
    }
}

void WriteDataList(TextSink& sink, AtrNode* node, int64_t depth)
{
    for (AtrData* d = node->GetData(0); d != nullptr; d = d->GetNext()) {
        switch (d->GetType()) {
        case CVK_VARIANT_TYPE_SINT:
        case CVK_VARIANT_TYPE_UINT:
            sink.Indent(depth);
            sink.PutInt(d->GetS32());
            sink.Put(",\n");
            break;
        case CVK_VARIANT_TYPE_FLOAT:
            sink.Indent(depth);
            sink.PutFixed(d->GetF32(), IsWholeNumber(d->GetF32()) ? 1 : 6);
            sink.Put(",\n");
            break;
        case CVK_VARIANT_TYPE_STRING:
            sink.Indent(depth);
            sink.Put("\"");
            sink.PutEscaped(d->GetCvString());
            sink.Put("\",\n");
            break;
        default: break;
        }
    }
}

// The opening of a node; true when content and a closing tag follow.
bool WriteOpen(TextSink& sink, AtrNode* node, int64_t depth, int32_t quoted)
{
    sink.Indent(depth);
    sink.Put("<");
    const uint32_t flags = node->GetFlag();
    if (flags & ATR_NODE_FLAG_COMMENT) {
        sink.Put("!--");
        if (AtrData* d = node->GetData(0)) {
            sink.Put(d->GetString());
        }
        sink.Put("-->\n");
        return false;
    }
    const bool instruction = (flags & ATR_NODE_FLAG_INSTRUCTION) != 0;
    if (instruction) {
        sink.Put("?");
    }
    sink.Put(node->GetElement());
    AtrAttribute* first = node->GetAttribute(0);
    const uint32_t shown = flags & ~(ATR_NODE_FLAG_INSTRUCTION | ATR_NODE_FLAG_COMMENT);
    if (shown != 0) {
        sink.Printf(quoted ? " %s = \"%d\"" : " %s = %d", ATR_NODE_FLAG_NAME, static_cast<int32_t>(shown));
        if (!quoted && first != nullptr) {
            sink.Put(",");
        }
    }
    WriteAttributeList(sink, first, quoted, true);
    if (instruction) {
        sink.Put(" ?>\n");
        return false;
    }
    if (node->GetDataSize() == 0 && node->GetChild(0) == nullptr) {
        sink.Put(" />\n");
        return false;
    }
    sink.Put(">\n");
    WriteDataList(sink, node, depth + 1);
    return true;
}

void WriteClose(TextSink& sink, AtrNode* node, int64_t depth)
{
    sink.Indent(depth);
    sink.Put("</");
    sink.Put(node->GetElement());
    sink.Put(">\n");
}

// First node named "xml" in pre-order over `root` and its descendants.
AtrNode* FindXml(AtrNode* root)
{
    AtrNode* n = root;
    while (n != nullptr) {
        if (n->GetElement() == "xml") {
            return n;
        }
        if (AtrNode* c = n->GetChild(0)) {
            n = c;
            continue;
        }
        while (n != root && n->GetNext() == nullptr) {
            n = n->GetParent();
        }
        if (n == root) {
            return nullptr;
        }
        n = n->GetNext();
    }
    return nullptr;
}

// `top` and its subtree (not its following siblings), without recursion.
void WriteSubtree(TextSink& sink, AtrNode* top, int32_t quoted)
{
    AtrNode* n = top;
    int64_t depth = 0;
    for (;;) {
        bool descended = false;
        if (WriteOpen(sink, n, depth, quoted)) {
            if (AtrNode* c = n->GetChild(0)) {
                n = c;
                ++depth;
                descended = true;
            } else {
                WriteClose(sink, n, depth);
            }
        }
        if (descended) {
            continue;
        }
        if (sink.failed) {
            break;
        }
        // Up to the next node that follows in pre-order below `top`.
        while (n != top && n->GetNext() == nullptr) {
            n = n->GetParent();
            --depth;
            WriteClose(sink, n, depth);
        }
        if (n == top) {
            break;
        }
        n = n->GetNext();
    }
}

CvString Finish(AtrParser* parser, TextSink& sink)
{
    sink.Flush();
    if (sink.failed) {
        parser->SetError();
        return CvString();
    }
    return sink.out;
}

} // namespace

CvString AtrParser::WriteTree(AtrNode* root, int32_t quoted)
{
    TextSink sink;
    if (quoted && root != nullptr) {
        if (AtrNode* xml = FindXml(root)) {
            if (xml->CheckAttribute("encoding") == 0) {
                xml->AddAttribute("encoding", "Shift_JIS");
            }
        } else {
            sink.Put("<?xml version=\"1.0\" encoding=\"Shift_JIS\" ?>\n");
        }
    }
    for (AtrNode* top = root; top != nullptr && !sink.failed; top = top->GetNext()) {
        WriteSubtree(sink, top, quoted);
    }
    return Finish(this, sink);
}

CvString AtrParser::WriteNode(AtrNode* node, int32_t quoted, int32_t indent)
{
    TextSink sink;
    sink.indent = indent != 0;
    if (node != nullptr) {
        WriteSubtree(sink, node, quoted);
    }
    return Finish(this, sink);
}

CvString AtrParser::WriteAttribute(AtrNode* node, int32_t quoted)
{
    TextSink sink{}; // one tag: clearing its block costs nothing and quiets a false warning of GCC
    if (node == nullptr) {
        return CvString();
    }
    sink.Put("<");
    sink.Put(node->GetElement());
    WriteAttributeList(sink, node->GetAttribute(0), quoted, false);
    sink.Put("/>\n");
    return Finish(this, sink);
}

int32_t AtrParser::OutputTree(AtrNode* root, const char* path, int32_t quoted)
{
    fileSize = 0;
    if (path == nullptr) {
        return 0;
    }
    const CvString text = WriteTree(root, quoted);
    if (text.GetLength() == 0) {
        return 0;
    }
    const CvString expanded = CvkFileNameExtractEnvName(path);
    CvkFile file(expanded.GetBuffer());
    if (file.CheckError() != 0 || !file.WriteFile(text.GetBuffer(), static_cast<uint32_t>(text.GetLength()))) {
        return 0;
    }
    fileSize = static_cast<uint32_t>(text.GetLength());
    return 1;
}
