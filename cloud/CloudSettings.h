#pragma once

#include "cloud/Backend.h"
#include "core/Settings.h"
#include "platform/HttpClient.h"

#include <QCoro/QCoroTask>
#include <QString>

#include <optional>

// Where the backend's address and key come from besides the values built in: the user's own
// settings, the official configuration document of the product web site, and the cached copy of the
// last document applied. Values are handed out as they were stored or received; the caller
// normalises them when it applies them.
class CloudSettings
{
public:
    CloudSettings(HttpClient &http, Settings &settings, QString siteOrigin);

    // Whether the user's settings take precedence. Read once at creation, kept in step since.
    bool usesManual() const { return m_usesManual; }
    // The user's saved backend, when the switch is on and the saved values are valid. Saved values
    // that are not valid switch it off (and it is stored off); the values themselves stay stored.
    std::optional<Backend> manualBackend();
    // The values the user saved last, valid or not (empty when never saved).
    Backend savedManual() const;
    // Stores the user's values and switches them on.
    void saveManual(const Backend &backend);

    // The official document's values when the site answers with a valid one within 15 seconds;
    // they are also cached, with the document's revision. Nothing, silently, on any failure.
    QCoro::Task<std::optional<Backend>> fetchOfficial();
    // The cached values of the last official document applied, when they are valid.
    std::optional<Backend> cachedOfficial() const;

private:
    HttpClient &m_http;
    Settings &m_settings;
    QString m_siteOrigin;
    bool m_usesManual = false;
};
