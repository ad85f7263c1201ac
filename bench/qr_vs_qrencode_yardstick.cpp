// The libqrencode side of qr_vs_qrencode, in a file of its own: its header
// and ours both name the QR modes.
#include <qrencode.h>

#include <string>

// Encodes one text at level M (case kept, modes chosen by the library) and
// adds the centre module to checksum. Returns false when the library fails.
bool YardstickEncode(const std::string& text, long& checksum)
{
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code) return false;
    checksum += code->data[code->width * (code->width / 2) + code->width / 2] & 1;
    QRcode_free(code);
    return true;
}
