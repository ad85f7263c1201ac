// Writing a tree as a converter image: the record stream, the string table
// in order of first use and the buffer list, laid out in a work buffer and
// copied out at their exact size.
#include "attribute/AtrConverter.h"

#include "attribute/AtrNode.h"
#include "kit/CvChunk.h"
#include "kit/CvkCodec.h"
#include "kit/CvkHeap.h"
#include "kit/CvkRandom.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

uint64_t Round4(uint64_t n) { return (n + 3) & ~uint64_t(3); }

// Bytes (1-4) of the shortest little-endian field that holds v as a signed number.
uint32_t FieldBytes(uint32_t v)
{
    const int32_t s = static_cast<int32_t>(v);
    if (s >= -128 && s <= 127) return 1;
    if (s >= -32768 && s <= 32767) return 2;
    if (s >= -(1 << 23) && s < (1 << 23)) return 3;
    return 4;
}

uint16_t BytesBit(uint32_t n) { return static_cast<uint16_t>(ATRV_RECORD_BYTES1 << (n - 1)); }

// The distinct texts of an image in order of first use, found again through
// an open-addressed index of their bytes.
class StringTable {
public:
    struct Entry {
        const char* text;
        uint32_t length;
    };

    // The index of the text, taking a new one at its first use.
    uint32_t Index(const char* text, uint32_t length)
    {
        if ((m_entries.size() + 1) * 2 > m_slots.size()) _grow();
        const uint32_t h = _hash(text, length);
        const size_t mask = m_slots.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const uint32_t slot = m_slots[i];
            if (slot == 0) {
                m_entries.push_back({text, length});
                m_hashes.push_back(h);
                m_slots[i] = static_cast<uint32_t>(m_entries.size());
                m_textBytes += length + 1;
                return static_cast<uint32_t>(m_entries.size() - 1);
            }
            const Entry& e = m_entries[slot - 1];
            if (m_hashes[slot - 1] == h && e.length == length && std::memcmp(e.text, text, length) == 0) {
                return slot - 1;
            }
        }
    }
    // Texts of a tree share their characters widely (equal names read from
    // one text are one string), and the tree does not change while it is
    // written: the address of the characters finds a text seen before
    // without hashing it.
    uint32_t Index(const CvString& text)
    {
        const char* chars = text.GetBuffer();
        Seen& seen = m_seen[(reinterpret_cast<uintptr_t>(chars) >> 4) & (kSeenSize - 1)];
        if (seen.chars != chars) {
            seen.chars = chars;
            seen.index = Index(chars, static_cast<uint32_t>(text.GetLength()));
        }
        return seen.index;
    }

    const std::vector<Entry>& Entries() const { return m_entries; }
    uint64_t TextBytes() const { return m_textBytes; }

private:
    static uint32_t _hash(const char* text, uint32_t length)
    {
        uint32_t h = 2166136261u ^ length;
        for (uint32_t i = 0; i < length; ++i) h = (h ^ static_cast<uint8_t>(text[i])) * 16777619u;
        return h ^ (h >> 15);
    }
    void _grow()
    {
        std::vector<uint32_t> slots(m_slots.empty() ? 1024 : m_slots.size() * 2, 0);
        const size_t mask = slots.size() - 1;
        for (size_t k = 0; k < m_entries.size(); ++k) {
            size_t i = m_hashes[k] & mask;
            while (slots[i] != 0) i = (i + 1) & mask;
            slots[i] = static_cast<uint32_t>(k + 1);
        }
        m_slots.swap(slots);
    }

    struct Seen {
        const char* chars = nullptr;
        uint32_t index = 0;
    };
    static constexpr size_t kSeenSize = 4096;

    std::vector<Seen> m_seen = std::vector<Seen>(kSeenSize);
    std::vector<Entry> m_entries;
    std::vector<uint32_t> m_hashes;
    std::vector<uint32_t> m_slots; // entry index + 1, 0 for an empty slot
    uint64_t m_textBytes = 0;
};

