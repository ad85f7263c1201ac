#pragma once
// A package of several files in one chunk image ("FILS"):
//   "FILS" root: 32-byte header + {entry count, -1, alignment, 0}, padded to
//              the alignment; its data are the "FILE" chunks, its sibling the
//              "FLNM" chunk;
//   "FILE" per entry: header padded to the alignment, the bytes, zero padding
//              to the alignment; siblingOffset leads to the next "FILE";
//   "FLNM": every name with its zero, padded to 4 bytes (4 zeros for none),
//              the chunk padded to the alignment;
//   "EOFC".
// Header and payload words are little-endian. A package read from memory or
// from a file is checked against its size throughout; a malformed one leaves
// the list empty with its Error flag set.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

constexpr int32_t CVK_FILELIST_MAX_ENTRIES = 4096;
constexpr uint32_t CVK_FILELIST_DEFAULT_ALIGN = 16;
constexpr uint32_t CVK_FILELIST_MAX_ALIGN = 65536;
// Entry kinds: 0 a file read by CreateChunk (it must exist when added), 1
// data in memory (buffers, null entries and entries of a read package).
constexpr int32_t CVK_FILELIST_KIND_FILE = 0;
constexpr int32_t CVK_FILELIST_KIND_DATA = 1;

class LUMIVOR_EXPORT CvkFileList : public CvkBase {
public:
    struct Entry {
        Entry* previous;
        Entry* next;
        uint8_t* data;  // null for a null entry or a file not read yet
        char* name;     // main heap, null for none
        uint32_t size;
        int32_t copy;   // nonzero: data belongs to the entry
        int32_t kind;
    };

    CvkFileList();
    // A package image in memory (size bytes); the image is copied.
    CvkFileList(const void* image, uint32_t size);
    // A package file, read through CvkFile.
    explicit CvkFileList(const char* path);
    ~CvkFileList() override;
    CvkFileList(const CvkFileList&) = delete;
    CvkFileList& operator=(const CvkFileList&) = delete;

    // Alignment of the chunks (1..65536; others are ignored).
    void SetAlignSize(uint32_t alignment);
    uint32_t GetAlignSize() const { return m_align; }

    // Adds path (as the entry's name) at index (negative or too large: the
    // end); -1 when the name is empty, already present with that kind, the
    // list is full, or (kind 0) the file is missing or empty. Its data is
    // read by CreateChunk.
    int32_t AddFile(const char* path, int32_t index = -1, int32_t kind = CVK_FILELIST_KIND_FILE);
    // Adds size bytes (copied when copy is nonzero, else kept by pointer)
    // under name; the index used, or -1.
    int32_t AddBuffer(const void* data, uint32_t size, int32_t copy, const char* name, int32_t index = -1);
    // Adds an entry without data or name.
    int32_t AddNull(int32_t index = -1);

    int32_t GetFileNum() const { return m_count; }
    // First entry with exactly that name and kind, -1 if none.
    int32_t GetFileIndex(const char* name, int32_t kind) const;
    const char* GetFileName(int32_t i) const;
    uint32_t GetFileSize(int32_t i) const;
    // Size of the kind-1 entry of that name (0 if none).
    uint32_t GetFileSize(const char* name) const;
    const void* GetFileBuffer(int32_t i) const;
    // Exchanges two entries; 0 for an index out of range.
    int SwapFile(int32_t i, int32_t j);

    // Builds the package image (main heap, owned by the list) when needed;
    // null on failure.
    const void* CreateChunk();
    uint32_t GetChunkSize();
    // Writes the image through CvkFile; 1 on success.
    int OutputBinary(const char* path);

private:
    Entry* _entry(int32_t i) const;
    int32_t _insert(Entry* entry, int32_t index);
    void _freeEntry(Entry* entry);
    void _clear();
    void _load(const void* image, uint32_t size);
    void _dropImage();

    uint8_t* m_image;   // the package built by CreateChunk (or read)
    uint32_t m_imageSize;
    int32_t m_count;
    int32_t m_minusOne;
    uint32_t m_align;
    int32_t m_zero;
    Entry* m_first;
    Entry* m_last;
    uint8_t* m_loaded;  // a read package that entries point into
    bool m_dirty;       // entries changed since the image was built
};
