#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <optional>

// The top-level object of a JSON answer. Throws PlatformError with the parser's message for text
// that is not JSON, and CompanionError::invalidResponse for JSON whose top level is not an object.
QJsonObject parseJsonObject(const QByteArray &json);

// The same for records that only decode or do not: nothing for anything but a JSON object.
std::optional<QJsonObject> jsonObject(const QByteArray &json);

// The object as one line of JSON, as every request body and stored record is written.
QByteArray compactJson(const QJsonObject &object);
