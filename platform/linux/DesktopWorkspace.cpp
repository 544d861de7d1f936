#include "platform/linux/DesktopWorkspace.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>

DesktopWorkspace::DesktopWorkspace(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
}

void DesktopWorkspace::open(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

void DesktopWorkspace::showFile(const QString &path)
{
    // Only ever the folder: opening the file itself could run it.
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (!m_bus.isConnected()) {
        open(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    // Encoded, so that a "#" or "%" in a saved name stays part of the name.
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: a file manager started on demand takes its time, and the window must not freeze.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(
        watcher, &QDBusPendingCallWatcher::finished, this, [this, folder](QDBusPendingCallWatcher *finished) {
            finished->deleteLater();
            if (finished->isError())
                open(folder);
        });
}

std::optional<QString> DesktopWorkspace::computerName() const
{
    if (auto pretty = prettyHostName(QStringLiteral("/etc/machine-info")))
        return pretty;
    const QString host = QHostInfo::localHostName();
    if (host.isEmpty())
        return std::nullopt;
    return host;
}

std::optional<QString> DesktopWorkspace::prettyHostName(const QString &machineInfoPath)
{
    QFile file(machineInfoPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.startsWith(QLatin1String("PRETTY_HOSTNAME=")))
            continue;
        QString value = line.mid(int(qstrlen("PRETTY_HOSTNAME=")));
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
            && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        if (!value.isEmpty())
            return value;
    }
    return std::nullopt;
}
