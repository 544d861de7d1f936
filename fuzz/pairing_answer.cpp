#include "fuzz/FuzzCheck.h"
#include "pairing/PairingResponse.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto pairing = PairingResponse::fromJson(json);
    if (!pairing)
        return 0;
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    FUZZ_CHECK(object.value(QLatin1String("code")).toString() == pairing->code);
    FUZZ_CHECK(object.value(QLatin1String("qrText")).toString() == pairing->qrText);
    return 0;
}
