#pragma once
// Builds small chunk images for the chunk and pointer-offset tests.

#include "kit/CvChunk.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

struct CvChunkTestImage {
    std::vector<uint8_t> bytes;

    // Appends a chunk with the given data (and headSize - 32 bytes of
    // extended header filled with 0xEE); returns its offset.
    size_t Add(unsigned tag, const std::vector<uint8_t>& data = {}, unsigned headSize = 32)
    {
        const size_t at = bytes.size();
        bytes.resize(at + headSize + data.size(), 0xEE);
        CvChunk h;
        h.Clear();
        h.SetTag(tag);
        h.SetHeadSize(headSize);
        h.SetSize(static_cast<unsigned>(data.size()));
        std::memcpy(bytes.data() + at, &h, sizeof h);
        if (!data.empty()) std::memcpy(bytes.data() + at + headSize, data.data(), data.size());
        return at;
    }
    size_t AddEnd() { return Add(CVK_CHUNK_TAG_EOFC); }

    CvChunk* At(size_t offset) { return reinterpret_cast<CvChunk*>(bytes.data() + offset); }
};

// A heap copy of exactly n bytes (at least 1 allocated), so that the address
// sanitizer reports any read past the image's end.
inline std::unique_ptr<uint8_t[]> ExactCopy(const std::vector<uint8_t>& bytes, size_t n)
{
    std::unique_ptr<uint8_t[]> p(new uint8_t[n ? n : 1]);
    std::memcpy(p.get(), bytes.data(), n);
    return p;
}
