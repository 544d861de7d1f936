#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "app/RunningFlag.h"
#include "transfer/IncomingDocument.h"

#include <QDir>

QCoro::Task<> AppModel::syncNow()
{
    if (!isConfigured() || isWorking() || m_isSyncing)
        co_return;
    BusyScope busy(*this);
    RunningFlag syncing(this, m_isSyncing);

    try {
        if (!m_targetFolderAccessURL)
            throw CompanionError::targetFolderPermissionRequired();
        createFolder(QDir::cleanPath(m_targetFolder.toLocalFile()));

        const CloudSession session = co_await ensureSession();
        if (!m_pairing)
            co_await refreshPairingWithoutBusy(session);
        if (!m_pairing)
            throw CompanionError::invalidResponse();

        const QString path = QStringLiteral("/rest/v1/transfer_items?computer_id=eq.") + m_pairing->computerId
                             + QStringLiteral("&status=eq.pending&select=id,storage_path,original_filename"
                                              "&order=created_at.asc&limit=500");
        const QByteArray answer = co_await request(path, QByteArrayLiteral("GET"), std::nullopt,
                                                   session.accessToken, std::nullopt);
        const std::optional<QList<TransferItem>> items = TransferItem::listFromJson(answer);
        if (!items)
            throw CompanionError::invalidResponse();

        const auto count = int(items->size());
        setPendingCount(count);
        for (int index = 0; index < count; ++index) {
            setStatus(QStringLiteral("%1/%2 evrak indiriliyor…").arg(index + 1).arg(count));
            co_await download(items->at(index), session);
            setPendingCount(std::max(0, m_pendingCount - 1));
            setDownloadedToday(m_downloadedToday + 1);
        }

        setLastSync(m_services.clock.now());
        setStatus(count == 0 ? QStringLiteral("Yeni evrak bekleniyor") : QStringLiteral("Tüm evraklar indirildi"));
        setLastError(std::nullopt);
    } catch (const std::exception &error) {
        handle(error);
    }
}
