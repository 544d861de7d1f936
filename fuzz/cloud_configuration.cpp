#include "cloud/CloudConfiguration.h"
#include "fuzz/FuzzCheck.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto configuration = CloudConfiguration::fromJson(json);
    if (configuration) {
        const QJsonObject object = QJsonDocument::fromJson(json).object();
        FUZZ_CHECK(object.value(QLatin1String("supabaseUrl")).toString() == configuration->supabaseUrl);
        FUZZ_CHECK(double(configuration->revision) == object.value(QLatin1String("revision")).toDouble());
        isValidCloudConfiguration(configuration->supabaseUrl, configuration->supabaseAnonKey);
    }
    // The validity check takes any two texts.
    const qsizetype half = json.size() / 2;
    isValidCloudConfiguration(QString::fromUtf8(json.left(half)), QString::fromUtf8(json.mid(half)));
    return 0;
}
