// Reading a converter image back into a tree. The image comes from outside:
// every field, offset, index and record is checked against the image's
// extent before it is used, and records are read without recursion.
#include "attribute/AtrConverter.h"

#include "attribute/AtrNode.h"
#include "kit/CvChunk.h"
#include "kit/CvkCodec.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

// A little-endian word (the tool chain's machines are little-endian).
uint32_t LoadU32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint64_t Align4(uint64_t n) { return (n + 3) & ~uint64_t(3); }

// The parts of one image and the bounded accessors over them.
class ImageReader {
public:
    // Checks the header and the table; false for a malformed image.
    bool Open(uint8_t* image, uint32_t imageSize)
    {
        if (imageSize < ATRV_HEAD_SIZE) return false;
        const CvChunk* chunk = reinterpret_cast<const CvChunk*>(image);
        if (chunk->GetTag() != CVK_CHUNK_TAG_ATRB || chunk->GetHeadSize() < ATRV_HEAD_SIZE) return false;
        const uint64_t end = uint64_t(ATRV_HEAD_SIZE) + chunk->GetSize();
        if (end > imageSize) return false;
        m_image = image;
        if ((chunk->codecFlags & CVK_CHUNK_CODEC_SCRAMBLED) != 0) {
            cvkCodecDecode(chunk->GetCode(), image + ATRV_HEAD_SIZE, chunk->GetSize(), nullptr);
            reinterpret_cast<CvChunk*>(image)->codecFlags &= ~CVK_CHUNK_CODEC_SCRAMBLED;
        }
        const uint32_t mark = LoadU32(image + 32);
        const uint64_t recordSize = LoadU32(image + 36);
        m_tableSize = LoadU32(image + 40);
        m_count = LoadU32(image + 44);
        m_pos = ATRV_HEAD_SIZE;
        m_recordEnd = ATRV_HEAD_SIZE + recordSize;
        uint64_t table = m_recordEnd;
        if (mark >= ATRV_FORMAT_MARK) table = Align4(table);
        if (table + m_tableSize > end) return false;
        m_table = static_cast<uint32_t>(table);
        uint64_t buffers = table + m_tableSize;
        if (mark >= ATRV_FORMAT_MARK) buffers = Align4(buffers);
        m_bufferStart = static_cast<uint32_t>(buffers < end ? buffers : end);
        m_bufferEnd = static_cast<uint32_t>(end);
        return _checkTable();
    }

    // The next 16-bit record word; false at the end of the record stream.
    bool Word(uint16_t& word)
    {
        if (m_pos + 2 > m_recordEnd) return false;
        word = static_cast<uint16_t>(m_image[m_pos] | (m_image[m_pos + 1] << 8));
        m_pos += 2;
        return true;
    }
    // An n-byte field (1-4), sign-extended.
    bool Field(uint32_t n, uint32_t& value)
    {
        if (m_pos + n > m_recordEnd) return false;
        uint32_t v = 0;
        if (m_pos + 4 <= m_bufferEnd) {
            // One load of four bytes inside the chunk; the bytes beyond the
            // field are shifted out.
            v = LoadU32(m_image + m_pos);
        } else {
            for (uint32_t i = 0; i < n; ++i) v |= uint32_t(m_image[m_pos + i]) << (8 * i);
        }
        const uint32_t unused = 32 - 8 * n;
        value = static_cast<uint32_t>(static_cast<int32_t>(v << unused) >> unused);
        m_pos += n;
        return true;
    }

    // The text of a string index, shared by every use of the index; null for
    // an index outside the table (or when memory ran out for it).
    const CvString* Text(uint32_t index)
    {
        if (index >= m_count) return nullptr;
        if (!m_made[index]) {
            const uint32_t offset = LoadU32(m_image + m_table + 4 + 4 * uint64_t(index));
            const char* text = reinterpret_cast<const char*>(m_image + m_table + offset);
            m_texts[index] = text;
            // An empty copy of a non-empty text: the buffer heap ran out.
            if (m_texts[index].GetLength() == 0 && text[0] != 0) {
                m_failed = true;
                return nullptr;
            }
            // Several indexes may hold the same text: each is marked.
            m_made[index] = std::strcmp(text, ATR_NODE_FLAG_NAME) == 0 ? kFlagName : kMade;
        }
        return &m_texts[index];
    }
    // True for an index of the text "ATR_NODE_FLAG" (once it was read).
    bool IsNodeFlagName(uint32_t index) const { return index < m_count && m_made[index] == kFlagName; }

