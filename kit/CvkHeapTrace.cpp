#include "kit/CvkHeapTrace.h"

#include "kit/CvkLog.h"

#include <cinttypes>
#include <cstring>

namespace {
// Block header fields (byte offsets within the 72-byte header).
enum : uint32_t {
    B_TAG = 0,
    B_FILE = 4,
    B_LINE = 8,
    B_LPREV = 12, // free or used list
    B_LNEXT = 16,
    B_APREV = 20, // address order
    B_ANEXT = 24,
    B_AREA = 28,
    B_SIZE = 32,
    B_ALIGN = 36,
    B_SERIAL = 40, // 64-bit
    // Reserved bytes 48..71; in free blocks they hold the index links.
    B_LEFT = 48,
    B_RIGHT = 52,
    B_PARENT = 56,
    B_COLOR = 60,
};

// Area header fields.
enum : uint32_t {
    H_MAGIC = 0,
    H_SELF = 4,
    H_SIZE = 8,
    H_ALIGN = 12,
    H_FIRST = 16,
    H_FREE = 20,
    H_USED = 24,
    H_FREECOUNT = 28,
    H_USEDCOUNT = 32,
    H_BLOCKCOUNT = 36,
    H_SERIAL = 40, // 64-bit
};

const uint32_t HDR = CvkHeapTrace::HEADER_SIZE;
const uint32_t AREA_HDR = CvkHeapTrace::AREA_HEADER_SIZE;
// Tags as little-endian words: "CVK" and the state byte.
const uint32_t TAG_FREE = 0x004B5643u;
const uint32_t TAG_USED = 0x804B5643u;
const uint32_t TAG_MASK = 0x00FFFFFFu;
const uint32_t MAGIC = 0x4C485A49u; // "IZHL"
const uint32_t RED = 1;
const uint32_t BLACK = 0;

// The index's other side: B_LEFT for B_RIGHT and the reverse. The tree's
// balancing is written once for one side and run with the sides swapped.
constexpr uint32_t opposite(uint32_t side) { return side == B_LEFT ? B_RIGHT : B_LEFT; }

const char kMsgNotHeap[] = "[CVK]This Address is not Heap Area(Illegal Heap Area).\n";
const char kMsgAllocFail[] = "[Cvk]Heap Allocation fail.\n";
const char kMsgIllegalBlock[] = "[CVK]Illegal heap block.\n";
const char kMsgIllegalFree[] = "[CVK]Illegal Free call.\n";
const char kMsgTooSmall[] = "[CVK]Too small heap area.\n";

inline uintptr_t alignDown(uintptr_t value, uint32_t alignment)
{
    if ((alignment & (alignment - 1)) == 0) return value & ~static_cast<uintptr_t>(alignment - 1);
    return value - value % alignment;
}
} // namespace

// Field access through memcpy: the caller's area need not be word aligned.
#define LD(off) _ld(off)
#define ST(off, v) _st(off, v)

namespace {
struct Area {
    uint8_t* base;
    uint32_t ld(uint32_t off) const
    {
        uint32_t v;
        std::memcpy(&v, base + off, 4);
        return v;
    }
    void st(uint32_t off, uint32_t v) const { std::memcpy(base + off, &v, 4); }
    uint64_t ld64(uint32_t off) const
    {
        uint64_t v;
        std::memcpy(&v, base + off, 8);
        return v;
    }
    void st64(uint32_t off, uint64_t v) const { std::memcpy(base + off, &v, 8); }
};
} // namespace

#undef LD
#undef ST

