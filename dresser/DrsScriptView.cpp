// Reading a compiled script image back into its parts.
#include "dresser/DrsScriptView.h"

#include "kit/CvkEndian.h"

#include <cstddef>
#include <cstring>

namespace {

// Reads values at a running offset inside [0, size); any read past the end
// marks the reader failed and yields zeros.
class ImageReader {
public:
    ImageReader(const uint8_t* data, size_t size, bool swap) : m_data(data), m_size(size), m_swap(swap) {}

    bool Ok() const { return m_ok; }
    size_t At() const { return m_at; }
    void Seek(size_t at)
    {
        if (at > m_size)
            m_ok = false;
        else
            m_at = at;
    }
    bool Has(size_t n) const { return m_ok && n <= m_size - m_at; }
    void Bytes(void* out, size_t n)
    {
        if (!Has(n)) {
            m_ok = false;
            std::memset(out, 0, n);
            return;
        }
        std::memcpy(out, m_data + m_at, n);
        m_at += n;
    }
    uint16_t U16()
    {
        uint16_t v;
        Bytes(&v, 2);
        return m_swap ? CvkSwap16(v) : v;
    }
    uint32_t U32()
    {
        uint32_t v;
        Bytes(&v, 4);
        return m_swap ? CvkSwap32(v) : v;
    }
    // A NUL-terminated text that must end inside `limit`.
    std::string Text(size_t limit)
    {
        if (limit > m_size) limit = m_size;
        const void* nul = m_at < limit ? std::memchr(m_data + m_at, 0, limit - m_at) : nullptr;
        if (nul == nullptr) {
            m_ok = false;
            return std::string();
        }
        std::string s(reinterpret_cast<const char*>(m_data + m_at));
        m_at += s.size() + 1;
        return s;
    }
    void Align(size_t base) { Seek(base + DrsScriptAlign(uint32_t(m_at - base))); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_swap;
    bool m_ok = true;
};

bool Fail(std::string* error, const char* why)
{
    if (error != nullptr) *error = why;
    return false;
}

void ReadScope(ImageReader& r, size_t base, size_t limit, std::vector<DrsScriptVariableView>* out)
{
    const uint16_t count = r.U16();
    if (count == 0) return;
    std::vector<uint16_t> lengths;
    for (uint16_t i = 0; i < count && r.Ok(); ++i) {
        DrsScriptVariableView v;
        v.size = r.U16();
        lengths.push_back(r.U16());
        out->push_back(v);
    }
    r.Align(base);
    for (uint16_t i = 0; i < count && r.Ok(); ++i) {
        (*out)[i].name = r.Text(limit);
        if ((*out)[i].name.size() + 1 != lengths[i]) r.Seek(limit + 1);
    }
    r.Align(base);
}

bool ReadDebug(const uint8_t* bytes, size_t size, size_t at, bool swap, DrsScriptView* view)
{
    const CvChunk* chunk = reinterpret_cast<const CvChunk*>(bytes + at);
    const size_t limit = at + chunk->GetHeadSize() + chunk->GetSize();
    ImageReader r(bytes, limit, swap);
    r.Seek(at + chunk->GetHeadSize());
    char name[CVK_SCRIPT_DEBUG_NAME_SIZE];
    r.Bytes(name, sizeof name);
    view->debugName.assign(name, strnlen(name, sizeof name));
    const uint32_t positions = r.U32();
    const uint32_t pathLength = r.U32();
    r.Seek(r.At() + 8);
    for (uint32_t i = 0; i < positions && r.Ok(); ++i) view->debugPositions.push_back(r.U32());
    r.Align(0);
    if (pathLength != 0) {
        view->debugPath = r.Text(limit);
        r.Align(0);
    }
    if (view->header.globalSlotCount != 0) ReadScope(r, 0, limit, &view->debugGlobals);
    for (uint16_t i = 0; i < view->header.moduleCount && r.Ok(); ++i) {
        view->debugModules.emplace_back();
        ReadScope(r, 0, limit, &view->debugModules.back());
    }
    (void)size;
    return r.Ok();
}

// The byte order of the script data, told by its version word; false for an
// unknown version.
bool FindByteOrder(const uint8_t* scriptData, bool* swapped)
{
    uint32_t version;
    std::memcpy(&version, scriptData + offsetof(DrsScriptHeader, version), 4);
    if (version != DRS_SCRIPT_VERSION && CvkSwap32(version) != DRS_SCRIPT_VERSION) return false;
    *swapped = version != DRS_SCRIPT_VERSION;
    return true;
}

void ReadHeader(ImageReader& r, DrsScriptHeader* h)
{
    r.Bytes(h->reserved, sizeof h->reserved);
    h->version = r.U32();
    h->stringDataSize = r.U32();
    h->moduleCount = r.U16();
    h->globalSlotCount = r.U16();
    h->constantCount = r.U16();
    h->stringCount = r.U16();
    h->initializerCount = r.U16();
    h->alignment = r.U16();
}

void ReadModules(ImageReader& r, size_t end, DrsScriptView* view)
{
    const uint16_t count = view->header.moduleCount;
    for (uint16_t i = 0; i < count && r.Ok(); ++i) {
        DrsScriptModuleView m;
        m.codePos = r.U32();
        m.frameSize = r.U16();
        r.U16();
        view->modules.push_back(m);
    }
    for (uint16_t i = 0; i < count && r.Ok(); ++i) view->modules[i].name = r.Text(end);
}

// The offsets, then the string data they point into; null, or why they are
// malformed.
const char* ReadStrings(ImageReader& r, const uint8_t* bytes, DrsScriptView* view)
{
    const DrsScriptHeader& h = view->header;
    std::vector<uint32_t> offsets;
    for (uint16_t i = 0; i < h.stringCount && r.Ok(); ++i) offsets.push_back(r.U32());
    const size_t data = r.At();
    if (!r.Has(h.stringDataSize)) return "string data past the end";
    for (uint32_t offset : offsets) {
        ImageReader s(bytes, data + h.stringDataSize, false);
        s.Seek(data + offset);
        view->strings.push_back(s.Text(data + h.stringDataSize));
        if (!s.Ok()) return "bad string offset";
    }
    r.Seek(data + h.stringDataSize);
    return nullptr;
}

// The parts after the header, up to the end of the script data; null, or why
// they are malformed.
const char* ReadScriptData(ImageReader& r, const uint8_t* bytes, size_t end, DrsScriptView* view)
{
    const DrsScriptHeader& h = view->header;
    r.Align(0);
    ReadModules(r, end, view);
    r.Align(0);
    for (uint16_t i = 0; i < h.constantCount && r.Ok(); ++i) view->constants.push_back(r.U32());
    r.Align(0);
    if (const char* why = ReadStrings(r, bytes, view)) return why;
    r.Align(0);
    for (uint32_t i = 0; i < h.initializerCount * 3u && r.Ok(); ++i) view->initializers.push_back(r.U16());
    r.Align(0);
    if (!r.Ok()) return "tables past the end of the script data";
    while (r.Has(2)) view->code.push_back(r.U16());
    return nullptr;
}

} // namespace

bool DrsReadScriptImage(const void* image, size_t size, DrsScriptView* view, std::string* error)
{
    *view = DrsScriptView();
    const auto* bytes = static_cast<const uint8_t*>(image);
    if (image == nullptr || CvChunk::CheckImage(image, size) == 0) return Fail(error, "not a chain of chunks");
    const CvChunk* first = CvChunk::GetFirst(image, size);
    if (first->GetTag() != CVK_CHUNK_TAG_DSCR || first->GetHeadSize() != CVK_CHUNK_HEAD_SIZE)
        return Fail(error, "no DSCR chunk at the start");
    const size_t base = CVK_CHUNK_HEAD_SIZE;
    const size_t end = base + first->GetSize();
    if (first->GetSize() < sizeof(DrsScriptHeader)) return Fail(error, "script data too short");
    if (!FindByteOrder(bytes + base, &view->swapped)) return Fail(error, "unknown script version");

    ImageReader r(bytes, end, view->swapped);
    r.Seek(base);
    ReadHeader(r, &view->header);
    if (view->header.alignment != DRS_SCRIPT_ALIGN) return Fail(error, "unexpected alignment");
    if (const char* why = ReadScriptData(r, bytes, end, view)) return Fail(error, why);
    view->scriptDataSize = first->GetSize();

    const CvChunk* next = first->GetNext(0, image, size);
    if (next != nullptr && next->GetTag() == CVK_CHUNK_TAG_DDBG) {
        view->hasDebug = true;
        if (!ReadDebug(bytes, size, size_t(reinterpret_cast<const uint8_t*>(next) - bytes), view->swapped, view))
            return Fail(error, "malformed debug chunk");
    }
    return true;
}
