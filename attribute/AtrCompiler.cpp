#include "attribute/AtrCompiler.h"

#include "attribute/AtrCompilerStrings.h"
#include "attribute/AtrNode.h"
#include "kit/CvChunk.h"
#include "kit/CvkCodec.h"
#include "kit/CvkEndian.h"
#include "kit/CvkFile.h"
#include "kit/CvkFileList.h"
#include "kit/CvkFileName.h"
#include "kit/CvkHeap.h"
#include "kit/CvkPointerOffset.h"
#include "kit/CvkRandom.h"
#include "platform/PlatformCodePage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

const char kSourceTag[] = "AtrCompiler";

// The address the sizing pass gives a node written in place that is no
// structure (structures start behind the 32-byte chunk head).
constexpr uint32_t kMarkedAddress = 1;

// ---- access to the tree ----------------------------------------------------

const char* Txt(const CvString& s)
{
    const char* p = s.GetBuffer();
    return p != nullptr ? p : "";
}

bool Flag(const AtrNode* n, uint32_t mask) { return n->CheckFlag(mask) != 0; }
void SetMark(AtrNode* n) { n->SetFlag(0xFFFFFFFFu, ATR_NODE_FLAG_VISIT, nullptr); }
void Unmark(AtrNode* n) { n->SetFlag(~ATR_NODE_FLAG_VISIT, 0, nullptr); }
AtrNode* FirstChild(const AtrNode* n) { return n->GetChild(0); }
AtrNode* NextSibling(const AtrNode* n) { return n->GetNext(); }
AtrNode* Parent(const AtrNode* n) { return n->GetParent(); }
const char* Element(const AtrNode* n) { return Txt(n->GetElement()); }

// Whether a name of the tree is `name`. `seen`, when given, remembers the
// address of a text found equal: the reader shares one text among equal
// names, so a later match costs one comparison of addresses. (The tree's
// texts stay put while it is compiled; the memory lives in the template's
// fields, which every compilation builds afresh.)
bool NameIs(const char* text, const char* name, const char** seen)
{
    if (seen != nullptr && text == *seen) return true;
    if (text[0] != name[0] || std::strcmp(text, name) != 0) return false;
    if (seen != nullptr) *seen = text;
    return true;
}

AtrAttribute* FindAttr(const AtrNode* n, const char* name, const char** seen = nullptr)
{
    for (AtrAttribute* a = n->GetAttribute(0); a != nullptr; a = a->GetNext())
        if (NameIs(Txt(a->GetName()), name, seen)) return a;
    return nullptr;
}
const CvVariant* AttrValue(const AtrNode* n, const char* name, const char** seen = nullptr)
{
    AtrAttribute* a = FindAttr(n, name, seen);
    return a != nullptr ? static_cast<const CvVariant*>(a->GetData()) : nullptr;
}
const CvVariant* FirstAttrValue(const AtrNode* n)
{
    AtrAttribute* a = n->GetAttribute(0);
    return a != nullptr ? static_cast<const CvVariant*>(a->GetData()) : nullptr;
}
const CvVariant* DataValue(const AtrNode* n, int32_t i) { return static_cast<const CvVariant*>(n->GetData(i)); }
int32_t DataCount(const AtrNode* n) { return n->GetDataSize(); }

AtrNode* FindChild(const AtrNode* n, const char* element, const char** seen = nullptr)
{
    for (AtrNode* c = FirstChild(n); c != nullptr; c = NextSibling(c))
        if (NameIs(Element(c), element, seen)) return c;
    return nullptr;
}

bool TextIs(const CvVariant* v, const char* text)
{
    return v != nullptr && std::strcmp(v->GetString() ? v->GetString() : "", text) == 0;
}

// The bytes of a value used by "DATA" pointers and "DATA_SIZE".
bool ValueBytes(const CvVariant* v, const void** bytes, uint32_t* size)
{
    if (v == nullptr) return false;
    if (v->GetType() == CVK_VARIANT_TYPE_BUF) {
        *bytes = v->GetBuffer();
        *size = v->GetBufferSize();
        return *bytes != nullptr || *size == 0;
    }
    if (v->GetType() == CVK_VARIANT_TYPE_STRING) {
        *bytes = v->GetString();
        *size = uint32_t(v->GetStrLength());
        return true;
    }
    return false;
}

uint64_t RoundUp(uint64_t x, uint32_t a) { return (x + a - 1) / a * a; }

// ---- messages -------------------------------------------------------------

const char* const kMessagesUtf8[] = {
    "こう造体検索中に [ELEMENT]:%s [ATRC_NAME]:%s が見つかりませんでした。\n",
    "インスタンスに %s が見つかりませんでした。\n",
    "インスタンスに配列のノード[%s]が見つかりませんでした。\n",
    "ファイル %s が開けませんでした。\n",
    "ファイル名のアトリビュートが見つかりませんでした。\n",
    "ポインタを指定しているテンプレートに %s が見つかりませんでした。\n",
    "ポインタを指定しているテンプレートに %s が見つかりませんでした。\n",
    "ポインタを指定しているテンプレートに %s が見つかりませんでした。\n",
    "拡張チャンクの内容が不正です。\n",
    "拡張チャンクのアルゴリズムエラーです。\n",
    "メモリの確保に失敗しました。\n",
};
constexpr int kMessageCount = int(sizeof(kMessagesUtf8) / sizeof(kMessagesUtf8[0]));

const std::vector<std::string>& Messages()
{
    static const std::vector<std::string> messages = [] {
        std::vector<std::string> m;
        for (const char* text : kMessagesUtf8) m.push_back(PlatformUtf8ToCp932(text));
        return m;
    }();
    return messages;
}

// ---- template ---------------------------------------------------------------

enum FieldKind {
    K_SINT,
    K_UINT,
    K_FLOAT,
    K_COLOR,
    K_STRING,
    K_POINTER,
    K_DATA_SIZE,
    K_FILE_INDEX,
    K_FILE_SIZE,
    K_ARRAY_SIZE,
    K_NESTED,
    K_NO_TYPE,
};
enum LinkKind {
    L_STRUCT,
    L_DATA,
    L_FILE
};
enum Convert {
    C_NONE,
    C_COLOR_SWAP,
    C_COLOR_SWAP_ARGB,
    C_DEG_ANG
};

struct StructDef;

struct Field {
    FieldKind kind = K_NO_TYPE;
    std::string type, name, link, def, target, arrayText;
    bool hasName = false, hasLink = false, hasSize = false, hasTarget = false, hasDefault = false;
    int32_t size = 0;
    int32_t array = 1;
    Convert convert = C_NONE;
    LinkKind linkKind = L_STRUCT;
    const StructDef* nested = nullptr; // the structure of a nested field
    uint32_t entry = 0;                // the type entry of a number or colour field's values
    // Texts of the tree found equal to `name`: as an attribute, as a child.
    mutable const char* nameSeen = nullptr;
    mutable const char* childSeen = nullptr;
};

struct StructDef {
    std::string element;
    uint32_t code = 0; // of its type entries' structure begin
    std::vector<Field> fields;
};

FieldKind KindOf(const std::string& type)
{
    static const std::unordered_map<std::string_view, FieldKind> kinds = {
        {"SINT", K_SINT},           {"UINT", K_UINT},
        {"FLOAT", K_FLOAT},         {"COLOR_ARGB", K_COLOR},
        {"STRING", K_STRING},       {"POINTER", K_POINTER},
        {"DATA_SIZE", K_DATA_SIZE}, {"FILE_INDEX", K_FILE_INDEX},
        {"FILE_SIZE", K_FILE_SIZE}, {"ARRAY_SIZE", K_ARRAY_SIZE},
    };
    auto it = kinds.find(type);
    return it != kinds.end() ? it->second : K_NESTED;
}

