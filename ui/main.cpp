// The program's entry point: the one place that knows which platform it runs on.
#include "app/AppModel.h"
#include "platform/linux/DesktopId.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/DialogFolderChooser.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/PathFolderBookmarks.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtKeychainSecretStore.h"
#include "platform/linux/QtTranslations.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "ui/ApplicationScene.h"
#include "ui/Symbols.h"
#include "ui/TrayMenu.h"
#include "ui/TrayNotifier.h"

#include "CompiledInValues.h"
#ifdef TARVOLIN_MODEL_PROBE
#include "ModelProbe.h"
#endif

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtTranslations(app);
    QApplication::setOrganizationName(QStringLiteral("Kavrendal"));
    QApplication::setApplicationName(QStringLiteral("Tarvolin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin Masaüstü"));
    QApplication::setApplicationVersion(BuildValues::compiledIn().version);
    QApplication::setDesktopFileName(desktopId());
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tarvolin"),
                                                 QIcon(QStringLiteral(":/tarvolin/tarvolin.svg"))));
    // The program lives on in the tray after its window closes; only an explicit quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    QSettingsStore settings;
    QtKeychainSecretStore secrets;
    SystemClock clock;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath());
    QtHttpClient http(QtHttpClient::loadAuthorities(QStringLiteral(TARVOLIN_EXTRA_CA_CERT)));
    DialogFolderChooser folderChooser;
    PathFolderBookmarks bookmarks;
    DesktopWorkspace workspace;
    LinuxApplicationHost application(QCoreApplication::applicationDirPath());
    FreedesktopNotifier notifier(QStringLiteral("tarvolin"));

    AppModel model(PlatformServices{settings, secrets, clock, loginItem, http, folderChooser, bookmarks,
                                    workspace, application, notifier});
    model.enablePush();

#ifdef TARVOLIN_MODEL_PROBE
    // Only in the build the crash loop and the fault soak run.
    ModelProbe probe(model);
#endif
    ApplicationScene scene(model);
    // The tray exists only now; until it does there is no pass and so nothing to tell.
    TrayNotifier trayMessages(*scene.trayMenu()->icon());
    notifier.setFallback(&trayMessages);
    scene.show();
    const int result = app.exec();
    model.stop();
    return result;
}
