#pragma once

#include <QImage>
#include <QString>

// The text as a QR code (8-bit mode, error correction level M) with its quiet zone, one pixel a
// module, sized (by its pixel ratio) to be shown at 270 points and meant to be scaled up unsmoothed.
// A null image when the text is empty or too long for any code.
QImage makeQRCode(const QString &text);