// The type entry of a number or colour field's values read as `kind`.
uint32_t ScalarEntry(FieldKind kind, const Field& fd)
{
    const int32_t s = fd.size;
    const bool color =
        kind == K_COLOR || (kind == K_UINT && (fd.convert == C_COLOR_SWAP || fd.convert == C_COLOR_SWAP_ARGB));
    if (color) return s == 2 ? ATRC_EXT_C16 : s == 1 ? ATRC_EXT_C8 : ATRC_EXT_C32;
    if (kind == K_SINT) return s == 2 ? ATRC_EXT_S16 : s == 1 ? ATRC_EXT_S8 : ATRC_EXT_S32;
    if (kind == K_UINT) return s == 2 ? ATRC_EXT_U16 : s == 1 ? ATRC_EXT_U8 : ATRC_EXT_U32;
    return ATRC_EXT_F32;
}

std::string TextOf(const CvVariant* v)
{
    const char* s = v != nullptr ? v->GetString() : nullptr;
    return s != nullptr ? s : "";
}

// The text form of a value, valid until the value is read again.
std::string_view ViewOf(const CvVariant* v)
{
    if (v == nullptr) return {};
    const char* s = v->GetString();
    if (s == nullptr) return {};
    if (v->GetType() == CVK_VARIANT_TYPE_STRING) return std::string_view(s, size_t(v->GetStrLength()));
    return std::string_view(s);
}

struct Block {
    const void* bytes;
    uint32_t size;
    uint64_t padded;
    uint64_t offset; // from the byte-block area's start
};

struct LocalFile {
    std::string path; // as written in the instance
    uint32_t size;
    uint64_t padded;
    uint64_t offset; // from the file area's start
};

// One structure being walked.
struct Frame {
    AtrNode* node = nullptr;
    const StructDef* def = nullptr;
    uint32_t field = 0;
    bool begun = false;
    bool inList = false;      // writing the children of a nested field in place
    bool skipFlagged = false; // in that list, leave out 0x100 and 0x200 children
    AtrNode* iter = nullptr;  // next child of that list
    int64_t remaining = 0;    // children of that list still to write
    uint64_t wide = 0;        // running offset in the wide layout
    int32_t lastFileIndex = -1;
};

enum Pass {
    PASS_SIZE,
    PASS_WRITE
};

} // namespace

struct AtrCompiler::Impl {
    AtrCompiler* owner = nullptr;
    std::unordered_map<std::string_view, StructDef*> defs;
    std::deque<StructDef> defStore;

    AtrCompilerStrings strings;
    AtrBlockList<uint32_t> stringOrder;   // string numbers in slot order (sizing pass)
    const int32_t* parkedOrder = nullptr; // the same, parked in the image (writing pass)
    size_t stringCursor = 0;              // next of them (writing pass)
    std::vector<Block> blocks;
    std::vector<LocalFile> files;
    std::unordered_map<std::string, uint32_t> fileIndex;
    CvkFileList* resources = nullptr;
    std::vector<Frame> stack;            // reused by every structure walk
    std::vector<AtrNode*> sources;       // scratch of file pointer fields
    std::vector<const AtrNode*> targets; // scratch of structure pointer fields

    Pass pass = PASS_SIZE;
    uint32_t align = 16;
    uint64_t pos = 0;       // running offset from the chunk start
    uint64_t entries = 0;   // type entries counted by the sizing pass
    uint64_t wideTotal = 0; // wide structure bytes
    uint32_t blockCursor = 0;
    uint32_t structIndex = 0;
    bool failed = false;

    // Layout.
    uint32_t headSize = 32;
    uint64_t structEnd = 0, stringStart = 0, blockStart = 0, fileStart = 0;
    uint8_t* buffer = nullptr; // first buffer: the "ATRB" chunk
    uint64_t bufferSize = 0;
    uint64_t atrbSize = 0; // the data chunk's size after its head
    uint64_t wideSize = 0; // wide structure bytes, rounded (from the sizing pass)
    uint64_t reserve = 0;  // bytes of the buffer: the whole image's upper bound
    uint64_t typesAt = 0;  // where the type description is collected (behind the largest pointer table)
    uint64_t imageSize = 0;
    // The pointer table: in the sizing pass the bytes of a table of every
    // slot that may hold a pointer (structure pointers whose target turns out
    // not to be written drop out later, each adding at most one byte); in the
    // writing pass the table itself, written behind the data chunk.
    CvkPointerOffsetStream pointerTable;
    uint64_t candidates = 0;  // slots of the sizing pass that may hold a pointer
    uint64_t droppable = 0;   // structure-pointer slots among them
    bool unordered = false;   // the sizing pass met a slot off the word grid or out of order
    uint64_t pointerRoom = 0; // bytes the table may take
    // Entries of the type description's lists, counted by the sizing pass.
    uint64_t ptrEntries = 0, strEntries = 0, memEntries = 0, fileEntries = 0;
    AtrCompilerExtChunk ext;

    void Fail(int code, const char* a = nullptr, const char* b = nullptr)
    {
        if (failed) return;
        failed = true;
        owner->SetError();
        if (code >= 0 && code < kMessageCount) {
            const std::string& m = Messages()[code];
            owner->m_errorLog.AppendFormat(m.c_str(), a != nullptr ? a : "", b != nullptr ? b : "");
        }
    }
    void FailQuiet()
    {
        failed = true;
        owner->SetError();
    }

    void BuildDefinitions(AtrNode* definition);
    // The structure of an element. The reader shares one text among equal
    // names, so the definitions met are remembered by the text's address
    // (the tree's texts stay put while it is compiled; the memory is
    // cleared with the definitions).
    struct DefSeen {
        const char* element = nullptr;
        const StructDef* def = nullptr;
    };
    std::array<DefSeen, 64> defSeen;
    const StructDef* DefOf(const AtrNode* n)
    {
        const char* element = Element(n);
        DefSeen& seen = defSeen[(reinterpret_cast<uintptr_t>(element) >> 4) % defSeen.size()];
        if (seen.element != element) {
            auto it = defs.find(std::string_view(element));
            seen = DefSeen{element, it != defs.end() ? it->second : nullptr};
        }
        return seen.def;
    }

    // The passes of one compilation, in order; each returns false once the
    // compilation has failed (the first failure is recorded by Fail).
    void Reset(uint32_t alignment);
    bool SizePass(AtrNode* data);
    bool PlanLayout(uint64_t limit);
    bool FillBuffer();
    bool WritePass(AtrNode* data);
    bool Assemble(uint64_t limit);
    bool WriteTypeChunk(uint8_t* image, uint64_t extStart, uint8_t* typesEnd, uint32_t descSize);
    void ReleaseScratch(AtrNode* data, bool built);

    // A node's compiler scratch (its address and structure number) is clean,
    // 0 and -1, between compilations: the sizing pass sets it for every
    // structure, the writing pass reads it for the pointers to the structure
    // and cleans it when it meets the node, and a failed compilation cleans
    // the whole tree.
    static void Clean(AtrNode* n)
    {
        if (Flag(n, ATR_NODE_FLAG_VISIT)) Unmark(n);
        n->_setPtrIndex(-1);
        n->_setAddress(0);
    }
    void CleanTree(AtrNode* data);
    // Marks a node written in place inside its parent's structure; the pass
    // skips it when it meets it. In the sizing pass the mark comes with an
    // address, which tells it from a mark the caller left on the node.
    void Mark(AtrNode* n)
    {
        if (!Flag(n, ATR_NODE_FLAG_VISIT)) SetMark(n);
        if (pass == PASS_SIZE && n->_getAddress() == 0) n->_setAddress(kMarkedAddress);
    }
    bool MetInPlace(AtrNode* n);
    void LeaveOut(AtrNode* n);
    bool Walk(AtrNode* data);
    void WalkStructure(AtrNode* node, const StructDef* def);
    void BeginStructure(Frame& f);
    void EndStructure();
    void Field_(Frame& f, const Field& fd);
    void StringField(Frame& f, const Field& fd);
    void ScalarField(Frame& f, const Field& fd);
    void CountField(Frame& f, const Field& fd);

