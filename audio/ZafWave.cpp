#include "audio/ZafWave.h"

#include <cstdlib>
#include <cstring>
#include <new>

FileStream* FileStream::Open(const char* path, bool writable)
{
    if (!path)
        return nullptr;
    FileStream* s = new (std::nothrow) FileStream();
    if (!s)
        return nullptr;
    size_t n = std::strlen(path) + 1;
    s->path_ = static_cast<char*>(std::malloc(n));
    if (!s->path_) {
        delete s;
        return nullptr;
    }
    std::memcpy(s->path_, path, n);
    s->file_ = std::fopen(path, writable ? "wb" : "rb");
    if (!s->file_) {
        std::free(s->path_);
        delete s;
        return nullptr;
    }
    s->writable_ = writable ? 1 : 0;
    return s;
}

Stream* FileStream::Clone()
{
    FileStream* s = Open(path_, writable_ != 0);
    if (!s)
        return nullptr;
    if (!s->Seek(Tell(), SEEK_SET)) {
        s->Close();
        return nullptr;
    }
    return s;
}

bool FileStream::Seek(int64_t offset, int origin)
{
    return fseeko(file_, static_cast<off_t>(offset), origin) == 0;
}

int64_t FileStream::Tell()
{
    return static_cast<int64_t>(ftello(file_));
}

size_t FileStream::Read(void* buffer, size_t size)
{
    return std::fread(buffer, 1, size, file_);
}

size_t FileStream::Write(const void* buffer, size_t size)
{
    return std::fwrite(buffer, 1, size, file_);
}

void FileStream::Close()
{
    if (file_)
        std::fclose(file_);
    std::free(path_);
    delete this;
}

namespace {

uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

const uint32_t kFmt = 0x20746D66;   // "fmt "
const uint32_t kSmpl = 0x6C706D73;  // "smpl"
const uint32_t kData = 0x61746164;  // "data"

}  // namespace

WaveReader* WaveReader::Open(Stream* stream)
{
    if (!stream)
        return nullptr;
    WaveReader* r = new (std::nothrow) WaveReader();
    if (!r)
        return nullptr;
    r->source_ = stream;
    if (!r->Parse()) {
        delete r;
        return nullptr;
    }
    return r;
}

WaveReader* WaveReader::Share(const WaveReader* first)
{
    if (!first || !first->source_)
        return nullptr;
    WaveReader* r = new (std::nothrow) WaveReader();
    if (!r)
        return nullptr;
    Stream* clone = first->source_->Clone();
    if (!clone) {
        delete r;
        return nullptr;
    }
    r->owned_ = clone;
    r->source_ = clone;
    std::memcpy(r->riff_, first->riff_, sizeof r->riff_);
    r->fmtId_ = first->fmtId_;
    r->fmtSize_ = first->fmtSize_;
    r->formatTag_ = first->formatTag_;
    r->channels_ = first->channels_;
    r->samplingRate_ = first->samplingRate_;
    r->bytesPerSecond_ = first->bytesPerSecond_;
    r->blockAlign_ = first->blockAlign_;
    r->bitsPerSample_ = first->bitsPerSample_;
    std::memcpy(r->smpl_, first->smpl_, sizeof r->smpl_);
    r->dataId_ = first->dataId_;
    r->dataSize_ = first->dataSize_;
    r->dataStart_ = first->dataStart_;
    r->sampleCount_ = first->sampleCount_;
    return r;
}

void WaveReader::Destroy(WaveReader* reader)
{
    if (!reader)
        return;
    if (reader->owned_)
        reader->owned_->Close();
    delete reader;
}