// Bytes put into the work buffer; remembers when they did not fit.
class ImageOut {
public:
    ImageOut(uint8_t* out, uint32_t capacity) : m_out(out), m_capacity(capacity) {}

    void Put(const void* bytes, uint32_t n)
    {
        if (!_room(n)) return;
        if (n != 0) std::memcpy(m_out + m_pos, bytes, n);
        m_pos += n;
    }
    // The low n bytes of v, least significant first.
    void PutField(uint32_t v, uint32_t n)
    {
        if (!_room(n)) return;
        for (uint32_t i = 0; i < n; ++i) m_out[m_pos + i] = static_cast<uint8_t>(v >> (8 * i));
        m_pos += n;
    }
    void PutWord(uint16_t v) { PutField(v, 2); }
    void PutU32(uint32_t v) { PutField(v, 4); }
    void PutU32At(uint32_t at, uint32_t v)
    {
        for (uint32_t i = 0; i < 4; ++i) m_out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    // Zero bytes up to a multiple of `align` from the chunk start.
    void PadTo(uint32_t align)
    {
        const uint32_t n = (align - m_pos % align) % align;
        if (!_room(n)) return;
        std::memset(m_out + m_pos, 0, n);
        m_pos += n;
    }
    void Skip(uint32_t n)
    {
        if (_room(n)) m_pos += n;
    }

    uint8_t* Bytes() const { return m_out; }
    uint32_t Pos() const { return m_pos; }
    bool Failed() const { return m_failed; }

private:
    bool _room(uint32_t n)
    {
        if (m_failed || uint64_t(m_pos) + n > m_capacity) {
            m_failed = true;
            return false;
        }
        return true;
    }

    uint8_t* m_out;
    uint32_t m_capacity;
    uint32_t m_pos = 0;
    bool m_failed = false;
};

// One image being written.
class ImageWriter {
public:
    ImageWriter(uint8_t* work, uint32_t workSize) : m_out(work, workSize) {}

    // The whole image: header, records, table, buffers, padding, end chunk.
    // Its size, or 0 when it could not be written.
    uint32_t Write(AtrNode* root)
    {
        m_out.Skip(ATRV_HEAD_SIZE);
        _writeRecords(root);
        const uint32_t recordSize = m_out.Pos() - ATRV_HEAD_SIZE;
        m_out.PadTo(4);
        const uint32_t tableStart = m_out.Pos();
        _writeStringTable();
        const uint32_t tableSize = m_out.Pos() - tableStart;
        m_out.PadTo(4);
        _writeBuffers();
        m_out.PadTo(16);
        const uint32_t endChunk = m_out.Pos();
        m_out.Skip(CVK_CHUNK_HEAD_SIZE);
        if (m_out.Failed() || m_failed) return 0;

        CvChunk* chunk = reinterpret_cast<CvChunk*>(m_out.Bytes());
        chunk->Clear();
        chunk->SetTag(CVK_CHUNK_TAG_ATRB);
        chunk->SetSize(endChunk - ATRV_HEAD_SIZE);
        chunk->SetHeadSize(ATRV_HEAD_SIZE);
        m_out.PutU32At(32, ATRV_FORMAT_MARK);
        m_out.PutU32At(36, recordSize);
        m_out.PutU32At(40, tableSize);
        m_out.PutU32At(44, static_cast<uint32_t>(m_strings.Entries().size()));
        CvkCnkWriteEOFCInfo(reinterpret_cast<CvChunk*>(m_out.Bytes() + endChunk));
        return m_out.Pos();
    }

private:
    // Pre-order walk over the subtree of `root` (its siblings left out).
    void _writeRecords(AtrNode* root)
    {
        AtrNode* node = root;
        for (;;) {
            _writeNodeHead(node);
            if (m_out.Failed() || m_failed) return;
            if (node->GetChild(0) != nullptr) {
                node = node->GetChild(0);
                continue;
            }
            for (;;) {
                m_out.PutWord(ATRV_RECORD_END);
                if (node == root) return;
                if (node->GetNext() != nullptr) {
                    node = node->GetNext();
                    break;
                }
                node = node->GetParent();
            }
        }
    }

