#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "app/RunningFlag.h"
#include "cloud/HttpExchange.h"
#include "update/VersionOrder.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace {

const QString appStoreText = QStringLiteral("Güncellemeler Mac App Store tarafından otomatik yüklenir");
const QString upToDatePrefix = QStringLiteral("Tarvolin güncel · ");
const QString checkFailedPrefix = QStringLiteral("Güncelleme denetlenemedi: ");

// Without it a silent peer would hold the check, and every later one, forever.
constexpr int transferTimeoutMs = 60000;

} // namespace

bool AppModel::isAppStoreBuild() const
{
    const QString bundle = m_services.application.bundlePath();
    if (bundle.isEmpty())
        return false;
    return QFileInfo::exists(bundle + QStringLiteral("/Contents/_MASReceipt/receipt"));
}

QString AppModel::currentVersion() const
{
    // The install step writes the version, one line, into the application folder.
    const QString bundle = m_services.application.bundlePath();
    if (bundle.isEmpty())
        return m_build.version;
    QFile file(bundle + QStringLiteral("/Contents/version"));
    if (!file.open(QIODevice::ReadOnly))
        return m_build.version;
    const QString version = QString::fromUtf8(file.read(256)).section(QLatin1Char('\n'), 0, 0).trimmed();
    return version.isEmpty() ? m_build.version : version;
}

bool AppModel::isNewerVersion(const QString &version) const
{
    return compareVersions(version, currentVersion()) > 0;
}

QCoro::Task<> AppModel::checkForUpdates(bool silent)
{
    if (isAppStoreBuild()) {
        setUpdateStatus(appStoreText);
        if (!silent) {
            const QUrl link(m_build.storeLink, QUrl::StrictMode);
            if (link.isValid() && !link.scheme().isEmpty())
                m_services.workspace.open(link);
        }
        co_return;
    }

    // A check that finds an update runs until the program quits; a second one must not download again.
    if (m_isCheckingForUpdates)
        co_return;
    const RunningFlag checking(this, m_isCheckingForUpdates);
    QPointer<AppModel> self(this);

    // Written first, so that a failing check also waits for the next period.
    m_settings.set(SettingKeys::lastUpdateCheck, m_services.clock.now());

    try {
        const QUrl url(m_build.siteOrigin + QStringLiteral("/updates/macos.json"), QUrl::StrictMode);
        if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
            throw CompanionError::invalidURL();

        QNetworkRequest request(url);
        request.setTransferTimeout(transferTimeoutMs);
        const HttpAnswer answer = co_await exchange(m_services.http, std::move(request), "GET", QByteArray());
        if (!self)
            co_return;
        if (answer.status < 200 || answer.status > 299)
            throw CompanionError::invalidResponse();

        const auto manifest = DesktopUpdateManifest::fromJson(answer.body);
        if (!manifest)
            throw PlatformError(QStringLiteral("Güncelleme bilgisi doğru biçimde olmadığından okunamadı."));

        if (isNewerVersion(manifest->version)) {
            setUpdateStatus(QStringLiteral("Tarvolin ") + manifest->version + QStringLiteral(" indiriliyor…"));
            co_await downloadAndInstallUpdate(*manifest);
        } else {
            setUpdateStatus(upToDatePrefix + currentVersion());
        }
    } catch (const std::exception &error) {
        if (self && !silent)
            setLastError(checkFailedPrefix + errorMessage(error));
    }
}
