#include "audio/ZafWave.h"

#include <cstdlib>
#include <cstring>
#include <new>

FileStream* FileStream::Open(const char* path, bool writable)
{
    if (!path) return nullptr;
    FileStream* s = new (std::nothrow) FileStream();
    if (!s) return nullptr;
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
    if (!s) return nullptr;
    if (!s->Seek(Tell(), SEEK_SET)) {
        s->Close();
        return nullptr;
    }
    return s;
}

bool FileStream::Seek(int64_t offset, int origin) { return fseeko(file_, static_cast<off_t>(offset), origin) == 0; }

int64_t FileStream::Tell() { return static_cast<int64_t>(ftello(file_)); }

size_t FileStream::Read(void* buffer, size_t size) { return std::fread(buffer, 1, size, file_); }

size_t FileStream::Write(const void* buffer, size_t size) { return std::fwrite(buffer, 1, size, file_); }

void FileStream::Close()
{
    if (file_) std::fclose(file_);
    std::free(path_);
    delete this;
}

namespace {

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

const uint32_t kFmt = 0x20746D66;  // "fmt "
const uint32_t kSmpl = 0x6C706D73; // "smpl"
const uint32_t kData = 0x61746164; // "data"

} // namespace

WaveReader* WaveReader::Open(Stream* stream, WaveError* error)
{
    WaveError why = WaveError::NotWave;
    WaveReader* r = stream ? new (std::nothrow) WaveReader() : nullptr;
    if (r) {
        r->source_ = stream;
        why = r->Parse();
        if (why != WaveError::None) {
            delete r;
            r = nullptr;
        }
    }
    if (error) *error = why;
    return r;
}

WaveReader* WaveReader::Share(const WaveReader* first)
{
    if (!first || !first->source_) return nullptr;
    WaveReader* r = new (std::nothrow) WaveReader();
    if (!r) return nullptr;
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
    if (!reader) return;
    if (reader->owned_) reader->owned_->Close();
    delete reader;
}

WaveError WaveReader::Parse()
{
    ChunkPlaces at;
    if (!FindChunks(at) || at.fmt < 0 || at.data < 0) return WaveError::NotWave;
    if (!ReadFmt(at.fmt) || (at.smpl >= 0 && !ReadSmpl(at.smpl)) || !ReadData(at.data)) return WaveError::NotWave;
    return CheckFrames();
}

int64_t* WaveReader::ChunkPlaces::Slot(uint32_t id)
{
    switch (id) {
    case kFmt: return &fmt;
    case kSmpl: return &smpl;
    case kData: return &data;
    default: return nullptr;
    }
}

bool WaveReader::FindChunks(ChunkPlaces& at)
{
    Stream* s = source_;
    // The file's length bounds every chunk: a size field that points past the
    // end (a truncated file or a corrupt header) is refused.
    if (!s->Seek(0, SEEK_END)) return false;
    const int64_t fileSize = s->Tell();
    uint8_t head[8];
    if (!s->Seek(0, SEEK_SET) || s->Read(riff_, 12) < 12 || s->Read(head, 8) < 8) return false;
    for (;;) {
        const int64_t here = s->Tell();
        if (here < 0) return false;
        int64_t* slot = at.Slot(Le32(head));
        if (slot) *slot = here - 8;
        uint64_t size = Le32(head + 4);
        if (static_cast<uint64_t>(here) + size > static_cast<uint64_t>(fileSize)) {
            // A chunk we need that runs past the end of the file (a truncated
            // file or a corrupt size field) is refused; anything else ends
            // the chunk list.
            return slot == nullptr;
        }
        size += size & 1; // RIFF pad byte after an odd-sized chunk
        if (!s->Seek(static_cast<int64_t>(size), SEEK_CUR)) return false;
        if (s->Read(head, 8) < 8) return true;
    }
}

// The readers take a chunk's fields from its start; bytes past the end of
// the file read as zeros.
bool WaveReader::ReadFmt(int64_t at)
{
    uint8_t fmt[24] = {};
    if (!source_->Seek(at, SEEK_SET)) return false;
    source_->Read(fmt, 24);
    fmtId_ = Le32(fmt);
    fmtSize_ = Le32(fmt + 4);
    formatTag_ = Le16(fmt + 8);
    channels_ = Le16(fmt + 10);
    samplingRate_ = Le32(fmt + 12);
    bytesPerSecond_ = Le32(fmt + 16);
    blockAlign_ = Le16(fmt + 20);
    bitsPerSample_ = Le16(fmt + 22);
    return true;
}

bool WaveReader::ReadSmpl(int64_t at)
{
    uint8_t smpl[68] = {};
    if (!source_->Seek(at, SEEK_SET)) return false;
    source_->Read(smpl, 68);
    for (int i = 0; i < 17; ++i) smpl_[i] = Le32(smpl + 4 * i);
    return true;
}

