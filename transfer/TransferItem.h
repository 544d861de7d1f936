#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One pending row of the backend's transfer queue.
struct TransferItem {
    QString id;
    QString storage_path;
    QString original_filename;

    // The listing answer: a JSON array of objects with the three keys as JSON strings. Nothing when
    // any element does not decode.
    static std::optional<QList<TransferItem>> listFromJson(const QByteArray &json);
};
