#include "audio/ZafDriver.h"
#include "audio/ZafEncoder.h"
#include "audio/ZafJob.h"
#include "audio/ZafTransform.h"
#include "audio/ZafWave.h"
#include "audio/decoder/ZafDecoder.h"
#include "LumivorVersion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A file of the test data folder (inputs that once broke the encoder).
std::string DataPath(const std::string& name)
{
    return std::string(LUMIVOR_SOURCE_DIR) + "/audio/tests/data/" + name;
}

std::string TempPath(const std::string& name)
{
    return std::string(LUMIVOR_BINARY_DIR) + "/audio_test_" + std::to_string(getpid()) + "_" + name;
}

void Put16(std::vector<uint8_t>& v, uint32_t x)
{
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& v, uint32_t x)
{
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}
void PutId(std::vector<uint8_t>& v, const char* id)
{
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(id[i]));
}

// The RIFF header (its size left 0 for the caller) and a PCM "fmt " chunk.
void PutWaveHead(std::vector<uint8_t>& w, int channels, int rate, int align, int bits)
{
    PutId(w, "RIFF");
    Put32(w, 0);
    PutId(w, "WAVE");
    PutId(w, "fmt ");
    Put32(w, 16);
    Put16(w, 1);
    Put16(w, channels);
    Put32(w, rate);
    Put32(w, rate * align);
    Put16(w, align);
    Put16(w, bits);
}

struct WaveSpec {
    int channels = 2;
    int rate = 44100;
    int bits = 16;
    int frames = 4096;
    bool loop = false;
    uint32_t loopStart = 0, loopEnd = 0;
    bool silent = false;
    int pad = 0;  // bytes after each sample frame (block alignment beyond the samples)
};

