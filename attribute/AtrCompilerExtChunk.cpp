#include "attribute/AtrCompilerExtChunk.h"

#include "kit/CvkEndian.h"
#include "kit/CvkHeap.h"

#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

const char kSourceTag[] = "AtrCompilerExtChunk";

struct StructCode {
    const char* name;
    uint32_t code;
};

const StructCode kStructCodes[] = {
    {"GlimmetPack", 0x2001},
    {"CorePack", 0x2002},
    {"EssencePack", 0x2003},
    {"MomentumPack", 0x2004},
    {"GlimmetPackHeader", 0x2005},
    {"GlimmetPackArray", 0x2006},
    {"MomentumListArray", 0x2007},
    {"MomentumList", 0x2008},
    {"MomentumPackArray", 0x2009},
    {"GlimmetPackSubArray", 0x200A},
    {"GlimmetPackSub", 0x200B},
    {"GlmParticle2", 0x200C},
    {"CvVector", 0x200D},
    {"GlmParticle2ColorArray", 0x200E},
    {"GlmParticle2ColorParam", 0x200F},
    {"MouseCollisionParamArray", 0x2010},
    {"MouseCollisionParam", 0x2011},
    {"MomMultiWorkParamArray", 0x2012},
    {"MomMultiWorkParam", 0x2013},
    {"MomMatrixParamArray", 0x2014},
    {"MomMatrixParam", 0x2015},
    {"GlimmetResourceHeader", 0x3000},
    {"GlimmetResourceArray", 0x3001},
    {"GlimmetResource", 0x3002},
};

uint8_t* PutWord(uint8_t* p, uint32_t v)
{
    v = CvkSwapTarget32(v);
    std::memcpy(p, &v, 4);
    return p + 4;
}

} // namespace

AtrCompilerExtChunk::AtrCompilerExtChunk() :
    m_table(nullptr), m_tableEntries(0), m_writePos(0), m_requested(0), m_sintCount(0), m_uintCount(0), m_colorCount(0),
    m_floatCount(0), m_structCount(0), m_depth(0), m_maxDepth(0), m_ptrWriteIndex(0)
{
    SetTag(CvChunkMakeTag("ATEX"));
}

AtrCompilerExtChunk::~AtrCompilerExtChunk() { ExitChunk(); }

int AtrCompilerExtChunk::InitChunk(uint32_t entryCount)
{
    ExitChunk();
    if (entryCount > 0) {
        if (entryCount > 0x3FFFFFFFu) return 0;
        m_table = static_cast<uint32_t*>(t_cvkMainHeapAlloc(entryCount * 4, 0, kSourceTag, __LINE__));
        if (m_table == nullptr) return 0;
        std::memset(m_table, 0, size_t(entryCount) * 4);
    }
    m_tableEntries = entryCount;
    return 1;
}

int AtrCompilerExtChunk::InitChunk(uint32_t entryCount, uint32_t* table)
{
    ExitChunk();
    if (entryCount > 0x3FFFFFFFu || (entryCount > 0 && table == nullptr)) return 0;
    if (entryCount > 0) {
        std::memset(table, 0, size_t(entryCount) * 4);
        m_table = table;
        m_tableOwned = false;
    }
    m_tableEntries = entryCount;
    return 1;
}

int AtrCompilerExtChunk::InitChunk(uint32_t entryCount, uint32_t* table, const ListSizes& sizes, int32_t* lists)
{
    ExitChunk();
    const uint64_t listWords = uint64_t(sizes.ptr) + sizes.str + sizes.mem + sizes.file;
    if (entryCount > 0x3FFFFFFFu || listWords > 0x3FFFFFFFu || (entryCount > 0 && table == nullptr) ||
        (listWords > 0 && lists == nullptr))
        return 0;
    if (entryCount > 0) {
        m_table = table;
        m_tableOwned = false;
    }
    m_tableEntries = entryCount;
    int32_t* at = lists;
    for (auto [list, capacity] : {std::pair{&m_ptr, sizes.ptr}, std::pair{&m_str, sizes.str},
                                  std::pair{&m_mem, sizes.mem}, std::pair{&m_file, sizes.file}}) {
        *list = List{capacity > 0 ? at : nullptr, 0, capacity, false};
        at += capacity;
    }
    return 1;
}

void AtrCompilerExtChunk::ExitChunk()
{
    if (m_table != nullptr && m_tableOwned) t_cvkMainHeapFree(m_table, kSourceTag, __LINE__);
    m_table = nullptr;
    m_tableOwned = true;
    m_tableEntries = 0;
    m_writePos = 0;
    m_requested = 0;
    m_sintCount = m_uintCount = m_colorCount = m_floatCount = 0;
    m_structCount = m_depth = m_maxDepth = 0;
    _free(m_ptr);
    _free(m_str);
    _free(m_mem);
    _free(m_file);
    m_ptrWriteIndex = 0;
}

int AtrCompilerExtChunk::_pushGrowing(List& list, int32_t value)
{
    if (list.count == list.capacity) {
        if (!list.owned) return 0;
        const uint32_t capacity = list.capacity == 0 ? 64 : list.capacity * 2;
        if (capacity > 0x3FFFFFFFu) return 0;
        int32_t* data = static_cast<int32_t*>(t_cvkMainHeapAlloc(capacity * 4, 0, kSourceTag, __LINE__));
        if (data == nullptr) return 0;
        if (list.count > 0) std::memcpy(data, list.data, size_t(list.count) * 4);
        if (list.data != nullptr) t_cvkMainHeapFree(list.data, kSourceTag, __LINE__);
        list.data = data;
        list.capacity = capacity;
    }
    list.data[list.count++] = value;
    return 1;
}

