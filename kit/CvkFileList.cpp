#include "kit/CvkFileList.h"

#include "kit/CvChunk.h"
#include "kit/CvkFile.h"
#include "kit/CvkHeap.h"
#include "platform/PlatformBytes.h"

#include <cstring>

namespace {

constexpr unsigned TAG_FILS = CvChunkMakeTag("FILS");
constexpr unsigned TAG_FILE = CvChunkMakeTag("FILE");
constexpr unsigned TAG_FLNM = CvChunkMakeTag("FLNM");

uint64_t AlignUp(uint64_t x, uint32_t a) { return (x + a - 1) / a * a; }

// A chunk header: tag in reading order, the other words little-endian.
void PutHeader(uint8_t* p, unsigned tag, uint32_t size, uint32_t headSize, uint32_t child, uint32_t sibling)
{
    std::memset(p, 0, CVK_CHUNK_HEAD_SIZE);
    p[0] = static_cast<uint8_t>(tag >> 24);
    p[1] = static_cast<uint8_t>(tag >> 16);
    p[2] = static_cast<uint8_t>(tag >> 8);
    p[3] = static_cast<uint8_t>(tag);
    PlatformPutLe32(p + 4, size);
    PlatformPutLe32(p + 8, headSize);
    PlatformPutLe32(p + 20, child);
    PlatformPutLe32(p + 24, sibling);
}

struct Header {
    unsigned tag;
    uint32_t size, headSize, child, sibling;
};

// The header at offset, when all 32 bytes lie inside [0, limit).
bool GetHeader(const uint8_t* image, uint64_t limit, uint64_t offset, Header& h)
{
    if (offset > limit || limit - offset < CVK_CHUNK_HEAD_SIZE) {
        return false;
    }
    const uint8_t* p = image + offset;
    h.tag = (unsigned(p[0]) << 24) | (unsigned(p[1]) << 16) | (unsigned(p[2]) << 8) | unsigned(p[3]);
    h.size = PlatformGetLe32(p + 4);
    h.headSize = PlatformGetLe32(p + 8);
    h.child = PlatformGetLe32(p + 20);
    h.sibling = PlatformGetLe32(p + 24);
    return true;
}

uint32_t NameRoom(const char* name)
{
    const uint64_t length = name != nullptr ? std::strlen(name) : 0;
    return static_cast<uint32_t>(AlignUp(length + 1, 4));
}

char* CopyName(const char* name)
{
    if (name == nullptr || name[0] == 0) {
        return nullptr;
    }
    const size_t length = std::strlen(name);
    auto* copy = static_cast<char*>(t_cvkMainHeapAlloc(static_cast<uint32_t>(length + 1), 0, __FILE__, __LINE__));
    if (copy != nullptr) {
        std::memcpy(copy, name, length + 1);
    }
    return copy;
}

} // namespace

CvkFileList::CvkFileList()
    : m_image(nullptr), m_imageSize(0), m_count(0), m_minusOne(-1), m_align(CVK_FILELIST_DEFAULT_ALIGN), m_zero(0),
      m_first(nullptr), m_last(nullptr), m_loaded(nullptr), m_dirty(true)
{
    SetTag(TAG_FILS);
}

CvkFileList::CvkFileList(const void* image, uint32_t size) : CvkFileList()
{
    _load(image, size);
}

CvkFileList::CvkFileList(const char* path) : CvkFileList()
{
    CvkFile file(path);
    if (file.ReadFile(nullptr, 0, 0) == 0) {
        SetError();
        return;
    }
    _load(file.GetBuffer(), file.GetSize());
}

CvkFileList::~CvkFileList()
{
    _clear();
    _dropImage();
    if (m_loaded != nullptr) {
        t_cvkMainHeapFree(m_loaded, __FILE__, __LINE__);
    }
}

void CvkFileList::SetAlignSize(uint32_t alignment)
{
    if (alignment >= 1 && alignment <= CVK_FILELIST_MAX_ALIGN && alignment != m_align) {
        m_align = alignment;
        m_dirty = true;
    }
}

void CvkFileList::_dropImage()
{
    if (m_image != nullptr && m_image != m_loaded) {
        t_cvkMainHeapFree(m_image, __FILE__, __LINE__);
    }
    m_image = nullptr;
    m_imageSize = 0;
}

