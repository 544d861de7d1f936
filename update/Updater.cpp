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

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString notSecureText = QStringLiteral("Güncelleme paketi güvenli değil.");
const QString downloadFailedText = QStringLiteral("Güncelleme indirilemedi.");
const QString verifyFailedText = QStringLiteral("Güncelleme paketi doğrulanamadı.");
const QString incompleteText = QStringLiteral("Güncelleme paketi eksik.");
const QString notReplaceableText = QStringLiteral("Bu kurulum kendiliğinden güncellenemez.");
const QString undecodableText = QStringLiteral("Güncelleme bilgisi doğru biçimde olmadığından okunamadı.");
const QString folderLockedText = QStringLiteral("Güncelleme kurulamıyor: uygulama klasörü değiştirilemiyor.");
const QString versionMismatchText = QStringLiteral("Güncelleme paketinin sürümü uyuşmuyor.");
const QString tooLargeText = QStringLiteral("Güncelleme paketi çok büyük.");
const QString busyText = QStringLiteral("Güncelleme zaten kuruluyor.");
const QString failedRecentlyText = QStringLiteral("Tarvolin %1 kurulamadı; bir gün sonra yeniden denenecek.");

// Real application folders are a few hundred MiB at most; a peer that sends more would only fill
// the disk.
constexpr qint64 maxArchiveBytes = qint64(512) << 20;
constexpr qint64 retryAfterSeconds = qint64(24) * 60 * 60;

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

// The first line of the folder's version file, which the install step writes; nothing without one.
QString versionInBundle(const QString &bundle)
{
    QFile file(bundle + QStringLiteral("/Contents/version"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(256)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

// Whether the swap can move `bundle` aside and put another folder in its place, asked before anything
// is downloaded. Creating a file is the one test that sees read-only mounts, immutable folders and
// access lists alike; moving a folder also rewrites its "..", which needs write access to the folder
// itself, and neither the immutable nor the append-only flag may pin it.
bool canReplaceFolder(const QString &bundle)
{
    const QString parent = QFileInfo(bundle).path();
    {
        QTemporaryFile probe(parent + QStringLiteral("/.Tarvolin-probe-XXXXXX"));
        if (!probe.open())
            return false;
        probe.close();
        if (!probe.remove())
            return false;
    }
    const QByteArray path = QFile::encodeName(bundle);
    if (::access(path.constData(), W_OK) != 0)
        return false;
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool pinned
        = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
    ::close(fd);
    if (pinned)
        return false;
    // In a sticky folder (/tmp, say) only the owner of the folder or of the entry may move it.
    struct stat folder {
    }, entry{};
    if (::stat(QFile::encodeName(parent).constData(), &folder) != 0 || ::stat(path.constData(), &entry) != 0)
        return false;
    const uid_t me = ::geteuid();
    return !(folder.st_mode & S_ISVTX) || me == 0 || me == folder.st_uid || me == entry.st_uid;
}

// A descriptor of the folder holding an exclusive lock, or -1 when it cannot be opened or another
// process holds the lock (`busy` then says which).
int lockFolder(const QString &path, bool *busy = nullptr)
{
    if (busy)
        *busy = false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (busy)
            *busy = errno == EWOULDBLOCK;
        ::close(fd);
        return -1;
    }
    return fd;
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
    explicit ArchiveDownload(const QString &folder)
        : file(folder + QStringLiteral("/.Tarvolin-Download-XXXXXX"))
    {
        if (!file.open())
            throw PlatformError(file.errorString());
    }

    void write(QByteArrayView bytes) override
    {
        received += bytes.size();
        if (received > maxArchiveBytes)
            throw CompanionError::server(tooLargeText);
        if (file.write(bytes.data(), bytes.size()) != bytes.size())
            throw PlatformError(file.errorString());
        hash.addData(bytes);
    }

    QTemporaryFile file;
    Sha256 hash;
    qint64 received = 0;
};

} // namespace

Updater::Updater(HttpClient &http, ApplicationHost &application, Settings &settings, Clock &clock,
    BuildValues build, QObject *parent)
    : QObject(parent)
    , m_http(http)
    , m_application(application)
    , m_settings(settings)
    , m_clock(clock)
    , m_build(std::move(build))
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
    const QString bundle = m_application.bundlePath();
    const QString version = bundle.isEmpty() ? QString() : versionInBundle(bundle);
    return version.isEmpty() ? m_build.version : version;
}

