// Where the backend's address and key come from: validation, the official document and its
// fallbacks, the user's own settings, and the discarding of the previous backend's session.

#include "cloud/CloudConfiguration.h"
#include "tests/cloud/CloudTestSupport.h"

#include <gtest/gtest.h>

namespace {

const QString preparingSecureText = QStringLiteral("Güvenli bağlantı hazırlanıyor…");
const QString otherKey = QStringLiteral("sb_publishable_ZYXWVUTSRQPONMLKJIHGFEDCBA9876543210");

QByteArray document(const QString &url, const QString &key, const QByteArray &revision = "7")
{
    return "{\"supabaseUrl\":\"" + url.toUtf8() + "\",\"supabaseAnonKey\":\"" + key.toUtf8()
        + "\",\"revision\":" + revision + ",\"note\":\"ignored\"}";
}

TEST(CloudConfigurationTest, ValidationCountsPerceivedCharactersAndInsistsOnLowerCaseHttps)
{
    const QString url = QStringLiteral("https://project.example.co");
    EXPECT_TRUE(isValidCloudConfiguration(url, QString(40, QLatin1Char('k'))));
    EXPECT_FALSE(isValidCloudConfiguration(url, QString(39, QLatin1Char('k'))));
    EXPECT_FALSE(isValidCloudConfiguration(url, QStringLiteral("  ") + QString(38, QLatin1Char('k'))));
    EXPECT_TRUE(isValidCloudConfiguration(
        url, QStringLiteral(" \n") + QString(40, QLatin1Char('k')) + QStringLiteral("\t ")));
    // "e" with a combining accent is one character to the reader, two code points to the machine.
    QString accented;
    for (int i = 0; i < 40; ++i)
        accented += QStringLiteral("e\u0301");
    EXPECT_TRUE(isValidCloudConfiguration(url, accented));
    EXPECT_FALSE(isValidCloudConfiguration(url, accented.left(78)));

    EXPECT_FALSE(isValidCloudConfiguration(QStringLiteral("HTTPS://project.example.co"), testKey));
    EXPECT_FALSE(isValidCloudConfiguration(QStringLiteral("http://project.example.co"), testKey));
    EXPECT_FALSE(isValidCloudConfiguration(QStringLiteral(" https://project.example.co"), testKey));
    EXPECT_FALSE(isValidCloudConfiguration(QString(), testKey));
    EXPECT_TRUE(isValidCloudConfiguration(QStringLiteral("https://127.0.0.1:8443/"), testKey));
}

class ConfigurationTest : public ::testing::Test
{
protected:
    ConfigurationTest()
        : services(WireServer::authorities())
    {
        site.responder = [this](const WireRequest &) { return siteAnswer; };
        makeModel();
    }

    void makeModel()
    {
        model = std::make_unique<AppModel>(
            services.services(), testBuildValues(backend.baseUrl(), testKey, site.baseUrl()));
    }

    // A session the compiled-in backend issued.
    void storeSession()
    {
        services.secrets.items[{QStringLiteral("com.kavrendal.giderler"), QStringLiteral("cloud-session")}]
            = CloudSession{QStringLiteral("a"), QStringLiteral("r"), services.clock.current.addSecs(3600),
                QStringLiteral("u"), Backend{backend.baseUrl(), testKey}}
                  .toJson();
    }

    bool sessionRemoved() const
    {
        return services.secrets.calls.contains(QStringLiteral("remove:cloud-session"));
    }
    QVariant setting(const QString &key) const { return services.settings.values.value(key); }
    void set(const QString &key, const QVariant &value) { services.settings.values.insert(key, value); }
    void load() { ASSERT_FALSE(settleVoid(Cloud::loadOfficial(*model))); }

