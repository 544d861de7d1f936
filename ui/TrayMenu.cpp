#include "ui/TrayMenu.h"

#include "app/AppModel.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTextDocument>

TrayMenu::TrayMenu(AppModel &model, std::function<void()> openWindow, std::function<void()> quit,
    Options options, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_openWindow(std::move(openWindow))
    , m_quit(std::move(quit))
    , m_options(std::move(options))
    , m_icon(new QSystemTrayIcon(this))
{
    if (!m_options.palette)
        m_options.palette = [] { return QApplication::palette(); };
    if (!m_options.currentDesktop)
        m_options.currentDesktop = [] { return qEnvironmentVariable("XDG_CURRENT_DESKTOP"); };

    connect(&model, &AppModel::statusChanged, this, &TrayMenu::refresh);
    connect(&model, &AppModel::lastErrorChanged, this, &TrayMenu::refresh);
    connect(&model, &AppModel::notificationsEnabledChanged, this, &TrayMenu::refresh);
    // The panel may change colours with the desktop's theme while the program runs.
    qApp->installEventFilter(this);

    // A plain click on the icon is the usual way back to the window on Linux desktops.
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            m_openWindow();
    });
    refresh();
}

QMenu *TrayMenu::menu()
{
    // Built with the icon: a menu is the first widget, and with it the style and its code, which a
    // program with no tray host to show them in would carry for nothing.
    if (m_menu)
        return m_menu;
    m_menu = new QMenu;
    m_statusLine = m_menu->addAction(m_model.status());
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setEnabled(false); // a line of text, not a command
    m_menu->addSeparator();

    QAction *open = m_menu->addAction(QStringLiteral("Tarvolin Masaüstü'nü Aç"));
    open->setObjectName(QStringLiteral("openWindow"));
    connect(open, &QAction::triggered, this, [this] { m_openWindow(); });

    // Never disabled: the pass itself returns at once when it cannot or need not run.
    QAction *sync = m_menu->addAction(QStringLiteral("Şimdi Kontrol Et"));
    sync->setObjectName(QStringLiteral("syncNow"));
    connect(sync, &QAction::triggered, this, [this] { m_model.syncNow(); });

    QAction *update = m_menu->addAction(QStringLiteral("Güncellemeleri Denetle"));
    update->setObjectName(QStringLiteral("checkForUpdates"));
    connect(update, &QAction::triggered, this, [this] { m_model.checkForUpdates(false); });
    m_menu->addSeparator();

    m_notifications = m_menu->addAction(QStringLiteral("Bildirimleri Göster"));
    m_notifications->setObjectName(QStringLiteral("showNotifications"));
    m_notifications->setCheckable(true);
    m_notifications->setChecked(m_model.notificationsEnabled());
    connect(
        m_notifications, &QAction::toggled, this, [this](bool on) { m_model.setNotificationsEnabled(on); });
    m_menu->addSeparator();

    QAction *quitAction = m_menu->addAction(QStringLiteral("Tamamen Çık"));
    quitAction->setObjectName(QStringLiteral("quit"));
    connect(quitAction, &QAction::triggered, this, [this] { m_quit(); });

    m_icon->setContextMenu(m_menu);
    return m_menu;
}

TrayMenu::~TrayMenu()
{
    delete m_menu; // a menu with no parent widget is not owned by anyone else (none before the icon showed)
}

bool TrayMenu::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        refresh();
    return QObject::eventFilter(watched, event);
}

void TrayMenu::refresh()
{
    // The status line carries the pass's progress ("2/5 evrak indiriliyor…"), so both follow it.
    if (m_menu) {
        m_statusLine->setText(m_model.status());
        const QSignalBlocker quiet(m_notifications);
        m_notifications->setChecked(m_model.notificationsEnabled());
    }
    QString tip = QStringLiteral("Tarvolin Masaüstü\n") + m_model.status();
    if (m_model.lastError())
        tip += QLatin1Char('\n') + *m_model.lastError();
    // A tooltip that looks like markup is shown as markup; a file name in the error must not be.
    m_icon->setToolTip(Qt::mightBeRichText(tip) ? Qt::convertFromPlainText(tip) : tip);

    m_look = TrayIcon::Look{
        TrayIcon::panelFor(m_options.palette(), m_options.currentDesktop()), m_model.lastError().has_value()};
    if (m_drawnLook)
        drawIcon();
}

void TrayMenu::drawIcon()
{
    if (m_look == m_drawnLook)
        return;
    m_drawnLook = m_look;
    m_icon->setIcon(TrayIcon::icon(*m_look));
}

void TrayMenu::show()
{
    menu();
    drawIcon();
    m_icon->show();
}
