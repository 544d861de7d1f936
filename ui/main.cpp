// The program's entry point: the one place that knows which platform it runs on.
#include "app/AppModel.h"
#include "platform/linux/ChildProcessSecretStore.h"
#include "platform/linux/DesktopId.h"
#include "platform/linux/DesktopWorkspace.h"
#include "platform/linux/DialogFolderChooser.h"
#include "platform/linux/FreedesktopNotifier.h"
#include "platform/linux/LinuxApplicationHost.h"
#include "platform/linux/LinuxWakeEvents.h"
#include "platform/linux/LocalInstanceGuard.h"
#include "platform/linux/PathFolderBookmarks.h"
#include "platform/linux/PortalColourScheme.h"
#include "platform/linux/QSettingsStore.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/QtTranslations.h"
#include "platform/linux/SystemClock.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "ui/ApplicationScene.h"
#include "ui/Symbols.h"
#include "ui/Theme.h"
#include "ui/TrayMenu.h"
#include "ui/TrayNotifier.h"

#include "CompiledInValues.h"
#ifdef TARVOLIN_MODEL_PROBE
#include "ModelProbe.h"
#endif

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThreadPool>

#include <cstdio>
#include <cstring>
#include <optional>

int main(int argc, char *argv[])
{
    // The secret store's child is this program too; it must start nothing of the program's own.
    if (argc > 1 && std::strcmp(argv[1], ChildProcessSecretStore::helperArgument) == 0)
        return ChildProcessSecretStore::runHelper(argc, argv);

    // Taken before Qt starts: its platform plugins consume them from the environment.
    InstanceGuard::Launch launch{
        {}, qEnvironmentVariable("XDG_ACTIVATION_TOKEN"), qEnvironmentVariable("DESKTOP_STARTUP_ID")};
    QApplication app(argc, argv);
    launch.arguments = QCoreApplication::arguments().mid(1);
    installQtTranslations(app);
    QApplication::setOrganizationName(QStringLiteral("Kavrendal"));
    QApplication::setApplicationName(QStringLiteral("Tarvolin"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarvolin Masaüstü"));
    QApplication::setApplicationVersion(BuildValues::compiledIn().version);
    QApplication::setDesktopFileName(desktopId());
    // The program lives on in the tray after its window closes; only an explicit quit ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt converts and scales the icons and the code image on pooled threads at a start; a tray program
    // idles for hours, so they should not linger half a minute with their stacks and heaps.
    QThreadPool::globalInstance()->setExpiryTimeout(1000);

    // Before anything reads the settings, the session or the network: a second copy would poll and
    // acknowledge beside the first and rotate its session away. It hands its launch over and leaves.
    LocalInstanceGuard instance(desktopId());
    ApplicationScene *shell = nullptr; // launches arrive only once the event loop runs, after it exists
    try {
        if (!instance.claim(launch, [&shell](const InstanceGuard::Launch &later) {
                if (shell)
                    shell->takeLaunch(later);
            }))
            return 0;
    } catch (const PlatformError &error) {
        const QString text = QStringLiteral("Tarvolin Masaüstü başlatılamadı: ") + error.description();
        std::fprintf(stderr, "%s\n", qPrintable(text));
        QMessageBox::critical(nullptr, QStringLiteral("Tarvolin Masaüstü"), text);
        return 1;
    }

    QSettingsStore settings;
    ChildProcessSecretStore secrets;
    SystemClock clock;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath());
    try {
        loginItem.renewIfOutdated();
    } catch (const PlatformError &error) {
        // The old entry still starts the program, only with its window open.
        std::fprintf(stderr, "login entry not renewed: %s\n", qPrintable(error.description()));
    }
    QtHttpClient http(QtHttpClient::loadAuthorities(QStringLiteral(TARVOLIN_EXTRA_CA_CERT)));
    DialogFolderChooser folderChooser;
    PathFolderBookmarks bookmarks;
    DesktopWorkspace workspace;
    LinuxApplicationHost application(QCoreApplication::applicationDirPath());
    FreedesktopNotifier notifier(QStringLiteral("tarvolin"));
    LinuxWakeEvents wake;

    AppModel model(PlatformServices{settings, secrets, clock, loginItem, http, folderChooser, bookmarks,
        workspace, application, notifier, wake});
    model.enablePush();

#ifdef TARVOLIN_MODEL_PROBE
    // Only in the build the crash loop and the fault soak run.
    ModelProbe probe(model);
#endif
    // Every way out (both menus and the update) goes through the host, which ends the event loop
    // even while the window, with no tray to hide into, refuses to close.
    // The look is chosen before any window is built; a desktop without the portal is judged by its palette.
    PortalColourScheme colourScheme;
    Theme::setDark(colourScheme.prefersDark().value_or(Theme::looksDark(QApplication::palette())));
    std::optional<ApplicationScene> scene(
        std::in_place, model, ApplicationScene::Options{[&application] { application.quit(); }, {}});
    shell = &*scene;
    QObject::connect(&colourScheme, &PortalColourScheme::changed, &*scene, &ApplicationScene::setDarkLook);
    // The tray exists only now; until it does there is no pass and so nothing to tell.
    std::optional<TrayNotifier> trayMessages(std::in_place, *scene->trayMenu()->icon());
    notifier.setFallback(&*trayMessages);
    // The login entry starts the program with this: it works in the tray without opening the window.
    scene->launch(launch.arguments.contains(XdgAutostartLoginItem::backgroundArgument()));
    const int result = app.exec();

    // Leaving: no more launches, no more passes, and the window and the icon gone at once. A document
    // being fetched stays a hidden temporary file, removed at the next start; a session renewed just now
    // must still reach the secret store.
    instance.stopTakingLaunches();
    model.stop();
    notifier.setFallback(nullptr);
    shell = nullptr;
    trayMessages.reset();
    scene.reset();
    secrets.finishPendingWork();
    return result;
}
