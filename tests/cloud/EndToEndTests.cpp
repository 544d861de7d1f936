// The cloud connection against the local cloud: sign-up, a stored session shared by a second model,
// refresh after expiry, refresh-token rotation, and a session that stays with the backend that issued it.

#include "LocalCloud.h"
#include "tests/cloud/CloudTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

class CloudEndToEndTest : public ::testing::Test
{
protected:
    CloudEndToEndTest()
        : services(QtHttpClient::loadAuthorities(QString::fromStdString(cloud.caCertPath())))
        , build(testBuildValues(QString::fromStdString(cloud.baseUrl()),
              QString::fromStdString(cloud.anonKey()), QString::fromStdString(cloud.siteUrl())))
    {
    }

    long count(const std::string &method, const std::string &path)
    {
        const auto log = cloud.requestLog();
        return std::count_if(
            log.begin(), log.end(), [&](const auto &r) { return r.method == method && r.path == path; });
    }

    LocalCloud cloud;
    TestServices services;
    BuildValues build;
};

TEST_F(CloudEndToEndTest, SignUpReuseRefreshAndRotation)
{
    AppModel first(services.services(), build);
    const auto signedUp = settle(Cloud::ensureSession(first));
    ASSERT_FALSE(signedUp.error) << signedUp.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/signup"), 1);
    EXPECT_FALSE(signedUp.value->userId.isEmpty());
    const auto log = cloud.requestLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().header("apikey"), cloud.anonKey());
    EXPECT_FALSE(log.back().hasHeader("authorization"));

    // A second instance finds the stored session and sends nothing.
    AppModel second(services.services(), build);
    const auto reused = settle(Cloud::ensureSession(second));
    ASSERT_FALSE(reused.error) << reused.message().toStdString();
    EXPECT_EQ(reused.value, signedUp.value);
    EXPECT_EQ(cloud.requestLog().size(), log.size());

    // Past its expiry the second one refreshes: same user, new tokens.
    services.clock.current = services.clock.current.addSecs(3600);
    cloud.setClockOffset(std::chrono::seconds(3600));
    const auto refreshed = settle(Cloud::ensureSession(second));
    ASSERT_FALSE(refreshed.error) << refreshed.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/token?grant_type=refresh_token"), 1);
    EXPECT_EQ(refreshed.value->userId, signedUp.value->userId);
    EXPECT_NE(refreshed.value->accessToken, signedUp.value->accessToken);
    EXPECT_NE(refreshed.value->refreshToken, signedUp.value->refreshToken);

    // The first still holds the rotated-out refresh token; its refusal ends silently in a new user.
    const auto replaced = settle(Cloud::ensureSession(first));
    ASSERT_FALSE(replaced.error) << replaced.message().toStdString();
    EXPECT_EQ(count("POST", "/auth/v1/token?grant_type=refresh_token"), 2);
    EXPECT_EQ(count("POST", "/auth/v1/signup"), 2);
    EXPECT_NE(replaced.value->userId, signedUp.value->userId);
}

TEST_F(CloudEndToEndTest, ManualSettingsKeepTheComputerAcrossRestartsEvenForAnOlderStoredSession)
{
    services.settings.values.insert(QStringLiteral("manualCloudConfigurationEnabled"), true);
    services.settings.values.insert(QStringLiteral("supabaseURL"), QString::fromStdString(cloud.baseUrl()));
    services.settings.values.insert(
        QStringLiteral("supabaseAnonKey"), QString::fromStdString(cloud.anonKey()));
    const BuildValues elsewhere = testBuildValues(
        QStringLiteral("https://compiled.invalid"), testKey, QString::fromStdString(cloud.siteUrl()));
    const auto lifetime = [&] {
        AppModel model(services.services(), elsewhere);
        EXPECT_FALSE(settleVoid(Cloud::loadOfficial(model)));
        EXPECT_FALSE(settleVoid(Cloud::prepare(model)));
        EXPECT_FALSE(model.lastError()) << model.lastError().value_or(QString()).toStdString();
        return model.pairing() ? model.pairing()->computerId : QString();
    };

    const QString computer = lifetime();
    ASSERT_FALSE(computer.isEmpty());
    // As an earlier build stored it: without the backend that issued it.
    const auto item = std::pair(QStringLiteral("com.kavrendal.giderler"), QStringLiteral("cloud-session"));
    QJsonObject stored = QJsonDocument::fromJson(services.secrets.items[item]).object();
    ASSERT_TRUE(stored.contains(QStringLiteral("issuerURL")));
    stored.remove(QStringLiteral("issuerURL"));
    stored.remove(QStringLiteral("issuerKey"));
    services.secrets.items[item] = QJsonDocument(stored).toJson(QJsonDocument::Compact);

    EXPECT_EQ(lifetime(), computer);
    EXPECT_EQ(lifetime(), computer);
    EXPECT_EQ(count("POST", "/auth/v1/signup"), 1);
    EXPECT_EQ(
        QJsonDocument::fromJson(services.secrets.items[item]).object().value(QStringLiteral("issuerURL")),
        QString::fromStdString(cloud.baseUrl()));
}

TEST_F(CloudEndToEndTest, NoTokenReachesAHostOtherThanItsIssuer)
{
    WireServer other;
    TestServices both(QtHttpClient::loadAuthorities(QString::fromStdString(cloud.caCertPath()))
        + WireServer::authorities());
    QTemporaryDir folder;
    both.settings.values.insert(QStringLiteral("targetFolderBookmark"), folder.path().toUtf8());
    AppModel model(both.services(), build);
    QCoro::waitFor(model.syncNow()); // signs up and pairs silently
    ASSERT_FALSE(model.lastError()) << model.lastError()->toStdString();
    const CloudSession issued = settle(Cloud::ensureSession(model)).value.value();
    const size_t logged = cloud.requestLog().size();

    // Typed, not saved: the passes wait and nothing goes anywhere.
    model.setShowingCloudSettings(true);
    model.setSupabaseURL(other.baseUrl().left(12));
    QCoro::waitFor(model.syncNow());
    model.setSupabaseURL(other.baseUrl());
    QCoro::waitFor(model.syncNow());
    EXPECT_EQ(model.status(), QStringLiteral("Bulut ayarları bekleniyor"));
    EXPECT_TRUE(other.requests.isEmpty());
    EXPECT_EQ(cloud.requestLog().size(), logged);

    // Saved: the new backend is asked for a session of its own, never shown the old one.
    model.saveCloudSettings();
    QCoro::waitFor(model.syncNow());
    ASSERT_TRUE(waitUntil([&] { return !other.requests.isEmpty(); }));
    for (const WireRequest &request : other.requests) {
        EXPECT_FALSE(request.header("authorization").contains(issued.accessToken.toUtf8()));
        EXPECT_FALSE(request.body.contains(issued.refreshToken.toUtf8()));
    }
    EXPECT_EQ(other.requests.first().target, "/auth/v1/signup");
}

} // namespace
