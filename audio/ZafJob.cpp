#include "audio/ZafJob.h"

#include "audio/ZafCipher.h"
#include "audio/ZafEncoder.h"
#include "audio/ZafWave.h"
#include "platform/PlatformSystem.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

ZafJobGlobals g_zafJob;

namespace {

const int kMaxThreads = 64;
const size_t kWorkAreaSize = 362496;
static_assert(kWorkAreaSize >= ZafEncoderWorkSize(16), "work area too small for 16 channels");

struct Slot {
    void* work = nullptr;
    ZafEncoder* encoder = nullptr;
    WaveReader* reader = nullptr;
    float* buffers[16] = {};
};

struct Job {
    int handle = 0;
    FileStream* input = nullptr;
    uint8_t* output = nullptr;
    int64_t capacity = 0;
    int cutoff = 0, quality = 0, tracks = 1, config = 0;
    uint64_t key = 0;
    int threads = 1;
    int headerSize = 0, frameCount = 0, frameSize = 0;
    int64_t totalSize = 0;
    Slot slots[kMaxThreads];
    int rate = 0, channels = 0, bits = 0;
    int64_t samples = 0;
    bool ambisonic = false;
    bool loop = false;
    int64_t loopStart = -1, loopLength = -1;
    bool libraryInit = false;
    void* intermediate = nullptr;
    uint8_t cipher[256] = {};
    std::atomic<int32_t> framesDone{0};
};

void Report(Job& job, const char* text)
{
    if (g_zafJob.errorSink)
        g_zafJob.errorSink(g_zafJob.errorUser, job.handle, text);
}

void ReportF(Job& job, const char* format, const char* arg)
{
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, format, arg);
    Report(job, buffer);
}

int Progress(Job& job, int done, int total)
{
    if (!g_zafJob.progressSink)
        return 0;
    return g_zafJob.progressSink(g_zafJob.progressUser, job.handle, done, total);
}

void* Allocate(Job& job, const char* name, size_t size)
{
    if (g_zafJob.allocHook)
        return g_zafJob.allocHook(g_zafJob.allocUser, job.handle, name, size);
    return std::malloc(size);
}

void Free(Job& job, void* block)
{
    if (!block)
        return;
    if (g_zafJob.allocHook) {
        if (g_zafJob.freeHook)
            g_zafJob.freeHook(g_zafJob.freeUser, job.handle, block);
        return;
    }
    std::free(block);
}

FILE* Out()
{
    return g_zafJob.report ? g_zafJob.report : stdout;
}

FILE* Warnings()
{
    return g_zafJob.warnings ? g_zafJob.warnings : stderr;
}

int ThreadCount()
{
    int n = PlatformProcessorCount();
    if (const char* env = std::getenv("ZAF_THREADS")) {
        char* end = nullptr;
        long v = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && v >= 1 && v <= kMaxThreads)
            n = static_cast<int>(v);
    }
    if (n < 1)
        n = 1;
    if (n > kMaxThreads)
        n = kMaxThreads;
    return n;
}

const int kDefaultConfig[17] = {0, 0x01, 0x00, 0x04, 0x00, 0x01, 0x03, 0x07, 0x03, 0x82,
                                0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x83};
const char* const kLevelNames[5] = {"LOWEST", "LOW", "MIDDLE", "HIGH", "HIGHEST"};
const int kDivisor[2][5] = {{12, 10, 8, 6, 4}, {16, 12, 8, 6, 4}};

// Ambisonic channel order and scale: new[k] = old[kFrom[k]] * kFactor[k].
const int kFrom[16] = {0, 2, 3, 1, 8, 6, 4, 5, 7, 15, 13, 11, 9, 10, 12, 14};
const float kA = 1.9364917f, kB = 1.9720266f, kC = 2.2310934f, kD = 2.09165f;
const float kFactor[16] = {1.4142135f, 1.7320508f, 1.7320508f, 1.7320508f, kA, kA, 2.236068f, kA,
                           kA, kD, kB, kC, 2.6457512f, kC, kB, kD};