CvkHeapTrace::CvkHeapTrace(void* area, uint32_t size, uint32_t alignment) :
    CvkHeap(nullptr, size, alignment ? alignment : 8), m_base(nullptr), m_root(0)
{
    uint32_t align = m_alignment;
    uintptr_t top = reinterpret_cast<uintptr_t>(area);
    uint32_t pad = static_cast<uint32_t>((align - (top + AREA_HDR + HDR) % align) % align);
    if (!area || size <= AREA_HDR + HDR + pad) {
        CvkLogPrint("%s", kMsgTooSmall);
        return;
    }
    m_base = static_cast<uint8_t*>(area);
    m_topAddress = area;
    Area a{m_base};
    uint32_t first = AREA_HDR + pad;
    a.st(H_MAGIC, MAGIC);
    a.st(H_SELF, 0);
    a.st(H_SIZE, size);
    a.st(H_ALIGN, align);
    a.st(H_FIRST, first);
    a.st(H_FREE, first);
    a.st(H_USED, 0);
    a.st(H_FREECOUNT, 1);
    a.st(H_USEDCOUNT, 0);
    a.st(H_BLOCKCOUNT, 1);
    a.st64(H_SERIAL, 16);
    std::memset(m_base + first, 0, HDR);
    a.st(first + B_TAG, TAG_FREE);
    a.st(first + B_SIZE, size - HDR - first);
    a.st(first + B_ALIGN, align);
    a.st(first + B_COLOR, BLACK);
    m_root = first;
}

CvkHeapTrace::~CvkHeapTrace() = default;

void* CvkHeapTrace::Alloc(uint32_t size) { return CvkHeapTrace::AllocAlign(size, 0, nullptr, 0); }

void* CvkHeapTrace::Alloc(uint32_t size, const char* fileName, int line)
{
    return CvkHeapTrace::AllocAlign(size, 0, fileName, line);
}

void* CvkHeapTrace::AllocAlign(uint32_t size, uint32_t alignment)
{
    return CvkHeapTrace::AllocAlign(size, alignment, nullptr, 0);
}

void CvkHeapTrace::Free(void* pointer) { CvkHeapTrace::Free(pointer, nullptr, 0); }

void CvkHeapTrace::_logFileLine(const char* fileName, int line)
{
    if (fileName) CvkLogPrint("%s(%d):\n", fileName, line);
}

bool CvkHeapTrace::_checkArea()
{
    if (m_base) {
        Area a{m_base};
        if (a.ld(H_MAGIC) == MAGIC) return true;
    }
    return false;
}

// Whether the block at offset `block` can hold `size` bytes at `alignment`:
// 0 no, 1 the whole block is taken, 2 it is split (*dataStart set).
// Besides the size, the data start rounded down to the alignment must not
// fall below the block's own data, and a block taken whole must already be
// aligned: otherwise an over-aligned request would overwrite the block below
// or return misaligned memory.
uint32_t CvkHeapTrace::_fit(uint32_t block, uint32_t size, uint32_t alignment, uint32_t* dataStart)
{
    Area a{m_base};
    uint32_t blockSize = a.ld(block + B_SIZE);
    if (blockSize < size) return 0;
    uintptr_t base = reinterpret_cast<uintptr_t>(m_base);
    uintptr_t start = base + block + HDR;
    uintptr_t end = start + blockSize;
    uintptr_t data = alignDown(end - size, alignment);
    if (data < start) return 0;
    if (data > start + 2 * HDR) {
        *dataStart = static_cast<uint32_t>(data - base);
        return 2;
    }
    if (start % alignment != 0) return 0;
    *dataStart = static_cast<uint32_t>(start - base);
    return 1;
}

