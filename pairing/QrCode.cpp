#include "pairing/QrCode.h"

#include <qrencode.h>

#include <memory>

namespace {

constexpr int moduleScale = 9;
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
    QImage scaled
        = image.scaled(side * moduleScale, side * moduleScale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (scaled.isNull())
        return {};
    scaled.setDevicePixelRatio(scaled.width() / displaySize);
    return scaled;
}
