#pragma once

// Recording fakes of the platform services, for tests of the model.

#include "app/AppModel.h"
#include "platform/linux/QtHttpClient.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class MemorySettingsStore : public SettingsStore
{
public:
    QVariant value(const QString &key) const override { return values.value(key); }
    void setValue(const QString &key, const QVariant &value) override
    {
        values.insert(key, value);
        writes.append(key);
    }

    QHash<QString, QVariant> values;
    QStringList writes;
};

class FakeSecretStore : public SecretStore
{
public:
    QCoro::Task<> save(QString service, QString account, QByteArray data) override;
    QCoro::Task<std::optional<QByteArray>> load(QString service, QString account) override;
    QCoro::Task<> remove(QString service, QString account) override;

    std::map<std::pair<QString, QString>, QByteArray> items;
    QStringList calls; // "save:account", "load:account", "remove:account"
};

// A gate that one coroutine waits on until something opens it.
class Gate : public QObject
{
    Q_OBJECT
public:
    void open() { Q_EMIT opened(); }
Q_SIGNALS:
    void opened();
};

// Time that moves only when a sleeper is released. now() starts at a fixed date.
class FakeClock : public QObject, public Clock
{
    Q_OBJECT
public:
    QDateTime now() const override { return current; }
    QCoro::Task<bool> sleep(std::chrono::milliseconds duration, Cancellation &cancellation) override;

    // Ends every current sleep as if its time had passed (and moves now() on by its duration).
    void release() { Q_EMIT released(); }

    QDateTime current = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    QList<std::chrono::milliseconds> sleeps;
    int sleeping = 0; // sleeps waiting now

Q_SIGNALS:
    void released();
    void sleepStarted();
};

class FakeLoginItem : public LoginItem
{
public:
    void registerItem() override;
    void unregisterItem() override;
    bool isEnabled() const override { return enabled; }

    bool enabled = false;
    bool refuseRegister = false;
    bool refuseUnregister = false;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

class FakeFolderChooser : public FolderChooser
{
public:
    std::optional<QString> chooseFolder(
        const QString &title, const QString &confirmText, const QString &startDirectory) override;

    std::deque<std::optional<QString>> answers; // nothing left: cancelled
    struct Call {
        QString title, confirmText, startDirectory;
    };
    QList<Call> calls;
};

// Bookmarks are the path's bytes, as on the desktop; access can be refused per folder.
class FakeFolderBookmarks : public FolderBookmarks
{
public:
    QByteArray create(const QString &folderPath) override;
    std::optional<Resolved> resolve(const QByteArray &bookmark) override;
    bool startAccess(const QString &folderPath) override;
    void stopAccess(const QString &folderPath) override;

    QStringList refused; // folders whose access is refused
    bool refuseCreate = false;
    bool reportStale = false;
    QStringList accessed; // folders with access held now
    QStringList log; // "start:path", "stop:path", "create:path"
};

class FakeWorkspace : public Workspace
{
public:
    void open(const QUrl &url) override { opened.append(url); }
    void showFile(const QString &path) override { shownFiles.append(path); }
    std::optional<QString> computerName() const override { return name; }
    QString platformName() const override { return platform; }

    QList<QUrl> opened;
    QStringList shownFiles;
    std::optional<QString> name = QStringLiteral("Test Bilgisayarı");
    QString platform = QStringLiteral("Linux");
};

class FakeApplicationHost : public ApplicationHost
{
public:
    QString bundlePath() const override { return bundle; }
    QString programFolder() const override { return program; }
    qint64 processId() const override { return 4242; }
    QString temporaryDirectory() const override { return tempDir; }
    QString dataDirectory() const override { return dataDir; }
    void startDetached(const QString &program, const QStringList &arguments) override
    {
        started.append({program, arguments});
    }
    void quit() override { ++quitCalls; }

    QString bundle;
    QString program;
    QString tempDir;
    QString dataDir; // empty: the program's own files are kept for the run only
    QList<QPair<QString, QStringList>> started;
    int quitCalls = 0;
};

class FakeNotifier : public Notifier
{
public:
    void notify(const Notification &notification, std::function<void()> onAction) override
    {
        shown.append(notification);
        actions.push_back(std::move(onAction));
    }

    QList<Notification> shown;
    std::vector<std::function<void()>> actions; // one per notification, in order
};

class FakeWakeEvents : public WakeEvents
{
public:
    void setHandler(std::function<void(Reason)>) override { }
};

// Owns one of every fake, plus a real HTTP client (tests talk to loopback servers at the wire).
struct TestServices {
    explicit TestServices(QList<QSslCertificate> authorities = {})
        : http(std::move(authorities))
    {
    }

    PlatformServices services()
    {
        return PlatformServices{settings, secrets, clock, loginItem, http, folderChooser, bookmarks,
            workspace, application, notifier, realWake ? *realWake : wake};
    }

    MemorySettingsStore settings;
    FakeSecretStore secrets;
    FakeClock clock;
    FakeLoginItem loginItem;
    QtHttpClient http;
    FakeFolderChooser folderChooser;
    FakeFolderBookmarks bookmarks;
    FakeWorkspace workspace;
    FakeApplicationHost application;
    FakeNotifier notifier;
    FakeWakeEvents wake;
    WakeEvents *realWake = nullptr; // the system's own, where a test wants it instead of the fake
};

// Build values for tests: empty backend values (nothing compiled in) and a site that is never reached
// unless a test points it at a server.
BuildValues testBuildValues(const QString &supabaseURL = {}, const QString &anonKey = {},
    const QString &siteOrigin = QStringLiteral("https://127.0.0.1:9"));

// Runs the Qt event loop until the predicate holds or the time-out passes; returns the predicate.
bool waitUntil(const std::function<bool()> &predicate, int timeoutMs = 5000);
