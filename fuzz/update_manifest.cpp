#include "fuzz/FuzzCheck.h"
#include "update/DesktopUpdateManifest.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto manifest = DesktopUpdateManifest::fromJson(json);
    if (!manifest)
        return 0;
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    FUZZ_CHECK(object.value(QLatin1String("version")).toString() == manifest->version);
    return 0;
}
