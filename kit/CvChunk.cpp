#include "kit/CvChunk.h"

#include <cassert>
#include <cstring>
#include <utility>

namespace {

// Tag number <-> the four bytes in reading order, whatever the host order.
// The word is taken by value: a reference to a member of a packed header at
// an unaligned address would itself be misaligned.
unsigned TagFromBytes(uint32_t raw)
{
    uint8_t b[4];
    std::memcpy(b, &raw, 4);
    return (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | unsigned(b[3]);
}

uint32_t BytesFromTag(unsigned tag)
{
    const uint8_t b[4] = {uint8_t(tag >> 24), uint8_t(tag >> 16), uint8_t(tag >> 8), uint8_t(tag)};
    uint32_t raw;
    std::memcpy(&raw, b, 4);
    return raw;
}

// Offset of p from the image start when p lies inside [image, image + size),
// computed on integers so that no out-of-range pointer is ever formed.
bool OffsetInImage(const void* p, const void* image, size_t imageSize, size_t& offset)
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    const uintptr_t base = reinterpret_cast<uintptr_t>(image);
    if (!image || a < base || a - base >= imageSize) return false;
    offset = a - base;
    return true;
}

// The chunk at image + offset when it lies inside the image, else null.
const CvChunk* ChunkAt(const void* image, size_t imageSize, uint64_t offset)
{
    if (offset >= imageSize) return nullptr;
    const CvChunk* c = reinterpret_cast<const CvChunk*>(static_cast<const uint8_t*>(image) + offset);
    return c->IsInside(image, imageSize) ? c : nullptr;
}

// The chunk behind c inside the image (c must lie inside).
const CvChunk* FollowingInImage(const CvChunk* c, const void* image, size_t imageSize)
{
    size_t at = 0;
    OffsetInImage(c, image, imageSize, at);
    return ChunkAt(image, imageSize, uint64_t(at) + c->headSize + c->size);
}

} // namespace

void CvChunk::Clear()
{
    tag = 0;
    size = 0;
    headSize = CVK_CHUNK_HEAD_SIZE;
    mapFlags = 0;
    codecFlags = 0;
    childOffset = 0;
    siblingOffset = 0;
    code = 0;
}

unsigned CvChunk::GetTag() const { return TagFromBytes(tag); }

void CvChunk::SetTag(unsigned t) { tag = BytesFromTag(t); }

void* CvChunk::GetData() { return size ? reinterpret_cast<uint8_t*>(this) + headSize : nullptr; }

const void* CvChunk::GetData() const { return const_cast<CvChunk*>(this)->GetData(); }

void* CvChunk::GetHeader()
{
    return headSize != CVK_CHUNK_HEAD_SIZE ? reinterpret_cast<uint8_t*>(this) + CVK_CHUNK_HEAD_SIZE : nullptr;
}

const void* CvChunk::GetHeader() const { return const_cast<CvChunk*>(this)->GetHeader(); }

CvChunk* CvChunk::GetChild()
{
    return childOffset ? reinterpret_cast<CvChunk*>(reinterpret_cast<uint8_t*>(this) + childOffset) : nullptr;
}

CvChunk* CvChunk::GetSibling()
{
    return siblingOffset ? reinterpret_cast<CvChunk*>(reinterpret_cast<uint8_t*>(this) + siblingOffset)
                         : nullptr;
}

CvChunk* CvChunk::_following() const
{
    // A header shorter than 32 bytes would make the walk stand still or run
    // backwards: such an image is not well formed.
    assert(headSize >= CVK_CHUNK_HEAD_SIZE && "chunk walk over a malformed image (headSize < 32)");
    return reinterpret_cast<CvChunk*>(const_cast<uint8_t*>(reinterpret_cast<const uint8_t*>(this)) +
                                      headSize + size);
}

// ---- Walking a well-formed image ----

const CvChunk* CvChunk::GetNext(int skipPof) const
{
    if (IsEnd()) return nullptr; // nothing lies behind the end chunk
    const CvChunk* c = _following();
    while (!c->IsEnd()) {
        if (!(skipPof && c->IsPof())) return c;
        c = c->_following();
    }
    return nullptr;
}

CvChunk* CvChunk::GetNext(int skipPof) { return const_cast<CvChunk*>(std::as_const(*this).GetNext(skipPof)); }

int CvChunk::GetNumNext() const
{
    int n = 0;
    for (const CvChunk* c = this; !c->IsEnd(); c = c->_following())
        if (!c->IsPof()) ++n;
    return n;
}