void* CvkHeapTrace::AllocAlign(uint32_t size, uint32_t alignment, const char* fileName, int line)
{
    if (!m_base) return nullptr;
    Area a{m_base};
    if (a.ld(H_MAGIC) != MAGIC) {
        CvkLogPrint("%s", kMsgNotHeap);
        CvkLogPrint("%s", kMsgAllocFail);
        _logFileLine(fileName, line);
        return nullptr;
    }
    if (alignment == 0) alignment = m_alignment;

    // The first block of the size-ordered list with room for the request:
    // the leftmost tree node whose size is at least `size`.
    uint32_t block = 0;
    for (uint32_t node = m_root; node;) {
        if (a.ld(node + B_SIZE) >= size) {
            block = node;
            node = a.ld(node + B_LEFT);
        } else {
            node = a.ld(node + B_RIGHT);
        }
    }
    uint32_t dataStart = 0;
    uint32_t how = 0;
    while (block && (how = _fit(block, size, alignment, &dataStart)) == 0) block = a.ld(block + B_LNEXT);
    if (!block) {
        CvkLogPrint("%s", kMsgAllocFail);
        _logFileLine(fileName, line);
        return nullptr;
    }

    uint64_t serial = a.ld64(H_SERIAL);
    uint32_t used;
    if (how == 2) {
        // The new block takes the top of the free block; the rest stays free.
        used = dataStart - HDR;
        uint32_t blockEnd = block + HDR + a.ld(block + B_SIZE);
        std::memset(m_base + used, 0, HDR);
        a.st(used + B_TAG, TAG_USED);
        a.st(used + B_LINE, static_cast<uint32_t>(line));
        a.st(used + B_SIZE, blockEnd - dataStart);
        a.st(used + B_ALIGN, alignment);
        a.st64(used + B_SERIAL, serial);
        uint32_t next = a.ld(block + B_ANEXT);
        a.st(used + B_APREV, block);
        a.st(used + B_ANEXT, next);
        if (next) a.st(next + B_APREV, used);
        a.st(block + B_ANEXT, used);
        // The shrunken block goes back before the first block at least as
        // large. When its list predecessor is still smaller, that place is
        // where it already is, and the list and the tree stay as they are.
        uint32_t rest = used - (block + HDR);
        uint32_t pred = a.ld(block + B_LPREV);
        if (pred && a.ld(pred + B_SIZE) >= rest) {
            _freeRemove(block);
            a.st(block + B_SIZE, rest);
            _freeInsert(block);
        } else {
            a.st(block + B_SIZE, rest);
        }
        a.st(H_BLOCKCOUNT, a.ld(H_BLOCKCOUNT) + 1);
    } else {
        _freeRemove(block);
        used = block;
        a.st(used + B_TAG, TAG_USED);
        a.st(used + B_LINE, static_cast<uint32_t>(line));
        a.st(used + B_ALIGN, alignment);
        a.st64(used + B_SERIAL, serial);
        std::memset(m_base + used + B_LEFT, 0, HDR - B_LEFT);
        a.st(H_FREECOUNT, a.ld(H_FREECOUNT) - 1);
    }
    // Push on the used list.
    uint32_t head = a.ld(H_USED);
    a.st(used + B_LPREV, 0);
    a.st(used + B_LNEXT, head);
    if (head) a.st(head + B_LPREV, used);
    a.st(H_USED, used);
    a.st(H_USEDCOUNT, a.ld(H_USEDCOUNT) + 1);
    a.st64(H_SERIAL, serial + 1);

    uint32_t blockSize = a.ld(used + B_SIZE);
    void* data = m_base + used + HDR;
    FillAllocBlock(data, blockSize);
    m_useSize += blockSize + HDR;
    if (m_useSize > m_maxUseSize) m_maxUseSize = m_useSize;
    return data;
}

// The offset of the block header of `pointer` when it lies inside the area,
// else 0.
uint32_t CvkHeapTrace::_blockOf(const void* pointer)
{
    if (!m_base || !pointer) return 0;
    uintptr_t p = reinterpret_cast<uintptr_t>(pointer);
    uintptr_t base = reinterpret_cast<uintptr_t>(m_base);
    if (p < base + AREA_HDR + HDR || p - base > m_areaSize) return 0;
    return static_cast<uint32_t>(p - base) - HDR;
}