// A RIFF/WAVE file with a deterministic test signal.
std::vector<uint8_t> MakeWave(const WaveSpec& s)
{
    const int bytes = s.bits / 8;
    const int align = s.channels * (bytes ? bytes : 1) + s.pad;
    std::vector<uint8_t> data;
    uint32_t seed = 12345;
    for (int n = 0; n < s.frames; ++n) {
        for (int c = 0; c < s.channels; ++c) {
            seed = seed * 1103515245u + 12345u;
            double v = s.silent ? 0.0
                                : 0.5 * std::sin(0.01 * (c + 1) * n) + 0.1 * ((seed >> 16) / 32768.0 - 1.0);
            int32_t q = static_cast<int32_t>(v * ((1 << (8 * bytes - 1)) - 1));
            if (bytes == 1)
                q += 128;
            for (int b = 0; b < bytes; ++b)
                data.push_back((q >> (8 * b)) & 0xFF);
        }
        data.insert(data.end(), s.pad, 0xA5);
    }
    std::vector<uint8_t> w;
    PutWaveHead(w, s.channels, s.rate, align, s.bits);
    if (s.loop) {
        PutId(w, "smpl");
        Put32(w, 60);
        for (int i = 0; i < 7; ++i)
            Put32(w, 0);
        Put32(w, 1);  // loops
        Put32(w, 0);
        Put32(w, 0);
        Put32(w, 0);
        Put32(w, s.loopStart);
        Put32(w, s.loopEnd);
        Put32(w, 0);
        Put32(w, 0);
    }
    PutId(w, "data");
    Put32(w, static_cast<uint32_t>(data.size()));
    w.insert(w.end(), data.begin(), data.end());
    uint32_t riff = static_cast<uint32_t>(w.size() - 8);
    std::memcpy(&w[4], &riff, 4);
    return w;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::vector<uint8_t> ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

std::string Slurp(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

struct RunResult {
    int code;
    std::string out, err;
};

RunResult RunEncoder(std::vector<std::string> args)
{
    args.insert(args.begin(), "zafencoder");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    RunResult r;
    r.code = ZafEncoderMain(static_cast<int>(args.size()), argv.data(), out, err);
    r.out = Slurp(out);
    r.err = Slurp(err);
    std::fclose(out);
    std::fclose(err);
    return r;
}

// Header of a stream with the given settings, encoded into a fresh instance.
struct Encoded {
    int result;
    std::vector<uint8_t> header;
    ZafEncoderInfo info;
};

Encoded Header(int channels, int tracks, int rate, int bitrate, int64_t samples, int constraint = 0,
               int64_t loopStart = 0, int64_t loopLength = 0)
{
    static std::vector<uint8_t> work(ZafEncoderWorkSize(16));
    EncoderLibraryInit();
    ZafEncoder* e = nullptr;
    EXPECT_EQ(EncoderCreate(16, work.data(), work.size(), &e), ZAF_OK);
    EncoderSetChannels(e, channels, tracks, 0);
    EncoderSetSamplingRate(e, rate, 0);
    EncoderSetNumSamples(e, samples);
    EncoderSetBitrate(e, bitrate);
    if (constraint)
        EncoderSetBandLayout(e, constraint);
    if (loopLength)
        EncoderSetLoop(e, loopStart, loopLength);
    Encoded r;
    r.header.assign(4096, 0xEE);
    size_t size = 0;
    r.result = EncoderEncodeHeader(e, r.header.data(), r.header.size(), &size);
    r.header.resize(r.result == ZAF_OK ? size : 0);
    EncoderGetInfo(e, &r.info);
    EncoderDestroy(e);
    EncoderLibraryFinish();
    return r;
}

uint32_t Be(const std::vector<uint8_t>& h, int at, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | h[at + i];
    return v;
}

uint64_t Fnv(const std::vector<uint8_t>& v)
{
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : v)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

}  // namespace

TEST(ZafCrc, CheckValueAndResidue)
{
    const char* digits = "123456789";
    EXPECT_EQ(ZafCrc16(reinterpret_cast<const uint8_t*>(digits), 9), 0xFEE8);
    Encoded h = Header(2, 1, 48000, 256000, 1000);
    ASSERT_EQ(h.result, ZAF_OK);
    EXPECT_EQ(ZafCrc16(h.header.data(), h.header.size()), 0);
}

TEST(ZafHeader, DiscreteLayoutAt256k)
{
    Encoded h = Header(2, 1, 48000, 256000, 1000);
    ASSERT_EQ(h.result, ZAF_OK);
    ASSERT_EQ(h.header.size(), 96u);
    const uint8_t expect[40] = {'Z', 'A', 'F', 0, 0x02, 0x00, 0, 96, 'f', 'm', 't', 0, 2, 0x00, 0xBB, 0x80,
                                0, 0, 0, 2, 0, 128, 3, 152, 'c', 'o', 'm', 'p', 0x02, 0xAA, 1, 15,
                                1, 0, 128, 128, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(h.header.data(), expect, 40));
    const uint8_t tail[10] = {'c', 'i', 'p', 'h', 0, 0, 'p', 'a', 'd', 0};
    EXPECT_EQ(0, std::memcmp(h.header.data() + 40, tail, 10));
    for (size_t i = 50; i < 94; ++i)
        EXPECT_EQ(h.header[i], 0) << i;
    EXPECT_EQ(h.info.delay, 128);
    EXPECT_EQ(h.info.appended, 920);
}

TEST(ZafHeader, LayoutsFromBitrateAndConstraint)
{
    struct Case {
        int channels, bitrate, constraint, result, frameSize, total, base, stereo, perGroup;
    } cases[] = {
        {2, 256000, 0, ZAF_OK, 682, 128, 128, 0, 0},
        {2, 128000, 0, ZAF_OK, 341, 128, 43, 42, 6},
        {2, 128000, 0x800000, ZAF_OK, 341, 128, 128, 0, 0},
        {1, 128000, 0x402000, ZAF_ERR_LAYOUT, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Encoded h = Header(c.channels, 1, 48000, c.bitrate, 48000, c.constraint);
        ASSERT_EQ(h.result, c.result) << c.bitrate << " " << c.constraint;
        if (c.result != ZAF_OK)
            continue;
        EXPECT_EQ(h.info.frameSize, c.frameSize);
        EXPECT_EQ(h.info.totalBands, c.total);
        EXPECT_EQ(h.info.baseBands, c.base);
        EXPECT_EQ(h.info.stereoBands, c.stereo);
        EXPECT_EQ(h.info.bandsPerGroup, c.perGroup);
    }
}

TEST(ZafHeader, LoopStartsOnFileBoundary)
{
    Encoded h = Header(2, 1, 48000, 256000, 20000, 0, 5000, 10000);
    ASSERT_EQ(h.result, ZAF_OK);
    EXPECT_EQ(Be(h.header, 40, 4), 0x6C6F6F70u);  // "loop"
    const int startFrame = static_cast<int>(Be(h.header, 44, 4));
    EXPECT_EQ(Be(h.header, 52, 2), 128u);  // loop start offset: the transform latency
    EXPECT_EQ((h.info.headerSize + startFrame * h.info.frameSize) % 2048, 0);
    EXPECT_EQ(h.info.delay, 248 + 1024 * (startFrame - 5));
    EXPECT_EQ(ZafCrc16(h.header.data(), h.header.size()), 0);
}

TEST(ZafCipher, TablesArePermutationsAndZeroKeyWritesNothing)
{
    uint8_t t[256];
    std::memset(t, 0xAB, sizeof t);
    EXPECT_EQ(MakeCipherTable(56, 0, t), 0);
    EXPECT_EQ(t[0], 0xAB);
    EXPECT_EQ(MakeCipherTable(7, 1, t), -1);
    for (int type : {1, 56}) {
        ASSERT_EQ(MakeCipherTable(type, 0x0123456789ABCDEFull, t), type);
        bool seen[256] = {};
        for (int i = 0; i < 256; ++i)
            seen[t[i]] = true;
        for (int i = 0; i < 256; ++i)
            EXPECT_TRUE(seen[i]);
        EXPECT_EQ(t[0], 0);
        EXPECT_EQ(t[255], 0xFF);
    }
}

TEST(ZafWave, SampleValuesOddChunksAndLoop)
{
    // 8-bit: 0x80 -> 0, 0x00 -> -1; an odd-sized unknown chunk before data.
    std::vector<uint8_t> w;
    PutWaveHead(w, 1, 8000, 1, 8);
    PutId(w, "junk");
    Put32(w, 3);
    w.insert(w.end(), {1, 2, 3, 0});
    PutId(w, "data");
    Put32(w, 3);
    w.insert(w.end(), {0x80, 0x00, 0xFF, 0});
    const std::string path = TempPath("w8.wav");
    WriteFile(path, w);
    FileStream* s = FileStream::Open(path.c_str(), false);
    ASSERT_TRUE(s);
    WaveReader* r = WaveReader::Open(s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetNumSamples(), 3);
    float v[16];
    ASSERT_TRUE(r->ReadSample(v, 16));
    EXPECT_EQ(v[0], 0.0f);
    ASSERT_TRUE(r->ReadSample(v, 16));
    EXPECT_EQ(v[0], -1.0f);
    EXPECT_EQ(r->SeekSample(99), 3);
    int64_t a, b;
    EXPECT_FALSE(r->GetLoop(&a, &b));
    WaveReader::Destroy(r);
    s->Close();

    WaveSpec spec;
    spec.bits = 24;
    spec.loop = true;
    spec.loopStart = 1000;
    spec.loopEnd = 1999;
    WriteFile(path, MakeWave(spec));
    s = FileStream::Open(path.c_str(), false);
    r = WaveReader::Open(s);
    ASSERT_TRUE(r);
    ASSERT_TRUE(r->GetLoop(&a, &b));
    EXPECT_EQ(a, 1000);
    EXPECT_EQ(b, 1000);
    WaveReader* shared = WaveReader::Share(r);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->GetNumSamples(), 4096);
    WaveReader::Destroy(shared);
    WaveReader::Destroy(r);
    s->Close();
    std::remove(path.c_str());
}

TEST(ZafWave, BlockReadsMatchSampleReads)
{
    // Block reads cross their internal reads and the end of the file; every
    // frame must equal the frame-by-frame read, and bytes that pad a frame
    // to its block alignment must be skipped: a padded file reads as the
    // same file without the padding.
    struct Case {
        int bits, channels, pad;
    } cases[] = {{8, 1, 0}, {16, 2, 0}, {24, 3, 0}, {16, 9, 0}, {16, 2, 1}, {8, 3, 5}, {16, 1, 20000}};
    const std::string path = TempPath("blocks.wav");
    for (const Case& c : cases) {
        WaveSpec spec;
        spec.bits = c.bits;
        spec.channels = c.channels;
        spec.frames = c.pad > 1000 ? 40 : 1000;
        const int total = spec.frames - 7 + 20;  // runs 20 frames past the end
        std::vector<float> plain(16 * total, 0.0f);
        WriteFile(path, MakeWave(spec));
        FileStream* s0 = FileStream::Open(path.c_str(), false);
        WaveReader* unpadded = WaveReader::Open(s0);
        ASSERT_TRUE(unpadded);
        unpadded->SeekSample(7);
        for (int n = 0; n < total; ++n)
            unpadded->ReadSample(&plain[16 * n], 16);
        WaveReader::Destroy(unpadded);
        s0->Close();

        spec.pad = c.pad;
        WriteFile(path, MakeWave(spec));
        FileStream* s1 = FileStream::Open(path.c_str(), false);
        FileStream* s2 = FileStream::Open(path.c_str(), false);
        ASSERT_TRUE(s1 && s2);
        WaveReader* one = WaveReader::Open(s1);
        WaveReader* block = WaveReader::Open(s2);
        ASSERT_TRUE(one && block);
        one->SeekSample(7);
        block->SeekSample(7);
        std::vector<float> expect(16 * total, -9.0f), got(16 * total, -9.0f);
        int valid = 0;
        for (int n = 0; n < total; ++n) {
            if (one->ReadSample(&expect[16 * n], 16))
                ++valid;
            for (int k = c.channels; k < 16; ++k)
                expect[16 * n + k] = 0.0f;
        }
        int read = 0;
        for (int at = 0; at < total; at += 300) {
            const int count = total - at < 300 ? total - at : 300;
            read += block->ReadSamples16(&got[16 * at], count);
        }
        const std::string what = std::to_string(c.bits) + " bits, " + std::to_string(c.channels) + " channels, pad "
            + std::to_string(c.pad);
        EXPECT_EQ(valid, spec.frames - 7) << what;
        EXPECT_EQ(read, valid) << what;
        EXPECT_EQ(got, expect) << what;
        EXPECT_EQ(expect, plain) << what;
        WaveReader::Destroy(one);
        WaveReader::Destroy(block);
        s1->Close();
        s2->Close();
    }
    std::remove(path.c_str());
}

TEST(ZafWave, RefusesFramesWithoutBytes)
{
    // A frame of no bytes would make every sample reader divide by zero.
    std::vector<uint8_t> fourBits = MakeWave(WaveSpec());
    fourBits[34] = 4;  // bits per sample
    std::vector<uint8_t> shortData = MakeWave(WaveSpec());
    shortData[40] = 3;  // data size: less than one frame of 4 bytes
    shortData[41] = shortData[42] = shortData[43] = 0;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        WaveError error;
    } cases[] = {
        {"zero channels", ReadFile(DataPath("wav-zero-channels.wav")), WaveError::NoChannels},
        {"4 bits", fourBits, WaveError::NoSampleBytes},
        {"no whole frame", shortData, WaveError::NotWave},
        {"valid", MakeWave(WaveSpec()), WaveError::None},
    };
    const std::string path = TempPath("frames.wav");
    for (const Case& c : cases) {
        WriteFile(path, c.bytes);
        FileStream* s = FileStream::Open(path.c_str(), false);
        ASSERT_TRUE(s);
        WaveError error = WaveError::NotWave;
        WaveReader* r = WaveReader::Open(s, &error);
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(r != nullptr, c.error == WaveError::None) << c.name;
        WaveReader::Destroy(r);
        s->Close();
    }
    std::remove(path.c_str());
}

