#pragma once

#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QObject>

class DesktopWorkspace : public QObject, public Workspace
{
    Q_OBJECT
public:
    // The file manager is asked over the session bus unless a test hands over its own.
    explicit DesktopWorkspace(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    void open(const QUrl &url) override;
    // Through the file manager's ShowItems call; a desktop without one, or one that refuses, gets the
    // folder opened instead.
    void showFile(const QString &path) override;
    std::optional<QString> computerName() const override;
    QString platformName() const override { return QStringLiteral("Linux"); }

    // The PRETTY_HOSTNAME of a machine-info file, or nothing; exposed for tests.
    static std::optional<QString> prettyHostName(const QString &machineInfoPath);

private:
    QDBusConnection m_bus;
};
