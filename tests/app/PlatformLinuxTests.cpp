// The Linux services behind the model: settings file, autostart entry, secret store, folders, host name.

#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/PathFolderBookmarks.h"
#include "platform/linux/QSettingsStore.h"
#include "cloud/BackendClient.h"
#include "platform/PlatformError.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtKeychainSecretStore.h"
#include "platform/linux/QtTranslations.h"
#include "platform/linux/XdgAutostartLoginItem.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(SettingsFile, ValuesRoundTripThroughTheNativeFormat)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tarvolin.conf"));
    const QDateTime when(QDate(2026, 5, 4), QTime(3, 2, 1), Qt::UTC);
    {
        QSettingsStore store(path);
        Settings settings(store);
        settings.set(SettingKeys::manualCloudConfigurationEnabled, true);
        settings.set(SettingKeys::supabaseURL, QStringLiteral("https://ä.example/ş"));
        settings.set(SettingKeys::targetFolderBookmark, QByteArray("/home/x/Evrak\0y", 15));
        settings.set(SettingKeys::lastUpdateCheck, when);
        settings.set(SettingKeys::officialCloudConfigurationRevision, 7);
    }
    QSettingsStore store(path);
    Settings settings(store);
    EXPECT_TRUE(settings.value(SettingKeys::manualCloudConfigurationEnabled));
    EXPECT_EQ(settings.value(SettingKeys::supabaseURL), QStringLiteral("https://ä.example/ş"));
    EXPECT_EQ(settings.value(SettingKeys::targetFolderBookmark), QByteArray("/home/x/Evrak\0y", 15));
    EXPECT_EQ(settings.value(SettingKeys::lastUpdateCheck), when);
    EXPECT_EQ(settings.value(SettingKeys::officialCloudConfigurationRevision), 7);
}

TEST(SettingsFile, WrongTypesCorruptAndUnreadableFilesReadAsAbsent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Tarvolin.conf"));
    writeFile(path, "[General]\n"
                    "manualCloudConfigurationEnabled=maybe\n"
                    "startupChoiceInitialized=1\n"
                    "lastUpdateCheck=yesterday\n"
                    "supabaseURL=@ByteArray(abc)\n"
                    "targetFolderBookmark=just text\n");
    QSettingsStore store(path);
    Settings settings(store);
    EXPECT_FALSE(settings.value(SettingKeys::manualCloudConfigurationEnabled));
    EXPECT_FALSE(settings.value(SettingKeys::startupChoiceInitialized));
    EXPECT_EQ(settings.value(SettingKeys::lastUpdateCheck), Settings::distantPast());
    EXPECT_EQ(settings.value(SettingKeys::supabaseURL), QString());
    EXPECT_TRUE(settings.value(SettingKeys::targetFolderBookmark).isEmpty());

    const QString garbage = dir.filePath(QStringLiteral("garbage.conf"));
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 131) % 256));
    writeFile(garbage, bytes);
    QSettingsStore corrupt(garbage);
    EXPECT_FALSE(Settings(corrupt).value(SettingKeys::startupChoiceInitialized));
    EXPECT_EQ(Settings(corrupt).value(SettingKeys::lastUpdateCheck), Settings::distantPast());

    // A folder where the file should be: nothing can be read or written, and nothing breaks.
    const QString folder = dir.filePath(QStringLiteral("folder.conf"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QSettingsStore unreadable(folder);
    Settings(unreadable).set(SettingKeys::startupChoiceInitialized, true);
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

class AutostartEntry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previous); }

    QTemporaryDir config;
    QByteArray previous;
};

