#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// The signing answer's link, and where it points, read apart from the pass so they can be fed
// anything the backend might send.

// What the user reads for any fetch of a document that failed.
extern const QString downloadFailedText;

// `signedURL`, or `signedUrl` only when the first is absent. Throws the parser's error for text that
// is not JSON and CompanionError::invalidResponse for anything but a text under the key taken.
QString signedLink(const QByteArray &answer);

// The link as an address: absolute as it stands, otherwise under the backend's storage path.
// Always an https address, or http to this machine; anything else throws CompanionError.
QUrl downloadAddress(const QString &link, const QString &backendURL);
