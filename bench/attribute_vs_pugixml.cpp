// The attribute reader against pugixml as a yardstick, in one process, on
// the same generated menu document (our text, and the same screens as XML):
// parse alone, parse with a typed walk of every attribute and data value,
// and destruction of the parsed tree, in alternating rounds. Prints the
// median processor time of each side and MB/s of each side's own text.
// Built only when the bench configuration finds pugixml (Debian
// libpugixml-dev); nothing else links it.
#include "AttributeBench.h"
#include "BenchTiming.h"

#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using bench_timing::Median;
using bench_timing::ProcessorSeconds;

// Every attribute as an integer (or a string's length where it is quoted
// text), and the data list of each element cut at its commas and read as
// numbers: the typed reading our walk gets from the tree.
int64_t WalkPugi(const pugi::xml_node& root)
{
    int64_t sum = 0;
    for (pugi::xml_node n = root.first_child(); n;) {
        if (n.type() == pugi::node_element) {
            for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
                const char* v = a.value();
                sum += (*v >= '0' && *v <= '9') || *v == '-' ? a.as_int() : static_cast<int64_t>(std::strlen(v));
            }
        } else if (n.type() == pugi::node_pcdata) {
            for (const char* p = n.value(); *p != 0;) {
                while (*p == ' ' || *p == '\t' || *p == '\n' || *p == ',') ++p;
                if (*p == 0) break;
                if (*p == '"') {
                    const char* end = std::strchr(p + 1, '"');
                    if (end == nullptr) break;
                    sum += end - p - 1;
                    p = end + 1;
                } else {
                    char* end = nullptr;
                    sum += static_cast<int64_t>(std::strtod(p, &end));
                    p = end > p ? end : p + 1;
                }
            }
        }
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n != root && !n.next_sibling()) n = n.parent();
        if (n == root) break;
        n = n.next_sibling();
    }
    return sum;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t megabytes = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    attribute_bench::MenuTextGen ourGen(20261210);
    const std::string ours = ourGen.Generate(megabytes << 20);
    const std::string xml = attribute_bench::MenuTextGen(20261210).GenerateXml(ourGen.Screens());

    attribute_bench::Heaps heaps;

    std::vector<double> ourParse, ourWalk, ourDestroy, pugiParse, pugiWalk, pugiDestroy;
    int64_t checksum = 0;
    for (int r = 0; r < rounds; ++r) {
        double t0 = ProcessorSeconds();
        AtrParser parser;
        AtrNode* tree = parser.CreateTreeFromText(ours.c_str(), nullptr);
        double t1 = ProcessorSeconds();
        if (tree == nullptr) {
            std::fprintf(stderr, "our reader failed\n");
            return 1;
        }
        checksum += attribute_bench::Walk(tree);
        double t2 = ProcessorSeconds();
        AtrNodeDestroyChain(tree);
        double t3 = ProcessorSeconds();
        ourParse.push_back(t1 - t0);
        ourWalk.push_back(t2 - t1);
        ourDestroy.push_back(t3 - t2);

        t0 = ProcessorSeconds();
        {
            pugi::xml_document doc;
            const pugi::xml_parse_result result = doc.load_buffer(xml.data(), xml.size());
            t1 = ProcessorSeconds();
            if (!result) {
                std::fprintf(stderr, "pugixml failed: %s\n", result.description());
                return 1;
            }
            checksum += WalkPugi(doc);
            t2 = ProcessorSeconds();
        }
        t3 = ProcessorSeconds();
        pugiParse.push_back(t1 - t0);
        pugiWalk.push_back(t2 - t1);
        pugiDestroy.push_back(t3 - t2);
    }
    const double ourMb = static_cast<double>(ours.size()) / 1e6;
    const double xmlMb = static_cast<double>(xml.size()) / 1e6;
    auto line = [](const char* what, double ourSeconds, double ourBytes, double theirSeconds, double theirBytes) {
        std::printf("%-22s ours %8.1f MB/s (%7.2f ms)   pugixml %8.1f MB/s (%7.2f ms)   ratio %.2f\n", what,
                    ourBytes / ourSeconds, ourSeconds * 1e3, theirBytes / theirSeconds, theirSeconds * 1e3,
                    (ourBytes / ourSeconds) / (theirBytes / theirSeconds));
    };
    std::printf("text %.1f MB, XML %.1f MB, %d screens; median processor time of %d rounds (checksum %lld)\n", ourMb,
                xmlMb, ourGen.Screens(), rounds, static_cast<long long>(checksum));
    line("parse", Median(ourParse), ourMb, Median(pugiParse), xmlMb);
    std::vector<double> ourBoth, pugiBoth;
    for (int r = 0; r < rounds; ++r) {
        ourBoth.push_back(ourParse[static_cast<size_t>(r)] + ourWalk[static_cast<size_t>(r)]);
        pugiBoth.push_back(pugiParse[static_cast<size_t>(r)] + pugiWalk[static_cast<size_t>(r)]);
    }
    line("parse + typed walk", Median(ourBoth), ourMb, Median(pugiBoth), xmlMb);
    std::printf("%-22s ours %8.2f ms   pugixml %8.2f ms\n", "destroying the tree", Median(ourDestroy) * 1e3,
                Median(pugiDestroy) * 1e3);
    return 0;
}