TEST(ZafTransform, MatchesTheCosineSum)
{
    // Impulses at both ends and inside, and a noisy block, against the sum
    // evaluated in double precision. A wrong twiddle or output order shows
    // as errors of order 0.01 or more; single-precision rounding stays far
    // below the bound.
    std::vector<std::vector<float>> inputs;
    for (int at : {0, 1, 63, 64, 126, 127}) {
        std::vector<float> u(128, 0.0f);
        u[at] = 1.0f;
        inputs.push_back(u);
    }
    std::vector<float> noise(128);
    uint32_t seed = 99;
    for (float& v : noise) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<float>((seed >> 8) & 0xFFFF) / 32768.0f - 1.0f;
    }
    inputs.push_back(noise);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < inputs.size(); ++i) {
        float out[128];
        ZafDctIv128(inputs[i].data(), out);
        double worst = 0.0;
        for (int k = 0; k < 128; ++k) {
            double ref = 0.0;
            for (int n = 0; n < 128; ++n)
                ref += inputs[i][n] * std::cos(pi / 128 * (n + 0.5) * (k + 0.5));
            ref /= 8.0;
            worst = std::fmax(worst, std::fabs(out[k] - ref));
        }
        EXPECT_LT(worst, 2e-6) << "input " << i;
    }
}