void CvkFileList::_freeEntry(Entry* entry)
{
    if (entry->copy != 0 && entry->data != nullptr) {
        t_cvkMainHeapFree(entry->data, __FILE__, __LINE__);
    }
    if (entry->name != nullptr) {
        t_cvkMainHeapFree(entry->name, __FILE__, __LINE__);
    }
    t_cvkMainHeapFree(entry, __FILE__, __LINE__);
}

void CvkFileList::_clear()
{
    for (Entry* e = m_first; e != nullptr;) {
        Entry* next = e->next;
        _freeEntry(e);
        e = next;
    }
    m_first = m_last = nullptr;
    m_count = 0;
    m_dirty = true;
}

CvkFileList::Entry* CvkFileList::_entry(int32_t i) const
{
    if (i < 0 || i >= m_count) {
        return nullptr;
    }
    Entry* e = m_first;
    while (i-- > 0 && e != nullptr) {
        e = e->next;
    }
    return e;
}

int32_t CvkFileList::_insert(Entry* entry, int32_t index)
{
    if (index < 0 || index > m_count) {
        index = m_count;
    }
    Entry* at = _entry(index); // the entry that will follow the new one
    entry->next = at;
    entry->previous = at != nullptr ? at->previous : m_last;
    if (entry->previous != nullptr) {
        entry->previous->next = entry;
    } else {
        m_first = entry;
    }
    if (at != nullptr) {
        at->previous = entry;
    } else {
        m_last = entry;
    }
    ++m_count;
    m_dirty = true;
    return index;
}

int32_t CvkFileList::AddBuffer(const void* data, uint32_t size, int32_t copy, const char* name, int32_t index)
{
    if (m_count >= CVK_FILELIST_MAX_ENTRIES) {
        return -1;
    }
    auto* entry = static_cast<Entry*>(t_cvkMainHeapAlloc(sizeof(Entry), 0, __FILE__, __LINE__));
    if (entry == nullptr) {
        SetError();
        return -1;
    }
    *entry = Entry{nullptr, nullptr, nullptr, nullptr, data != nullptr ? size : 0, copy, CVK_FILELIST_KIND_DATA};
    if (data != nullptr && size > 0) {
        if (copy != 0) {
            entry->data = static_cast<uint8_t*>(t_cvkMainHeapAlloc(size, 0, __FILE__, __LINE__));
            if (entry->data == nullptr) {
                _freeEntry(entry);
                SetError();
                return -1;
            }
            std::memcpy(entry->data, data, size);
        } else {
            entry->data = static_cast<uint8_t*>(const_cast<void*>(data));
        }
    }
    if (name != nullptr && name[0] != 0) {
        entry->name = CopyName(name);
        if (entry->name == nullptr) {
            _freeEntry(entry);
            SetError();
            return -1;
        }
    }
    return _insert(entry, index);
}

int32_t CvkFileList::AddNull(int32_t index) { return AddBuffer(nullptr, 0, 0, nullptr, index); }

int32_t CvkFileList::AddFile(const char* path, int32_t index, int32_t kind)
{
    if (path == nullptr || path[0] == 0 || GetFileIndex(path, kind) >= 0) {
        return -1;
    }
    uint32_t size = 0;
    {
        CvkFile file(path);
        size = file.GetSize();
    }
    if (kind == CVK_FILELIST_KIND_FILE && size == 0) {
        return -1;
    }
    const int32_t used = AddBuffer(nullptr, 0, 0, path, index);
    if (used >= 0) {
        Entry* e = _entry(used);
        e->size = size;
        e->kind = kind;
        e->copy = 1; // the data CreateChunk reads belongs to the entry
    }
    return used;
}

int32_t CvkFileList::GetFileIndex(const char* name, int32_t kind) const
{
    if (name == nullptr) {
        return -1;
    }
    int32_t i = 0;
    for (const Entry* e = m_first; e != nullptr; e = e->next, ++i) {
        if (e->kind == kind && e->name != nullptr && std::strcmp(e->name, name) == 0) {
            return i;
        }
    }
    return -1;
}

const char* CvkFileList::GetFileName(int32_t i) const
{
    const Entry* e = _entry(i);
    return e != nullptr ? e->name : nullptr;
}

uint32_t CvkFileList::GetFileSize(int32_t i) const
{
    const Entry* e = _entry(i);
    return e != nullptr ? e->size : 0;
}

