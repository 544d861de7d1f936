#pragma once

#include "cloud/Backend.h"
#include "cloud/BackendClient.h"
#include "cloud/CloudSession.h"
#include "pairing/PairingResponse.h"

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>

#include <optional>

// This computer's current one-time pairing code and its QR image.
class PairingKeeper : public QObject
{
    Q_OBJECT
public:
    enum class Image { Required, Optional };

    explicit PairingKeeper(BackendClient &client, QObject *parent = nullptr);

    const std::optional<PairingResponse> &pairing() const { return m_pairing; }
    QImage qrImage() const { return m_qrImage; } // null: no image

    // Asks the backend for a new code for this computer, named `computerName`, saving into a folder
    // named `targetFolderName`, and draws it. Throws the request's error, or
    // CompanionError::invalidResponse for an answer that does not decode (or, when the image is
    // required, whose code cannot be drawn); nothing changes then. An answer that arrives after
    // clear() belongs to the previous backend and is dropped.
    QCoro::Task<> renew(
        Backend backend, CloudSession session, QString computerName, QString targetFolderName, Image image);
    // Forgets the code and its image.
    void clear();
    // Takes up a code and an image obtained elsewhere (a restored or previewed window).
    void setPairing(const std::optional<PairingResponse> &pairing);
    void setQrImage(const QImage &image);

Q_SIGNALS:
    void pairingChanged();
    void qrImageChanged();

private:
    BackendClient &m_client;
    std::optional<PairingResponse> m_pairing;
    QImage m_qrImage;
    quint64 m_generation = 0; // counts clears
};
