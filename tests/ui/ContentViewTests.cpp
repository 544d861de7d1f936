// The main window's content: what each control calls, and what the cards show for each model state.

#include "tests/ui/UiTestSupport.h"
#include "ui/ArrivalsCard.h"
#include "ui/ContentView.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

template <typename T = QWidget> T *part(QWidget &view, const char *name)
{
    T *widget = view.findChild<T *>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

bool shown(QWidget &view, const char *name)
{
    return part(view, name)->isVisibleTo(&view);
}

QString textOf(QWidget &view, const char *name)
{
    return part<QLabel>(view, name)->text();
}

TEST(ContentView, EachControlCallsItsModelOperation)
{
    UiFixture f(/*configured=*/true);
    AppModel &model = *f.model;
    ContentView view(model);

    part<QPushButton>(view, "settingsButton")->click();
    EXPECT_TRUE(model.showingCloudSettings());

    // The change button asks for a folder, and as a change rather than the first setup: a cancelled
    // choice leaves no error behind.
    part<QPushButton>(view, "changeFolderButton")->click();
    ASSERT_EQ(f.services.folderChooser.calls.size(), 1);
    EXPECT_FALSE(model.lastError().has_value());

    part<QPushButton>(view, "openFolderButton")->click();
    ASSERT_EQ(f.services.workspace.opened.size(), 1);
    EXPECT_EQ(f.services.workspace.opened[0], model.targetFolder());

    // The first launch registered the login item, so the switch starts on and a click turns it off.
    auto *loginSwitch = part<ToggleSwitch>(view, "loginSwitch");
    ASSERT_TRUE(loginSwitch->isOn());
    loginSwitch->click();
    EXPECT_EQ(f.services.loginItem.unregisterCalls, 1);
    EXPECT_FALSE(model.launchAtLogin());
    EXPECT_FALSE(loginSwitch->isOn());
    // A registration the system refuses springs back, and the model holds why.
    f.services.loginItem.refuseRegister = true;
    loginSwitch->click();
    EXPECT_FALSE(loginSwitch->isOn());
    EXPECT_TRUE(model.lastError().has_value());
    f.services.loginItem.refuseRegister = false;
    Ui::setLastError(model, std::nullopt);

    // A pass against a backend that refuses connections ends in an error the window shows.
    auto *sync = part<QPushButton>(view, "syncButton");
    sync->click();
    ASSERT_TRUE(waitUntil([&] { return model.lastError().has_value() && !model.isWorking(); }));
    EXPECT_TRUE(shown(view, "errorBanner"));

    // The button waits for the running pass and for a configuration; the pairing buttons do not.
    {
        auto busy = Ui::busy(model);
        EXPECT_FALSE(sync->isEnabled());
        EXPECT_TRUE(part<QPushButton>(view, "renewCodeButton")->isEnabled());
    }
    EXPECT_TRUE(sync->isEnabled());
    model.setSupabaseURL(QStringLiteral("http://insecure.example"));
    EXPECT_FALSE(sync->isEnabled());
}

TEST(ContentView, PairingCardPicksTheFirstPanelThatApplies)
{
    struct Case {
        bool configured, qr, error;
        const char *panel;
    };
    const Case cases[] = {{true, true, true, "qrPanel"}, {false, false, true, "errorBox"},
        {true, false, false, "placeholderBox"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(
            testing::Message() << "configured " << c.configured << " qr " << c.qr << " error " << c.error);
        UiFixture f(c.configured);
        ContentView view(*f.model);
        if (c.qr)
            Ui::setQrImage(*f.model, checkerImage());
        if (c.error)
            Ui::setLastError(*f.model, QStringLiteral("Bağlantı kurulamadı"));
        for (const char *panel : {"qrPanel", "errorBox", "placeholderBox"})
            EXPECT_EQ(shown(view, panel), qstrcmp(panel, c.panel) == 0) << panel;
    }
}

TEST(ContentView, CodeCountsLastCheckAndErrorFollowTheModel)
{
    UiFixture f(true);
    ContentView view(*f.model);
    const QImage qr = checkerImage();
    Ui::setQrImage(*f.model, qr);
    Ui::setPairing(*f.model,
        PairingResponse{QStringLiteral("pc-1"), QStringLiteral("Mac"), QStringLiteral("482913"),
            QStringLiteral("soon"), QStringLiteral("qr")});
    EXPECT_EQ(textOf(view, "codeLine"), QStringLiteral("Tek kullanımlık kod: 482913"));
    EXPECT_EQ(part<PixelImageView>(view, "qrImage")->image(), qr);

    // Counts as plain digits, without grouping.
    Ui::setPendingCount(*f.model, 12345);
    Ui::setDownloadedToday(*f.model, 1000);
    EXPECT_EQ(textOf(view, "pendingCount"), QStringLiteral("12345"));
    EXPECT_EQ(textOf(view, "downloadedToday"), QStringLiteral("Bugün 1000"));

    Ui::setLastError(*f.model, QStringLiteral("Evrak indirilemedi."));
    EXPECT_EQ(textOf(view, "errorBannerText"), QStringLiteral("Evrak indirilemedi."));
    Ui::setLastError(*f.model, std::nullopt);
    EXPECT_FALSE(shown(view, "errorBanner"));

    // The last check in the user's short time form, without seconds.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    Ui::setLastSync(*f.model, QDateTime(QDate(2026, 3, 1), QTime(14, 7, 31), Qt::LocalTime));
    EXPECT_EQ(textOf(view, "lastSyncLine"), QStringLiteral("Son kontrol: 2:07 PM"));
    QLocale::setDefault(previous);

    // Without a configuration a renewal asks for the settings.
    UiFixture unconfigured(false);
    ContentView bare(*unconfigured.model);
    Ui::setLastError(*unconfigured.model, QStringLiteral("Sunucuya ulaşılamadı"));
    part<QPushButton>(bare, "retryButton")->click();
    EXPECT_TRUE(unconfigured.model->showingCloudSettings());
}

TEST(ContentView, RecentArrivalsListTheNewestTwentyAndLeadToTheirFiles)
{
    UiFixture f(true);
    ContentView view(*f.model);
    auto *card = part<ArrivalsCard>(view, "arrivalsCard");
    EXPECT_TRUE(shown(view, "arrivalsEmpty"));

    // Markup in a name stays text; the oldest two fall off the list.
    QStringList paths;
    for (int i = 0; i < 22; ++i) {
        paths.append(f.folder + QStringLiteral("/<b>evrak %1.pdf").arg(i));
        QFile file(paths.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        Ui::reportSaved(*f.model, paths.last());
    }
    EXPECT_FALSE(shown(view, "arrivalsEmpty"));
    const QList<ArrivalEntry *> &entries = card->entries();
    ASSERT_EQ(entries.size(), 20);
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(entries[i]->isVisibleTo(&view)) << i;
        EXPECT_EQ(entries[i]->name(), QStringLiteral("<b>evrak %1.pdf").arg(21 - i)) << i;
    }

    // Click, Enter and Space each show the file itself.
    view.show();
    entries[0]->click();
    entries[1]->setFocus();
    QTest::keyClick(entries[1], Qt::Key_Return);
    QTest::keyClick(entries[2], Qt::Key_Space);
    EXPECT_EQ(f.services.workspace.shownFiles, (QStringList{paths[21], paths[20], paths[19]}));

    // A file moved away since is dimmed, says so, and leads nowhere.
    ASSERT_TRUE(QFile::remove(paths[21]));
    card->refresh();
    EXPECT_FALSE(entries[0]->isPresent());
    EXPECT_FALSE(entries[0]->isEnabled());
    EXPECT_TRUE(entries[0]->accessibleName().endsWith(ArrivalEntry::goneText()));
    entries[0]->click();
    EXPECT_EQ(f.services.workspace.shownFiles.size(), 3);
    EXPECT_TRUE(entries[1]->isPresent());
}

TEST(ContentView, TextGrowsWithTheDesktopFontSetting)
{
    UiFixture f(true);
    const QFont desktop = QApplication::font();
    auto sizeIn = [&](const char *name) {
        ContentView view(*f.model);
        return QFontInfo(part<QLabel>(view, name)->font()).pointSizeF();
    };
    const qreal count = sizeIn("pendingCount");
    QFont larger = desktop;
    larger.setPointSizeF(desktop.pointSizeF() * 2);
    QApplication::setFont(larger);
    EXPECT_NEAR(sizeIn("pendingCount"), count * 2, 1);
    QApplication::setFont(desktop);
}

} // namespace
