#include "ui/MainWindow.h"

#include "app/AppModel.h"
#include "ui/ContentView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

MainWindow::MainWindow(AppModel &model, Hooks hooks, QWidget *parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_hooks(std::move(hooks))
    , m_content(new ContentView(model, this))
{
    setWindowTitle(QStringLiteral("Tarvolin Masaüstü"));
    setCentralWidget(m_content);
    buildApplicationMenu();
    resize(620, 760);

    // Someone watching the count arrive needs no notification of it.
    model.setCountInViewCheck(
        [this] { return isActiveWindow() && !isMinimized() && m_content->showsCount(); });

    // The model may ask for the cloud settings while the window is in the tray: the sheet needs its window.
    connect(&model, &AppModel::showingCloudSettingsChanged, this, [this] {
        if (m_model.showingCloudSettings() && !isVisible())
            bringForward();
    });
}

MainWindow::~MainWindow()
{
    m_model.setCountInViewCheck(nullptr);
}

void MainWindow::buildApplicationMenu()
{
    QMenu *menu = menuBar()->addMenu(QStringLiteral("Tarvolin Masaüstü"));
    menu->setObjectName(QStringLiteral("applicationMenu"));

    QAction *about = menu->addAction(QStringLiteral("Tarvolin Masaüstü Hakkında"));
    about->setObjectName(QStringLiteral("about"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, QStringLiteral("Tarvolin Masaüstü Hakkında"),
            QStringLiteral("Tarvolin Masaüstü\nSürüm ") + QCoreApplication::applicationVersion());
    });

    QAction *update = menu->addAction(QStringLiteral("Güncellemeleri Denetle…"));
    update->setObjectName(QStringLiteral("checkForUpdates"));
    update->setMenuRole(QAction::ApplicationSpecificRole);
    connect(update, &QAction::triggered, this, [this] { m_model.checkForUpdates(false); });
    menu->addSeparator();

    QAction *quit = menu->addAction(QStringLiteral("Tarvolin Masaüstü'nden Çık"));
    quit->setObjectName(QStringLiteral("quit"));
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, this, [this] { m_hooks.quit(); });
}

void MainWindow::rebuildContent()
{
    m_rebuildQueued = false;
    auto *fresh = new ContentView(m_model, this);
    setCentralWidget(fresh); // deletes the old view
    m_content = fresh;
}

bool MainWindow::event(QEvent *event)
{
    // A new desktop font reaches every widget one by one; the view is built again once they all have it.
    if (event->type() == QEvent::ApplicationFontChange && !m_rebuildQueued) {
        m_rebuildQueued = true;
        QTimer::singleShot(0, this, &MainWindow::rebuildContent);
    }
    return QMainWindow::event(event);
}

void MainWindow::bringForward()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Documents keep arriving after the window closes. Without a tray icon to bring a hidden window
    // back the user would be stranded, so there the window only goes to the task bar.
    if (m_hooks.canHideToTray()) {
        event->accept();
        return;
    }
    event->ignore();
    showMinimized();
}
