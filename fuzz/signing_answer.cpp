#include "core/CompanionError.h"
#include "fuzz/FuzzCheck.h"
#include "platform/PlatformError.h"
#include "transfer/SignedLink.h"

// Whatever the answer, the reader either throws one of the program's errors or yields a link, and
// the address made of it is never anything but http or https.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    QString link;
    try {
        link = signedLink(answer);
    } catch (const CompanionError &) {
        return 0;
    } catch (const PlatformError &) {
        return 0;
    }
    try {
        const QUrl address = downloadAddress(link, QStringLiteral("https://backend.example"));
        FUZZ_CHECK(address.scheme() == QLatin1String("https") || address.scheme() == QLatin1String("http"));
        FUZZ_CHECK(address.isValid());
    } catch (const CompanionError &) {
    }
    return 0;
}