// Stages `count` sample frames into slot buffers from position `at` on.
void Stage(Job& job, Slot& slot, int at, int count)
{
    float block[16 * 128];
    for (int n = 0; n < count; ++n) {
        const int i = n & 127;
        if (i == 0)
            slot.reader->ReadSamples16(block, count - n < 128 ? count - n : 128);
        float* v = block + 16 * i;
        if (job.ambisonic) {
            float w[16];
            for (int k = 0; k < 16; ++k)
                w[k] = v[kFrom[k]] * kFactor[k];
            std::memcpy(v, w, sizeof w);
        }
        for (int k = 0; k < job.channels; ++k)
            slot.buffers[k][at + n] = v[k];
    }
}

int Segment(Job& job, int index, int first, int count)
{
    Slot& slot = job.slots[index];
    int64_t start = 0;
    if (EncoderSeekFrame(slot.encoder, first - 1, &start) != ZAF_OK) {
        Report(job, "ERROR: Failed to encode frame.\n");
        return 1;
    }
    slot.reader->SeekSample(start);
    Stage(job, slot, 0, 1024);
    int consumed = 0;
    if (EncoderPutSamples(slot.encoder, slot.buffers, job.channels, 1024, &consumed) != ZAF_OK
        || EncoderEncodeFrame(slot.encoder, nullptr, 0, nullptr) != ZAF_OK) {
        Report(job, "ERROR: Failed to encode frame.\n");
        return 1;
    }
    for (int f = first; f < first + count; ++f) {
        for (int k = 0; k < job.channels; ++k)
            std::memmove(slot.buffers[k], slot.buffers[k] + consumed, (1024 - consumed) * sizeof(float));
        Stage(job, slot, 1024 - consumed, consumed);
        uint8_t* at = job.output + job.headerSize + static_cast<int64_t>(f) * job.frameSize;
        if (EncoderPutSamples(slot.encoder, slot.buffers, job.channels, 1024, &consumed) != ZAF_OK
            || EncoderEncodeFrame(slot.encoder, at, job.frameSize, nullptr) != ZAF_OK) {
            Report(job, "ERROR: Failed to encode frame.\n");
            return 1;
        }
        const int done = job.framesDone.fetch_add(1) + 1;
        if (Progress(job, done, job.frameCount) != 0)
            return 2;
    }
    return 0;
}

const char kNotWave[] = "ERROR: Failed to open input wave stream.\n\n<<NOTE>>\n"
                        " Available format is Windows Wave format only.\n"
                        " The number of bits per sample needs to be 24, 16, or 8bit.\n"
                        " Compressed data is not available as input.\n";
const char kBits[] = "ERROR: The number of quantization bits must be multiple of 8.\n";
const char kChannels[] = "ERROR: The number of channels is out of domain.\n";

// The message for a file the wave reader refused.
const char* OpenFailure(WaveError why)
{
    switch (why) {
    case WaveError::NoSampleBytes:
        return kBits;
    case WaveError::NoChannels:
        return kChannels;
    default:
        return kNotWave;
    }
}

// Checks the settings and the input's format against what the encoder
// takes, before anything is sized from them.
int CheckFormat(Job& job, const WaveReader& reader)
{
    const int bits = reader.GetBitsPerSample();
    const int channels = reader.GetChannels();
    const char* error = nullptr;
    if (job.cutoff < 0)
        error = "ERROR: Cutoff frequency is invalid.\n";
    else if (job.tracks < 1)
        error = "ERROR: Number of tracks is invalid.\n";
    else if (bits % 8 != 0 || bits < 8 || bits > 32)  // whole bytes of 1 to 4 per sample
        error = kBits;
    else if (channels < 1 || channels > 16)
        error = kChannels;
    else if (reader.GetBlockAlign() < channels * (bits / 8))
        error = "ERROR: The block alignment is smaller than the number of channels times the bytes per sample.\n";
    else if (channels % job.tracks != 0)
        error = "ERROR: The number of channels is not same as the sum of track channels.\n";
    else if (channels / job.tracks > 16)
        error = "ERROR: The number of track channels needs to be lower than 17.\n";
    if (error) {
        Report(job, error);
        return 1;
    }
    return 0;
}