    // Writers (writing pass only; bounded by the structure area). Values go
    // through the endian target's swap, read once per compilation.
    bool swapped = false;
    void Put(uint64_t at, uint32_t value, int32_t size)
    {
        if (pass != PASS_WRITE || failed) return;
        if (at + 4 > structEnd) return PutNarrow(at, value, size);
        if (size == 4) {
            const uint32_t v = swapped ? CvkSwap32(value) : value;
            std::memcpy(buffer + at, &v, 4);
        } else if (size == 2) {
            const uint16_t v = swapped ? CvkSwap16(uint16_t(value)) : uint16_t(value);
            std::memcpy(buffer + at, &v, 2);
        } else if (size == 1) {
            buffer[at] = uint8_t(value);
        }
    }
    // The same near the structure area's end, which cuts the value.
    void PutNarrow(uint64_t at, uint32_t value, int32_t size);
    void AddEntry(int ok)
    {
        if (pass == PASS_WRITE && !ok) Fail(ATRC_ERR_EXT_ALGORITHM);
    }
    void Count(uint64_t n)
    {
        if (pass == PASS_SIZE) entries += n;
    }
    void Scalar(const Field& fd, FieldKind kind, const CvVariant* v, uint64_t at);
    void AddString(std::string_view text, bool stable, uint64_t at);
    void AddValueString(const CvVariant* v, const Field& fd, uint64_t at);
    void WriteString(uint64_t at);
    void Pointer(Frame& f, const Field& fd);
    void NullSlots(int64_t from, int64_t count);
    void DataPointer(Frame& f, const Field& fd, uint64_t start, int64_t count);
    void FilePointer(Frame& f, const Field& fd, uint64_t start, int64_t count);
    void StructPointer(Frame& f, const Field& fd, uint64_t start, int64_t count);
    void RecordPointer(uint64_t at);
    int64_t AddLocalFile(const std::string& path);
    int64_t AddResource(const std::string& path, int kind);
    uint32_t FileSize(const std::string& path);
};

// ---- template ---------------------------------------------------------------

void AtrCompiler::Impl::BuildDefinitions(AtrNode* definition)
{
    defs.clear();
    defStore.clear();
    defSeen.fill(DefSeen{});
    for (AtrNode* s = FirstChild(definition); s != nullptr; s = NextSibling(s)) {
        if (Flag(s, ATR_NODE_FLAG_INSTRUCTION | ATR_NODE_FLAG_COMMENT)) continue;
        if (defs.count(std::string_view(Element(s))) != 0) continue; // the first definition wins
        defStore.emplace_back();
        StructDef& d = defStore.back();
        d.element = Element(s);
        d.code = AtrCompilerExtChunk::GetStructCode(d.element.c_str());
        for (AtrNode* c = FirstChild(s); c != nullptr; c = NextSibling(c)) {
            if (Flag(c, ATR_NODE_FLAG_INSTRUCTION | ATR_NODE_FLAG_COMMENT)) continue;
            Field fd;
            const CvVariant* type = AttrValue(c, "type");
            if (type != nullptr) {
                fd.type = TextOf(type);
                fd.kind = KindOf(fd.type);
            }
            if (const CvVariant* v = AttrValue(c, "name")) fd.name = TextOf(v), fd.hasName = true;
            if (const CvVariant* v = AttrValue(c, "link")) {
                fd.link = TextOf(v);
                fd.hasLink = true;
                fd.linkKind = fd.link == "DATA" ? L_DATA : fd.link == "FILE" ? L_FILE : L_STRUCT;
            }
            if (const CvVariant* v = AttrValue(c, "size")) fd.size = v->GetS32(), fd.hasSize = fd.size >= 0;
            if (const CvVariant* v = AttrValue(c, "default")) fd.def = TextOf(v), fd.hasDefault = true;
            if (const CvVariant* v = AttrValue(c, "array")) {
                fd.arrayText = TextOf(v);
                fd.array = v->GetType() == CVK_VARIANT_TYPE_STRING ? std::atoi(fd.arrayText.c_str()) : v->GetS32();
            }
            if (const CvVariant* v = AttrValue(c, "target")) fd.target = TextOf(v), fd.hasTarget = true;
            if (const CvVariant* v = AttrValue(c, "convert")) {
                const std::string cv = TextOf(v);
                fd.convert = cv == "CVK_COLOR_SWAP"        ? C_COLOR_SWAP
                             : cv == "CVK_COLOR_SWAP_ARGB" ? C_COLOR_SWAP_ARGB
                             : cv == "CVK_DEG_ANG"         ? C_DEG_ANG
                                                           : C_NONE;
            }
            fd.entry = ScalarEntry(fd.kind, fd);
            d.fields.push_back(std::move(fd));
        }
        defs.emplace(std::string_view(d.element), &d);
    }
    for (StructDef& d : defStore)
        for (Field& fd : d.fields)
            if (fd.kind == K_NESTED) {
                auto it = defs.find(std::string_view(fd.type));
                fd.nested = it != defs.end() ? it->second : nullptr;
            }
}

// ---- walking ----------------------------------------------------------------

// Pre-order over the subtree of data (data's siblings excluded), calling
// visit(node) and descending unless visit returns false.
template <typename Visit>
static void PreOrder(AtrNode* data, Visit visit)
{
    AtrNode* n = data;
    while (n != nullptr) {
        const bool descend = visit(n);
        AtrNode* c = descend ? FirstChild(n) : nullptr;
        if (c != nullptr) {
            n = c;
            continue;
        }
        while (n != data && NextSibling(n) == nullptr) n = Parent(n);
        if (n == data) break;
        n = NextSibling(n);
    }
}

void AtrCompiler::Impl::CleanTree(AtrNode* data)
{
    PreOrder(data, [](AtrNode* n) {
        Clean(n);
        return true;
    });
}

// Whether the node was written in place inside a structure before the walk
// met it (it is skipped then); its mark goes either way. Nodes come to the
// sizing pass clean, so there a mark without an address is the caller's, and
// the node is compiled as if it had none. The writing pass cleans every node
// it meets: the pointers to it are written already (they come from its
// ancestors), and it needs nothing more.
inline bool AtrCompiler::Impl::MetInPlace(AtrNode* n)
{
    const bool marked = Flag(n, ATR_NODE_FLAG_VISIT);
    if (pass == PASS_WRITE) {
        Clean(n);
        return marked;
    }
    if (!marked) return false;
    Unmark(n);
    return n->_getAddress() != 0;
}

// A left-out node and its subtree are not compiled, but some of them may
// have been written in place all the same: their marks go, and in the
// writing pass their scratch too.
void AtrCompiler::Impl::LeaveOut(AtrNode* n)
{
    PreOrder(n, [this](AtrNode* k) {
        if (pass == PASS_WRITE)
            Clean(k);
        else if (Flag(k, ATR_NODE_FLAG_VISIT))
            Unmark(k);
        return true;
    });
}

bool AtrCompiler::Impl::Walk(AtrNode* data)
{
    PreOrder(data, [this](AtrNode* n) {
        if (failed) return false;
        if (Flag(n, ATR_NODE_FLAG_LEFT_OUT)) {
            LeaveOut(n);
            return false;
        }
        if (MetInPlace(n)) return true;
        if (Flag(n, ATR_NODE_FLAG_NO_STRUCT)) return true;
        if (Element(n)[0] == '\0') {
            FailQuiet(); // a comment node in the instance
            return false;
        }
        const StructDef* def = DefOf(n);
        if (def != nullptr) WalkStructure(n, def);
        return !failed;
    });
    return !failed;
}

// A structure's address and pointer index, given by the sizing pass (the
// writing pass lays the structures out the same way), and in the writing
// pass the type entry that opens it.
void AtrCompiler::Impl::BeginStructure(Frame& f)
{
    f.begun = true;
    if (pass == PASS_SIZE) {
        if (pos > UINT32_MAX) {
            Fail(ATRC_ERR_MEMORY);
            return;
        }
        f.node->_setAddress(uint32_t(pos));
    }
    if (f.def->fields.empty()) return;
    Count(2);
    if (pass == PASS_SIZE)
        f.node->_setPtrIndex(int32_t(structIndex++));
    else
        AddEntry(ext.AddTypeStructBeginCode(f.def->code));
}

