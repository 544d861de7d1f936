// Pictures of the main window in its main states, written under the build folder for people to look
// at, and checked for the contrasts a broken look would lose first.

#include "tests/ui/UiTestSupport.h"
#include "ui/CloudSettingsDialog.h"
#include "ui/ContentView.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "ui/TrayIcon.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

void save(const QImage &image, const QString &name)
{
    QDir().mkpath(QStringLiteral(TARVOLIN_SCREENSHOT_DIR));
    EXPECT_TRUE(image.save(QStringLiteral(TARVOLIN_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

// Renders the window as it would appear, saves it, and the whole column below the fold too.
QImage render(MainWindow &window, const QString &name)
{
    window.show();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    save(image, name);
    if (auto *column = window.findChild<QWidget *>(QStringLiteral("column")))
        save(column->grab().toImage(), name + QStringLiteral("-full"));
    return image;
}

void showCode(AppModel &m)
{
    Ui::setPairing(m,
        PairingResponse{QStringLiteral("pc-1"), QStringLiteral("Mac"), QStringLiteral("482913"),
            QStringLiteral("soon"), QStringLiteral("qr")});
    Ui::setQrImage(m, Ui::makeQRCode(QStringLiteral("tarvolin://pair?code=482913")));
}

// Smoothing would blend the module edges into greys a phone's camera reads badly.
void expectSharp(const QImage &image, const QRect &area)
{
    ASSERT_TRUE(image.rect().contains(area)) << "the code must be on screen in the default size";
    int black = 0, other = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            black += p == qRgb(0, 0, 0);
            other += p != qRgb(0, 0, 0) && p != qRgb(255, 255, 255);
        }
    EXPECT_EQ(other, 0);
    EXPECT_GT(black, area.width() * area.height() / 5);
}

struct State {
    const char *name;
    bool configured;
    void (*prepare)(AppModel &);
};

const State states[] = {
    {"not-configured", false,
        [](AppModel &m) { Ui::setStatus(m, QStringLiteral("Bulut ayarları bekleniyor")); }},
    {"waiting-for-code", true, [](AppModel &m) { Ui::setStatus(m, QStringLiteral("QR kod hazırlanıyor…")); }},
    {"code-shown", true, [](AppModel &m) { Ui::setStatus(m, QStringLiteral("QR kod hazır")), showCode(m); }},
    {"error-shown", true,
        [](AppModel &m) {
            Ui::setStatus(m, QStringLiteral("Bağlantı bekleniyor"));
            Ui::setLastError(
                m, QStringLiteral("Sunucuya bağlanılamadı. İnternet bağlantınızı kontrol edin."));
        }},
    {"after-a-pass", true,
        [](AppModel &m) {
            // Saved first: each saved document moves the counters set below.
            const QString folder = m.targetFolder().toLocalFile();
            Ui::reportSaved(m, folder + QStringLiteral("/2026-02-28_Kırtasiye_Fatura.pdf"));
            for (const char *name : {"2026-03-01_Yakıt_Fişi.jpg", "2026-03-01_Yemek_Fişi.pdf"}) {
                QFile file(folder + QLatin1Char('/') + QString::fromUtf8(name));
                EXPECT_TRUE(file.open(QIODevice::WriteOnly));
                Ui::reportSaved(m, file.fileName());
            }
            Ui::setStatus(m, QStringLiteral("Tüm evraklar indirildi"));
            showCode(m);
            Ui::setPendingCount(m, 3);
            Ui::setDownloadedToday(m, 12);
            Ui::setLastSync(m, QDateTime(QDate(2026, 3, 1), QTime(14, 7), Qt::LocalTime));
        }},
};

// The look for the length of one test, light again afterwards.
struct Look {
    explicit Look(bool dark) { Theme::setDark(dark); }
    ~Look() { Theme::setDark(false); }
    Look(const Look &) = delete;
    Look &operator=(const Look &) = delete;
};

QString named(const char *name, bool dark)
{
    return QString::fromLatin1(name) + (dark ? QStringLiteral("-dark") : QString());
}

TEST(Screenshots, MainWindowInItsMainStatesAndTheSettingsSheetInBothLooks)
{
    for (bool dark : {false, true}) {
        const Look look(dark);
        for (const State &state : states) {
            SCOPED_TRACE(named(state.name, dark).toStdString());
            UiFixture f(state.configured);
            state.prepare(*f.model);
            MainWindow window(*f.model, MainWindow::Hooks{[] {}, [] { return true; }});
            const QImage image = render(window, named(state.name, dark));
            const QColor background = image.pixelColor(window.content()->mapTo(&window, QPoint(6, 6)));
            EXPECT_EQ(background.lightness() < 60, dark) << background.name().toStdString();
            if (auto *qr = window.findChild<QWidget *>(QStringLiteral("qrImage")); qr && qr->isVisible())
                expectSharp(image, QRect(qr->mapTo(&window, QPoint(0, 0)), qr->size()));
        }
        UiFixture f(false);
        f.model->setSupabaseURL(QStringLiteral("https://abcdefghijklmnopqrst.supabase.co"));
        f.model->setAnonKey(QStringLiteral("sb_publishable_secret"));
        MainWindow window(*f.model, MainWindow::Hooks{[] {}, [] { return true; }});
        window.show();
        f.model->setShowingCloudSettings(true);
        QWidget *sheet = window.content()->cloudSettingsSheet();
        ASSERT_NE(sheet, nullptr);
        QCoreApplication::processEvents();
        const QImage image = sheet->grab().toImage().convertToFormat(QImage::Format_RGB32);
        save(image, named("cloud-settings", dark));
        EXPECT_EQ(image.pixelColor(4, 4).lightness() < 60, dark);
    }
}

// The panels the icon must show on: a light one and a dark one, as the common desktop themes paint them.
const QColor lightPanel(0xF6, 0xF5, 0xF4);
const QColor darkPanel(0x24, 0x1F, 0x31);

// Each variant of the tray icon on the panel it is drawn for.
TEST(Screenshots, TrayIconVariantsShowOnTheirPanels)
{
    for (TrayIcon::Panel panel : {TrayIcon::Panel::Light, TrayIcon::Panel::Dark}) {
        const bool dark = panel == TrayIcon::Panel::Dark;
        const QColor background = dark ? darkPanel : lightPanel;
        EXPECT_GT(qAbs(TrayIcon::glyphColour(panel).lightness() - background.lightness()), 150);
        QImage shown[2];
        for (bool error : {false, true}) {
            shown[error] = QImage(22, 22, QImage::Format_RGB32);
            shown[error].fill(background);
            QPainter(&shown[error]).drawPixmap(0, 0, TrayIcon::pixmap({panel, error}, 22));
            save(shown[error],
                QString::fromLatin1(dark ? "tray-dark" : "tray-light")
                    + QLatin1String(error ? "-error" : ""));
        }
        EXPECT_NE(shown[false], shown[true]) << "the error badge";
    }
}

TEST(TrayIconPanel, FollowsTheDesktopOrElseTheColoursOfTheWindows)
{
    QPalette light, dark;
    light.setColor(QPalette::Window, lightPanel);
    dark.setColor(QPalette::Window, darkPanel);
    EXPECT_EQ(TrayIcon::panelFor(dark, QStringLiteral("KDE")), TrayIcon::Panel::Dark);
    // This one keeps a dark top bar in light mode; a desktop whose name only contains it is another.
    EXPECT_EQ(TrayIcon::panelFor(light, QStringLiteral("ubuntu:GNOME")), TrayIcon::Panel::Dark);
    EXPECT_EQ(TrayIcon::panelFor(light, QStringLiteral("GNOME-Flashback-like")), TrayIcon::Panel::Light);
}

} // namespace
