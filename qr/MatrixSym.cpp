#include "qr/MatrixSym.h"

#include "platform/PlatformCodePage.h"
#include "qr/QrBitmap.h"
#include "qr/QrEncoder.h"
#include "qr/QrTables.h"

#include <memory>
#include <new>
#include <string>

extern "C" LUMIVOR_EXPORT int32_t LUMIVOR_STDCALL CreateEncodeData(const char16_t* outputPath,
                                                                  const char16_t* text,
                                                                  int32_t version)
{
    // Nothing may escape to the caller: every failure, out-of-memory
    // included, ends as 0 with no file written.
    try {
        if (!outputPath || !text || version > QR_VERSION_MAX) return 0;
        std::unique_ptr<QrEncoder> encoder(new (std::nothrow) QrEncoder);
        if (!encoder) return 0;
        // The symbol carries the text in code page 932, so that Japanese
        // characters become Kanji-mode characters.
        const std::string bytes = PlatformUtf16ToCp932(std::u16string_view(text));
        if (!encoder->Encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), QR_LEVEL_M,
                             version < 0 ? 0 : version, -1, true))
            return 0;
        const std::string path = PlatformUtf16ToUtf8(std::u16string_view(outputPath));
        const std::vector<uint8_t> image = QrBitmapImage(*encoder);
        // A file that cannot be created leaves the result at 1: the call ran.
        QrWriteFile(path.c_str(), image);
        return 1;
    } catch (...) {
        return 0;
    }
}