// Closes the innermost structure: its type entry, and its wide size added to
// the structure around it (or to the total at the top).
void AtrCompiler::Impl::EndStructure()
{
    const Frame& f = stack.back();
    if (pass == PASS_WRITE && !f.def->fields.empty()) AddEntry(ext.AddTypeStructEnd());
    const uint64_t wide = f.wide;
    stack.pop_back();
    if (stack.empty())
        wideTotal += wide;
    else
        stack.back().wide += wide;
}

void AtrCompiler::Impl::WalkStructure(AtrNode* root, const StructDef* rootDef)
{
    stack.clear();
    stack.push_back(Frame{.node = root, .def = rootDef});
    while (!stack.empty() && !failed) {
        Frame& f = stack.back();
        if (f.inList) {
            AtrNode* c = f.remaining > 0 ? f.iter : nullptr;
            if (c == nullptr) {
                f.inList = false;
                ++f.field;
                continue;
            }
            f.iter = NextSibling(c);
            if (f.skipFlagged && Flag(c, ATR_NODE_FLAG_LEFT_OUT | ATR_NODE_FLAG_NO_STRUCT | ATR_NODE_FLAG_COMMENT |
                                             ATR_NODE_FLAG_INSTRUCTION))
                continue;
            --f.remaining;
            const StructDef* d = DefOf(c);
            if (d == nullptr) continue;
            Mark(c);
            stack.push_back(Frame{.node = c, .def = d});
            continue;
        }
        if (!f.begun) BeginStructure(f);
        // The plain fields up to the next nested structure, in one run.
        const std::vector<Field>& fields = f.def->fields;
        while (f.field < fields.size() && fields[f.field].kind != K_NESTED && !failed) Field_(f, fields[f.field++]);
        if (failed) break;
        if (f.field >= fields.size()) {
            EndStructure();
            continue;
        }
        const Field& fd = fields[f.field];
        if (fd.nested == nullptr) {
            Fail(ATRC_ERR_STRUCT_NOT_FOUND, fd.type.c_str(), fd.name.c_str());
            break;
        }
        if (fd.array == 1) {
            AtrNode* c = nullptr;
            for (AtrNode* k = FirstChild(f.node); k != nullptr; k = NextSibling(k))
                if (std::strcmp(Element(k), fd.type.c_str()) == 0 &&
                    TextIs(AttrValue(k, "ATRC_NAME"), fd.name.c_str())) {
                    c = k;
                    break;
                }
            if (c == nullptr) {
                Fail(ATRC_ERR_STRUCT_NOT_FOUND, fd.type.c_str(), fd.name.c_str());
                break;
            }
            ++f.field;
            Mark(c);
            stack.push_back(Frame{.node = c, .def = fd.nested});
            continue;
        }
        if (fd.array < 1) {
            f.inList = true;
            f.skipFlagged = true;
            f.iter = FirstChild(f.node);
            f.remaining = INT64_MAX;
        } else {
            AtrNode* list = FindChild(f.node, fd.name.c_str(), &fd.childSeen);
            if (list == nullptr) {
                Fail(ATRC_ERR_ARRAY_NOT_FOUND, fd.name.c_str());
                break;
            }
            f.inList = true;
            f.skipFlagged = false;
            f.iter = FirstChild(list);
            f.remaining = fd.array;
        }
    }
}

// ---- fields -----------------------------------------------------------------

void AtrCompiler::Impl::PutNarrow(uint64_t at, uint32_t value, int32_t size)
{
    uint8_t bytes[4];
    uint32_t n = 0;
    if (size == 1) {
        bytes[0] = uint8_t(value);
        n = 1;
    } else if (size == 2) {
        const uint16_t v = swapped ? CvkSwap16(uint16_t(value)) : uint16_t(value);
        std::memcpy(bytes, &v, 2);
        n = 2;
    } else if (size == 4) {
        const uint32_t v = swapped ? CvkSwap32(value) : value;
        std::memcpy(bytes, &v, 4);
        n = 4;
    }
    // A 32-bit value in a narrower field is cut at the structure area's end.
    if (at >= structEnd) return;
    if (at + n > structEnd) n = uint32_t(structEnd - at);
    std::memcpy(buffer + at, bytes, n);
}

// A word that holds a pointer, for the relocation table. The sizing pass
// counts the bytes of the table of every word that may (far too many when
// the words are not in order: the writing pass then fails on them); the
// writing pass writes the table, within the room the count gave.
inline void AtrCompiler::Impl::RecordPointer(uint64_t at)
{
    if (failed) return;
    if (pass == PASS_SIZE) {
        ++candidates;
        if (at > UINT32_MAX || !pointerTable.Add(uint32_t(at))) unordered = true;
        return;
    }
    if (at > UINT32_MAX || !pointerTable.Add(uint32_t(at))) Fail(ATRC_ERR_EXT_ALGORITHM);
}

// A number or colour value of the writing pass: its type entry, then the
// value (none leaves the field 0).
void AtrCompiler::Impl::Scalar(const Field& fd, FieldKind kind, const CvVariant* v, uint64_t at)
{
    AddEntry(ext.AddScalarType(kind == fd.kind ? fd.entry : ScalarEntry(kind, fd)));
    if (v == nullptr) return;
    const int colorType = owner->m_colorType;
    switch (kind) {
    case K_SINT: Put(at, uint32_t(v->GetS32()), fd.size); break;
    case K_UINT: {
        uint32_t u = v->GetU32();
        if (fd.convert == C_COLOR_SWAP) u = AtrCompiler::ConvertColor(u, colorType);
        if (fd.convert == C_COLOR_SWAP_ARGB) u = AtrCompiler::ConvertColor(CvkSwap32(u), colorType);
        Put(at, u, fd.size);
        break;
    }
    case K_COLOR: Put(at, AtrCompiler::ConvertColor(CvkSwap32(v->GetU32()), colorType), fd.size); break;
    default: {
        float x = v->GetF32();
        uint32_t bits;
        if (fd.convert == C_DEG_ANG) {
            if (x > 360.0f) x -= 360.0f * float(int64_t(x) / 360);
            const float a = x * 182.04445f;
            bits = std::isfinite(a) && a > -2147483648.0f && a < 2147483648.0f ? uint32_t(int32_t(a)) : 0u;
        } else if (owner->m_fxShift >= 1) {
            const double scaled = double(x) * std::ldexp(1.0, owner->m_fxShift > 30 ? 30 : owner->m_fxShift);
            const double r = scaled < 0 ? -std::floor(-scaled + 0.5) : std::floor(scaled + 0.5);
            bits = std::isfinite(r) && r > -2147483649.0 && r < 2147483648.0 ? uint32_t(int32_t(r)) : 0u;
        } else {
            std::memcpy(&bits, &x, 4);
        }
        Put(at, bits, 4);
        break;
    }
    }
}

// A string slot of the sizing pass: the text's string number, kept in slot
// order for the writing pass.
void AtrCompiler::Impl::AddString(std::string_view text, bool stable, uint64_t at)
{
    const uint32_t index = strings.Add(text, stable);
    if (index == AtrCompilerStrings::kNone || !stringOrder.Push(index)) {
        Fail(ATRC_ERR_MEMORY);
        return;
    }
    ++strEntries;
    RecordPointer(at);
}

// The same slot in the writing pass, which meets the slots in the same order
// and takes the number the sizing pass found (parked where the type
// description's string-index list is collected: adding the entry writes the
// same number back in its place).
void AtrCompiler::Impl::WriteString(uint64_t at)
{
    if (stringCursor >= strEntries) {
        Fail(ATRC_ERR_EXT_ALGORITHM);
        return;
    }
    const uint32_t index = uint32_t(parkedOrder[stringCursor++]);
    Put(at, uint32_t(stringStart + strings.Offset(index)), 4);
    RecordPointer(at);
    AddEntry(ext.AddTypeStr(int32_t(index)));
}

