#include "app/AppModel.h"

#include "core/CompanionError.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <qrencode.h>

#include <memory>

namespace {

constexpr int moduleScale = 9;
// The blank margin scanners need around the code, in modules.
constexpr int quietZoneModules = 4;
// The size at which the views show the code, whatever the number of modules.
constexpr double displaySize = 270.0;

const QString fallbackComputerName = QStringLiteral("Mac Bilgisayarım");

QByteArray pairingBody(const QString &computerName, const QUrl &targetFolder)
{
    const QString folderName = QDir(QDir::cleanPath(targetFolder.toLocalFile())).dirName();
    const QJsonObject body{{QStringLiteral("computerName"), computerName},
                           {QStringLiteral("targetFolderName"), folderName}};
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

} // namespace

QCoro::Task<> AppModel::refreshPairing()
{
    if (!isConfigured()) {
        setShowingCloudSettings(true);
        co_return;
    }
    BusyScope busy(*this);
    setStatus(QStringLiteral("QR kod hazırlanıyor…"));
    setLastError(std::nullopt);

    try {
        const CloudSession session = co_await ensureSession();
        const QByteArray answer = co_await request(
            QStringLiteral("/functions/v1/create-pairing"), QByteArrayLiteral("POST"),
            pairingBody(QStringLiteral("Tarvolin Masaüstü · Mac"), m_targetFolder), session.accessToken,
            std::nullopt);
        const std::optional<PairingResponse> pairing = PairingResponse::fromJson(answer);
        if (!pairing)
            throw CompanionError::invalidResponse();
        const QImage image = makeQRCode(pairing->qrText);
        if (image.isNull())
            throw CompanionError::invalidResponse();
        setPairing(pairing);
        setQrImage(image);
        setStatus(QStringLiteral("QR kod hazır"));
        setLastError(std::nullopt);
    } catch (const std::exception &error) {
        handle(error);
    }
}

QCoro::Task<> AppModel::refreshPairingWithoutBusy(CloudSession auth)
{
    const QString name = m_services.workspace.computerName().value_or(fallbackComputerName);
    try {
        const QByteArray answer =
            co_await request(QStringLiteral("/functions/v1/create-pairing"), QByteArrayLiteral("POST"),
                             pairingBody(name, m_targetFolder), auth.accessToken, std::nullopt);
        const std::optional<PairingResponse> pairing = PairingResponse::fromJson(answer);
        if (!pairing)
            throw CompanionError::invalidResponse();
        setPairing(pairing);
        setQrImage(makeQRCode(pairing->qrText));
    } catch (const std::exception &error) {
        handle(error);
    }
}

QImage AppModel::makeQRCode(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return {};
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
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
    QImage scaled = image.scaled(side * moduleScale, side * moduleScale, Qt::IgnoreAspectRatio,
                                 Qt::FastTransformation);
    if (scaled.isNull())
        return {};
    scaled.setDevicePixelRatio(scaled.width() / displaySize);
    return scaled;
}