TEST(ZafDriver, CommandLineMessages)
{
    const std::string in = TempPath("in.wav");
    const std::string out = TempPath("out.zaf");
    WriteFile(in, MakeWave(WaveSpec()));
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* err;
    } cases[] = {
        {{}, 0, ""},
        {{in, "-h"}, 0, ""},
        {{in}, 1, "ERROR: Last 2 arguments need to be path of files. Use -h for help.\n"},
        {{"-n", in}, 1, "ERROR: Last 2 arguments need to be path of files. Use -h for help.\n"},
        {{"-q", in, out}, 1, "ERROR: Needs to specify value of '-q'.\n"},
        {{"--quality", in, out}, 1, "ERROR: Needs to specify value of '--quality'.\n"},
        {{"--quality=", in, out}, 1, "ERROR: Needs to specify value of '--quality='.\n"},
        {{"-b", "-word", in, out}, 1, "ERROR: Needs to specify value of '-b'.\n"},
        {{"-q", "0", in, out}, 1, "ERROR: Specified quality is invalid.\n"},
        {{"--quality=6", in, out}, 1, "ERROR: Specified quality is invalid.\n"},
        {{"-q", "3", "--bitrate=100", in, out}, 1, "ERROR: Either '--quality' or '--bitrate' is available.\n"},
        {{"-v", "--verbose", in, out}, 1, "ERROR: '--verbose' option is specified two or more times.\n"},
        {{"--key=1", "--key=2", in, out}, 1, "ERROR: '--key=2' option is specified two or more times.\n"},
        {{"--key=xyz", in, out}, 1, "ERROR: Needs to specify value of '--key=xyz'.\n"},
        {{"--bogus", in, out}, 1, "ERROR: Unrecognized option '--bogus'.\n"},
        {{"-n", in, in}, 1, nullptr},
    };
    for (const Case& c : cases) {
        RunResult r = RunEncoder(c.args);
        EXPECT_EQ(r.code, c.code) << (c.args.empty() ? "" : c.args[0]);
        if (c.err) {
            EXPECT_EQ(r.err, c.err) << (c.args.empty() ? "" : c.args[0]);
        }
        EXPECT_EQ(r.out.rfind("_/_/_/ ZAF Encoder for Lumivor Ver.2.30 (", 0), 0u);
        if (c.code == 0) {
            EXPECT_NE(r.out.find("Usage: zafencoder [options] inputfile outputfile\n"), std::string::npos);
        }
        EXPECT_FALSE(Exists(out));
    }
    RunResult r = RunEncoder({"-n", in, in});
    EXPECT_EQ(r.err, "ERROR: '" + in + "' already exists.\n");

    // --version alone prints the tool chain's version after the banner; among
    // other arguments it is an unknown option like any other.
    r = RunEncoder({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find(" _/_/_/\n\nzafencoder " LUMIVOR_VERSION "\n"), std::string::npos) << r.out;
    r = RunEncoder({"--version", in, out});
    EXPECT_EQ(r.err, "ERROR: Unrecognized option '--version'.\n");

    // A negative bitrate converts as a number and is raised to 6 kbit/s;
    // a suffix after a switch's name still counts as the switch.
    r = RunEncoder({"-b", "-5", "--verbose-please", in, out});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Encode quality        : CUSTOM\n"), std::string::npos);
    EXPECT_NE(r.out.find("Frame size            : "), std::string::npos);
    EXPECT_NE(r.out.find("\n\nComplete!!\n\n"), std::string::npos);
    EXPECT_TRUE(Exists(out));
    std::remove(out.c_str());

    r = RunEncoder({"--key=0x1234", in, out});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Encryption key        : 0x0000000000001234\n"), std::string::npos);
    std::vector<uint8_t> z = ReadFile(out);
    ASSERT_GT(z.size(), 4u);
    EXPECT_EQ(z[0], 'Z' | 0x80);
    std::remove(out.c_str());
    std::remove(in.c_str());
}