    WireServer backend;
    WireServer site;
    TestServices services;
    std::unique_ptr<AppModel> model;
    QByteArray siteAnswer;
};

TEST_F(ConfigurationTest, AnOfficialDocumentNamingAnotherBackendIsAppliedCachedAndDropsTheSession)
{
    storeSession();
    siteAnswer = WireServer::http(200, document(QStringLiteral("https://other.example.co/"), otherKey, "9"));
    load();

    ASSERT_EQ(site.requests.size(), 1);
    EXPECT_EQ(site.requests.first().method, "GET");
    EXPECT_EQ(site.requests.first().target, "/config/cloud.json");
    EXPECT_EQ(site.requests.first().header("accept"), "application/json");
    EXPECT_FALSE(site.requests.first().has("apikey"));

    EXPECT_EQ(model->supabaseURL(), QStringLiteral("https://other.example.co"));
    EXPECT_EQ(model->anonKey(), otherKey);
    EXPECT_TRUE(sessionRemoved());
    EXPECT_TRUE(services.secrets.items.empty());
    // Cached as received, before normalisation.
    EXPECT_EQ(setting(QStringLiteral("cachedOfficialSupabaseURL")).toString(),
        QStringLiteral("https://other.example.co/"));
    EXPECT_EQ(setting(QStringLiteral("cachedOfficialSupabaseAnonKey")).toString(), otherKey);
    EXPECT_EQ(setting(QStringLiteral("officialCloudConfigurationRevision")).toLongLong(), 9);
    EXPECT_EQ(model->status(), preparingSecureText);
    EXPECT_FALSE(model->lastError());

    // The compiled-in values again, from the document: that is no change, the session stays.
    services.secrets.calls.clear();
    storeSession();
    siteAnswer = WireServer::http(200, document(backend.baseUrl(), testKey, "1"));
    makeModel();
    load();
    EXPECT_FALSE(sessionRemoved());
    EXPECT_EQ(model->supabaseURL(), backend.baseUrl());
    EXPECT_EQ(setting(QStringLiteral("officialCloudConfigurationRevision")).toLongLong(), 1);
}

TEST_F(ConfigurationTest, AnUnusableDocumentFallsBackToTheCacheAndThenToTheCurrentValues)
{
    // A refused status, a document that reads but is no backend, no HTTP at all; which documents
    // read is the configuration fuzz corpus's business.
    const QList<QByteArray> unusable = {
        WireServer::http(500, document(QStringLiteral("https://other.example.co"), otherKey)),
        WireServer::http(200, document(QStringLiteral("http://other.example.co"), otherKey)),
        QByteArray("no http here\r\n"),
    };
    const QString cachedURL = QStringLiteral("https://cached.example.co//");
    for (const QByteArray &answer : unusable) {
        siteAnswer = answer;

        services.settings.values.clear();
        makeModel();
        load();
        EXPECT_EQ(model->supabaseURL(), backend.baseUrl()) << answer.toStdString();
        EXPECT_EQ(model->anonKey(), testKey);
        EXPECT_EQ(model->status(), preparingSecureText);
        EXPECT_FALSE(model->lastError());

        set(QStringLiteral("cachedOfficialSupabaseURL"), cachedURL);
        set(QStringLiteral("cachedOfficialSupabaseAnonKey"), otherKey);
        makeModel();
        load();
        EXPECT_EQ(model->supabaseURL(), QStringLiteral("https://cached.example.co")) << answer.toStdString();
        EXPECT_EQ(model->anonKey(), otherKey);
        EXPECT_FALSE(setting(QStringLiteral("officialCloudConfigurationRevision")).isValid());
    }
}

TEST_F(ConfigurationTest, ValidManualSettingsAreUsedAloneAndInvalidOnesAreSwitchedOffButKept)
{
    set(QStringLiteral("manualCloudConfigurationEnabled"), true);
    set(QStringLiteral("supabaseURL"), QStringLiteral("https://mine.example.co"));
    set(QStringLiteral("supabaseAnonKey"), otherKey);
    makeModel();
    const QString statusBefore = model->status();
    load();
    EXPECT_TRUE(site.requests.isEmpty());
    EXPECT_EQ(model->supabaseURL(), QStringLiteral("https://mine.example.co"));
    EXPECT_EQ(model->anonKey(), otherKey);
    EXPECT_EQ(model->status(), statusBefore);

    set(QStringLiteral("supabaseURL"), QStringLiteral("http://mine.example.co"));
    makeModel();
    siteAnswer = WireServer::http(200, document(QStringLiteral("https://official.example.co"), otherKey));
    load();
    EXPECT_EQ(setting(QStringLiteral("manualCloudConfigurationEnabled")), QVariant(false));
    EXPECT_EQ(setting(QStringLiteral("supabaseURL")).toString(), QStringLiteral("http://mine.example.co"));
    EXPECT_EQ(site.requests.size(), 1);
    EXPECT_EQ(model->supabaseURL(), QStringLiteral("https://official.example.co"));
}

TEST_F(ConfigurationTest, SavingNormalisesStoresAndDiscardsOnlyWhenTheValuesChange)
{
    backend.responder = [](const WireRequest &) { return WireServer::http(503, {}); };
    model->setShowingCloudSettings(true);
    model->setSupabaseURL(QStringLiteral("  ") + backend.baseUrl() + QStringLiteral("///  "));
    model->setAnonKey(QStringLiteral("\n") + testKey + QStringLiteral(" "));
    Cloud::setPairing(*model, PairingResponse{});
    model->saveCloudSettings();

    EXPECT_EQ(model->supabaseURL(), backend.baseUrl());
    EXPECT_EQ(model->anonKey(), testKey);
    EXPECT_EQ(setting(QStringLiteral("supabaseURL")).toString(), backend.baseUrl());
    EXPECT_EQ(setting(QStringLiteral("supabaseAnonKey")).toString(), testKey);
    EXPECT_EQ(setting(QStringLiteral("manualCloudConfigurationEnabled")), QVariant(true));
    EXPECT_FALSE(model->showingCloudSettings());
    // The values in use, saved as manual ones, are no change: session and pairing stay.
    EXPECT_FALSE(sessionRemoved());
    EXPECT_TRUE(model->pairing());
    // The connection is prepared in the background.
    ASSERT_TRUE(waitUntil([&] { return model->lastError().has_value(); }));
    EXPECT_EQ(*model->lastError(), QStringLiteral("Sunucu hatası (503)."));

    model->setAnonKey(otherKey);
    model->saveCloudSettings();
    EXPECT_TRUE(sessionRemoved());
    EXPECT_FALSE(model->pairing());
}

} // namespace