// The string of a value, or the field's default when there is none.
void AtrCompiler::Impl::AddValueString(const CvVariant* v, const Field& fd, uint64_t at)
{
    if (v == nullptr)
        AddString(fd.def, true, at);
    else // the text of a "STRING" stays put; the text form of another kind is rewritten by each read
        AddString(ViewOf(v), v->GetType() == CVK_VARIANT_TYPE_STRING, at);
}

uint32_t AtrCompiler::Impl::FileSize(const std::string& path)
{
    const CvString full = CvkFileNameExtractEnvName(path.c_str());
    if (full.GetLength() == 0) return 0;
    CvkFile file(full.GetBuffer());
    return file.GetSize();
}

int64_t AtrCompiler::Impl::AddLocalFile(const std::string& path)
{
    auto it = fileIndex.find(path);
    if (it != fileIndex.end()) return it->second;
    const uint32_t size = FileSize(path);
    if (size == 0) {
        Fail(ATRC_ERR_FILE_OPEN, path.c_str());
        return -1;
    }
    uint64_t offset = 0;
    if (!files.empty()) offset = files.back().offset + files.back().padded;
    files.push_back(LocalFile{path, size, RoundUp(size, align), offset});
    fileIndex.emplace(path, uint32_t(files.size() - 1));
    return int64_t(files.size() - 1);
}

int64_t AtrCompiler::Impl::AddResource(const std::string& path, int kind)
{
    if (resources == nullptr || path.empty()) return -1;
    const int32_t found = resources->GetFileIndex(path.c_str(), kind);
    if (found >= 0) return found;
    return resources->AddFile(path.c_str(), -1, kind);
}

// A pointer field: `count` 4-byte slots (the field's array size, or one per
// written child), filled by the kind of the field's link.
void AtrCompiler::Impl::Pointer(Frame& f, const Field& fd)
{
    AtrNode* node = f.node;
    int64_t count = fd.array;
    if (count < 1) {
        count = 0;
        for (AtrNode* c = FirstChild(node); c != nullptr; c = NextSibling(c))
            if (!Flag(c, ATR_NODE_FLAG_LEFT_OUT | ATR_NODE_FLAG_NO_STRUCT)) ++count;
    }
    const uint64_t start = pos;
    const uint64_t bytes = 4 * uint64_t(count);
    pos += bytes;
    Count(uint64_t(count));
    f.wide = RoundUp(f.wide, 8) + 4 + bytes;
    if (!fd.hasLink) {
        Fail(ATRC_ERR_TEMPLATE_LINK, "link");
        return;
    }
    if (fd.linkKind == L_DATA)
        DataPointer(f, fd, start, count);
    else if (fd.linkKind == L_FILE)
        FilePointer(f, fd, start, count);
    else
        StructPointer(f, fd, start, count);
}

// Slots from..count-1 stay 0; each still takes a pointer type entry, whose
// target is none.
void AtrCompiler::Impl::NullSlots(int64_t from, int64_t count)
{
    if (count <= from) return;
    if (pass == PASS_SIZE) {
        ptrEntries += uint64_t(count - from);
        return;
    }
    for (int64_t i = from; i < count && !failed; ++i) {
        AddEntry(ext.AddTypePtr());
        if (!ext.IncrementPtrWriteIndex()) Fail(ATRC_ERR_EXT_ALGORITHM);
    }
}

// A pointer to the bytes of an attribute, copied into a block of the image.
void AtrCompiler::Impl::DataPointer(Frame& f, const Field& fd, uint64_t start, int64_t count)
{
    AtrNode* node = f.node;
    const void* data = nullptr;
    uint32_t size = 0;
    const bool has = count == 1 && ValueBytes(AttrValue(node, fd.name.c_str(), &fd.nameSeen), &data, &size) && size > 0;
    if (!has) {
        NullSlots(0, count);
        return;
    }
    if (pass == PASS_SIZE) {
        uint64_t offset = blocks.empty() ? 0 : blocks.back().offset + blocks.back().padded;
        blocks.push_back(Block{data, size, RoundUp(size, align), offset});
        ++memEntries;
        RecordPointer(start);
        return;
    }
    if (blockCursor >= blocks.size()) {
        Fail(ATRC_ERR_EXT_ALGORITHM);
        return;
    }
    const uint32_t index = blockCursor++;
    Put(start, uint32_t(blockStart + blocks[index].offset), 4);
    RecordPointer(start);
    AddEntry(ext.AddTypeMem(int32_t(index)));
}

// Pointers to embedded files named by the ATRC_FILE attributes of children.
void AtrCompiler::Impl::FilePointer(Frame& f, const Field& fd, uint64_t start, int64_t count)
{
    AtrNode* node = f.node;
    if (Flag(node, ATR_NODE_FLAG_NO_FILE)) {
        NullSlots(0, count);
        return;
    }
    sources.clear();
    AtrNode* child = FindChild(node, fd.name.c_str(), &fd.childSeen);
    if (child == nullptr) {
        Fail(ATRC_ERR_INSTANCE_NOT_FOUND, fd.name.c_str());
        return;
    }
    if (fd.array == 1)
        sources.push_back(child);
    else if (fd.array < 1)
        for (AtrNode* c = child; c != nullptr; c = NextSibling(c)) sources.push_back(c);
    else
        for (AtrNode* c = FirstChild(child); c != nullptr && int64_t(sources.size()) < fd.array; c = NextSibling(c))
            sources.push_back(c);
    int64_t slot = 0;
    for (AtrNode* s : sources) {
        if (slot >= count) break;
        const CvVariant* path = AttrValue(s, "ATRC_FILE");
        if (path == nullptr) {
            Fail(ATRC_ERR_INSTANCE_NOT_FOUND, "ATRC_FILE");
            return;
        }
        const int64_t index = AddLocalFile(TextOf(path));
        if (index < 0) return;
        const uint64_t at = start + 4 * uint64_t(slot);
        if (pass == PASS_WRITE) {
            Put(at, uint32_t(fileStart + files[size_t(index)].offset), 4);
            AddEntry(ext.AddTypeFile(int32_t(index)));
        } else {
            ++fileEntries;
        }
        RecordPointer(at);
        ++slot;
    }
    NullSlots(slot, count);
}

// Pointers to structures: the named child or children, else the last
// matching entry of a parameter array. The targets are descendants, which
// the sizing pass has laid out, so their slots are filled at once; a target
// that has no structure leaves its slot 0.
void AtrCompiler::Impl::StructPointer(Frame& f, const Field& fd, uint64_t start, int64_t count)
{
    if (pass == PASS_SIZE) {
        ptrEntries += uint64_t(count);
        droppable += uint64_t(count);
        if (pos > owner->m_imageLimit) // too large to be built: no table is counted
            unordered = true;
        for (int64_t i = 0; i < count && !unordered; ++i) RecordPointer(start + 4 * uint64_t(i));
        return;
    }
    AtrNode* node = f.node;
    targets.clear();
    auto usable = [](const AtrNode* t) { return !Flag(t, ATR_NODE_FLAG_LEFT_OUT); };
    if (count == 1) {
        if (AtrNode* t = FindChild(node, fd.name.c_str(), &fd.childSeen)) targets.push_back(t);
    } else {
        AtrNode* first = FindChild(node, fd.name.c_str(), &fd.childSeen);
        if (first != nullptr && FindAttr(first, "ATRC_LIST_BLOCK") != nullptr) {
            for (AtrNode* c = FirstChild(first); c != nullptr; c = NextSibling(c))
                if (usable(c)) targets.push_back(c);
        } else {
            for (AtrNode* c = first; c != nullptr; c = NextSibling(c))
                if (std::strcmp(Element(c), fd.name.c_str()) == 0 && usable(c)) targets.push_back(c);
        }
    }
    if (targets.empty()) {
        for (AtrNode* c = FirstChild(node); c != nullptr; c = NextSibling(c)) {
            if (!TextIs(AttrValue(c, "AFE_TYPE"), "PARAM_ARRAY")) continue;
            const AtrNode* last = nullptr;
            for (AtrNode* k = FirstChild(c); k != nullptr; k = NextSibling(k))
                if (!Flag(k, ATR_NODE_FLAG_LEFT_OUT) && std::strcmp(Element(k), fd.link.c_str()) == 0) last = k;
            if (last != nullptr) targets.push_back(last);
            break;
        }
    }
    for (int64_t i = 0; i < count && !failed; ++i) {
        AddEntry(ext.AddTypePtr());
        const AtrNode* t = size_t(i) < targets.size() && usable(targets[size_t(i)]) ? targets[size_t(i)] : nullptr;
        if (t == nullptr || t->_getPtrIndex() < 0) {
            if (!ext.IncrementPtrWriteIndex()) Fail(ATRC_ERR_EXT_ALGORITHM);
            continue;
        }
        const uint64_t at = start + 4 * uint64_t(i);
        Put(at, t->_getAddress(), 4);
        RecordPointer(at);
        if (!ext.SetTypePtrIndex(t->_getPtrIndex())) Fail(ATRC_ERR_EXT_ALGORITHM);
    }
}