// Whether `block` is a used block that really is part of this heap: a used
// tag alone could be caller data that happens to look like one, so the
// neighbours in address order and in the used list must point back at it.
bool CvkHeapTrace::_isUsedBlock(uint32_t block)
{
    Area a{m_base};
    if (!block || a.ld(block + B_TAG) != TAG_USED) return false;
    auto inArea = [&](uint32_t off) { return off >= AREA_HDR && off <= m_areaSize - HDR; };
    uint32_t size = a.ld(block + B_SIZE);
    uint64_t end = static_cast<uint64_t>(block) + HDR + size;
    if (end > m_areaSize) return false;
    uint32_t next = a.ld(block + B_ANEXT);
    if (next) {
        if (next != end || !inArea(next) || a.ld(next + B_APREV) != block) return false;
    } else if (end != m_areaSize) {
        return false;
    }
    uint32_t prev = a.ld(block + B_APREV);
    if (prev) {
        if (!inArea(prev) || prev >= block || a.ld(prev + B_ANEXT) != block) return false;
    } else if (a.ld(H_FIRST) != block) {
        return false;
    }
    uint32_t listPrev = a.ld(block + B_LPREV);
    if (listPrev) {
        if (!inArea(listPrev) || a.ld(listPrev + B_LNEXT) != block) return false;
    } else if (a.ld(H_USED) != block) {
        return false;
    }
    return true;
}

void CvkHeapTrace::Free(void* pointer, const char* fileName, int line)
{
    // Releasing null is a no-op, as with the C run-time.
    if (!pointer) return;
    if (m_base && !_checkArea()) {
        CvkLogPrint("%s", kMsgNotHeap);
        CvkLogPrint("%s", kMsgIllegalFree);
        _logFileLine(fileName, line);
        return;
    }
    uint32_t block = _blockOf(pointer);
    if (!_isUsedBlock(block)) {
        // Not a live block of this heap (foreign pointer, double free): the
        // block query logs what it finds, and nothing else changes.
        GetBlockSize(pointer, fileName, line);
        CvkLogPrint("%s", kMsgIllegalFree);
        _logFileLine(fileName, line);
        return;
    }
    Area a{m_base};
    uint32_t size = a.ld(block + B_SIZE);
    FillFreeBlock(m_base + block + HDR, size);
    m_useSize -= size + HDR;

    // Off the used list.
    a.st(block + B_TAG, TAG_FREE);
    uint32_t listPrev = a.ld(block + B_LPREV);
    uint32_t listNext = a.ld(block + B_LNEXT);
    if (listPrev)
        a.st(listPrev + B_LNEXT, listNext);
    else
        a.st(H_USED, listNext);
    if (listNext) a.st(listNext + B_LPREV, listPrev);
    a.st(H_USEDCOUNT, a.ld(H_USEDCOUNT) - 1);
    uint32_t freeCount = a.ld(H_FREECOUNT) + 1;
    uint32_t blockCount = a.ld(H_BLOCKCOUNT);

    // Merge with the following block, then with the preceding one.
    uint32_t next = a.ld(block + B_ANEXT);
    if (next && a.ld(next + B_TAG) == TAG_FREE) {
        _freeRemove(next);
        uint32_t after = a.ld(next + B_ANEXT);
        a.st(block + B_SIZE, a.ld(block + B_SIZE) + HDR + a.ld(next + B_SIZE));
        a.st(block + B_ANEXT, after);
        if (after) a.st(after + B_APREV, block);
        --freeCount;
        --blockCount;
    }
    uint32_t prev = a.ld(block + B_APREV);
    bool listed = false;
    if (prev && a.ld(prev + B_TAG) == TAG_FREE) {
        uint32_t grown = a.ld(prev + B_SIZE) + HDR + a.ld(block + B_SIZE);
        // The grown block belongs before the first block at least as large;
        // when its list successor is already that large (or it has none), it
        // stays where it is.
        uint32_t succ = a.ld(prev + B_LNEXT);
        if (!succ || a.ld(succ + B_SIZE) >= grown)
            listed = true;
        else
            _freeRemove(prev);
        uint32_t after = a.ld(block + B_ANEXT);
        a.st(prev + B_SIZE, grown);
        a.st(prev + B_ANEXT, after);
        if (after) a.st(after + B_APREV, prev);
        block = prev;
        --freeCount;
        --blockCount;
    }
    a.st(H_FREECOUNT, freeCount);
    a.st(H_BLOCKCOUNT, blockCount);
    if (!listed) _freeInsert(block);
}

