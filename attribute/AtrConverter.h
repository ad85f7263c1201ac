#pragma once
// AtrConverter: a whole attribute tree as one self-describing binary chunk,
// and back, without any template.
//
// Image (every word little-endian, whatever the endian target):
//     "ATRB" header, headSize 48: codecFlags/code as for any scrambled chunk,
//            then the extended header: format mark 61005, the record stream's
//            size, the string table's size and the string count
//     record stream      the root node's record (see below)
//     zero padding to 4  (from the chunk start)
//     string table       count, one offset per string (from the table start),
//                        the NUL-terminated strings in index order
//     zero padding to 4
//     buffer list        per buffer a 32-bit size and its bytes, back to back
//     zero padding to 16; the header's size runs from offset 48 to here
//     "EOFC"
// A record starts with a 16-bit word: its kind (node, attribute, data, end),
// the value kind and the number of bytes its value field takes (1 to 4, the
// fewest that hold the value as a signed number; readers sign-extend). A node
// record holds the element's string index and is followed by the node's
// attribute, data and child records and an end word. Each distinct text gets
// one string index, in order of first use; every "BUF" value gets its own
// buffer entry. Node flags travel as a "UINT" attribute "ATR_NODE_FLAG".
//
// Writing and reading are iterative: a tree's depth is bounded by memory, not
// by the machine stack. Reading trusts nothing: every field, index and record
// is checked against the image's size; a malformed image gives null and sets
// the Error flag, never a read outside the image.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

class AtrNode;

// Record header bits.
enum : uint16_t {
    ATRV_RECORD_NODE = 0x0001,
    ATRV_RECORD_ATTRIBUTE = 0x0002,
    ATRV_RECORD_DATA = 0x0004,
    ATRV_RECORD_END = 0x0008,
    ATRV_RECORD_SINT = 0x0020,
    ATRV_RECORD_UINT = 0x0040,
    ATRV_RECORD_FLOAT = 0x0080,
    ATRV_RECORD_STRING = 0x0100,
    ATRV_RECORD_BUF = 0x2000,
    ATRV_RECORD_BYTES1 = 0x0200,
    ATRV_RECORD_BYTES2 = 0x0400,
    ATRV_RECORD_BYTES3 = 0x0800,
    ATRV_RECORD_BYTES4 = 0x1000,
};

constexpr uint32_t ATRV_HEAD_SIZE = 48;          // chunk header + extended header
constexpr uint32_t ATRV_FORMAT_MARK = 61005;     // images from this mark on align their table and buffers
constexpr uint32_t ATRV_BUFFER_MAX = 4096;       // buffers an image may hold

class LUMIVOR_EXPORT AtrConverter : public CvkBase {
public:
    AtrConverter();
    ~AtrConverter() override;
    AtrConverter(const AtrConverter&) = delete;
    AtrConverter& operator=(const AtrConverter&) = delete;

    // Writes `tree` (the node and its subtree, not its siblings) as an image.
    // scramble non-zero: the data is scrambled with a random key (0-254).
    // work null: a work buffer of GetBinaryWorkSize(tree) bytes is taken from
    // the main heap for the writing; else the caller's `workSize` bytes are
    // used. The result goes to a fresh main-heap buffer of exactly the image's
    // size. 1 on success; 0 with the Error flag set when the tree is null,
    // memory runs out, the image does not fit the work buffer, a "BUF" value
    // has lost its bytes or the tree holds more than 4096 buffers.
    int32_t CreateBinary(AtrNode* tree, int32_t scramble, void* work = nullptr, uint32_t workSize = 0);
    // The last result (chunk + end chunk) and its size; null/0 before one.
    void* GetBuffer() const { return m_buffer; }
    uint32_t GetSize() const { return m_size; }
    // An upper bound of the image size CreateBinary writes for `tree`.
    uint32_t GetBinaryWorkSize(AtrNode* tree) const;

    // Reads an image back into a new tree (the caller owns it and destroys it
    // with AtrNode::Destroy). A scrambled image is descrambled in place first.
    // The sized form checks everything against `imageSize` bytes; the plain
    // form is for buffers the caller vouches for and takes the chunk's own
    // header as the bound. Null (Error flag set) for a malformed image.
    AtrNode* CreateTree(void* chunk, uint32_t imageSize);
    AtrNode* CreateTree(void* chunk);
    // Reads the whole file (environment names in `path` expanded) and calls
    // CreateTree with its size. Null when the file cannot be read.
    AtrNode* CreateTreeFromFile(const char* path);

private:
    void _freeBuffer();

    void* m_buffer;
    uint32_t m_size;
};