bool WaveReader::Parse()
{
    Stream* s = source_;
    // The file's length bounds every chunk: a size field that points past the
    // end (a truncated file or a corrupt header) is refused.
    if (!s->Seek(0, SEEK_END))
        return false;
    const int64_t fileSize = s->Tell();
    if (!s->Seek(0, SEEK_SET))
        return false;
    if (s->Read(riff_, 12) < 12)
        return false;
    uint8_t head[8];
    if (s->Read(head, 8) < 8)
        return false;
    int64_t fmtPos = -1, smplPos = -1, dataPos = -1;
    for (;;) {
        const uint32_t id = Le32(head);
        uint64_t size = Le32(head + 4);
        const int64_t here = s->Tell();
        if (here < 0)
            return false;
        if (id == kFmt)
            fmtPos = here - 8;
        else if (id == kSmpl)
            smplPos = here - 8;
        else if (id == kData)
            dataPos = here - 8;
        const uint64_t end = static_cast<uint64_t>(here) + size;
        if (end > static_cast<uint64_t>(fileSize)) {
            // A chunk we need that runs past the end of the file (a truncated
            // file or a corrupt size field) is refused; anything else ends
            // the chunk list.
            if (id == kFmt || id == kSmpl || id == kData)
                return false;
            break;
        }
        size += size & 1;  // RIFF pad byte after an odd-sized chunk
        if (!s->Seek(static_cast<int64_t>(size), SEEK_CUR))
            return false;
        if (s->Read(head, 8) < 8)
            break;
    }
    if (fmtPos < 0 || dataPos < 0)
        return false;

    uint8_t fmt[24] = {};
    if (!s->Seek(fmtPos, SEEK_SET))
        return false;
    s->Read(fmt, 24);
    fmtId_ = Le32(fmt);
    fmtSize_ = Le32(fmt + 4);
    formatTag_ = Le16(fmt + 8);
    channels_ = Le16(fmt + 10);
    samplingRate_ = Le32(fmt + 12);
    bytesPerSecond_ = Le32(fmt + 16);
    blockAlign_ = Le16(fmt + 20);
    bitsPerSample_ = Le16(fmt + 22);

    if (smplPos >= 0) {
        uint8_t smpl[68] = {};
        if (!s->Seek(smplPos, SEEK_SET))
            return false;
        s->Read(smpl, 68);
        for (int i = 0; i < 17; ++i)
            smpl_[i] = Le32(smpl + 4 * i);
    }

    uint8_t data[8] = {};
    if (!s->Seek(dataPos, SEEK_SET))
        return false;
    s->Read(data, 8);
    dataId_ = Le32(data);
    dataSize_ = Le32(data + 4);
    dataStart_ = dataPos + 8;

    if (blockAlign_ == 0 || dataSize_ == 0)
        return false;
    sampleCount_ = dataSize_ / blockAlign_;
    return true;
}

bool WaveReader::GetLoop(int64_t* start, int64_t* length) const
{
    // smpl_[1] is the chunk size, smpl_[9] the number of loops, smpl_[13]
    // and smpl_[14] the first loop's start and (inclusive) end.
    if (smpl_[1] != 0 && smpl_[9] != 0) {
        if (start)
            *start = smpl_[13];
        if (length)
            *length = static_cast<int64_t>(smpl_[14]) - static_cast<int64_t>(smpl_[13]) + 1;
        return true;
    }
    if (start)
        *start = -1;
    if (length)
        *length = -1;
    return false;
}

int64_t WaveReader::SeekSample(int64_t index)
{
    if (index < 0)
        index = 0;
    if (index > sampleCount_)
        index = sampleCount_;
    source_->Seek(dataStart_ + static_cast<int64_t>(blockAlign_) * index, SEEK_SET);
    return index;
}

namespace {

// One sample of `bytes` bytes (little-endian, 8-bit unsigned) as a float
// in -1 .. 1.
inline float DecodeSample(const uint8_t* p, int bytes)
{
    uint32_t u = 0;
    for (int b = 0; b < bytes; ++b)
        u |= static_cast<uint32_t>(p[b]) << (8 * b);
    if (bytes == 1)
        u -= 128;
    const int shift = (4 - bytes) * 8;
    const int32_t v = static_cast<int32_t>(u << shift) >> shift;
    const float scale = 1.0f / static_cast<float>(1u << (8 * bytes - 1));
    return static_cast<float>(v) * scale;
}

}  // namespace

int WaveReader::ReadSamples16(float* values, int count)
{
    const int bytes = bitsPerSample_ / 8;
    const size_t need = static_cast<size_t>(channels_) * bytes;
    int whole = 0;
    if (bytes >= 1 && bytes <= 4 && channels_ <= 16 && need <= sizeof frame_) {
        const int perRead = static_cast<int>(sizeof block_ / need);
        for (int done = 0; done < count;) {
            const int want = count - done < perRead ? count - done : perRead;
            const size_t got = source_->Read(block_, need * want);
            const int frames = static_cast<int>(got / need);
            for (int f = 0; f < frames; ++f) {
                float* v = values + 16 * (done + f);
                const uint8_t* p = block_ + need * f;
                for (int ch = 0; ch < channels_; ++ch)
                    v[ch] = DecodeSample(p + ch * bytes, bytes);
                for (int ch = channels_; ch < 16; ++ch)
                    v[ch] = 0.0f;
            }
            done += frames;
            whole = done;
            if (frames < want)
                break;  // end of file: the rest stays zero
        }
    }
    for (int i = 16 * whole; i < 16 * count; ++i)
        values[i] = 0.0f;
    return whole;
}

bool WaveReader::ReadSample(float* values, int capacity)
{
    if (!values)
        return false;
    if (capacity < channels_) {
        for (int i = 0; i < capacity; ++i)
            values[i] = 0.0f;
        return false;
    }
    const int bytes = bitsPerSample_ / 8;
    const size_t need = static_cast<size_t>(channels_) * bytes;
    // Only 1 to 4 bytes per sample and up to 16 channels fit the frame buffer.
    if (bytes < 1 || bytes > 4 || need > sizeof frame_ || source_->Read(frame_, need) < need) {
        for (int i = 0; i < capacity; ++i)
            values[i] = 0.0f;
        return false;
    }
    for (int c = 0; c < channels_; ++c)
        values[c] = DecodeSample(frame_ + c * bytes, bytes);
    return true;
}
