#include "fuzz/FuzzCheck.h"
#include "update/VersionOrder.h"

#include <QStringList>

// Three version texts, split at NUL bytes; the comparison must be a total order on them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts
        = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    QString v[3];
    for (int i = 0; i < 3; ++i)
        v[i] = QString::fromUtf8(parts.value(i));
    const auto order = [&](int i, int j) {
        const int c = compareVersions(v[i], v[j]);
        return (c > 0) - (c < 0);
    };

    FUZZ_CHECK(order(0, 0) == 0);
    const int ab = order(0, 1), bc = order(1, 2), ac = order(0, 2);
    FUZZ_CHECK(ab == -order(1, 0) && bc == -order(2, 1) && ac == -order(2, 0));
    // Transitivity, equality included.
    if (ab <= 0 && bc <= 0)
        FUZZ_CHECK(ac <= 0 && (ac < 0 || (ab == 0 && bc == 0)));
    if (ab >= 0 && bc >= 0)
        FUZZ_CHECK(ac >= 0 && (ac > 0 || (ab == 0 && bc == 0)));
    if (ab == 0)
        FUZZ_CHECK(ac == bc);
    return 0;
}