bool WaveReader::ReadData(int64_t at)
{
    uint8_t data[8] = {};
    if (!source_->Seek(at, SEEK_SET)) return false;
    source_->Read(data, 8);
    dataId_ = Le32(data);
    dataSize_ = Le32(data + 4);
    dataStart_ = at + 8;
    return true;
}

WaveError WaveReader::CheckFrames()
{
    if (blockAlign_ == 0 || dataSize_ == 0) return WaveError::NotWave;
    // The sample readers divide by the bytes of a frame: it has at least one.
    if (bitsPerSample_ < 8) return WaveError::NoSampleBytes;
    if (channels_ == 0) return WaveError::NoChannels;
    sampleCount_ = dataSize_ / blockAlign_;
    if (sampleCount_ == 0) return WaveError::NotWave; // not one whole sample frame
    return WaveError::None;
}

bool WaveReader::GetLoop(int64_t* start, int64_t* length) const
{
    // smpl_[1] is the chunk size, smpl_[9] the number of loops, smpl_[13]
    // and smpl_[14] the first loop's start and (inclusive) end.
    if (smpl_[1] != 0 && smpl_[9] != 0) {
        if (start) *start = smpl_[13];
        if (length) *length = static_cast<int64_t>(smpl_[14]) - static_cast<int64_t>(smpl_[13]) + 1;
        return true;
    }
    if (start) *start = -1;
    if (length) *length = -1;
    return false;
}

int64_t WaveReader::SeekSample(int64_t index)
{
    if (index < 0) index = 0;
    if (index > sampleCount_) index = sampleCount_;
    source_->Seek(dataStart_ + static_cast<int64_t>(blockAlign_) * index, SEEK_SET);
    return index;
}

namespace {

// One sample of `bytes` bytes (little-endian, 8-bit unsigned) as a float
// in -1 .. 1.
inline float DecodeSample(const uint8_t* p, int bytes)
{
    uint32_t u = 0;
    for (int b = 0; b < bytes; ++b) u |= static_cast<uint32_t>(p[b]) << (8 * b);
    if (bytes == 1) u -= 128;
    const int shift = (4 - bytes) * 8;
    const int32_t v = static_cast<int32_t>(u << shift) >> shift;
    const float scale = 1.0f / static_cast<float>(1u << (8 * bytes - 1));
    return static_cast<float>(v) * scale;
}

} // namespace

int WaveReader::ReadSamples16(float* values, int count)
{
    const int bytes = bitsPerSample_ / 8;
    const size_t need = FrameBytes();
    const size_t stride = blockAlign_;
    int whole = 0;
    if (bytes >= 1 && bytes <= 4 && channels_ <= 16 && need <= sizeof frame_) {
        if (stride < need || stride > sizeof block_) {
            // Overlapping frames, or frames too far apart for one read:
            // one read per frame.
            for (; whole < count && ReadSample(values + 16 * whole, 16); ++whole)
                for (int ch = channels_; ch < 16; ++ch) values[16 * whole + ch] = 0.0f;
        } else {
            const int perRead = static_cast<int>(sizeof block_ / stride);
            while (whole < count) {
                const int want = count - whole < perRead ? count - whole : perRead;
                const size_t got = source_->Read(block_, stride * want);
                int frames = static_cast<int>(got / stride);
                // The last frame of the file may end without its padding.
                if (frames < want && got - frames * stride >= need) ++frames;
                for (int f = 0; f < frames; ++f) {
                    float* v = values + 16 * (whole + f);
                    const uint8_t* p = block_ + stride * f;
                    for (int ch = 0; ch < channels_; ++ch) v[ch] = DecodeSample(p + ch * bytes, bytes);
                    for (int ch = channels_; ch < 16; ++ch) v[ch] = 0.0f;
                }
                whole += frames;
                if (frames < want) break; // end of file: the rest stays zero
            }
        }
    }
    for (int i = 16 * whole; i < 16 * count; ++i) values[i] = 0.0f;
    return whole;
}

bool WaveReader::ReadSample(float* values, int capacity)
{
    if (!values) return false;
    if (capacity < channels_) {
        for (int i = 0; i < capacity; ++i) values[i] = 0.0f;
        return false;
    }
    const int bytes = bitsPerSample_ / 8;
    const size_t need = FrameBytes();
    // Only 1 to 4 bytes per sample and up to 16 channels fit the frame buffer.
    if (bytes < 1 || bytes > 4 || need > sizeof frame_ || source_->Read(frame_, need) < need) {
        for (int i = 0; i < capacity; ++i) values[i] = 0.0f;
        return false;
    }
    if (blockAlign_ > need) source_->Seek(static_cast<int64_t>(blockAlign_ - need), SEEK_CUR);
    for (int c = 0; c < channels_; ++c) values[c] = DecodeSample(frame_ + c * bytes, bytes);
    return true;
}