// Takes the file's loop, if any. A loop that starts past the last sample is
// refused; one that ends past it is cut at the last sample, with a warning,
// so that the stream's loop lies inside its samples.
int CheckLoop(Job& job, const WaveReader& reader)
{
    job.loop = reader.GetLoop(&job.loopStart, &job.loopLength);
    if (!job.loop)
        return 0;
    const int64_t samples = reader.GetNumSamples();
    if (job.loopStart >= samples) {
        Report(job, "ERROR: Loop start is past the last sample.\n");
        return 1;
    }
    if (job.loopStart + job.loopLength > samples) {
        std::fprintf(Warnings(), "WARNING: Loop end %lld is past the last sample; it is set to %lld.\n",
                     static_cast<long long>(job.loopStart + job.loopLength - 1),
                     static_cast<long long>(samples - 1));
        job.loopLength = samples - job.loopStart;
    }
    return 0;
}

// One encoder instance and one reader of the input per thread; the readers
// of threads after the first share the first one's stream.
int CreateSlots(Job& job)
{
    for (int i = 0; i < job.threads; ++i) {
        Slot& slot = job.slots[i];
        slot.work = Allocate(job, "Encoder", kWorkAreaSize);
        if (!slot.work) {
            Report(job, "ERROR: Failed to allocate work area.\n");
            return 1;
        }
        if (EncoderCreate(16, slot.work, kWorkAreaSize, &slot.encoder) != ZAF_OK) {
            Report(job, "ERROR: Failed to create encoder.\n");
            return 1;
        }
        if (i == 0) {
            slot.reader = WaveReader::Open(job.input);
            if (!slot.reader) {
                Report(job, "ERROR: Failed to open input wave stream.\n");
                return 1;
            }
        } else {
            slot.reader = WaveReader::Share(job.slots[0].reader);
            if (!slot.reader) {
                Report(job, "ERROR: Failed to share input wave stream.\n");
                return 1;
            }
        }
    }
    return 0;
}

// The input's format as the job encodes it: the cutoff within half the rate,
// and the default configuration of the track's channel count when none is
// given.
void TakeFormat(Job& job)
{
    const WaveReader* r0 = job.slots[0].reader;
    job.rate = r0->GetSamplingRate();
    job.channels = r0->GetChannels();
    job.samples = r0->GetNumSamples();
    job.bits = r0->GetBitsPerSample();
    if (job.cutoff == 0 || job.cutoff > job.rate / 2)
        job.cutoff = job.rate / 2;
    if (job.config == 0)
        job.config = kDefaultConfig[job.channels / job.tracks];
    job.ambisonic = job.config >= 0x80;
}

// The bitrate of the quality setting: the kbit/s given, or the full rate of
// the cutoff divided by the level's divisor (smaller divisors for channels
// coded in pairs); raised to the floor when the floor is on, and at most a
// quarter of the full rate. False for a quality that is neither.
bool ChooseBitrate(const Job& job, int64_t* out)
{
    const int codingClass = (job.channels > 1 && job.channels != job.tracks && job.config < 0x80) ? 1 : 0;
    const int64_t base = static_cast<int64_t>(job.channels) * job.cutoff * 32;
    int64_t bitrate;
    if (job.quality > 0)
        bitrate = static_cast<int64_t>(job.quality) * 1000;
    else if (job.quality >= -5 && job.quality <= -1)
        bitrate = static_cast<int64_t>(static_cast<float>(base) / static_cast<float>(kDivisor[codingClass][job.quality + 5]));
    else
        return false;
    if (g_zafJob.bitrateFloor) {
        int64_t floor = base / 6;
        const int64_t perChannel = static_cast<int64_t>(job.channels) * (codingClass == 0 ? 42666 : 32000);
        if (perChannel < floor)
            floor = perChannel;
        if (bitrate < floor)
            bitrate = floor;
    }
    if (bitrate > base / 4)
        bitrate = base / 4;
    if (bitrate > INT32_MAX)
        bitrate = INT32_MAX;
    *out = bitrate;
    return true;
}