TEST(ZafDriver, BadInputsFailWithoutOutput)
{
    const std::string in = TempPath("bad.wav");
    const std::string out = TempPath("bad.zaf");
    const std::string note = "ERROR: Failed to open input wave stream.\n\n<<NOTE>>\n";
    WaveSpec s12;
    s12.bits = 16;
    std::vector<uint8_t> w12 = MakeWave(s12);
    w12[34] = 12;  // bits per sample
    WaveSpec s17;
    s17.channels = 17;
    WaveSpec s0;
    std::vector<uint8_t> w0 = MakeWave(s0);
    w0[22] = 0;  // channel count
    std::vector<uint8_t> full = MakeWave(WaveSpec());
    std::vector<uint8_t> truncated(full.begin(), full.begin() + full.size() / 2);
    std::vector<uint8_t> huge = full;
    huge[40] = huge[41] = huge[42] = huge[43] = 0xFF;  // data size
    std::vector<uint8_t> notRiff(100, 'x');
    std::vector<uint8_t> shortAlign = MakeWave(WaveSpec());
    shortAlign[32] = 3;  // block alignment below 2 channels x 2 bytes
    WaveSpec loopPast;
    loopPast.loop = true;
    loopPast.loopStart = 4096;  // the file has samples 0 .. 4095
    loopPast.loopEnd = 5000;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string message;
    } cases[] = {
        {"empty", {}, note},
        {"not riff", notRiff, note},
        {"truncated", truncated, note},
        {"huge size", huge, note},
        {"12 bit", w12, "ERROR: The number of quantization bits must be multiple of 8.\n"},
        {"17 channels", MakeWave(s17), "ERROR: The number of channels is out of domain.\n"},
        {"zero channels", w0, "ERROR: The number of channels is out of domain.\n"},
        {"zero channels, 32 bits", ReadFile(DataPath("wav-zero-channels.wav")),
         "ERROR: The number of channels is out of domain.\n"},
        {"65535 channels", ReadFile(DataPath("wav-65535-channels.wav")),
         "ERROR: The number of channels is out of domain.\n"},
        {"short block alignment", shortAlign,
         "ERROR: The block alignment is smaller than the number of channels times the bytes per sample.\n"},
        {"loop start past the end", MakeWave(loopPast), "ERROR: Loop start is past the last sample.\n"},
    };
    for (const Case& c : cases) {
        WriteFile(in, c.bytes);
        RunResult r = RunEncoder({in, out});
        EXPECT_EQ(r.code, 1) << c.name;
        EXPECT_EQ(r.err.find("\n" + c.message), 0u) << c.name << ": " << r.err;
        EXPECT_NE(r.err.find("\nFailed...\n\n"), std::string::npos) << c.name;
        EXPECT_FALSE(Exists(out)) << c.name;
    }
    WriteFile(in, MakeWave(WaveSpec()));
    RunResult r = RunEncoder({"--num-tracks=4", in, out});  // 2 channels in 4 tracks
    EXPECT_EQ(r.code, 1);
    std::remove(in.c_str());
}

