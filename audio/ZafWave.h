#pragma once
// Byte streams and the RIFF/WAVE reader of the encoder.
#include <cstddef>
#include <cstdint>
#include <cstdio>

// An abstract byte stream.
class Stream {
public:
    virtual Stream* Clone() = 0;
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual int64_t Tell() = 0;
    virtual size_t Read(void* buffer, size_t size) = 0;
    virtual size_t Write(const void* buffer, size_t size) = 0;
    // Releases the file and the stream object itself.
    virtual void Close() = 0;
    virtual ~Stream() {}
};

// A stream on a C-library file, with 64-bit offsets.
class FileStream : public Stream {
public:
    // Opens a file for reading ("rb") or writing ("wb"); null on failure.
    static FileStream* Open(const char* path, bool writable);

    Stream* Clone() override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    size_t Read(void* buffer, size_t size) override;
    size_t Write(const void* buffer, size_t size) override;
    void Close() override;

private:
    FileStream() {}
    ~FileStream() override {}
    char* path_ = nullptr;
    FILE* file_ = nullptr;
    uint8_t writable_ = 0;
};

// Why a reader could not be opened.
enum class WaveError {
    None,
    NotWave,       // no RIFF header, no "fmt " or "data" chunk, no whole sample frame
    NoSampleBytes, // the bit depth gives no whole byte per sample
    NoChannels,    // the "fmt " chunk declares no channel
};

class WaveObject {
public:
    virtual ~WaveObject() {}
};

// Parses a RIFF/WAVE file once and delivers its sample frames as floats.
class WaveReader : public WaveObject {
public:
    // Opens a reader on a stream that stays the caller's; null on failure,
    // with the reason in *error when it is given. A file whose sample frames
    // would have no bytes (no channel, or less than one byte per sample) is
    // refused.
    static WaveReader* Open(Stream* stream, WaveError* error = nullptr);
    // A reader of its own (cloned stream, copied header) on the same file.
    static WaveReader* Share(const WaveReader* first);
    // Closes the owned stream, if any, and deletes the reader.
    static void Destroy(WaveReader* reader);

    int32_t GetSamplingRate() const { return static_cast<int32_t>(samplingRate_); }
    int32_t GetChannels() const { return channels_; }
    int32_t GetBitsPerSample() const { return bitsPerSample_; }
    int32_t GetBlockAlign() const { return blockAlign_; }
    int64_t GetNumSamples() const { return sampleCount_; }
    // True with start and length (end inclusive) of the first loop when the
    // file has a "smpl" chunk with at least one loop; else false and -1, -1.
    bool GetLoop(int64_t* start, int64_t* length) const;
    // Positions at a sample frame (clamped to 0 .. sample count); returns it.
    int64_t SeekSample(int64_t index);
    // Reads one sample frame into values[0 .. capacity-1]; false (and zeros)
    // past the end of the file or when the capacity is below the channel count.
    // Frames lie a block alignment apart: bytes of a frame beyond its
    // channels x bytes per sample are skipped.
    bool ReadSample(float* values, int capacity);
    // Reads up to `count` sample frames of 16 values each (channels beyond the
    // file's are zero) with one read of the stream; the same values as
    // `count` calls of ReadSample(values + 16 * i, 16). Frames past the end
    // of the file are zeros. Returns the number of whole frames read.
    int ReadSamples16(float* values, int count);

private:
    WaveReader() {}
    ~WaveReader() override {}
    // Parsing: find the chunks, read the ones used, check the sample frames.
    struct ChunkPlaces {
        int64_t fmt = -1, smpl = -1, data = -1; // chunk starts; -1: absent
        int64_t* Slot(uint32_t id);             // null for a chunk not used
    };
    WaveError Parse();
    bool FindChunks(ChunkPlaces& at);
    bool ReadFmt(int64_t at);
    bool ReadSmpl(int64_t at);
    bool ReadData(int64_t at);
    WaveError CheckFrames();
    // Bytes of samples in one frame (channels x bytes per sample).
    size_t FrameBytes() const { return static_cast<size_t>(channels_) * (bitsPerSample_ / 8); }

    Stream* owned_ = nullptr;
    Stream* source_ = nullptr;
    uint8_t riff_[12] = {};
    // fmt chunk
    uint32_t fmtId_ = 0, fmtSize_ = 0;
    uint16_t formatTag_ = 0;
    uint16_t channels_ = 0;
    uint32_t samplingRate_ = 0, bytesPerSecond_ = 0;
    uint16_t blockAlign_ = 0, bitsPerSample_ = 0;
    // smpl chunk: 17 words (header, sampler fields, first loop record)
    uint32_t smpl_[17] = {};
    // data chunk
    uint32_t dataId_ = 0, dataSize_ = 0;
    int64_t dataStart_ = 0;
    int64_t sampleCount_ = 0;
    uint8_t frame_[64] = {};
    uint8_t block_[64 * 256] = {}; // ReadSamples16: up to 256 frames a read
};
