#pragma once
// AtrCompiler: compiles an instance tree into a binary attribute image,
// guided by a template tree that declares the binary layout of every
// element's structure field by field.
//
// Image (every chunk starts at a multiple of the alignment):
//     "ATRB"  header (headSize = 32 rounded up to the alignment), then the
//             structure area, the string area (each distinct string once,
//             NUL-terminated, in order of first use), the byte-block area
//             and the file area
//     "POF0"  the pointer-offset table of the "ATRB" chunk
//     "EXT0"  the type description (AtrCompilerExtChunk)
//     "EOFC"
// Every offset stored in the image is relative to the "ATRB" chunk start, and
// every 16- and 32-bit value goes through the endian target's swap, so the
// image does not depend on the word size of the machine that writes it.
//
// The passes walk the instance tree without recursion (an explicit stack
// holds the structures being written in place), so nesting depth is bounded
// only by memory. The structure definitions and the distinct strings are
// found through hash indexes; the order of everything written is the order
// of a linear search.
//
// The sizing pass lays out every structure (each node's address and
// structure number are kept on the node, clean again after the writing pass
// or a failure) and counts the strings, the type description and a bound of
// the pointer table. The image is then built in one buffer: the data chunk
// is written in place, structure pointers are filled as soon as they are met
// (their targets are laid out already), the pointer table is written word by
// word behind the data chunk, and the type description is collected behind
// the table's room and moved down once the table is complete. Beyond the
// image the compiler keeps only the distinct strings (where their texts are
// in the tree, and their offsets) and small lists.
//
// Value sources for a field named `name`: an attribute of the data node, else
// the first data value of its child element `name`, else that child's first
// attribute. The bytes of a "DATA" pointer or "DATA_SIZE" field are the
// buffer of a "BUF" value, or the text bytes (without the terminator) of a
// "STRING" value; numbers have none.
//
// Colour type 3 packs 0xAARRGGBB into 16 bits, from the top: G, R and A as
// c * 31 / 255 (5 bits each, so 255 becomes 31) and B as one bit (c >= 128).

#include "attribute/AtrCompilerExtChunk.h"
#include "kit/CvString.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>
#include <memory>

class AtrNode;
class CvkFileList;

// Codes of the compiler's error messages.
enum : int {
    ATRC_ERR_STRUCT_NOT_FOUND = 0,
    ATRC_ERR_INSTANCE_NOT_FOUND = 1,
    ATRC_ERR_ARRAY_NOT_FOUND = 2,
    ATRC_ERR_FILE_OPEN = 3,
    ATRC_ERR_FILE_ATTRIBUTE = 4,
    ATRC_ERR_TEMPLATE_LINK = 5,
    ATRC_ERR_TEMPLATE_NAME = 6,
    ATRC_ERR_TEMPLATE_SIZE = 7,
    ATRC_ERR_EXT_CONTENT = 8,
    ATRC_ERR_EXT_ALGORITHM = 9,
    ATRC_ERR_MEMORY = 10,
};


class LUMIVOR_EXPORT AtrCompiler : public CvkBase {
public:
    AtrCompiler();
    ~AtrCompiler() override;
    AtrCompiler(const AtrCompiler&) = delete;
    AtrCompiler& operator=(const AtrCompiler&) = delete;

    // data: the instance root (its siblings are not compiled); definition:
    // the template root, whose children are the structure definitions.
    // 1 on success; 0 on failure with the reason in GetErrorLog(). A
    // previous image is freed first.
    int CreateBinary(AtrNode* data, AtrNode* definition, int scramble, uint32_t align);

    // The image's first chunk header, and the image's total bytes.
    void* GetDataChunk() const { return m_image; }
    uint32_t GetDataSize() const { return m_imageSize; }
    const CvString& GetErrorLog() const { return m_errorLog; }

    // The resource file list: files named by "FILE_INDEX" fields, in index
    // order. Its package chunk ("FILS", scrambled when CreateBinary was asked
    // to) is built after a successful compilation that named any; null
    // otherwise.
    CvkFileList* GetFileList() const;
    const void* GetResourceChunk() const;
    uint32_t GetResourceSize() const;

    void SetColorType(int type) { m_colorType = type; }
    void SetFxShift(int bits) { m_fxShift = bits; }

    // Upper bound of an image's bytes (default 1 GiB); larger images fail
    // with the memory message before anything is allocated.
    void SetImageLimit(uint32_t bytes) { m_imageLimit = bytes; }

    // The message text of an error code (Shift_JIS), or "" for other codes.
    static const char* GetErrorMessage(int code);

    // Colour conversion of one value by colour type (0-3).
    static uint32_t ConvertColor(uint32_t value, int colorType);

private:
    struct Impl;
    void _freeImage();

    std::unique_ptr<Impl> m_impl;
    uint8_t* m_image;
    const void* m_resourceChunk = nullptr;
    uint32_t m_imageSize;
    int m_colorType;
    int m_fxShift;
    uint32_t m_align;
    uint32_t m_imageLimit;
    CvString m_errorLog;
};
