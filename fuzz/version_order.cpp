#include "fuzz/FuzzCheck.h"
#include "update/VersionOrder.h"

#include <QStringList>

namespace {

int sign(int value) { return (value > 0) - (value < 0); }

} // namespace

// Three version texts, split at NUL bytes; the comparison must be a total order on them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> parts = input.split('\0');
    while (parts.size() < 3)
        parts.append(QByteArray());
    const QString a = QString::fromUtf8(parts[0]);
    const QString b = QString::fromUtf8(parts[1]);
    const QString c = QString::fromUtf8(parts[2]);

    FUZZ_CHECK(compareVersions(a, a) == 0);
    const int ab = sign(compareVersions(a, b));
    const int bc = sign(compareVersions(b, c));
    const int ac = sign(compareVersions(a, c));
    FUZZ_CHECK(ab == -sign(compareVersions(b, a)));
    FUZZ_CHECK(bc == -sign(compareVersions(c, b)));
    FUZZ_CHECK(ac == -sign(compareVersions(c, a)));
    // Transitivity, equality included.
    if (ab <= 0 && bc <= 0)
        FUZZ_CHECK(ac <= 0 && (ac < 0 || (ab == 0 && bc == 0)));
    if (ab >= 0 && bc >= 0)
        FUZZ_CHECK(ac >= 0 && (ac > 0 || (ab == 0 && bc == 0)));
    if (ab == 0)
        FUZZ_CHECK(ac == bc);
    return 0;
}
