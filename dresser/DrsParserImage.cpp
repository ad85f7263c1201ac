// Writing the compiled script image: "DSCR", the optional "DDBG" and "EOFC".
#include "dresser/DrsParser.h"

#include "dresser/CvkScriptDebugInfo.h"
#include "dresser/DrsLexer.h"
#include "dresser/LexFunctionList.h"
#include "dresser/LexScopeVariant.h"
#include "kit/CvChunk.h"
#include "kit/CvkEndian.h"
#include "kit/CvkFile.h"
#include "kit/CvkHeap.h"

#include <cstring>

namespace {

// Writes values at a running offset in the target byte order; without an
// output it only counts, so that sizing and writing share one layout.
class ImageWriter {
public:
    // at: where writing starts, counted from the start of the image `out`.
    ImageWriter(uint8_t* out, bool swap, uint32_t at = 0) : m_out(out), m_at(at), m_swap(swap) {}

    uint32_t At() const { return m_at; }
    void Bytes(const void* data, uint32_t size)
    {
        if (m_out != nullptr && size != 0) std::memcpy(m_out + m_at, data, size);
        m_at += size;
    }
    void Zeros(uint32_t size)
    {
        if (m_out != nullptr) std::memset(m_out + m_at, 0, size);
        m_at += size;
    }
    void U16(uint16_t v)
    {
        if (m_swap) v = CvkSwap16(v);
        Bytes(&v, 2);
    }
    void U32(uint32_t v)
    {
        if (m_swap) v = CvkSwap32(v);
        Bytes(&v, 4);
    }
    void Words16(const uint16_t* words, uint32_t count)
    {
        if (m_out == nullptr) {
            m_at += count * 2;
            return;
        }
        Bytes(words, count * 2);
        if (m_swap) CvkSwapArray16(m_out + m_at - count * 2, count);
    }
    void Words32(const uint32_t* words, uint32_t count)
    {
        if (m_out == nullptr) {
            m_at += count * 4;
            return;
        }
        Bytes(words, count * 4);
        if (m_swap) CvkSwapArray32(m_out + m_at - count * 4, count);
    }
    // Zero bytes up to the next alignment boundary of the image.
    void Align() { Zeros(DrsScriptAlign(m_at) - m_at); }
    // A chunk header in the writer's own order; the size is patched later.
    void ChunkHeader(unsigned tag)
    {
        if (m_out != nullptr) {
            CvChunk* c = reinterpret_cast<CvChunk*>(m_out + m_at);
            c->Clear();
            c->SetTag(tag);
        }
        m_at += CVK_CHUNK_HEAD_SIZE;
    }
    void PatchChunkSize(uint32_t chunkAt, uint32_t size)
    {
        if (m_out != nullptr) reinterpret_cast<CvChunk*>(m_out + chunkAt)->SetSize(size);
    }

private:
    uint8_t* m_out;
    uint32_t m_at;
    bool m_swap;
};

uint32_t CountPositions(const CvkScriptDebugInfo* record)
{
    uint32_t n = 0;
    for (const CvkScriptDebugPos* p = record->positions; p != nullptr; p = p->next) ++n;
    return n;
}

} // namespace

bool DrsParser::_wantDebugChunk() const
{
    return m_debug != nullptr && (m_debug->name[0] != '\0' || m_debug->path[0] != '\0');
}

// The script data: header, module table and names, constants, strings,
// global initializers and code, each padded to the alignment.
uint32_t DrsParser::_writeScript(uint8_t* out) const
{
    ImageWriter w(out, m_swap);
    w.ChunkHeader(CVK_CHUNK_TAG_DSCR);
    w.Zeros(sizeof m_header.reserved);
    w.U32(m_header.version);
    w.U32(m_header.stringDataSize);
    w.U16(m_header.moduleCount);
    w.U16(m_header.globalSlotCount);
    w.U16(m_header.constantCount);
    w.U16(m_header.stringCount);
    w.U16(m_header.initializerCount);
    w.U16(m_header.alignment);
    w.Align();

    const LexFunctionList* first = m_lexer != nullptr ? m_lexer->GetModuleList(nullptr) : nullptr;
    const LexFunctionList* m = first;
    for (uint32_t i = 0; i < m_header.moduleCount && m != nullptr; ++i, m = m->GetNext()) {
        w.U32(m->GetModuleCodePos());
        w.U16(m->GetVariantCount());
        w.U16(0);
    }
    m = first;
    for (uint32_t i = 0; i < m_header.moduleCount && m != nullptr; ++i, m = m->GetNext()) {
        const char* name = m->GetName() != nullptr ? m->GetName() : "";
        w.Bytes(name, uint32_t(std::strlen(name)) + 1);
    }
    w.Align();

    // Constants are kept in the target order already.
    w.Bytes(m_constants, m_constantCount * 4);
    w.Align();
    w.Words32(m_strings.GetOffsets(), m_strings.GetCount());
    w.Bytes(m_strings.GetData(), m_strings.GetDataSize());
    w.Align();
    w.Words16(m_init.words, m_init.count);
    w.Align();
    w.Words16(m_code.words, m_code.count);
    w.Align();
    w.PatchChunkSize(0, w.At() - CVK_CHUNK_HEAD_SIZE);
    return w.At();
}