    // The node record, its flags, attributes and data (not its children).
    void _writeNodeHead(AtrNode* node)
    {
        const uint32_t element = m_strings.Index(node->GetElement());
        const uint32_t n = FieldBytes(element);
        m_out.PutWord(static_cast<uint16_t>(ATRV_RECORD_NODE | BytesBit(n)));
        m_out.PutField(element, n);
        if (node->GetFlag() != 0 && node->GetAttribute(ATR_NODE_FLAG_NAME, 0) == nullptr) {
            const uint32_t name = m_strings.Index(ATR_NODE_FLAG_NAME, sizeof ATR_NODE_FLAG_NAME - 1);
            _writeValueRecord(ATRV_RECORD_ATTRIBUTE, ATRV_RECORD_UINT, node->GetFlag(), &name);
        }
        for (AtrAttribute* a = node->GetAttribute(0); a != nullptr; a = a->GetNext()) {
            _writeValue(ATRV_RECORD_ATTRIBUTE, *a->GetData(), &a->GetName());
        }
        for (AtrData* d = node->GetData(0); d != nullptr; d = d->GetNext()) {
            _writeValue(ATRV_RECORD_DATA, *d, nullptr);
        }
    }

    // An attribute (name given) or data record; kinds without a record
    // ("FIXED") are left out.
    void _writeValue(uint16_t record, const CvVariant& v, const CvString* name)
    {
        uint16_t kind = 0;
        uint32_t field = 0;
        switch (v.GetType()) {
        case CVK_VARIANT_TYPE_SINT:
            kind = ATRV_RECORD_SINT;
            field = static_cast<uint32_t>(v.GetS32());
            break;
        case CVK_VARIANT_TYPE_UINT:
            kind = ATRV_RECORD_UINT;
            field = v.GetU32();
            break;
        case CVK_VARIANT_TYPE_FLOAT: {
            kind = ATRV_RECORD_FLOAT;
            const float f = v.GetF32();
            std::memcpy(&field, &f, 4);
            break;
        }
        case CVK_VARIANT_TYPE_STRING:
            kind = ATRV_RECORD_STRING;
            field = m_strings.Index(v.GetCvString());
            break;
        case CVK_VARIANT_TYPE_BUF:
            kind = ATRV_RECORD_BUF;
            field = _addBuffer(v);
            break;
        default:
            return;
        }
        // The value's text takes its index before the attribute's name.
        uint32_t nameIndex = 0;
        if (name != nullptr) nameIndex = m_strings.Index(*name);
        _writeValueRecord(record, kind, field, name != nullptr ? &nameIndex : nullptr);
    }

    void _writeValueRecord(uint16_t record, uint16_t kind, uint32_t field, const uint32_t* nameIndex)
    {
        const uint32_t n = FieldBytes(field);
        m_out.PutWord(static_cast<uint16_t>(record | kind | BytesBit(n)));
        if (nameIndex != nullptr) m_out.PutU32(*nameIndex);
        m_out.PutField(field, n);
    }

    uint32_t _addBuffer(const CvVariant& v)
    {
        const uint32_t size = v.GetBufferSize();
        if (m_buffers.size() >= ATRV_BUFFER_MAX || (size != 0 && v.GetBuffer() == nullptr)) {
            m_failed = true;
            return 0;
        }
        m_buffers.push_back({static_cast<const char*>(v.GetBuffer()), size});
        return static_cast<uint32_t>(m_buffers.size() - 1);
    }

