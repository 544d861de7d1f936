#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "core/Json.h"
#include "cloud/HttpExchange.h"
#include "cloud/SessionRenewal.h"

#include <QJsonObject>
#include <QNetworkRequest>
#include <QPointer>
#include <QTextBoundaryFinder>

#include <cmath>

namespace {


constexpr int officialDocumentTimeoutMs = 15000;
constexpr int minimumKeyLength = 40;

// Counts what a reader sees as one character each: a flag or an accented letter built of several
// code points is one.
int userPerceivedLength(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString normalisedKey(const QString &key)
{
    return key.trimmed();
}

QString normalisedAddress(const QString &url)
{
    QString text = url.trimmed();
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char('/'))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char('/'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

std::optional<CloudConfiguration> CloudConfiguration::fromJson(const QByteArray &json)
{
    const std::optional<QJsonObject> parsed = jsonObject(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject &object = *parsed;
    const QJsonValue url = object.value(QLatin1String("supabaseUrl"));
    const QJsonValue key = object.value(QLatin1String("supabaseAnonKey"));
    const QJsonValue revision = object.value(QLatin1String("revision"));
    if (!url.isString() || !key.isString() || !revision.isDouble())
        return std::nullopt;

    // A whole number that fits a 64-bit integer; 7.0 counts, 7.5 and 1e30 do not.
    const double number = revision.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) >= 9.2e18)
        return std::nullopt;
    const qint64 whole = revision.toInteger(static_cast<qint64>(number));
    return CloudConfiguration{url.toString(), key.toString(), whole};
}

bool AppModel::isValidCloudConfiguration(const QString &url, const QString &key)
{
    return isHttpsAddress(url) && userPerceivedLength(normalisedKey(key)) >= minimumKeyLength;
}

void AppModel::applyCloudConfiguration(const QString &url, const QString &key)
{
    const QString address = normalisedAddress(url);
    const QString trimmedKey = normalisedKey(key);
    if (address != m_supabaseURL || trimmedKey != m_anonKey)
        discardBackendState();
    setSupabaseURL(address);
    setAnonKey(trimmedKey);
}

void AppModel::discardBackendState()
{
    // Bumping the generation first makes answers and stored items of the old backend that are still
    // on their way be dropped when they arrive.
    ++m_backendGeneration;
    m_session.reset();
    m_sessionRenewal.reset();
    setPairing(std::nullopt);
    setQrImage(QImage());
    // Not awaited: the store performs its operations in the order they were started, so the next
    // session saved always lands after this removal.
    m_keychain.remove(QString::fromLatin1(KeychainStore::sessionAccount));
}

QCoro::Task<> AppModel::loadOfficialCloudConfiguration()
{
    if (m_usesManualCloudConfiguration) {
        const QString url = m_settings.value(SettingKeys::supabaseURL);
        const QString key = m_settings.value(SettingKeys::supabaseAnonKey);
        if (isValidCloudConfiguration(url, key)) {
            applyCloudConfiguration(url, key);
            co_return;
        }
        // The stored texts stay; only the switch goes, so the official source is used again.
        m_usesManualCloudConfiguration = false;
        m_settings.set(SettingKeys::manualCloudConfigurationEnabled, false);
    }

    setStatus(QStringLiteral("Güvenli bağlantı hazırlanıyor…"));

    std::optional<CloudConfiguration> document;
    try {
        QNetworkRequest request(QUrl(m_build.siteOrigin + QStringLiteral("/config/cloud.json")));
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setTransferTimeout(officialDocumentTimeoutMs);
        request.setRawHeader("Accept", "application/json");
        const HttpAnswer answer = co_await exchange(m_services.http, std::move(request), "GET", QByteArray());
        if (answer.status >= 200 && answer.status <= 299)
            document = CloudConfiguration::fromJson(answer.body);
    } catch (const std::exception &) {
        // Falls back below, silently: this runs in the background at every start.
    }

    if (document && isValidCloudConfiguration(document->supabaseUrl, document->supabaseAnonKey)) {
        applyCloudConfiguration(document->supabaseUrl, document->supabaseAnonKey);
        m_settings.set(SettingKeys::cachedOfficialSupabaseURL, document->supabaseUrl);
        m_settings.set(SettingKeys::cachedOfficialSupabaseAnonKey, document->supabaseAnonKey);
        m_settings.set(SettingKeys::officialCloudConfigurationRevision, document->revision);
        co_return;
    }

    const QString cachedURL = m_settings.value(SettingKeys::cachedOfficialSupabaseURL);
    const QString cachedKey = m_settings.value(SettingKeys::cachedOfficialSupabaseAnonKey);
    if (isValidCloudConfiguration(cachedURL, cachedKey))
        applyCloudConfiguration(cachedURL, cachedKey);
}

void AppModel::saveCloudSettings()
{
    const QString previousURL = m_settings.value(SettingKeys::supabaseURL);
    const QString previousKey = m_settings.value(SettingKeys::supabaseAnonKey);

    setSupabaseURL(normalisedAddress(m_supabaseURL));
    setAnonKey(normalisedKey(m_anonKey));

    if (m_supabaseURL != previousURL || m_anonKey != previousKey)
        discardBackendState();

    m_usesManualCloudConfiguration = true;
    m_settings.set(SettingKeys::manualCloudConfigurationEnabled, true);
    m_settings.set(SettingKeys::supabaseURL, m_supabaseURL);
    m_settings.set(SettingKeys::supabaseAnonKey, m_anonKey);
    setShowingCloudSettings(false);

    // Runs on by itself; the sheet closes at once.
    prepareConnection();
}

QCoro::Task<> AppModel::prepareConnection()
{
    try {
        co_await ensureSession();
    } catch (const std::exception &error) {
        handle(error);
        co_return;
    }
    co_await refreshPairing();
}
