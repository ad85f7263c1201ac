// A host program of the installed libraries. It compiles an attribute image
// (TbnCompilerOutput), writes a QR symbol bitmap (CreateEncodeData), reduces
// an image to 16-bit pixels (rdq calls) and reads an attribute text with the
// kit of corvanta, checking every result. Build it against an installed tree
// with CMakeLists.txt beside it (find_package) or with pkg-config; it takes a
// scratch folder for its files and exits 0 when every check passed.
#include "attribute/AtrNode.h"
#include "attribute/AtrParser.h"
#include "bundle/TbnCompiler.h"
#include "kit/CvkHeap.h"
#include "kit/CvkHeapSimple.h"
#include "kit/CvkSystem.h"
#include "qr/MatrixSym.h"
#include "reduce/RdqApi.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

std::vector<char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An instance and its template; the image starts with the code word.
void CompileImage(const std::string& dir)
{
    const std::string path = dir + "/menu.bin";
    const char instance[] = "<P x = 5, s = \"ab\" />";
    const char templ[] = "<T><P><f type = \"SINT\", name = \"x\", size = 4 />"
                         "<f type = \"STRING\", name = \"s\" /></P></T>";
    Check(TbnCompilerOutput(path.c_str(), instance, templ, 0x4D454E55) == 1, "TbnCompilerOutput returns 1");
    const std::vector<char> image = ReadFile(path);
    Check(image.size() > 32 && std::memcmp(image.data(), "MENU", 4) == 0, "the image starts with its code");
}

// Eleven upper-case letters and a space fit version 1: 21 x 21 pixels of
// 4 bytes behind a 54-byte header.
void WriteSymbol(const std::string& dir)
{
    const std::string path = dir + "/symbol.bmp";
    const std::u16string wide(path.begin(), path.end());
    Check(CreateEncodeData(wide.c_str(), u"HELLO WORLD", 0) == 1, "CreateEncodeData returns 1");
    const std::vector<char> bitmap = ReadFile(path);
    Check(bitmap.size() == 54 + 4 * 21 * 21 && bitmap[0] == 'B' && bitmap[1] == 'M', "a 21 x 21 bitmap");
}

// Pure red, green, blue and white to 5-6-5 pixels (red in bits 0-4, blue in
// bits 11-15, least significant byte first): exact values.
void ReduceImage()
{
    const uint8_t rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    const uint8_t expected[] = {0x1F, 0x00, 0xE0, 0x07, 0x00, 0xF8, 0xFF, 0xFF};
    void* h = rdqOpenHandle();
    Check(h != nullptr, "rdqOpenHandle");
    Check(rdqSetImage(h, RDQ_IMAGE_RGB, 0, rgb, 2, 2) != 0, "rdqSetImage");
    Check(rdqReduce(h, RDQ_REDUCE_565) != 0, "rdqReduce to 5-6-5");
    Check(rdqGetImageType(h, 0) == RDQ_REDUCE_565 && rdqGetImageWidth(h, 0) == 2 && rdqGetImageHeight(h, 0) == 2 &&
              rdqGetImageDataSize(h, 0) == sizeof expected,
          "a 2 x 2 image of the 5-6-5 reduction");
    const void* pixels = rdqGetImage(h, 0);
    Check(pixels != nullptr && std::memcmp(pixels, expected, sizeof expected) == 0, "the 5-6-5 pixels");
    Check(rdqCloseHandle(h) != 0, "rdqCloseHandle");
}

// The host installs the heap, starts the kit, reads a tree, stops the kit.
void ReadTree()
{
    CvkHeapSimple heap(nullptr, 0, 16);
    CvkHeapSetSystem(&heap);
    Check(CvkInitCorvantaSystem() != 0, "CvkInitCorvantaSystem");
    {
        AtrParser parser;
        AtrNode* root = parser.CreateTreeFromText("<Menu><Item /><Item /></Menu>");
        Check(root != nullptr && root->GetChildSize("Item") == 2, "AtrParser reads two items");
        AtrNode::Destroy(root);
    }
    CvkExitCorvantaSystem();
    CvkHeapSetSystem(nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string dir = argc > 1 ? argv[1] : ".";
    CompileImage(dir);
    WriteSymbol(dir);
    ReduceImage();
    ReadTree();
    std::printf("%s\n", g_failures == 0 ? "all checks passed" : "some checks failed");
    return g_failures == 0 ? 0 : 1;
}
