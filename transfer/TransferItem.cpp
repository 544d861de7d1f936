#include "transfer/TransferItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

std::optional<QList<TransferItem>> TransferItem::listFromJson(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<TransferItem> items;
    for (const QJsonValue element : document.array()) {
        const QJsonObject row = element.toObject();
        const QJsonValue id = row.value(QLatin1String("id"));
        const QJsonValue path = row.value(QLatin1String("storage_path"));
        const QJsonValue name = row.value(QLatin1String("original_filename"));
        if (!element.isObject() || !id.isString() || !path.isString() || !name.isString())
            return std::nullopt;
        items.append({id.toString(), path.toString(), name.toString()});
    }
    return items;
}
