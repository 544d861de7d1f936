#include "pairing/PairingKeeper.h"

#include "core/CompanionError.h"
#include "core/Json.h"
#include "pairing/QrCode.h"

#include <QJsonObject>
#include <QPointer>

PairingKeeper::PairingKeeper(BackendClient &client, QObject *parent)
    : QObject(parent)
    , m_client(client)
{
}

QCoro::Task<> PairingKeeper::renew(
    Backend backend, CloudSession session, QString computerName, QString targetFolderName, Image image)
{
    const QByteArray body = compactJson(QJsonObject{{QStringLiteral("computerName"), computerName},
        {QStringLiteral("targetFolderName"), targetFolderName}});
    const QPointer<PairingKeeper> self(this);
    const quint64 generation = m_generation;
    const QByteArray answer
        = co_await m_client.request(std::move(backend), QStringLiteral("/functions/v1/create-pairing"),
            QByteArrayLiteral("POST"), body, session.accessToken, std::nullopt);
    if (!self || generation != m_generation)
        co_return;
    const std::optional<PairingResponse> pairing = PairingResponse::fromJson(answer);
    if (!pairing)
        throw CompanionError::invalidResponse();
    const QImage qr = makeQRCode(pairing->qrText);
    if (qr.isNull() && image == Image::Required)
        throw CompanionError::invalidResponse();
    setPairing(pairing);
    setQrImage(qr);
}

void PairingKeeper::clear()
{
    ++m_generation;
    setPairing(std::nullopt);
    setQrImage(QImage());
}

void PairingKeeper::setPairing(const std::optional<PairingResponse> &pairing)
{
    if (m_pairing == pairing)
        return;
    m_pairing = pairing;
    Q_EMIT pairingChanged();
}

void PairingKeeper::setQrImage(const QImage &image)
{
    // Images compare by pixels; an identical re-render still counts as a new image for the views.
    m_qrImage = image;
    Q_EMIT qrImageChanged();
}
