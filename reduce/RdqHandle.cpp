// The rdq call interface: a handle record with input and output slots,
// options, and the dispatch of one reduction.
#include <cstdlib>
#include <cstring>
#include <new>

#include "reduce/RdqApi.h"
#include "reduce/RdqBitmap.h"
#include "reduce/RdqMapper.h"
#include "reduce/RdqQuantizer.h"
#include "reduce/RdqRefiner.h"
#include "reduce/RdqRgbMapper.h"

namespace {

constexpr uint32_t kMagic = 0x83759572u;
constexpr uint32_t kSlots = RDQ_MAX_IMAGES;
constexpr uint32_t kOptionCount = RDQ_OPTION_ALPHA_LEVEL - RDQ_OPTION_COLORS + 1;

struct Slot {
    void* data;      // owned by the handle; null = empty
    uint32_t type;
    uint32_t width;  // palettes: entry count
    uint32_t height; // output palettes: the transparency option of the reduction
};

struct HandleRecord {
    uint32_t tag; // size of this record
    uint32_t magic;
    uint8_t ready[2];
    Slot input[kSlots];
    Slot output[kSlots];
    Slot outputPalette[kSlots];
    Slot inputPalette;
    uint32_t options[kOptionCount]; // RDQ_OPTION_COLORS..RDQ_OPTION_ALPHA_LEVEL
    uint32_t quality;    // RDQ_OPTION_QUALITY
};

struct OptionRule {
    uint32_t max, min, def;
};
const OptionRule kOptions[kOptionCount] = {
    {256, 2, 256}, // RDQ_OPTION_COLORS: palette size
    {1, 0, 0},     // RDQ_OPTION_TRANSPARENT: transparency
    {2, 0, 0},     // RDQ_OPTION_RESERVE: further reserved entries
    {1, 0, 1},     // RDQ_OPTION_DITHER: dithering
    {11, 0, 9},    // RDQ_OPTION_LEVEL: colour dither level
    {1, 0, 1},     // RDQ_OPTION_ALPHA_DITHER: alpha dithering
    {11, 0, 9},    // RDQ_OPTION_ALPHA_LEVEL: alpha dither level
};

HandleRecord* Accept(void* h)
{
    if (!h) return nullptr;
    HandleRecord* rec = static_cast<HandleRecord*>(h);
    if (rec->tag != sizeof(HandleRecord) || rec->magic != kMagic || !rec->ready[0] || !rec->ready[1]) return nullptr;
    return rec;
}

uint32_t Option(const HandleRecord* rec, uint32_t id) { return rec->options[id - RDQ_OPTION_COLORS]; }

void* CopyOut(const void* src, size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    std::memcpy(p, src, n);
    return p;
}

const Slot* OutputSlot(void* h, uint32_t index)
{
    HandleRecord* rec = Accept(h);
    if (!rec || index >= kSlots || !rec->output[index].data) return nullptr;
    return &rec->output[index];
}

const Slot* PaletteSlot(void* h, uint32_t index)
{
    HandleRecord* rec = Accept(h);
    if (!rec || index >= kSlots || !rec->outputPalette[index].data) return nullptr;
    return &rec->outputPalette[index];
}

uint32_t CountImages(const HandleRecord* rec)
{
    uint32_t n = 0;
    while (n < kSlots && rec->input[n].data) ++n;
    return n;
}

bool ConvertSlot(const Slot& s, rdq::Dib& rgb, rdq::Dib& alpha, bool wantOpaquePlane, bool* hasAlpha)
{
    return rdq::ConvertImage(s.type, int(s.width), int(s.height), static_cast<const uint8_t*>(s.data), rgb, &alpha,
                             wantOpaquePlane, hasAlpha);
}

uint32_t ReduceDirect(HandleRecord* rec, uint32_t code, uint32_t images)
{
    if (images != 1 || rec->inputPalette.data) return 0;
    if (rec->output[0].data) return 0;
    const Slot& in = rec->input[0];
    rdq::Dib rgb, alpha;
    bool hasAlpha = false;
    if (!ConvertSlot(in, rgb, alpha, true, &hasAlpha)) return 0;
    rdq::Write16Options opt;
    opt.mode = code == RDQ_REDUCE_565 ? rdq::Mode16::k565 : code == RDQ_REDUCE_4444 ? rdq::Mode16::k4444
                                                                                   : rdq::Mode16::k1555;
    opt.dither = Option(rec, RDQ_OPTION_DITHER) != 0;
    opt.alphaDither = Option(rec, RDQ_OPTION_ALPHA_DITHER) != 0;
    opt.level = int(Option(rec, RDQ_OPTION_LEVEL));
    opt.alphaLevel = int(Option(rec, RDQ_OPTION_ALPHA_LEVEL));
    opt.quiet = rec->quality == RDQ_QUALITY_BEST;
    std::vector<uint8_t> rounded = rdq::Round16(rgb, hasAlpha ? &alpha : nullptr, opt);
    std::vector<uint8_t> packed = rdq::Pack16(rounded, opt.mode);
    Slot& out = rec->output[0];
    out.data = CopyOut(packed.data(), packed.size());
    out.type = code == RDQ_REDUCE_565 ? RDQ_IMAGE_565 : code == RDQ_REDUCE_4444 ? RDQ_IMAGE_4444 : RDQ_IMAGE_1555;
    out.width = in.width;
    out.height = in.height;
    return 1;
}

// The palette of all images, as the quality option asks.
bool BuildSharedPalette(const HandleRecord* rec, uint32_t images, const rdq::PaletteRequest& req, rdq::Palette& pal)
{
    // The histogram keeps an image's alpha plane only with transparency on.
    const bool best = rec->quality == RDQ_QUALITY_BEST;
    rdq::Histogram hist;
    rdq::Census census;
    for (uint32_t i = 0; i < images; ++i) {
        rdq::Dib rgb, alpha;
        bool hasAlpha = false;
        if (!ConvertSlot(rec->input[i], rgb, alpha, false, &hasAlpha)) return false;
        const rdq::Dib* plane = hasAlpha && req.transparency ? &alpha : nullptr;
        hist.AddImage(rgb, plane, req.transparency);
        if (best) census.AddImage(rgb, plane, req.transparency);
    }
    return best ? rdq::BuildPaletteBest(hist, census, req, pal) : rdq::BuildPalette(hist, req, pal);
}

uint32_t ReducePalette(HandleRecord* rec, uint32_t code, uint32_t images)
{
    const bool transparency = Option(rec, RDQ_OPTION_TRANSPARENT) != 0;
    const int n = int(Option(rec, RDQ_OPTION_COLORS));
    rdq::PaletteRequest req;
    req.size = n;
    req.transparency = transparency;
    req.extraReserved = int(Option(rec, RDQ_OPTION_RESERVE));
    req.sixteenBit = code == RDQ_REDUCE_PALETTE565;
    std::vector<uint8_t> caller;
    if (rec->inputPalette.data) {
        const Slot& p = rec->inputPalette;
        const uint8_t* src = static_cast<const uint8_t*>(p.data);
        caller.resize(size_t(p.width) * 3);
        for (uint32_t i = 0; i < p.width; ++i) {
            if (p.type == RDQ_PALETTE_RGB) {
                std::memcpy(&caller[i * 3], src + i * 3, 3);
            } else {
                uint32_t v = src[2 * i] | (uint32_t(src[2 * i + 1]) << 8);
                uint32_t r5 = v & 31, g6 = (v >> 5) & 63, b5 = (v >> 11) & 31;
                caller[i * 3 + 0] = uint8_t((r5 << 3) | (r5 >> 2));
                caller[i * 3 + 1] = uint8_t((g6 << 2) | (g6 >> 4));
                caller[i * 3 + 2] = uint8_t((b5 << 3) | (b5 >> 2));
            }
        }
        req.caller = caller.data();
        req.callerCount = int(p.width);
    }

    rdq::Palette pal;
    if (!BuildSharedPalette(rec, images, req, pal)) return 0;

    std::vector<uint8_t> palBytes;
    if (code == RDQ_REDUCE_PALETTE) {
        palBytes.assign(&pal.rgb[0][0], &pal.rgb[0][0] + size_t(n) * 3);
    } else {
        palBytes.resize(size_t(n) * 2);
        for (int i = 0; i < n; ++i) {
            uint32_t v = (pal.rgb[i][0] >> 3) | ((pal.rgb[i][1] >> 2) << 5) | ((pal.rgb[i][2] >> 3) << 11);
            palBytes[2 * i] = uint8_t(v);
            palBytes[2 * i + 1] = uint8_t(v >> 8);
        }
    }
    const bool dither = Option(rec, RDQ_OPTION_DITHER) != 0;
    const int divisor = rdq::LevelDivisor(int(Option(rec, RDQ_OPTION_LEVEL)));
    for (uint32_t i = 0; i < images; ++i) {
        if (rec->output[i].data || rec->outputPalette[i].data) return 0;
        const Slot& in = rec->input[i];
        rdq::Dib rgb, alpha;
        bool hasAlpha = false;
        if (!ConvertSlot(in, rgb, alpha, false, &hasAlpha)) return 0;
        const rdq::Dib* plane = hasAlpha && transparency ? &alpha : nullptr;
        std::vector<uint8_t> idx =
            rec->quality == RDQ_QUALITY_BEST
                ? rdq::MapToPaletteRgb(rgb, plane, transparency, pal, dither, int(Option(rec, RDQ_OPTION_LEVEL)))
                : rdq::MapToPalette(rgb, plane, transparency, pal, dither, divisor);
        void* img = CopyOut(idx.data(), idx.size());
        void* palCopy = std::malloc(palBytes.size());
        if (!palCopy) {
            std::free(img);
            return 0;
        }
        std::memcpy(palCopy, palBytes.data(), palBytes.size());
        rec->output[i] = {img, RDQ_IMAGE_INDEX8, in.width, in.height};
        rec->outputPalette[i] = {palCopy, code == RDQ_REDUCE_PALETTE ? RDQ_PALETTE_RGB : RDQ_PALETTE_565,
                                 uint32_t(n), Option(rec, RDQ_OPTION_TRANSPARENT)};
    }
    return 1;
}

} // namespace

