#include "ui/TrayMenu.h"

#include "app/AppModel.h"
#include "ui/Symbols.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

TrayMenu::TrayMenu(AppModel &model, std::function<void()> openWindow, std::function<void()> quit, QObject *parent)
    : QObject(parent), m_model(model), m_menu(new QMenu), m_icon(new QSystemTrayIcon(this))
{
    m_statusLine = m_menu->addAction(model.status());
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setEnabled(false); // a line of text, not a command
    m_menu->addSeparator();

    QAction *open = m_menu->addAction(QStringLiteral("Tarvolin Masaüstü'nü Aç"));
    open->setObjectName(QStringLiteral("openWindow"));
    connect(open, &QAction::triggered, this, [openWindow] { openWindow(); });

    // Never disabled: the pass itself returns at once when it cannot or need not run.
    QAction *sync = m_menu->addAction(QStringLiteral("Şimdi Kontrol Et"));
    sync->setObjectName(QStringLiteral("syncNow"));
    connect(sync, &QAction::triggered, this, [this] { m_model.syncNow(); });

    QAction *update = m_menu->addAction(QStringLiteral("Güncellemeleri Denetle"));
    update->setObjectName(QStringLiteral("checkForUpdates"));
    connect(update, &QAction::triggered, this, [this] { m_model.checkForUpdates(false); });
    m_menu->addSeparator();

    QAction *quitAction = m_menu->addAction(QStringLiteral("Tamamen Çık"));
    quitAction->setObjectName(QStringLiteral("quit"));
    connect(quitAction, &QAction::triggered, this, [quit] { quit(); });

    connect(&model, &AppModel::statusChanged, this, [this] {
        m_statusLine->setText(m_model.status());
        m_icon->setToolTip(QStringLiteral("Tarvolin Masaüstü\n") + m_model.status());
    });

    m_icon->setIcon(Symbols::icon(Symbols::Kind::DocumentViewfinder, QColor(16, 35, 63)));
    m_icon->setToolTip(QStringLiteral("Tarvolin Masaüstü\n") + model.status());
    m_icon->setContextMenu(m_menu);
    // A plain click on the icon is the usual way back to the window on Linux desktops.
    connect(m_icon, &QSystemTrayIcon::activated, this, [openWindow](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            openWindow();
    });
}

TrayMenu::~TrayMenu()
{
    delete m_menu; // a menu with no parent widget is not owned by anyone else
}