TEST_F(AutostartEntry, IsWrittenRenewedAndRemovedAndARefusalThrows)
{
    XdgAutostartLoginItem item(QStringLiteral("/opt/Tarvolin \"beta\"/Tarvolin.app/Contents/MacOS/Tarvolin"));
    EXPECT_EQ(XdgAutostartLoginItem::entryPath(),
              config.path() + QStringLiteral("/autostart/com.kavrendal.tarvolin.desktop"));
    EXPECT_FALSE(item.isEnabled());

    item.registerItem();
    EXPECT_TRUE(item.isEnabled());
    QFile file(XdgAutostartLoginItem::entryPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray entry = file.readAll();
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("Type=Application\n"));
    // Quotes inside a quoted Exec argument are escaped, and the backslash itself once more.
    EXPECT_TRUE(entry.contains("Exec=\"/opt/Tarvolin \\\\\"beta\\\\\"/Tarvolin.app/Contents/MacOS/Tarvolin\" --background\n"))
        << entry.toStdString();

    EXPECT_FALSE(item.renewIfOutdated());

    // An entry of an earlier version, which opened the window at every login, gets the background
    // argument; one the user disabled stays as it is.
    writeFile(XdgAutostartLoginItem::entryPath(), "[Desktop Entry]\nType=Application\nExec=/old/Tarvolin\n");
    EXPECT_TRUE(item.renewIfOutdated());
    EXPECT_TRUE(item.isEnabled());
    EXPECT_FALSE(item.renewIfOutdated());
    writeFile(XdgAutostartLoginItem::entryPath(), "[Desktop Entry]\nExec=/old/Tarvolin\nHidden=true\n");
    EXPECT_FALSE(item.renewIfOutdated());
    EXPECT_FALSE(item.isEnabled());

    item.unregisterItem();
    EXPECT_FALSE(item.isEnabled());
    EXPECT_FALSE(QFile::exists(XdgAutostartLoginItem::entryPath()));
    item.unregisterItem(); // removing what is not there is no error

    // The autostart folder is a file: registration is refused with a description.
    ASSERT_TRUE(QDir(config.path()).rmdir(QStringLiteral("autostart")));
    writeFile(config.filePath(QStringLiteral("autostart")), "not a folder");
    try {
        item.registerItem();
        FAIL() << "registration should be refused";
    } catch (const PlatformError &error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
    EXPECT_FALSE(item.isEnabled());
}

TEST(SecretStore, FailsSilentlyAndQuicklyWithoutASessionBus)
{
    // The test environment disables the session bus. A store that waited for it would sit out the
    // hour and meet the test's own timeout instead.
    QtKeychainSecretStore store(std::chrono::hours(1));
    KeychainStore keychain(store);
    QCoro::waitFor(keychain.save(QByteArray("{}"), QStringLiteral("cloud-session")));
    EXPECT_EQ(QCoro::waitFor(keychain.load(QStringLiteral("cloud-session"))), std::nullopt);
    QCoro::waitFor(keychain.remove(QStringLiteral("cloud-session")));
}

TEST(FolderBookmarks, ResolveToExistingFoldersOnly)
{
    QTemporaryDir dir;
    PathFolderBookmarks bookmarks;
    const QByteArray bytes = bookmarks.create(dir.path());
    const auto resolved = bookmarks.resolve(bytes);
    ASSERT_TRUE(resolved.has_value());
    EXPECT_EQ(resolved->path, dir.path());
    EXPECT_FALSE(resolved->stale);
    EXPECT_TRUE(bookmarks.startAccess(dir.path()));

    EXPECT_TRUE(bookmarks.resolve((dir.path() + QStringLiteral("//")).toUtf8())->stale);
    EXPECT_FALSE(bookmarks.resolve(QByteArray("relative/path")).has_value());
    EXPECT_FALSE(bookmarks.resolve(dir.filePath(QStringLiteral("gone")).toUtf8()).has_value());
    EXPECT_THROW(bookmarks.create(QStringLiteral("relative")), PlatformError);

    const QString file = dir.filePath(QStringLiteral("file"));
    writeFile(file, "x");
    EXPECT_FALSE(bookmarks.startAccess(file));
}

TEST(ApplicationHost, OnlyAProgramInsideTarvolinAppHasAnApplicationFolder)
{
    QTemporaryDir dir;
    const QString bundle = dir.filePath(QStringLiteral("Tarvolin.app"));
    EXPECT_EQ(LinuxApplicationHost(bundle + QStringLiteral("/Contents/MacOS")).bundlePath(), bundle);
    EXPECT_EQ(LinuxApplicationHost(bundle + QStringLiteral("/Contents/MacOS/")).bundlePath(), bundle);
    // Two folders up from the package's program is /usr; from a build tree, the user's sources.
    for (const QString &folder : {QStringLiteral("/usr/lib/tarvolin"), dir.filePath(QStringLiteral("build/ui")),
                                  dir.filePath(QStringLiteral("Other.app/Contents/MacOS")),
                                  bundle + QStringLiteral("/MacOS"), QStringLiteral("/")})
        EXPECT_EQ(LinuxApplicationHost(folder).bundlePath(), QString()) << folder.toStdString();
}

TEST(ComputerName, PrettyHostNameIsReadFromMachineInfo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("machine-info"));
    writeFile(path, "CHASSIS=laptop\nPRETTY_HOSTNAME=\"Ayşe'nin Dizüstü\"\n");
    EXPECT_EQ(DesktopWorkspace::prettyHostName(path), QStringLiteral("Ayşe'nin Dizüstü"));
    writeFile(path, "PRETTY_HOSTNAME=\n");
    EXPECT_EQ(DesktopWorkspace::prettyHostName(path), std::nullopt);
    EXPECT_EQ(DesktopWorkspace::prettyHostName(dir.filePath(QStringLiteral("missing"))), std::nullopt);
}

TEST(QtMessages, TransportFailuresReachTheUserInTurkish)
{
    ASSERT_TRUE(installQtTranslations(*QCoreApplication::instance()));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();

    QtHttpClient http(QList<QSslCertificate>{});
    BackendClient client(http);
    const Backend backend{QStringLiteral("https://127.0.0.1:%1").arg(port), QStringLiteral("key")};
    // The failure is caught inside a coroutine: waitFor on a task that throws never returns here.
    const auto describe = [&]() -> QCoro::Task<QString> {
        try {
            co_await client.request(backend, QStringLiteral("/rest/v1/x"), "GET", std::nullopt, std::nullopt,
                                    std::nullopt);
        } catch (const PlatformError &error) {
            co_return error.description();
        }
        co_return QString();
    };
    const QString description = QCoro::waitFor(describe());
    EXPECT_EQ(description, QCoreApplication::translate("QHttp", "Connection refused"));
    EXPECT_NE(description, QStringLiteral("Connection refused"));
}

} // namespace
