#include "audio/ZafDriver.h"

#include "audio/ZafJob.h"
#include "LumivorVersion.h"
#include "platform/PlatformConsole.h"
#include "platform/PlatformSystem.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Option {
    const char* longName;
    const char* shortName;
    uint8_t takesValue;
    uint8_t present;
    const char* value;
};

enum { OPT_NO_CLOBBER, OPT_QUALITY, OPT_BITRATE, OPT_CUTOFF, OPT_TRACKS, OPT_CONFIG, OPT_CONSTRAINT, OPT_KEY,
       OPT_VERBOSE, OPT_NO_LIMIT };

Option g_options[] = {
    {"--no-clobber", "-n", 0, 0, nullptr},
    {"--quality", "-q", 1, 0, nullptr},
    {"--bitrate", "-b", 1, 0, nullptr},
    {"--cutoff", nullptr, 1, 0, nullptr},
    {"--num-tracks", nullptr, 1, 0, nullptr},
    {"--config", nullptr, 1, 0, nullptr},
    {"--constraint", nullptr, 1, 0, nullptr},
    {"--key", nullptr, 1, 0, nullptr},
    {"--verbose", "-v", 0, 0, nullptr},
    {"--no-limit", nullptr, 0, 0, nullptr},
    {nullptr, nullptr, 0, 0, nullptr},
};

const char kUsage[] =
    "Usage: zafencoder [options] inputfile outputfile\n"
    "\n"
    "Options:\n"
    " --help                 Display this information\n"
    " -h                     Same as --help\n"
    " --no-clobber           Prevent overwriting of an existing file\n"
    " -n                     Same as --no-clobber\n"
    " --quality=<quality>    Set quantizer quality\n"
    "                        The following numbers can be set to <quality>\n"
    "                         5: Highest quality (for debug)\n"
    "                         4: High quality (default)\n"
    "                         3: Middle quality\n"
    "                         2: Low quality (high compression)\n"
    "                         1: Lowest quality (highest compression)\n"
    " -q <quality>           Same as --quality=<quality>\n"
    " --bitrate=<kbps>       Set bitrate directly in kbps.\n"
    " -b <kbps>              Same as --bitrate=<kbps>\n"
    " --cutoff=<frequency>   Set cutoff frequency in Hz\n"
    " --num-tracks=<number>  Specify the number of interleaved tracks\n"
    " --config=<number>      Specify channel configuration in hexadecimal number\n"
    " --no-limit             Ignore minimum bitrate limitation\n"
    " --verbose              Display detailed information\n"
    " -v                     Same as --verbose\n"
    "\n";

char g_lastError[1024];
std::atomic<int32_t> g_stopFlag{0};
FILE* g_err = nullptr;

void ErrorSink(void*, int, const char* text)
{
    // Keep the message within the buffer; a cut never splits a multi-byte
    // character's lead byte from its trail (texts are single-byte here).
    std::snprintf(g_lastError, sizeof g_lastError, "%s", text ? text : "");
}

int ProgressSink(void* user, int, int done, int total)
{
    if (g_stopFlag.load() != 0)
        return 1;
    std::atomic<int32_t>* lock = static_cast<std::atomic<int32_t>*>(user);
    if (lock->exchange(1) == 1)
        return 0;
    if (done % 512 == 0 || done >= total)
        std::fprintf(g_err, "\t( %d / %d )\r", done, total);
    lock->store(0);
    return 0;
}

bool WholeNumber(const char* text)
{
    char* end = nullptr;
    std::strtod(text, &end);
    return end != text && *end == '\0';
}

// Returns the parse code; *bad gets the offending argument index for 3..5.
int Parse(int argc, char** argv, int* bad)
{
    if (argc == 1)
        return 1;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return 1;
    const int n = argc - 2;
    if (argc <= 2)
        return 2;
    if (argv[argc - 2][0] == '-' || argv[argc - 1][0] == '-')
        return 2;
    for (Option* o = g_options; o->longName; ++o) {
        o->present = 0;
        o->value = nullptr;
    }
    for (int k = 1; k <= n - 1; ++k) {
        *bad = k;
        const char* arg = argv[k];
        Option* match = nullptr;
        for (Option* o = g_options; o->longName && !match; ++o) {
            const size_t len = std::strlen(o->longName);
            if (std::strncmp(arg, o->longName, len) == 0) {
                if (o->takesValue) {
                    if (arg[len] != '=' || arg[len + 1] == '\0')
                        return 3;
                    o->value = arg + len + 1;
                }
                match = o;
            } else if (o->shortName && std::strcmp(arg, o->shortName) == 0) {
                if (o->takesValue) {
                    if (k + 1 >= n || !argv[k + 1] || argv[k + 1][0] == '\0')
                        return 3;
                    if (argv[k + 1][0] == '-' && !WholeNumber(argv[k + 1]))
                        return 3;
                    o->value = argv[k + 1];
                    ++k;
                }
                match = o;
            }
        }
        if (!match)
            return 5;
        if (match->present)
            return 4;
        match->present = 1;
    }
    return 0;
}

