#pragma once
// CvChunk: the 32-byte header of every chunk of a binary image.
//
// An image is a chain of chunks laid end to end: a header, an optional
// extended header, the data, then the next chunk at start + headSize + size,
// until an "EOFC" end chunk. A CvChunk is read and written in place inside the
// image, so `this` is the chunk's start address.
//
// Every field is an unsigned 32-bit word in the writing machine's (little-
// endian) order; the tag's four characters are stored in reading order. The
// record is packed (alignment 1) so that a chunk may start at any byte of an
// image: readers of files never perform a misaligned access, whatever the
// sizes in the file.
//
// Walking comes in two forms. The plain form (GetNext, SearchNext, ...) trusts
// the image to be a well-formed chain ended by "EOFC" and asserts its basic
// shape in debug builds; it is meant for images this process has just built.
// The bounded form takes the image's start and size, never reads outside
// [image, image + imageSize) and treats any chunk that does not fit as the end
// of the walk; every reader of a file or foreign buffer uses it.

#include "platform/PlatformExport.h"

#include <cstddef>
#include <cstdint>

// Tags, as numbers whose most significant byte is the first character.
constexpr unsigned CVK_CHUNK_TAG_ATRB = 0x41545242u; // "ATRB"
constexpr unsigned CVK_CHUNK_TAG_POF0 = 0x504F4630u; // "POF0"
constexpr unsigned CVK_CHUNK_TAG_EOFC = 0x454F4643u; // "EOFC"

// Size of the plain header; headSize is larger when an extended header follows.
constexpr unsigned CVK_CHUNK_HEAD_SIZE = 32;

// mapFlags bit 0: the chunk's pointers hold addresses (see CvkPointerOffset.h).
constexpr unsigned CVK_CHUNK_MAP_MAPPED = 0x1u;
// codecFlags bit 0: the chunk's data is scrambled; code holds the key.
constexpr unsigned CVK_CHUNK_CODEC_SCRAMBLED = 0x1u;

// Tag number from four characters in reading order: CvChunkMakeTag("ATRB").
constexpr unsigned CvChunkMakeTag(const char (&s)[5])
{
    return (unsigned(uint8_t(s[0])) << 24) | (unsigned(uint8_t(s[1])) << 16) |
           (unsigned(uint8_t(s[2])) << 8) | unsigned(uint8_t(s[3]));
}

class LUMIVOR_EXPORT __attribute__((packed)) CvChunk {
public:
    uint32_t tag;           // four characters in reading order (raw bytes)
    uint32_t size;          // data bytes
    uint32_t headSize;      // chunk start to data; 32 for a plain header
    uint32_t mapFlags;      // CVK_CHUNK_MAP_MAPPED
    uint32_t codecFlags;    // CVK_CHUNK_CODEC_SCRAMBLED
    uint32_t childOffset;   // child chunk from this chunk's start, 0 for none
    uint32_t siblingOffset; // sibling chunk from this chunk's start, 0 for none
    uint32_t code;          // chunk-specific; the scrambling key when scrambled

    // All fields 0, headSize 32.
    void Clear();

    unsigned GetTag() const;
    void SetTag(unsigned tag);
    unsigned GetSize() const { return size; }
    void SetSize(unsigned n) { size = n; }
    unsigned GetHeadSize() const { return headSize; }
    void SetHeadSize(unsigned n) { headSize = n; }
    unsigned GetCode() const { return code; }
    void SetCode(unsigned c) { code = c; }

    // True for the end chunk, and for chunks whose tag begins with "POF".
    bool IsEnd() const { return GetTag() == CVK_CHUNK_TAG_EOFC; }
    bool IsPof() const { return (GetTag() & 0xFFFFFF00u) == (CVK_CHUNK_TAG_POF0 & 0xFFFFFF00u); }

    // Start + headSize, or null when size is 0.
    void* GetData();
    const void* GetData() const;
    // Start + 32 (the extended header), or null when headSize is 32.
    void* GetHeader();
    const void* GetHeader() const;
    // Start + offset, or null for offset 0.
    CvChunk* GetChild();
    CvChunk* GetSibling();

    // ---- Walking a well-formed image (asserts its shape in debug builds) ----

    // The chunk behind this one, null when that is the end chunk; with
    // skipPof non-zero, "POF*" chunks are passed over. Null on the end chunk.
    CvChunk* GetNext(int skipPof);
    const CvChunk* GetNext(int skipPof) const;
    // This chunk and every following one up to the end chunk, "POF*" chunks
    // not counted.
    int GetNumNext() const;
    // The first (or n-th, from 0) following chunk with that tag; null once the
    // end chunk has been passed. The end chunk itself can be searched for.
    CvChunk* SearchNext(unsigned tag);
    const CvChunk* SearchNext(unsigned tag) const;
    CvChunk* SearchNumNext(unsigned tag, int n);
    const CvChunk* SearchNumNext(unsigned tag, int n) const;

    // ---- Bounded walking inside [image, image + imageSize) ----

    // True when this header lies inside the image, headSize is at least 32
    // and the whole chunk (header, extended header, data) ends inside it.
    bool IsInside(const void* image, size_t imageSize) const;
    // The image's first chunk when it lies inside the image, else null.
    static CvChunk* GetFirst(void* image, size_t imageSize);
    static const CvChunk* GetFirst(const void* image, size_t imageSize);
    // 1 when the image is a chain of chunks that lie inside it and that ends
    // with an end chunk, else 0.
    static int CheckImage(const void* image, size_t imageSize);

    // As the plain forms; a chunk that does not lie inside the image (this
    // one included) ends the walk with null. GetNumNext gives -1 when the
    // chain leaves the image before its end chunk.
    CvChunk* GetNext(int skipPof, const void* image, size_t imageSize);
    const CvChunk* GetNext(int skipPof, const void* image, size_t imageSize) const;
    int GetNumNext(const void* image, size_t imageSize) const;
    CvChunk* SearchNext(unsigned tag, const void* image, size_t imageSize);
    const CvChunk* SearchNext(unsigned tag, const void* image, size_t imageSize) const;
    CvChunk* SearchNumNext(unsigned tag, int n, const void* image, size_t imageSize);
    const CvChunk* SearchNumNext(unsigned tag, int n, const void* image, size_t imageSize) const;
    // Child and sibling, null for offset 0 or when the chunk there does not
    // lie inside the image.
    CvChunk* GetChild(const void* image, size_t imageSize);
    CvChunk* GetSibling(const void* image, size_t imageSize);

private:
    // The chunk at start + headSize + size, without any check.
    CvChunk* _following() const;
};

static_assert(sizeof(CvChunk) == 32, "a chunk header is 32 bytes in every build");
static_assert(alignof(CvChunk) == 1, "chunks may start at any byte of an image");

// Writes an end chunk header: "EOFC", size 0, headSize 32, the rest 0.
// Returns 1, or 0 for a null chunk.
LUMIVOR_EXPORT int CvkCnkWriteEOFCInfo(CvChunk* chunk);
