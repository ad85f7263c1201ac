// The WAV reader over arbitrary bytes held in memory: opening, the queries,
// a shared reader, seeks and both ways of reading sample frames. The block
// read must give exactly the values of frame-by-frame reads, every value
// lies in -1 .. 1, and nothing is read outside the bytes.
#include "audio/ZafWave.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// A read-only stream on a block of memory; clones share the block.
class MemoryStream : public Stream {
public:
    MemoryStream(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    Stream* Clone() override
    {
        MemoryStream* s = new (std::nothrow) MemoryStream(m_data, m_size);
        if (s)
            s->m_pos = m_pos;
        return s;
    }
    bool Seek(int64_t offset, int origin) override
    {
        const int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? m_pos : static_cast<int64_t>(m_size);
        if (offset > INT64_MAX - base || base + offset < 0)
            return false;
        m_pos = base + offset;
        return true;
    }
    int64_t Tell() override { return m_pos; }
    size_t Read(void* buffer, size_t size) override
    {
        if (m_pos >= static_cast<int64_t>(m_size))
            return 0;
        const size_t left = m_size - static_cast<size_t>(m_pos);
        const size_t n = size < left ? size : left;
        std::memcpy(buffer, m_data + m_pos, n);
        m_pos += static_cast<int64_t>(n);
        return n;
    }
    size_t Write(const void*, size_t) override { return 0; }
    void Close() override { delete this; }

private:
    const uint8_t* m_data;
    size_t m_size;
    int64_t m_pos = 0;
};

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckRange(const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        Check(values[i] >= -1.0f && values[i] <= 1.0f);
}

void Exercise(WaveReader* one, WaveReader* block)
{
    const int64_t samples = one->GetNumSamples();
    Check(samples > 0);
    Check(one->GetChannels() > 0 && one->GetBitsPerSample() >= 8);
    int64_t start = 0, length = 0;
    if (!one->GetLoop(&start, &length))
        Check(start == -1 && length == -1);
    for (int64_t at : {int64_t{0}, samples / 2, samples - 3, samples + 5}) {
        const int64_t a = one->SeekSample(at);
        Check(a == block->SeekSample(at));
        Check(a >= 0 && a <= samples);
        const int count = 300;
        std::vector<float> expect(16 * count), got(16 * count, -9.0f);
        int valid = 0;
        for (int n = 0; n < count; ++n) {
            if (one->ReadSample(&expect[16 * n], 16))
                ++valid;
            for (int k = one->GetChannels(); k < 16; ++k)
                expect[16 * n + k] = 0.0f;
        }
        Check(block->ReadSamples16(got.data(), count) == valid);
        Check(std::memcmp(expect.data(), got.data(), expect.size() * sizeof(float)) == 0);
        CheckRange(got.data(), 16 * count);
    }
    float small[2];
    one->ReadSample(small, 2);  // below the channel count for most files
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly the input's size, so that overreads are caught.
    std::vector<uint8_t> bytes(data, data + size);
    MemoryStream* stream = new MemoryStream(bytes.data(), bytes.size());
    WaveError why = WaveError::NotWave;
    WaveReader* first = WaveReader::Open(stream, &why);
    Check((first != nullptr) == (why == WaveError::None));
    if (first) {
        WaveReader* shared = WaveReader::Share(first);
        Check(shared != nullptr);
        Check(shared->GetNumSamples() == first->GetNumSamples());
        Exercise(first, shared);
        WaveReader::Destroy(shared);
        WaveReader::Destroy(first);
    }
    stream->Close();
    return 0;
}