// A field of the structure being walked: one call per kind.
void AtrCompiler::Impl::Field_(Frame& f, const Field& fd)
{
    switch (fd.kind) {
    case K_NO_TYPE: Fail(ATRC_ERR_TEMPLATE_SIZE, "type"); return;
    case K_POINTER: Pointer(f, fd); return;
    case K_STRING: StringField(f, fd); return;
    case K_SINT:
    case K_UINT:
    case K_FLOAT:
    case K_COLOR: ScalarField(f, fd); return;
    case K_DATA_SIZE:
    case K_FILE_INDEX:
    case K_FILE_SIZE:
    case K_ARRAY_SIZE: CountField(f, fd); return;
    case K_NESTED: return; // handled by the walker
    }
}

// A string field: one string slot, or a list of them from a child's data.
// The sizing pass finds the texts; the writing pass takes its strings.
void AtrCompiler::Impl::StringField(Frame& f, const Field& fd)
{
    AtrNode* node = f.node;
    const uint64_t start = pos;
    if (!fd.hasName) {
        Fail(ATRC_ERR_TEMPLATE_NAME, "name");
        return;
    }
    if (fd.array == 1) {
        pos += 4;
        f.wide = RoundUp(f.wide, 8) + 8;
        Count(1);
        if (pass == PASS_WRITE) {
            WriteString(start);
            return;
        }
        const CvVariant* v = AttrValue(node, fd.name.c_str(), &fd.nameSeen);
        if (v == nullptr)
            if (AtrNode* c = FindChild(node, fd.name.c_str(), &fd.childSeen)) {
                v = DataValue(c, 0);
                if (v == nullptr) v = FirstAttrValue(c);
            }
        AddValueString(v, fd, start);
        return;
    }
    AtrNode* c = FindChild(node, fd.name.c_str(), &fd.childSeen);
    if (c == nullptr) {
        Fail(ATRC_ERR_ARRAY_NOT_FOUND, fd.name.c_str());
        return;
    }
    const int64_t count = fd.array > 1 ? fd.array : DataCount(c);
    pos += 4 * uint64_t(count);
    f.wide = RoundUp(f.wide, 8) + 4 + 4 * uint64_t(count);
    Count(uint64_t(count));
    if (pos > owner->m_imageLimit) {
        Fail(ATRC_ERR_MEMORY);
        return;
    }
    const AtrData* d = c->GetData(0);
    for (int64_t i = 0; i < count && !failed; ++i) {
        if (pass == PASS_WRITE)
            WriteString(start + 4 * uint64_t(i));
        else
            AddValueString(d, fd, start + 4 * uint64_t(i));
        if (d != nullptr) d = d->GetNext();
    }
}

// A number or colour field: one value, or a list of them from a child's data.
void AtrCompiler::Impl::ScalarField(Frame& f, const Field& fd)
{
    AtrNode* node = f.node;
    const uint64_t start = pos;
    if (!fd.hasSize) {
        Fail(ATRC_ERR_TEMPLATE_SIZE, "size");
        return;
    }
    if (fd.array == 1) {
        pos += uint64_t(fd.size);
        f.wide += uint64_t(fd.size);
        Count(1);
        if (pass == PASS_SIZE) return; // the value is looked up when it is written
        FieldKind kind = fd.kind;
        const CvVariant* v = AttrValue(node, fd.name.c_str(), &fd.nameSeen);
        if (v == nullptr) {
            if (AtrNode* c = FindChild(node, fd.name.c_str(), &fd.childSeen)) {
                v = DataValue(c, 0);
                if (v != nullptr) {
                    if (const CvVariant* cast = AttrValue(c, "ATRC_CAST")) {
                        const std::string t = TextOf(cast);
                        const FieldKind k = KindOf(t);
                        if (k == K_SINT || k == K_UINT || k == K_FLOAT || k == K_COLOR) kind = k;
                    }
                } else {
                    v = FirstAttrValue(c);
                }
            }
        }
        Scalar(fd, kind, v, start);
        return;
    }
    AtrNode* c = FindChild(node, fd.name.c_str(), &fd.childSeen);
    const int64_t count = fd.array > 1 ? fd.array : (c != nullptr ? DataCount(c) : 0);
    pos += uint64_t(fd.size) * uint64_t(count);
    f.wide += uint64_t(fd.size) * uint64_t(count);
    Count(uint64_t(count));
    if (pos > owner->m_imageLimit) {
        Fail(ATRC_ERR_MEMORY);
        return;
    }
    if (c != nullptr) Mark(c);
    if (pass == PASS_SIZE) return;
    const AtrData* d = c != nullptr ? c->GetData(0) : nullptr;
    for (int64_t i = 0; i < count && !failed; ++i) {
        Scalar(fd, fd.kind, d, start + uint64_t(fd.size) * uint64_t(i));
        if (d != nullptr) d = d->GetNext();
    }
}

// A count field: one 32-bit value, the field advancing `size` bytes; the
// byte count of data, a resource file's index or size, or a list's length.
void AtrCompiler::Impl::CountField(Frame& f, const Field& fd)
{
    AtrNode* node = f.node;
    const uint64_t start = pos;
    if (!fd.hasSize) {
        Fail(ATRC_ERR_TEMPLATE_SIZE, "size");
        return;
    }
    pos += uint64_t(fd.size);
    f.wide += uint64_t(fd.size);
    Count(1);
    if (pass == PASS_WRITE) AddEntry(ext.AddTypeU32());
    // Sizing needs no value, but a file index adds its file to the list.
    if (pass == PASS_SIZE && fd.kind != K_FILE_INDEX) {
        if (fd.kind == K_DATA_SIZE && !fd.hasTarget) FailQuiet();
        return;
    }
    uint32_t value = 0;
    if (fd.kind == K_DATA_SIZE) {
        if (!fd.hasTarget) {
            FailQuiet();
            return;
        }
        const void* bytes;
        uint32_t size = 0;
        if (ValueBytes(AttrValue(node, fd.target.c_str()), &bytes, &size)) value = size;
    } else if (fd.kind == K_FILE_INDEX) {
        const CvVariant* path = AttrValue(node, "ATRC_FILE");
        if (path == nullptr) {
            Fail(ATRC_ERR_FILE_ATTRIBUTE);
            return;
        }
        const std::string p = TextOf(path);
        const int64_t index = AddResource(p, Flag(node, ATR_NODE_FLAG_NO_FILE) ? 1 : 0);
        if (index < 0) {
            if (!p.empty())
                Fail(ATRC_ERR_FILE_OPEN, p.c_str());
            else
                FailQuiet();
            return;
        }
        f.lastFileIndex = int32_t(index);
        value = uint32_t(index);
    } else if (fd.kind == K_FILE_SIZE) {
        if (f.lastFileIndex >= 0) {
            value = uint32_t(RoundUp(resources->GetFileSize(f.lastFileIndex), align));
            if (pass == PASS_WRITE && std::strcmp(Element(node), "CvFileData") == 0 && FindAttr(node, "uSize"))
                node->SetAttribute("uSize", int32_t(value));
        }
    } else {
        for (AtrNode* c = FirstChild(node); c != nullptr; c = NextSibling(c)) {
            if (std::strcmp(Element(c), fd.arrayText.c_str()) != 0 &&
                !TextIs(AttrValue(c, "ATRC_NAME"), fd.arrayText.c_str()))
                continue;
            if (const CvVariant* n = AttrValue(c, "ATRC_ARRAY_SIZE")) {
                value = uint32_t(n->GetS32());
            } else {
                for (AtrNode* k = FirstChild(c); k != nullptr; k = NextSibling(k))
                    if (!Flag(k, ATR_NODE_FLAG_LEFT_OUT | ATR_NODE_FLAG_NO_STRUCT)) ++value;
            }
            break;
        }
    }
    Put(start, value, 4);
}

