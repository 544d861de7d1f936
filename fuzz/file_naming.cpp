#include "fuzz/FuzzCheck.h"
#include "transfer/FileNaming.h"

#include <cstring>

// The phone's name as raw UTF-16 code units (lone surrogates included, as a JSON "\ud800" escape
// yields them), the first byte picking the collision number.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int number = 1 + data[0] % 16 + (data[0] >= 250 ? 1'000'000'000 : 0);
    QString original((qsizetype(size) - 1) / 2, Qt::Uninitialized);
    if (!original.isEmpty())
        std::memcpy(original.data(), data + 1, size_t(original.size()) * 2);

    const FileNaming::NameParts parts = FileNaming::splitName(FileNaming::cleanName(original));
    const QString name = FileNaming::candidateName(parts, number);
    const QByteArray bytes = name.toUtf8();

    // One path component the file system takes as it is.
    FUZZ_CHECK(!name.isEmpty() && !name.startsWith(u'.')); // never hidden, never like our temporary files
    FUZZ_CHECK(!bytes.contains('/') && !bytes.contains('\0'));
    FUZZ_CHECK(bytes.size() <= FileNaming::maxNameBytes);
    FUZZ_CHECK(QString::fromUtf8(bytes) == name); // nothing is lost on the way to the disk
    // The extension survives (shortened only when absurdly long); a missing one becomes jpg.
    FUZZ_CHECK(name.endsWith(u'.' + parts.extension) || parts.extension.toUtf8().size() > 32);
    const QString lower = original.toLower();
    if (lower.endsWith(QLatin1String(".pdf")))
        FUZZ_CHECK(name.toLower().endsWith(QLatin1String(".pdf")));
    if (!original.contains(u'.') || original.endsWith(u'.'))
        FUZZ_CHECK(name.endsWith(QLatin1String(".jpg")));
    // The same input gives the same name. (Shortened candidates may repeat each other, a base cut
    // just after its own "_2"; the occupancy check then moves on to the next number.)
    FUZZ_CHECK(
        FileNaming::candidateName(FileNaming::splitName(FileNaming::cleanName(original)), number) == name);
    return 0;
}
