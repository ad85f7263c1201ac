#include "qr/QrBitmap.h"

#include "platform/PlatformBytes.h"
#include "qr/QrEncoder.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

std::vector<uint8_t> QrBitmapImage(const QrEncoder& encoder)
{
    const uint32_t n = static_cast<uint32_t>(encoder.Size());
    const uint32_t pixelBytes = 4 * n * n;
    std::vector<uint8_t> image(QR_BMP_HEADER_SIZE + pixelBytes, 0);
    uint8_t* h = image.data();
    h[0] = 'B';
    h[1] = 'M';
    PlatformPutLe32(h + 2, QR_BMP_HEADER_SIZE + pixelBytes);
    PlatformPutLe32(h + 10, QR_BMP_HEADER_SIZE);
    PlatformPutLe32(h + 14, 40);
    PlatformPutLe32(h + 18, n);
    PlatformPutLe32(h + 22, n);
    PlatformPutLe16(h + 26, 1);
    PlatformPutLe16(h + 28, 32);
    PlatformPutLe32(h + 34, pixelBytes);
    uint8_t* p = h + QR_BMP_HEADER_SIZE;
    for (uint32_t x = 0; x < n; ++x)
        for (uint32_t y = 0; y < n; ++y, p += 4)
            PlatformPutLe32(p, encoder.IsDark(static_cast<int>(x), static_cast<int>(y)) ? QR_BMP_DARK : QR_BMP_LIGHT);
    return image;
}

bool QrWriteFile(const char* path, const std::vector<uint8_t>& image)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    // One write of the whole image; a regular file takes it at once, the
    // loop only covers an interrupted or partial write.
    const uint8_t* p = image.data();
    size_t left = image.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += w;
        left -= static_cast<size_t>(w);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}
