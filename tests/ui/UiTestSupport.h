#pragma once

// A model on recording fakes for the window tests, and a way to put it into any state the views show.

#include "app/AppModel.h"
#include "pairing/QrCode.h"
#include "tests/support/Fakes.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

// Puts the model into the states the views show, through its parts' public setters.
struct Ui {
    static void setStatus(AppModel &m, const QString &s) { m.setStatus(s); }
    static void setLastError(AppModel &m, const std::optional<QString> &e) { m.setLastError(e); }
    static void setPairing(AppModel &m, const std::optional<PairingResponse> &p)
    {
        m.pairingKeeper().setPairing(p);
    }
    static void setQrImage(AppModel &m, const QImage &image) { m.pairingKeeper().setQrImage(image); }
    static QImage makeQRCode(const QString &text) { return ::makeQRCode(text); }
    static void setPendingCount(AppModel &m, int n) { m.pass().setPendingCount(n); }
    static void setDownloadedToday(AppModel &m, int n) { m.pass().setDownloadedToday(n); }
    static void setLastSync(AppModel &m, const std::optional<QDateTime> &t) { m.pass().setLastSync(t); }
    // Holds isWorking true for as long as the returned object lives.
    static std::shared_ptr<void> busy(AppModel &m) { return std::make_shared<SyncPass::Busy>(m.pass()); }
    // The pass reporting its progress, as the inbox does while it downloads.
    static void reportDownloading(AppModel &m, int number, int count)
    {
        Q_EMIT m.inbox().downloading(number, count);
    }
    // The inbox telling of a document it saved, as a pass does.
    static void reportSaved(AppModel &m, const QString &path)
    {
        Q_EMIT m.inbox().saved(QFileInfo(path).fileName(), path);
    }
    // Whether the views say the user is looking at the count now.
    static bool countInView(AppModel &m) { return m.pass().isCountInView(); }
    // Makes start() a no-op, so showing a window does not set off the start sequence.
    static void markStarted(AppModel &m) { m.stop(); }
};

// What a configured model looks like to the views: an https address and a key. The address refuses
// connections, so anything that does reach the network fails at once.
inline const QString configuredURL = QStringLiteral("https://127.0.0.1:9");
inline const QString configuredKey = QStringLiteral("sb_publishable_ui_tests");

class UiFixture
{
public:
    explicit UiFixture(bool configured, bool startable = false)
    {
        // A remembered folder inside the temporary directory: the start never asks for one, and
        // opening the folder never touches the real home.
        folder = dir.path() + QStringLiteral("/Gider");
        services.settings.values.insert(
            QString::fromLatin1(AppModel::targetFolderBookmarkKey), folder.toUtf8());
        QDir().mkpath(folder);
        model = std::make_unique<AppModel>(services.services(),
            configured ? testBuildValues(configuredURL, configuredKey) : testBuildValues());
        if (!startable)
            Ui::markStarted(*model);
    }

    QTemporaryDir dir;
    QString folder;
    TestServices services;
    std::unique_ptr<AppModel> model;
};

// A small QR-like picture with sharp black and white modules.
QImage checkerImage(int modules = 25);
