// Asking the backend for a pairing, as the user and as the sync pass.

#include "tests/transfer/WireSupport.h"

#include <QSignalSpy>

namespace {

const std::string pairingPath = "/functions/v1/create-pairing";
const QString invalidAnswer = QStringLiteral("Sunucudan geçersiz yanıt alındı.");

class PairingWireTest : public WireTest
{
protected:
    QJsonObject lastPairingBody()
    {
        const auto sent = requestsTo("POST", pairingPath);
        EXPECT_FALSE(sent.empty());
        return sent.empty() ? QJsonObject() : jsonOf(sent.back().body);
    }
    QString lastComputerName() { return lastPairingBody().value(QStringLiteral("computerName")).toString(); }

    void silentPairing()
    {
        QCoro::waitFor(WireAccess::silentPairing(*model, QCoro::waitFor(WireAccess::session(*model))));
    }

    // The next pairing is answered with this code and, unless empty, this text for the QR code.
    void answerPairingWith(const std::string &code, const std::string &qrText = {})
    {
        const std::string qr = qrText.empty() ? std::string() : R"(,"qrText":")" + qrText + '"';
        cloud.injectFault({LocalCloud::FaultKind::Status, pairingPath, "POST", 200,
            R"({"computerId":"c)" + code + R"(","computerName":"n","code":")" + code + R"(","expiresAt":"e")"
                + qr + "}"});
    }
};

TEST_F(PairingWireTest, UserRenewalShowsItsProgressAndSendsTheFixedName)
{
    QStringList statuses;
    QList<bool> busy;
    QObject::connect(
        model.get(), &AppModel::statusChanged, model.get(), [&] { statuses.append(model->status()); });
    QObject::connect(
        model.get(), &AppModel::isWorkingChanged, model.get(), [&] { busy.append(model->isWorking()); });

    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(
        statuses, QStringList({QStringLiteral("QR kod hazırlanıyor…"), QStringLiteral("QR kod hazır")}));
    EXPECT_EQ(busy, QList<bool>({true, false}));
    EXPECT_FALSE(model->lastError());
    ASSERT_TRUE(model->pairing());
    // A pixel a module, only black and white, the top-left finder right after the 4-module margin.
    const QImage qr = model->qrImage();
    ASSERT_FALSE(qr.isNull());
    EXPECT_EQ(qr.width(), qr.height());
    EXPECT_EQ((qr.width() - 8 - 21) % 4, 0) << "a code is 21 modules and 4 more a version";
    for (int x = 0; x < qr.width(); ++x)
        ASSERT_EQ(qGray(qr.pixel(x, qr.height() / 2)) % 255, 0) << x;
    for (const auto &[column, row, dark] : std::initializer_list<std::tuple<int, int, bool>>{
             {3, 3, false}, {4, 4, true}, {10, 4, true}, {5, 5, false}, {6, 6, true}})
        EXPECT_EQ(qGray(qr.pixel(column, row)) < 128, dark) << column << "," << row;
    EXPECT_EQ(lastPairingBody(),
        QJsonObject({{QStringLiteral("computerName"), QStringLiteral("Tarvolin Masaüstü · Linux")},
            {QStringLiteral("targetFolderName"), QDir(folder.path()).dirName()}}));
    // The code on screen is one the phone can claim.
    EXPECT_EQ(cloud.claimPairing(model->pairing()->code.toStdString()).computerId,
        model->pairing()->computerId.toStdString());
}

TEST_F(PairingWireTest, SilentPairingSendsTheComputersNameOrTheFallback)
{
    services.workspace.name = QStringLiteral("Muhasebe Masası");
    silentPairing();
    EXPECT_EQ(lastComputerName(), QStringLiteral("Muhasebe Masası"));
    EXPECT_TRUE(model->pairing());

    services.workspace.name = std::nullopt;
    silentPairing();
    EXPECT_EQ(lastComputerName(), QStringLiteral("Linux Bilgisayarım"));
    EXPECT_FALSE(model->isWorking());

    // The word is the platform layer's: another platform's build names itself.
    services.workspace.platform = QStringLiteral("Mac");
    silentPairing();
    EXPECT_EQ(lastComputerName(), QStringLiteral("Mac Bilgisayarım"));
}

TEST_F(PairingWireTest, UndecodableAnswersKeepThePreviousCodeAndLongTextsStillRender)
{
    QCoro::waitFor(model->refreshPairing());
    ASSERT_TRUE(model->pairing());
    const PairingResponse before = *model->pairing();
    const QImage imageBefore = model->qrImage();

    answerPairingWith("111111"); // no text for the QR code
    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(model->pairing(), before);
    EXPECT_EQ(model->qrImage(), imageBefore);
    EXPECT_EQ(model->lastError(), invalidAnswer);
    EXPECT_EQ(model->status(), QStringLiteral("Bağlantı bekleniyor"));

    answerPairingWith("222222", std::string(400, 'q'));
    QCoro::waitFor(model->refreshPairing());
    ASSERT_TRUE(model->pairing());
    EXPECT_EQ(model->pairing()->code, QStringLiteral("222222"));
    EXPECT_DOUBLE_EQ(model->qrImage().width() / model->qrImage().devicePixelRatio(), 270.0);
    EXPECT_FALSE(model->lastError());

    // Text no QR code can carry: the user's renewal refuses it, the quiet one keeps the pairing.
    answerPairingWith("333333", std::string(5000, 'q'));
    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(model->pairing()->code, QStringLiteral("222222"));
    EXPECT_EQ(model->lastError(), invalidAnswer);

    answerPairingWith("333333", std::string(5000, 'q'));
    silentPairing();
    EXPECT_EQ(model->pairing()->code, QStringLiteral("333333"));
    EXPECT_TRUE(model->qrImage().isNull());
}

TEST_F(PairingWireTest, RenewalWithoutConfigurationOpensTheSettingsAndSendsNothing)
{
    TestServices other;
    AppModel unconfigured(other.services(), testBuildValues());
    QSignalSpy busy(&unconfigured, &AppModel::isWorkingChanged);
    const QString statusBefore = unconfigured.status();
    EXPECT_TRUE(unconfigured.refreshPairing().isReady());
    EXPECT_TRUE(unconfigured.showingCloudSettings());
    EXPECT_EQ(unconfigured.status(), statusBefore);
    EXPECT_EQ(busy.count(), 0);
    EXPECT_TRUE(other.secrets.calls.isEmpty()); // no session was even looked for
    EXPECT_TRUE(cloud.requestLog().empty());
}

} // namespace
