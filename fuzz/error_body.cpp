#include "cloud/BackendError.h"
#include "fuzz/FuzzCheck.h"

#include <cstring>

// The first two bytes pick the status; the rest is the body. The meant status is the answer's own
// or, for a 400, an error status from the body, and the error always carries some text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int status = 100 + (data[0] << 8 | data[1]) % 500;
    const QByteArray body(reinterpret_cast<const char *>(data + 2), qsizetype(size - 2));
    const int meant = answerStatus(status, body);
    FUZZ_CHECK(meant == status || (status == 400 && meant >= 400 && meant <= 599));
    const CompanionError error = backendError(status, body);
    FUZZ_CHECK(error.httpStatus() == meant || error.httpStatus() == status);
    return 0;
}
