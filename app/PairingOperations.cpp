#include "app/AppModel.h"

#include <QDir>

QString AppModel::targetFolderName() const
{
    return QDir(m_folder.path()).dirName();
}

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
        const Backend backend = m_applied;
        const CloudSession session = co_await m_session.ensure(backend);
        co_await m_pairing.renew(backend, session, QStringLiteral("Tarvolin Masaüstü · ") + platformName(), targetFolderName(),
                                 PairingKeeper::Image::Required);
        followPush(); // the session may have been renewed
        setStatus(QStringLiteral("QR kod hazır"));
        setLastError(std::nullopt);
    } catch (const std::exception &error) {
        handle(error);
    }
}

QCoro::Task<> AppModel::refreshPairingWithoutBusy(CloudSession auth)
{
    const QString name = m_services.workspace.computerName().value_or(platformName() + QStringLiteral(" Bilgisayarım"));
    try {
        const Backend backend = m_applied;
        co_await m_pairing.renew(backend, std::move(auth), name, targetFolderName(), PairingKeeper::Image::Optional);
    } catch (const std::exception &error) {
        handle(error);
    }
}
