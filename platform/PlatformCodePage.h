#pragma once
// Text conversions between the system's Shift_JIS (code page 932), UTF-8 and UTF-16.
#include <string>
#include <string_view>

// Shift_JIS (CP932) bytes to UTF-8. Bytes that do not decode become U+FFFD;
// the call never fails.
std::string PlatformCp932ToUtf8(std::string_view text);

// UTF-8 to CP932. Characters that CP932 cannot represent (and malformed UTF-8)
// become '?', as the Windows ANSI conversion does.
std::string PlatformUtf8ToCp932(std::string_view text);

// UTF-16 to CP932 with the same '?' replacement (unpaired surrogates too).
std::string PlatformUtf16ToCp932(std::u16string_view text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string PlatformUtf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string PlatformUtf8ToUtf16(std::string_view text);