// ---- the compiler -----------------------------------------------------------

AtrCompiler::AtrCompiler() :
    m_impl(new Impl), m_image(nullptr), m_imageSize(0), m_colorType(0), m_fxShift(0), m_align(16),
    m_imageLimit(0x40000000u)
{
    SetTag(CvChunkMakeTag("ATRC"));
    m_impl->owner = this;
    m_impl->resources = new CvkFileList();
    if (m_impl->resources == nullptr || m_impl->resources->CheckError()) SetError();
}

AtrCompiler::~AtrCompiler()
{
    _freeImage();
    delete m_impl->resources;
}

void AtrCompiler::_freeImage()
{
    if (m_image != nullptr) t_cvkMainHeapFree(m_image, kSourceTag, __LINE__);
    m_image = nullptr;
    m_imageSize = 0;
}

CvkFileList* AtrCompiler::GetFileList() const { return m_impl->resources; }

const void* AtrCompiler::GetResourceChunk() const { return m_resourceChunk; }

uint32_t AtrCompiler::GetResourceSize() const
{
    return m_resourceChunk != nullptr && m_impl->resources != nullptr ? m_impl->resources->GetChunkSize() : 0;
}

const char* AtrCompiler::GetErrorMessage(int code)
{
    return code >= 0 && code < kMessageCount ? Messages()[size_t(code)].c_str() : "";
}

uint32_t AtrCompiler::ConvertColor(uint32_t v, int colorType)
{
    switch (colorType) {
    case 1: return CvkSwap32(v);
    case 2: return (v >> 8) | (v << 24);
    case 3: {
        const uint32_t a = v >> 24, r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
        return ((g * 31 / 255) << 11) | ((r * 31 / 255) << 6) | ((a * 31 / 255) << 1) | (b >= 128 ? 1u : 0u);
    }
    default: return v;
    }
}

// ---- passes -----------------------------------------------------------------

void AtrCompiler::Impl::Reset(uint32_t alignment)
{
    align = alignment;
    swapped = CvkEndianGetTarget() == 1;
    failed = false;
    strings.Clear();
    stringOrder.Clear();
    parkedOrder = nullptr;
    stringCursor = 0;
    blocks.clear();
    files.clear();
    fileIndex.clear();
    resources->SetAlignSize(align);
    entries = 0;
    wideTotal = 0;
    blockCursor = 0;
    structIndex = 0;
    pointerTable = CvkPointerOffsetStream();
    candidates = droppable = 0;
    unordered = false;
    ptrEntries = strEntries = memEntries = fileEntries = 0;
}

// Walks the tree once to size and lay out the structures, collect strings,
// byte blocks and files, and count the type description and the pointer
// table.
bool AtrCompiler::Impl::SizePass(AtrNode* data)
{
    headSize = uint32_t(RoundUp(CVK_CHUNK_HEAD_SIZE, align));
    pass = PASS_SIZE;
    pos = headSize;
    Walk(data);
    // The writing pass takes the strings by the order recorded here.
    strings.DropIndex();
    return !failed;
}

// Places the structures, strings, blocks and files in the data chunk and
// bounds the whole image.
bool AtrCompiler::Impl::PlanLayout(uint64_t limit)
{
    structEnd = headSize + RoundUp(pos - headSize, align);
    stringStart = structEnd;
    blockStart = RoundUp(stringStart + strings.Bytes(), align);
    const uint64_t blockBytes = blocks.empty() ? 0 : blocks.back().offset + blocks.back().padded;
    fileStart = RoundUp(blockStart + blockBytes, align);
    const uint64_t fileBytes = files.empty() ? 0 : files.back().offset + files.back().padded;
    atrbSize = RoundUp(fileStart + fileBytes - headSize, align);
    bufferSize = headSize + atrbSize;
    wideSize = RoundUp(wideTotal, align);
    const uint64_t listWords = ptrEntries + strEntries + memEntries + fileEntries;
    const uint64_t words = entries + listWords + strings.Count() + blocks.size() + files.size();
    if (bufferSize > limit || words > 0x3FFFFFFFu) {
        Fail(ATRC_ERR_MEMORY);
        return false;
    }
    // The data chunk is written in place in the final image, so the block
    // has room behind it for the other chunks: the pointer table, whose size
    // the sizing pass bounded, and the type description, whose size is known
    // now. The description is collected where it would lie behind the
    // largest pointer table and moved down once the table is written. Pages
    // of the room that the image does not use are never touched.
    pointerRoom = unordered ? 8 + 4 * candidates : uint64_t(pointerTable.Size()) + droppable + 3;
    const uint64_t descSize = ATRC_EXT_HEAD_WORDS_SIZE + 4 * words;
    const uint64_t extBound = RoundUp(bufferSize + CVK_CHUNK_HEAD_SIZE + pointerRoom, align);
    typesAt = RoundUp(extBound + CVK_CHUNK_HEAD_SIZE + ATRC_EXT_HEAD_WORDS_SIZE, 4);
    reserve = extBound + CVK_CHUNK_HEAD_SIZE + RoundUp(descSize, align) + align + CVK_CHUNK_HEAD_SIZE;
    if (reserve > UINT32_MAX) {
        Fail(ATRC_ERR_MEMORY);
        return false;
    }
    return true;
}

// Allocates the image and fills the data chunk's head, strings, byte blocks
// and embedded files; the type description is collected behind the room of
// the pointer table, its lists behind room for the string, block and file
// sizes, and the string order of the sizing pass is parked in its
// string-index list.
bool AtrCompiler::Impl::FillBuffer()
{
    buffer = static_cast<uint8_t*>(t_cvkMainHeapAlloc(uint32_t(reserve), 0, kSourceTag, __LINE__));
    const uint64_t listsAt = typesAt + 4 * (entries + strings.Count() + blocks.size() + files.size());
    int32_t* lists = buffer != nullptr ? reinterpret_cast<int32_t*>(buffer + listsAt) : nullptr;
    AtrCompilerExtChunk::ListSizes sizes;
    sizes.ptr = uint32_t(ptrEntries);
    sizes.str = uint32_t(strEntries);
    sizes.mem = uint32_t(memEntries);
    sizes.file = uint32_t(fileEntries);
    if (buffer == nullptr ||
        !ext.InitChunk(uint32_t(entries), reinterpret_cast<uint32_t*>(buffer + typesAt), sizes, lists)) {
        Fail(ATRC_ERR_MEMORY);
        return false;
    }
    std::memset(buffer, 0, size_t(bufferSize));
    CvChunk* atrb = reinterpret_cast<CvChunk*>(buffer);
    atrb->Clear();
    atrb->SetTag(CVK_CHUNK_TAG_ATRB);
    atrb->SetHeadSize(headSize);
    atrb->SetSize(uint32_t(atrbSize));
    strings.CopyTo(buffer + stringStart);
    int32_t* parked = lists + ptrEntries;
    stringOrder.ForEach([&parked](uint32_t index) { *parked++ = int32_t(index); });
    stringOrder.Clear();
    parkedOrder = lists + ptrEntries;
    for (const Block& b : blocks) std::memcpy(buffer + blockStart + b.offset, b.bytes, b.size);
    for (const LocalFile& lf : files) {
        const CvString full = CvkFileNameExtractEnvName(lf.path.c_str());
        CvkFile file(full.GetBuffer());
        if (full.GetLength() == 0 || !file.ReadFile(buffer + fileStart + lf.offset, 0, lf.size)) {
            Fail(ATRC_ERR_FILE_OPEN, lf.path.c_str());
            return false;
        }
    }
    pointerTable = CvkPointerOffsetStream(buffer + bufferSize + CVK_CHUNK_HEAD_SIZE, pointerRoom);
    return true;
}

