// The pairing's QR image and the renewal's behaviour without a backend.

#include "app/AppModel.h"
#include "pairing/QrCode.h"
#include "tests/support/Fakes.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

// Reads the module grid back from the image: 9 pixels a module, dark where the module is set.
bool moduleIsDark(const QImage &image, int column, int row)
{
    return qGray(image.pixel(column * 9 + 4, row * 9 + 4)) < 128;
}

TEST(QRCode, ImagesAreNineTimesTheModulesShownAt270)
{
    for (const QString &text : {QStringLiteral("tarvolin://pair?code=1"), QString(400, u'ş')}) {
        const QImage image = makeQRCode(text);
        ASSERT_FALSE(image.isNull()) << text.size();
        EXPECT_EQ(image.width(), image.height());
        EXPECT_EQ(image.width() % 9, 0);
        EXPECT_DOUBLE_EQ(image.width() / image.devicePixelRatio(), 270.0);
        // Sharp module edges: only black and white, no smoothing in between.
        for (int x = 0; x < image.width(); ++x) {
            const int gray = qGray(image.pixel(x, image.height() / 2));
            ASSERT_TRUE(gray == 0 || gray == 255);
        }
        // The top-left finder pattern sits right after the 4-module margin.
        EXPECT_FALSE(moduleIsDark(image, 3, 3));
        EXPECT_TRUE(moduleIsDark(image, 4, 4));
        EXPECT_TRUE(moduleIsDark(image, 10, 4));
        EXPECT_FALSE(moduleIsDark(image, 5, 5));
        EXPECT_TRUE(moduleIsDark(image, 6, 6));
    }
    EXPECT_TRUE(makeQRCode(QString()).isNull());
    EXPECT_TRUE(makeQRCode(QString(5000, u'x')).isNull()); // beyond what a QR code can carry
}

TEST(Pairing, RenewalWithoutConfigurationOpensTheSettingsAndSendsNothing)
{
    TestServices services;
    AppModel model(services.services(), testBuildValues());
    QSignalSpy busy(&model, &AppModel::isWorkingChanged);
    const QString statusBefore = model.status();

    auto task = model.refreshPairing();
    EXPECT_TRUE(task.isReady());
    EXPECT_TRUE(model.showingCloudSettings());
    EXPECT_EQ(model.status(), statusBefore);
    EXPECT_EQ(busy.count(), 0);
    EXPECT_TRUE(services.secrets.calls.isEmpty()); // no session was even looked for
}

} // namespace
