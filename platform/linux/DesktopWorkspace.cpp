#include "platform/linux/DesktopWorkspace.h"

#include <QDesktopServices>
#include <QFile>
#include <QHostInfo>

void DesktopWorkspace::open(const QUrl &url)
{
    QDesktopServices::openUrl(url);
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
