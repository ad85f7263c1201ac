// The whole encoding job on an arbitrary WAV file, with settings taken from
// the first bytes of the input. Whatever the file, the job ends with a
// result code; a stream it writes is the same for one and for three
// threads, and the verification decoder accepts it.
#include "audio/ZafJob.h"
#include "audio/decoder/ZafDecoder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Settings {
    int quality = 0, cutoff = 0, tracks = 1, config = 0;
    uint64_t key = 0;
};

// Settings from three bytes: quality level or bitrate, tracks and cutoff,
// configuration and key.
Settings SettingsFrom(const uint8_t* p)
{
    Settings s;
    s.quality = p[0] < 0x80 ? -1 - (p[0] % 5) : 6 + (p[0] - 0x80) * 4;
    s.tracks = 1 + (p[1] & 3);
    s.cutoff = (p[1] >> 2) * 700;
    s.config = (p[2] & 0x0F) == 0 ? 0 : p[2] & 0x8F;
    s.key = (p[2] & 0x40) ? 0x0123456789ABCDEFull : 0;
    return s;
}

int Encode(const Settings& s, const std::string& in, const std::string& out, const char* threads)
{
    setenv("ZAF_THREADS", threads, 1);
    return EncodeWaveFile(0, in.c_str(), out.c_str(), s.quality, s.cutoff, s.tracks, s.config,
                          static_cast<uint32_t>(s.key), static_cast<uint32_t>(s.key >> 32));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string base = "/tmp/zaf_job_fuzz_" + std::to_string(getpid());
    static const std::string in = base + ".wav", out = base + ".zaf";
    static FILE* devNull = std::fopen("/dev/null", "w");
    if (size < 3)
        return 0;
    g_zafJob = ZafJobGlobals();
    g_zafJob.report = devNull;
    g_zafJob.warnings = devNull;

    const Settings s = SettingsFrom(data);
    {
        std::ofstream f(in, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data + 3), static_cast<std::streamsize>(size - 3));
    }
    const int result = Encode(s, in, out, "1");
    Check(result == 0 || result == 1);
    if (result == 0) {
        const std::vector<uint8_t> single = ReadAll(out);
        Check(Encode(s, in, out, "3") == 0);
        Check(ReadAll(out) == single);
        zafdec::ZafDecodeOptions options;
        options.haveKey = s.key != 0;
        options.key = s.key;
        zafdec::ZafDecoded decoded;
        zafdec::ZafViolation violation;
        if (!zafdec::ZafDecodeBuffer(single.data(), single.size(), options, decoded, violation)) {
            std::fprintf(stderr, "stream refused: %s\n", violation.Describe().c_str());
            std::abort();
        }
    } else {
        Check(access(out.c_str(), F_OK) != 0);  // a failed job leaves no file
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    return 0;
}
