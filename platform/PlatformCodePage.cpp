#include "platform/PlatformCodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>

namespace {

// Decodes one UTF-8 sequence at text[pos]; returns the code point or -1 and
// advances pos past what it consumed (at least one byte).
int32_t DecodeUtf8(std::string_view text, size_t& pos)
{
    const auto b0 = static_cast<uint8_t>(text[pos]);
    int need = 0;
    int32_t cp = 0;
    if (b0 < 0x80) { ++pos; return b0; }
    if ((b0 & 0xE0) == 0xC0) { need = 1; cp = b0 & 0x1F; }
    else if ((b0 & 0xF0) == 0xE0) { need = 2; cp = b0 & 0x0F; }
    else if ((b0 & 0xF8) == 0xF0) { need = 3; cp = b0 & 0x07; }
    else { ++pos; return -1; }
    for (int i = 1; i <= need; ++i) {
        if (pos + i >= text.size()) { ++pos; return -1; }
        const auto b = static_cast<uint8_t>(text[pos + i]);
        if ((b & 0xC0) != 0x80) { ++pos; return -1; }
        cp = (cp << 6) | (b & 0x3F);
    }
    static const int32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    pos += need + 1;
    if (cp < kMin[need] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return cp;
}

void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One iconv descriptor per call keeps the functions thread-safe.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() { if (ok()) iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts the whole input; returns false when some input could not be converted.
    bool Convert(const char* in, size_t inSize, std::string& out)
    {
        char buf[64];
        char* src = const_cast<char*>(in);
        size_t left = inSize;
        char* dst = buf;
        size_t room = sizeof buf;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        size_t r = iconv(cd_, &src, &left, &dst, &room);
        out.append(buf, dst - buf);
        if (r == static_cast<size_t>(-1) && errno == E2BIG) {
            // Longer output: retry with a buffer sized for the worst case.
            out.resize(out.size() - (dst - buf));
            std::string big(inSize * 4 + 16, '\0');
            src = const_cast<char*>(in);
            left = inSize;
            dst = big.data();
            room = big.size();
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            r = iconv(cd_, &src, &left, &dst, &room);
            out.append(big.data(), dst - big.data());
        }
        return r != static_cast<size_t>(-1) && left == 0;
    }

private:
    iconv_t cd_;
};

// Converts one code point to CP932, appending '?' when it has no CP932 form.
void AppendCp932(Converter& conv, std::string& out, int32_t cp)
{
    if (cp >= 0 && cp < 0x80) { out += static_cast<char>(cp); return; }
    if (cp < 0 || !conv.ok()) { out += '?'; return; }
    std::string utf8;
    AppendUtf8(utf8, static_cast<uint32_t>(cp));
    std::string piece;
    if (conv.Convert(utf8.data(), utf8.size(), piece) && !piece.empty()) out += piece;
    else out += '?';
}

} // namespace

std::string PlatformCp932ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() * 3 / 2);
    Converter conv("UTF-8", "CP932");
    size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<uint8_t>(text[i]);
        if (b < 0x80) { out += static_cast<char>(b); ++i; continue; }
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        const size_t len = (lead && i + 1 < text.size()) ? 2 : 1;
        std::string piece;
        if (conv.ok() && conv.Convert(text.data() + i, len, piece) && !piece.empty()) out += piece;
        else AppendUtf8(out, 0xFFFD);
        i += len;
    }
    return out;
}

std::string PlatformUtf8ToCp932(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    Converter conv("CP932", "UTF-8");
    size_t pos = 0;
    while (pos < text.size()) {
        const int32_t cp = DecodeUtf8(text, pos);
        AppendCp932(conv, out, cp);
    }
    return out;
}

std::string PlatformUtf16ToCp932(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    Converter conv("CP932", "UTF-8");
    for (size_t i = 0; i < text.size(); ++i) {
        int32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = -1;
        }
        AppendCp932(conv, out, cp);
    }
    return out;
}

std::string PlatformUtf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::u16string PlatformUtf8ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        int32_t cp = DecodeUtf8(text, pos);
        if (cp < 0) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}