// Gives the first encoder the settings and the cipher table, derives the
// stream layout and takes header size, frame count and frame size from it.
int Configure(Job& job, int64_t bitrate, ZafEncoderInfo* info)
{
    ZafEncoder* e0 = job.slots[0].encoder;
    bool ok = EncoderSetChannels(e0, job.channels, job.tracks, job.config) == ZAF_OK
        && EncoderSetSamplingRate(e0, job.rate, job.cutoff) == ZAF_OK
        && EncoderSetNumSamples(e0, job.samples) == ZAF_OK
        && EncoderSetBitrate(e0, static_cast<int>(bitrate)) == ZAF_OK;
    if (ok && g_zafJob.bandConstraint != 0)
        ok = EncoderSetBandLayout(e0, g_zafJob.bandConstraint) == ZAF_OK;
    if (ok && job.loop)
        ok = EncoderSetLoop(e0, job.loopStart, job.loopLength) == ZAF_OK;
    if (!ok) {
        Report(job, "ERROR: Failed to encode header.\n");
        return 1;
    }
    if (job.key != 0) {
        if (MakeCipherTable(zafcipher::kKeyed, job.key, job.cipher) != zafcipher::kKeyed) {
            Report(job, "ERROR: Failed to create encryption table.\n");
            return 1;
        }
        if (EncoderSetCipherTable(e0, zafcipher::kKeyed, job.cipher, sizeof job.cipher) != ZAF_OK) {
            Report(job, "ERROR: Failed to set substitution table.\n");
            return 1;
        }
    }
    if (EncoderEncodeHeader(e0, nullptr, 0, nullptr) != ZAF_OK) {
        Report(job, "ERROR: Failed to encode header.\n");
        return 1;
    }
    EncoderGetInfo(e0, info);
    job.headerSize = info->headerSize;
    job.frameCount = info->frameCount;
    job.frameSize = info->frameSize;
    return 0;
}

// The settings and the derived layout, for the basic (and detailed) report.
void PrintReport(const Job& job, const ZafEncoderInfo& info)
{
    FILE* o = Out();
    std::fprintf(o, "Number of channels    : %d\n", job.channels);
    std::fprintf(o, "Sampling frequency    : %d [Hz]\n", job.rate);
    std::fprintf(o, "Number of samples     : %d\n", static_cast<int>(job.samples));
    std::fprintf(o, "Encode quality        : %s\n", job.quality > 0 ? "CUSTOM" : kLevelNames[job.quality + 5]);
    std::fprintf(o, "Bitrate               : %d [bps]\n",
                 static_cast<int>(static_cast<int64_t>(job.rate) * job.frameSize * 8 / 1024));
    std::fprintf(o, "Cutoff frequency      : %d [Hz]\n",
                 static_cast<int>(static_cast<int64_t>(job.rate) * info.totalBands / 256));
    std::fprintf(o, "Number of tracks      : %d\n", job.tracks);
    std::fprintf(o, "Channels per track    : %d\n", job.channels / job.tracks);
    std::fprintf(o, "Channel Configuration : 0x%02X\n", job.config);
    std::fprintf(o, "Is Ambisonics         : %s\n", job.ambisonic ? "YES" : "NO");
    if (job.loop)
        std::fprintf(o, "Loop                  : %d - %d (Length : %d)\n", static_cast<int>(job.loopStart),
                     static_cast<int>(job.loopStart + job.loopLength), static_cast<int>(job.loopLength));
    else
        std::fprintf(o, "Loop                  : NONE\n");
    if (job.key != 0)
        std::fprintf(o, "Encryption key        : 0x%016llX\n", static_cast<unsigned long long>(job.key));
    if (g_zafJob.detailReport) {
        std::fprintf(o, "Frame size            : %d [Byte]\n", job.frameSize);
        std::fprintf(o, "Stereo coding method  : %s\n", info.stereoBands != 0 ? "INTENSITY STEREO" : "DISCRETE");
        std::fprintf(o, "Compression info      : %d (%d - %d - %d / %d)\n", info.totalBands, info.baseBands,
                     info.stereoBands, info.totalBands - info.baseBands - info.stereoBands, info.bandsPerGroup);
    }
}