void AtrCompilerExtChunk::_free(List& list)
{
    if (list.data != nullptr && list.owned) t_cvkMainHeapFree(list.data, kSourceTag, __LINE__);
    list = List{};
}

// clang-format off
int AtrCompilerExtChunk::AddTypeS32() { ++m_sintCount; return _add(ATRC_EXT_S32); }
int AtrCompilerExtChunk::AddTypeS16() { ++m_sintCount; return _add(ATRC_EXT_S16); }
int AtrCompilerExtChunk::AddTypeS8() { ++m_sintCount; return _add(ATRC_EXT_S8); }
int AtrCompilerExtChunk::AddTypeU32() { ++m_uintCount; return _add(ATRC_EXT_U32); }
int AtrCompilerExtChunk::AddTypeU16() { ++m_uintCount; return _add(ATRC_EXT_U16); }
int AtrCompilerExtChunk::AddTypeU8() { ++m_uintCount; return _add(ATRC_EXT_U8); }
int AtrCompilerExtChunk::AddTypeC32() { ++m_colorCount; return _add(ATRC_EXT_C32); }
int AtrCompilerExtChunk::AddTypeC16() { ++m_colorCount; return _add(ATRC_EXT_C16); }
int AtrCompilerExtChunk::AddTypeC8() { ++m_colorCount; return _add(ATRC_EXT_C8); }
int AtrCompilerExtChunk::AddTypeF32() { ++m_floatCount; return _add(ATRC_EXT_F32); }
// clang-format on

int AtrCompilerExtChunk::AddTypeMem(int32_t blockIndex)
{
    if (blockIndex < 0) return 0;
    const int listed = _push(m_mem, blockIndex);
    return _add(ATRC_EXT_MEM) && listed;
}

int AtrCompilerExtChunk::AddTypeFile(int32_t fileIndex)
{
    const int listed = _push(m_file, fileIndex);
    return _add(ATRC_EXT_FILE) && listed;
}

uint32_t AtrCompilerExtChunk::GetStructCode(const char* element)
{
    if (element != nullptr) {
        for (const StructCode& s : kStructCodes)
            if (std::strcmp(s.name, element) == 0) return s.code;
    }
    return ATRC_EXT_STRUCT;
}

int AtrCompilerExtChunk::AddTypeStructBegin(const char* element)
{
    return AddTypeStructBeginCode(GetStructCode(element));
}

uint32_t AtrCompilerExtChunk::CalcDataSize(uint32_t entryCount, uint32_t stringCount, uint32_t blockCount,
                                           uint32_t fileCount) const
{
    return ATRC_EXT_HEAD_WORDS_SIZE + 4 * (entryCount + m_ptr.count + m_str.count + m_mem.count + m_file.count +
                                           stringCount + blockCount + fileCount);
}

int AtrCompilerExtChunk::CheckValid() const
{
    return m_requested == m_tableEntries && m_writePos == m_tableEntries && m_depth == 0 ? 1 : 0;
}

uint8_t* AtrCompilerExtChunk::WriteExtChunkHead(CvChunk* chunk, uint32_t entryCount, uint32_t structSize,
                                                uint32_t wideSize, uint32_t stringCount, uint32_t stringOffset,
                                                uint32_t blockCount, uint32_t blockOffset, uint32_t fileCount,
                                                uint32_t fileOffset)
{
    if (chunk == nullptr) return nullptr;
    const uint32_t size = chunk->GetSize(); // set by the compiler before or after
    chunk->Clear();
    chunk->SetTag(CVK_CHUNK_TAG_EXT0);
    chunk->SetSize(size);
    uint8_t* p = reinterpret_cast<uint8_t*>(chunk) + CVK_CHUNK_HEAD_SIZE;
    p = PutWord(p, 0);
    p = PutWord(p, CvkEndianGetTarget() == 1 ? 1u : 0u);
    p = PutWord(p, entryCount);
    p = PutWord(p, m_ptr.count);
    p = PutWord(p, m_str.count);
    p = PutWord(p, m_mem.count);
    p = PutWord(p, m_file.count);
    p = PutWord(p, m_structCount);
    p = PutWord(p, structSize);
    p = PutWord(p, wideSize);
    p = PutWord(p, m_maxDepth);
    p = PutWord(p, stringCount);
    p = PutWord(p, blockCount);
    p = PutWord(p, fileCount);
    p = PutWord(p, stringOffset);
    p = PutWord(p, blockOffset);
    p = PutWord(p, fileOffset);
    return p;
}

uint8_t* AtrCompilerExtChunk::WriteParamTypes(uint8_t* position, uint32_t entryCount)
{
    if (position == nullptr) return nullptr;
    const uint32_t count = entryCount < m_writePos ? entryCount : m_writePos;
    if (count == 0) return position;
    // memmove: a caller's table may overlap its destination.
    if (position != reinterpret_cast<uint8_t*>(m_table)) std::memmove(position, m_table, size_t(count) * 4);
    if (CvkEndianGetTarget() == 1) {
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t w;
            std::memcpy(&w, position + 4 * size_t(i), 4);
            w = CvkSwap32(w);
            std::memcpy(position + 4 * size_t(i), &w, 4);
        }
    }
    return position + 4 * size_t(count);
}

uint8_t* AtrCompilerExtChunk::WritePtrIndex(uint8_t* position)
{
    if (position == nullptr) return nullptr;
    const bool swapped = CvkEndianGetTarget() == 1;
    for (const List* list : {&m_ptr, &m_str, &m_mem, &m_file}) {
        for (uint32_t i = 0; i < list->count; ++i) {
            const uint32_t w = swapped ? CvkSwap32(uint32_t(list->data[i])) : uint32_t(list->data[i]);
            std::memcpy(position, &w, 4);
            position += 4;
        }
    }
    return position;
}