bool Updater::isNewerVersion(const QString &version) const
{
    return compareVersions(version, currentVersion()) > 0;
}

std::optional<QString> Updater::reasonNotToInstall(const QString &version) const
{
    const QString bundle = m_application.bundlePath();
    if (!isReplaceableBundle(bundle))
        return notReplaceableText;
    if (!canReplaceFolder(bundle))
        return folderLockedText;
    // A failed swap restarts this same program, whose next check would find the same version and
    // quit for it again, at every start.
    if (version == m_settings.value(SettingKeys::updateAttemptVersion) && version != currentVersion()) {
        const qint64 age = m_settings.value(SettingKeys::updateAttemptTime).secsTo(m_clock.now());
        if (age >= 0 && age < retryAfterSeconds)
            return failedRecentlyText.arg(version);
    }
    return std::nullopt;
}

void Updater::rememberAttempt(const QString &version)
{
    m_settings.set(SettingKeys::updateAttemptVersion, version);
    m_settings.set(SettingKeys::updateAttemptTime, m_clock.now());
}

void Updater::settleEarlierUpdate()
{
    const QString bundle = m_application.bundlePath();
    if (bundle.isEmpty()) {
        // Started from the folder a swap had moved aside, with nothing in its place: the swap broke
        // off between its two moves. Putting it back is what the swap itself would have done.
        const QString running = QFileInfo(QFileInfo(m_application.programFolder()).path()).path();
        const QString installed = running.chopped(qMin(running.size(), 4));
        if (running.endsWith(QLatin1String("/Tarvolin.app.old")) && !QFileInfo::exists(installed)) {
            const int lock = lockFolder(running);
            if (lock >= 0) {
                ::rename(QFile::encodeName(running).constData(), QFile::encodeName(installed).constData());
                ::close(lock);
            }
        }
        return;
    }

    // While a script holds the installed folder it is still copying: nothing here is ours to touch.
    bool busy = false;
    const int own = lockFolder(bundle, &busy);
    if (own < 0 && busy)
        return;
    if (own >= 0)
        ::close(own);

    const QString old = bundle + QStringLiteral(".old");
    if (QFileInfo::exists(old)) {
        const int lock = lockFolder(old, &busy);
        if (busy) {
            // The script waits for this very start before it lets the old program go.
            QFile marker(old + QLatin1Char('/') + swapStartedMarker());
            (void)marker.open(QIODevice::WriteOnly);
            return;
        }
        // Its script is gone and this start shows that the new program runs.
        QDir(old).removeRecursively();
        if (lock >= 0)
            ::close(lock);
    }
    QDir(bundle + QStringLiteral(".new")).removeRecursively();

    const QString temporary = m_application.temporaryDirectory();
    if (temporary.isEmpty())
        return;
    const QDir folder(temporary);
    for (const QString &name :
        folder.entryList({QStringLiteral("Tarvolin-Update-*")}, QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(folder.filePath(name)).removeRecursively();
}

QCoro::Task<DesktopUpdateManifest> Updater::fetchManifest()
{
    const QUrl url(m_build.siteOrigin + QStringLiteral("/updates/macos.json"), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        throw CompanionError::invalidURL();

    const HttpAnswer answer
        = co_await fetchAnswer(m_http, QNetworkRequest(url), "GET", QByteArray(), transferIdleTimeout);
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
    if (!url.isValid() || url.scheme() != QLatin1String("https")
        || !address.startsWith(QLatin1String("https:")) || url.host().isEmpty()
        || manifest.macUniversalSha256.size() != 64)
        throw CompanionError::server(notSecureText);
    if (const std::optional<QString> reason = reasonNotToInstall(manifest.version))
        throw CompanionError::server(*reason);

    const QPointer<Updater> self(this);
    const QString temporary = m_application.temporaryDirectory();
    auto archive = std::make_unique<ArchiveDownload>(temporary);
    const ExchangeResult result
        = co_await exchange(m_http, QNetworkRequest(url), "GET", QByteArray(), *archive, transferIdleTimeout);
    if (!self)
        co_return;
    if (result.status < 200 || result.status > 299)
        throw CompanionError::server(downloadFailedText);
    if (!archive->file.flush())
        throw PlatformError(archive->file.errorString());
    archive->file.close();
    if (!sameDigest(archive->hash.result().toHex(), manifest.macUniversalSha256)) {
        rememberAttempt(manifest.version);
        throw CompanionError::server(verifyFailedText);
    }

    const QString workFolder = temporary + QStringLiteral("/Tarvolin-Update-") + freshUuidText();
    makeFolder(workFolder);
    try {
        // The verified file moves in whole: update.zip is never seen half-written.
        const QString archivePath = workFolder + QStringLiteral("/update.zip");
        if (!archive->file.rename(archivePath))
            throw PlatformError(archive->file.errorString());
        archive->file.setAutoRemove(false);
        unpackAndHandOver(manifest, archivePath, workFolder);
    } catch (...) {
        // From here on the swap script removes it; before, nothing else ever would.
        QDir(workFolder).removeRecursively();
        throw;
    }
}

void Updater::unpackAndHandOver(
    const DesktopUpdateManifest &manifest, const QString &archivePath, const QString &workFolder)
{
    const QString stage = workFolder + QStringLiteral("/stage");
    if (!QDir().mkdir(stage))
        throw PlatformError(QStringLiteral("%1: klasör oluşturulamadı.").arg(stage));

    try {
        unpackUpdateArchive(archivePath, stage);
    } catch (const CompanionError &) {
        rememberAttempt(manifest.version);
        throw;
    }

    const QString stagedApp = QFileInfo(stage).canonicalFilePath() + QLatin1Char('/') + bundleName;
    if (QFileInfo(stagedApp).isSymLink() || !isExecutableFile(stagedApp + executableInBundle)) {
        rememberAttempt(manifest.version);
        throw CompanionError::server(incompleteText);
    }
    // A build that calls itself anything else would find the manifest newer again once it runs,
    // and swap itself again at every start.
    if (versionInBundle(stagedApp) != manifest.version.trimmed()) {
        rememberAttempt(manifest.version);
        throw CompanionError::server(versionMismatchText);
    }
    launchSwapScript(stagedApp);
    rememberAttempt(manifest.version);
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
    if (!QFile::setPermissions(
            scriptPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        throw PlatformError(QStringLiteral("%1: izinler ayarlanamadı.").arg(scriptPath));

    // The script waits for this lock to go, which only the end of this process releases.
    bool busy = false;
    const int lock = m_handOverLock >= 0 ? m_handOverLock : lockFolder(m_application.bundlePath(), &busy);
    if (lock < 0) {
        QFile::remove(scriptPath);
        throw CompanionError::server(busy ? busyText : folderLockedText);
    }
    // Arguments only, never a command line: no path is ever read by a shell as syntax.
    try {
        m_application.startDetached(QStringLiteral("/bin/sh"),
            {scriptPath, QString::number(m_application.processId()), stagedApp, m_application.bundlePath(),
                QString::number(swapConfirmationSeconds)});
    } catch (...) {
        ::close(lock);
        m_handOverLock = -1;
        QFile::remove(scriptPath);
        throw;
    }
    m_handOverLock = lock;
}
