#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "update/ArchiveUnpacker.h"
#include "update/SwapScript.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QPointer>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QUuid>
#include <QCoro/QCoroNetworkReply>

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

const QString notSecureText = QStringLiteral("Güncelleme paketi güvenli değil.");
const QString downloadFailedText = QStringLiteral("Güncelleme indirilemedi.");
const QString verifyFailedText = QStringLiteral("Güncelleme paketi doğrulanamadı.");
const QString incompleteText = QStringLiteral("Güncelleme paketi eksik.");
const QString notReplaceableText = QStringLiteral("Bu kurulum kendiliğinden güncellenemez.");
const QString installingText = QStringLiteral("Güncelleme kuruluyor…");

const QString bundleName = QStringLiteral("Tarvolin.app");
const QString executableInBundle = QStringLiteral("/Contents/MacOS/Tarvolin");

constexpr int transferTimeoutMs = 60000;

QString freshUuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// The swap replaces whatever folder the program runs from. Run from anywhere but an installed
// application folder (a build tree, say), that would be some unrelated folder: refuse before
// downloading anything.
bool isReplaceableBundle(const QString &path)
{
    return !path.isEmpty() && QFileInfo(path).fileName() == bundleName
        && isExecutableFile(path + executableInBundle);
}

// Lower-case hexadecimal against any letter case, without Unicode case folding.
bool sameDigest(const QByteArray &lowerHex, const QString &published)
{
    if (published.size() != lowerHex.size())
        return false;
    for (qsizetype i = 0; i < published.size(); ++i) {
        char16_t c = published[i].unicode();
        if (c >= u'A' && c <= u'F')
            c = c - u'A' + u'a';
        if (c != char16_t(static_cast<unsigned char>(lowerHex[i])))
            return false;
    }
    return true;
}

void makeFolder(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error)
        throw PlatformError(QString::fromStdString(error.message()));
}

struct DownloadedArchive {
    std::unique_ptr<QTemporaryFile> file; // removed with this object unless kept
    QByteArray sha256Hex;                 // lower case
};

// Streams the archive into a hidden file in `folder` while hashing it, so memory stays flat whatever
// the archive's size.
QCoro::Task<DownloadedArchive> downloadArchive(HttpClient *http, QUrl url, QString folder)
{
    auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.Tarvolin-Download-XXXXXX"));
    if (!file->open())
        throw PlatformError(file->errorString());

    QNetworkRequest request(url);
    request.setTransferTimeout(transferTimeoutMs);
    std::unique_ptr<QNetworkReply> reply(http->send(request, QByteArrayLiteral("GET"), {}));

    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::optional<QString> writeError;
    auto drain = [&] {
        const QByteArray chunk = reply->readAll();
        if (chunk.isEmpty() || writeError)
            return;
        hash.addData(chunk);
        if (file->write(chunk) != chunk.size()) {
            writeError = file->errorString();
            // Not from inside the reply's own signal: finishing would resume us and delete it there.
            QMetaObject::invokeMethod(reply.get(), &QNetworkReply::abort, Qt::QueuedConnection);
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::readyRead, reply.get(), drain);
    co_await reply.get();
    drain();

    if (writeError)
        throw PlatformError(*writeError);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() && reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    if (!status.isValid() || status.toInt() < 200 || status.toInt() > 299)
        throw CompanionError::server(downloadFailedText);
    if (reply->error() != QNetworkReply::NoError)
        throw PlatformError(reply->errorString());
    if (!file->flush())
        throw PlatformError(file->errorString());
    file->close();

    co_return DownloadedArchive{std::move(file), hash.result().toHex()};
}

} // namespace

QCoro::Task<> AppModel::downloadAndInstallUpdate(DesktopUpdateManifest manifest)
{
    const QString &address = manifest.macUniversalUrl;
    const QUrl url(address, QUrl::StrictMode);
    // QUrl lower-cases the scheme it reports, so the text must start with it as written.
    if (!url.isValid() || url.scheme() != QLatin1String("https") || !address.startsWith(QLatin1String("https:"))
        || url.host().isEmpty() || manifest.macUniversalSha256.size() != 64)
        throw CompanionError::server(notSecureText);
    if (!isReplaceableBundle(m_services.application.bundlePath()))
        throw CompanionError::server(notReplaceableText);

    QPointer<AppModel> self(this);
    const QString temporary = m_services.application.temporaryDirectory();
    DownloadedArchive archive = co_await downloadArchive(&m_services.http, url, temporary);
    if (!self)
        co_return;
    if (!sameDigest(archive.sha256Hex, manifest.macUniversalSha256))
        throw CompanionError::server(verifyFailedText);

    const QString workFolder = temporary + QStringLiteral("/Tarvolin-Update-") + freshUuidText();
    makeFolder(workFolder);

    // The verified file moves in whole: update.zip is never seen half-written.
    const QString archivePath = workFolder + QStringLiteral("/update.zip");
    if (!archive.file->rename(archivePath))
        throw PlatformError(archive.file->errorString());
    archive.file->setAutoRemove(false);

    const QString stage = workFolder + QStringLiteral("/stage");
    if (!QDir().mkdir(stage))
        throw PlatformError(QStringLiteral("%1: klasör oluşturulamadı.").arg(stage));

    try {
        unpackUpdateArchive(archivePath, stage);
    } catch (const CompanionError &) {
        // A refused entry may follow others already written; nothing half-unpacked is left to use.
        QDir(stage).removeRecursively();
        throw;
    }

    const QString stagedApp = QFileInfo(stage).canonicalFilePath() + QLatin1Char('/') + bundleName;
    if (!isExecutableFile(stagedApp + executableInBundle))
        throw CompanionError::server(incompleteText);

    launchUpdater(stagedApp);
    setUpdateStatus(installingText);
    m_services.application.quit();
}

void AppModel::launchUpdater(const QString &stagedApp)
{
    const QString scriptPath = m_services.application.temporaryDirectory() + QStringLiteral("/Tarvolin-Updater-")
        + freshUuidText() + QStringLiteral(".sh");

    QSaveFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly))
        throw PlatformError(script.errorString());
    const QByteArray text = swapScriptText();
    if (script.write(text) != text.size() || !script.commit())
        throw PlatformError(script.errorString());
    if (!QFile::setPermissions(scriptPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        throw PlatformError(QStringLiteral("%1: izinler ayarlanamadı.").arg(scriptPath));

    // Arguments only, never a command line: no path is ever read by a shell as syntax.
    m_services.application.startDetached(
        QStringLiteral("/bin/sh"), {scriptPath, QString::number(m_services.application.processId()), stagedApp,
                                    m_services.application.bundlePath()});
}
