#include "update/VersionOrder.h"

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Compares the digit runs as numbers of any length: without their leading zeros, the longer run is
// the larger number, and runs of equal length compare digit by digit.
int compareDigitRuns(QStringView left, QStringView right)
{
    auto stripZeros = [](QStringView run) {
        qsizetype start = 0;
        while (start < run.size() && run[start] == QLatin1Char('0'))
            ++start;
        return run.mid(start);
    };
    const QStringView a = stripZeros(left);
    const QStringView b = stripZeros(right);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
}

} // namespace

int compareVersions(const QString &left, const QString &right)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < left.size() && j < right.size()) {
        if (isAsciiDigit(left[i]) && isAsciiDigit(right[j])) {
            const qsizetype runStartLeft = i;
            const qsizetype runStartRight = j;
            while (i < left.size() && isAsciiDigit(left[i]))
                ++i;
            while (j < right.size() && isAsciiDigit(right[j]))
                ++j;
            const int order = compareDigitRuns(QStringView(left).mid(runStartLeft, i - runStartLeft),
                QStringView(right).mid(runStartRight, j - runStartRight));
            if (order != 0)
                return order;
            continue;
        }
        if (left[i] != right[j])
            return left[i].unicode() < right[j].unicode() ? -1 : 1;
        ++i;
        ++j;
    }
    const bool leftDone = i >= left.size();
    const bool rightDone = j >= right.size();
    if (leftDone && rightDone)
        return 0;
    return leftDone ? -1 : 1;
}