    void _writeStringTable()
    {
        const auto& entries = m_strings.Entries();
        const uint32_t count = static_cast<uint32_t>(entries.size());
        m_out.PutU32(count);
        uint64_t offset = 4 + 4 * uint64_t(count);
        for (const auto& e : entries) {
            if (offset > UINT32_MAX) {
                m_failed = true;
                return;
            }
            m_out.PutU32(static_cast<uint32_t>(offset));
            offset += e.length + 1;
        }
        for (const auto& e : entries) m_out.Put(e.text, e.length + 1);
    }

    void _writeBuffers()
    {
        for (const auto& b : m_buffers) {
            m_out.PutU32(b.length);
            m_out.Put(b.text, b.length);
        }
    }

    ImageOut m_out;
    StringTable m_strings;
    std::vector<StringTable::Entry> m_buffers;
    bool m_failed = false;
};

// Work-size terms of one value (see GetBinaryWorkSize).
uint64_t ValueWork(const CvVariant& v)
{
    switch (v.GetType()) {
    case CVK_VARIANT_TYPE_STRING:
        return 8 + Round4(uint64_t(v.GetStrLength()) + 1);
    case CVK_VARIANT_TYPE_BUF:
        return 8 + Round4(v.GetBufferSize());
    default:
        return 4;
    }
}

uint64_t NodeWork(const AtrNode* node)
{
    uint64_t sum = Round4(uint64_t(node->GetElement().GetLength()) + 1) + 12;
    // The flags record that writing adds, with its name.
    if (node->GetFlag() != 0 && node->GetAttribute(ATR_NODE_FLAG_NAME, 0) == nullptr) {
        sum += 6 + Round4(sizeof ATR_NODE_FLAG_NAME) + 4 + 4;
    }
    for (const AtrAttribute* a = node->GetAttribute(0); a != nullptr; a = a->GetNext()) {
        sum += 6 + Round4(uint64_t(a->GetName().GetLength()) + 1) + 4 + ValueWork(*a->GetData());
    }
    for (const AtrData* d = node->GetData(0); d != nullptr; d = d->GetNext()) {
        sum += 2 + ValueWork(*d);
    }
    return sum;
}

} // namespace

uint32_t AtrConverter::GetBinaryWorkSize(AtrNode* tree) const
{
    if (tree == nullptr) return 0;
    uint64_t sum = 96;
    const AtrNode* node = tree;
    for (;;) {
        sum += NodeWork(node);
        if (node->GetChild(0) != nullptr) {
            node = node->GetChild(0);
            continue;
        }
        while (node != tree && node->GetNext() == nullptr) node = node->GetParent();
        if (node == tree) break;
        node = node->GetNext();
    }
    return sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

int32_t AtrConverter::CreateBinary(AtrNode* tree, int32_t scramble, void* work, uint32_t workSize)
{
    _freeBuffer();
    if (tree == nullptr) {
        SetError();
        return 0;
    }
    void* ownWork = nullptr;
    if (work == nullptr) {
        workSize = GetBinaryWorkSize(tree);
        ownWork = t_cvkMainHeapAlloc(workSize, 0, __FILE__, __LINE__);
        work = ownWork;
    }
    uint32_t size = 0;
    if (work != nullptr) {
        try {
            ImageWriter writer(static_cast<uint8_t*>(work), workSize);
            size = writer.Write(tree);
        } catch (const std::bad_alloc&) {
            size = 0;
        }
    }
    if (size != 0) {
        m_buffer = t_cvkMainHeapAlloc(size, 0, __FILE__, __LINE__);
        if (m_buffer != nullptr) {
            std::memcpy(m_buffer, work, size);
            m_size = size;
        }
    }
    if (ownWork != nullptr) t_cvkMainHeapFree(ownWork, __FILE__, __LINE__);
    if (m_buffer == nullptr) {
        SetError();
        return 0;
    }
    if (scramble != 0) {
        cvkCodecEncodeChunk(static_cast<CvChunk*>(m_buffer), CvkRandomI(CVK_CODEC_KEY_MAX), nullptr);
    }
    return 1;
}