// Checks the whole file's size against the output buffer and cuts the
// intermediate buffer into 1024 samples per channel and thread.
int SizeBuffers(Job& job)
{
    job.totalSize = static_cast<int64_t>(job.headerSize) + static_cast<int64_t>(job.frameCount) * job.frameSize;
    if (job.totalSize <= 0) {
        Report(job, "ERROR: Failed to calculate file size.\n");
        return 1;
    }
    if (job.capacity == 0)
        return 0;
    if (job.totalSize > job.capacity) {
        Report(job, "ERROR: Output buffer size is insufficient.\n");
        return 1;
    }
    const size_t bytes = static_cast<size_t>(job.channels) * job.threads * 4096 + 4;
    job.intermediate = Allocate(job, "Intermediate Buffer", bytes);
    if (!job.intermediate) {
        Report(job, "ERROR: Failed to allocate memory.\n");
        return 1;
    }
    uintptr_t p = (reinterpret_cast<uintptr_t>(job.intermediate) + 3) & ~static_cast<uintptr_t>(3);
    float* f = reinterpret_cast<float*>(p);
    for (int i = 0; i < job.threads; ++i)
        for (int k = 0; k < job.channels; ++k) {
            job.slots[i].buffers[k] = f;
            f += 1024;
        }
    return 0;
}

// Instances, format, bitrate, stream layout, report and buffers, in order;
// the first failure is reported and ends the set-up.
int SetUp(Job& job)
{
    job.threads = job.capacity != 0 ? ThreadCount() : 1;
    EncoderLibraryInit();
    job.libraryInit = true;
    if (CreateSlots(job) != 0)
        return 1;
    TakeFormat(job);
    int64_t bitrate = 0;
    if (!ChooseBitrate(job, &bitrate)) {
        Report(job, "ERROR: Quality setting is invalid.\n");
        return 1;
    }
    ZafEncoderInfo info;
    if (Configure(job, bitrate, &info) != 0)
        return 1;
    if (g_zafJob.basicReport)
        PrintReport(job, info);
    return SizeBuffers(job);
}

int Encode(Job& job)
{
    if (g_zafJob.basicReport)
        std::fprintf(Out(), "\n");
    if (Progress(job, 0, job.frameCount) != 0)
        return 2;
    ZafEncoder* e0 = job.slots[0].encoder;
    for (int i = 1; i < job.threads; ++i)
        EncoderCopySettings(job.slots[i].encoder, e0);
    for (int i = 0; i < job.threads; ++i)
        EncoderReset(job.slots[i].encoder);
    if (EncoderEncodeHeader(e0, job.output, static_cast<size_t>(job.headerSize), nullptr) != ZAF_OK) {
        Report(job, "ERROR: Failed to encode header.\n");
        return 1;
    }
    // Frame 0 on this thread.
    Slot& s0 = job.slots[0];
    s0.reader->SeekSample(0);
    Stage(job, s0, 0, 1024);
    int consumed = 0;
    if (EncoderPutSamples(e0, s0.buffers, job.channels, 1024, &consumed) != ZAF_OK
        || EncoderEncodeFrame(e0, job.output + job.headerSize, job.frameSize, nullptr) != ZAF_OK) {
        Report(job, "ERROR: Failed to encode frame.\n");
        return 1;
    }
    for (int i = 1; i < job.threads; ++i) {
        if (EncoderEncodeHeader(job.slots[i].encoder, nullptr, 0, nullptr) != ZAF_OK) {
            Report(job, "ERROR: Failed to encode header.\n");
            return 1;
        }
    }
    for (int i = 0; i < job.threads; ++i)
        job.slots[i].reader->SeekSample(0);
    job.framesDone.store(1);

    const int per = (job.frameCount - 1) / job.threads;
    std::vector<int> codes(job.threads, 0);
    {
        std::vector<std::thread> workers;
        workers.reserve(job.threads);
        for (int i = 0; i < job.threads; ++i)
            workers.emplace_back([&job, &codes, i, per] { codes[i] = Segment(job, i, 1 + i * per, per); });
        for (std::thread& t : workers)
            t.join();
    }
    for (int c : codes)
        if (c == 1)
            return 1;
    for (int c : codes)
        if (c == 2)
            return 2;
    const int tailFirst = job.threads * per + 1;
    const int tailCount = job.frameCount - tailFirst;
    int result = 0;
    if (tailCount > 0)
        result = Segment(job, 0, tailFirst, tailCount);
    if (result == 0)
        Progress(job, job.frameCount, job.frameCount);
    return result;
}

