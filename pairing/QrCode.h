#pragma once

#include <QImage>
#include <QString>

// The text as a QR code (8-bit mode, error correction level M) with its quiet zone, each module nine
// pixels wide and never smoothed, sized to be shown at 270 points. A null image when the text is
// empty or too long for any code.
QImage makeQRCode(const QString &text);
