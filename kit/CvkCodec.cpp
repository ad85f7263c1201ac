#include "kit/CvkCodec.h"

#include "kit/CvChunk.h"

#include <array>
#include <cstdint>

namespace {

// The built-in substitution tables. Table k maps a byte x to
//     rotl8((a_k * x + c_k) mod 256, r_k)
// with (a, c, r) = (167, 59, 3), (91, 173, 5) and (229, 17, 1): an odd factor
// makes the affine step a permutation of 0..255 and the rotation is one too,
// so each table is a permutation. The decoding set is computed as the inverse
// of each table. Stored images depend on these values: they must never
// change (the tests pin a known scrambled vector).
struct TableRule {
    unsigned a, c, r;
};
constexpr TableRule kRules[3] = {{167, 59, 3}, {91, 173, 5}, {229, 17, 1}};

using Tables = std::array<unsigned char, 768>;

constexpr Tables MakeEncodeTables()
{
    Tables t{};
    for (int k = 0; k < 3; ++k)
        for (unsigned x = 0; x < 256; ++x) {
            const unsigned v = (kRules[k].a * x + kRules[k].c) & 0xFF;
            const unsigned r = kRules[k].r;
            t[k * 256 + x] = static_cast<unsigned char>(((v << r) | (v >> (8 - r))) & 0xFF);
        }
    return t;
}

constexpr Tables MakeDecodeTables(const Tables& enc)
{
    Tables t{};
    for (int k = 0; k < 3; ++k)
        for (unsigned x = 0; x < 256; ++x) t[k * 256 + enc[k * 256 + x]] = static_cast<unsigned char>(x);
    return t;
}

constexpr Tables kEncode = MakeEncodeTables();
constexpr Tables kDecode = MakeDecodeTables(kEncode);

} // namespace

const unsigned char* cvkCodecGetTables(int decode) { return decode ? kDecode.data() : kEncode.data(); }

int cvkCodecEncode(unsigned key, void* data, size_t size, const unsigned char* tables)
{
    if (size == 0) return 1;
    if (!data) return 0;
    if (!tables) tables = kEncode.data();
    uint8_t* d = static_cast<uint8_t*>(data);
    const uint8_t k = static_cast<uint8_t>(key);
    for (size_t i = 1; i < size; ++i)
        d[i] = static_cast<uint8_t>(d[i] + ((d[i - 1] + i) & 0xFF) + k);
    for (size_t i = 0, t = 0; i < size; ++i, t = (t == 2 ? 0 : t + 1)) d[i] = tables[t * 256 + d[i]];
    return 1;
}

int cvkCodecDecode(unsigned key, void* data, size_t size, const unsigned char* tables)
{
    if (size == 0) return 1;
    if (!data) return 0;
    if (!tables) tables = kDecode.data();
    uint8_t* d = static_cast<uint8_t*>(data);
    const uint8_t k = static_cast<uint8_t>(key);
    for (size_t i = 0, t = 0; i < size; ++i, t = (t == 2 ? 0 : t + 1)) d[i] = tables[t * 256 + d[i]];
    for (size_t i = size - 1; i >= 1; --i)
        d[i] = static_cast<uint8_t>(d[i] - ((d[i - 1] + i) & 0xFF) - k);
    return 1;
}

int cvkCodecEncodeChunk(CvChunk* chunk, unsigned key, const unsigned char* tables)
{
    if (!chunk || key > CVK_CODEC_KEY_MAX || (chunk->codecFlags & CVK_CHUNK_CODEC_SCRAMBLED)) return 0;
    if (!cvkCodecEncode(key, chunk->GetData(), chunk->GetSize(), tables)) return 0;
    chunk->SetCode(key);
    chunk->codecFlags |= CVK_CHUNK_CODEC_SCRAMBLED;
    return 1;
}

int cvkCodecDecodeChunk(CvChunk* chunk, const unsigned char* tables)
{
    if (!chunk) return 0;
    if (!(chunk->codecFlags & CVK_CHUNK_CODEC_SCRAMBLED)) return 1;
    if (!cvkCodecDecode(chunk->GetCode(), chunk->GetData(), chunk->GetSize(), tables)) return 0;
    chunk->codecFlags &= ~CVK_CHUNK_CODEC_SCRAMBLED;
    return 1;
}
