#include "cloud/CloudSettings.h"

#include "cloud/CloudConfiguration.h"
#include "cloud/Exchange.h"

#include <QNetworkRequest>

namespace {

constexpr std::chrono::milliseconds officialDocumentTimeout{15000};

} // namespace

CloudSettings::CloudSettings(HttpClient &http, Settings &settings, QString siteOrigin)
    : m_http(http)
    , m_settings(settings)
    , m_siteOrigin(std::move(siteOrigin))
    , m_usesManual(settings.value(SettingKeys::manualCloudConfigurationEnabled))
{
}

std::optional<Backend> CloudSettings::manualBackend()
{
    if (!m_usesManual)
        return std::nullopt;
    const Backend saved = savedManual();
    if (isValidCloudConfiguration(saved.url, saved.key))
        return saved;
    // The stored texts stay; only the switch goes, so the official source is used again.
    m_usesManual = false;
    m_settings.set(SettingKeys::manualCloudConfigurationEnabled, false);
    return std::nullopt;
}

Backend CloudSettings::savedManual() const
{
    return Backend{
        m_settings.value(SettingKeys::supabaseURL), m_settings.value(SettingKeys::supabaseAnonKey)};
}

void CloudSettings::saveManual(const Backend &backend)
{
    m_usesManual = true;
    m_settings.set(SettingKeys::manualCloudConfigurationEnabled, true);
    m_settings.set(SettingKeys::supabaseURL, backend.url);
    m_settings.set(SettingKeys::supabaseAnonKey, backend.key);
}

QCoro::Task<std::optional<Backend>> CloudSettings::fetchOfficial()
{
    std::optional<CloudConfiguration> document;
    try {
        QNetworkRequest request(QUrl(m_siteOrigin + QStringLiteral("/config/cloud.json")));
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setRawHeader("Accept", "application/json");
        const HttpAnswer answer
            = co_await fetchAnswer(m_http, request, "GET", QByteArray(), officialDocumentTimeout);
        if (answer.status >= 200 && answer.status <= 299)
            document = CloudConfiguration::fromJson(answer.body);
    } catch (const std::exception &) {
        // Silent: this runs in the background at every start, and the caller falls back.
    }
    if (!document || !isValidCloudConfiguration(document->supabaseUrl, document->supabaseAnonKey))
        co_return std::nullopt;

    // Cached as received, before normalisation.
    m_settings.set(SettingKeys::cachedOfficialSupabaseURL, document->supabaseUrl);
    m_settings.set(SettingKeys::cachedOfficialSupabaseAnonKey, document->supabaseAnonKey);
    m_settings.set(SettingKeys::officialCloudConfigurationRevision, document->revision);
    co_return Backend{document->supabaseUrl, document->supabaseAnonKey};
}

std::optional<Backend> CloudSettings::cachedOfficial() const
{
    const Backend cached{m_settings.value(SettingKeys::cachedOfficialSupabaseURL),
        m_settings.value(SettingKeys::cachedOfficialSupabaseAnonKey)};
    if (!isValidCloudConfiguration(cached.url, cached.key))
        return std::nullopt;
    return cached;
}
