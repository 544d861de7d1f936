#include "cloud/CloudSession.h"
#include "core/CompanionError.h"
#include "fuzz/FuzzCheck.h"
#include "platform/PlatformError.h"

// A stored session that reads back is written again to the same session (to the millisecond it is
// stored with); a sign-up answer either reads or throws the program's errors.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto session = CloudSession::fromJson(json)) {
        const auto again = CloudSession::fromJson(session->toJson());
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(*again == *session);
    }
    try {
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'000LL, Qt::UTC);
        const CloudSession answer = CloudSession::fromAuthResponse(json, now);
        FUZZ_CHECK(answer.expiresAt.isValid());
    } catch (const CompanionError &) {
    } catch (const PlatformError &) {
    }
    return 0;
}