// One scope's block of the debug chunk: count, then size and name length per
// variable, then the names. A scope without variables is one word 0.
static void WriteScopeBlock(ImageWriter& w, const LexScopeVariant* scope)
{
    const uint16_t count = scope != nullptr ? scope->GetVariantNum() : 0;
    w.U16(count);
    if (count == 0) return;
    for (const _lexVariantList* v = scope->GetVariantList(); v != nullptr; v = v->next) {
        w.U16(v->size);
        w.U16(uint16_t(std::strlen(v->name) + 1));
    }
    w.Align();
    for (const _lexVariantList* v = scope->GetVariantList(); v != nullptr; v = v->next)
        w.Bytes(v->name, uint32_t(std::strlen(v->name)) + 1);
    w.Align();
}

// The debug chunk from `at`: the record's name, position entries and path,
// then the variables of the globals and of each module.
uint32_t DrsParser::_writeDebug(uint8_t* out, uint32_t at) const
{
    ImageWriter w(out, m_swap, at);
    w.ChunkHeader(CVK_CHUNK_TAG_DDBG);
    char name[CVK_SCRIPT_DEBUG_NAME_SIZE] = {};
    std::memcpy(name, m_debug->name, strnlen(m_debug->name, sizeof name - 1));
    w.Bytes(name, sizeof name);
    const uint32_t pathLength = uint32_t(strnlen(m_debug->path, CVK_SCRIPT_DEBUG_PATH_SIZE - 1));
    w.U32(CountPositions(m_debug));
    w.U32(pathLength != 0 ? pathLength + 1 : 0);
    w.Zeros(8);
    for (const CvkScriptDebugPos* p = m_debug->positions; p != nullptr; p = p->next) w.U32(p->value);
    w.Align();
    if (pathLength != 0) {
        w.Bytes(m_debug->path, pathLength);
        w.Zeros(1);
        w.Align();
    }
    if (m_header.globalSlotCount != 0) WriteScopeBlock(w, m_globalScope);
    const LexFunctionList* m = m_lexer != nullptr ? m_lexer->GetModuleList(nullptr) : nullptr;
    for (uint32_t i = 0; i < m_header.moduleCount && m != nullptr; ++i, m = m->GetNext())
        WriteScopeBlock(w, m->GetScopeVariant());
    w.Align();
    w.PatchChunkSize(at, w.At() - at - CVK_CHUNK_HEAD_SIZE);
    return w.At();
}

// Sizing and writing run the same layout code; the size is a dry run.
uint32_t DrsParser::_writeImage(uint8_t* out) const
{
    uint32_t at = _writeScript(out);
    if (_wantDebugChunk()) at = _writeDebug(out, at);
    if (out != nullptr) CvkCnkWriteEOFCInfo(reinterpret_cast<CvChunk*>(out + at));
    return at + CVK_CHUNK_HEAD_SIZE;
}

uint32_t DrsParser::GetChunkSize() const
{
    return _writeImage(nullptr);
}

void* DrsParser::OutputChunk(void* buffer)
{
    if (CheckError() || m_stop) return nullptr;
    const uint32_t size = GetChunkSize();
    auto* out = static_cast<uint8_t*>(buffer);
    if (out == nullptr) out = static_cast<uint8_t*>(t_cvkMainHeapAlloc(size, 0, __FILE__, __LINE__));
    if (out == nullptr) return nullptr;
    if (_writeImage(out) != size) {
        if (buffer == nullptr) t_cvkMainHeapFree(out, __FILE__, __LINE__);
        return nullptr;
    }
    return out;
}

int32_t DrsParser::OutputFile(const char* path)
{
    if (path == nullptr || path[0] == '\0') return 0;
    void* image = OutputChunk(nullptr);
    if (image == nullptr) return 0;
    CvkFile file(path);
    const int ok = file.WriteFile(image, GetChunkSize());
    t_cvkMainHeapFree(image, __FILE__, __LINE__);
    return ok != 0 ? 1 : 0;
}