uint32_t CvkFileList::GetFileSize(const char* name) const
{
    return GetFileSize(GetFileIndex(name, CVK_FILELIST_KIND_DATA));
}

const void* CvkFileList::GetFileBuffer(int32_t i) const
{
    const Entry* e = _entry(i);
    return e != nullptr ? e->data : nullptr;
}

int CvkFileList::SwapFile(int32_t i, int32_t j)
{
    Entry* a = _entry(i);
    Entry* b = _entry(j);
    if (a == nullptr || b == nullptr) {
        return 0;
    }
    if (a != b) {
        // Exchange the contents; the links stay where they are.
        Entry* aPrevious = a->previous;
        Entry* aNext = a->next;
        Entry* bPrevious = b->previous;
        Entry* bNext = b->next;
        const Entry t = *a;
        *a = *b;
        *b = t;
        a->previous = aPrevious;
        a->next = aNext;
        b->previous = bPrevious;
        b->next = bNext;
        m_dirty = true;
    }
    return 1;
}

const void* CvkFileList::CreateChunk()
{
    if (CheckError()) {
        return nullptr;
    }
    if (m_image != nullptr && !m_dirty) {
        return m_image;
    }
    // Entries added from paths are read now.
    for (Entry* e = m_first; e != nullptr; e = e->next) {
        if (e->data != nullptr || e->name == nullptr || e->kind == CVK_FILELIST_KIND_DATA || e->size == 0) {
            continue;
        }
        CvkFile file(e->name);
        if (file.ReadFile(nullptr, 0, 0) == 0 || file.GetSize() != e->size) {
            SetError();
            return nullptr;
        }
        e->data = static_cast<uint8_t*>(t_cvkMainHeapAlloc(e->size, 0, __FILE__, __LINE__));
        if (e->data == nullptr) {
            SetError();
            return nullptr;
        }
        std::memcpy(e->data, file.GetBuffer(), e->size);
    }

    const uint32_t a = m_align;
    const uint64_t rootHead = AlignUp(48, a);
    const uint64_t fileHead = AlignUp(32, a);
    uint64_t files = 0;
    uint64_t names = 0;
    for (const Entry* e = m_first; e != nullptr; e = e->next) {
        files += AlignUp(fileHead + e->size, a);
        names += NameRoom(e->name);
    }
    const uint64_t nameChunk = AlignUp(fileHead + names, a);
    const uint64_t total = rootHead + files + nameChunk + CVK_CHUNK_HEAD_SIZE;
    if (total > UINT32_MAX) {
        SetError();
        return nullptr;
    }
    auto* image = static_cast<uint8_t*>(t_cvkMainHeapAlloc(static_cast<uint32_t>(total), a, __FILE__, __LINE__));
    if (image == nullptr) {
        SetError();
        return nullptr;
    }
    std::memset(image, 0, static_cast<size_t>(total));

    PutHeader(image, TAG_FILS, static_cast<uint32_t>(files), static_cast<uint32_t>(rootHead),
              static_cast<uint32_t>(rootHead), static_cast<uint32_t>(rootHead + files));
    PlatformPutLe32(image + 32, static_cast<uint32_t>(m_count));
    PlatformPutLe32(image + 36, static_cast<uint32_t>(m_minusOne));
    PlatformPutLe32(image + 40, m_align);
    PlatformPutLe32(image + 44, static_cast<uint32_t>(m_zero));

    uint64_t at = rootHead;
    for (const Entry* e = m_first; e != nullptr; e = e->next) {
        const uint64_t length = AlignUp(fileHead + e->size, a);
        PutHeader(image + at, TAG_FILE, e->size, static_cast<uint32_t>(fileHead), 0, static_cast<uint32_t>(length));
        if (e->size > 0 && e->data != nullptr) {
            std::memcpy(image + at + fileHead, e->data, e->size);
        }
        at += length;
    }
    PutHeader(image + at, TAG_FLNM, static_cast<uint32_t>(nameChunk - fileHead), static_cast<uint32_t>(fileHead), 0,
              static_cast<uint32_t>(nameChunk));
    uint64_t nameAt = at + fileHead;
    for (const Entry* e = m_first; e != nullptr; e = e->next) {
        if (e->name != nullptr) {
            std::memcpy(image + nameAt, e->name, std::strlen(e->name));
        }
        nameAt += NameRoom(e->name);
    }
    at += nameChunk;
    CvkCnkWriteEOFCInfo(reinterpret_cast<CvChunk*>(image + at));

    _dropImage();
    m_image = image;
    m_imageSize = static_cast<uint32_t>(total);
    m_dirty = false;
    return m_image;
}