// Walks the tree again, writing the structures and their pointers; every
// list of the type description must come out as the sizing pass counted it.
bool AtrCompiler::Impl::WritePass(AtrNode* data)
{
    pass = PASS_WRITE;
    pos = headSize;
    Walk(data);
    const bool counted = ext.GetPtrCount() == ptrEntries && ext.GetStrCount() == strEntries &&
                         ext.GetMemCount() == memEntries && ext.GetFileCount() == fileEntries;
    if (!failed && (!ext.CheckValid() || !counted)) Fail(ATRC_ERR_EXT_ALGORITHM);
    return !failed;
}

// The type description chunk: head, parameter types (already in place, up
// to typesEnd), the sizes of strings, blocks and files, and the lists (moved
// down from where they were collected); it must fill its size exactly.
bool AtrCompiler::Impl::WriteTypeChunk(uint8_t* image, uint64_t extStart, uint8_t* typesEnd, uint32_t descSize)
{
    const uint32_t entryCount = uint32_t(entries);
    CvChunk* extChunk = reinterpret_cast<CvChunk*>(image + extStart);
    extChunk->SetSize(uint32_t(RoundUp(descSize, align)));
    ext.WriteExtChunkHead(extChunk, entryCount, uint32_t(structEnd - headSize), uint32_t(wideSize),
                          uint32_t(strings.Count()), uint32_t(stringStart), uint32_t(blocks.size()),
                          uint32_t(blockStart), uint32_t(files.size()), uint32_t(fileStart));
    uint8_t* p = typesEnd;
    auto word = [&p](uint64_t v) {
        const uint32_t w = CvkSwapTarget32(uint32_t(v));
        std::memcpy(p, &w, 4);
        p += 4;
    };
    for (size_t i = 0; i < strings.Count(); ++i) word(strings.Length(i));
    for (const Block& b : blocks) word(b.padded);
    for (const LocalFile& lf : files) word(lf.padded);
    p = ext.WritePtrIndex(p);
    if (p != image + extStart + CVK_CHUNK_HEAD_SIZE + descSize) {
        Fail(ATRC_ERR_EXT_CONTENT);
        return false;
    }
    return true;
}

// Closes the pointer table behind the data chunk and moves the type
// description down behind it, then the end chunk.
bool AtrCompiler::Impl::Assemble(uint64_t limit)
{
    const uint32_t tableSize = pointerTable.Finish();
    const uint64_t pofStart = bufferSize;
    const uint64_t tableEnd = pofStart + CVK_CHUNK_HEAD_SIZE + tableSize;
    const uint64_t extStart = RoundUp(tableEnd, align);
    const uint64_t typesStart = extStart + CVK_CHUNK_HEAD_SIZE + ATRC_EXT_HEAD_WORDS_SIZE;
    const uint32_t descSize =
        ext.CalcDataSize(uint32_t(entries), uint32_t(strings.Count()), uint32_t(blocks.size()), uint32_t(files.size()));
    const uint64_t eofcStart = RoundUp(extStart + CVK_CHUNK_HEAD_SIZE + RoundUp(descSize, align), align);
    const uint64_t total = eofcStart + CVK_CHUNK_HEAD_SIZE;
    if (total > limit) {
        Fail(ATRC_ERR_MEMORY);
        return false;
    }
    // Cannot happen: the words are in order, and the room and the place of
    // the collected description are upper bounds.
    if (tableSize == 0 || total > reserve || typesStart > typesAt) {
        Fail(ATRC_ERR_EXT_ALGORITHM);
        return false;
    }
    uint8_t* image = buffer;
    // The type entries move down to their place first; the lists follow in
    // WriteTypeChunk, and the rest of the chunks' room is zeroed around them
    // (paddings included).
    uint8_t* typesEnd = ext.WriteParamTypes(image + typesStart, uint32_t(entries));
    std::memset(image + tableEnd, 0, size_t(typesStart - tableEnd));
    CvChunk* pofChunk = reinterpret_cast<CvChunk*>(image + pofStart);
    pofChunk->Clear();
    pofChunk->SetTag(CVK_CHUNK_TAG_POF0);
    pofChunk->SetSize(uint32_t(extStart - pofStart - CVK_CHUNK_HEAD_SIZE));
    if (!WriteTypeChunk(image, extStart, typesEnd, descSize)) return false;
    const uint64_t descEnd = extStart + CVK_CHUNK_HEAD_SIZE + descSize;
    std::memset(image + descEnd, 0, size_t(total - descEnd));
    CvkCnkWriteEOFCInfo(reinterpret_cast<CvChunk*>(image + eofcStart));
    imageSize = total;
    return true;
}

// Frees the scratch of one compilation: the buffer (unless it became the
// image) with the type description collected in it; after a failure the
// tree's marks and scratch are cleaned.
void AtrCompiler::Impl::ReleaseScratch(AtrNode* data, bool built)
{
    if (buffer != nullptr) {
        ext.ExitChunk();
        t_cvkMainHeapFree(buffer, kSourceTag, __LINE__);
    }
    buffer = nullptr;
    strings.Clear();
    stringOrder.Clear();
    if (!built) CleanTree(data);
}

// Sizing, layout, filling, writing and assembly, in order; the
// first failure ends the compilation, and every way out frees the scratch.
int AtrCompiler::CreateBinary(AtrNode* data, AtrNode* definition, int scramble, uint32_t align)
{
    _freeImage();
    Impl& m = *m_impl;
    m_resourceChunk = nullptr;
    // Every compilation starts a fresh resource file list.
    delete m.resources;
    m.resources = new CvkFileList();
    if (m.resources == nullptr || m.resources->CheckError()) SetError();
    if (data == nullptr || definition == nullptr || CheckError()) {
        SetError();
        return 0;
    }
    m_align = align > 0 ? align : 1;
    m.Reset(m_align);
    m.BuildDefinitions(definition);

    const bool built = m.SizePass(data) && m.PlanLayout(m_imageLimit) && m.FillBuffer() && m.WritePass(data) &&
                       m.Assemble(m_imageLimit);
    uint8_t* image = built ? m.buffer : nullptr;
    if (built) m.buffer = nullptr; // the image now, no longer the compiler's scratch
    m.ReleaseScratch(data, built);
    if (!built) return 0;
    m.ext.ExitChunk();
    m_image = image;
    m_imageSize = uint32_t(m.imageSize);

    // The resource file list's package, scrambled on request.
    if (m.resources->GetFileNum() > 0) {
        CvChunk* resource = static_cast<CvChunk*>(const_cast<void*>(m.resources->CreateChunk()));
        if (resource == nullptr) {
            _freeImage();
            m.Fail(ATRC_ERR_FILE_OPEN, m.resources->GetFileName(0));
            return 0;
        }
        if (scramble != 0) cvkCodecEncodeChunk(resource, CvkRandomI(CVK_CODEC_KEY_MAX), nullptr);
        m_resourceChunk = resource;
    }
    return 1;
}