    // The bytes of buffer `index`, found by walking the list (the list
    // stores no count); false when the walk leaves the image.
    bool Buffer(uint32_t index, const uint8_t*& bytes, uint32_t& size)
    {
        while (m_buffers.size() <= index) {
            uint64_t at = m_bufferStart;
            if (!m_buffers.empty()) at = uint64_t(m_buffers.back()) + 4 + LoadU32(m_image + m_buffers.back());
            if (at + 4 > m_bufferEnd || at + 4 + LoadU32(m_image + at) > m_bufferEnd) return false;
            m_buffers.push_back(static_cast<uint32_t>(at));
        }
        bytes = m_image + m_buffers[index] + 4;
        size = LoadU32(m_image + m_buffers[index]);
        return true;
    }

    // True once memory ran out for a text.
    bool Failed() const { return m_failed; }
    void SetFailed() { m_failed = true; }

private:
    // The count agrees with the header, the offsets fit and point into the
    // text area, and the last text ends inside the table.
    bool _checkTable()
    {
        if (m_tableSize < 4 || LoadU32(m_image + m_table) != m_count) return false;
        const uint64_t texts = 4 + 4 * uint64_t(m_count);
        if (texts > m_tableSize) return false;
        if (m_count != 0 && m_image[m_table + m_tableSize - 1] != 0) return false;
        for (uint32_t i = 0; i < m_count; ++i) {
            const uint32_t offset = LoadU32(m_image + m_table + 4 + 4 * uint64_t(i));
            if (offset < texts || offset >= m_tableSize) return false;
        }
        m_texts.resize(m_count);
        m_made.assign(m_count, 0);
        return true;
    }

    uint8_t* m_image = nullptr;
    uint64_t m_pos = 0;
    uint64_t m_recordEnd = 0;
    uint32_t m_table = 0;
    uint32_t m_tableSize = 0;
    uint32_t m_count = 0;
    uint32_t m_bufferStart = 0;
    uint32_t m_bufferEnd = 0;
    std::vector<CvString> m_texts;
    enum : uint8_t { kMade = 1, kFlagName = 2 };
    std::vector<uint8_t> m_made; // per index: 0, kMade or kFlagName
    std::vector<uint32_t> m_buffers; // offsets of the buffers walked so far
    bool m_failed = false;
};

// Bytes of a record's value field from its length bit; 0 unless exactly one is set.
uint32_t FieldBytes(uint16_t word)
{
    switch (word & (ATRV_RECORD_BYTES1 | ATRV_RECORD_BYTES2 | ATRV_RECORD_BYTES3 | ATRV_RECORD_BYTES4)) {
    case ATRV_RECORD_BYTES1: return 1;
    case ATRV_RECORD_BYTES2: return 2;
    case ATRV_RECORD_BYTES3: return 3;
    case ATRV_RECORD_BYTES4: return 4;
    default: return 0;
    }
}

uint16_t ValueKind(uint16_t word)
{
    return word & (ATRV_RECORD_SINT | ATRV_RECORD_UINT | ATRV_RECORD_FLOAT | ATRV_RECORD_STRING | ATRV_RECORD_BUF);
}

// Builds the tree from the record stream.
class TreeReader {
public:
    explicit TreeReader(ImageReader& image) : m_image(image) {}

    // The root node, or null for a malformed stream (what was read is destroyed).
    AtrNode* Read()
    {
        uint16_t word = 0;
        if (!m_image.Word(word) || (word & 0xF) != ATRV_RECORD_NODE) return nullptr;
        AtrNode* root = _readNode(nullptr, word);
        if (root == nullptr) return nullptr;
        if (!_readContents(root)) {
            AtrNode::Destroy(root);
            return nullptr;
        }
        return root;
    }

private:
    // Records under `root` until its end word; a child's records are read
    // in the same loop, one level deeper.
    bool _readContents(AtrNode* root)
    {
        AtrNode* node = root;
        for (;;) {
            uint16_t word = 0;
            if (m_image.Failed() || !m_image.Word(word)) return false;
            switch (word & 0xF) {
            case ATRV_RECORD_NODE: {
                AtrNode* child = _readNode(node, word);
                if (child == nullptr) return false;
                node = child;
                break;
            }
            case ATRV_RECORD_ATTRIBUTE:
                if (!_readAttribute(node, word)) return false;
                break;
            case ATRV_RECORD_DATA:
                if (!_readData(node, word)) return false;
                break;
            default: // the end word, or any other value, ends the node
                if (node == root) return true;
                node = node->GetParent();
                break;
            }
        }
    }

    AtrNode* _readNode(AtrNode* parent, uint16_t word)
    {
        const uint32_t n = FieldBytes(word);
        uint32_t index = 0;
        if (n == 0 || !m_image.Field(n, index)) return nullptr;
        const CvString* element = m_image.Text(index);
        if (element == nullptr) return nullptr;
        AtrNode* node = AtrNode::Create(parent, *element);
        if (node == nullptr && parent != nullptr) m_image.SetFailed();
        return node;
    }