extern "C" {

LUMIVOR_EXPORT void* LUMIVOR_STDCALL rdqOpenHandle(void)
{
    try {
        HandleRecord* rec = static_cast<HandleRecord*>(std::calloc(1, sizeof(HandleRecord)));
        if (!rec) return nullptr;
        rec->tag = sizeof(HandleRecord);
        rec->magic = kMagic;
        for (uint32_t i = 0; i < kOptionCount; ++i) rec->options[i] = kOptions[i].def;
        rec->quality = RDQ_QUALITY_COMPATIBLE;
        rec->ready[0] = 1;
        rec->ready[1] = 1;
        return rec;
    } catch (...) {
        return nullptr;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqCloseHandle(void* h)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec) return 0;
        for (uint32_t i = 0; i < kSlots; ++i) {
            std::free(rec->input[i].data);
            std::free(rec->output[i].data);
            std::free(rec->outputPalette[i].data);
        }
        std::free(rec->inputPalette.data);
        std::memset(static_cast<void*>(rec), 0, sizeof(HandleRecord));
        std::free(rec);
        return 1;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetImage(void* h, uint32_t type, uint32_t index, const void* data,
                                                    uint32_t width, uint32_t height)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec || (type != RDQ_IMAGE_RGB && type != RDQ_IMAGE_RGBA) || index >= kSlots || !data) return 0;
        if (width < 1 || width > RDQ_MAX_SIZE || height < 1 || height > RDQ_MAX_SIZE) return 0;
        Slot& s = rec->input[index];
        if (s.data) return 0;
        size_t bytes = size_t(width) * height * (type == RDQ_IMAGE_RGBA ? 4 : 3);
        void* copy = std::malloc(bytes);
        if (!copy) return 0;
        std::memcpy(copy, data, bytes);
        s = {copy, type, width, height};
        return 1;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetPalette(void* h, uint32_t type, const void* data, uint32_t count)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec || !data || count < 2 || count > 256) return 0;
        if (type != RDQ_PALETTE_RGB && type != RDQ_PALETTE_565) return 0;
        if (rec->inputPalette.data) return 0;
        size_t bytes = size_t(count) * (type == RDQ_PALETTE_RGB ? 3 : 2);
        void* copy = std::malloc(bytes);
        if (!copy) return 0;
        std::memcpy(copy, data, bytes);
        rec->inputPalette = {copy, type, count, 0};
        return 1;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqSetOption(void* h, uint32_t id, uint32_t value)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec) return 0;
        if (id == RDQ_OPTION_QUALITY) {
            if (value != RDQ_QUALITY_COMPATIBLE && value != RDQ_QUALITY_BEST) return 0;
            rec->quality = value;
            return 1;
        }
        if (id < RDQ_OPTION_COLORS || id > RDQ_OPTION_ALPHA_LEVEL) return 0;
        const OptionRule& rule = kOptions[id - RDQ_OPTION_COLORS];
        if (value < rule.min || value > rule.max) return 0;
        rec->options[id - RDQ_OPTION_COLORS] = value;
        return 1;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqReduce(void* h, uint32_t code)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec || code < RDQ_REDUCE_565 || code > RDQ_REDUCE_PALETTE565) return 0;
        uint32_t images = CountImages(rec);
        if (images == 0) return 0;
        if (code <= RDQ_REDUCE_1555) return ReduceDirect(rec, code, images);
        return ReducePalette(rec, code, images);
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageCount(void* h)
{
    try {
        HandleRecord* rec = Accept(h);
        if (!rec) return 0;
        uint32_t n = 0;
        while (n < kSlots && rec->output[n].data) ++n;
        return n;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT const void* LUMIVOR_STDCALL rdqGetImage(void* h, uint32_t index)
{
    try {
        const Slot* s = OutputSlot(h, index);
        return s ? s->data : nullptr;
    } catch (...) {
        return nullptr;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageWidth(void* h, uint32_t index)
{
    try {
        const Slot* s = OutputSlot(h, index);
        return s ? s->width : 0;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageHeight(void* h, uint32_t index)
{
    try {
        const Slot* s = OutputSlot(h, index);
        return s ? s->height : 0;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageType(void* h, uint32_t index)
{
    try {
        const Slot* s = OutputSlot(h, index);
        if (!s) return 0;
        switch (s->type) {
        case RDQ_IMAGE_565: return RDQ_REDUCE_565;
        case RDQ_IMAGE_4444: return RDQ_REDUCE_4444;
        case RDQ_IMAGE_1555: return RDQ_REDUCE_1555;
        case RDQ_IMAGE_INDEX8: {
            const Slot* p = PaletteSlot(h, index);
            if (!p) return 0;
            if (p->type == RDQ_PALETTE_RGB) return RDQ_REDUCE_PALETTE;
            if (p->type == RDQ_PALETTE_565) return RDQ_REDUCE_PALETTE565;
            return 0;
        }
        default: return 0;
        }
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetImageDataSize(void* h, uint32_t index)
{
    try {
        const Slot* s = OutputSlot(h, index);
        if (!s) return 0;
        uint32_t bpp = s->type == RDQ_IMAGE_INDEX8 ? 1 : (s->type >= RDQ_IMAGE_565 && s->type <= RDQ_IMAGE_1555) ? 2 : 0;
        return s->width * s->height * bpp;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT const void* LUMIVOR_STDCALL rdqGetPalette(void* h, uint32_t index)
{
    try {
        const Slot* s = PaletteSlot(h, index);
        return s ? s->data : nullptr;
    } catch (...) {
        return nullptr;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteCount(void* h, uint32_t index)
{
    try {
        const Slot* s = PaletteSlot(h, index);
        return s ? s->width : 0;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteType(void* h, uint32_t index)
{
    try {
        const Slot* s = PaletteSlot(h, index);
        return s ? s->type : 0;
    } catch (...) {
        return 0;
    }
}

LUMIVOR_EXPORT uint32_t LUMIVOR_STDCALL rdqGetPaletteDataSize(void* h, uint32_t index)
{
    try {
        const Slot* s = PaletteSlot(h, index);
        if (!s) return 0;
        return s->width * (s->type == RDQ_PALETTE_RGB ? 3 : 2);
    } catch (...) {
        return 0;
    }
}

} // extern "C"
