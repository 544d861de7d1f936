#include "pairing/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace {

// The blank margin scanners need around the code, in modules.
constexpr int quietZoneModules = 4;
// The size at which the views show the code, whatever the number of modules.
constexpr double displaySize = 270.0;

} // namespace

QImage makeQRCode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(
            int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()), 0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code)
        return {};

    const int modules = code->width;
    const int side = modules + 2 * quietZoneModules;
    QImage image(side, side, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int y = 0; y < modules; ++y) {
        uchar *row = image.scanLine(y + quietZoneModules);
        for (int x = 0; x < modules; ++x) {
            // Bit 0 of each libqrencode byte tells whether the module is dark.
            if (code->data[y * modules + x] & 1)
                row[x + quietZoneModules] = 0;
        }
    }
    // The views scale it as they draw it: a code drawn large here would be a tenth of a MiB held for as
    // long as the code stands, and the scaling code with it.
    image.setDevicePixelRatio(side / displaySize);
    return image;
}
