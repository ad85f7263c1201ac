// Our encoder against libqrencode as a yardstick, in one process: both sides
// encode the same texts at level M into a module matrix (version and mask
// chosen automatically), in alternating rounds, and the median processor
// time of each side gives symbols per second. Built only when the bench
// configuration finds libqrencode (Debian libqrencode-dev); nothing else
// links it.
#include "BenchTiming.h"

#include "qr/QrEncoder.h"
#include "qr/QrTables.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

bool YardstickEncode(const std::string& text, long& checksum);  // qr_vs_qrencode_yardstick.cpp

namespace {

using bench_timing::Median;
using bench_timing::ProcessorSeconds;

// Sixty-four texts of one length, cut at different places of a menu sentence.
std::vector<std::string> Texts(size_t length)
{
    const std::string words = "Menu screens of the set-top box: Play, Stop, Next page 12, focus item 3. ";
    std::string all;
    while (all.size() < length + 64 * 7) all += words;
    std::vector<std::string> texts;
    for (size_t i = 0; i < 64; ++i) texts.push_back(all.substr(i * 7, length));
    return texts;
}

void Compare(size_t length, int symbolsPerRound, int rounds)
{
    const std::vector<std::string> texts = Texts(length);
    auto ours = std::make_unique<QrEncoder>();
    std::vector<double> oursTimes;
    std::vector<double> theirsTimes;
    long checksum = 0;
    for (int r = 0; r < rounds; ++r) {
        double start = ProcessorSeconds();
        for (int i = 0; i < symbolsPerRound; ++i) {
            const std::string& t = texts[static_cast<size_t>(i) % texts.size()];
            if (!ours->Encode(reinterpret_cast<const uint8_t*>(t.data()), t.size(), QR_LEVEL_M, 0)) {
                std::fprintf(stderr, "our encoder failed\n");
                return;
            }
            checksum += ours->IsDark(ours->Size() / 2, ours->Size() / 2);
        }
        oursTimes.push_back(ProcessorSeconds() - start);

        start = ProcessorSeconds();
        for (int i = 0; i < symbolsPerRound; ++i) {
            if (!YardstickEncode(texts[static_cast<size_t>(i) % texts.size()], checksum)) {
                std::fprintf(stderr, "libqrencode failed\n");
                return;
            }
        }
        theirsTimes.push_back(ProcessorSeconds() - start);
    }
    const double oursRate = symbolsPerRound / Median(oursTimes);
    const double theirsRate = symbolsPerRound / Median(theirsTimes);
    std::printf("%5zu characters, version %2d: ours %9.0f symbols/s, libqrencode %9.0f symbols/s, "
                "ratio %.2f (median processor time of %d rounds; checksum %ld)\n",
                length, ours->Version(), oursRate, theirsRate, oursRate / theirsRate, rounds, checksum);
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    Compare(20, 20000, rounds);
    Compare(2000, 200, rounds);
    return 0;
}