TEST(ZafJob, RefusesADeclaredFormatBeforeAllocating)
{
    // 65535 channels of block alignment 1 in 70 KB once asked for gigabytes.
    size_t allocs = 0;
    g_zafJob = ZafJobGlobals();
    g_zafJob.allocUser = &allocs;
    g_zafJob.allocHook = [](void* user, int, const char*, size_t size) -> void* {
        ++*static_cast<size_t*>(user);
        return std::malloc(size);
    };
    g_zafJob.freeHook = [](void*, int, void* block) { std::free(block); };
    const std::string out = TempPath("alloc.zaf");
    EXPECT_EQ(EncodeWaveFile(0, DataPath("wav-65535-channels.wav").c_str(), out.c_str(), 0, 0, 1, 0, 0, 0), 1);
    EXPECT_EQ(allocs, 0u);
    EXPECT_FALSE(Exists(out));
    // The hook does see the allocations of a valid file.
    const std::string in = TempPath("alloc.wav");
    WriteFile(in, MakeWave(WaveSpec()));
    EXPECT_EQ(EncodeWaveFile(0, in.c_str(), out.c_str(), 0, 0, 1, 0, 0, 0), 0);
    EXPECT_GT(allocs, 0u);
    g_zafJob = ZafJobGlobals();
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(ZafJob, PaddedFramesEncodeAsTheirSamples)
{
    // Stereo 16-bit frames with one byte of padding each (block alignment
    // 5): every thread count writes the stream of the same samples without
    // the padding.
    const std::vector<uint8_t> padded = ReadFile(DataPath("wav-block-align-5-stereo16.wav"));
    ASSERT_EQ(padded.size(), 16044u);
    std::vector<uint8_t> plain(padded.begin(), padded.begin() + 44);
    plain[32] = 4;  // block alignment
    for (size_t at = 44; at + 5 <= padded.size(); at += 5)
        plain.insert(plain.end(), padded.begin() + at, padded.begin() + at + 4);
    const uint32_t dataSize = static_cast<uint32_t>(plain.size() - 44), riffSize = dataSize + 36;
    std::memcpy(&plain[40], &dataSize, 4);
    std::memcpy(&plain[4], &riffSize, 4);
    const std::string in = TempPath("plain.wav");
    const std::string out = TempPath("plain.zaf");
    WriteFile(in, plain);
    ASSERT_EQ(RunEncoder({in, out}).code, 0);
    const std::vector<uint8_t> expect = ReadFile(out);
    for (const char* threads : {"1", "2", "3", "4"}) {
        setenv("ZAF_THREADS", threads, 1);
        RunResult r = RunEncoder({DataPath("wav-block-align-5-stereo16.wav"), out});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadFile(out), expect) << "threads " << threads;
    }
    unsetenv("ZAF_THREADS");
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(ZafJob, LoopEndPastTheLastSampleIsCut)
{
    // The loop of this file ends one sample past its 2000 samples.
    const std::string out = TempPath("loop.zaf");
    RunResult r = RunEncoder({DataPath("wav-loop-end-past-last-sample.wav"), out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("WARNING: Loop end 2000 is past the last sample; it is set to 1999.\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Loop                  : 0 - 2000 (Length : 2000)\n"), std::string::npos) << r.out;
    const std::vector<uint8_t> stream = ReadFile(out);
    zafdec::ZafDecoded decoded;
    zafdec::ZafViolation violation;
    ASSERT_TRUE(zafdec::ZafDecodeBuffer(stream.data(), stream.size(), {}, decoded, violation))
        << violation.Describe();
    EXPECT_TRUE(decoded.header.hasLoop);
    EXPECT_EQ(decoded.header.LoopStart(), 0);
    EXPECT_EQ(decoded.header.LoopLength(), 2000);
    EXPECT_EQ(decoded.samples, 2000);
    std::remove(out.c_str());
}

TEST(ZafJob, SameBytesWhateverTheThreadCount)
{
    struct Input {
        WaveSpec spec;
        std::vector<std::string> options;
    };
    WaveSpec shortMono;
    shortMono.channels = 1;
    shortMono.frames = 700;  // shorter than one frame
    WaveSpec stereo;
    stereo.frames = 48000;
    WaveSpec six;
    six.channels = 6;
    six.frames = 20000;
    WaveSpec looped;
    looped.frames = 30000;
    looped.loop = true;
    looped.loopStart = 5000;
    looped.loopEnd = 24999;
    WaveSpec silent;
    silent.silent = true;
    silent.bits = 8;
    const Input inputs[] = {
        {shortMono, {}},
        {stereo, {"-b", "128"}},
        {six, {"--num-tracks=3"}},
        {looped, {"--key=0xDEADBEEF"}},
        {silent, {}},
    };
    const std::string in = TempPath("det.wav");
    const std::string out = TempPath("det.zaf");
    uint64_t hashes[5] = {};
    int n = 0;
    for (const Input& input : inputs) {
        WriteFile(in, MakeWave(input.spec));
        std::vector<uint8_t> first;
        for (const char* threads : {"1", "2", "3", "64"}) {
            setenv("ZAF_THREADS", threads, 1);
            std::vector<std::string> args = input.options;
            args.push_back(in);
            args.push_back(out);
            RunResult r = RunEncoder(args);
            ASSERT_EQ(r.code, 0) << r.err;
            std::vector<uint8_t> bytes = ReadFile(out);
            if (first.empty())
                first = bytes;
            else
                EXPECT_EQ(bytes, first) << "threads " << threads << " input " << n;
        }
        hashes[n++] = Fnv(first);
        if (input.spec.silent) {
            // Every frame of silence is 0xFF 0xFF, zeros and the CRC.
            ASSERT_GT(first.size(), 96u + 8);
            EXPECT_EQ(first[96], 0xFF);
            EXPECT_EQ(first[97], 0xFF);
            EXPECT_EQ(first[98], 0x00);
        }
    }
    unsetenv("ZAF_THREADS");
    std::remove(in.c_str());
    std::remove(out.c_str());
    // Both builds (x86-64 and i386) must write exactly these streams.
    const uint64_t expected[5] = {0xfc6780dd84369bc7ull, 0x4cd7a4a44f8ec0d6ull, 0xaef0c8ee8faf3d1eull,
                                  0xde2729ce7f6ea393ull, 0x689f0b74247c93bfull};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(hashes[i], expected[i]) << "input " << i << " hash 0x" << std::hex << hashes[i];
}

#if defined(__x86_64__)
TEST(ZafProcess, InterruptStopsAndLeavesNoFile)
{
    WaveSpec longInput;
    longInput.frames = 44100 * 120;
    const std::string in = TempPath("long.wav");
    const std::string out = TempPath("long.zaf");
    WriteFile(in, MakeWave(longInput));
    const std::string log = TempPath("long.log");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        FILE* f = std::freopen(log.c_str(), "w", stdout);
        (void)f;
        setenv("ZAF_THREADS", "1", 1);
        execl(ZAFENCODER_PATH, "zafencoder", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until the job is encoding (the output file exists), then interrupt.
    for (int i = 0; i < 200 && !Exists(out); ++i)
        usleep(20000);
    usleep(200000);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::vector<uint8_t> text = ReadFile(log);
    EXPECT_NE(std::string(text.begin(), text.end()).find("\n\nStopped!!\n\n"), std::string::npos);
    EXPECT_FALSE(Exists(out));
    std::remove(in.c_str());
    std::remove(log.c_str());
}
#endif