bool ParseKey(const char* text, uint64_t* key)
{
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        p += 2;
    if (*p == '\0' || std::strlen(p) > 16)
        return false;
    uint64_t v = 0;
    for (; *p; ++p) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (*p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        else
            return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *key = v;
    return true;
}

// What one run hands to the encoding job.
struct JobSettings {
    int quality = 0;
    int cutoff = 0, tracks = 1, config = 0;
    uint64_t key = 0;
};

// Answers what the command line parser found: the usage (exit 0), or an
// error (exit 1). -1 when the job is to run.
int AnswerParse(int code, char** argv, int bad, FILE* out, FILE* err)
{
    switch (code) {
    case 1:
        std::fprintf(out, "%s", kUsage);
        std::fprintf(out, "\n");
        std::fflush(out);
        return 0;
    case 2:
        std::fprintf(err, "ERROR: Last 2 arguments need to be path of files. Use -h for help.\n");
        return 1;
    case 3:
        std::fprintf(err, "ERROR: Needs to specify value of '%s'.\n", argv[bad]);
        return 1;
    case 4:
        std::fprintf(err, "ERROR: '%s' option is specified two or more times.\n", argv[bad]);
        return 1;
    case 5:
        std::fprintf(err, "ERROR: Unrecognized option '%s'.\n", argv[bad]);
        return 1;
    default:
        return -1;
    }
}

// The job's settings from the options given; false (with the message
// written) for a value the encoder does not take.
bool ReadSettings(int argc, char** argv, int bad, JobSettings* js, FILE* err)
{
    int& quality = js->quality;
    int& cutoff = js->cutoff;
    int& tracks = js->tracks;
    int& config = js->config;
    uint64_t& key = js->key;
    if (g_options[OPT_QUALITY].present) {
        quality = static_cast<int>(std::strtol(g_options[OPT_QUALITY].value, nullptr, 10)) - 6;
        if (quality < -5 || quality > -1) {
            std::fprintf(err, "ERROR: Specified quality is invalid.\n");
            return false;
        }
    }
    if (g_options[OPT_BITRATE].present) {
        if (g_options[OPT_QUALITY].present) {
            std::fprintf(err, "ERROR: Either '--quality' or '--bitrate' is available.\n");
            return false;
        }
        quality = static_cast<int>(std::strtol(g_options[OPT_BITRATE].value, nullptr, 10));
        if (quality < 6)
            quality = 6;
    }
    if (g_options[OPT_CUTOFF].present)
        cutoff = static_cast<int>(std::strtol(g_options[OPT_CUTOFF].value, nullptr, 10));
    if (g_options[OPT_TRACKS].present)
        tracks = static_cast<int>(std::strtol(g_options[OPT_TRACKS].value, nullptr, 10));
    if (g_options[OPT_CONFIG].present)
        config = static_cast<int>(std::strtol(g_options[OPT_CONFIG].value, nullptr, 16));
    if (g_options[OPT_CONSTRAINT].present)
        g_zafJob.bandConstraint = static_cast<int>(std::strtol(g_options[OPT_CONSTRAINT].value, nullptr, 16));
    if (g_options[OPT_KEY].present && !ParseKey(g_options[OPT_KEY].value, &key)) {
        for (int k = 1; k < argc - 2; ++k)
            if (std::strncmp(argv[k], "--key", 5) == 0)
                bad = k;
        std::fprintf(err, "ERROR: Needs to specify value of '%s'.\n", argv[bad]);
        return false;
    }
    if (g_options[OPT_VERBOSE].present)
        g_zafJob.detailReport = 1;
    if (g_options[OPT_NO_LIMIT].present)
        g_zafJob.bitrateFloor = 0;
    return true;
}

// Runs the job with the driver's sinks and reports how it ended.
int RunJob(const char* input, const char* output, const JobSettings& js, FILE* out, FILE* err)
{
    std::atomic<int32_t> progressLock{0};
    PlatformInstallStopFlag(&g_stopFlag);
    g_zafJob.errorSink = ErrorSink;
    g_zafJob.errorUser = nullptr;
    g_zafJob.progressSink = ProgressSink;
    g_zafJob.progressUser = &progressLock;

    std::fprintf(out, "Input file            : %s\n", input);
    std::fprintf(out, "Output file           : %s\n", output);
    g_zafJob.basicReport = 1;
    const int result = EncodeWaveFile(0, input, output, js.quality, js.cutoff, js.tracks, js.config,
                                      static_cast<uint32_t>(js.key), static_cast<uint32_t>(js.key >> 32));
    if (result == 0) {
        std::fprintf(out, "\n\nComplete!!\n\n");
        std::fflush(out);
        return 0;
    }
    if (result == 2) {
        std::fprintf(out, "\n\nStopped!!\n\n");
        std::fflush(out);
        return 2;
    }
    std::fprintf(err, "\n%s", g_lastError);
    std::fprintf(err, "\nFailed...\n\n");
    std::fflush(out);
    return 1;
}

}  // namespace

int ZafEncoderMain(int argc, char** argv, FILE* out, FILE* err)
{
    g_err = err;
    g_zafJob = ZafJobGlobals();
    g_zafJob.report = out;
    g_zafJob.warnings = err;
    g_lastError[0] = '\0';
    std::fprintf(out, "_/_/_/ ZAF Encoder for Lumivor Ver.2.30 (%s) _/_/_/\n", __DATE__);
    std::fprintf(out, "\n");

    // --version alone: the tool chain's version after the banner, which keeps
    // the encoder's own.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fprintf(out, "zafencoder %s\n", LUMIVOR_VERSION);
        return 0;
    }

    int bad = 0;
    const int code = Parse(argc, argv, &bad);
    const int answer = AnswerParse(code, argv, bad, out, err);
    if (answer >= 0)
        return answer;
    const char* input = argv[argc - 2];
    const char* output = argv[argc - 1];
    if (g_options[OPT_NO_CLOBBER].present && PlatformPathExists(output)) {
        std::fprintf(err, "ERROR: '%s' already exists.\n", output);
        return 1;
    }
    JobSettings js;
    if (!ReadSettings(argc, argv, bad, &js, err))
        return 1;
    return RunJob(input, output, js, out, err);
}