uint32_t CvkFileList::GetChunkSize()
{
    return CreateChunk() != nullptr ? m_imageSize : 0;
}

int CvkFileList::OutputBinary(const char* path)
{
    const void* image = CreateChunk();
    if (image == nullptr) {
        return 0;
    }
    CvkFile file(path);
    return file.WriteFile(image, m_imageSize);
}

void CvkFileList::_load(const void* source, uint32_t size)
{
    const auto* in = static_cast<const uint8_t*>(source);
    Header root, names, end;
    if (in == nullptr || !GetHeader(in, size, 0, root) || root.tag != TAG_FILS || root.headSize < 48 ||
        root.headSize > size) {
        SetError();
        return;
    }
    const uint32_t count = PlatformGetLe32(in + 32);
    const uint32_t align = PlatformGetLe32(in + 40);
    // The names chunk, then the end chunk, as siblings.
    const uint64_t namesAt = root.sibling;
    if (count > static_cast<uint32_t>(CVK_FILELIST_MAX_ENTRIES) || align == 0 || align > CVK_FILELIST_MAX_ALIGN ||
        namesAt == 0 || !GetHeader(in, size, namesAt, names) || names.tag != TAG_FLNM || names.sibling == 0 ||
        names.headSize < CVK_CHUNK_HEAD_SIZE || names.headSize > names.sibling || root.headSize > namesAt) {
        SetError();
        return;
    }
    const uint64_t endAt = namesAt + names.sibling;
    if (!GetHeader(in, size, endAt, end) || end.tag != CVK_CHUNK_TAG_EOFC) {
        SetError();
        return;
    }
    const uint64_t imageSize = endAt + CVK_CHUNK_HEAD_SIZE;
    const uint64_t namesData = namesAt + names.headSize;
    const uint64_t namesEnd = endAt;

    // Every "FILE" chunk lies between the root's child offset and the names chunk.
    const uint64_t filesAt = root.child;
    if (count > 0 && (filesAt < CVK_CHUNK_HEAD_SIZE || filesAt > namesAt)) {
        SetError();
        return;
    }
    uint64_t at = filesAt;
    uint64_t nameAt = namesData;
    // First pass: check everything before anything is allocated.
    for (uint32_t i = 0; i < count; ++i) {
        Header file;
        if (!GetHeader(in, namesAt, at, file) || file.tag != TAG_FILE || file.headSize < CVK_CHUNK_HEAD_SIZE ||
            file.sibling == 0 || file.sibling > namesAt - at ||
            static_cast<uint64_t>(file.headSize) + file.size > file.sibling) {
            SetError();
            return;
        }
        const void* zero = nameAt < namesEnd ? std::memchr(in + nameAt, 0, static_cast<size_t>(namesEnd - nameAt)) : nullptr;
        if (zero == nullptr) {
            SetError();
            return;
        }
        const uint64_t length = static_cast<const uint8_t*>(zero) - (in + nameAt);
        nameAt += AlignUp(length + 1, 4);
        at += file.sibling;
    }

    m_loaded = static_cast<uint8_t*>(t_cvkMainHeapAlloc(static_cast<uint32_t>(imageSize), 0, __FILE__, __LINE__));
    if (m_loaded == nullptr) {
        SetError();
        return;
    }
    std::memcpy(m_loaded, in, static_cast<size_t>(imageSize));
    m_align = align;
    at = filesAt;
    nameAt = namesData;
    for (uint32_t i = 0; i < count; ++i) {
        Header file;
        GetHeader(m_loaded, namesAt, at, file);
        const char* name = reinterpret_cast<const char*>(m_loaded + nameAt);
        const uint64_t length = std::strlen(name);
        if (AddBuffer(file.size > 0 ? m_loaded + at + file.headSize : nullptr, file.size, 0,
                      length > 0 ? name : nullptr, -1) < 0) {
            _clear();
            SetError();
            return;
        }
        nameAt += AlignUp(length + 1, 4);
        at += file.sibling;
    }
    m_image = m_loaded;
    m_imageSize = static_cast<uint32_t>(imageSize);
    m_dirty = false;
}