const CvChunk* CvChunk::SearchNumNext(unsigned t, int n) const
{
    if (n < 0 || IsEnd()) return nullptr;
    for (const CvChunk* c = _following();; c = c->_following()) {
        if (c->GetTag() == t && n-- == 0) return c;
        if (c->IsEnd()) return nullptr;
    }
}

CvChunk* CvChunk::SearchNumNext(unsigned t, int n)
{
    return const_cast<CvChunk*>(std::as_const(*this).SearchNumNext(t, n));
}

const CvChunk* CvChunk::SearchNext(unsigned t) const { return SearchNumNext(t, 0); }

CvChunk* CvChunk::SearchNext(unsigned t) { return SearchNumNext(t, 0); }

// ---- Bounded walking ----

bool CvChunk::IsInside(const void* image, size_t imageSize) const
{
    size_t at = 0;
    if (!OffsetInImage(this, image, imageSize, at)) return false;
    const size_t room = imageSize - at;
    if (room < CVK_CHUNK_HEAD_SIZE) return false; // the header itself does not fit
    return headSize >= CVK_CHUNK_HEAD_SIZE && uint64_t(headSize) + size <= room;
}

const CvChunk* CvChunk::GetFirst(const void* image, size_t imageSize)
{
    return image ? ChunkAt(image, imageSize, 0) : nullptr;
}

CvChunk* CvChunk::GetFirst(void* image, size_t imageSize)
{
    return const_cast<CvChunk*>(GetFirst(static_cast<const void*>(image), imageSize));
}

int CvChunk::CheckImage(const void* image, size_t imageSize)
{
    for (const CvChunk* c = GetFirst(image, imageSize); c; c = FollowingInImage(c, image, imageSize))
        if (c->IsEnd()) return 1;
    return 0;
}

const CvChunk* CvChunk::GetNext(int skipPof, const void* image, size_t imageSize) const
{
    if (!IsInside(image, imageSize) || IsEnd()) return nullptr;
    for (const CvChunk* c = FollowingInImage(this, image, imageSize); c; c = FollowingInImage(c, image, imageSize)) {
        if (c->IsEnd()) return nullptr;
        if (!(skipPof && c->IsPof())) return c;
    }
    return nullptr;
}

CvChunk* CvChunk::GetNext(int skipPof, const void* image, size_t imageSize)
{
    return const_cast<CvChunk*>(std::as_const(*this).GetNext(skipPof, image, imageSize));
}

int CvChunk::GetNumNext(const void* image, size_t imageSize) const
{
    if (!IsInside(image, imageSize)) return -1;
    int n = 0;
    for (const CvChunk* c = this; c; c = FollowingInImage(c, image, imageSize)) {
        if (c->IsEnd()) return n;
        if (!c->IsPof()) ++n;
    }
    return -1; // the chain left the image before its end chunk
}

const CvChunk* CvChunk::SearchNumNext(unsigned t, int n, const void* image, size_t imageSize) const
{
    if (n < 0 || !IsInside(image, imageSize) || IsEnd()) return nullptr;
    for (const CvChunk* c = FollowingInImage(this, image, imageSize); c; c = FollowingInImage(c, image, imageSize)) {
        if (c->GetTag() == t && n-- == 0) return c;
        if (c->IsEnd()) return nullptr;
    }
    return nullptr;
}

CvChunk* CvChunk::SearchNumNext(unsigned t, int n, const void* image, size_t imageSize)
{
    return const_cast<CvChunk*>(std::as_const(*this).SearchNumNext(t, n, image, imageSize));
}

const CvChunk* CvChunk::SearchNext(unsigned t, const void* image, size_t imageSize) const
{
    return SearchNumNext(t, 0, image, imageSize);
}

CvChunk* CvChunk::SearchNext(unsigned t, const void* image, size_t imageSize)
{
    return SearchNumNext(t, 0, image, imageSize);
}

CvChunk* CvChunk::GetChild(const void* image, size_t imageSize)
{
    size_t at = 0;
    if (!childOffset || !IsInside(image, imageSize) || !OffsetInImage(this, image, imageSize, at)) return nullptr;
    return const_cast<CvChunk*>(ChunkAt(image, imageSize, uint64_t(at) + childOffset));
}

CvChunk* CvChunk::GetSibling(const void* image, size_t imageSize)
{
    size_t at = 0;
    if (!siblingOffset || !IsInside(image, imageSize) || !OffsetInImage(this, image, imageSize, at)) return nullptr;
    return const_cast<CvChunk*>(ChunkAt(image, imageSize, uint64_t(at) + siblingOffset));
}

int CvkCnkWriteEOFCInfo(CvChunk* chunk)
{
    if (!chunk) return 0;
    chunk->Clear();
    chunk->SetTag(CVK_CHUNK_TAG_EOFC);
    return 1;
}