// ---- the free list and its index ---------------------------------------
//
// The free list is doubly linked through B_LPREV/B_LNEXT in ascending order
// of data size. A red-black tree over the same blocks (links in the reserved
// header words) has the list as its in-order sequence, so the place of a new
// block (before the first block at least as large) and the best fit of a
// request (the first block at least as large) are found in O(log n).

void CvkHeapTrace::_freeInsert(uint32_t block)
{
    Area a{m_base};
    uint32_t size = a.ld(block + B_SIZE);
    uint32_t parent = 0, pred = 0, succ = 0;
    bool left = false;
    for (uint32_t node = m_root; node;) {
        parent = node;
        if (a.ld(node + B_SIZE) >= size) {
            succ = node;
            left = true;
            node = a.ld(node + B_LEFT);
        } else {
            pred = node;
            left = false;
            node = a.ld(node + B_RIGHT);
        }
    }
    a.st(block + B_LPREV, pred);
    a.st(block + B_LNEXT, succ);
    if (pred)
        a.st(pred + B_LNEXT, block);
    else
        a.st(H_FREE, block);
    if (succ) a.st(succ + B_LPREV, block);
    _treeInsert(block, parent, left);
}

void CvkHeapTrace::_freeRemove(uint32_t block)
{
    Area a{m_base};
    uint32_t prev = a.ld(block + B_LPREV);
    uint32_t next = a.ld(block + B_LNEXT);
    if (prev)
        a.st(prev + B_LNEXT, next);
    else
        a.st(H_FREE, next);
    if (next) a.st(next + B_LPREV, prev);
    _treeRemove(block);
}

// Turns x down to its `side` (B_LEFT or B_RIGHT): its child on the other
// side takes its place, and that child's inner subtree moves over to x.
void CvkHeapTrace::_rotate(uint32_t x, uint32_t side)
{
    Area a{m_base};
    const uint32_t other = opposite(side);
    uint32_t y = a.ld(x + other);
    uint32_t inner = a.ld(y + side);
    a.st(x + other, inner);
    if (inner) a.st(inner + B_PARENT, x);
    uint32_t xp = a.ld(x + B_PARENT);
    a.st(y + B_PARENT, xp);
    if (!xp)
        m_root = y;
    else if (a.ld(xp + side) == x)
        a.st(xp + side, y);
    else
        a.st(xp + other, y);
    a.st(y + side, x);
    a.st(x + B_PARENT, y);
}

void CvkHeapTrace::_treeInsert(uint32_t z, uint32_t parent, bool left)
{
    Area a{m_base};
    a.st(z + B_LEFT, 0);
    a.st(z + B_RIGHT, 0);
    a.st(z + B_PARENT, parent);
    a.st(z + B_COLOR, RED);
    if (!parent)
        m_root = z;
    else
        a.st(parent + (left ? B_LEFT : B_RIGHT), z);

    auto red = [&](uint32_t n) { return n && a.ld(n + B_COLOR) == RED; };
    while (true) {
        uint32_t p = a.ld(z + B_PARENT);
        if (!red(p)) break;
        uint32_t g = a.ld(p + B_PARENT);                                // p is red, so not the root
        const uint32_t side = p == a.ld(g + B_LEFT) ? B_LEFT : B_RIGHT; // p's side under g
        const uint32_t other = opposite(side);
        uint32_t u = a.ld(g + other);
        if (red(u)) {
            a.st(p + B_COLOR, BLACK);
            a.st(u + B_COLOR, BLACK);
            a.st(g + B_COLOR, RED);
            z = g;
            continue;
        }
        if (z == a.ld(p + other)) {
            z = p;
            _rotate(z, side);
            p = a.ld(z + B_PARENT);
        }
        a.st(p + B_COLOR, BLACK);
        a.st(g + B_COLOR, RED);
        _rotate(g, other);
    }
    a.st(m_root + B_COLOR, BLACK);
}

