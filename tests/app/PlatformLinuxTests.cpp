// The Linux services behind the model: settings file, autostart entry, secret store, folders, host name.

#include "core/KeychainStore.h"
#include "core/Settings.h"
#include "platform/PlatformError.h"
#include "platform/linux/ChildProcessSecretStore.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/PathFolderBookmarks.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/XdgAutostartLoginItem.h"

#include <QCoro/QCoroTask>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// What one run writes the next reads back, through the file's own types; a value of another
// type reads as absent.
TEST(SettingsFile, ValuesSurviveARestartAndDamagedOnesReadAsAbsent)
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
    {
        QSettingsStore store(path);
        Settings settings(store);
        EXPECT_TRUE(settings.value(SettingKeys::manualCloudConfigurationEnabled));
        EXPECT_EQ(settings.value(SettingKeys::supabaseURL), QStringLiteral("https://ä.example/ş"));
        EXPECT_EQ(settings.value(SettingKeys::targetFolderBookmark), QByteArray("/home/x/Evrak\0y", 15));
        EXPECT_EQ(settings.value(SettingKeys::lastUpdateCheck), when);
        EXPECT_EQ(settings.value(SettingKeys::officialCloudConfigurationRevision), 7);
    }
    writeFile(path,
        "[General]\n"
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
    EXPECT_TRUE(entry.contains(
        "Exec=\"/opt/Tarvolin \\\\\"beta\\\\\"/Tarvolin.app/Contents/MacOS/Tarvolin\" --background\n"))
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
    ChildProcessSecretStore store(QStringLiteral(TARVOLIN_PROGRAM), std::chrono::hours(1));
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
    for (const QString &folder :
        {QStringLiteral("/usr/lib/tarvolin"), dir.filePath(QStringLiteral("build/ui")),
            dir.filePath(QStringLiteral("Other.app/Contents/MacOS")), bundle + QStringLiteral("/MacOS"),
            QStringLiteral("/")})
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

} // namespace
