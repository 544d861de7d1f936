#include "tests/support/Fakes.h"

#include <QCoreApplication>
#include <QCoro/QCoroSignal>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

QCoro::Task<> FakeSecretStore::save(QString service, QString account, QByteArray data)
{
    calls.append(QStringLiteral("save:") + account);
    items[{service, account}] = data;
    co_return;
}

QCoro::Task<std::optional<QByteArray>> FakeSecretStore::load(QString service, QString account)
{
    calls.append(QStringLiteral("load:") + account);
    const auto it = items.find({service, account});
    if (it == items.end())
        co_return std::nullopt;
    co_return QByteArray(it->second); // QCoro moves from what it is given: hand it a copy
}

QCoro::Task<> FakeSecretStore::remove(QString service, QString account)
{
    calls.append(QStringLiteral("remove:") + account);
    items.erase({service, account});
    co_return;
}

QCoro::Task<bool> FakeClock::sleep(std::chrono::milliseconds duration, Cancellation &cancellation)
{
    sleeps.append(duration);
    if (cancellation.isCancelled())
        co_return false;
    Gate gate;
    QObject::connect(&cancellation, &Cancellation::cancelled, &gate, &Gate::open);
    QObject::connect(this, &FakeClock::released, &gate, &Gate::open);
    ++sleeping;
    // Announced from the event loop, so a test that releases at once cannot beat the wait below.
    QTimer::singleShot(0, this, [this] { Q_EMIT sleepStarted(); });
    // The wake-up is delivered from the event loop: a test that ended meanwhile has taken the clock
    // with it.
    const QPointer<FakeClock> self(this);
    co_await qCoro(&gate, &Gate::opened);
    if (!self)
        co_return false;
    --sleeping;
    if (cancellation.isCancelled())
        co_return false;
    current = current.addMSecs(duration.count());
    co_return true;
}

void FakeLoginItem::registerItem()
{
    ++registerCalls;
    if (refuseRegister)
        throw PlatformError(QStringLiteral("Oturum öğesi reddedildi."));
    enabled = true;
}

void FakeLoginItem::unregisterItem()
{
    ++unregisterCalls;
    if (refuseUnregister)
        throw PlatformError(QStringLiteral("Oturum öğesi kaldırılamadı."));
    enabled = false;
}

std::optional<QString> FakeFolderChooser::chooseFolder(
    const QString &title, const QString &confirmText, const QString &startDirectory)
{
    calls.append({title, confirmText, startDirectory});
    if (answers.empty())
        return std::nullopt;
    // Taken apart by hand: copying the optional whole trips a false "maybe uninitialized" at -O2.
    const bool chosen = answers.front().has_value();
    const QString folder = chosen ? *answers.front() : QString();
    answers.pop_front();
    if (!chosen)
        return std::nullopt;
    return folder;
}

QByteArray FakeFolderBookmarks::create(const QString &folderPath)
{
    log.append(QStringLiteral("create:") + folderPath);
    if (refuseCreate)
        throw PlatformError(QStringLiteral("Yer imi oluşturulamadı."));
    return folderPath.toUtf8();
}

std::optional<FolderBookmarks::Resolved> FakeFolderBookmarks::resolve(const QByteArray &bookmark)
{
    const QString path = QString::fromUtf8(bookmark);
    if (!QFileInfo(path).isDir())
        return std::nullopt;
    return Resolved{path, reportStale};
}

bool FakeFolderBookmarks::startAccess(const QString &folderPath)
{
    log.append(QStringLiteral("start:") + folderPath);
    if (refused.contains(folderPath))
        return false;
    accessed.append(folderPath);
    return true;
}

void FakeFolderBookmarks::stopAccess(const QString &folderPath)
{
    log.append(QStringLiteral("stop:") + folderPath);
    accessed.removeOne(folderPath);
}

BuildValues testBuildValues(const QString &supabaseURL, const QString &anonKey, const QString &siteOrigin)
{
    return BuildValues{supabaseURL, anonKey, siteOrigin, QStringLiteral("https://store.example/tarvolin"),
        BuildValues::compiledIn().version};
}

bool waitUntil(const std::function<bool()> &predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}