void CvkHeapTrace::_treeRemove(uint32_t z)
{
    Area a{m_base};
    auto parentOf = [&](uint32_t n) { return a.ld(n + B_PARENT); };
    auto leftOf = [&](uint32_t n) { return a.ld(n + B_LEFT); };
    auto rightOf = [&](uint32_t n) { return a.ld(n + B_RIGHT); };
    auto colorOf = [&](uint32_t n) { return n ? a.ld(n + B_COLOR) : BLACK; };
    auto setColor = [&](uint32_t n, uint32_t c) { a.st(n + B_COLOR, c); };
    // Puts v (maybe none) where u was under u's parent.
    auto transplant = [&](uint32_t u, uint32_t v) {
        uint32_t up = parentOf(u);
        if (!up)
            m_root = v;
        else if (leftOf(up) == u)
            a.st(up + B_LEFT, v);
        else
            a.st(up + B_RIGHT, v);
        if (v) a.st(v + B_PARENT, up);
    };

    uint32_t removedColor = colorOf(z);
    uint32_t x, xParent;
    if (!leftOf(z)) {
        x = rightOf(z);
        xParent = parentOf(z);
        transplant(z, x);
    } else if (!rightOf(z)) {
        x = leftOf(z);
        xParent = parentOf(z);
        transplant(z, x);
    } else {
        uint32_t y = rightOf(z);
        while (leftOf(y)) y = leftOf(y);
        removedColor = colorOf(y);
        x = rightOf(y);
        if (parentOf(y) == z) {
            xParent = y;
        } else {
            xParent = parentOf(y);
            transplant(y, x);
            a.st(y + B_RIGHT, rightOf(z));
            a.st(rightOf(y) + B_PARENT, y);
        }
        transplant(z, y);
        a.st(y + B_LEFT, leftOf(z));
        a.st(leftOf(y) + B_PARENT, y);
        setColor(y, colorOf(z));
    }
    if (removedColor == BLACK) {
        auto child = [&](uint32_t n, uint32_t side) { return a.ld(n + side); };
        while (x != m_root && colorOf(x) == BLACK) {
            const uint32_t side = x == leftOf(xParent) ? B_LEFT : B_RIGHT; // x's side under its parent
            const uint32_t other = opposite(side);
            uint32_t w = child(xParent, other);
            if (colorOf(w) == RED) {
                setColor(w, BLACK);
                setColor(xParent, RED);
                _rotate(xParent, side);
                w = child(xParent, other);
            }
            if (colorOf(child(w, side)) == BLACK && colorOf(child(w, other)) == BLACK) {
                setColor(w, RED);
                x = xParent;
                xParent = parentOf(x);
            } else {
                if (colorOf(child(w, other)) == BLACK) {
                    setColor(child(w, side), BLACK);
                    setColor(w, RED);
                    _rotate(w, other);
                    w = child(xParent, other);
                }
                setColor(w, colorOf(xParent));
                setColor(xParent, BLACK);
                setColor(child(w, other), BLACK);
                _rotate(xParent, side);
                x = m_root;
                break;
            }
        }
        if (x) setColor(x, BLACK);
    }
    std::memset(m_base + z + B_LEFT, 0, 16);
}

// ---- queries -------------------------------------------------------------

