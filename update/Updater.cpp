#include "update/Updater.h"

#include "cloud/Exchange.h"
#include "core/CompanionError.h"
#include "core/Sha256.h"
#include "platform/PlatformError.h"
#include "update/ArchiveUnpacker.h"
#include "update/SwapScript.h"
#include "update/VersionOrder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>
#include <QPointer>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QUuid>

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

const QString notSecureText = QStringLiteral("Güncelleme paketi güvenli değil.");
const QString downloadFailedText = QStringLiteral("Güncelleme indirilemedi.");
const QString verifyFailedText = QStringLiteral("Güncelleme paketi doğrulanamadı.");
const QString incompleteText = QStringLiteral("Güncelleme paketi eksik.");
const QString notReplaceableText = QStringLiteral("Bu kurulum kendiliğinden güncellenemez.");
const QString undecodableText = QStringLiteral("Güncelleme bilgisi doğru biçimde olmadığından okunamadı.");

const QString bundleName = QStringLiteral("Tarvolin.app");
const QString executableInBundle = QStringLiteral("/Contents/MacOS/Tarvolin");

// Without it a silent peer would hold the check, and every later one, forever.
constexpr std::chrono::milliseconds transferIdleTimeout{60000};

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

// The archive on its way: a hidden file in the temporary folder, hashed as the bytes arrive, so memory
// stays flat whatever the archive's size. Removed with this object unless kept.
class ArchiveDownload : public ReplySink
{
public:
    explicit ArchiveDownload(const QString &folder) : file(folder + QStringLiteral("/.Tarvolin-Download-XXXXXX"))
    {
        if (!file.open())
            throw PlatformError(file.errorString());
    }

    void write(QByteArrayView bytes) override
    {
        if (file.write(bytes.data(), bytes.size()) != bytes.size())
            throw PlatformError(file.errorString());
        hash.addData(bytes);
    }

    QTemporaryFile file;
    Sha256 hash;
};

} // namespace

Updater::Updater(HttpClient &http, ApplicationHost &application, BuildValues build, QObject *parent)
    : QObject(parent), m_http(http), m_application(application), m_build(std::move(build))
{
}

Updater::InstallOwner Updater::installOwner() const
{
    // Files the package manager installed are in its records: replacing them behind its back would
    // break its next upgrade or removal. Its package puts this marker beside the program.
    const QString program = m_application.programFolder();
    if (!program.isEmpty() && QFileInfo::exists(program + QStringLiteral("/package-managed")))
        return InstallOwner::packageManager;
    const QString bundle = m_application.bundlePath();
    if (!bundle.isEmpty() && QFileInfo::exists(bundle + QStringLiteral("/Contents/_MASReceipt/receipt")))
        return InstallOwner::store;
    return InstallOwner::user;
}

QString Updater::currentVersion() const
{
    // The install step writes the version, one line, into the application folder.
    const QString bundle = m_application.bundlePath();
    if (bundle.isEmpty())
        return m_build.version;
    QFile file(bundle + QStringLiteral("/Contents/version"));
    if (!file.open(QIODevice::ReadOnly))
        return m_build.version;
    const QString version = QString::fromUtf8(file.read(256)).section(QLatin1Char('\n'), 0, 0).trimmed();
    return version.isEmpty() ? m_build.version : version;
}

bool Updater::isNewerVersion(const QString &version) const
{
    return compareVersions(version, currentVersion()) > 0;
}

QCoro::Task<DesktopUpdateManifest> Updater::fetchManifest()
{
    const QUrl url(m_build.siteOrigin + QStringLiteral("/updates/macos.json"), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw CompanionError::invalidURL();

    const HttpAnswer answer = co_await fetchAnswer(m_http, QNetworkRequest(url), "GET", QByteArray(), transferIdleTimeout);
    if (answer.status < 200 || answer.status > 299)
        throw CompanionError::invalidResponse();
    const auto manifest = DesktopUpdateManifest::fromJson(answer.body);
    if (!manifest)
        throw PlatformError(undecodableText);
    co_return *manifest;
}

QCoro::Task<> Updater::install(DesktopUpdateManifest manifest)
{
    const QString &address = manifest.macUniversalUrl;
    const QUrl url(address, QUrl::StrictMode);
    // QUrl lower-cases the scheme it reports, so the text must start with it as written.
    if (!url.isValid() || url.scheme() != QLatin1String("https") || !address.startsWith(QLatin1String("https:"))
        || url.host().isEmpty() || manifest.macUniversalSha256.size() != 64)
        throw CompanionError::server(notSecureText);
    if (!isReplaceableBundle(m_application.bundlePath()))
        throw CompanionError::server(notReplaceableText);

    const QPointer<Updater> self(this);
    const QString temporary = m_application.temporaryDirectory();
    auto archive = std::make_unique<ArchiveDownload>(temporary);
    const ExchangeResult result =
        co_await exchange(m_http, QNetworkRequest(url), "GET", QByteArray(), *archive, transferIdleTimeout);
    if (!self)
        co_return;
    if (result.status < 200 || result.status > 299)
        throw CompanionError::server(downloadFailedText);
    if (!archive->file.flush())
        throw PlatformError(archive->file.errorString());
    archive->file.close();
    if (!sameDigest(archive->hash.result().toHex(), manifest.macUniversalSha256))
        throw CompanionError::server(verifyFailedText);

    const QString workFolder = temporary + QStringLiteral("/Tarvolin-Update-") + freshUuidText();
    makeFolder(workFolder);

    // The verified file moves in whole: update.zip is never seen half-written.
    const QString archivePath = workFolder + QStringLiteral("/update.zip");
    if (!archive->file.rename(archivePath))
        throw PlatformError(archive->file.errorString());
    archive->file.setAutoRemove(false);

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
    launchSwapScript(stagedApp);
}

void Updater::launchSwapScript(const QString &stagedApp)
{
    const QString scriptPath = m_application.temporaryDirectory() + QStringLiteral("/Tarvolin-Updater-")
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
    m_application.startDetached(QStringLiteral("/bin/sh"), {scriptPath, QString::number(m_application.processId()),
                                                            stagedApp, m_application.bundlePath()});
}
