// zafdecode: checks a ZAF stream and decodes it to a 16-bit WAV file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/decoder/ZafDecoder.h"

using namespace zafdec;

namespace {

const char kUsage[] =
    "usage: zafdecode INPUT.zaf OUTPUT.wav [--key HEX]\n"
    "  Checks the stream header and every frame (CRC and bit layout), stops at\n"
    "  the first violation with its frame index and bit offset, and otherwise\n"
    "  writes the decoded samples as a 16-bit PCM WAV file.\n"
    "  --key HEX  key of an enciphered stream (hexadecimal, 0x optional)\n";

bool ParseKey(const char* text, uint64_t& key) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (*text == '\0' || std::strlen(text) > 16) return false;
  uint64_t value = 0;
  for (const char* p = text; *p; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9') digit = *p - '0';
    else if (*p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
    else if (*p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
    else return false;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  key = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string paths[2];
  int pathCount = 0;
  ZafDecodeOptions options;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const char* keyText = nullptr;
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--key") == 0) {
      if (i + 1 >= argc) {
        std::fputs("zafdecode: --key needs a value\n", stderr);
        return 1;
      }
      keyText = argv[++i];
    } else if (std::strncmp(arg, "--key=", 6) == 0) {
      keyText = arg + 6;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      std::fprintf(stderr, "zafdecode: unknown option '%s'\n%s", arg, kUsage);
      return 1;
    } else if (pathCount < 2) {
      paths[pathCount++] = arg;
      continue;
    } else {
      std::fputs(kUsage, stderr);
      return 1;
    }
    if (!ParseKey(keyText, options.key)) {
      std::fprintf(stderr, "zafdecode: invalid key '%s'\n", keyText);
      return 1;
    }
    options.haveKey = true;
  }
  if (pathCount != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }

  ZafHeader header;
  ZafViolation violation;
  if (!ZafDecodeFile(paths[0], paths[1], options, header, violation)) {
    std::fprintf(stderr, "zafdecode: %s: %s\n", paths[0].c_str(), violation.Describe().c_str());
    return 1;
  }
  std::printf("%s: %d Hz, %d channel%s, %u frames, %lld samples", paths[0].c_str(), header.samplingRate,
              header.channels, header.channels == 1 ? "" : "s", header.frameCount,
              static_cast<long long>(header.SampleCount()));
  if (header.hasLoop) {
    std::printf(", loop %lld + %lld", static_cast<long long>(header.LoopStart()),
                static_cast<long long>(header.LoopLength()));
  }
  std::printf("\n");
  return 0;
}
