#include "app/AppModel.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/DialogFolderChooser.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/PathFolderBookmarks.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtKeychainSecretStore.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/XdgAutostartLoginItem.h"

#include "CompiledInValues.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kavrendal"));
    QApplication::setApplicationName(QStringLiteral("Tarvolin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin Masaüstü"));
    QApplication::setQuitOnLastWindowClosed(false);

    QSettingsStore settings;
    QtKeychainSecretStore secrets;
    SystemClock clock;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath());
    QtHttpClient http(QtHttpClient::loadAuthorities(QStringLiteral(TARVOLIN_EXTRA_CA_CERT)));
    DialogFolderChooser folderChooser;
    PathFolderBookmarks bookmarks;
    DesktopWorkspace workspace;
    LinuxApplicationHost application;

    AppModel model(PlatformServices{settings, secrets, clock, loginItem, http, folderChooser, bookmarks,
                                    workspace, application});

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tarvolin Masaüstü"));
    auto *layout = new QVBoxLayout(&window);
    auto *status = new QLabel(model.status(), &window);
    layout->addWidget(status);
    QObject::connect(&model, &AppModel::statusChanged, status, [&] { status->setText(model.status()); });
    window.resize(420, 200);
    window.show();
    QTimer::singleShot(0, &model, [&] { model.start(); });
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);

    return app.exec();
}
