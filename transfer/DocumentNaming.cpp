#include "transfer/DocumentNaming.h"

#include "core/CompanionError.h"
#include "core/Sha256.h"
#include "transfer/FileNaming.h"
#include "transfer/FileSystem.h"

#include <QDir>
#include <QFile>

Destination uniqueDestination(
    const QString &folder, const QString &originalName, const DocumentDigest &digest)
{
    const QDir dir(folder);
    const FileNaming::NameParts parts = FileNaming::splitName(FileNaming::cleanName(originalName));
    for (int number = 1;; ++number) {
        const QString path = dir.filePath(FileNaming::candidateName(parts, number));
        if (!FileSystem::isOccupied(path))
            return {path, false};
        if (fileHoldsDigest(path, digest.size, digest.sha256))
            return {path, true};
    }
}

void validateDocument(const QByteArray &leadingBytes, const QString &originalName)
{
    const bool isPDF = leadingBytes.startsWith(QByteArrayLiteral("%PDF-"));
    const bool isJPEG = leadingBytes.startsWith(QByteArrayLiteral("\xFF\xD8\xFF"));
    const bool wantsPDF = originalName.toLower().endsWith(QLatin1String(".pdf"));
    if (wantsPDF ? !isPDF : !isJPEG)
        throw CompanionError::server(QStringLiteral("İndirilen evrak doğrulanamadı; dosya kaydedilmedi."));
}

bool fileHoldsDigest(const QString &path, qint64 size, const QByteArray &sha256)
{
    if (FileSystem::regularFileSize(path) != size)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Sha256 hash;
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
        return false;
    return hash.result() == sha256;
}