// Checks everything the file declares before the output file is created and
// before its buffer is sized from the declared counts, then creates both.
int OpenOutput(Job& job, const char* outputPath, FileStream** output)
{
    WaveError why = WaveError::None;
    WaveReader* probe = WaveReader::Open(job.input, &why);
    int result = 1;
    if (!probe) {
        Report(job, OpenFailure(why));
    } else if (CheckFormat(job, *probe) == 0 && CheckLoop(job, *probe) == 0) {
        *output = FileStream::Open(outputPath, true);
        if (!*output) {
            ReportF(job, "ERROR: Can not create output file (%s).\n", outputPath);
        } else {
            job.capacity = static_cast<int64_t>(probe->GetChannels()) * (probe->GetNumSamples() + 2048) / 2 + 2048;
            job.output = static_cast<uint8_t*>(Allocate(job, "Output Buffer", static_cast<size_t>(job.capacity)));
            if (!job.output && job.capacity != 0)
                Report(job, "ERROR: Failed to allocate output buffer.\n");
            else
                result = 0;
        }
    }
    WaveReader::Destroy(probe);
    return result;
}

// Releases the instances, their readers and the intermediate buffer.
void ReleaseEncoders(Job& job)
{
    Free(job, job.intermediate);
    for (int i = 0; i < kMaxThreads; ++i) {
        Slot& slot = job.slots[i];
        WaveReader::Destroy(slot.reader);
        if (slot.encoder)
            EncoderDestroy(slot.encoder);
        Free(job, slot.work);
    }
    if (job.libraryInit)
        EncoderLibraryFinish();
}

// Writes an encoded file out and closes it; a file that was not completely
// written is removed. Returns the job's result, 1 when the write fails.
int CloseOutput(Job& job, FileStream* output, const char* outputPath, bool encoded, int result)
{
    bool written = false;
    if (encoded) {
        const size_t total = static_cast<size_t>(job.totalSize);
        if (output->Write(job.output, total) == total) {
            written = true;
        } else {
            Report(job, "ERROR: Failed to write data.\n");
            result = 1;
        }
    }
    output->Close();
    if (!written)
        std::remove(outputPath);
    return result;
}

}  // namespace

int EncodeWaveFile(int handle, const char* inputPath, const char* outputPath, int quality, int cutoff,
                   int tracks, int config, uint32_t keyLow, uint32_t keyHigh)
{
    Job* jobPtr = new Job();
    Job& job = *jobPtr;
    job.handle = handle;
    if (!inputPath || !outputPath) {
        Report(job, "ERROR: Invalid argument.\n");
        delete jobPtr;
        return 1;
    }
    job.quality = quality == 0 ? -2 : quality;
    job.cutoff = cutoff;
    job.tracks = tracks;
    job.config = config;
    job.key = (static_cast<uint64_t>(keyHigh) << 32) | keyLow;

    job.input = FileStream::Open(inputPath, false);
    if (!job.input) {
        ReportF(job, "ERROR: Can not open input wave file (%s).\n", inputPath);
        delete jobPtr;
        return 1;
    }
    FileStream* output = nullptr;
    int result = OpenOutput(job, outputPath, &output);
    bool encoded = false;
    if (result == 0) {
        result = SetUp(job);
        if (result == 0 && job.capacity != 0) {
            result = Encode(job);
            encoded = result == 0;
        }
    }
    ReleaseEncoders(job);
    if (output)
        result = CloseOutput(job, output, outputPath, encoded, result);
    Free(job, job.output);
    job.input->Close();
    delete jobPtr;
    return result;
}
