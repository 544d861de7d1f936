#include "app/AppModel.h"

#include "core/CompanionError.h"
#include "transfer/FileNaming.h"
#include "transfer/IncomingDocument.h"

#include <QDir>

AppModel::Destination AppModel::uniqueDestination(const QString &originalName, const DocumentDigest &digest) const
{
    const QDir folder(m_targetFolder.toLocalFile());
    const FileNaming::NameParts parts = FileNaming::splitName(FileNaming::cleanName(originalName));
    for (int number = 1;; ++number) {
        const QString path = folder.filePath(FileNaming::candidateName(parts, number));
        if (!pathIsOccupied(path))
            return {path, false};
        if (fileHoldsDigest(path, digest.size, digest.sha256))
            return {path, true};
    }
}

void AppModel::validateDocument(const QByteArray &leadingBytes, const QString &originalName)
{
    const bool isPDF = leadingBytes.startsWith(QByteArrayLiteral("%PDF-"));
    const bool isJPEG = leadingBytes.startsWith(QByteArrayLiteral("\xFF\xD8\xFF"));
    const bool wantsPDF = originalName.toLower().endsWith(QLatin1String(".pdf"));
    if (wantsPDF ? !isPDF : !isJPEG)
        throw CompanionError::server(QStringLiteral("İndirilen evrak doğrulanamadı; dosya kaydedilmedi."));
}
