// The program's entry point: the one place that knows which platform it runs on.
#include "app/AppModel.h"
#include "platform/linux/DesktopId.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/DialogFolderChooser.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/LinuxWakeEvents.h"
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
#include <QSslConfiguration>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installQtTranslations(app);
    QApplication::setOrganizationName(QStringLiteral("Kavrendal"));
    QApplication::setApplicationName(QStringLiteral("Tarvolin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin Masaüstü"));
    QApplication::setApplicationVersion(BuildValues::compiledIn().version);
    QApplication::setDesktopFileName(desktopId());
    // The program lives on in the tray after its window closes; only an explicit quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);

    QSettingsStore settings;
    QtKeychainSecretStore secrets;
    SystemClock clock;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath());
    const QList<QSslCertificate> extraAuthorities = QtHttpClient::loadAuthorities(QStringLiteral(TARVOLIN_EXTRA_CA_CERT));
    QtHttpClient http(extraAuthorities);
    DialogFolderChooser folderChooser;
    PathFolderBookmarks bookmarks;
    DesktopWorkspace workspace;
    LinuxApplicationHost application(QCoreApplication::applicationDirPath());
    FreedesktopNotifier notifier(QStringLiteral("tarvolin"));
    LinuxWakeEvents wake;

    AppModel model(PlatformServices{settings, secrets, clock, loginItem, http, folderChooser, bookmarks,
                                    workspace, application, notifier, wake});
    // The push channel trusts what every request trusts.
    QSslConfiguration pushTls = QSslConfiguration::defaultConfiguration();
    pushTls.addCaCertificates(extraAuthorities);
    model.enablePush(pushTls);

#ifdef TARVOLIN_MODEL_PROBE
    // Only in the build the crash loop and the fault soak run.
    ModelProbe probe(model);
#endif
    ApplicationScene scene(model);
    // The tray exists only now; until it does there is no pass and so nothing to tell.
    TrayNotifier trayMessages(*scene.trayMenu()->icon());
    notifier.setFallback(&trayMessages);
    // The login entry starts the program with this: it works in the tray without opening the window.
    scene.launch(app.arguments().contains(XdgAutostartLoginItem::backgroundArgument()));
    const int result = app.exec();
    model.stop();
    return result;
}