    bool _readAttribute(AtrNode* node, uint16_t word)
    {
        const uint32_t n = FieldBytes(word);
        uint32_t nameIndex = 0;
        uint32_t field = 0;
        if (n == 0 || !m_image.Field(4, nameIndex) || !m_image.Field(n, field)) return false;
        const CvString* text = m_image.Text(nameIndex);
        if (text == nullptr) return false;
        const CvString& name = *text;
        if (m_image.IsNodeFlagName(nameIndex)) {
            if (ValueKind(word) == 0) return false;
            node->SetFlag(0, _flagValue(word, field));
            return true;
        }
        switch (ValueKind(word)) {
        case ATRV_RECORD_SINT: return node->AddAttribute(name, static_cast<int32_t>(field)) != nullptr;
        case ATRV_RECORD_UINT: return node->AddAttributeU32(name, field) != nullptr;
        case ATRV_RECORD_FLOAT: return node->AddAttribute(name, _float(field)) != nullptr;
        case ATRV_RECORD_STRING: return node->AddAttribute(name, _text(field)) != nullptr;
        case ATRV_RECORD_BUF: {
            const uint8_t* bytes = nullptr;
            uint32_t size = 0;
            return _buffer(field, bytes, size) && _complete(node->AddAttribute(name, bytes, size), size);
        }
        default: return false;
        }
    }

    bool _readData(AtrNode* node, uint16_t word)
    {
        const uint32_t n = FieldBytes(word);
        uint32_t field = 0;
        if (n == 0 || !m_image.Field(n, field)) return false;
        switch (ValueKind(word)) {
        case ATRV_RECORD_SINT: return node->AddData(static_cast<int32_t>(field)) != nullptr;
        case ATRV_RECORD_UINT: return node->AddDataU32(field) != nullptr;
        case ATRV_RECORD_FLOAT: return node->AddData(_float(field)) != nullptr;
        case ATRV_RECORD_STRING: return node->AddData(_text(field), nullptr) != nullptr;
        case ATRV_RECORD_BUF: {
            const uint8_t* bytes = nullptr;
            uint32_t size = 0;
            return _buffer(field, bytes, size) && _complete(node->AddData(bytes, size), size);
        }
        default: return false;
        }
    }

    // A "BUF" value that got its bytes (the variant keeps a null buffer when
    // the main heap runs out).
    static bool _complete(const AtrAttribute* a, uint32_t size) { return a != nullptr && (size == 0 || a->GetBuffer() != nullptr); }
    static bool _complete(const AtrData* d, uint32_t size) { return d != nullptr && (size == 0 || d->GetBuffer() != nullptr); }

    // The flags an "ATR_NODE_FLAG" value stands for: the number of a
    // numeric value, the text of a text read as a number, 0 for bytes.
    uint32_t _flagValue(uint16_t word, uint32_t field)
    {
        switch (ValueKind(word)) {
        case ATRV_RECORD_SINT:
        case ATRV_RECORD_UINT: return field;
        case ATRV_RECORD_FLOAT: return CvVariant(_float(field)).GetU32();
        case ATRV_RECORD_STRING: return CvVariant(_text(field).GetBuffer(), CVK_VARIANT_TYPE_UINT).GetU32();
        default: return 0;
        }
    }

    static float _float(uint32_t bits)
    {
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }

    // A text value: an index outside the table gives an empty text.
    const CvString& _text(uint32_t index)
    {
        const CvString* text = m_image.Text(index);
        return text != nullptr ? *text : m_empty;
    }

    bool _buffer(uint32_t index, const uint8_t*& bytes, uint32_t& size)
    {
        if (static_cast<int32_t>(index) < 0 || index > ATRV_BUFFER_MAX) return false;
        return m_image.Buffer(index, bytes, size);
    }

    ImageReader& m_image;
    const CvString m_empty;
};

} // namespace

AtrNode* AtrConverter::CreateTree(void* chunk, uint32_t imageSize)
{
    AtrNode* tree = nullptr;
    if (chunk != nullptr) {
        try {
            ImageReader image;
            if (image.Open(static_cast<uint8_t*>(chunk), imageSize)) {
                TreeReader reader(image);
                tree = reader.Read();
            }
        } catch (const std::bad_alloc&) {
            tree = nullptr;
        }
    }
    if (tree == nullptr) SetError();
    return tree;
}

AtrNode* AtrConverter::CreateTree(void* chunk)
{
    if (chunk == nullptr) {
        SetError();
        return nullptr;
    }
    const CvChunk* header = static_cast<const CvChunk*>(chunk);
    const uint64_t extent = uint64_t(ATRV_HEAD_SIZE) + header->GetSize();
    return CreateTree(chunk, extent > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(extent));
}
