// Asking the backend for a pairing, as the user and as the sync pass.

#include "tests/transfer/WireSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const std::string pairingPath = "/functions/v1/create-pairing";

class PairingWireTest : public WireTest
{
protected:
    QJsonObject lastPairingBody()
    {
        const auto sent = requestsTo("POST", pairingPath);
        EXPECT_FALSE(sent.empty());
        return sent.empty() ? QJsonObject()
                            : QJsonDocument::fromJson(QByteArray::fromStdString(sent.back().body)).object();
    }

    void answerPairingWith(const std::string &body)
    {
        cloud.injectFault({LocalCloud::FaultKind::Status, pairingPath, "POST", 200, body});
    }
};

TEST_F(PairingWireTest, UserRenewalShowsItsProgressAndSendsTheFixedName)
{
    QStringList statuses;
    QList<bool> busy;
    QObject::connect(model.get(), &AppModel::statusChanged, model.get(), [&] { statuses.append(model->status()); });
    QObject::connect(model.get(), &AppModel::isWorkingChanged, model.get(), [&] { busy.append(model->isWorking()); });

    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(statuses, QStringList({QStringLiteral("QR kod hazırlanıyor…"), QStringLiteral("QR kod hazır")}));
    EXPECT_EQ(busy, QList<bool>({true, false}));
    EXPECT_FALSE(model->lastError());
    ASSERT_TRUE(model->pairing());
    EXPECT_FALSE(model->qrImage().isNull());
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
    const CloudSession session = QCoro::waitFor(WireAccess::session(*model));
    QCoro::waitFor(WireAccess::silentPairing(*model, session));
    EXPECT_EQ(lastPairingBody().value(QStringLiteral("computerName")).toString(), QStringLiteral("Muhasebe Masası"));
    EXPECT_TRUE(model->pairing());

    services.workspace.name = std::nullopt;
    QCoro::waitFor(WireAccess::silentPairing(*model, session));
    EXPECT_EQ(lastPairingBody().value(QStringLiteral("computerName")).toString(), QStringLiteral("Linux Bilgisayarım"));
    EXPECT_FALSE(model->isWorking());

    // The word is the platform layer's: another platform's build names itself.
    services.workspace.platform = QStringLiteral("Mac");
    QCoro::waitFor(WireAccess::silentPairing(*model, session));
    EXPECT_EQ(lastPairingBody().value(QStringLiteral("computerName")).toString(), QStringLiteral("Mac Bilgisayarım"));
}

TEST_F(PairingWireTest, UndecodableAnswersKeepThePreviousCodeAndLongTextsStillRender)
{
    QCoro::waitFor(model->refreshPairing());
    ASSERT_TRUE(model->pairing());
    const PairingResponse before = *model->pairing();
    const QImage imageBefore = model->qrImage();

    answerPairingWith(R"({"computerId":"c","computerName":"n","code":"111111","expiresAt":"e"})");
    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(model->pairing(), before);
    EXPECT_EQ(model->qrImage(), imageBefore);
    EXPECT_EQ(model->lastError(), QStringLiteral("Sunucudan geçersiz yanıt alındı."));
    EXPECT_EQ(model->status(), QStringLiteral("Bağlantı bekleniyor"));

    const std::string longText(400, 'q');
    answerPairingWith(R"({"computerId":"c","computerName":"n","code":"222222","expiresAt":"e","qrText":")" + longText
                      + R"("})");
    QCoro::waitFor(model->refreshPairing());
    ASSERT_TRUE(model->pairing());
    EXPECT_EQ(model->pairing()->code, QStringLiteral("222222"));
    EXPECT_DOUBLE_EQ(model->qrImage().width() / model->qrImage().devicePixelRatio(), 270.0);
    EXPECT_FALSE(model->lastError());

    // Text no QR code can carry: the user's renewal refuses it, the quiet one keeps the pairing.
    const std::string hugeText(5000, 'q');
    const std::string hugeAnswer =
        R"({"computerId":"c2","computerName":"n","code":"333333","expiresAt":"e","qrText":")" + hugeText + R"("})";
    answerPairingWith(hugeAnswer);
    QCoro::waitFor(model->refreshPairing());
    EXPECT_EQ(model->pairing()->code, QStringLiteral("222222"));
    EXPECT_EQ(model->lastError(), QStringLiteral("Sunucudan geçersiz yanıt alındı."));

    answerPairingWith(hugeAnswer);
    const CloudSession session = QCoro::waitFor(WireAccess::session(*model));
    QCoro::waitFor(WireAccess::silentPairing(*model, session));
    EXPECT_EQ(model->pairing()->code, QStringLiteral("333333"));
    EXPECT_TRUE(model->qrImage().isNull());
}

} // namespace
