// The verification decoder on arbitrary streams. The first byte chooses
// whether the stream is taken as it is (so that its CRCs mostly fail) or
// with the CRC of its header and of every whole frame recomputed (so that
// the bit fields behind them are reached), and whether a key is given.
// Seeds are streams written by the encoder.
#include "audio/decoder/ZafDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

const uint64_t kKey = 0x0123456789ABCDEFull;

uint32_t Be16(const std::vector<uint8_t>& v, size_t at)
{
    return static_cast<uint32_t>(v[at] << 8 | v[at + 1]);
}

void StoreCrc(std::vector<uint8_t>& v, size_t at, size_t size)
{
    const uint16_t crc = zafdec::ZafCrc16(v.data() + at, size - 2);
    v[at + size - 2] = static_cast<uint8_t>(crc >> 8);
    v[at + size - 1] = static_cast<uint8_t>(crc);
}

// Recomputes the CRCs where the header's sizes say they are.
void RepairCrcs(std::vector<uint8_t>& v)
{
    if (v.size() < 30)
        return;
    const size_t headerSize = Be16(v, 6), frameSize = Be16(v, 28);
    if (headerSize < 2 || headerSize > v.size())
        return;
    StoreCrc(v, 0, headerSize);
    if (frameSize < 2)
        return;
    for (size_t at = headerSize; at + frameSize <= v.size(); at += frameSize)
        StoreCrc(v, at, frameSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    std::vector<uint8_t> stream(data + 1, data + size);
    if (mode & 1)
        RepairCrcs(stream);
    zafdec::ZafDecodeOptions options;
    options.haveKey = (mode & 2) != 0;
    options.key = kKey;
    zafdec::ZafDecoded decoded;
    zafdec::ZafViolation violation;
    if (zafdec::ZafDecodeBuffer(stream.data(), stream.size(), options, decoded, violation)) {
        const size_t expect = static_cast<size_t>(decoded.samples) * static_cast<size_t>(decoded.header.channels);
        if (decoded.pcm.size() != expect)
            std::abort();
    } else {
        violation.Describe();
    }
    return 0;
}
