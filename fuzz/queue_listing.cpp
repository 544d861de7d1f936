#include "fuzz/FuzzCheck.h"
#include "transfer/TransferItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The listing either decodes whole or not at all; a decoded list has one item per array element and
// re-encoding it decodes to the same rows.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto items = TransferItem::listFromJson(json);
    if (!items)
        return 0;
    FUZZ_CHECK(QJsonDocument::fromJson(json).array().size() == items->size());
    QJsonArray again;
    for (const TransferItem &item : *items)
        again.append(
            QJsonObject{{QStringLiteral("id"), item.id}, {QStringLiteral("storage_path"), item.storage_path},
                {QStringLiteral("original_filename"), item.original_filename}});
    const auto reread = TransferItem::listFromJson(QJsonDocument(again).toJson(QJsonDocument::Compact));
    FUZZ_CHECK(reread && reread->size() == items->size());
    for (qsizetype i = 0; i < items->size(); ++i)
        FUZZ_CHECK(reread->at(i).id == items->at(i).id
            && reread->at(i).storage_path == items->at(i).storage_path
            && reread->at(i).original_filename == items->at(i).original_filename);
    return 0;
}
