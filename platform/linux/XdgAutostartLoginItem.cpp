#include "platform/linux/XdgAutostartLoginItem.h"
#include "platform/linux/DesktopId.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTextStream>

namespace {

// Quotes an argument for the Exec key of a desktop entry.
QString quoteExecArgument(const QString &argument)
{
    QString quoted = argument;
    for (const QChar c : {QLatin1Char('\\'), QLatin1Char('"'), QLatin1Char('`'), QLatin1Char('$')})
        quoted.replace(c, QStringLiteral("\\") + c);
    // Inside the entry a backslash itself is escaped once more.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(QString executable)
    : m_executable(std::move(executable))
{
}

QString XdgAutostartLoginItem::entryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart/") + desktopId() + QStringLiteral(".desktop");
}

void XdgAutostartLoginItem::registerItem()
{
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        throw PlatformError(
            QStringLiteral("Başlangıç klasörü oluşturulamadı: %1").arg(QFileInfo(path).absolutePath()));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        throw PlatformError(file.errorString());
    QTextStream out(&file);
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=Tarvolin Masaüstü\n"
        << execLine() << "\n"
        << "Icon=tarvolin\n"
        << "Terminal=false\n"
        << "X-GNOME-Autostart-enabled=true\n";
    out.flush();
    if (!file.commit())
        throw PlatformError(file.errorString());
}

QString XdgAutostartLoginItem::execLine() const
{
    return QStringLiteral("Exec=") + quoteExecArgument(m_executable) + QLatin1Char(' ')
        + backgroundArgument();
}

bool XdgAutostartLoginItem::renewIfOutdated()
{
    if (!isEnabled())
        return false;
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray wanted = execLine().toUtf8();
    while (!file.atEnd())
        if (file.readLine().trimmed() == wanted)
            return false;
    file.close();
    registerItem();
    return true;
}

void XdgAutostartLoginItem::unregisterItem()
{
    QFile file(entryPath());
    if (file.exists() && !file.remove())
        throw PlatformError(file.errorString());
}

bool XdgAutostartLoginItem::isEnabled() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // An entry that the desktop hides or disables does not start anything.
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return false;
    }
    return true;
}