uint32_t CvkHeapTrace::GetBlockSize(void* pointer, const char* fileName, int line)
{
    if (!pointer) return 0;
    uint32_t block = _blockOf(pointer);
    Area a{m_base};
    if (!block || (a.ld(block + B_TAG) & TAG_MASK) != TAG_FREE) {
        CvkLogPrint("%s", kMsgIllegalBlock);
        _logFileLine(fileName, line);
        return 0;
    }
    return a.ld(block + B_SIZE);
}

uint32_t CvkHeapTrace::GetFileLine(void* pointer, const char* fileName, int line)
{
    if (!pointer) return 0;
    uint32_t block = _blockOf(pointer);
    Area a{m_base};
    if (!block || (a.ld(block + B_TAG) & TAG_MASK) != TAG_FREE) {
        CvkLogPrint("%s", kMsgIllegalBlock);
        _logFileLine(fileName, line);
        return 0;
    }
    return a.ld(block + B_LINE);
}

const char* CvkHeapTrace::GetFileName(void* pointer, const char* fileName, int line)
{
    if (!pointer) return nullptr;
    uint32_t block = _blockOf(pointer);
    Area a{m_base};
    if (!block || (a.ld(block + B_TAG) & TAG_MASK) != TAG_FREE) {
        CvkLogPrint("%s", kMsgIllegalBlock);
        _logFileLine(fileName, line);
        return nullptr;
    }
    // File names are never stored.
    return nullptr;
}

uint32_t CvkHeapTrace::GetSize()
{
    if (!_checkArea()) {
        CvkLogPrint("%s", kMsgNotHeap);
        return 0;
    }
    return Area{m_base}.ld(H_SIZE);
}

uint32_t CvkHeapTrace::GetAlign()
{
    if (!_checkArea()) {
        CvkLogPrint("%s", kMsgNotHeap);
        return 0;
    }
    return Area{m_base}.ld(H_ALIGN);
}

uint32_t CvkHeapTrace::GetStatus(CvkHeapStatus* status)
{
    if (!status) return 0;
    *status = CvkHeapStatus();
    if (!_checkArea()) {
        CvkLogPrint("%s", kMsgNotHeap);
        return 0;
    }
    Area a{m_base};
    status->areaSize = a.ld(H_SIZE);
    // Walk in address order; the bounds keep a damaged chain from running away.
    uint32_t limit = m_areaSize / HDR + 1;
    for (uint32_t block = a.ld(H_FIRST); block && block <= m_areaSize - HDR && limit--; block = a.ld(block + B_ANEXT)) {
        uint32_t size = a.ld(block + B_SIZE);
        ++status->blockCount;
        if (a.ld(block + B_TAG) == TAG_USED) {
            status->usedSize += size;
            status->usedSizeHeader += size + HDR;
            if (size > status->usedMaxSize) status->usedMaxSize = size;
            ++status->usedCount;
        } else {
            status->freeSize += size;
            status->freeSizeHeader += size + HDR;
            if (size > status->freeMaxSize) status->freeMaxSize = size;
            ++status->freeCount;
        }
    }
    status->counter = a.ld(H_BLOCKCOUNT);
    return 1;
}

void CvkHeapTrace::LogUseInfo()
{
    if (!_checkArea()) {
        CvkLogPrint("%s", kMsgNotHeap);
        return;
    }
    Area a{m_base};
    uint32_t limit = m_areaSize / HDR + 1;
    for (uint32_t block = a.ld(H_USED); block && block <= m_areaSize - HDR && limit--; block = a.ld(block + B_LNEXT)) {
        uintptr_t data = reinterpret_cast<uintptr_t>(m_base + block + HDR);
        CvkLogPrint("Addr=0x%08" PRIxPTR ", Size=%d, Align=%d\n", data, static_cast<int>(a.ld(block + B_SIZE)),
                    static_cast<int>(a.ld(block + B_ALIGN)));
    }
}
